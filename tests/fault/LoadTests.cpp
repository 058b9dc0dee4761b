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

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Load : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = std::make_unique<ServerProcess>(saveDirectory, folder.path() / "server");
        ASSERT_NE(server->port(), 0) << server->output();
        port = server->port();
    }

    // Uploads every request, `parallel` at a time; returns how many were answered 200.
    int uploadAll(const std::vector<UploadRequest>& requests, int parallel)
    {
        std::atomic<std::size_t> next{0};
        std::atomic<int> saved{0};
        std::mutex failuresLock;
        std::vector<std::thread> workers;
        for (int w = 0; w < parallel; ++w) {
            workers.emplace_back([&] {
                for (auto i = next++; i < requests.size(); i = next++) {
                    const auto reply = upload(port, requests[i]);
                    if (reply.status == 200) {
                        ++saved;
                    } else {
                        const std::lock_guard guard(failuresLock);
                        ADD_FAILURE() << requests[i].query << ": " << reply.status << " " << reply.body;
                    }
                }
            });
        }
        for (auto& worker : workers) {
            worker.join();
        }
        return saved;
    }

    TemporaryFolder folder;
    std::filesystem::path saveDirectory = folder.path() / "save";
    std::unique_ptr<ServerProcess> server;
    std::uint16_t port = 0;
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

    reportFigure("idle connections held", std::to_string(idleCount));
    reportFigure("server threads idle / holding / after close", std::to_string(before.threads) + " / " +
                                                                    std::to_string(holding.threads) + " / " +
                                                                    std::to_string(server->snapshot().threads));
    reportFigure("8 MiB upload meanwhile (s)", formatted(uploadSeconds, 3));
    reportFigure("page load meanwhile (ms)", formatted(pageSeconds * 1000, 1));
    reportFigure("threads released after close (s)", formatted(releaseSeconds, 2));
}

TEST_F(Load, ABatchOf500FilesArrivesByteForByte)
{
    constexpr int fileCount = 500;
    constexpr int parallel = 64;
    std::mt19937 random(500);
    std::vector<std::pair<std::string, std::int64_t>> files;
    for (int i = 0; i < fileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file-%03d.bin", i);
        files.emplace_back(name, std::uniform_int_distribution<std::int64_t>(1, 64 * 1024)(random));
    }
    const auto preflightStart = Clock::now();
    const auto tickets = batchTickets(port, "Batch", files);
    const double preflightSeconds = secondsSince(preflightStart);
    ASSERT_EQ(tickets.size(), files.size());

    std::vector<UploadRequest> requests;
    for (int i = 0; i < fileCount; ++i) {
        requests.push_back({"filename=" + files[i].first + "&device=Batch&uploadId=" + tickets[i],
                            static_cast<std::uint64_t>(1000 + i), files[i].second, ""});
    }
    const auto uploadStart = Clock::now();
    const int saved = uploadAll(requests, parallel);
    const double uploadSeconds = secondsSince(uploadStart);
    EXPECT_EQ(saved, fileCount);

    int identical = 0;
    for (int i = 0; i < fileCount; ++i) {
        identical += holdsGeneratedContent(saveDirectory / "Batch" / files[i].first, requests[i].seed, files[i].second);
    }
    EXPECT_EQ(identical, fileCount);
    EXPECT_EQ(filesUnder(saveDirectory).size(), static_cast<std::size_t>(fileCount)) << "stray files";

    reportFigure("batch preflight of 500 files (ms)", formatted(preflightSeconds * 1000, 1));
    reportFigure("uploads, 64 at a time (per s)", formatted(fileCount / uploadSeconds, 0));
    reportFigure("files saved / byte-identical", std::to_string(saved) + " / " + std::to_string(identical));
}

TEST_F(Load, SixtyFourLargeUploadsAtOnceKeepMemoryBounded)
{
    constexpr int uploadCount = 64;
    const std::int64_t size = byScale<std::int64_t>(4, 64) << 20;
    std::vector<std::pair<std::string, std::int64_t>> files;
    for (int i = 0; i < uploadCount; ++i) {
        files.emplace_back("large-" + std::to_string(i) + ".bin", size);
    }
    const auto tickets = batchTickets(port, "Large", files);
    ASSERT_EQ(tickets.size(), files.size());
    std::vector<UploadRequest> requests;
    for (int i = 0; i < uploadCount; ++i) {
        requests.push_back({"filename=" + files[i].first + "&device=Large&uploadId=" + tickets[i],
                            static_cast<std::uint64_t>(2000 + i), size, ""});
    }

    const auto idle = server->snapshot();
    std::atomic<bool> sampling{true};
    std::atomic<double> highestRSS{idle.rssMiB};
    std::thread sampler([&] {
        while (sampling) {
            const double rss = server->snapshot().rssMiB;
            if (rss > highestRSS) {
                highestRSS = rss;
            }
            std::this_thread::sleep_for(20ms);
        }
    });
    const auto cpuBefore = server->snapshot().cpuSeconds;
    const auto start = Clock::now();
    const int saved = uploadAll(requests, uploadCount);
    const double seconds = secondsSince(start);
    const auto cpuAfter = server->snapshot().cpuSeconds;
    sampling = false;
    sampler.join();
    EXPECT_EQ(saved, uploadCount);

    int identical = 0;
    for (int i = 0; i < uploadCount; ++i) {
        identical += holdsGeneratedContent(saveDirectory / "Large" / files[i].first, requests[i].seed, size);
    }
    EXPECT_EQ(identical, uploadCount);

    // Bodies move through a pipe (kernel memory) or one 256 KiB buffer per upload: 64 uploads need a
    // few tens of MiB at most, whatever the file size, never the files themselves.
    const double growth = highestRSS - idle.rssMiB;
    EXPECT_LT(growth, 128.0);

    const double totalMiB = static_cast<double>(size) * uploadCount / (1 << 20);
    reportFigure("uploads at once x size (MiB)", std::to_string(uploadCount) + " x " + std::to_string(size >> 20));
    reportFigure("aggregate (MB/s)", formatted(totalMiB * 1.048576 / seconds, 0));
    reportFigure("server CPU per GiB (s)", formatted((cpuAfter - cpuBefore) / (totalMiB / 1024), 2));
    reportFigure("RSS idle / highest (MiB)", formatted(idle.rssMiB) + " / " + formatted(highestRSS.load()));
    reportFigure("files saved / byte-identical", std::to_string(saved) + " / " + std::to_string(identical));
}

} // namespace
} // namespace ferrylantern::test
