// Upload tickets: what a preflight approved (name, device folder, size), valid for 900 seconds and
// usable once. Expired tickets are purged at every issue and every take and are never handed out.
//
// Tickets are found by id in constant time and purged in the order they expire, so neither costs
// more with many tickets outstanding. Each ticket belongs to an owner (the PIN session that asked for
// it, else the client's address); an owner may hold only so many unused tickets, and all owners
// together only so many more, so nobody can pile them up until memory runs out.
//
// Each ticket carries the approval round it was approved in. When the desktop user rejects everything,
// the round moves on: tickets approved before are still found, but as revoked, so an upload that
// arrives with one is ended as cancelled however late it comes.
//
// Thread-safe: every access happens under `approvedSessionLock_`.
#pragma once

#include "base/Mutex.h"
#include "server/Clock.h"
#include "server/Uuid.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ferrylantern {

struct ApprovedUploadSession
{
    std::string safeName;
    std::string deviceFolder;
    std::string subfolder; // below the device folder (safeSubfolderPath); empty for none
    std::int64_t byteCount = 0;
    std::chrono::system_clock::time_point expiresAt;
    std::uint64_t approvalRound = 0;
    bool isRevoked = false; // set when taken: approved in a round that has since been revoked
    std::string owner;
};

class UploadTicketStore
{
public:
    static constexpr std::chrono::seconds approvedSessionLifetime{900};
    // Four full batches of 500 files that were never uploaded; a page uses its tickets at once.
    static constexpr std::size_t defaultMaxTicketsPerOwner = 2000;
    static constexpr std::size_t defaultMaxTickets = 50000;

    explicit UploadTicketStore(WallClock clock, std::size_t maxTicketsPerOwner = defaultMaxTicketsPerOwner,
                               std::size_t maxTickets = defaultMaxTickets);

    struct Approval
    {
        Uuid id;
        std::string safeName;
        std::string deviceFolder;
        std::int64_t byteCount = 0;
        std::string subfolder;
    };
    // The round approvals are given in now; read it before asking the desktop user.
    std::uint64_t approvalRound() const EXCLUDES(approvedSessionLock_);
    // Whether `owner` may be given `count` more tickets now; checked before the desktop user is asked.
    bool hasRoomFor(const std::string& owner, std::size_t count) EXCLUDES(approvedSessionLock_);
    // Purges expired tickets, then stores one ticket per approval for `owner`, each expiring 900 s from
    // now and stamped with `approvalRound`, the round in which the question was asked. False (nothing
    // stored) when the owner or the store has no room for them all.
    [[nodiscard]] bool issue(const std::vector<Approval>& approvals, std::uint64_t approvalRound,
                             const std::string& owner) EXCLUDES(approvedSessionLock_);
    // Every ticket approved so far is revoked.
    void revokeApprovals() EXCLUDES(approvedSessionLock_);

    // Purges expired tickets, then removes the ticket with this id and returns it, or nullopt.
    std::optional<ApprovedUploadSession> takeTicket(const Uuid& id) EXCLUDES(approvedSessionLock_);
    // Purges expired tickets, then returns a copy of the ticket with this id, leaving it in place.
    std::optional<ApprovedUploadSession> peekTicket(const Uuid& id) EXCLUDES(approvedSessionLock_);

    void purgeExpiredTickets() EXCLUDES(approvedSessionLock_);
    std::size_t ticketCount() const EXCLUDES(approvedSessionLock_);

private:
    void purgeExpired(std::chrono::system_clock::time_point now) REQUIRES(approvedSessionLock_);
    bool roomFor(const std::string& owner, std::size_t count) const REQUIRES(approvedSessionLock_);
    void forget(const Uuid& id, const ApprovedUploadSession& ticket) REQUIRES(approvedSessionLock_);

    WallClock clock_;
    const std::size_t maxTicketsPerOwner_;
    const std::size_t maxTickets_;
    mutable Mutex approvedSessionLock_;
    std::uint64_t approvalRound_ GUARDED_BY(approvedSessionLock_) = 0;
    std::unordered_map<Uuid, ApprovedUploadSession> approvedUploadSessions_ GUARDED_BY(approvedSessionLock_);
    // The same tickets by expiry, earliest first: a purge stops at the first one still valid.
    std::multimap<std::chrono::system_clock::time_point, Uuid> expiryOrder_ GUARDED_BY(approvedSessionLock_);
    std::unordered_map<std::string, std::size_t> ticketsPerOwner_ GUARDED_BY(approvedSessionLock_);
};

} // namespace ferrylantern
