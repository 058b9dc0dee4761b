#include "server/PartialFile.h"

#include "server/Uuid.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ferrylantern {

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}

// rename() that refuses to replace an existing destination. renameat2 is not available on every file
// system; link and unlink give the same guarantee there.
int renameWithoutReplacing(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    if (link(from, to) != 0) {
        return -1;
    }
    unlink(from);
    return 0;
}

} // namespace

Expected<PartialFile, std::error_code> PartialFile::create(const std::filesystem::path& folder)
{
    auto path = folder / (std::string(partialFilePrefix) + makeUUIDText() + std::string(partialFileSuffix));
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return Unexpected{lastError()};
    }
    return PartialFile(fd, std::move(path));
}

PartialFile::PartialFile(int fd, std::filesystem::path path)
    : fd_(fd)
    , path_(std::move(path))
{}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
    , path_(std::move(other.path_))
    , committed_(std::exchange(other.committed_, true))
{}

PartialFile::~PartialFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!committed_) {
        unlink(path_.c_str());
    }
}

std::error_code PartialFile::write(std::span<const char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

std::error_code PartialFile::close()
{
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0) {
        return lastError();
    }
    return {};
}

std::error_code PartialFile::commit(const std::filesystem::path& destination, Replace replace)
{
    const int result = replace == Replace::ifPresent ? std::rename(path_.c_str(), destination.c_str())
                                                     : renameWithoutReplacing(path_.c_str(), destination.c_str());
    if (result != 0) {
        return lastError();
    }
    committed_ = true;
    return {};
}

bool isPartialFileName(std::string_view name)
{
    if (!name.starts_with(partialFilePrefix) || !name.ends_with(partialFileSuffix)) {
        return false;
    }
    const auto middle =
        name.substr(partialFilePrefix.size(), name.size() - partialFilePrefix.size() - partialFileSuffix.size());
    return middle.size() == 36 && Uuid::parse(middle).has_value();
}

std::size_t removeStalePartialFiles(const std::filesystem::path& saveDirectory, std::chrono::seconds olderThan)
{
    namespace fs = std::filesystem;
    const auto cutoff = fs::file_time_type::clock::now() - olderThan;
    std::size_t removed = 0;
    std::error_code error;
    // Partial files live only in the device folders, one level below the save folder.
    for (fs::directory_iterator folders(saveDirectory, error), end; !error && folders != end;
         folders.increment(error)) {
        std::error_code folderError;
        if (!folders->is_directory(folderError)) {
            continue;
        }
        for (fs::directory_iterator files(folders->path(), folderError); !folderError && files != end;
             files.increment(folderError)) {
            std::error_code fileError;
            if (!isPartialFileName(files->path().filename().string()) || !files->is_regular_file(fileError) ||
                files->is_symlink(fileError)) {
                continue;
            }
            const auto modified = files->last_write_time(fileError);
            if (!fileError && modified < cutoff && fs::remove(files->path(), fileError)) {
                ++removed;
            }
        }
    }
    return removed;
}

} // namespace ferrylantern
