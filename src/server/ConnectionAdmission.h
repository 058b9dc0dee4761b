// How many connections the server handles at once, overall and per client address. Each connection
// holds a thread, a descriptor and its head; a client that opens connections faster than it finishes
// requests is refused beyond its share, so it cannot crowd out the phones that send files.
//
//   if (!admission.admit(peer)) { /* answer 503 and close */ }
//   ...
//   admission.release(peer);                // when the connection's handler ends
//
// Thread-safe: the listening thread admits, connection threads release, owners wait.
#pragma once

#include "base/Mutex.h"

#include <chrono>
#include <cstdint>
#include <unordered_map>

namespace ferrylantern {

struct ConnectionLimits
{
    int maxConnections = 1024;
    // Browsers open six connections per server; scripts may open more. A phone never needs this many.
    int maxConnectionsPerPeer = 128;
};

class ConnectionAdmission
{
public:
    explicit ConnectionAdmission(ConnectionLimits limits);

    // Counts a new connection from the IPv4 address `peer` (host byte order), or refuses it when the
    // server or that address is at its limit.
    [[nodiscard]] bool admit(std::uint32_t peer) EXCLUDES(lock_);
    void release(std::uint32_t peer) EXCLUDES(lock_);

    int activeCount() const EXCLUDES(lock_);
    // Waits until no connection is counted or the timeout passes; true when none is left.
    bool waitUntilNoneActive(std::chrono::milliseconds timeout) EXCLUDES(lock_);

private:
    const ConnectionLimits limits_;
    mutable Mutex lock_;
    ConditionVariable released_;
    int active_ GUARDED_BY(lock_) = 0;
    std::unordered_map<std::uint32_t, int> activePerPeer_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
