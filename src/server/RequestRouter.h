// Handles one accepted connection: reads the head, dispatches by method and route path, answers.
#pragma once

namespace ferrylantern {

class Connection;
class ServerContext;

// Answers the one request of `connection`. A head that cannot be read or parsed is refused as
// malformed. The caller closes the connection afterwards.
void handleConnection(ServerContext& context, Connection& connection);

} // namespace ferrylantern
