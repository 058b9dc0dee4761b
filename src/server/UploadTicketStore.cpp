#include "server/UploadTicketStore.h"

namespace ferrylantern {

UploadTicketStore::UploadTicketStore(WallClock clock)
    : clock_(std::move(clock))
{}

std::uint64_t UploadTicketStore::approvalRound() const
{
    const MutexLock guard(approvedSessionLock_);
    return approvalRound_;
}

void UploadTicketStore::revokeApprovals()
{
    const MutexLock guard(approvedSessionLock_);
    ++approvalRound_;
}

void UploadTicketStore::issue(const std::vector<Approval>& approvals, std::uint64_t approvalRound)
{
    purgeExpiredTickets();
    const auto expiresAt = clock_() + approvedSessionLifetime;
    const MutexLock guard(approvedSessionLock_);
    for (const auto& approval : approvals) {
        approvedUploadSessions_.insert_or_assign(approval.id,
                                                 ApprovedUploadSession{approval.safeName, approval.deviceFolder,
                                                                       approval.byteCount, expiresAt, approvalRound});
    }
}

std::optional<ApprovedUploadSession> UploadTicketStore::takeTicket(const Uuid& id)
{
    purgeExpiredTickets();
    const MutexLock guard(approvedSessionLock_);
    const auto found = approvedUploadSessions_.find(id);
    if (found == approvedUploadSessions_.end()) {
        return std::nullopt;
    }
    auto ticket = std::move(found->second);
    approvedUploadSessions_.erase(found);
    ticket.isRevoked = ticket.approvalRound != approvalRound_;
    return ticket;
}

void UploadTicketStore::purgeExpiredTickets()
{
    const auto now = clock_();
    const MutexLock guard(approvedSessionLock_);
    std::erase_if(approvedUploadSessions_, [now](const auto& entry) { return entry.second.expiresAt <= now; });
}

} // namespace ferrylantern
