// The connections that the desktop may cancel: uploads, single preflights and batch preflights, each
// registered under a fresh UUID for as long as its handler runs.
//
// Thread-safe: handlers register and unregister on their worker threads, the owner cancels from its
// own thread; every access to the map happens under `uploadSessionLock_`.
#pragma once

#include "base/Mutex.h"
#include "server/Uuid.h"

#include <optional>
#include <unordered_map>
#include <vector>

namespace ferrylantern {

struct ActiveUploadSession
{
    int fd = -1;
    bool isCancelled = false;
};

class UploadSessionRegistry
{
public:
    void registerSession(const Uuid& id, int fd) EXCLUDES(uploadSessionLock_);
    std::optional<ActiveUploadSession> unregisterSession(const Uuid& id) EXCLUDES(uploadSessionLock_);
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
};

} // namespace ferrylantern
