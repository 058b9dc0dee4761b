// Load that ferrylantern-server must hold: connections that never send a byte, a batch of 500 files,
// and 64 large uploads at once, every file checked byte for byte on disk.
#include "tests/fault/FaultFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

namespace ferrylantern::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Load : public FaultTest
{
protected:
    void SetUp() override { start(); }

    // Uploads every request, `parallel` at a time; returns how many were saved byte for byte.
    int uploadAll(const std::vector<UploadRequest>& requests, int parallel, const std::filesystem::path& deviceFolder)
    {
        std::atomic<std::size_t> next{0};
        std::mutex failuresLock;
        std::vector<std::thread> workers;
        for (int w = 0; w < parallel; ++w) {
            workers.emplace_back([&] {
                for (auto i = next++; i < requests.size(); i = next++) {
                    const auto reply = upload(port, requests[i]);
                    if (reply.status != 200) {
                        const std::lock_guard guard(failuresLock);
                        ADD_FAILURE() << requests[i].query << ": " << reply.status << " " << reply.body;
                    }
                }
            });
        }
        for (auto& worker : workers) {
            worker.join();
        }
        int identical = 0;
        for (const auto& request : requests) {
            const auto name = request.query.substr(9, request.query.find('&') - 9); // after "filename="
            identical += holdsGeneratedContent(deviceFolder / name, request.seed, request.size);
        }
        return identical;
    }
};

TEST_F(Load, IdleConnectionsHoldUpNeitherUploadsNorThePage)
{
    constexpr int idleCount = 200;
    const auto before = server->snapshot();
    std::vector<std::unique_ptr<TestConnection>> idle;
    // From four addresses: one address alone may hold only so many connections.
    const char* sources[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
    for (int i = 0; i < idleCount; ++i) {
        idle.push_back(std::make_unique<TestConnection>(port, defaultTestTimeout, sources[i % 4]));
        ASSERT_TRUE(idle.back()->isConnected()) << "connection " << i;
    }
    // Every silent connection is accepted and holds a thread of its own.
    ASSERT_TRUE(eventually([&] { return server->snapshot().threads >= before.threads + idleCount; }, 10s));
    const auto holding = server->snapshot();

    const UploadRequest request{"filename=while-idle.bin&device=Phone", 11, 8 << 20, ""};
    const auto uploadStart = Clock::now();
    const auto reply = upload(port, request);
    const double uploadSeconds = secondsSince(uploadStart);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_TRUE(holdsGeneratedContent(saveDirectory / "Phone" / "while-idle.bin", request.seed, request.size));

    const auto pageStart = Clock::now();
    const auto page = sendRequest(port, buildRequest("GET", "/"));
    const double pageSeconds = secondsSince(pageStart);
    EXPECT_EQ(page.status, 200);
    EXPECT_LT(pageSeconds, 1.0);

    // Clients that hang up free their threads at once, long before the idle limit.
    idle.clear();
    const auto closeStart = Clock::now();
    EXPECT_TRUE(eventually([&] { return server->snapshot().threads <= before.threads + 1; }, 10s));
    const double releaseSeconds = secondsSince(closeStart);

    reportFigure("server threads idle / holding 200 idle connections / after close",
                 std::to_string(before.threads) + " / " + std::to_string(holding.threads) + " / " +
                     std::to_string(server->snapshot().threads));
    reportFigure("8 MiB upload meanwhile (s)", formatted(uploadSeconds, 3));
    reportFigure("page load meanwhile (ms)", formatted(pageSeconds * 1000, 1));
    reportFigure("threads released after close (s)", formatted(releaseSeconds, 2));
}

TEST_F(Load, ABatchOf500FilesArrivesByteForByte)
{
    constexpr int fileCount = 500;
    std::mt19937 random(500);
    std::vector<std::pair<std::string, std::int64_t>> files;
    for (int i = 0; i < fileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file-%03d.bin", i);
        files.emplace_back(name, std::uniform_int_distribution<std::int64_t>(1, 64 * 1024)(random));
    }
    const auto preflightStart = Clock::now();
    const auto requests = ticketedUploads(port, "Batch", files, 1000);
    const double preflightSeconds = secondsSince(preflightStart);
    ASSERT_EQ(requests.size(), files.size());

    const auto uploadStart = Clock::now();
    EXPECT_EQ(uploadAll(requests, 64, saveDirectory / "Batch"), fileCount);
    const double uploadSeconds = secondsSince(uploadStart);
    EXPECT_EQ(filesUnder(saveDirectory).size(), static_cast<std::size_t>(fileCount)) << "stray files";

    reportFigure("batch preflight of 500 files (ms)", formatted(preflightSeconds * 1000, 1));
    reportFigure("uploads, 64 at a time (per s)", formatted(fileCount / uploadSeconds, 0));
}

TEST_F(Load, SixtyFourLargeUploadsAtOnceKeepMemoryBounded)
{
    constexpr int uploadCount = 64;
    const std::int64_t size = byScale<std::int64_t>(4, 64) << 20;
    std::vector<std::pair<std::string, std::int64_t>> files;
    for (int i = 0; i < uploadCount; ++i) {
        files.emplace_back("large-" + std::to_string(i) + ".bin", size);
    }
    const auto requests = ticketedUploads(port, "Large", files, 2000);
    ASSERT_EQ(requests.size(), files.size());

    // Sampled every 20 ms while the uploads run: a sampling interval, not a wait for anything.
    const auto idle = server->snapshot();
    std::atomic<bool> sampling{true};
    std::atomic<double> highestRSS{idle.rssMiB};
    std::thread sampler([&] {
        while (sampling) {
            highestRSS = std::max(highestRSS.load(), server->snapshot().rssMiB);
            std::this_thread::sleep_for(20ms);
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(uploadAll(requests, uploadCount, saveDirectory / "Large"), uploadCount);
    const double seconds = secondsSince(start);
    sampling = false;
    sampler.join();

    // Bodies move through a pipe (kernel memory) or one 256 KiB buffer per upload: 64 uploads need a
    // few tens of MiB at most, whatever the file size, never the files themselves.
    EXPECT_LT(highestRSS - idle.rssMiB, 128.0);

    const double totalMiB = static_cast<double>(size) * uploadCount / (1 << 20);
    reportFigure("uploads at once x size (MiB)", std::to_string(uploadCount) + " x " + std::to_string(size >> 20));
    reportFigure("aggregate (MB/s)", formatted(totalMiB * 1.048576 / seconds, 0));
    reportFigure("RSS idle / highest (MiB)", formatted(idle.rssMiB) + " / " + formatted(highestRSS.load()));
}

} // namespace
} // namespace ferrylantern::test
