// One accepted TCP connection and the one request it carries: reading the head, reading or draining
// the body, and writing the response.
//
// Thread-compatible: the worker thread that handles the request owns the object. Other threads only
// ever shut the socket down by its descriptor (cancellation), which stays valid until this object
// closes it.
#pragma once

#include "server/Expected.h"
#include "server/HttpResponse.h"
#include "server/RequestHead.h"
#include "server/SocketHTTPError.h"

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ferrylantern {

class Connection
{
public:
    // Takes ownership of `fd`. A read or write that waits longer than `idleTimeout` without a single
    // byte fails, so a silent peer cannot hold a thread for ever.
    Connection(int fd, std::chrono::milliseconds idleTimeout);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }

    // The peer's numeric IPv4 address, or nullopt when the peer is not IPv4 or cannot be read.
    std::optional<std::string> peerIPv4Address() const;

    // Reads until the blank line that ends the request head and parses the head. Fails on end of
    // stream, a read error or timeout, a head over the size limit, invalid UTF-8, a malformed request
    // line or a bad Content-Length.
    [[nodiscard]] bool readHead();
    const RequestHead& head() const { return head_; }

    // Writes the response. Failures (a peer that went away) are silent; SIGPIPE is never raised.
    void send(const HttpResponse& response);
    // Writes bytes as they are (the fixed OPTIONS answer).
    void sendRaw(std::string_view bytes);

    // Reads and discards what remains of the announced body (the body prefix and every byte received
    // so far count as read); stops early at end of stream or on an error.
    void drainBody();
    // Reads the whole announced body (small JSON bodies only; callers check the length first).
    // Fails with incompleteBody when the stream ends or fails before Content-Length bytes arrived.
    [[nodiscard]] Expected<std::string, SocketHTTPError> readBody();
    // One read of body bytes from the socket, after the body prefix: the count read, 0 at end of
    // stream, -1 on an error or timeout. Answers "Expect: 100-continue" before the first read.
    ssize_t receive(std::span<char> buffer);

private:
    void writeAll(std::string_view bytes);
    void sendContinueIfExpected();

    int fd_;
    RequestHead head_;
    std::int64_t bodyBytesSeen_ = 0; // the body prefix plus what receive() delivered
    bool expectsContinue_ = false;
    bool interimOrFinalAnswerSent_ = false;
};

} // namespace ferrylantern
