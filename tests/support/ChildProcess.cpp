#include "tests/support/ChildProcess.h"

#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

namespace ferrylantern::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& outputFolder)
    : stdoutFile_(outputFolder / "stdout.txt")
    , stderrFile_(outputFolder / "stderr.txt")
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const int out = open(stdoutFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(stderrFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int input[2] = {-1, -1};
    pipe2(input, O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
        // A test that dies (an assertion that aborts) takes its services with it; and the child starts
        // with the signal mask programs expect, not the test's (which blocks SIGINT and SIGTERM).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(input[0], STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out);
    close(err);
    close(input[0]);
    input_ = input[1];
}

ChildProcess::~ChildProcess()
{
    closeInput();
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void ChildProcess::writeInput(const std::string& text) const
{
    [[maybe_unused]] const auto written = write(input_, text.data(), text.size());
}

void ChildProcess::closeInput()
{
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
}

void ChildProcess::signal(int number) const
{
    kill(pid_, number);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    int status = 0;
    const bool exited = eventually(
        [&] {
            const pid_t result = waitpid(pid_, &status, WNOHANG);
            return result == pid_;
        },
        timeout);
    if (!exited) {
        return std::nullopt;
    }
    reaped_ = true;
    if (!WIFEXITED(status)) {
        return std::nullopt;
    }
    return WEXITSTATUS(status);
}

std::string ChildProcess::standardOutput() const
{
    return readTextFile(stdoutFile_);
}

std::string ChildProcess::standardError() const
{
    return readTextFile(stderrFile_);
}

std::optional<std::uint16_t> waitForPortFile(const std::filesystem::path& portFile, std::chrono::milliseconds timeout)
{
    std::optional<std::uint16_t> port;
    eventually(
        [&] {
            std::ifstream file(portFile);
            unsigned value = 0;
            if (file >> value) {
                port = static_cast<std::uint16_t>(value);
            }
            return port.has_value();
        },
        timeout);
    return port;
}

std::string scanQRCode(const std::filesystem::path& picture)
{
    ChildProcess scanner("/usr/bin/zbarimg", {"--quiet", "--raw", picture.string()}, picture.parent_path());
    scanner.waitForExit();
    auto text = scanner.standardOutput();
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

} // namespace ferrylantern::test
