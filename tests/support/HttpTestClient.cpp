#include "tests/support/HttpTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace ferrylantern::test {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::optional<std::string> HttpReply::header(const std::string& lowerCaseName) const
{
    const auto found = headers.find(lowerCaseName);
    if (found == headers.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<HttpReply> parseReply(std::string raw)
{
    std::size_t start = 0;
    auto headEnd = raw.find("\r\n\r\n");
    while (headEnd != std::string::npos && raw.compare(start, 13, "HTTP/1.1 100 ") == 0) {
        start = headEnd + 4;
        headEnd = raw.find("\r\n\r\n", start);
    }
    if (headEnd == std::string::npos) {
        return std::nullopt;
    }
    HttpReply reply;
    const std::string_view head(raw.data() + start, headEnd - start);
    auto lineEnd = std::min(head.find("\r\n"), head.size());
    reply.statusLine = head.substr(0, lineEnd);
    if (reply.statusLine.size() >= 12) {
        reply.status = std::stoi(reply.statusLine.substr(9, 3));
    }
    while (lineEnd < head.size()) {
        const auto lineStart = lineEnd + 2;
        lineEnd = std::min(head.find("\r\n", lineStart), head.size());
        const auto line = head.substr(lineStart, lineEnd - lineStart);
        if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            std::string name(trimmed(line.substr(0, colon)));
            std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
            reply.headers[name] = std::string(trimmed(line.substr(colon + 1)));
        }
    }
    reply.body = raw.substr(headEnd + 4);
    reply.raw = std::move(raw);
    return reply;
}

TestConnection::TestConnection(std::uint16_t port, std::chrono::milliseconds timeout, const char* sourceAddress)
    : timeout_(timeout)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    if (sourceAddress != nullptr) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        inet_pton(AF_INET, sourceAddress, &source.sin_addr);
        bind(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof source);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

TestConnection::~TestConnection()
{
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool TestConnection::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        pollfd writable{fd_, POLLOUT, 0};
        if (poll(&writable, 1, static_cast<int>(timeout_.count())) <= 0) {
            return false;
        }
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void TestConnection::shutdownWrite()
{
    shutdown(fd_, SHUT_WR);
}

std::string TestConnection::readAll()
{
    std::string received;
    readUntil({}, received);
    return received;
}

bool TestConnection::readUntil(std::string_view marker, std::string& received)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    char buffer[65536];
    while (marker.empty() || received.find(marker) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        received.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

int TestConnection::limitSendBuffer(int bytes)
{
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    getsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &granted, &length);
    return granted;
}

void TestConnection::abort()
{
    linger immediate{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
    close(fd_);
    fd_ = -1;
}

HttpReply sendRequest(std::uint16_t port, std::string_view request, const char* sourceAddress)
{
    TestConnection connection(port, defaultTestTimeout, sourceAddress);
    connection.send(request);
    return parseReply(connection.readAll()).value_or(HttpReply{});
}

std::string buildRequest(std::string_view method, std::string_view target, std::string_view headerLines,
                         std::string_view body)
{
    std::string request = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    request += headerLines;
    if (!body.empty()) {
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n";
    request += body;
    return request;
}

} // namespace ferrylantern::test
