#include "server/SharedItems.h"

#include "server/UTF8.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace ferrylantern {

SharedFileState lookAtSharedFile(const std::filesystem::path& path)
{
    struct stat status
    {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return {};
    }
    return {false, static_cast<std::int64_t>(status.st_size)};
}

Expected<SharedItem, ShareFailure> SharedItems::addFile(const std::filesystem::path& path)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    if (error) {
        return Unexpected{ShareFailure::notARegularFile};
    }
    const auto state = lookAtSharedFile(absolute);
    if (state.missing) {
        return Unexpected{ShareFailure::notARegularFile};
    }
    if (::access(absolute.c_str(), R_OK) != 0) {
        return Unexpected{ShareFailure::unreadable};
    }
    SharedItem item{.id = Uuid::random(),
                    .kind = SharedItem::Kind::file,
                    .name = validUTF8Text(absolute.filename().string()),
                    .path = absolute,
                    .text = {},
                    .byteCount = state.byteCount,
                    .missing = false};
    const MutexLock guard(lock_);
    items_.push_back(item);
    return item;
}

Expected<SharedItem, ShareFailure> SharedItems::addText(std::string text)
{
    if (const auto problem = textProblem(text)) {
        switch (*problem) {
        case TextProblem::empty:
            return Unexpected{ShareFailure::emptyText};
        case TextProblem::notUTF8:
            return Unexpected{ShareFailure::textNotUTF8};
        case TextProblem::tooLong:
            return Unexpected{ShareFailure::textTooLong};
        }
    }
    const auto byteCount = static_cast<std::int64_t>(text.size());
    SharedItem item{.id = Uuid::random(),
                    .kind = SharedItem::Kind::text,
                    .name = {},
                    .path = {},
                    .text = std::move(text),
                    .byteCount = byteCount,
                    .missing = false};
    const MutexLock guard(lock_);
    items_.push_back(item);
    return item;
}

bool SharedItems::remove(const Uuid& id)
{
    const MutexLock guard(lock_);
    return std::erase_if(items_, [&](const SharedItem& item) { return item.id == id; }) > 0;
}

void SharedItems::removeAll()
{
    const MutexLock guard(lock_);
    items_.clear();
}

std::optional<SharedItem> SharedItems::find(const Uuid& id) const
{
    const MutexLock guard(lock_);
    const auto found =
        std::find_if(items_.begin(), items_.end(), [&](const SharedItem& item) { return item.id == id; });
    return found == items_.end() ? std::nullopt : std::optional(*found);
}

std::vector<SharedItem> SharedItems::items() const
{
    const MutexLock guard(lock_);
    return items_;
}

bool SharedItems::setMissing(const Uuid& id, bool missing)
{
    const MutexLock guard(lock_);
    for (auto& item : items_) {
        if (item.id == id && item.kind == SharedItem::Kind::file && item.missing != missing) {
            item.missing = missing;
            return true;
        }
    }
    return false;
}

SharedItems::Refresh SharedItems::refreshFiles()
{
    // The disk is looked at without the lock; what was found is written back to the shares that are
    // still there, and the answer is the list as it is then (a share added meanwhile was looked at
    // when it was added).
    auto found = items();
    for (auto& item : found) {
        if (item.kind != SharedItem::Kind::file) {
            continue;
        }
        const auto state = lookAtSharedFile(item.path);
        if (!state.missing) {
            item.byteCount = state.byteCount;
        }
        item.missing = state.missing;
    }
    Refresh refresh;
    const MutexLock guard(lock_);
    for (auto& item : items_) {
        const auto looked = std::find_if(found.begin(), found.end(), [&](const SharedItem& candidate) {
            return candidate.id == item.id && candidate.kind == SharedItem::Kind::file;
        });
        if (looked == found.end()) {
            continue;
        }
        if (item.missing != looked->missing) {
            refresh.changed.push_back(item.id);
        }
        item.missing = looked->missing;
        item.byteCount = looked->byteCount;
    }
    refresh.items = items_;
    return refresh;
}

} // namespace ferrylantern
