// ferrylantern-server: runs the transfer server in the foreground, for headless machines and scripts.
// Prints the access addresses, serves until SIGINT or SIGTERM, then exits 0. Usage errors exit 2,
// failures to start exit 1.
#include "HostName.h"
#include "LocalAddresses.h"
#include "ServerCommandLine.h"
#include "ServerConsole.h"
#include "SimpleSocketHTTPServer.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <system_error>
#include <vector>

using namespace ferrylantern;

namespace {

constexpr int usageError = 2;
constexpr int startFailure = 1;
constexpr std::chrono::seconds shutdownGrace{3};

// Written under a temporary name and renamed, so a script polling for the file never reads half.
bool writePortFile(const std::filesystem::path& file, std::uint16_t port)
{
    const std::filesystem::path partial = file.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << port << '\n';
        if (!out.flush()) {
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, file, error);
    return !error;
}

sigset_t stopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const auto commandLine = parseServerCommandLine(arguments);
    if (!commandLine) {
        std::cerr << "ferrylantern-server: " << commandLine.error() << "\n\n" << serverUsage();
        return usageError;
    }
    if (commandLine->showHelp) {
        std::cout << serverUsage();
        return 0;
    }

    // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const auto saveDirectory = commandLine->saveDirectory.value_or(userDownloadsFolder() / "FerryLantern");
    std::error_code folderError;
    std::filesystem::create_directories(saveDirectory, folderError);
    if (folderError) {
        std::cerr << "ferrylantern-server: cannot create " << saveDirectory << ": " << folderError.message() << "\n";
        return startFailure;
    }

    ServerOptions options;
    options.preferredPort = commandLine->port;
    if (commandLine->pin) {
        options.pinSettings = [pin = *commandLine->pin] { return PINSettings{.enabled = true, .code = pin}; };
    }
    const auto console = std::make_shared<ServerConsole>(*commandLine, std::cout, std::cin, std::cerr);
    SimpleSocketHTTPServer server(saveDirectory, commandLine->name.value_or(localComputerName()), console->callbacks(),
                                  options);
    server.setRequireReceiveConfirmation(commandLine->confirm.has_value());
    const auto port = server.start();
    if (!port) {
        std::cerr << "ferrylantern-server: " << description(port.error()) << "\n";
        return startFailure;
    }
    if (commandLine->portFile && !writePortFile(*commandLine->portFile, *port)) {
        std::cerr << "ferrylantern-server: cannot write " << *commandLine->portFile << "\n";
        return startFailure;
    }

    std::cout << "FerryLantern receiving as \"" << server.deviceName() << "\" into " << saveDirectory.string() << "\n";
    for (const auto& address : usableIPv4Addresses()) {
        std::cout << "http://" << address << ":" << *port << "/\n";
    }
    std::cout << "http://127.0.0.1:" << *port << "/" << std::endl;

    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    server.cancelAllUploads();
    if (!server.waitForConnectionsToFinish(shutdownGrace)) {
        // Requests still running (a stalled client): leave without tearing down what they use.
        std::cout.flush();
        _exit(0);
    }
    return 0;
}
