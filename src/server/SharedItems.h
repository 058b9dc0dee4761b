// What the desktop shares with phones: files, by reference where they lie (never copied), and texts,
// each under an opaque random id, which is all a URL ever names. The registry lives as long as its
// owner (the receiver model), so shares outlast a restart of the server and end when the program does.
//
//   auto shares = std::make_shared<SharedItems>();
//   auto item = shares->addFile("/home/me/Photos/beach.jpg");   // GET /v1/shared/<item->id.text()>
//   shares->remove(item->id);                                  // 404 from now on
//
// Thread-safe: the owner adds and removes on its thread, the server's connection threads look items up
// and note files that have gone; every access to the list happens under `lock_`, never across file or
// socket I/O.
#pragma once

#include "base/Mutex.h"
#include "server/Expected.h"
#include "server/TextRules.h"
#include "server/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ferrylantern {

struct SharedItem
{
    enum class Kind
    {
        file,
        text,
    };

    Uuid id;
    Kind kind = Kind::file;
    std::string name;           // a file's name as shown (its last path component, valid UTF-8); empty for a text
    std::filesystem::path path; // where a shared file lies; empty for a text
    std::string text;           // a shared text; empty for a file
    std::int64_t byteCount = 0; // a file's size when it was last looked at; a text's UTF-8 bytes
    bool missing = false;       // a shared file found gone from its place

    bool operator==(const SharedItem&) const = default;
};

enum class ShareFailure
{
    notARegularFile, // a folder, a device, or nothing at that path
    unreadable,      // there, but this user may not read it
    emptyText,
    textNotUTF8,
    textTooLong,
};

class SharedItems
{
public:
    // Shares the regular file at `path` (made absolute; links are followed when it is read). The file is
    // looked at now, so a path that cannot be served is refused at once.
    [[nodiscard]] Expected<SharedItem, ShareFailure> addFile(const std::filesystem::path& path) EXCLUDES(lock_);
    // Shares a text that keeps to textProblem()'s rule.
    [[nodiscard]] Expected<SharedItem, ShareFailure> addText(std::string text) EXCLUDES(lock_);
    // Ends a share; false for an id that is not shared.
    bool remove(const Uuid& id) EXCLUDES(lock_);
    void removeAll() EXCLUDES(lock_);

    std::optional<SharedItem> find(const Uuid& id) const EXCLUDES(lock_);
    // Every share in the order it was made.
    std::vector<SharedItem> items() const EXCLUDES(lock_);

    // Notes whether the file of share `id` is at its place; true when that changed the share's flag.
    bool setMissing(const Uuid& id, bool missing) EXCLUDES(lock_);

    struct Refresh
    {
        std::vector<SharedItem> items; // every share now, as just found on disk
        std::vector<Uuid> changed;     // the shares whose missing flag changed
    };
    // Looks at every shared file again (size, and whether it is there) and notes what was found.
    Refresh refreshFiles() EXCLUDES(lock_);

private:
    mutable Mutex lock_;
    std::vector<SharedItem> items_ GUARDED_BY(lock_);
};

// How a file at `path` looks now: its size, or missing when nothing readable and regular is there.
struct SharedFileState
{
    bool missing = true;
    std::int64_t byteCount = 0;
};
SharedFileState lookAtSharedFile(const std::filesystem::path& path);

} // namespace ferrylantern
