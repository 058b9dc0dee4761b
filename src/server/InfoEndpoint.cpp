#include "server/Endpoints.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

void handleInfo(ServerContext& context, Connection& connection)
{
    TransferInfoResponse info;
    info.name = context.deviceName;
    info.pinRequired = isPINRequired(context.currentPINSettings());
    if (info.pinRequired) {
        const auto token = sessionToken(connection.head());
        info.pinAuthorized = token && context.sessions.isValid(*token);
    }
    std::string body;
    try {
        body = nlohmann::json(info).dump();
    } catch (const nlohmann::json::exception&) {
        // The device name is not valid UTF-8.
        connection.sendResponse(500, "Internal Server Error", contentType::plainText);
        return;
    }
    connection.sendResponse(200, body, contentType::json);
}

} // namespace ferrylantern
