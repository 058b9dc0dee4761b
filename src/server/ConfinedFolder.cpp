#include "server/ConfinedFolder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace ferrylantern {

namespace {

std::error_code lastError()
{
    return {errno, std::system_category()};
}

// The device folder below the save folder's descriptor, never through a symbolic link.
int openBeneath(int saveFD, const std::string& name)
{
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const auto fd = static_cast<int>(syscall(SYS_openat2, saveFD, name.c_str(), &how, sizeof how));
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) {
        return fd;
    }
    // Kernels before 5.6 (or a filter that forbids the call): the name is a single component, so
    // refusing a link as its last component is all there is to walk.
    return openat(saveFD, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
}

bool isSingleComponent(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The folder `name` below `parentFD`, made when missing and opened as openBeneath does.
int makeAndOpenBeneath(int parentFD, const std::string& name)
{
    if (mkdirat(parentFD, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return -1;
    }
    return openBeneath(parentFD, name);
}

} // namespace

Expected<ConfinedFolder, std::error_code> ConfinedFolder::open(const std::filesystem::path& saveDirectory,
                                                               std::string_view name)
{
    const std::string component(name);
    if (!isSingleComponent(component)) {
        return Unexpected{std::make_error_code(std::errc::invalid_argument)};
    }
    std::error_code error;
    std::filesystem::create_directories(saveDirectory, error);
    if (error) {
        return Unexpected{error};
    }
    const int saveFD = ::open(saveDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (saveFD < 0) {
        return Unexpected{lastError()};
    }
    const int fd = makeAndOpenBeneath(saveFD, component);
    const auto failure = lastError();
    ::close(saveFD);
    if (fd < 0) {
        // O_NOFOLLOW reports a link as ELOOP, and so does RESOLVE_NO_SYMLINKS.
        return Unexpected{failure};
    }
    return ConfinedFolder(fd, saveDirectory / component);
}

Expected<ConfinedFolder, std::error_code> ConfinedFolder::openSubfolder(std::string_view relativePath) const
{
    int parentFD = fd_;
    std::filesystem::path path = path_;
    std::size_t start = 0;
    while (start <= relativePath.size()) {
        const auto slash = relativePath.find('/', start);
        const auto end = slash == std::string_view::npos ? relativePath.size() : slash;
        const std::string component(relativePath.substr(start, end - start));
        start = end + 1;
        std::error_code failure = std::make_error_code(std::errc::invalid_argument);
        int fd = -1;
        if (isSingleComponent(component)) {
            fd = makeAndOpenBeneath(parentFD, component);
            failure = lastError();
        }
        if (parentFD != fd_) {
            ::close(parentFD);
        }
        if (fd < 0) {
            return Unexpected{failure};
        }
        parentFD = fd;
        path /= component;
    }
    return ConfinedFolder(parentFD, std::move(path));
}

ConfinedFolder::ConfinedFolder(int fd, std::filesystem::path path)
    : fd_(fd)
    , path_(std::move(path))
{}

ConfinedFolder::ConfinedFolder(ConfinedFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
    , path_(std::move(other.path_))
{}

ConfinedFolder::~ConfinedFolder()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ConfinedFolder::contains(std::string_view name) const
{
    struct stat status
    {};
    return fstatat(fd_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool isUnsafeFolderError(const std::error_code& error)
{
    return error == std::errc::too_many_symbolic_link_levels || error == std::errc::not_a_directory;
}

} // namespace ferrylantern
