#include "server/Endpoints.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

namespace {

constexpr std::int64_t maxPINRequestBytes = 4096;

void answer(Connection& connection, int status, const TransferPINVerifyResponse& response,
            const ExtraHeaderFields& extraFields = {})
{
    connection.sendResponse(status, nlohmann::json(response).dump(), contentType::json, extraFields);
}

} // namespace

void handlePINVerify(ServerContext& context, Connection& connection)
{
    if (connection.head().contentLength > maxPINRequestBytes) {
        connection.drainBody();
        connection.sendResponse(400, "请求过大", contentType::plainText);
        return;
    }
    const auto body = connection.readBody();
    const auto request = body ? decodeMessage<TransferPINVerifyRequest>(*body)
                              : Expected<TransferPINVerifyRequest, std::string>(Unexpected{std::string()});
    if (!request) {
        connection.sendResponse(400, "无效的 PIN 请求", contentType::plainText);
        return;
    }

    const PINSettings settings = context.currentPINSettings();
    if (!isPINRequired(settings)) {
        answer(connection, 200, {.ok = true, .sessionToken = std::nullopt});
        return;
    }

    // Every attempt from a locked-out address is refused unchecked, so guessing gains nothing there.
    const std::string client = connection.peerIPv4Address().value_or("unknown");
    if (const auto wait = context.pinAttempts->remainingLockout(client); wait.count() > 0) {
        answer(connection, 429, {.ok = false, .sessionToken = std::nullopt},
               {{"Retry-After", std::to_string(wait.count())}});
        return;
    }

    const std::string storedPIN = normalizedPIN(settings.code);
    if (normalizedPIN(request->pin) != storedPIN) {
        context.pinAttempts->recordFailure(client);
        answer(connection, 403, {.ok = false, .sessionToken = std::nullopt});
        return;
    }
    context.pinAttempts->recordSuccess(client);
    answer(connection, 200, {.ok = true, .sessionToken = context.sessions.issue()});
}

} // namespace ferrylantern
