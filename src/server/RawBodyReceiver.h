// Moves a raw upload body from its connection into its partial file, one step of at most 256 KiB at
// a time. Where it can, the bytes go socket → pipe → file with splice(2): the kernel hands the
// socket's pages to the pipe and copies them once, into the file's pages, and the process never
// touches them. Where the kernel refuses (a socket or a file system that does not splice, a pipe the
// user's allowance keeps too small), the same steps go through one buffer with read and write. The
// choice is made here and nowhere else: a refusal met in the middle of a body switches the rest of
// it to the buffer, after the bytes already in the pipe have been written.
//
//   RawBodyReceiver body(connection, file, RawBodyTransfer::spliceWhereSupported);
//   auto moved = body.receive(262144);   // bytes now in the file; 0 when the stream ended or failed
//
// Thread-compatible: owned by one upload handler.
#pragma once

#include "server/Connection.h"
#include "server/Expected.h"
#include "server/PartialFile.h"

#include <cstddef>
#include <system_error>
#include <vector>

namespace ferrylantern {

// How raw bodies travel from the socket to their files.
enum class RawBodyTransfer
{
    spliceWhereSupported, // splice(2) through a pipe, read and write where the kernel refuses it
    readAndWrite,         // always through a buffer (to compare the two, and to test the second)
};

class RawBodyReceiver
{
public:
    // The most one step moves.
    static constexpr std::size_t stepSize = 262144; // 256 KiB
    // A pipe smaller than this (the user's pipe allowance is spent) would take more calls than the
    // buffer saves copies.
    static constexpr std::size_t smallestUsefulPipe = 65536;

    RawBodyReceiver(Connection& connection, PartialFile& file, RawBodyTransfer transfer);
    ~RawBodyReceiver();
    RawBodyReceiver(const RawBodyReceiver&) = delete;
    RawBodyReceiver& operator=(const RawBodyReceiver&) = delete;

    // Receives up to `length` (at most stepSize) body bytes and appends them to the file. Returns how
    // many are now in the file: 0 when the stream ended, failed, stayed idle too long or ran below the
    // minimum rate (Connection::receive), or the file's error. A failed write may leave bytes of this
    // step out of the file; the count before the step is then still what the file holds in order.
    [[nodiscard]] Expected<std::size_t, std::error_code> receive(std::size_t length);

    // Whether the next step goes through the pipe.
    bool isSplicing() const { return pipeRead_ >= 0; }

private:
    Expected<std::size_t, std::error_code> receiveThroughPipe(std::size_t length);
    Expected<std::size_t, std::error_code> receiveThroughBuffer(std::size_t length);
    // Writes what waits in the pipe through the buffer and receives through the buffer from then on.
    std::error_code drainPipeAndStopSplicing(std::size_t waiting);
    void closePipe();

    Connection& connection_;
    PartialFile& file_;
    int pipeRead_ = -1;
    int pipeWrite_ = -1;
    std::size_t pipeCapacity_ = 0;
    std::vector<char> buffer_; // allocated when the first step goes through it
};

} // namespace ferrylantern
