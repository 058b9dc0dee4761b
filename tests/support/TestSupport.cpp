#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace ferrylantern::test {

TemporaryFolder::TemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ferrylantern-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::optional<std::string> environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const char* name, const std::optional<std::string>& value)
{
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

} // namespace

ScopedHome::ScopedHome()
    : previousHome_(environment("HOME"))
    , previousConfigHome_(environment("XDG_CONFIG_HOME"))
    , previousDataHome_(environment("XDG_DATA_HOME"))
{
    setenv("HOME", folder_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder_.path() / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder_.path() / ".local" / "share").c_str(), 1);
}

ScopedHome::~ScopedHome()
{
    restore("HOME", previousHome_);
    restore("XDG_CONFIG_HOME", previousConfigHome_);
    restore("XDG_DATA_HOME", previousDataHome_);
}

std::chrono::system_clock::time_point ManualClock::now() const
{
    // 2026-01-01T00:00:00Z: a fixed start keeps expiry arithmetic in tests reproducible.
    constexpr std::chrono::sys_seconds start{std::chrono::seconds{1767225600}};
    return start + std::chrono::seconds{offset_.load()};
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace ferrylantern::test
