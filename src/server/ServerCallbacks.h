// What crosses from the transfer server to its owner: the records of questions, finished files and
// received texts, the progress events of uploads and of downloads of shared files, and the callbacks
// through which the server hands them over.
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
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace ferrylantern {

// What a receive question is about.
enum class ReceiveKind
{
    file,
    text, // a text sent from the page; `fileName` holds the start of its first line
};

// One question whether a file (or a text) may be received.
struct ReceiveConfirmationRequest
{
    Uuid uploadID;        // the ticket id a preflight will issue, an upload's own id, or a text's request id
    std::string fileName; // as the sender gave it, trimmed; not the safe name
    std::string deviceFolder;
    std::int64_t byteCount = 0;
    ReceiveKind kind = ReceiveKind::file;

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

// One finished file. The owner's list of finished transfers keeps received texts as records too.
struct ReceivedFileRecord
{
    Uuid id;              // made for the record; neither the ticket id nor the upload id
    std::string fileName; // last path component of the saved file
    std::int64_t byteCount = 0;
    std::chrono::system_clock::time_point receivedAt;
    std::filesystem::path fileURL; // save folder / device folder / file name
    std::string deviceFolder;
    // Never set by the server. In the owner's list: a received text (ReceivedTextRecord) in place of
    // a file, with an empty fileName and fileURL and its UTF-8 length as byteCount.
    std::optional<std::string> text = std::nullopt;

    bool operator==(const ReceivedFileRecord&) const = default;
};

// One text received from a phone, kept whole (at most 64 KiB of UTF-8).
struct ReceivedTextRecord
{
    Uuid id; // made for the record
    std::string text;
    std::chrono::system_clock::time_point receivedAt;
    std::string deviceFolder; // the sender, named as for its files

    bool operator==(const ReceivedTextRecord&) const = default;
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

// Progress of one download of a shared file (one GET of its bytes), in the same order as an upload's.
struct DownloadStarted
{
    Uuid id;      // the download's own id; cancelUpload(id) ends it
    Uuid shareID; // the shared item being downloaded
    std::string fileName;
    std::string deviceFolder;    // who downloads, named as for uploads
    std::int64_t totalBytes = 0; // the bytes of this answer: the whole file or the range asked for
    bool operator==(const DownloadStarted&) const = default;
};
struct DownloadUpdated
{
    Uuid id;
    std::int64_t bytesSent = 0;
    bool operator==(const DownloadUpdated&) const = default;
};
struct DownloadFinished
{
    Uuid id;
    bool operator==(const DownloadFinished&) const = default;
};
struct DownloadFailed
{
    Uuid id;
    bool operator==(const DownloadFailed&) const = default;
};
using TransferDownloadProgressEvent = std::variant<DownloadStarted, DownloadUpdated, DownloadFinished, DownloadFailed>;

Uuid downloadID(const TransferDownloadProgressEvent& event);

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
    // Optional: a text was received (after the desktop user agreed, when confirmation is on), on the
    // request's worker thread before the answer is written.
    std::function<void(const ReceivedTextRecord&)> onTextReceived;
    // Optional: progress of downloads of shared files, on the download's worker thread.
    std::function<void(const TransferDownloadProgressEvent&)> onDownloadProgress;
    // Optional: a shared file was found gone from its place (true), or there again (false), on the
    // worker thread that looked.
    std::function<void(const Uuid& shareID, bool missing)> onSharedFileMissingChanged;
};

} // namespace ferrylantern
