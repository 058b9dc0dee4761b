// What crosses from the transfer server to its owner: the records of questions and finished files,
// the progress events, and the five callbacks through which the server hands them over.
//
// The three question callbacks are asynchronous. The server calls them on the request's worker
// thread, with none of its locks held, and then blocks that thread until the owner resumes the reply
// it was given, exactly once, from any thread (normally the owner's GUI thread after the user
// answered). There is no time limit.
#pragma once

#include "server/OneShotReply.h"
#include "server/Uuid.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace ferrylantern {

// One question whether a file may be received.
struct ReceiveConfirmationRequest
{
    Uuid uploadID;        // the ticket id a preflight will issue, or an upload's own id
    std::string fileName; // as the sender gave it, trimmed; not the safe name
    std::string deviceFolder;
    std::int64_t byteCount = 0;

    bool operator==(const ReceiveConfirmationRequest&) const = default;
};

enum class DuplicateFileResolution
{
    overwrite, // replace the existing file
    keepCopy,  // save under the first free copy name
    cancel,    // do not save
};

// One question what to do with a file whose name exists already.
struct DuplicateFileRequest
{
    Uuid uploadID;        // the upload's id, as in its progress events
    std::string fileName; // the safe name the file would be saved under
    std::string deviceFolder;
    std::string existingFilePath;

    bool operator==(const DuplicateFileRequest&) const = default;
};

// One finished file.
struct ReceivedFileRecord
{
    Uuid id;              // made for the record; neither the ticket id nor the upload id
    std::string fileName; // last path component of the saved file
    std::int64_t byteCount = 0;
    std::chrono::system_clock::time_point receivedAt;
    std::filesystem::path fileURL; // save folder / device folder / file name
    std::string deviceFolder;

    bool operator==(const ReceivedFileRecord&) const = default;
};

// Progress of one upload, in the order started, updated…, finished, or failed from any point.
struct UploadStarted
{
    Uuid id;
    std::string fileName; // as the client gave it, not the safe name
    std::string deviceFolder;
    std::int64_t totalBytes = 0;
    bool operator==(const UploadStarted&) const = default;
};
struct UploadUpdated
{
    Uuid id;
    std::int64_t bytesReceived = 0;
    bool operator==(const UploadUpdated&) const = default;
};
struct UploadFinished
{
    Uuid id;
    bool operator==(const UploadFinished&) const = default;
};
struct UploadFailed
{
    Uuid id;
    bool operator==(const UploadFailed&) const = default;
};
using TransferUploadProgressEvent = std::variant<UploadStarted, UploadUpdated, UploadFinished, UploadFailed>;

// The upload id an event belongs to.
Uuid uploadID(const TransferUploadProgressEvent& event);

struct TransferServerCallbacks
{
    // Once per saved file, on the upload's worker thread, after the file is closed and before the
    // answer is written. Required.
    std::function<void(const ReceivedFileRecord&)> onFileReceived;
    // On the upload's worker thread. Optional.
    std::function<void(const TransferUploadProgressEvent&)> onUploadProgress;
    // Optional; without it a question counts as consent.
    std::function<void(const ReceiveConfirmationRequest&, OneShotReply<bool>)> confirmBeforeSave;
    // Optional; the requests in the order of the batch. Without it the batch counts as consented.
    std::function<void(const std::vector<ReceiveConfirmationRequest>&, OneShotReply<bool>)> confirmBatchBeforeSave;
    // Optional; without it a same-name file is kept and the new one saved as a copy.
    std::function<void(const DuplicateFileRequest&, OneShotReply<DuplicateFileResolution>)> resolveDuplicateFile;
    // Optional: wrong PINs from anywhere used up what all addresses may try, so every PIN
    // verification is held back for the given time; someone is guessing. On the worker thread.
    std::function<void(std::chrono::seconds)> onPINGuessing;
};

} // namespace ferrylantern
