// The connections that the desktop may cancel: uploads, single preflights and batch preflights, each
// registered under a fresh UUID for as long as its handler runs.
//
// Thread-safe: handlers register and unregister on their worker threads, the owner cancels from its
// own thread; every access to the map happens under `uploadSessionLock_`.
#pragma once

#include "base/Mutex.h"
#include "server/Uuid.h"

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace ferrylantern {

struct ActiveUploadSession
{
    int fd = -1;
    bool isCancelled = false;
    std::uint64_t registration = 0; // which registration of the id this is
};

class UploadSessionRegistry
{
public:
    // Registers `fd` under `id`, replacing an earlier registration of the id (a resumed upload's new
    // connection replaces its old one); returns the number of this registration.
    std::uint64_t registerSession(const Uuid& id, int fd) EXCLUDES(uploadSessionLock_);
    std::optional<ActiveUploadSession> unregisterSession(const Uuid& id) EXCLUDES(uploadSessionLock_);
    // Removes the entry only while it is still registration `registration`, so an old connection that
    // ends late does not unregister the connection that replaced it.
    void unregisterSession(const Uuid& id, std::uint64_t registration) EXCLUDES(uploadSessionLock_);
    // The entry's flag; false when there is no entry.
    bool isCancelled(const Uuid& id) const EXCLUDES(uploadSessionLock_);

    // Marks the entry cancelled (it stays registered) and shuts its socket down in both directions,
    // which ends a blocked read at once. The descriptor is not closed: its handler owns it. Does
    // nothing for an unknown id.
    void cancelUpload(const Uuid& id) EXCLUDES(uploadSessionLock_);
    void cancelAllUploads() EXCLUDES(uploadSessionLock_);

    std::vector<Uuid> registeredIDs() const EXCLUDES(uploadSessionLock_);

private:
    mutable Mutex uploadSessionLock_;
    std::unordered_map<Uuid, ActiveUploadSession> activeUploadSessions_ GUARDED_BY(uploadSessionLock_);
    std::uint64_t nextRegistration_ GUARDED_BY(uploadSessionLock_) = 1;
};

// Registers an id for the life of a handler and unregisters it on every path out.
class UploadSessionRegistration
{
public:
    UploadSessionRegistration(UploadSessionRegistry& registry, const Uuid& id, int fd);
    ~UploadSessionRegistration();
    UploadSessionRegistration(const UploadSessionRegistration&) = delete;
    UploadSessionRegistration& operator=(const UploadSessionRegistration&) = delete;

    bool isCancelled() const { return registry_.isCancelled(id_); }

private:
    UploadSessionRegistry& registry_;
    Uuid id_;
    std::uint64_t registration_;
};

} // namespace ferrylantern
