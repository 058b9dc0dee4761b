// Resources that run out: a save folder whose disk fills up during an upload, and a server that runs
// out of descriptors. Both must end cleanly and recover once the resource is back.
#include "tests/fault/FaultFixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace ferrylantern::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A small tmpfs mounted for the test; unmounted when it goes. Mounting needs root (CAP_SYS_ADMIN).
class SmallDisk
{
public:
    SmallDisk(const std::filesystem::path& mountPoint, int mebibytes)
        : mountPoint_(mountPoint)
    {
        std::filesystem::create_directories(mountPoint_);
        const std::string options = "size=" + std::to_string(mebibytes) + "m,mode=0755";
        if (mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
            mounted_ = true;
        } else {
            error_ = std::strerror(errno);
        }
    }
    ~SmallDisk()
    {
        if (mounted_ && umount(mountPoint_.c_str()) != 0) {
            umount2(mountPoint_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return mounted_; }
    const std::string& error() const { return error_; }

    std::int64_t freeBytes() const
    {
        struct statvfs volume
        {};
        statvfs(mountPoint_.c_str(), &volume);
        return static_cast<std::int64_t>(volume.f_bavail * volume.f_frsize);
    }

    // Takes every free byte with a file of its own.
    void fill(const std::filesystem::path& filler) const
    {
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        posix_fallocate(fd, 0, freeBytes());
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
    }

private:
    std::filesystem::path mountPoint_;
    bool mounted_ = false;
    std::string error_;
};

class Resources : public ::testing::Test
{
protected:
    TemporaryFolder folder;
};

// The disk fills up under splice(2) as under write(2): either way the system's own text.
class FullDisk : public Resources, public ::testing::WithParamInterface<BodyPath>
{};

INSTANTIATE_TEST_SUITE_P(BothBodyPaths, FullDisk, bothBodyPaths, bodyPathName);

TEST_P(FullDisk, AFullDiskFailsTheUploadCleanlyAndTheNextOneSucceeds)
{
    const auto disk = folder.path() / "disk";
    SmallDisk small(disk, 96);
    if (!small.isMounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << small.error() << "); run as root to test a full disk";
    }
    ServerProcess server(disk, folder.path() / "server", onBodyPath(GetParam()));
    ASSERT_NE(server.port(), 0) << server.output();

    // 24 MiB pass the free-space check (24 + 64 MiB of reserve < 96 MiB); the disk fills up while the
    // body is on its way.
    const UploadRequest request{"filename=big.bin&device=Phone", 7, 24 << 20, ""};
    TestConnection connection(server.port(), 30s);
    ASSERT_TRUE(connection.send(uploadHead(request)));
    ASSERT_TRUE(connection.send(generatedBytes(request.seed, 0, 1 << 20)));
    const auto phone = disk / "Phone";
    ASSERT_TRUE(eventually(
        [&] {
            for (const auto& file : filesUnder(phone)) {
                std::error_code error;
                if (isPartialFileName(file) && std::filesystem::file_size(phone / file, error) >= (1U << 20)) {
                    return true;
                }
            }
            return false;
        },
        10s));
    const auto filler = disk / "filler";
    small.fill(filler);
    ASSERT_EQ(small.freeBytes(), 0);
    for (std::int64_t offset = 1 << 20; offset < request.size; offset += 1 << 20) {
        if (!connection.send(generatedBytes(request.seed, offset, 1 << 20))) {
            break;
        }
    }
    const auto reply = parseReply(connection.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    EXPECT_EQ(reply->body, "Upload failed: " + std::string(std::strerror(ENOSPC)));
    EXPECT_TRUE(filesUnder(phone).empty()) << "left behind: " << filesUnder(phone).front();

    // While the disk stays full, uploads are refused before their bodies are read.
    const auto refused = upload(server.port(), {"filename=small.bin&device=Phone", 8, 1024, ""});
    EXPECT_EQ(refused.status, 500);
    EXPECT_EQ(refused.body, "Upload failed: 磁盘剩余空间不足");

    std::filesystem::remove(filler);
    const auto after = upload(server.port(), request);
    EXPECT_EQ(after.status, 200) << after.body;
    EXPECT_TRUE(holdsGeneratedContent(phone / "big.bin", request.seed, request.size));
    EXPECT_EQ(filesUnder(disk).size(), 1U);

    reportFigure("upload when the disk filled (status, text)", std::to_string(reply->status) + " " + reply->body);
    reportFigure("files left behind", "0");
    reportFigure("upload while full (status, text)", std::to_string(refused.status) + " " + refused.body);
    reportFigure("upload after freeing space", std::to_string(after.status));
}

TEST_F(Resources, UploadsInFlightCountAgainstTheFreeSpace)
{
    const auto disk = folder.path() / "disk";
    SmallDisk small(disk, 100);
    if (!small.isMounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << small.error() << "); run as root to test a full disk";
    }
    ServerProcess server(disk, folder.path() / "server");
    ASSERT_NE(server.port(), 0) << server.output();

    // Each of three 30 MiB uploads fits beside the 64 MiB reserve on its own; together they would
    // eat into it. The first is under way when the others ask.
    const UploadRequest first{"filename=first.bin&device=Phone", 21, 30 << 20, ""};
    TestConnection running(server.port(), 30s);
    ASSERT_TRUE(running.send(uploadHead(first)));
    ASSERT_TRUE(running.send(generatedBytes(first.seed, 0, 1 << 20)));
    ASSERT_TRUE(eventually([&] { return !filesUnder(disk / "Phone").empty(); }, 10s));
    for (const char* name : {"second", "third"}) {
        const auto refused =
            upload(server.port(), {std::string("filename=") + name + ".bin&device=Phone", 22, 30 << 20, ""});
        EXPECT_EQ(refused.status, 500) << name;
        EXPECT_EQ(refused.body, "Upload failed: 磁盘剩余空间不足") << name;
    }
    for (std::int64_t offset = 1 << 20; offset < first.size; offset += 1 << 20) {
        ASSERT_TRUE(running.send(generatedBytes(first.seed, offset, 1 << 20)));
    }
    const auto reply = parseReply(running.readAll());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200) << reply->body;
    EXPECT_TRUE(holdsGeneratedContent(disk / "Phone" / "first.bin", first.seed, first.size));
    EXPECT_GE(small.freeBytes(), std::int64_t{64} << 20); // the reserve held
    reportFigure("free space after 3 concurrent 30 MiB uploads on 100 MiB (MiB)",
                 std::to_string(small.freeBytes() >> 20));
}

// An upload kept for resuming still holds the room for the bytes it has yet to receive, so the disk
// cannot fill up under it while the phone is away; its cancel gives the room back.
TEST_F(Resources, AKeptUploadHoldsTheRoomItStillNeeds)
{
    const auto disk = folder.path() / "disk";
    SmallDisk small(disk, 256);
    if (!small.isMounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << small.error() << "); run as root to test a small disk";
    }
    ServerProcess server(disk, folder.path() / "server");
    ASSERT_NE(server.port(), 0) << server.output();

    constexpr std::int64_t keptSize = std::int64_t{150} << 20;
    const auto tickets = batchTickets(server.port(), "Phone", {{"kept.bin", keptSize}});
    ASSERT_EQ(tickets.size(), 1U);
    const auto slice =
        upload(server.port(), {"filename=kept.bin&device=Phone&uploadId=" + tickets[0] + "&offset=0", 31, 1 << 20, ""});
    ASSERT_EQ(slice.status, 200) << slice.body;
    // 50 MiB and the 64 MiB reserve fit beside the 1 MiB written, not beside the 149 MiB still to come.
    const UploadRequest other{"filename=other.bin&device=Phone", 32, 50 << 20, ""};
    const auto refused = upload(server.port(), other);
    EXPECT_EQ(refused.status, 500);
    EXPECT_EQ(refused.body, "Upload failed: 磁盘剩余空间不足");
    const auto cancelled = sendRequest(server.port(), buildRequest("POST", "/v1/upload/cancel?uploadId=" + tickets[0]));
    EXPECT_EQ(cancelled.status, 200) << cancelled.body;
    const auto reply = upload(server.port(), other);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(filesUnder(disk / "Phone"), std::vector<std::filesystem::path>{"other.bin"});
}

TEST_F(Resources, RunningOutOfDescriptorsNeitherSpinsNorStopsTheServer)
{
    constexpr int descriptorLimit = 128;
    constexpr int connectionCount = 400;
    ServerProcess server(folder.path() / "save", folder.path() / "server",
                         {.arguments = {}, .descriptorLimit = descriptorLimit});
    ASSERT_NE(server.port(), 0) << server.output();
    const auto idle = server.snapshot();

    std::vector<std::unique_ptr<TestConnection>> connections;
    for (int i = 0; i < connectionCount; ++i) {
        connections.push_back(std::make_unique<TestConnection>(server.port(), 5s));
        ASSERT_TRUE(connections.back()->isConnected()) << "connection " << i;
    }
    // The server accepts until its descriptors run out; the rest wait in the listening backlog.
    ASSERT_TRUE(eventually([&] { return server.snapshot().descriptors >= descriptorLimit; }, 10s));
    const auto exhausted = server.snapshot();
    const auto measureFor = byScale(3s, 10s);
    std::this_thread::sleep_for(measureFor);
    const auto stillExhausted = server.snapshot();
    const double cpuShare =
        (stillExhausted.cpuSeconds - exhausted.cpuSeconds) / std::chrono::duration<double>(measureFor).count();
    EXPECT_LT(cpuShare, 0.1) << "the accept loop spins";

    // Once the clients go, the server serves again.
    connections.clear();
    const auto closed = Clock::now();
    bool served = false;
    while (!served && Clock::now() - closed < 20s) {
        served = sendRequest(server.port(), buildRequest("GET", "/v1/info")).status == 200;
    }
    const double recoverySeconds = std::chrono::duration<double>(Clock::now() - closed).count();
    EXPECT_TRUE(served);
    const UploadRequest request{"filename=after.bin&device=Phone", 5, 4 << 20, ""};
    const auto reply = upload(server.port(), request);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_TRUE(holdsGeneratedContent(folder.path() / "save" / "Phone" / "after.bin", request.seed, request.size));

    const auto settledAt = server.snapshot();
    std::this_thread::sleep_for(1s);
    const double idleShare = server.snapshot().cpuSeconds - settledAt.cpuSeconds;
    EXPECT_LT(idleShare, 0.1);

    reportFigure("descriptor limit / used idle / connections opened", std::to_string(descriptorLimit) + " / " +
                                                                          std::to_string(idle.descriptors) + " / " +
                                                                          std::to_string(connectionCount));
    reportFigure("CPU while exhausted (share of a core)", formatted(cpuShare, 3));
    reportFigure("served again after the clients closed (s)", formatted(recoverySeconds, 2));
    reportFigure("CPU idle afterwards (share of a core)", formatted(idleShare, 3));
    reportFigure("upload after recovery", std::to_string(reply.status));
}

} // namespace
} // namespace ferrylantern::test
