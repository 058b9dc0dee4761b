// Uploads that can go on where they stopped. An upload that came with a ticket keeps its hidden partial
// file, its claimed name and the disk space promised to it when its connection ends early (the phone
// locked, the Wi-Fi dropped) or when its body was one slice of several; a later request for the same
// ticket id continues at the byte the file holds. Fifteen minutes after its last byte an upload that
// nobody continued is removed, and so is one cancelled on the desktop or by the phone, at once, and
// every one when the server stops. A finished or cancelled upload is remembered for as long, so a phone
// that lost the answer learns what became of its file instead of sending it again.
//
// One connection at a time works on an upload, under a lease. A new request for the same upload takes
// the lease over: it ends the old connection (after a Wi-Fi drop a phone's old connection can stay
// silent for minutes) and waits until that one has let go.
//
//   auto lease = uploads.begin(ticketID, identity, connection.fd());  // the request that took the ticket
//   …receive into the partial file, lease->written(count) after each chunk…
//   if (!lease->suspend(std::move(file))) …                            // the body ended early
//
// Thread-safe: entries are read and written under `resumableLock_`; partial files are removed and the
// owner is told with the lock released.
#pragma once

#include "base/Mutex.h"
#include "server/Clock.h"
#include "server/ConfinedFolder.h"
#include "server/DiskSpace.h"
#include "server/Expected.h"
#include "server/PartialFile.h"
#include "server/ServerCallbacks.h"
#include "server/UploadDestination.h"
#include "server/Uuid.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ferrylantern {

// What a resumable upload holds between its requests: the device folder it writes into, the claimed
// final name, the open partial file (positioned at its end) and the disk space still promised to it.
struct ResumableFile
{
    ConfinedFolder folder;
    UploadDestination destination;
    PartialFile file;
    DiskSpaceLedger::Promise diskSpace;
};

// Who an upload is and who may continue it; fixed when it becomes resumable.
struct ResumableUploadIdentity
{
    Uuid progressID;   // the id of its progress events, made by its first request
    std::string owner; // the PIN session, else the client address, that may continue it
    std::string deviceFolder;
    std::string safeName;
    std::int64_t byteCount = 0; // the whole file
    std::string subfolder;      // below the device folder; empty for none
};

// Where an upload stands: bytes on disk of the whole; with the saved name once it is complete.
struct ResumePosition
{
    std::int64_t offset = 0;
    std::int64_t byteCount = 0;
    std::optional<std::string> savedName;
    std::string deviceFolder;
};

// Why a request cannot continue an upload.
enum class ResumeFailure
{
    nothingToResume, // unknown, expired, failed, or another client's
    cancelled,       // cancelled on the desktop or by the phone
    offsetConflict,  // the offset is not the count of bytes on disk (given beside it)
    mismatch,        // the request names another file or device folder than the upload's
    emptySlice,      // a body of no bytes
    beyondFile,      // the body would run past the end of the file
    busy,            // the connection working on it did not let go in time
};

struct ResumeRefusal
{
    ResumeFailure failure = ResumeFailure::nothingToResume;
    std::int64_t offset = 0; // bytes on disk, for offsetConflict
};

struct ResumeLimits
{
    // An upload nobody continues is removed this long after its last byte.
    std::chrono::seconds window{std::chrono::minutes(15)};
    // Uploads kept (being received or waiting to be continued) per owner and in all. A page sends a
    // few files at a time; beyond these an upload whose connection ends is removed as before.
    std::size_t maxPerOwner = 32;
    std::size_t maxKept = 256;
    // Finished and cancelled uploads remembered for their answers; the oldest go first.
    std::size_t maxRemembered = 20000;
};

class ResumableUploads
{
public:
    using ProgressHandler = std::function<void(const TransferUploadProgressEvent&)>;

    ResumableUploads(WallClock clock, ProgressHandler onProgress, ResumeLimits limits = {});
    ~ResumableUploads();
    ResumableUploads(const ResumableUploads&) = delete;
    ResumableUploads& operator=(const ResumableUploads&) = delete;

    class Lease;

    // How a lease that keeps its upload for later ends.
    enum class Suspension
    {
        kept,      // waiting for the next request
        cancelled, // cancelled meanwhile: removed
        stopped,   // the server stopped meanwhile: removed
    };

    // Whether `owner` may have one more upload kept now.
    bool hasRoomFor(const std::string& owner) EXCLUDES(resumableLock_);

    // Registers the upload of `ticketID`, whose request has just taken the ticket, as received by the
    // connection `connectionFD`, at 0 bytes. nullopt when the owner or the server keeps as many as it
    // may, or the server has stopped: the upload then goes on without being resumable.
    std::optional<Lease> begin(const Uuid& ticketID, ResumableUploadIdentity identity, int connectionFD)
        EXCLUDES(resumableLock_);

    struct ResumeRequest
    {
        Uuid ticketID;
        std::string owner;
        std::string safeName;
        std::string deviceFolder;
        std::int64_t offset = 0; // where the body starts in the file
        std::int64_t length = 0; // bytes in the body
        int connectionFD = -1;
        std::string subfolder;
    };
    // Continues a kept upload on the connection `connectionFD`: checks the request against the upload
    // (nothing is changed when it does not fit), takes the lease over from a connection still working
    // on it, and hands the partial file over with the lease.
    Expected<Lease, ResumeRefusal> resume(const ResumeRequest& request) EXCLUDES(resumableLock_);

    // Where the upload of `ticketID` stands for `owner`: nothingToResume or cancelled when there is no
    // such upload (or it is another owner's).
    Expected<ResumePosition, ResumeFailure> position(const Uuid& ticketID, const std::string& owner)
        EXCLUDES(resumableLock_);

    // Cancels the upload whose progress events carry `progressID` (the desktop's id): a kept upload
    // is removed at once and reported `failed`; a connection receiving one is ended and removes it.
    // False when no kept upload has that id.
    bool cancel(const Uuid& progressID) EXCLUDES(resumableLock_);
    // The same for the phone, by ticket id, for `owner` only.
    bool cancelByTicket(const Uuid& ticketID, const std::string& owner) EXCLUDES(resumableLock_);
    void cancelAll() EXCLUDES(resumableLock_);

    // A stopped server keeps nothing: every kept upload is removed at once (and reported `failed`),
    // and uploads still receiving are removed when their connections end. start() undoes it.
    void stop() EXCLUDES(resumableLock_);
    void start() EXCLUDES(resumableLock_);

    // Removes the uploads whose window has passed, reporting each `failed`; forgets old answers.
    void purgeExpired() EXCLUDES(resumableLock_);

    // Uploads kept (receiving or waiting), for tests and figures.
    std::size_t keptCount() const EXCLUDES(resumableLock_);

private:
    enum class State
    {
        receiving, // a connection holds the lease
        waiting,   // kept until its window passes
        finished,  // remembered: the file is saved
        cancelled, // remembered: cancelled
    };

    struct Entry
    {
        ResumableUploadIdentity identity;
        State state = State::receiving;
        std::int64_t bytesOnDisk = 0;
        std::chrono::system_clock::time_point lastByteAt;
        std::chrono::system_clock::time_point expiresAt; // waiting and remembered entries
        // receiving:
        int connectionFD = -1;
        std::uint64_t leaseNumber = 0;
        bool isSuperseded = false;
        bool isCancelRequested = false;
        // waiting:
        std::optional<ResumableFile> file;
        // finished:
        std::string savedName;
    };

    // Files to remove and uploads to report, gathered under the lock and handled after it.
    struct Removals
    {
        std::vector<ResumableFile> files;
        std::vector<Uuid> failedProgressIDs;
    };

    bool roomFor(const std::string& owner) const REQUIRES(resumableLock_);
    Entry* find(const Uuid& ticketID) REQUIRES(resumableLock_);
    void purgeExpired(std::chrono::system_clock::time_point now, Removals& removals) REQUIRES(resumableLock_);
    // Moves an entry to a remembered or waiting state, indexed by its expiry.
    void setExpiring(const Uuid& ticketID, Entry& entry, State state, std::chrono::system_clock::time_point expiresAt)
        REQUIRES(resumableLock_);
    void unindexExpiry(const Uuid& ticketID, const Entry& entry) REQUIRES(resumableLock_);
    // Ends a waiting or receiving entry as cancelled; a waiting one's file goes to `removals`.
    void cancelEntry(const Uuid& ticketID, Entry& entry, std::chrono::system_clock::time_point now, Removals& removals)
        REQUIRES(resumableLock_);
    void erase(const Uuid& ticketID) REQUIRES(resumableLock_);
    void releaseKept(const Entry& entry) REQUIRES(resumableLock_);
    void forgetOldestRemembered() REQUIRES(resumableLock_);
    void carryOut(Removals&& removals) EXCLUDES(resumableLock_);

    // Lease operations (see Lease).
    void written(const Uuid& ticketID, std::uint64_t lease, std::int64_t bytesOnDisk) EXCLUDES(resumableLock_);
    bool isCancelRequested(const Uuid& ticketID, std::uint64_t lease) const EXCLUDES(resumableLock_);
    Suspension suspend(const Uuid& ticketID, std::uint64_t lease, ResumableFile&& file) EXCLUDES(resumableLock_);
    void finish(const Uuid& ticketID, std::uint64_t lease, const std::string& savedName) EXCLUDES(resumableLock_);
    void endCancelled(const Uuid& ticketID, std::uint64_t lease) EXCLUDES(resumableLock_);
    void drop(const Uuid& ticketID, std::uint64_t lease) EXCLUDES(resumableLock_);

    WallClock clock_;
    ProgressHandler onProgress_;
    const ResumeLimits limits_;
    mutable Mutex resumableLock_;
    ConditionVariable leaseReleased_;
    bool isAccepting_ GUARDED_BY(resumableLock_) = true;
    std::uint64_t nextLeaseNumber_ GUARDED_BY(resumableLock_) = 1;
    std::unordered_map<Uuid, Entry> entries_ GUARDED_BY(resumableLock_);
    std::unordered_map<Uuid, Uuid> ticketByProgressID_ GUARDED_BY(resumableLock_);
    std::unordered_map<std::string, std::size_t> keptPerOwner_ GUARDED_BY(resumableLock_);
    std::size_t kept_ GUARDED_BY(resumableLock_) = 0;
    std::size_t remembered_ GUARDED_BY(resumableLock_) = 0;
    // Waiting and remembered entries by expiry, earliest first.
    std::multimap<std::chrono::system_clock::time_point, Uuid> expiryOrder_ GUARDED_BY(resumableLock_);
};

// The right of one connection to write an upload's partial file. It ends in exactly one way: kept for
// later (suspend), saved (finish), cancelled, or dropped (a failure; also when it is destroyed without
// another ending). Thread-compatible: owned by the connection's handler.
class ResumableUploads::Lease
{
public:
    Lease(Lease&& other) noexcept;
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease();

    const ResumableUploadIdentity& identity() const { return identity_; }
    // Bytes on disk when the lease began.
    std::int64_t offset() const { return offset_; }
    // The partial file and what goes with it, when the lease continues a kept upload (once).
    std::optional<ResumableFile> takeFile() { return std::exchange(file_, std::nullopt); }

    // `bytesOnDisk` bytes of the whole file are written now.
    void written(std::int64_t bytesOnDisk) const;
    // Cancelled from the desktop or by the phone while this connection works on it.
    bool isCancelRequested() const;

    // Keeps the upload with `file` for its window. When it cannot be kept (it was cancelled or the
    // server stopped meanwhile) it is removed, and the caller reports the failure.
    [[nodiscard]] Suspension suspend(ResumableFile&& file);
    // The file is saved as `savedName`.
    void finish(const std::string& savedName);
    void cancel();
    void drop();

private:
    friend class ResumableUploads;
    Lease(ResumableUploads& uploads, Uuid ticketID, std::uint64_t number, ResumableUploadIdentity identity,
          std::int64_t offset, std::optional<ResumableFile> file);

    ResumableUploads* uploads_;
    Uuid ticketID_;
    std::uint64_t number_;
    ResumableUploadIdentity identity_;
    std::int64_t offset_;
    std::optional<ResumableFile> file_;
    bool ended_ = false;
};

} // namespace ferrylantern
