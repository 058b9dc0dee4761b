// Handles one accepted connection: reads the head, dispatches by method and route path, answers.
#pragma once

namespace ferrylantern {

class Connection;
class ServerContext;

// Answers the one request of `connection`. A head that cannot be read or parsed gets 400 "Bad
// Request". The caller closes the connection afterwards.
void handleConnection(ServerContext& context, Connection& connection);

} // namespace ferrylantern
