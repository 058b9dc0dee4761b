// A program started by a test, with its standard output and error captured to files, stopped and
// reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ferrylantern::test {

class ChildProcess
{
public:
    // Starts `program` with `arguments`; output goes to files in `outputFolder`. Standard input is a
    // pipe the test writes with writeInput().
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& outputFolder);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const;
    // Waits for the exit and returns the exit status, or nullopt when the timeout passed or the
    // process ended by a signal.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    void writeInput(const std::string& text) const;
    void closeInput();

    std::string standardOutput() const;
    std::string standardError() const;

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool reaped_ = false;
    std::filesystem::path stdoutFile_;
    std::filesystem::path stderrFile_;
};

// The text of the QR code in the picture at `picture`, as zbar reads it (a phone camera's stand-in);
// empty when none can be read.
std::string scanQRCode(const std::filesystem::path& picture);

// The port a server wrote to `portFile`, once the file exists; nullopt after the timeout.
std::optional<std::uint16_t> waitForPortFile(const std::filesystem::path& portFile,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace ferrylantern::test
