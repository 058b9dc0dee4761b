#include "server/RawBodyReceiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ferrylantern {

namespace {

// Errors by which splice(2) says it does not handle this file, rather than that writing failed.
bool isSpliceRefusal(const std::error_code& error)
{
    return error == std::errc::invalid_argument || error == std::errc::function_not_supported ||
           error == std::errc::operation_not_supported;
}

} // namespace

RawBodyReceiver::RawBodyReceiver(Connection& connection, PartialFile& file, RawBodyTransfer transfer)
    : connection_(connection)
    , file_(file)
{
    if (transfer != RawBodyTransfer::spliceWhereSupported) {
        return;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    pipeRead_ = ends[0];
    pipeWrite_ = ends[1];
    // A pipe holds 64 KiB unless asked for more; one step should fit. Beyond the user's pipe
    // allowance the kernel refuses, and may have given this pipe less than the default.
    fcntl(pipeWrite_, F_SETPIPE_SZ, static_cast<int>(stepSize));
    const int capacity = fcntl(pipeWrite_, F_GETPIPE_SZ);
    if (capacity < static_cast<int>(smallestUsefulPipe)) {
        closePipe();
        return;
    }
    pipeCapacity_ = static_cast<std::size_t>(capacity);
}

RawBodyReceiver::~RawBodyReceiver()
{
    closePipe();
}

void RawBodyReceiver::closePipe()
{
    if (pipeRead_ >= 0) {
        close(pipeRead_);
        close(pipeWrite_);
    }
    pipeRead_ = -1;
    pipeWrite_ = -1;
}

Expected<std::size_t, std::error_code> RawBodyReceiver::receive(std::size_t length)
{
    length = std::min(length, stepSize);
    if (isSplicing()) {
        return receiveThroughPipe(length);
    }
    return receiveThroughBuffer(length);
}

Expected<std::size_t, std::error_code> RawBodyReceiver::receiveThroughPipe(std::size_t length)
{
    // The pipe is empty between steps, so all of it is room for this one.
    const ssize_t received = connection_.receiveIntoPipe(pipeWrite_, std::min(length, pipeCapacity_));
    if (received == Connection::spliceRefused) {
        closePipe();
        return receiveThroughBuffer(length);
    }
    if (received <= 0) {
        return std::size_t{0};
    }
    const auto waiting = static_cast<std::size_t>(received);
    const auto transfer = file_.appendFromPipe(pipeRead_, waiting);
    if (!transfer.error) {
        return waiting;
    }
    if (!isSpliceRefusal(transfer.error)) {
        return Unexpected{transfer.error};
    }
    // This file system does not take splice: the bytes already taken from the socket wait in the pipe,
    // and only this process can still write them.
    if (const auto error = drainPipeAndStopSplicing(waiting - transfer.moved)) {
        return Unexpected{error};
    }
    return waiting;
}

std::error_code RawBodyReceiver::drainPipeAndStopSplicing(std::size_t waiting)
{
    buffer_.resize(stepSize);
    while (waiting > 0) {
        const ssize_t drained = read(pipeRead_, buffer_.data(), std::min(waiting, buffer_.size()));
        if (drained < 0 && errno == EINTR) {
            continue;
        }
        if (drained <= 0) {
            const std::error_code error = drained < 0 ? std::error_code(errno, std::system_category())
                                                      : std::make_error_code(std::errc::io_error);
            closePipe();
            return error;
        }
        if (const auto error = file_.write({buffer_.data(), static_cast<std::size_t>(drained)})) {
            closePipe();
            return error;
        }
        waiting -= static_cast<std::size_t>(drained);
    }
    closePipe();
    return {};
}

Expected<std::size_t, std::error_code> RawBodyReceiver::receiveThroughBuffer(std::size_t length)
{
    buffer_.resize(stepSize);
    const ssize_t received = connection_.receive({buffer_.data(), length});
    if (received <= 0) {
        return std::size_t{0};
    }
    if (const auto error = file_.write({buffer_.data(), static_cast<std::size_t>(received)})) {
        return Unexpected{error};
    }
    return static_cast<std::size_t>(received);
}

} // namespace ferrylantern
