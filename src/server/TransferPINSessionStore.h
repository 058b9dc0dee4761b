// The session tokens that browsers receive for a verified PIN, with their expiry.
//
// Thread-safe: used by every worker thread of the server; each operation takes `lock_` once and
// never holds it across another call.
#pragma once

#include "server/Clock.h"
#include "base/Mutex.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ferrylantern {

class TransferPINSessionStore
{
public:
    static constexpr std::chrono::seconds defaultLifetime{43200}; // 12 hours

    // The process-wide store, created on first use.
    static TransferPINSessionStore& shared();

    explicit TransferPINSessionStore(WallClock clock = systemWallClock(),
                                     std::chrono::seconds lifetime = defaultLifetime);

    // Creates, stores and returns a new token (a random UUID's text form) valid for the lifetime.
    std::string issue() EXCLUDES(lock_);
    // An empty token is invalid; otherwise valid while stored and not expired.
    bool isValid(std::string_view token) EXCLUDES(lock_);
    void removeAll() EXCLUDES(lock_);
    void purgeExpired() EXCLUDES(lock_);

    // Tokens stand for a PIN the browser proved it knew. Call this with a fingerprint of the PIN
    // settings in force before using the store; when it differs from the previous one, every token is
    // removed, so a changed PIN or a gate switched off and on has pages verify again.
    void revokeIfSettingsChanged(std::string_view settingsFingerprint) EXCLUDES(lock_);

private:
    WallClock clock_;
    std::chrono::seconds lifetime_;
    Mutex lock_;
    std::unordered_map<std::string, std::chrono::system_clock::time_point> sessions_ GUARDED_BY(lock_);
    std::optional<std::string> lastSettingsFingerprint_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
