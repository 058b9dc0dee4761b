#include "server/TransferPINSessionStore.h"

#include "server/Uuid.h"

#include <algorithm>

namespace ferrylantern {

TransferPINSessionStore& TransferPINSessionStore::shared()
{
    static TransferPINSessionStore store;
    return store;
}

TransferPINSessionStore::TransferPINSessionStore(WallClock clock, std::chrono::seconds lifetime)
    : clock_(std::move(clock))
    , lifetime_(lifetime)
{}

std::string TransferPINSessionStore::issue()
{
    purgeExpired();
    auto token = makeUUIDText();
    const auto expiresAt = clock_() + lifetime_;
    const MutexLock guard(lock_);
    sessions_.insert_or_assign(token, expiresAt);
    return token;
}

bool TransferPINSessionStore::isValid(std::string_view token)
{
    if (token.empty()) {
        return false;
    }
    purgeExpired();
    const auto now = clock_();
    const MutexLock guard(lock_);
    const auto found = sessions_.find(std::string(token));
    return found != sessions_.end() && found->second > now;
}

void TransferPINSessionStore::removeAll()
{
    const MutexLock guard(lock_);
    sessions_.clear();
}

void TransferPINSessionStore::purgeExpired()
{
    const auto now = clock_();
    const MutexLock guard(lock_);
    std::erase_if(sessions_, [now](const auto& entry) { return entry.second <= now; });
}

void TransferPINSessionStore::revokeIfSettingsChanged(std::string_view settingsFingerprint)
{
    const MutexLock guard(lock_);
    if (lastSettingsFingerprint_ && *lastSettingsFingerprint_ != settingsFingerprint) {
        sessions_.clear();
    }
    lastSettingsFingerprint_ = std::string(settingsFingerprint);
}

} // namespace ferrylantern
