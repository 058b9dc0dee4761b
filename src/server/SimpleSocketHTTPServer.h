// The program's own HTTP/1.1 server. It listens on one TCP port on all IPv4 interfaces, accepts on a
// listening thread of its own and handles every connection on a thread of its own: one request per
// connection, answered with "Connection: close".
//
//   SimpleSocketHTTPServer server(saveFolder, "Office PC", callbacks);
//   auto port = server.start();            // 53317, or an ephemeral port when that one is taken
//   ...
//   server.stop();                         // closes the listening socket; open requests run on
//
// Thread-safety: start(), stop() and the destructor belong to the owner's thread. The cancel
// operations and requireReceiveConfirmation may be called from any thread.
#pragma once

#include "server/Clock.h"
#include "server/Connection.h"
#include "server/ConnectionAdmission.h"
#include "server/Expected.h"
#include "server/PINRules.h"
#include "server/PeriodicTask.h"
#include "server/RawBodyReceiver.h"
#include "server/ServerCallbacks.h"
#include "server/SocketHTTPError.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace ferrylantern {

class TransferPINSessionStore;
class PINAttemptLimiter;
class SharedItems;
class ServerContext;

// What the owner supplies besides the save folder, the name and the callbacks. The defaults are the
// production ones; tests replace the clock, the stores and the limits.
struct ServerOptions
{
    static constexpr std::uint16_t defaultPort = 53317;

    // Tried first; when it cannot be bound the server takes an ephemeral port. 0 asks for an
    // ephemeral port at once.
    std::uint16_t preferredPort = defaultPort;
    // The PIN preferences, read on every request. Without a provider the PIN gate is off.
    PINSettingsProvider pinSettings;
    // Null means the process-wide store.
    TransferPINSessionStore* sessionStore = nullptr;
    // Null means a limiter of the server's own.
    std::shared_ptr<PINAttemptLimiter> pinAttemptLimiter;
    // The wall clock for ticket expiry.
    WallClock clock = systemWallClock();
    // A socket read or write that waits this long without a single byte fails. Waiting for the
    // desktop user is not reading and has no limit.
    std::chrono::milliseconds idleTimeout{std::chrono::minutes(2)};
    // The whole head must arrive within this time of the connection's start.
    std::chrono::milliseconds headTimeout{std::chrono::seconds(60)};
    // What a body must deliver to be worth the connection.
    MinimumBodyRate minimumBodyRate;
    // Connections handled at once, overall and per client address; beyond them 503.
    ConnectionLimits connectionLimits;
    // Questions for the desktop user that one client address may have waiting at once; beyond 429.
    std::size_t maxQuestionsPerPeer = 8;
    // A ticketed upload whose body broke off keeps its partial file this long after its last byte,
    // so the client can continue it (by `clock`).
    std::chrono::seconds resumeWindow{std::chrono::minutes(15)};
    // How often the uploads whose window passed are removed when no request comes.
    std::chrono::milliseconds resumeSweepInterval{std::chrono::seconds(10)};
    // How raw bodies go from the socket to the file; the buffer alone is for comparisons and tests.
    RawBodyTransfer rawBodyTransfer = RawBodyTransfer::spliceWhereSupported;

    // What the desktop shares with phones (GET "/v1/shared"); the owner keeps it across restarts.
    // Null means nothing is shared.
    std::shared_ptr<SharedItems> sharedItems;
};

class SimpleSocketHTTPServer
{
public:
    SimpleSocketHTTPServer(std::filesystem::path saveDirectory, std::string deviceName,
                           TransferServerCallbacks callbacks, ServerOptions options = {});
    ~SimpleSocketHTTPServer();
    SimpleSocketHTTPServer(const SimpleSocketHTTPServer&) = delete;
    SimpleSocketHTTPServer& operator=(const SimpleSocketHTTPServer&) = delete;

    // Binds, listens, removes the partial files a killed process left in the save folder long ago, and
    // starts the accept loop. Returns the bound port, or socketCreateFailed, bindFailed or
    // noPortAssigned; a failed start leaves no socket open.
    [[nodiscard]] Expected<std::uint16_t, SocketHTTPError> start();

    // Closes the listening socket, ends the accept loop and empties the PIN session store, so every
    // session token becomes invalid. Requests being handled run to their end; a connection accepted
    // before whose head completes afterwards is refused (503) and writes nothing. Uploads kept for
    // resuming are removed, and so are those still receiving once their connections end early.
    void stop();

    std::optional<std::uint16_t> port() const { return port_; }
    const std::filesystem::path& saveDirectory() const;
    const std::string& deviceName() const;

    void setRequireReceiveConfirmation(bool required);
    bool requireReceiveConfirmation() const;

    // Marks the upload, preflight, batch preflight, text or download registered under `id` as
    // cancelled and shuts its socket down in both directions; does nothing for an unknown id. A
    // cancelled upload removes its partial file and reports `failed`, a download reports `failed`; a
    // waiting preflight or text learns it once its question is answered. An upload kept for resuming
    // (no connection on it) is removed at once and reported `failed`.
    void cancelUpload(const Uuid& id);
    void cancelAllUploads();
    // The desktop user rejected everything: uploads approved so far are cancelled when they arrive.
    void revokeApprovals();

    // Connections currently being handled, this server's and those it left running after a stop.
    int activeConnectionCount() const;
    // Waits until no connection is being handled or the timeout passes; true when none is left.
    bool waitForConnectionsToFinish(std::chrono::milliseconds timeout) const;

private:
    void acceptLoop(int listenFD);

    std::shared_ptr<ServerContext> context_;
    std::optional<std::uint16_t> port_;
    std::atomic<int> listenFD_{-1};
    std::thread acceptThread_;
    // Removes the uploads whose resume window has passed while the server runs.
    std::unique_ptr<PeriodicTask> resumeSweeper_;
};

} // namespace ferrylantern
