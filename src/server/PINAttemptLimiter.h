// Limits wrong PIN attempts per client address, so that nobody on the network can try all 10,000
// PINs: after a few free attempts every further wrong one locks the address out for a period that
// doubles each time, up to a cap. While locked out every attempt is refused, right or wrong. A right
// PIN clears the address's record.
//
// With the default policy an attacker gets 5 tries at once, then waits 30 s, 60 s, 2 min, … and
// finally one try an hour: about 30 tries a day, so all PINs take the better part of a year.
//
// Many addresses (a whole /24 of them) would multiply that rate, so on top of the per-address schedule
// all wrong attempts together draw on one allowance: 10 at once, then one more every 10 minutes. When
// it is used up, every attempt from every address is refused unchecked until the next one is due.
// Guessing from any number of addresses then finds a PIN (5,000 tries on average) in about 35 days,
// and needs about 69 days for all 10,000. Browsers that hold a session never verify again, so the
// phones already in are unaffected; a phone that must verify meanwhile waits with the attacker.
//
// Thread-safe.
#pragma once

#include "base/Mutex.h"
#include "server/Clock.h"

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
        int everyoneFreeAttempts = 10;
        std::chrono::seconds everyoneRefillInterval{600};
    };

    explicit PINAttemptLimiter(WallClock clock = systemWallClock());
    PINAttemptLimiter(WallClock clock, Policy policy);

    // How long the client must still wait; zero when it may try now.
    std::chrono::seconds remainingLockout(const std::string& client) EXCLUDES(lock_);
    void recordFailure(const std::string& client) EXCLUDES(lock_);
    void recordSuccess(const std::string& client) EXCLUDES(lock_);
    // True while wrong attempts from anywhere have used up the allowance: someone is guessing, and
    // every address waits.
    bool isHoldingBackEveryone() EXCLUDES(lock_);

private:
    struct Record
    {
        int failures = 0;
        std::chrono::system_clock::time_point lastFailure;
        std::chrono::system_clock::time_point lockedUntil;
    };

    void forgetStaleRecords(std::chrono::system_clock::time_point now) REQUIRES(lock_);
    // Adds the attempts that became due since the last refill, up to the allowance.
    void refillEveryone(std::chrono::system_clock::time_point now) REQUIRES(lock_);
    std::chrono::seconds everyoneLockout(std::chrono::system_clock::time_point now) REQUIRES(lock_);

    WallClock clock_;
    Policy policy_;
    Mutex lock_;
    std::unordered_map<std::string, Record> records_ GUARDED_BY(lock_);
    int everyoneAttemptsLeft_ GUARDED_BY(lock_);
    std::chrono::system_clock::time_point everyoneRefilledAt_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
