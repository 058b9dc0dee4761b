#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

HttpResponse answerInfo(ServerContext& context, const RequestHead& head)
{
    TransferInfoResponse info;
    info.name = context.deviceName;
    info.pinRequired = isPINRequired(context.currentPINSettings());
    if (info.pinRequired) {
        const auto token = sessionToken(head);
        info.pinAuthorized = token && context.sessions.isValid(*token);
    }
    if (auto response = jsonResponse(info)) {
        return std::move(*response);
    }
    // The device name is not valid UTF-8.
    return refusalResponse(RequestRefusal::unencodableAnswer);
}

} // namespace ferrylantern
