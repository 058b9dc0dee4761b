// The request handlers behind the route table. Each one answers exactly once on the connection and
// handles its own body (reads, drains or ignores it as its route requires).
#pragma once

namespace ferrylantern {

class Connection;
class ServerContext;

// GET "/v1/info": name, platform, protocol and API versions, capabilities and the PIN state.
void handleInfo(ServerContext& context, Connection& connection);

// POST "/v1/pin/verify": checks a PIN and issues a session token, with wrong attempts limited per
// client address.
void handlePINVerify(ServerContext& context, Connection& connection);

// GET "/" and "/upload": the upload page for this server's device name.
void handleUploadPage(ServerContext& context, Connection& connection);

// POST "/v1/upload/preflight": checks one announced file, optionally asks the desktop user, and issues
// an upload ticket.
void handleUploadPreflight(ServerContext& context, Connection& connection);

// POST "/v1/upload/preflight/batch": the same for up to 500 files with one question and one answer.
void handleUploadPreflightBatch(ServerContext& context, Connection& connection);

// POST "/v1/upload": receives one file (raw body or multipart/form-data) into its device folder.
void handleUpload(ServerContext& context, Connection& connection);

} // namespace ferrylantern
