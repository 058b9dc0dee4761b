// Why the server refuses a request, and the one place that turns each reason into its answer: the
// status, the text and any extra header field. No endpoint chooses a refusal's status itself.
//
//   if (fileName.empty()) {
//       return refusalResponse(RequestRefusal::missingFileName);
//   }
#pragma once

#include "server/HttpResponse.h"
#include "server/SocketHTTPError.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>
#include <variant>

namespace ferrylantern {

// Refusals that the request itself earns, whichever endpoint notices them.
enum class RequestRefusal
{
    malformedHead,        // the head could not be read or parsed
    unknownRoute,         // no endpoint for this method and path
    sessionRequired,      // the PIN gate is on and the request carries no valid session token
    pinRequestTooLarge,   // a PIN verification body over its size limit
    invalidPINRequest,    // a PIN verification body that could not be read or decoded
    wrongPIN,             // the PIN does not match
    missingFileName,      // a single preflight without a file name
    missingByteCount,     // a single preflight without a decimal byte count
    invalidFileSize,      // a file size below one byte or above the largest upload
    invalidFileName,      // a batch file whose name is blank
    batchRequestTooLarge, // a batch preflight body over its size limit
    noFiles,              // a batch of no files
    tooManyFiles,         // a batch of more files than one batch may hold
    batchTooLarge,        // a batch whose files together exceed the largest upload
    declined,             // the desktop user said no
    unencodableAnswer,    // the answer could not be encoded as JSON
    // Refusals of a server on a hostile network:
    serverBusy,     // the server or this client address has as many connections as it may
    notReceiving,   // receiving was switched off before the head of this request arrived
    misdirected,    // the Host names another machine (a DNS-rebinding page, for one)
    crossSite,      // a POST from a page of another origin
    tooManyTickets, // this client holds as many unused upload tickets as it may
    // Refusals of slices and resumed uploads:
    invalidOffset,           // an offset that is not a decimal count of bytes
    sliceBeyondFile,         // a slice that would run past the end of its file
    tooManyResumableUploads, // this client has as many resumable uploads kept as it may
    // Refusals of texts from the phone and of shared items:
    textTooLong,          // a text, or its request body, over what a text may hold
    textNotUTF8,          // a text request whose bytes are not UTF-8
    invalidTextRequest,   // a text request that is not JSON with a "text" string
    emptyText,            // a text of nothing but white space
    unknownShare,         // no shared file under this id (never shared, removed, or a text)
    sharedFileMissing,    // the shared file is no longer where it was shared from
    sharedFileUnreadable, // the shared file is there but cannot be opened
};

// Wrong PINs from this client locked it out; it may try again after `retryAfter`.
struct PINLockout
{
    std::chrono::seconds retryAfter;
};

// A JSON body the decoder refused, with the decoder's own text (which may quote the body).
struct UndecodableBody
{
    std::string decoderText;
};

// A Range of which no part lies within the file's `fileSize` bytes.
struct UnsatisfiableRange
{
    std::int64_t fileSize = 0;
};

// Why an upload failed once it had passed its session check: one of the server's own failures or
// the file system's.
using UploadFailure = std::variant<SocketHTTPError, std::error_code>;

// An upload that failed after its session check; its partial file is gone and `failed` was reported.
struct FailedUpload
{
    UploadFailure cause;
};

// A SocketHTTPError on its own is a failure met before any upload started: a preflight's, or an
// upload's while it was being accepted.
using Refusal =
    std::variant<RequestRefusal, PINLockout, SocketHTTPError, UndecodableBody, FailedUpload, UnsatisfiableRange>;

// The answer to a refused request.
[[nodiscard]] HttpResponse refusalResponse(const Refusal& refusal);

// The refusal after the desktop user answered a question with no: `uploadCancelled` when the
// desktop cancelled the request while it waited, else `declined`.
inline Refusal declinedRefusal(bool cancelledWhileAsking)
{
    return cancelledWhileAsking ? Refusal{SocketHTTPError::uploadCancelled} : Refusal{RequestRefusal::declined};
}

} // namespace ferrylantern
