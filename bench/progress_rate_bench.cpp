// How many progress events one upload sends per second, whatever the chunk size: an upload of three
// seconds is paced in small chunks from a client thread while the server's progress callback counts
// `updated` events. Prints, per chunk size, the events per second overall and in the busiest second.
#include "server/SimpleSocketHTTPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace ferrylantern;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto uploadDuration = std::chrono::seconds(3);

int connectTo(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int noDelay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

// Sends chunks of `chunkSize` bytes every `pause` for the upload duration; returns the chunk count.
std::size_t pacedUpload(std::uint16_t port, std::size_t chunkSize, std::chrono::microseconds pause)
{
    const auto chunks = static_cast<std::size_t>(uploadDuration / pause);
    const std::size_t total = chunks * chunkSize;
    const int fd = connectTo(port);
    const std::string head =
        "POST /v1/upload?filename=paced.bin&device=bench HTTP/1.1\r\nContent-Length: " + std::to_string(total) +
        "\r\n\r\n";
    send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    const std::string chunk(chunkSize, 'x');
    auto next = Clock::now();
    for (std::size_t i = 0; i < chunks; ++i) {
        send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        next += pause;
        std::this_thread::sleep_until(next);
    }
    char answer[4096];
    while (recv(fd, answer, sizeof answer, 0) > 0) {
    }
    close(fd);
    return chunks;
}

} // namespace

int main()
{
    const auto folder = std::filesystem::temp_directory_path() / ("progress-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::mutex lock;
    std::vector<Clock::time_point> updates;
    TransferServerCallbacks callbacks;
    callbacks.onFileReceived = [](const ReceivedFileRecord&) {};
    callbacks.onUploadProgress = [&](const TransferUploadProgressEvent& event) {
        if (std::holds_alternative<UploadUpdated>(event)) {
            const std::lock_guard guard(lock);
            updates.push_back(Clock::now());
        }
    };
    ServerOptions options;
    options.preferredPort = 0;
    SimpleSocketHTTPServer server(folder, "Bench", callbacks, options);
    const auto port = server.start();
    if (!port) {
        std::fprintf(stderr, "cannot start the server\n");
        return 1;
    }
    std::printf("%-12s %10s %16s %22s\n", "chunk", "chunks/s", "events/s overall", "events in busiest 1 s");
    for (const auto& [chunkSize, pause] : {std::pair{std::size_t{512}, std::chrono::microseconds(100)},
                                           std::pair{std::size_t{16384}, std::chrono::microseconds(1000)},
                                           std::pair{std::size_t{262144}, std::chrono::microseconds(20000)}}) {
        updates.clear();
        const auto chunks = pacedUpload(*port, chunkSize, pause);
        std::filesystem::remove_all(folder / "bench");
        const std::lock_guard guard(lock);
        std::size_t busiest = 0;
        for (std::size_t first = 0, last = 0; last < updates.size(); ++last) {
            while (updates[last] - updates[first] >= std::chrono::seconds(1)) {
                ++first;
            }
            busiest = std::max(busiest, last - first + 1);
        }
        const double seconds = std::chrono::duration<double>(uploadDuration).count();
        std::printf("%-12s %10.0f %16.1f %22zu\n", (std::to_string(chunkSize) + " B").c_str(), chunks / seconds,
                    updates.size() / seconds, busiest);
    }
    std::printf("target: at most about ten updated events per second per upload\n");
    server.stop();
    std::filesystem::remove_all(folder);
    return 0;
}
