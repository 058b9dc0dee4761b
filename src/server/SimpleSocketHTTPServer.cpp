#include "server/SimpleSocketHTTPServer.h"

#include "server/PartialFile.h"
#include "server/Refusal.h"
#include "server/RequestRouter.h"
#include "server/ServerContext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace ferrylantern {

namespace {

constexpr int listenBacklog = 1024;
// After an accept failure that more accepting cannot cure (out of descriptors or memory), wait this
// long so the listening thread does not spin while the pending connection stays in the backlog.
constexpr std::chrono::milliseconds acceptBackoff{100};

// Creates an IPv4 stream socket with address reuse bound to `port` on every interface and listening,
// or returns -1 with the socket closed. socketCreateFailed is reported through `createFailed`.
int bindAndListen(std::uint16_t port, bool& createFailed)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        createFailed = true;
        return -1;
    }
    const int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, listenBacklog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

Expected<int, SocketHTTPError> openListeningSocket(std::uint16_t preferredPort)
{
    bool createFailed = false;
    int fd = bindAndListen(preferredPort, createFailed);
    if (createFailed) {
        return Unexpected{SocketHTTPError::socketCreateFailed};
    }
    if (fd < 0) {
        fd = bindAndListen(0, createFailed);
        if (createFailed) {
            return Unexpected{SocketHTTPError::socketCreateFailed};
        }
        if (fd < 0) {
            return Unexpected{SocketHTTPError::bindFailed};
        }
    }
    return fd;
}

std::optional<std::uint16_t> boundPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return ntohs(address.sin_port);
}

bool isResourceExhaustion(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

// Every connection takes a descriptor; the usual soft limit of 1024 would run out before the
// connection limits do. The hard limit is the system's to set.
void raiseDescriptorLimit()
{
    constexpr rlim_t enough = 65536;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= enough || limit.rlim_cur >= limit.rlim_max) {
        return;
    }
    limit.rlim_cur = std::min(limit.rlim_max, enough);
    setrlimit(RLIMIT_NOFILE, &limit);
}

// A connection beyond the limits gets its answer at once, without a thread: one short write to an
// empty send buffer, which cannot block.
void refuseBusy(int fd)
{
    const std::string answer = refusalResponse(RequestRefusal::serverBusy).bytes();
    [[maybe_unused]] const auto written = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(fd, SHUT_WR);
    close(fd);
}

// Runs one connection on a thread of its own. The thread holds the server's context only weakly until
// it starts; a server released by then still gets its descriptor closed. `peerText` is the client's
// address as accept() reported it.
void handleOnOwnThread(const std::weak_ptr<ServerContext>& weakContext, int fd, std::uint32_t peer,
                       std::optional<std::string> peerText)
{
    std::thread([weakContext, fd, peer, peerText = std::move(peerText)] {
        const auto context = weakContext.lock();
        if (!context) {
            close(fd);
            return;
        }
        {
            Connection connection(fd, context->connectionPolicy(), context->headBudget, peerText);
            handleConnection(*context, connection);
        }
        context->admission.release(peer);
    }).detach();
}

} // namespace

SimpleSocketHTTPServer::SimpleSocketHTTPServer(std::filesystem::path saveDirectory, std::string deviceName,
                                               TransferServerCallbacks callbacks, ServerOptions options)
    : context_(std::make_shared<ServerContext>(std::move(saveDirectory), std::move(deviceName), std::move(callbacks),
                                               std::move(options)))
{}

SimpleSocketHTTPServer::~SimpleSocketHTTPServer()
{
    stop();
}

Expected<std::uint16_t, SocketHTTPError> SimpleSocketHTTPServer::start()
{
    if (listenFD_ >= 0 && port_) {
        return *port_;
    }
    const auto fd = openListeningSocket(context_->options.preferredPort);
    if (!fd) {
        return Unexpected{fd.error()};
    }
    const auto port = boundPort(*fd);
    if (!port) {
        close(*fd);
        return Unexpected{SocketHTTPError::noPortAssigned};
    }
    // What a killed process left behind is cleared before anything new is received. Younger partial
    // files are kept: another FerryLantern may be receiving into the same folders right now.
    removeStalePartialFiles(context_->saveDirectory);
    raiseDescriptorLimit();
    context_->isReceiving = true;
    context_->resumable.start();
    resumeSweeper_ = std::make_unique<PeriodicTask>(context_->options.resumeSweepInterval,
                                                    [context = context_] { context->resumable.purgeExpired(); });
    listenFD_ = *fd;
    port_ = port;
    acceptThread_ = std::thread([this, listenFD = *fd] { acceptLoop(listenFD); });
    return *port;
}

void SimpleSocketHTTPServer::stop()
{
    context_->isReceiving = false;
    const int fd = listenFD_.exchange(-1);
    if (fd >= 0) {
        // Wakes the accept call; the descriptor is closed only once the loop has left it, so the
        // number cannot be reused under the loop's feet.
        shutdown(fd, SHUT_RDWR);
        if (acceptThread_.joinable()) {
            acceptThread_.join();
        }
        close(fd);
    }
    port_.reset();
    context_->sessions.removeAll();
    resumeSweeper_.reset();
    context_->resumable.stop();
}

void SimpleSocketHTTPServer::acceptLoop(int listenFD)
{
    const std::weak_ptr<ServerContext> weakContext = context_;
    while (listenFD_ >= 0) {
        sockaddr_in peerAddress{};
        socklen_t peerLength = sizeof peerAddress;
        const int fd = accept4(listenFD, reinterpret_cast<sockaddr*>(&peerAddress), &peerLength, SOCK_CLOEXEC);
        if (fd < 0) {
            if (listenFD_ < 0) {
                return;
            }
            if (isResourceExhaustion(errno)) {
                std::this_thread::sleep_for(acceptBackoff);
            }
            continue;
        }
        const std::uint32_t peer = peerAddress.sin_family == AF_INET ? ntohl(peerAddress.sin_addr.s_addr) : 0;
        std::optional<std::string> peerText;
        if (char text[INET_ADDRSTRLEN] = {};
            peerAddress.sin_family == AF_INET && inet_ntop(AF_INET, &peerAddress.sin_addr, text, sizeof text)) {
            peerText = text;
        }
        if (!context_->admission.admit(peer)) {
            refuseBusy(fd);
            continue;
        }
        try {
            handleOnOwnThread(weakContext, fd, peer, peerText);
        } catch (const std::system_error&) {
            // No thread to be had: refuse this connection and give running ones time to end.
            close(fd);
            context_->admission.release(peer);
            std::this_thread::sleep_for(acceptBackoff);
        }
    }
}

const std::filesystem::path& SimpleSocketHTTPServer::saveDirectory() const
{
    return context_->saveDirectory;
}

const std::string& SimpleSocketHTTPServer::deviceName() const
{
    return context_->deviceName;
}

void SimpleSocketHTTPServer::setRequireReceiveConfirmation(bool required)
{
    context_->requireReceiveConfirmation = required;
}

bool SimpleSocketHTTPServer::requireReceiveConfirmation() const
{
    return context_->requireReceiveConfirmation;
}

void SimpleSocketHTTPServer::cancelUpload(const Uuid& id)
{
    context_->uploads.cancelUpload(id);
    context_->resumable.cancel(id);
}

void SimpleSocketHTTPServer::revokeApprovals()
{
    context_->tickets.revokeApprovals();
}

void SimpleSocketHTTPServer::cancelAllUploads()
{
    context_->uploads.cancelAllUploads();
    context_->resumable.cancelAll();
}

int SimpleSocketHTTPServer::activeConnectionCount() const
{
    return context_->activeConnectionCount();
}

bool SimpleSocketHTTPServer::waitForConnectionsToFinish(std::chrono::milliseconds timeout) const
{
    return context_->waitForConnectionsToFinish(timeout);
}

} // namespace ferrylantern
