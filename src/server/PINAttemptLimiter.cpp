#include "server/PINAttemptLimiter.h"

#include <algorithm>

namespace ferrylantern {

PINAttemptLimiter::PINAttemptLimiter(WallClock clock)
    : PINAttemptLimiter(std::move(clock), Policy{})
{}

PINAttemptLimiter::PINAttemptLimiter(WallClock clock, Policy policy)
    : clock_(std::move(clock))
    , policy_(policy)
    , everyoneAttemptsLeft_(policy.everyoneFreeAttempts)
    , everyoneRefilledAt_(clock_())
{}

void PINAttemptLimiter::refillEveryone(std::chrono::system_clock::time_point now)
{
    if (everyoneAttemptsLeft_ >= policy_.everyoneFreeAttempts) {
        everyoneRefilledAt_ = now;
        return;
    }
    const auto due = (now - everyoneRefilledAt_) / policy_.everyoneRefillInterval;
    if (due <= 0) {
        return;
    }
    everyoneAttemptsLeft_ = static_cast<int>(
        std::min<std::int64_t>(policy_.everyoneFreeAttempts, everyoneAttemptsLeft_ + static_cast<std::int64_t>(due)));
    everyoneRefilledAt_ += due * policy_.everyoneRefillInterval;
}

std::chrono::seconds PINAttemptLimiter::everyoneLockout(std::chrono::system_clock::time_point now)
{
    refillEveryone(now);
    if (everyoneAttemptsLeft_ > 0) {
        return std::chrono::seconds{0};
    }
    return std::chrono::ceil<std::chrono::seconds>(everyoneRefilledAt_ + policy_.everyoneRefillInterval - now);
}

std::chrono::seconds PINAttemptLimiter::remainingLockout(const std::string& client)
{
    const auto now = clock_();
    const MutexLock guard(lock_);
    const auto everyone = everyoneLockout(now);
    const auto found = records_.find(client);
    if (found == records_.end() || found->second.lockedUntil <= now) {
        return everyone;
    }
    return std::max(everyone, std::chrono::ceil<std::chrono::seconds>(found->second.lockedUntil - now));
}

bool PINAttemptLimiter::isHoldingBackEveryone()
{
    const auto now = clock_();
    const MutexLock guard(lock_);
    return everyoneLockout(now).count() > 0;
}

void PINAttemptLimiter::recordFailure(const std::string& client)
{
    const auto now = clock_();
    const MutexLock guard(lock_);
    if (records_.size() >= policy_.maxTrackedClients && !records_.contains(client)) {
        forgetStaleRecords(now);
    }
    auto& record = records_[client];
    if (record.lockedUntil <= now && now - record.lastFailure >= policy_.forgetAfter) {
        record = Record{};
    }
    record.failures += 1;
    record.lastFailure = now;
    refillEveryone(now);
    if (everyoneAttemptsLeft_ > 0) {
        --everyoneAttemptsLeft_;
    }
    const int lockouts = record.failures - policy_.freeAttempts;
    if (lockouts < 0) {
        return;
    }
    // Doubling, computed without overflow: beyond 2^20 the cap has long been reached.
    auto lockout = policy_.firstLockout * (std::int64_t{1} << std::min(lockouts, 20));
    lockout = std::min(lockout, policy_.longestLockout);
    record.lockedUntil = now + lockout;
}

void PINAttemptLimiter::recordSuccess(const std::string& client)
{
    const MutexLock guard(lock_);
    records_.erase(client);
}

void PINAttemptLimiter::forgetStaleRecords(std::chrono::system_clock::time_point now)
{
    std::erase_if(records_, [&](const auto& entry) {
        return entry.second.lockedUntil <= now && now - entry.second.lastFailure >= policy_.forgetAfter;
    });
    if (records_.size() < policy_.maxTrackedClients) {
        return;
    }
    // Still full of live records (many addresses failing at once): drop those not locked out; each of
    // them loses at most its few free attempts.
    std::erase_if(records_, [&](const auto& entry) { return entry.second.lockedUntil <= now; });
}

} // namespace ferrylantern
