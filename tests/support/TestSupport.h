// Fresh state for each test: temporary folders and a wall clock the test moves by hand.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ferrylantern::test {

// A folder under the system's temporary folder, removed with everything in it when the object goes.
class TemporaryFolder
{
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Points HOME, XDG_CONFIG_HOME and XDG_DATA_HOME at a fresh temporary folder for the object's life, so
// the default save folder, the application's own preferences and its history are the test's alone, even
// when tests run in parallel processes.
class ScopedHome
{
public:
    ScopedHome();
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TemporaryFolder folder_;
    std::vector<std::pair<const char*, std::optional<std::string>>> previous_; // each variable's value before
};

// Starts at a fixed moment and moves only when the test says so. Thread-safe.
class ManualClock
{
public:
    std::chrono::system_clock::time_point now() const;
    void advance(std::chrono::seconds by) { offset_ += by.count(); }

    // A WallClock-compatible function reading this clock; the clock must outlive it.
    std::function<std::chrono::system_clock::time_point()> function()
    {
        return [this] { return now(); };
    }

private:
    std::atomic<std::int64_t> offset_{0};
};

// The whole content of a file; empty when it cannot be read.
std::string readTextFile(const std::filesystem::path& path);

// Polls `condition` every few milliseconds until it holds or the timeout passes.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

} // namespace ferrylantern::test
