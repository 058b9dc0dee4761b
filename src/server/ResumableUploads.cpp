#include "server/ResumableUploads.h"

#include <sys/socket.h>

namespace ferrylantern {

namespace {

// How long a request that continues an upload waits for the connection it takes over from. That
// connection's socket is shut down, so it notices at once unless it is in the middle of a disk write.
constexpr std::chrono::seconds takeOverTimeout{10};

} // namespace

ResumableUploads::ResumableUploads(WallClock clock, ProgressHandler onProgress, ResumeLimits limits)
    : clock_(std::move(clock))
    , onProgress_(std::move(onProgress))
    , limits_(limits)
{}

ResumableUploads::~ResumableUploads() = default;

bool ResumableUploads::hasRoomFor(const std::string& owner)
{
    const MutexLock guard(resumableLock_);
    return roomFor(owner);
}

bool ResumableUploads::roomFor(const std::string& owner) const
{
    const auto held = keptPerOwner_.find(owner);
    return isAccepting_ && kept_ < limits_.maxKept &&
           (held == keptPerOwner_.end() || held->second < limits_.maxPerOwner);
}

std::optional<ResumableUploads::Lease> ResumableUploads::begin(const Uuid& ticketID, ResumableUploadIdentity identity,
                                                               int connectionFD)
{
    Removals removals;
    std::optional<Lease> lease;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        purgeExpired(now, removals);
        if (roomFor(identity.owner) && !entries_.contains(ticketID)) {
            Entry entry;
            entry.identity = identity;
            entry.lastByteAt = now;
            entry.connectionFD = connectionFD;
            entry.leaseNumber = nextLeaseNumber_++;
            ticketByProgressID_[identity.progressID] = ticketID;
            ++keptPerOwner_[identity.owner];
            ++kept_;
            const auto number = entry.leaseNumber;
            entries_.emplace(ticketID, std::move(entry));
            lease.emplace(Lease(*this, ticketID, number, std::move(identity), 0, std::nullopt));
        }
    }
    carryOut(std::move(removals));
    return lease;
}

Expected<ResumableUploads::Lease, ResumeRefusal> ResumableUploads::resume(const ResumeRequest& request)
{
    Removals removals;
    std::optional<Expected<Lease, ResumeRefusal>> outcome;
    {
        const auto now = clock_();
        MutexLock guard(resumableLock_);
        purgeExpired(now, removals);
        const auto refuse = [&](ResumeFailure failure, std::int64_t offset = 0) {
            outcome.emplace(Unexpected{ResumeRefusal{failure, offset}});
        };
        Entry* entry = find(request.ticketID);
        if (entry == nullptr || entry->identity.owner != request.owner) {
            refuse(ResumeFailure::nothingToResume);
        } else if (entry->state == State::cancelled) {
            refuse(ResumeFailure::cancelled);
        } else if (entry->state == State::finished) {
            refuse(ResumeFailure::offsetConflict, entry->identity.byteCount);
        } else if (entry->identity.safeName != request.safeName ||
                   entry->identity.deviceFolder != request.deviceFolder ||
                   entry->identity.subfolder != request.subfolder) {
            refuse(ResumeFailure::mismatch);
        } else if (request.length <= 0) {
            refuse(ResumeFailure::emptySlice);
        } else if (request.offset > entry->identity.byteCount - request.length) {
            refuse(ResumeFailure::beyondFile);
        } else {
            // A connection still on it is over: the client would not ask otherwise. Its socket is shut
            // down, and it lets go once it notices.
            const auto deadline = std::chrono::steady_clock::now() + takeOverTimeout;
            while (entry != nullptr && entry->state == State::receiving) {
                if (!entry->isSuperseded) {
                    entry->isSuperseded = true;
                    shutdown(entry->connectionFD, SHUT_RDWR);
                }
                if (!leaseReleased_.waitUntil(resumableLock_, deadline) &&
                    std::chrono::steady_clock::now() >= deadline) {
                    break;
                }
                entry = find(request.ticketID);
            }
            if (entry == nullptr) {
                refuse(ResumeFailure::nothingToResume);
            } else if (entry->state == State::receiving) {
                refuse(ResumeFailure::busy);
            } else if (entry->state == State::cancelled) {
                refuse(ResumeFailure::cancelled);
            } else if (entry->state == State::finished) {
                refuse(ResumeFailure::offsetConflict, entry->identity.byteCount);
            } else if (entry->bytesOnDisk != request.offset) {
                refuse(ResumeFailure::offsetConflict, entry->bytesOnDisk);
            } else {
                unindexExpiry(request.ticketID, *entry);
                entry->state = State::receiving;
                entry->connectionFD = request.connectionFD;
                entry->leaseNumber = nextLeaseNumber_++;
                entry->isSuperseded = false;
                entry->isCancelRequested = false;
                outcome.emplace(Lease(*this, request.ticketID, entry->leaseNumber, entry->identity, entry->bytesOnDisk,
                                      std::exchange(entry->file, std::nullopt)));
            }
        }
    }
    carryOut(std::move(removals));
    return std::move(*outcome);
}

Expected<ResumePosition, ResumeFailure> ResumableUploads::position(const Uuid& ticketID, const std::string& owner)
{
    Removals removals;
    std::optional<Expected<ResumePosition, ResumeFailure>> answer;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        purgeExpired(now, removals);
        const Entry* entry = find(ticketID);
        if (entry == nullptr || entry->identity.owner != owner) {
            answer.emplace(Unexpected{ResumeFailure::nothingToResume});
        } else if (entry->state == State::cancelled) {
            answer.emplace(Unexpected{ResumeFailure::cancelled});
        } else if (entry->state == State::finished) {
            answer.emplace(ResumePosition{entry->identity.byteCount, entry->identity.byteCount, entry->savedName,
                                          entry->identity.deviceFolder});
        } else {
            answer.emplace(ResumePosition{entry->bytesOnDisk, entry->identity.byteCount, std::nullopt,
                                          entry->identity.deviceFolder});
        }
    }
    carryOut(std::move(removals));
    return std::move(*answer);
}

bool ResumableUploads::cancel(const Uuid& progressID)
{
    Removals removals;
    bool found = false;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        const auto ticket = ticketByProgressID_.find(progressID);
        if (ticket != ticketByProgressID_.end()) {
            const Uuid ticketID = ticket->second;
            if (Entry* entry = find(ticketID)) {
                found = entry->state == State::receiving || entry->state == State::waiting;
                cancelEntry(ticketID, *entry, now, removals);
            }
        }
    }
    carryOut(std::move(removals));
    return found;
}

bool ResumableUploads::cancelByTicket(const Uuid& ticketID, const std::string& owner)
{
    Removals removals;
    bool found = false;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        purgeExpired(now, removals);
        Entry* entry = find(ticketID);
        if (entry != nullptr && entry->identity.owner == owner) {
            found = entry->state != State::finished;
            cancelEntry(ticketID, *entry, now, removals);
        }
    }
    carryOut(std::move(removals));
    return found;
}

void ResumableUploads::cancelAll()
{
    Removals removals;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        std::vector<Uuid> ids;
        for (const auto& [ticketID, entry] : entries_) {
            ids.push_back(ticketID);
        }
        for (const auto& ticketID : ids) {
            cancelEntry(ticketID, entries_.at(ticketID), now, removals);
        }
    }
    carryOut(std::move(removals));
}

void ResumableUploads::stop()
{
    Removals removals;
    {
        const MutexLock guard(resumableLock_);
        isAccepting_ = false;
        std::vector<Uuid> ids;
        for (const auto& [ticketID, entry] : entries_) {
            ids.push_back(ticketID);
        }
        for (const auto& ticketID : ids) {
            Entry& entry = entries_.at(ticketID);
            if (entry.state == State::receiving) {
                continue; // its connection runs on; what it leaves is not kept
            }
            if (entry.state == State::waiting) {
                removals.files.push_back(std::move(*entry.file));
                removals.failedProgressIDs.push_back(entry.identity.progressID);
            }
            erase(ticketID);
        }
    }
    carryOut(std::move(removals));
}

void ResumableUploads::start()
{
    const MutexLock guard(resumableLock_);
    isAccepting_ = true;
}

void ResumableUploads::purgeExpired()
{
    Removals removals;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        purgeExpired(now, removals);
    }
    carryOut(std::move(removals));
}

std::size_t ResumableUploads::keptCount() const
{
    const MutexLock guard(resumableLock_);
    return kept_;
}

ResumableUploads::Entry* ResumableUploads::find(const Uuid& ticketID)
{
    const auto found = entries_.find(ticketID);
    return found == entries_.end() ? nullptr : &found->second;
}

void ResumableUploads::purgeExpired(std::chrono::system_clock::time_point now, Removals& removals)
{
    while (!expiryOrder_.empty() && expiryOrder_.begin()->first <= now) {
        const Uuid ticketID = expiryOrder_.begin()->second;
        Entry* entry = find(ticketID);
        if (entry == nullptr) {
            expiryOrder_.erase(expiryOrder_.begin());
            continue;
        }
        if (entry->state == State::waiting) {
            removals.files.push_back(std::move(*entry->file));
            removals.failedProgressIDs.push_back(entry->identity.progressID);
        }
        erase(ticketID);
    }
}

void ResumableUploads::setExpiring(const Uuid& ticketID, Entry& entry, State state,
                                   std::chrono::system_clock::time_point expiresAt)
{
    const bool wasKept = entry.state == State::receiving || entry.state == State::waiting;
    const bool isKept = state == State::waiting;
    unindexExpiry(ticketID, entry);
    entry.state = state;
    entry.expiresAt = expiresAt;
    expiryOrder_.emplace(expiresAt, ticketID);
    if (wasKept && !isKept) {
        releaseKept(entry);
        ++remembered_;
        while (remembered_ > limits_.maxRemembered) {
            forgetOldestRemembered();
        }
    }
}

void ResumableUploads::unindexExpiry(const Uuid& ticketID, const Entry& entry)
{
    if (entry.state == State::receiving) {
        return; // not indexed
    }
    for (auto [at, end] = expiryOrder_.equal_range(entry.expiresAt); at != end; ++at) {
        if (at->second == ticketID) {
            expiryOrder_.erase(at);
            return;
        }
    }
}

void ResumableUploads::cancelEntry(const Uuid& ticketID, Entry& entry, std::chrono::system_clock::time_point now,
                                   Removals& removals)
{
    switch (entry.state) {
    case State::receiving:
        // Its connection notices, removes the file and reports.
        entry.isCancelRequested = true;
        shutdown(entry.connectionFD, SHUT_RDWR);
        break;
    case State::waiting:
        removals.files.push_back(std::move(*entry.file));
        entry.file.reset();
        removals.failedProgressIDs.push_back(entry.identity.progressID);
        setExpiring(ticketID, entry, State::cancelled, now + limits_.window);
        break;
    case State::finished:
    case State::cancelled:
        break;
    }
}

void ResumableUploads::erase(const Uuid& ticketID)
{
    const auto found = entries_.find(ticketID);
    if (found == entries_.end()) {
        return;
    }
    Entry& entry = found->second;
    unindexExpiry(ticketID, entry);
    if (entry.state == State::receiving || entry.state == State::waiting) {
        releaseKept(entry);
    } else {
        --remembered_;
    }
    if (const auto progress = ticketByProgressID_.find(entry.identity.progressID);
        progress != ticketByProgressID_.end() && progress->second == ticketID) {
        ticketByProgressID_.erase(progress);
    }
    entries_.erase(found);
    leaseReleased_.notifyAll();
}

void ResumableUploads::releaseKept(const Entry& entry)
{
    --kept_;
    if (const auto held = keptPerOwner_.find(entry.identity.owner);
        held != keptPerOwner_.end() && --held->second == 0) {
        keptPerOwner_.erase(held);
    }
}

void ResumableUploads::forgetOldestRemembered()
{
    for (auto at = expiryOrder_.begin(); at != expiryOrder_.end(); ++at) {
        const Entry* entry = find(at->second);
        if (entry != nullptr && (entry->state == State::finished || entry->state == State::cancelled)) {
            erase(at->second);
            return;
        }
    }
}

void ResumableUploads::carryOut(Removals&& removals)
{
    // Destroying the files removes the partial files and gives up their names and disk space.
    removals.files.clear();
    if (onProgress_) {
        for (const auto& progressID : removals.failedProgressIDs) {
            onProgress_(UploadFailed{progressID});
        }
    }
}

void ResumableUploads::written(const Uuid& ticketID, std::uint64_t lease, std::int64_t bytesOnDisk)
{
    const auto now = clock_();
    const MutexLock guard(resumableLock_);
    Entry* entry = find(ticketID);
    if (entry != nullptr && entry->state == State::receiving && entry->leaseNumber == lease) {
        entry->bytesOnDisk = bytesOnDisk;
        entry->lastByteAt = now;
    }
}

bool ResumableUploads::isCancelRequested(const Uuid& ticketID, std::uint64_t lease) const
{
    const MutexLock guard(resumableLock_);
    const auto found = entries_.find(ticketID);
    return found != entries_.end() && found->second.leaseNumber == lease && found->second.isCancelRequested;
}

ResumableUploads::Suspension ResumableUploads::suspend(const Uuid& ticketID, std::uint64_t lease, ResumableFile&& file)
{
    Removals removals;
    auto outcome = Suspension::cancelled;
    {
        const auto now = clock_();
        const MutexLock guard(resumableLock_);
        Entry* entry = find(ticketID);
        if (entry != nullptr && entry->state == State::receiving && entry->leaseNumber == lease) {
            if (entry->isCancelRequested) {
                removals.files.push_back(std::move(file));
                setExpiring(ticketID, *entry, State::cancelled, now + limits_.window);
            } else if (!isAccepting_) {
                removals.files.push_back(std::move(file));
                erase(ticketID);
                outcome = Suspension::stopped;
            } else {
                entry->file.emplace(std::move(file));
                setExpiring(ticketID, *entry, State::waiting, entry->lastByteAt + limits_.window);
                outcome = Suspension::kept;
            }
            leaseReleased_.notifyAll();
        } else {
            removals.files.push_back(std::move(file));
        }
    }
    // The caller reports an upload that could not be kept.
    carryOut(std::move(removals));
    return outcome;
}

void ResumableUploads::finish(const Uuid& ticketID, std::uint64_t lease, const std::string& savedName)
{
    const auto now = clock_();
    const MutexLock guard(resumableLock_);
    Entry* entry = find(ticketID);
    if (entry != nullptr && entry->state == State::receiving && entry->leaseNumber == lease) {
        entry->bytesOnDisk = entry->identity.byteCount;
        entry->savedName = savedName;
        setExpiring(ticketID, *entry, State::finished, now + limits_.window);
        leaseReleased_.notifyAll();
    }
}

void ResumableUploads::endCancelled(const Uuid& ticketID, std::uint64_t lease)
{
    const auto now = clock_();
    const MutexLock guard(resumableLock_);
    Entry* entry = find(ticketID);
    if (entry != nullptr && entry->state == State::receiving && entry->leaseNumber == lease) {
        setExpiring(ticketID, *entry, State::cancelled, now + limits_.window);
        leaseReleased_.notifyAll();
    }
}

void ResumableUploads::drop(const Uuid& ticketID, std::uint64_t lease)
{
    const MutexLock guard(resumableLock_);
    Entry* entry = find(ticketID);
    if (entry != nullptr && entry->state == State::receiving && entry->leaseNumber == lease) {
        erase(ticketID);
    }
}

// MARK: Lease

ResumableUploads::Lease::Lease(ResumableUploads& uploads, Uuid ticketID, std::uint64_t number,
                               ResumableUploadIdentity identity, std::int64_t offset, std::optional<ResumableFile> file)
    : uploads_(&uploads)
    , ticketID_(ticketID)
    , number_(number)
    , identity_(std::move(identity))
    , offset_(offset)
    , file_(std::move(file))
{}

ResumableUploads::Lease::Lease(Lease&& other) noexcept
    : uploads_(std::exchange(other.uploads_, nullptr))
    , ticketID_(other.ticketID_)
    , number_(other.number_)
    , identity_(std::move(other.identity_))
    , offset_(other.offset_)
    , file_(std::move(other.file_))
    , ended_(std::exchange(other.ended_, true))
{}

ResumableUploads::Lease::~Lease()
{
    drop();
}

void ResumableUploads::Lease::written(std::int64_t bytesOnDisk) const
{
    uploads_->written(ticketID_, number_, bytesOnDisk);
}

bool ResumableUploads::Lease::isCancelRequested() const
{
    return uploads_->isCancelRequested(ticketID_, number_);
}

ResumableUploads::Suspension ResumableUploads::Lease::suspend(ResumableFile&& file)
{
    if (ended_ || uploads_ == nullptr) {
        ResumableFile removed(std::move(file));
        return Suspension::cancelled;
    }
    ended_ = true;
    return uploads_->suspend(ticketID_, number_, std::move(file));
}

void ResumableUploads::Lease::finish(const std::string& savedName)
{
    if (!std::exchange(ended_, true) && uploads_ != nullptr) {
        uploads_->finish(ticketID_, number_, savedName);
    }
}

void ResumableUploads::Lease::cancel()
{
    if (!std::exchange(ended_, true) && uploads_ != nullptr) {
        uploads_->endCancelled(ticketID_, number_);
    }
}

void ResumableUploads::Lease::drop()
{
    if (!std::exchange(ended_, true) && uploads_ != nullptr) {
        uploads_->drop(ticketID_, number_);
    }
}

} // namespace ferrylantern
