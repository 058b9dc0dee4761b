// Upload tickets: what a preflight approved (name, device folder, size), valid for 900 seconds and
// usable once. Expired tickets are purged at every issue and every take and are never handed out.
//
// Each ticket carries the approval round it was approved in. When the desktop user rejects everything,
// the round moves on: tickets approved before are still found, but as revoked, so an upload that
// arrives with one is ended as cancelled however late it comes.
//
// Thread-safe: every access happens under `approvedSessionLock_`.
#pragma once

#include "server/Clock.h"
#include "base/Mutex.h"
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
    std::uint64_t approvalRound = 0;
    bool isRevoked = false; // set when taken: approved in a round that has since been revoked
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
    // The round approvals are given in now; read it before asking the desktop user.
    std::uint64_t approvalRound() const EXCLUDES(approvedSessionLock_);
    // Purges expired tickets, then stores one ticket per approval, each expiring 900 s from now and
    // stamped with `approvalRound`, the round in which the question was asked.
    void issue(const std::vector<Approval>& approvals, std::uint64_t approvalRound) EXCLUDES(approvedSessionLock_);
    // Every ticket approved so far is revoked.
    void revokeApprovals() EXCLUDES(approvedSessionLock_);

    // Purges expired tickets, then removes the ticket with this id and returns it, or nullopt.
    std::optional<ApprovedUploadSession> takeTicket(const Uuid& id) EXCLUDES(approvedSessionLock_);

    void purgeExpiredTickets() EXCLUDES(approvedSessionLock_);

private:
    WallClock clock_;
    mutable Mutex approvedSessionLock_;
    std::uint64_t approvalRound_ GUARDED_BY(approvedSessionLock_) = 0;
    std::unordered_map<Uuid, ApprovedUploadSession> approvedUploadSessions_ GUARDED_BY(approvedSessionLock_);
};

} // namespace ferrylantern
