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

} // namespace ferrylantern
