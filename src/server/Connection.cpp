#include "server/Connection.h"

#include "server/ASCIIText.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <vector>

namespace ferrylantern {

namespace {

constexpr std::size_t headReadChunk = 65536;
constexpr std::size_t drainChunk = 262144;
constexpr std::size_t smallBodyChunk = 16384;

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

} // namespace

Connection::Connection(int fd, std::chrono::milliseconds idleTimeout)
    : fd_(fd)
{
    setTimeout(fd_, SO_RCVTIMEO, idleTimeout);
    setTimeout(fd_, SO_SNDTIMEO, idleTimeout);
}

Connection::~Connection()
{
    close(fd_);
}

std::optional<std::string> Connection::peerIPv4Address() const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.ss_family != AF_INET) {
        return std::nullopt;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&address);
    if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

bool Connection::readHead()
{
    RequestHeadReader reader;
    // Not zero-filled: every connection reads a head, and most heads are a few hundred bytes.
    const auto buffer = std::make_unique_for_overwrite<char[]>(headReadChunk);
    while (true) {
        const ssize_t received = receiveSome(fd_, buffer.get(), headReadChunk);
        if (received <= 0) {
            return false;
        }
        switch (reader.append({buffer.get(), static_cast<std::size_t>(received)})) {
        case RequestHeadReader::Status::needMoreData:
            continue;
        case RequestHeadReader::Status::failed:
            return false;
        case RequestHeadReader::Status::complete:
            head_ = reader.takeHead();
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
    sendContinueIfExpected();
    const ssize_t received = receiveSome(fd_, buffer.data(), buffer.size());
    if (received > 0) {
        bodyBytesSeen_ += received;
    }
    return received;
}

void Connection::drainBody()
{
    if (bodyBytesSeen_ >= head_.contentLength) {
        return;
    }
    std::vector<char> buffer(
        static_cast<std::size_t>(std::min<std::int64_t>(drainChunk, head_.contentLength - bodyBytesSeen_)));
    while (bodyBytesSeen_ < head_.contentLength) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), head_.contentLength - bodyBytesSeen_));
        if (receive({buffer.data(), wanted}) <= 0) {
            return;
        }
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

} // namespace ferrylantern
