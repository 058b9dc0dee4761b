// The JSON messages of the transfer API. Encoding is compact, member names are the field names, and
// an absent optional is left out (never null). Decoding ignores unknown members, accepts a missing or
// null optional, and fails on a missing required member or a member of the wrong type; the failure
// text is what the server reports to the client.
//
//   auto request = decodeMessage<TransferPreflightBatchRequest>(body);
//   if (!request) return refusalResponse(UndecodableBody{request.error()});
#pragma once

#include "server/Expected.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferrylantern {

struct TransferInfoResponse
{
    std::string name;
    std::string platform = "macos";
    int protocolVersion = 1;
    int apiVersion = 1;
    std::vector<std::string> capabilities{"upload", "upload-preflight", "pin"};
    bool pinRequired = false;
    std::optional<bool> pinAuthorized; // only when pinRequired
};

struct TransferPINVerifyRequest
{
    std::string pin;
};

struct TransferPINVerifyResponse
{
    bool ok = false;
    std::optional<std::string> sessionToken;
};

struct TransferUploadPreflightResponse
{
    bool approved = true;
    std::string uploadId;
};

struct TransferPreflightBatchFileItem
{
    std::string filename;
    std::int64_t byteCount = 0;
    // The folders the file came in, relative to what was picked or dropped ("Trip/Day 1"); the upload
    // names the same in its query parameter "path".
    std::optional<std::string> path;
};

struct TransferPreflightBatchRequest
{
    std::optional<std::string> device;
    std::vector<TransferPreflightBatchFileItem> files;
};

struct TransferPreflightBatchResultItem
{
    std::string uploadId;
    std::string filename;
};

struct TransferUploadPreflightBatchResponse
{
    bool approved = true;
    std::vector<TransferPreflightBatchResultItem> items;
};

struct TransferUploadResponse
{
    std::string id;
    std::string fileName;
    std::int64_t byteCount = 0;
    std::string savedPath;
    std::string deviceFolder;
    std::optional<std::string> path; // the folders below the device folder, when the upload named any
};

// Where a resumable upload stands (GET "/v1/upload/resume"): the bytes on disk of the whole file; once
// the file is saved, also the name it was saved under and its device folder.
struct TransferUploadResumeResponse
{
    std::string uploadId;
    std::int64_t offset = 0;
    std::int64_t byteCount = 0;
    std::optional<std::string> fileName;
    std::optional<std::string> deviceFolder;
};

// A slice of an upload was written and the file is not complete yet: the next slice starts at offset.
struct TransferUploadSliceResponse
{
    std::string uploadId;
    std::int64_t offset = 0;
};

// A slice whose offset is not the count of bytes on disk (409): where the next one must start.
struct TransferUploadOffsetResponse
{
    std::int64_t offset = 0;
};

// Why there is nothing to resume (404).
struct TransferUploadResumeError
{
    std::string error;
};

// POST "/v1/upload/cancel": the upload is cancelled and its partial file removed.
struct TransferUploadCancelResponse
{
    std::string uploadId;
    bool cancelled = true;
};

// POST "/v1/text": a text from the phone, with the device name as a batch preflight takes it.
struct TransferTextRequest
{
    std::string text;
    std::optional<std::string> device;
};

struct TransferTextResponse
{
    std::string id; // the received text's record id
    std::int64_t byteCount = 0;
    std::string deviceFolder;
};

// One entry of GET "/v1/shared": a file (`name`, no `text`) or a text (`text`, no `name`).
struct TransferSharedItem
{
    std::string id;
    std::string kind; // "file" or "text"
    std::optional<std::string> name;
    std::int64_t byteCount = 0;
    std::optional<std::string> text;
};

struct TransferSharedListResponse
{
    std::vector<TransferSharedItem> items;
};

#define FERRYLANTERN_DECLARE_JSON(Type)                                                                                \
    void to_json(nlohmann::json& json, const Type& value);                                                             \
    void from_json(const nlohmann::json& json, Type& value);

FERRYLANTERN_DECLARE_JSON(TransferInfoResponse)
FERRYLANTERN_DECLARE_JSON(TransferPINVerifyRequest)
FERRYLANTERN_DECLARE_JSON(TransferPINVerifyResponse)
FERRYLANTERN_DECLARE_JSON(TransferUploadPreflightResponse)
FERRYLANTERN_DECLARE_JSON(TransferPreflightBatchFileItem)
FERRYLANTERN_DECLARE_JSON(TransferPreflightBatchRequest)
FERRYLANTERN_DECLARE_JSON(TransferPreflightBatchResultItem)
FERRYLANTERN_DECLARE_JSON(TransferUploadPreflightBatchResponse)
FERRYLANTERN_DECLARE_JSON(TransferUploadResponse)
FERRYLANTERN_DECLARE_JSON(TransferUploadResumeResponse)
FERRYLANTERN_DECLARE_JSON(TransferUploadSliceResponse)
FERRYLANTERN_DECLARE_JSON(TransferUploadOffsetResponse)
FERRYLANTERN_DECLARE_JSON(TransferUploadResumeError)
FERRYLANTERN_DECLARE_JSON(TransferUploadCancelResponse)
FERRYLANTERN_DECLARE_JSON(TransferTextRequest)
FERRYLANTERN_DECLARE_JSON(TransferTextResponse)
FERRYLANTERN_DECLARE_JSON(TransferSharedItem)
FERRYLANTERN_DECLARE_JSON(TransferSharedListResponse)

#undef FERRYLANTERN_DECLARE_JSON

// Decodes a message from JSON text. The error is the decoder's description of what was wrong, an
// empty text included.
template <typename Message>
Expected<Message, std::string> decodeMessage(std::string_view text)
{
    try {
        return nlohmann::json::parse(text).get<Message>();
    } catch (const nlohmann::json::exception& error) {
        return Unexpected{std::string(error.what())};
    }
}

} // namespace ferrylantern
