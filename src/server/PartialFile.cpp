#include "server/PartialFile.h"

#include "server/Uuid.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ferrylantern {

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}

// rename() inside one folder that refuses to replace an existing destination. renameat2 is not
// available on every file system; link and unlink give the same guarantee there.
int renameWithoutReplacing(int folderFD, const char* from, const char* to)
{
    if (renameat2(folderFD, from, folderFD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    if (linkat(folderFD, from, folderFD, to, 0) != 0) {
        return -1;
    }
    unlinkat(folderFD, from, 0);
    return 0;
}

} // namespace

Expected<PartialFile, std::error_code> PartialFile::create(const ConfinedFolder& folder)
{
    std::string name = std::string(partialFilePrefix) + makeUUIDText() + std::string(partialFileSuffix);
    const int folderFD = fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0);
    if (folderFD < 0) {
        return Unexpected{lastError()};
    }
    const int fd = openat(folderFD, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        const auto error = lastError();
        ::close(folderFD);
        return Unexpected{error};
    }
    return PartialFile(folderFD, fd, std::move(name));
}

PartialFile::PartialFile(int folderFD, int fd, std::string name)
    : folderFD_(folderFD)
    , fd_(fd)
    , name_(std::move(name))
{}

PartialFile::PartialFile(PartialFile&& other) noexcept
    : folderFD_(std::exchange(other.folderFD_, -1))
    , fd_(std::exchange(other.fd_, -1))
    , name_(std::move(other.name_))
    , committed_(std::exchange(other.committed_, true))
{}

PartialFile::~PartialFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (folderFD_ >= 0) {
        if (!committed_) {
            unlinkat(folderFD_, name_.c_str(), 0);
        }
        ::close(folderFD_);
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

PartialFile::PipeTransfer PartialFile::appendFromPipe(int pipeFD, std::size_t length)
{
    PipeTransfer transfer;
    while (transfer.moved < length) {
        const ssize_t moved = splice(pipeFD, nullptr, fd_, nullptr, length - transfer.moved, SPLICE_F_MOVE);
        if (moved > 0) {
            transfer.moved += static_cast<std::size_t>(moved);
            continue;
        }
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        // 0 would mean an empty pipe, which the caller's count rules out: a file that takes nothing.
        transfer.error = moved == 0 ? std::make_error_code(std::errc::io_error) : lastError();
        break;
    }
    return transfer;
}

std::error_code PartialFile::close()
{
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0) {
        return lastError();
    }
    return {};
}

std::error_code PartialFile::commit(const std::string& destination, Replace replace)
{
    const int result = replace == Replace::ifPresent
                           ? renameat(folderFD_, name_.c_str(), folderFD_, destination.c_str())
                           : renameWithoutReplacing(folderFD_, name_.c_str(), destination.c_str());
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
        // A device folder that is a link leads outside the save folder; what is there is not ours.
        if (folders->is_symlink(folderError) || !folders->is_directory(folderError)) {
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
