// A deliberately plain HTTP client for tests: raw bytes over a real TCP socket to 127.0.0.1, every
// wait bounded, so tests can send exactly what they mean (broken heads, partial bodies) and check
// exactly what comes back.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ferrylantern::test {

constexpr std::chrono::milliseconds defaultTestTimeout{10000};

struct HttpReply
{
    int status = 0;
    std::string statusLine;
    std::map<std::string, std::string> headers; // names lower-cased
    std::string body;
    std::string raw; // every byte received

    std::optional<std::string> header(const std::string& lowerCaseName) const;
};

// Splits a received response into status line, header fields and body. Leading interim responses
// (100 Continue) are skipped. Returns nullopt for bytes that hold no complete head.
std::optional<HttpReply> parseReply(std::string raw);

// One client connection. Every operation gives up after the timeout.
class TestConnection
{
public:
    explicit TestConnection(std::uint16_t port, std::chrono::milliseconds timeout = defaultTestTimeout,
                            const char* sourceAddress = nullptr);
    ~TestConnection();
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    bool isConnected() const { return fd_ >= 0; }
    // Sends every byte; false when the peer is gone.
    bool send(std::string_view bytes);
    // Ends the sending direction, as a client does that has nothing more to say.
    void shutdownWrite();
    // Reads until the peer closes or the timeout passes.
    std::string readAll();
    // Reads until `marker` was received (true), the peer closed or the timeout passed (false).
    bool readUntil(std::string_view marker, std::string& received);
    // Closes abruptly (RST instead of FIN), as a phone that drops off the network.
    void abort();
    // Holds at most about `bytes` unsent in the kernel (as a phone's small send buffer does) instead of
    // letting it grow; returns the size the kernel granted.
    int limitSendBuffer(int bytes);

private:
    int fd_ = -1;
    std::chrono::milliseconds timeout_;
};

// Sends `request` on a fresh connection (from `sourceAddress` when given) and reads the whole reply.
HttpReply sendRequest(std::uint16_t port, std::string_view request, const char* sourceAddress = nullptr);

// A request with method, target, extra header lines ("Name: value\r\n" each) and body; adds Host and
// Content-Length (when there is a body).
std::string buildRequest(std::string_view method, std::string_view target, std::string_view headerLines = "",
                         std::string_view body = "");

} // namespace ferrylantern::test
