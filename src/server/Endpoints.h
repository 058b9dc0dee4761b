// The request handlers behind the route table. The endpoints that need no streaming are functions
// from a request to a response, so they run without a socket; the upload streams its body and
// answers on the connection itself. Every refusal goes through refusalResponse().
//
//   // `body` is any RequestBody: the router's reads the socket, a test's holds bytes.
//   HttpResponse answer = answerPINVerify(context, {head, body, "192.168.1.20"});
#pragma once

#include "server/Expected.h"
#include "server/HttpResponse.h"
#include "server/SocketHTTPError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern {

class Connection;
class ServerContext;
struct RequestHead;

// Limits of the wire contract.
inline constexpr std::int64_t maxPINRequestBytes = 4096;
inline constexpr std::int64_t maxBatchRequestBytes = 262144;
inline constexpr std::size_t maxBatchFiles = 500;
inline constexpr std::int64_t maxFileBytes = 107374182400; // 100 GiB, for one file and for a batch
// A text request's body: 64 KiB of text can take six times as many bytes as JSON ("\u0001" for each
// control character), plus the device name and the rest of the object.
inline constexpr std::int64_t maxTextRequestBytes = 6 * 65536 + 4096;

// The routes of the shared items: the list, and each item's bytes under "/v1/shared/" + its id.
inline constexpr std::string_view sharedListPath = "/v1/shared";
inline constexpr std::string_view sharedItemPathPrefix = "/v1/shared/";

// The body of a request as an endpoint that needs no streaming sees it: nothing is read until the
// endpoint asks, so it can refuse from the head alone first. A body the endpoint does not read is
// never read in full: the answer goes out first.
class RequestBody
{
public:
    virtual ~RequestBody() = default;
    // The whole announced body. Fails with incompleteBody when the stream ends, fails or stays silent
    // before Content-Length bytes arrived. Called at most once.
    [[nodiscard]] virtual Expected<std::string, SocketHTTPError> read() = 0;
};

// One request to an endpoint that needs no streaming.
struct BufferedRequest
{
    const RequestHead& head;
    RequestBody& body;
    // Device folders and the PIN attempt limit go by it.
    std::optional<std::string> peerIPv4Address;
    // The socket that cancelling the request from the desktop shuts down; -1 when there is none.
    int cancellableFD = -1;
    // Whether the client has hung up, so a question asked for it can be withdrawn; empty when there
    // is no connection to watch.
    std::function<bool()> clientHasGone;
};

// GET "/v1/info": name, platform, protocol and API versions, capabilities and the PIN state.
HttpResponse answerInfo(ServerContext& context, const RequestHead& head);

// POST "/v1/pin/verify": checks a PIN and issues a session token, with wrong attempts limited per
// client address.
HttpResponse answerPINVerify(ServerContext& context, const BufferedRequest& request);

// GET "/" and "/upload": the upload page for this server's device name.
HttpResponse answerUploadPage(const ServerContext& context);

// POST "/v1/upload/preflight": checks one announced file, optionally asks the desktop user (blocking
// until the owner answers), and issues an upload ticket.
HttpResponse answerUploadPreflight(ServerContext& context, const BufferedRequest& request);

// POST "/v1/upload/preflight/batch": the same for a whole batch of files with one question and one
// answer.
HttpResponse answerUploadPreflightBatch(ServerContext& context, const BufferedRequest& request);

// POST "/v1/text": receives a text from the phone (after the desktop user agreed, when confirmation is
// on) and hands it to the owner.
HttpResponse answerText(ServerContext& context, const BufferedRequest& request);

// GET "/v1/shared": the files and texts the desktop shares, files that have gone left out.
HttpResponse answerSharedList(ServerContext& context, const RequestHead& head);

// Whether an answer carries its body (GET) or only the head a GET would get (HEAD).
enum class ResponseBody
{
    send,
    omit,
};

// GET and HEAD "/v1/shared/ID": the bytes of one shared file (whole, or the range asked for) sent
// from the file with sendfile(2), with its progress reported to the owner; answers on the connection.
void handleSharedDownload(ServerContext& context, Connection& connection, std::string_view shareID, ResponseBody body);

// POST "/v1/upload": receives one file (raw body or multipart/form-data) into its device folder and
// answers on the connection. With `offset`, the body is the part of a ticketed upload's file that
// starts there (ResumableUploads.h).
void handleUpload(ServerContext& context, Connection& connection);

// GET "/v1/upload/resume?uploadId=ID": how many bytes of a ticketed upload the server holds (200), or
// that there is nothing to resume (404 with the reason).
HttpResponse answerUploadResume(ServerContext& context, const BufferedRequest& request);

// POST "/v1/upload/cancel?uploadId=ID": the phone gives an upload up; its partial file is removed at
// once, and an unused ticket is withdrawn.
HttpResponse answerUploadCancel(ServerContext& context, const BufferedRequest& request);

} // namespace ferrylantern
