// The state that the connection handlers of one server share: configuration, callbacks, the stores
// and the accounting of running connections. Every connection thread holds it alive for as long as it
// runs, so a stopped or destroyed server never pulls it away from a request in progress.
//
// Thread-safe: the fields set at construction are read-only afterwards; the rest is atomic or guarded
// by the stores' own locks.
#pragma once

#include "server/Connection.h"
#include "server/ConnectionAdmission.h"
#include "server/HeadMemoryBudget.h"
#include "server/OwnerQuestions.h"
#include "server/PINAttemptLimiter.h"
#include "server/QuestionSlots.h"
#include "server/ResumableUploads.h"
#include "server/SharedItems.h"
#include "server/SimpleSocketHTTPServer.h"
#include "server/TransferPINSessionStore.h"
#include "server/UploadSessionRegistry.h"
#include "server/UploadTicketStore.h"

#include <atomic>

namespace ferrylantern {

class ServerContext
{
public:
    ServerContext(std::filesystem::path saveDirectory, std::string deviceName, TransferServerCallbacks callbacks,
                  ServerOptions options);

    const std::filesystem::path saveDirectory;
    const std::string deviceName;
    const TransferServerCallbacks callbacks;
    const ServerOptions options;
    TransferPINSessionStore& sessions;
    const std::shared_ptr<PINAttemptLimiter> pinAttempts;
    const std::shared_ptr<SharedItems> shares;
    std::atomic<bool> requireReceiveConfirmation{false};
    // False once the server was stopped: a request whose head completes afterwards is refused.
    std::atomic<bool> isReceiving{true};
    UploadSessionRegistry uploads;
    UploadTicketStore tickets;
    ResumableUploads resumable;
    ConnectionAdmission admission;
    HeadMemoryBudget headBudget;
    QuestionSlots questionSlots;

    ConnectionPolicy connectionPolicy() const;
    // Who asks a question for the client at `peer`.
    Asker asker(const std::optional<std::string>& peer, std::function<bool()> clientHasGone);

    // Whether this request must be put to the desktop user: confirmation is switched on and the owner
    // gave the callback that asks.
    bool asksBeforeSave() const { return requireReceiveConfirmation && callbacks.confirmBeforeSave; }

    // The PIN settings in force for this request. Reading them also revokes every session token when
    // they changed since the previous request.
    PINSettings currentPINSettings();

    // The session check of the guarded endpoints: passes when the gate is off or the request carries
    // a valid session token.
    bool passesSessionCheck(const RequestHead& head);

    // Whom tickets and resumable uploads of a request belong to: its PIN session while the gate is on,
    // else the client's address.
    std::string requestOwner(const RequestHead& head, const std::optional<std::string>& peerIPv4Address);

    // Notes that the file of share `id` was found gone (or there again) and tells the owner when that
    // changed the share.
    void noteSharedFileState(const Uuid& id, bool missing);

    // Bookkeeping of running connection handlers.
    int activeConnectionCount() const { return admission.activeCount(); }
    bool waitForConnectionsToFinish(std::chrono::milliseconds timeout)
    {
        return admission.waitUntilNoneActive(timeout);
    }
};

// The session token a request carries: the X-FerryLantern-Session header, else the
// "ferrylantern_session" cookie; nullopt when neither gives a non-empty token.
std::optional<std::string> sessionToken(const RequestHead& head);

} // namespace ferrylantern
