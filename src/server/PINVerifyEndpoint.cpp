#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

HttpResponse answerPINVerify(ServerContext& context, const BufferedRequest& request)
{
    if (request.head.contentLength > maxPINRequestBytes) {
        return refusalResponse(RequestRefusal::pinRequestTooLarge);
    }
    const auto body = request.body.read();
    const auto verification = body ? decodeMessage<TransferPINVerifyRequest>(*body)
                                   : Expected<TransferPINVerifyRequest, std::string>(Unexpected{std::string()});
    if (!verification) {
        return refusalResponse(RequestRefusal::invalidPINRequest);
    }

    const PINSettings settings = context.currentPINSettings();
    if (!isPINRequired(settings)) {
        return jsonResponseOrEmptyObject(TransferPINVerifyResponse{.ok = true, .sessionToken = std::nullopt});
    }

    // Every attempt from a locked-out address, or from anywhere while guessing holds everyone back, is
    // refused unchecked, so guessing gains nothing there.
    const std::string client = request.peerIPv4Address.value_or("unknown");
    if (const auto wait = context.pinAttempts->remainingLockout(client); wait.count() > 0) {
        return refusalResponse(PINLockout{wait});
    }

    const std::string storedPIN = normalizedPIN(settings.code);
    if (normalizedPIN(verification->pin) != storedPIN) {
        context.pinAttempts->recordFailure(client);
        // This failure used up what all addresses together may try: the owner shows that someone is
        // guessing. Told once per used-up allowance, not per refused attempt.
        if (context.callbacks.onPINGuessing && context.pinAttempts->isHoldingBackEveryone()) {
            context.callbacks.onPINGuessing(context.pinAttempts->remainingLockout(client));
        }
        return refusalResponse(RequestRefusal::wrongPIN);
    }
    context.pinAttempts->recordSuccess(client);
    return jsonResponseOrEmptyObject(TransferPINVerifyResponse{.ok = true, .sessionToken = context.sessions.issue()});
}

} // namespace ferrylantern
