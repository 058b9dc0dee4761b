#include "server/UploadTicketStore.h"

namespace ferrylantern {

UploadTicketStore::UploadTicketStore(WallClock clock, std::size_t maxTicketsPerOwner, std::size_t maxTickets)
    : clock_(std::move(clock))
    , maxTicketsPerOwner_(maxTicketsPerOwner)
    , maxTickets_(maxTickets)
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

bool UploadTicketStore::roomFor(const std::string& owner, std::size_t count) const
{
    const auto held = ticketsPerOwner_.find(owner);
    const std::size_t ownerHolds = held == ticketsPerOwner_.end() ? 0 : held->second;
    return ownerHolds + count <= maxTicketsPerOwner_ && approvedUploadSessions_.size() + count <= maxTickets_;
}

bool UploadTicketStore::hasRoomFor(const std::string& owner, std::size_t count)
{
    const auto now = clock_();
    const MutexLock guard(approvedSessionLock_);
    purgeExpired(now);
    return roomFor(owner, count);
}

bool UploadTicketStore::issue(const std::vector<Approval>& approvals, std::uint64_t approvalRound,
                              const std::string& owner)
{
    const auto now = clock_();
    const auto expiresAt = now + approvedSessionLifetime;
    const MutexLock guard(approvedSessionLock_);
    purgeExpired(now);
    if (!roomFor(owner, approvals.size())) {
        return false;
    }
    for (const auto& approval : approvals) {
        const auto [entry, inserted] = approvedUploadSessions_.try_emplace(
            approval.id, ApprovedUploadSession{approval.safeName, approval.deviceFolder, approval.subfolder,
                                               approval.byteCount, expiresAt, approvalRound, false, owner});
        if (!inserted) {
            continue; // a fresh random id is never issued twice
        }
        expiryOrder_.emplace(expiresAt, approval.id);
        ++ticketsPerOwner_[owner];
    }
    return true;
}

std::optional<ApprovedUploadSession> UploadTicketStore::takeTicket(const Uuid& id)
{
    const auto now = clock_();
    const MutexLock guard(approvedSessionLock_);
    purgeExpired(now);
    const auto found = approvedUploadSessions_.find(id);
    if (found == approvedUploadSessions_.end()) {
        return std::nullopt;
    }
    auto ticket = std::move(found->second);
    approvedUploadSessions_.erase(found);
    forget(id, ticket);
    ticket.isRevoked = ticket.approvalRound != approvalRound_;
    return ticket;
}

std::optional<ApprovedUploadSession> UploadTicketStore::peekTicket(const Uuid& id)
{
    const auto now = clock_();
    const MutexLock guard(approvedSessionLock_);
    purgeExpired(now);
    const auto found = approvedUploadSessions_.find(id);
    if (found == approvedUploadSessions_.end()) {
        return std::nullopt;
    }
    auto ticket = found->second;
    ticket.isRevoked = ticket.approvalRound != approvalRound_;
    return ticket;
}

void UploadTicketStore::purgeExpiredTickets()
{
    const auto now = clock_();
    const MutexLock guard(approvedSessionLock_);
    purgeExpired(now);
}

std::size_t UploadTicketStore::ticketCount() const
{
    const MutexLock guard(approvedSessionLock_);
    return approvedUploadSessions_.size();
}

void UploadTicketStore::purgeExpired(std::chrono::system_clock::time_point now)
{
    while (!expiryOrder_.empty() && expiryOrder_.begin()->first <= now) {
        const Uuid id = expiryOrder_.begin()->second;
        if (const auto found = approvedUploadSessions_.find(id); found != approvedUploadSessions_.end()) {
            const auto ticket = std::move(found->second);
            approvedUploadSessions_.erase(found);
            forget(id, ticket);
        } else {
            expiryOrder_.erase(expiryOrder_.begin());
        }
    }
}

// Removes a ticket that has left the map from the expiry order and its owner's count.
void UploadTicketStore::forget(const Uuid& id, const ApprovedUploadSession& ticket)
{
    for (auto [at, end] = expiryOrder_.equal_range(ticket.expiresAt); at != end; ++at) {
        if (at->second == id) {
            expiryOrder_.erase(at);
            break;
        }
    }
    if (const auto held = ticketsPerOwner_.find(ticket.owner); held != ticketsPerOwner_.end() && --held->second == 0) {
        ticketsPerOwner_.erase(held);
    }
}

} // namespace ferrylantern
