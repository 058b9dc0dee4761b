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

// Tests on a small disk of their own: skipped where no tmpfs can be mounted.
class Resources : public FaultTest
{
protected:
    ~Resources() override { server.reset(); } // before the disk it writes to goes

    // Mounts the disk and starts a server saving to it (on `bodyPath`); false when it could not mount.
    bool startOnSmallDisk(int mebibytes, BodyPath bodyPath = BodyPath::splice)
    {
        disk = std::make_unique<SmallDisk>(folder.path() / "disk", mebibytes);
        if (!disk->isMounted()) {
            return false;
        }
        saveDirectory = folder.path() / "disk";
        start(onBodyPath(bodyPath));
        return true;
    }

    std::string noDisk() const { return "cannot mount a tmpfs here (" + disk->error() + "); run as root"; }

    std::unique_ptr<SmallDisk> disk;
    const std::string fullDiskText = "Upload failed: 磁盘剩余空间不足";
};

// The disk fills up under splice(2) as under write(2): either way the system's own text.
class FullDisk : public Resources, public ::testing::WithParamInterface<BodyPath>
{};

INSTANTIATE_TEST_SUITE_P(BothBodyPaths, FullDisk, bothBodyPaths, bodyPathName);

TEST_P(FullDisk, AFullDiskFailsTheUploadCleanlyAndTheNextOneSucceeds)
{
    if (!startOnSmallDisk(96, GetParam())) {
        GTEST_SKIP() << noDisk();
    }
    // 24 MiB pass the free-space check (24 + 64 MiB of reserve < 96 MiB); the disk fills up while the
    // body is on its way.
    const UploadRequest request{"filename=big.bin&device=Phone", 7, 24 << 20, ""};
    TestConnection connection(port, 30s);
    ASSERT_TRUE(connection.send(uploadHead(request)));
    ASSERT_TRUE(connection.send(generatedBytes(request.seed, 0, 1 << 20)));
    const auto phone = saveDirectory / "Phone";
    ASSERT_TRUE(eventually([&] { return partialFilesUnder(phone).bytes >= (1 << 20); }, 10s));
    const auto filler = saveDirectory / "filler";
    disk->fill(filler);
    ASSERT_EQ(disk->freeBytes(), 0);
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
    const auto refused = upload(port, {"filename=small.bin&device=Phone", 8, 1024, ""});
    EXPECT_EQ(refused.status, 500);
    EXPECT_EQ(refused.body, fullDiskText);

    std::filesystem::remove(filler);
    const auto after = upload(port, request);
    EXPECT_EQ(after.status, 200) << after.body;
    EXPECT_TRUE(holdsGeneratedContent(phone / "big.bin", request.seed, request.size));
    EXPECT_EQ(filesUnder(saveDirectory).size(), 1U);
}

// An upload kept for resuming still holds the room for the bytes it has yet to receive, so the disk
// cannot fill up under it while the phone is away; its cancel gives the room back.
TEST_F(Resources, AKeptUploadHoldsTheRoomItStillNeeds)
{
    if (!startOnSmallDisk(256)) {
        GTEST_SKIP() << noDisk();
    }
    const auto tickets = batchTickets(port, "Phone", {{"kept.bin", std::int64_t{150} << 20}});
    ASSERT_EQ(tickets.size(), 1U);
    const auto slice =
        upload(port, {"filename=kept.bin&device=Phone&uploadId=" + tickets[0] + "&offset=0", 31, 1 << 20, ""});
    ASSERT_EQ(slice.status, 200) << slice.body;
    // 50 MiB and the 64 MiB reserve fit beside the 1 MiB written, not beside the 149 MiB still to come.
    const UploadRequest other{"filename=other.bin&device=Phone", 32, 50 << 20, ""};
    const auto refused = upload(port, other);
    EXPECT_EQ(refused.status, 500);
    EXPECT_EQ(refused.body, fullDiskText);
    const auto cancelled = sendRequest(port, buildRequest("POST", "/v1/upload/cancel?uploadId=" + tickets[0]));
    EXPECT_EQ(cancelled.status, 200) << cancelled.body;
    const auto reply = upload(port, other);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(filesUnder(saveDirectory / "Phone"), std::vector<std::filesystem::path>{"other.bin"});
}

// CPU shares are measured over a few seconds of exhaustion and one second after recovery: a spinning
// accept loop shows only over time.
TEST_F(Resources, RunningOutOfDescriptorsNeitherSpinsNorStopsTheServer)
{
    constexpr int descriptorLimit = 128;
    constexpr int connectionCount = 400;
    start({}, descriptorLimit);
    const auto idle = server->snapshot();
    std::vector<std::unique_ptr<TestConnection>> connections;
    for (int i = 0; i < connectionCount; ++i) {
        connections.push_back(std::make_unique<TestConnection>(port, 5s));
        ASSERT_TRUE(connections.back()->isConnected()) << "connection " << i;
    }
    // The server accepts until its descriptors run out; the rest wait in the listening backlog.
    ASSERT_TRUE(eventually([&] { return server->snapshot().descriptors >= descriptorLimit; }, 10s));
    const auto cpuShareOver = [&](std::chrono::seconds window) {
        const auto before = server->snapshot().cpuSeconds;
        std::this_thread::sleep_for(window);
        return (server->snapshot().cpuSeconds - before) / static_cast<double>(window.count());
    };
    const double exhaustedShare = cpuShareOver(byScale(3s, 10s));
    EXPECT_LT(exhaustedShare, 0.1) << "the accept loop spins";

    // Once the clients go, the server serves again.
    connections.clear();
    const auto closed = Clock::now();
    EXPECT_TRUE(eventually([&] { return sendRequest(port, buildRequest("GET", "/v1/info")).status == 200; }, 20s));
    const double recoverySeconds = secondsSince(closed);
    const UploadRequest request{"filename=after.bin&device=Phone", 5, 4 << 20, ""};
    EXPECT_EQ(upload(port, request).status, 200);
    EXPECT_TRUE(holdsGeneratedContent(saveDirectory / "Phone" / "after.bin", request.seed, request.size));
    const double idleShare = cpuShareOver(1s);
    EXPECT_LT(idleShare, 0.1);

    reportFigure("descriptors used idle, of " + std::to_string(descriptorLimit), std::to_string(idle.descriptors));
    reportFigure("CPU while exhausted / idle afterwards (share of a core)",
                 formatted(exhaustedShare, 3) + " / " + formatted(idleShare, 3));
    reportFigure("served again after the clients closed (s)", formatted(recoverySeconds, 2));
}

} // namespace
} // namespace ferrylantern::test
