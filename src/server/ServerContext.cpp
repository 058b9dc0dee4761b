#include "server/ServerContext.h"

#include "server/UnicodeWhitespace.h"

namespace ferrylantern {

namespace {

std::shared_ptr<PINAttemptLimiter> limiterFor(const ServerOptions& options)
{
    return options.pinAttemptLimiter ? options.pinAttemptLimiter : std::make_shared<PINAttemptLimiter>(options.clock);
}

std::string fingerprint(const PINSettings& settings)
{
    return isPINRequired(settings) ? "on:" + normalizedPIN(settings.code) : "off";
}

} // namespace

ServerContext::ServerContext(std::filesystem::path saveDirectory_, std::string deviceName_,
                             TransferServerCallbacks callbacks_, ServerOptions options_)
    : saveDirectory(std::move(saveDirectory_))
    , deviceName(std::move(deviceName_))
    , callbacks(std::move(callbacks_))
    , options(std::move(options_))
    , sessions(options.sessionStore ? *options.sessionStore : TransferPINSessionStore::shared())
    , pinAttempts(limiterFor(options))
    , shares(options.sharedItems ? options.sharedItems : std::make_shared<SharedItems>())
    , tickets(options.clock)
    , resumable(options.clock, callbacks.onUploadProgress, {.window = options.resumeWindow})
    , admission(options.connectionLimits)
    , questionSlots(options.maxQuestionsPerPeer)
{}

ConnectionPolicy ServerContext::connectionPolicy() const
{
    return {options.idleTimeout, options.headTimeout, options.minimumBodyRate};
}

Asker ServerContext::asker(const std::optional<std::string>& peer, std::function<bool()> clientHasGone)
{
    return {questionSlots, peer.value_or("unknown"), std::move(clientHasGone)};
}

PINSettings ServerContext::currentPINSettings()
{
    PINSettings settings = options.pinSettings ? options.pinSettings() : PINSettings{};
    sessions.revokeIfSettingsChanged(fingerprint(settings));
    return settings;
}

bool ServerContext::passesSessionCheck(const RequestHead& head)
{
    if (!isPINRequired(currentPINSettings())) {
        return true;
    }
    const auto token = sessionToken(head);
    return token && sessions.isValid(*token);
}

std::string ServerContext::requestOwner(const RequestHead& head, const std::optional<std::string>& peerIPv4Address)
{
    if (const auto token = sessionToken(head); token && isPINRequired(currentPINSettings())) {
        return "session " + *token;
    }
    return "address " + peerIPv4Address.value_or("unknown");
}

void ServerContext::noteSharedFileState(const Uuid& id, bool missing)
{
    if (shares->setMissing(id, missing) && callbacks.onSharedFileMissingChanged) {
        callbacks.onSharedFileMissingChanged(id, missing);
    }
}

std::optional<std::string> sessionToken(const RequestHead& head)
{
    if (const auto header = head.header("x-ferrylantern-session")) {
        const auto token = trimWhitespaceAndNewlines(*header);
        if (!token.empty()) {
            return std::string(token);
        }
    }
    const auto cookies = head.header("cookie");
    if (!cookies) {
        return std::nullopt;
    }
    constexpr std::string_view cookieName = "ferrylantern_session=";
    std::string_view rest = *cookies;
    while (!rest.empty()) {
        const auto semicolon = rest.find(';');
        auto piece = rest.substr(0, semicolon);
        rest = semicolon == std::string_view::npos ? std::string_view{} : rest.substr(semicolon + 1);
        piece = piece.substr(std::min(piece.find_first_not_of(' '), piece.size()));
        piece = piece.substr(0, piece.find_last_not_of(' ') + 1);
        if (piece.starts_with(cookieName) && piece.size() > cookieName.size()) {
            return std::string(piece.substr(cookieName.size()));
        }
    }
    return std::nullopt;
}

} // namespace ferrylantern
