// One accepted TCP connection and the one request it carries: reading the head, reading the body,
// writing the response, and closing without cutting off an answer the client has not read yet.
//
// Every wait is bounded: the head must arrive within its deadline, each read within the idle limit,
// and a body must keep up a minimum rate, so a client that sends a byte now and then cannot hold the
// connection for ever.
//
// Thread-compatible: the worker thread that handles the request owns the object. Other threads only
// ever shut the socket down by its descriptor (cancellation), which stays valid until this object
// closes it.
#pragma once

#include "server/Expected.h"
#include "server/HeadMemoryBudget.h"
#include "server/HttpResponse.h"
#include "server/RequestHead.h"
#include "server/SocketHTTPError.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ferrylantern {

// The least a body must deliver: `bytes` in every period of `per` (Apache's mod_reqtimeout asks 500
// bytes a second). A Wi-Fi stall of a few seconds is nothing; a byte a minute is not an upload.
struct MinimumBodyRate
{
    std::int64_t bytes = 30000;
    std::chrono::milliseconds per{std::chrono::seconds(60)};
};

// How long a connection may take over each part of its request.
struct ConnectionPolicy
{
    // A single read or write that waits this long without a byte fails.
    std::chrono::milliseconds idleTimeout{std::chrono::minutes(2)};
    // The whole head must have arrived this long after the connection was accepted (nginx's
    // client_header_timeout is 60 s).
    std::chrono::milliseconds headTimeout{std::chrono::seconds(60)};
    MinimumBodyRate minimumBodyRate;
};

class Connection
{
public:
    // Takes ownership of `fd`. Head bytes beyond a connection's own share come from `headBudget`,
    // which must outlive the connection. `peerIPv4Address` is the address accept() reported; without
    // it the socket is asked now.
    Connection(int fd, ConnectionPolicy policy, HeadMemoryBudget& headBudget,
               std::optional<std::string> peerIPv4Address = std::nullopt);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return fd_; }

    // The peer's numeric IPv4 address, or nullopt when the peer is not IPv4 or cannot be read. Read
    // once, when the connection was accepted: a socket the client has reset no longer knows its peer,
    // and what belongs to the client (its uploads, its questions, its folder) must not change then.
    const std::optional<std::string>& peerIPv4Address() const { return peer_; }
    // The address and port the client connected to, as this machine's own.
    std::optional<std::string> localIPv4Address() const;
    std::optional<std::uint16_t> localPort() const;

    // Reads until the blank line that ends the request head and parses the head. Fails on end of
    // stream, a read error, the idle limit or the head deadline, a head over the size limit or beyond
    // what the head budget still holds, invalid UTF-8, a malformed request line or a bad
    // Content-Length.
    [[nodiscard]] bool readHead();
    const RequestHead& head() const { return head_; }

    // Writes the response. Failures (a peer that went away) are silent; SIGPIPE is never raised.
    void send(const HttpResponse& response);
    // Writes bytes as they are (the fixed OPTIONS answer).
    void sendRaw(std::string_view bytes);
    // Sends `length` bytes of the open file `fileFD` from `offset` with sendfile(2), at most `piece`
    // bytes a call; after every call that sent something `afterPiece(bytes sent so far)` says whether
    // to go on. Returns the bytes sent: fewer than `length` when the peer has gone, the connection was
    // shut down, nothing could be sent for the idle limit, the file ended early or `afterPiece` said
    // stop. SIGPIPE is never raised.
    std::int64_t sendFile(int fileFD, std::int64_t offset, std::int64_t length, std::size_t piece,
                          const std::function<bool(std::int64_t)>& afterPiece);
    // While corked, only full segments go out (TCP_CORK, tcp(7)): a head and the file after it share
    // segments, and a file sent in pieces is not cut into a small segment at every piece's end.
    // Uncorking sends what is held.
    void setCorked(bool corked);

    // Reads the whole announced body (small JSON bodies only; callers check the length first).
    // Fails with incompleteBody when the stream ends, fails or is too slow before Content-Length
    // bytes arrived.
    [[nodiscard]] Expected<std::string, SocketHTTPError> readBody();
    // One read of body bytes from the socket, after the body prefix: the count read, 0 at end of
    // stream, -1 on an error, the idle limit or a body below the minimum rate. Answers
    // "Expect: 100-continue" before the first read.
    ssize_t receive(std::span<char> buffer);
    // The same as receive(), but the bytes go from the socket into the pipe `pipeFD` with splice(2)
    // and never pass through this process: up to `length` bytes, no more than the pipe has room for.
    // Returns spliceRefused, having read nothing, when the kernel does not splice from this socket.
    ssize_t receiveIntoPipe(int pipeFD, std::size_t length);
    static constexpr ssize_t spliceRefused = -2;
    // Whether the announced body has bytes this request has not read.
    bool hasUnreadBody() const { return bodyBytesSeen_ < head_.contentLength; }

    // True when the client has closed its side or the connection is gone: nobody is waiting for the
    // answer any more. Does not block.
    bool hasPeerHungUp() const;

    // Ends the request after its answer. When the client may still be sending (a body the request did
    // not read), closing at once could make the client's system reset the
    // connection and throw away the answer before it is read, so the sending direction is closed
    // first and what still arrives is read and thrown away, for a bounded time and byte count (as
    // nginx's lingering close does). Then the descriptor is closed by the destructor.
    void finish();

private:
    // Waits for body bytes within the idle limit and the minimum rate, then calls `readOnce` and
    // counts what it read.
    template <typename ReadOnce>
    ssize_t receiveBody(const ReadOnce& readOnce);
    void writeAll(std::string_view bytes);
    void sendContinueIfExpected();
    bool takeHeadMemory(std::size_t headBytes);
    // Waits until the socket has something to read (or an end or error to report); false when
    // `until` passed first.
    bool waitReadable(std::chrono::steady_clock::time_point until) const;
    // Waits until the socket can take more bytes (or has an error to report); false when `until`
    // passed first.
    bool waitWritable(std::chrono::steady_clock::time_point until) const;

    int fd_;
    std::optional<std::string> peer_;
    ConnectionPolicy policy_;
    HeadMemoryBudget& headBudget_;
    std::size_t headBudgetTaken_ = 0;
    const std::chrono::steady_clock::time_point acceptedAt_;
    RequestHead head_;
    bool headComplete_ = false;
    std::int64_t bodyBytesSeen_ = 0; // the body prefix plus what receive() delivered
    std::optional<std::chrono::steady_clock::time_point> rateWindowStart_;
    std::int64_t rateWindowBytes_ = 0;
    bool expectsContinue_ = false;
    bool interimOrFinalAnswerSent_ = false;
};

} // namespace ferrylantern
