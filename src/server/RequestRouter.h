// Handles one accepted connection: reads the head, dispatches by method and route path, answers.
#pragma once

namespace ferrylantern {

class Connection;
class ServerContext;

// Answers the one request of `connection`. A head that cannot be read or parsed is refused as
// malformed; so is, whatever its route, a request whose Host is another machine, one that arrives
// after receiving was switched off, and a POST from another site's page. Every answer goes out
// before a body the request did not need is read; the connection then lingers over that body for a
// bounded time. The caller closes the connection afterwards.
void handleConnection(ServerContext& context, Connection& connection);

} // namespace ferrylantern
