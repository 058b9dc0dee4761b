#include "server/Connection.h"

#include "server/ASCIIText.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>

namespace ferrylantern {

namespace {

using Clock = std::chrono::steady_clock;

// Heads are read in small pieces, so what a connection holds grows with what really arrived.
constexpr std::size_t headReadChunk = 8192;
constexpr std::size_t smallBodyChunk = 16384;
// Lingering after an answer while the client may still be sending: at most this long and this many
// bytes, then the connection is closed whatever the client does.
constexpr std::chrono::seconds lingerTime{5};
constexpr std::int64_t lingerBytes = 1024 * 1024;
constexpr std::size_t lingerChunk = 16384;

void setTimeout(int fd, int option, std::chrono::milliseconds timeout)
{
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, option, &value, sizeof value);
}

ssize_t receiveSome(int fd, char* buffer, std::size_t size)
{
    while (true) {
        const ssize_t received = recv(fd, buffer, size, 0);
        if (received >= 0 || errno != EINTR) {
            return received;
        }
    }
}

std::optional<std::string> ipv4Text(const sockaddr_storage& address)
{
    if (address.ss_family != AF_INET) {
        return std::nullopt;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&address);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<std::string> askedPeerIPv4Address(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return ipv4Text(address);
}

} // namespace

Connection::Connection(int fd, ConnectionPolicy policy, HeadMemoryBudget& headBudget,
                       std::optional<std::string> peerIPv4Address)
    : fd_(fd)
    , peer_(peerIPv4Address ? std::move(peerIPv4Address) : askedPeerIPv4Address(fd))
    , policy_(policy)
    , headBudget_(headBudget)
    , acceptedAt_(Clock::now())
{
    // Reads wait through poll() with their own deadlines; the socket's timeouts are a backstop.
    setTimeout(fd_, SO_RCVTIMEO, policy_.idleTimeout);
    setTimeout(fd_, SO_SNDTIMEO, policy_.idleTimeout);
}

Connection::~Connection()
{
    headBudget_.giveBack(headBudgetTaken_);
    close(fd_);
}

std::optional<std::string> Connection::localIPv4Address() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return ipv4Text(address);
}

std::optional<std::uint16_t> Connection::localPort() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.ss_family != AF_INET) {
        return std::nullopt;
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

bool Connection::waitReadable(Clock::time_point until) const
{
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd readable{fd_, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 60000)));
        if (ready > 0) {
            return true; // data, an end of stream or an error: the read reports which
        }
        if (ready < 0 && errno != EINTR) {
            return true;
        }
    }
}

bool Connection::takeHeadMemory(std::size_t headBytes)
{
    const std::size_t beyondOwnShare =
        headBytes > HeadMemoryBudget::bytesPerConnection ? headBytes - HeadMemoryBudget::bytesPerConnection : 0;
    if (beyondOwnShare <= headBudgetTaken_) {
        return true;
    }
    const std::size_t more = beyondOwnShare - headBudgetTaken_;
    if (!headBudget_.take(more)) {
        return false;
    }
    headBudgetTaken_ += more;
    return true;
}

bool Connection::readHead()
{
    RequestHeadReader reader;
    std::array<char, headReadChunk> buffer; // NOLINT(cppcoreguidelines-pro-type-member-init): filled by recv
    const auto deadline = acceptedAt_ + policy_.headTimeout;
    std::size_t headBytes = 0;
    while (true) {
        if (!waitReadable(std::min(deadline, Clock::now() + policy_.idleTimeout))) {
            return false;
        }
        const ssize_t received = receiveSome(fd_, buffer.data(), buffer.size());
        if (received <= 0) {
            return false;
        }
        headBytes += static_cast<std::size_t>(received);
        // The head is held for the whole request, so its memory stays taken until the connection ends.
        if (!takeHeadMemory(headBytes)) {
            return false;
        }
        switch (reader.append({buffer.data(), static_cast<std::size_t>(received)})) {
        case RequestHeadReader::Status::needMoreData:
            continue;
        case RequestHeadReader::Status::failed:
            return false;
        case RequestHeadReader::Status::complete:
            head_ = reader.takeHead();
            headComplete_ = true;
            bodyBytesSeen_ = static_cast<std::int64_t>(head_.bodyPrefix.size());
            expectsContinue_ = asciiLowercased(head_.header("expect").value_or("")) == "100-continue";
            return true;
        }
    }
}

void Connection::send(const HttpResponse& response)
{
    sendRaw(response.bytes());
}

void Connection::sendRaw(std::string_view bytes)
{
    interimOrFinalAnswerSent_ = true;
    writeAll(bytes);
}

void Connection::writeAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

namespace {

// sendfile(2) has no MSG_NOSIGNAL: a peer that has gone raises SIGPIPE, whose default ends the
// process, and it may do so even for a call that still sent part of what it was given. The signal is
// directed at the sending thread, so blocking it there for the call and taking back whatever was
// raised before unblocking keeps it from ever being delivered.
class BrokenPipeSuppression
{
public:
    BrokenPipeSuppression()
    {
        sigemptyset(&brokenPipe_);
        sigaddset(&brokenPipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &brokenPipe_, &previous_);
    }
    ~BrokenPipeSuppression()
    {
        const int savedErrno = errno;
        const timespec immediately{};
        while (sigtimedwait(&brokenPipe_, nullptr, &immediately) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = savedErrno;
    }
    BrokenPipeSuppression(const BrokenPipeSuppression&) = delete;
    BrokenPipeSuppression& operator=(const BrokenPipeSuppression&) = delete;

private:
    sigset_t brokenPipe_{};
    sigset_t previous_{};
};

} // namespace

std::int64_t Connection::sendFile(int fileFD, std::int64_t offset, std::int64_t length, std::size_t piece,
                                  const std::function<bool(std::int64_t)>& afterPiece)
{
    interimOrFinalAnswerSent_ = true;
    const BrokenPipeSuppression suppression;
    // Without blocking, a call sends what the socket's buffer takes and the next waits until the
    // buffer has room again (as nginx does): a blocking call would wake for every bit of room and send
    // each piece in many small parts.
    const int flags = fcntl(fd_, F_GETFL);
    fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    std::int64_t sent = 0;
    auto idleDeadline = Clock::now() + policy_.idleTimeout;
    while (sent < length) {
        off_t position = static_cast<off_t>(offset + sent);
        const auto wanted =
            static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(piece), length - sent));
        const ssize_t count = ::sendfile(fd_, fileFD, &position, wanted);
        if (count > 0) {
            sent += count;
            idleDeadline = Clock::now() + policy_.idleTimeout;
            if (!afterPiece(sent)) {
                break;
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        // 0: the file ended before `length` (it shrank); otherwise the peer went, the connection was
        // shut down, or it took nothing for the idle limit.
        if (count == 0 || errno != EAGAIN || !waitWritable(idleDeadline)) {
            break;
        }
    }
    fcntl(fd_, F_SETFL, flags);
    return sent;
}

bool Connection::waitWritable(Clock::time_point until) const
{
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd writable{fd_, POLLOUT, 0};
        const int ready = poll(&writable, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 60000)));
        if (ready > 0) {
            return true; // room, or an error the next call reports
        }
        if (ready < 0 && errno != EINTR) {
            return true;
        }
    }
}

void Connection::setCorked(bool corked)
{
    const int value = corked ? 1 : 0;
    setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

void Connection::sendContinueIfExpected()
{
    // Once any answer went out the client knows where it stands; a late 100 would be read as the
    // start of a second response.
    if (expectsContinue_ && !interimOrFinalAnswerSent_) {
        interimOrFinalAnswerSent_ = true;
        writeAll(continueResponse);
    }
}

ssize_t Connection::receive(std::span<char> buffer)
{
    return receiveBody([&] { return receiveSome(fd_, buffer.data(), buffer.size()); });
}

ssize_t Connection::receiveIntoPipe(int pipeFD, std::size_t length)
{
    return receiveBody([&]() -> ssize_t {
        while (true) {
            // The socket is readable (or at its end), so this returns what has arrived rather than
            // waiting for `length` bytes.
            const ssize_t moved = splice(fd_, nullptr, pipeFD, nullptr, length, 0);
            if (moved >= 0) {
                return moved;
            }
            if (errno == EINTR) {
                continue;
            }
            return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? spliceRefused : -1;
        }
    });
}

template <typename ReadOnce>
ssize_t Connection::receiveBody(const ReadOnce& readOnce)
{
    sendContinueIfExpected();
    const auto idleDeadline = Clock::now() + policy_.idleTimeout;
    const auto& rate = policy_.minimumBodyRate;
    while (true) {
        const auto now = Clock::now();
        if (!rateWindowStart_) {
            rateWindowStart_ = now;
        }
        if (now >= *rateWindowStart_ + rate.per) {
            if (rateWindowBytes_ < rate.bytes) {
                return -1; // a trickle, not an upload
            }
            rateWindowStart_ = now;
            rateWindowBytes_ = 0;
        }
        if (now >= idleDeadline) {
            return -1;
        }
        if (!waitReadable(std::min(*rateWindowStart_ + rate.per, idleDeadline))) {
            continue; // the end of a rate period or the idle limit: decided above
        }
        const ssize_t received = readOnce();
        if (received > 0) {
            bodyBytesSeen_ += received;
            rateWindowBytes_ += received;
        }
        return received;
    }
}

Expected<std::string, SocketHTTPError> Connection::readBody()
{
    if (head_.contentLength == 0) {
        return std::string();
    }
    const auto length = static_cast<std::size_t>(head_.contentLength);
    std::string body = head_.bodyPrefix;
    std::array<char, smallBodyChunk> buffer{};
    while (body.size() < length) {
        const ssize_t received = receive(buffer);
        if (received <= 0) {
            return Unexpected{SocketHTTPError::incompleteBody};
        }
        body.append(buffer.data(), static_cast<std::size_t>(received));
    }
    body.resize(length);
    return body;
}

bool Connection::hasPeerHungUp() const
{
    pollfd state{fd_, POLLRDHUP, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void Connection::finish()
{
    // A head that failed is answered and closed as it always was: most such clients went silent or
    // away, and lingering would only hold their thread.
    if (!headComplete_ || !hasUnreadBody()) {
        return;
    }
    shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + lingerTime;
    std::array<char, lingerChunk> buffer; // NOLINT(cppcoreguidelines-pro-type-member-init): filled by recv
    std::int64_t discarded = 0;
    while (discarded < lingerBytes && waitReadable(deadline)) {
        const ssize_t received = receiveSome(fd_, buffer.data(), buffer.size());
        if (received <= 0) {
            return;
        }
        discarded += received;
    }
}

} // namespace ferrylantern
