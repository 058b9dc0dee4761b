// Upload tickets: what a preflight approved (name, device folder, size), valid for 900 seconds and
// usable once. Expired tickets are purged at every issue and every take and are never handed out.
//
// Thread-safe: every access happens under `approvedSessionLock_`.
#pragma once

#include "server/Clock.h"
#include "server/Mutex.h"
#include "server/Uuid.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ferrylantern {

struct ApprovedUploadSession
{
    std::string safeName;
    std::string deviceFolder;
    std::int64_t byteCount = 0;
    std::chrono::system_clock::time_point expiresAt;
};

class UploadTicketStore
{
public:
    static constexpr std::chrono::seconds approvedSessionLifetime{900};

    explicit UploadTicketStore(WallClock clock);

    struct Approval
    {
        Uuid id;
        std::string safeName;
        std::string deviceFolder;
        std::int64_t byteCount = 0;
    };
    // Purges expired tickets, then stores one ticket per approval, each expiring 900 s from now.
    void issue(const std::vector<Approval>& approvals) EXCLUDES(approvedSessionLock_);

    // Purges expired tickets, then removes the ticket with this id and returns it, or nullopt.
    std::optional<ApprovedUploadSession> takeTicket(const Uuid& id) EXCLUDES(approvedSessionLock_);

    void purgeExpiredTickets() EXCLUDES(approvedSessionLock_);

private:
    WallClock clock_;
    Mutex approvedSessionLock_;
    std::unordered_map<Uuid, ApprovedUploadSession> approvedUploadSessions_ GUARDED_BY(approvedSessionLock_);
};

} // namespace ferrylantern
