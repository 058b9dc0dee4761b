#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
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

ScopedHome::ScopedHome()
{
    const std::pair<const char*, std::filesystem::path> values[] = {
        {"HOME", path()}, {"XDG_CONFIG_HOME", path() / ".config"}, {"XDG_DATA_HOME", path() / ".local" / "share"}};
    for (const auto& [name, value] : values) {
        const char* previous = std::getenv(name);
        previous_.emplace_back(name, previous != nullptr ? std::optional<std::string>(previous) : std::nullopt);
        setenv(name, value.c_str(), 1);
    }
}

ScopedHome::~ScopedHome()
{
    for (const auto& [name, value] : previous_) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
}

std::chrono::system_clock::time_point ManualClock::now() const
{
    // 2026-01-01T00:00:00Z: a fixed start keeps expiry arithmetic in tests reproducible.
    constexpr std::chrono::sys_seconds start{std::chrono::seconds{1767225600}};
    return start + std::chrono::seconds{offset_.load()};
}

std::string readTextFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
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
