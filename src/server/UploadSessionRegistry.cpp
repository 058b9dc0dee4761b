#include "server/UploadSessionRegistry.h"

#include <sys/socket.h>

namespace ferrylantern {

std::uint64_t UploadSessionRegistry::registerSession(const Uuid& id, int fd)
{
    const MutexLock guard(uploadSessionLock_);
    const auto registration = nextRegistration_++;
    activeUploadSessions_.insert_or_assign(id, ActiveUploadSession{fd, false, registration});
    return registration;
}

std::optional<ActiveUploadSession> UploadSessionRegistry::unregisterSession(const Uuid& id)
{
    const MutexLock guard(uploadSessionLock_);
    const auto found = activeUploadSessions_.find(id);
    if (found == activeUploadSessions_.end()) {
        return std::nullopt;
    }
    const auto session = found->second;
    activeUploadSessions_.erase(found);
    return session;
}

void UploadSessionRegistry::unregisterSession(const Uuid& id, std::uint64_t registration)
{
    const MutexLock guard(uploadSessionLock_);
    const auto found = activeUploadSessions_.find(id);
    if (found != activeUploadSessions_.end() && found->second.registration == registration) {
        activeUploadSessions_.erase(found);
    }
}

bool UploadSessionRegistry::isCancelled(const Uuid& id) const
{
    const MutexLock guard(uploadSessionLock_);
    const auto found = activeUploadSessions_.find(id);
    return found != activeUploadSessions_.end() && found->second.isCancelled;
}

void UploadSessionRegistry::cancelUpload(const Uuid& id)
{
    const MutexLock guard(uploadSessionLock_);
    const auto found = activeUploadSessions_.find(id);
    if (found == activeUploadSessions_.end()) {
        return;
    }
    found->second.isCancelled = true;
    // Shut down while the entry is still registered: its handler unregisters before it closes the
    // descriptor, so under the lock the number cannot have been reused by another connection.
    // shutdown() does not block.
    shutdown(found->second.fd, SHUT_RDWR);
}

void UploadSessionRegistry::cancelAllUploads()
{
    for (const auto& id : registeredIDs()) {
        cancelUpload(id);
    }
}

std::vector<Uuid> UploadSessionRegistry::registeredIDs() const
{
    const MutexLock guard(uploadSessionLock_);
    std::vector<Uuid> ids;
    ids.reserve(activeUploadSessions_.size());
    for (const auto& entry : activeUploadSessions_) {
        ids.push_back(entry.first);
    }
    return ids;
}

UploadSessionRegistration::UploadSessionRegistration(UploadSessionRegistry& registry, const Uuid& id, int fd)
    : registry_(registry)
    , id_(id)
    , registration_(registry_.registerSession(id_, fd))
{}

UploadSessionRegistration::~UploadSessionRegistration()
{
    registry_.unregisterSession(id_, registration_);
}

} // namespace ferrylantern
