#include "server/ConnectionAdmission.h"

namespace ferrylantern {

ConnectionAdmission::ConnectionAdmission(ConnectionLimits limits)
    : limits_(limits)
{}

bool ConnectionAdmission::admit(std::uint32_t peer)
{
    const MutexLock guard(lock_);
    if (active_ >= limits_.maxConnections) {
        return false;
    }
    int& fromPeer = activePerPeer_[peer];
    if (fromPeer >= limits_.maxConnectionsPerPeer) {
        return false;
    }
    ++fromPeer;
    ++active_;
    return true;
}

void ConnectionAdmission::release(std::uint32_t peer)
{
    {
        const MutexLock guard(lock_);
        --active_;
        if (const auto found = activePerPeer_.find(peer); found != activePerPeer_.end() && --found->second <= 0) {
            activePerPeer_.erase(found);
        }
    }
    released_.notifyAll();
}

int ConnectionAdmission::activeCount() const
{
    const MutexLock guard(lock_);
    return active_;
}

bool ConnectionAdmission::waitUntilNoneActive(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const MutexLock guard(lock_);
    while (active_ != 0) {
        if (!released_.waitUntil(lock_, deadline)) {
            return active_ == 0;
        }
    }
    return true;
}

} // namespace ferrylantern
