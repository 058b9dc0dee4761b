// Limits wrong PIN attempts per client address, so that nobody on the network can try all 10,000
// PINs: after a few free attempts every further wrong one locks the address out for a period that
// doubles each time, up to a cap. While locked out every attempt is refused, right or wrong. A right
// PIN clears the address's record.
//
// With the default policy an attacker gets 5 tries at once, then waits 30 s, 60 s, 2 min, … and
// finally one try an hour: about 30 tries a day, so all PINs take the better part of a year.
//
// Thread-safe.
#pragma once

#include "server/Clock.h"
#include "base/Mutex.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace ferrylantern {

class PINAttemptLimiter
{
public:
    struct Policy
    {
        int freeAttempts = 5;
        std::chrono::seconds firstLockout{30};
        std::chrono::seconds longestLockout{3600};
        std::chrono::seconds forgetAfter{86400}; // a record without failures for this long is dropped
        std::size_t maxTrackedClients = 4096;
    };

    explicit PINAttemptLimiter(WallClock clock = systemWallClock());
    PINAttemptLimiter(WallClock clock, Policy policy);

    // How long the client must still wait; zero when it may try now.
    std::chrono::seconds remainingLockout(const std::string& client) EXCLUDES(lock_);
    void recordFailure(const std::string& client) EXCLUDES(lock_);
    void recordSuccess(const std::string& client) EXCLUDES(lock_);

private:
    struct Record
    {
        int failures = 0;
        std::chrono::system_clock::time_point lastFailure;
        std::chrono::system_clock::time_point lockedUntil;
    };

    void forgetStaleRecords(std::chrono::system_clock::time_point now) REQUIRES(lock_);

    WallClock clock_;
    Policy policy_;
    Mutex lock_;
    std::unordered_map<std::string, Record> records_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
