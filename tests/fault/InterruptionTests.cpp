// Uploads that never finish: clients that vanish at any point of a request, and a server killed in the
// middle of several uploads. Nothing incomplete may ever show under a final name, and the server must
// go on serving. Each test runs with bodies spliced to their files and read and written through a
// buffer.
#include "tests/fault/FaultFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

namespace ferrylantern::test {
namespace {

using namespace std::chrono_literals;

class Interruptions : public FaultTest, public ::testing::WithParamInterface<BodyPath>
{};

INSTANTIATE_TEST_SUITE_P(BothBodyPaths, Interruptions, bothBodyPaths, bodyPathName);

TEST_P(Interruptions, ClientsThatVanishMidRequestLeaveNothingBehind)
{
    start(onBodyPath(GetParam()));
    const auto baseline = server->snapshot();

    constexpr int rounds = 200;
    constexpr unsigned seed = 20261206;
    std::mt19937 random(seed);
    int inHead = 0;
    int inBody = 0;
    int resets = 0;
    int multipart = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto size = std::uniform_int_distribution<std::int64_t>(1, 256 * 1024)(random);
        const auto data = generatedBytes(static_cast<std::uint64_t>(round), 0, static_cast<std::size_t>(size));
        std::string request;
        if (random() % 4 == 0) {
            request =
                buildRequest("POST", "/v1/upload?device=Phone", "Content-Type: multipart/form-data; boundary=B\r\n",
                             "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"m.bin\"\r\n\r\n" + data +
                                 "\r\n--B--\r\n");
            ++multipart;
        } else {
            request = uploadHead({"filename=cut-" + std::to_string(round) + ".bin&device=Phone", 0, size, ""}) + data;
        }
        // Half of the clients vanish somewhere in the head, half somewhere in the body (after the
        // blank line and before the last byte).
        const auto headLength = request.find("\r\n\r\n") + 4;
        const bool cutInHead = random() % 2 == 0;
        const auto cut = cutInHead ? std::uniform_int_distribution<std::size_t>(0, headLength - 1)(random)
                                   : std::uniform_int_distribution<std::size_t>(headLength, request.size() - 1)(random);
        (cutInHead ? inHead : inBody) += 1;
        TestConnection connection(port);
        ASSERT_TRUE(connection.isConnected());
        connection.send(std::string_view(request).substr(0, cut));
        if (random() % 2 == 0) {
            connection.abort(); // RST, as a phone that drops off the network
            ++resets;
        }
        // Otherwise the connection closes normally (FIN) when it goes out of scope.
    }

    // The server accepts in order: once a later request is answered, every vanished client has been
    // accepted. Then every handler ends and the server is back to the threads it had before.
    EXPECT_EQ(sendRequest(port, buildRequest("GET", "/v1/info")).status, 200);
    EXPECT_TRUE(eventually([&] { return server->snapshot().threads <= baseline.threads; }, 20s));
    const auto left = filesUnder(saveDirectory);
    EXPECT_TRUE(left.empty()) << left.size() << " files left, the first " << left.front();

    const UploadRequest after{"filename=after.bin&device=Phone", 99, 1 << 20, ""};
    const auto reply = upload(port, after);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_TRUE(holdsGeneratedContent(saveDirectory / "Phone" / "after.bin", after.seed, after.size));

    reportFigure("disconnects (in head / in body; RST / FIN)",
                 std::to_string(rounds) + " (" + std::to_string(inHead) + " / " + std::to_string(inBody) + "; " +
                     std::to_string(resets) + " / " + std::to_string(rounds - resets) + "), " +
                     std::to_string(multipart) + " multipart, seed " + std::to_string(seed));
}

TEST_P(Interruptions, AServerKilledMidUploadLeavesNoTruncatedFileAndServesAgain)
{
    constexpr int finished = 3;
    constexpr int inFlight = 8;
    const std::int64_t size = byScale<std::int64_t>(16, 64) << 20;
    start(onBodyPath(GetParam()));
    for (int i = 0; i < finished; ++i) {
        const UploadRequest request{"filename=done-" + std::to_string(i) + ".bin&device=Phone",
                                    static_cast<std::uint64_t>(i), 1 << 20, ""};
        ASSERT_EQ(upload(port, request).status, 200);
    }

    // Each upload in flight has sent half of its body when the server dies.
    std::vector<std::unique_ptr<TestConnection>> connections;
    for (int i = 0; i < inFlight; ++i) {
        const UploadRequest request{"filename=flight-" + std::to_string(i) + ".bin&device=Phone",
                                    static_cast<std::uint64_t>(100 + i), size, ""};
        connections.push_back(std::make_unique<TestConnection>(port));
        ASSERT_TRUE(connections.back()->send(uploadHead(request)));
        ASSERT_TRUE(connections.back()->send(generatedBytes(request.seed, 0, static_cast<std::size_t>(size / 2))));
    }
    const auto phone = saveDirectory / "Phone";
    ASSERT_TRUE(eventually(
        [&] {
            const auto partial = partialFilesUnder(phone);
            return partial.count == inFlight && partial.bytes >= inFlight * (size / 2);
        },
        20s));
    server->killHard();
    connections.clear();

    // Only the files that were complete before the kill carry a final name, and they are whole.
    int finalFiles = 0;
    for (const auto& file : filesUnder(saveDirectory)) {
        if (!isPartialFileName(file)) {
            ++finalFiles;
            const auto name = file.filename().string();
            ASSERT_TRUE(name.starts_with("done-")) << "a final name for an unfinished upload: " << file;
            EXPECT_TRUE(
                holdsGeneratedContent(saveDirectory / file, static_cast<std::uint64_t>(name[5] - '0'), 1 << 20));
        }
    }
    EXPECT_EQ(finalFiles, finished);

    // A new server on the same folder serves, and the names the killed uploads had are free.
    start(onBodyPath(GetParam()));
    const UploadRequest again{"filename=flight-0.bin&device=Phone", 100, size, ""};
    const auto reply = upload(port, again);
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_TRUE(holdsGeneratedContent(phone / "flight-0.bin", again.seed, again.size));
    // Young partial files may belong to another FerryLantern writing into the same folder: kept.
    EXPECT_EQ(partialFilesUnder(saveDirectory).count, inFlight);
    ASSERT_TRUE(server->stop());

    // Partial files from a crash long ago are removed when a server next starts; other files stay.
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(2);
    const auto lookalike = phone / ".ferrylantern-notes.part";
    std::ofstream(lookalike) << "a file of the user's";
    for (const auto& file : filesUnder(phone)) {
        std::filesystem::last_write_time(phone / file, longAgo);
    }
    start();
    EXPECT_EQ(filesUnder(saveDirectory).size(), static_cast<std::size_t>(finished + 1 + 1)) << "and the lookalike";
    EXPECT_TRUE(std::filesystem::exists(lookalike));

    reportFigure("uploads killed mid-body x size (MiB)", std::to_string(inFlight) + " x " + std::to_string(size >> 20));
}

// A phone whose Wi-Fi drops five times while it sends a large file: each time the connection is reset
// at a random byte, the phone asks where the server stands and sends the rest from there ("Expect:
// 100-continue" lets a 409 arrive before any body). The file ends byte-identical, and what was sent
// twice is only what was in flight at the cuts: at most the phone's send buffer each time (a phone's is
// small; left to grow, a loopback one reaches megabytes while a busy server lags).
TEST_P(Interruptions, AFileCutAtFiveRandomPointsResumesFromTheServersOffset)
{
    start(onBodyPath(GetParam()));
    const std::int64_t size = byScale<std::int64_t>(std::int64_t{128} << 20, std::int64_t{1} << 30);
    constexpr std::uint64_t seed = 2112;
    const auto tickets = batchTickets(port, "Resume", {{"big.bin", size}});
    ASSERT_EQ(tickets.size(), 1U);
    const std::string query = "filename=big.bin&device=Resume&uploadId=" + tickets[0];

    constexpr unsigned cutSeed = 20261212;
    std::mt19937_64 random(cutSeed);
    std::vector<std::int64_t> cuts;
    for (int i = 0; i < 5; ++i) {
        cuts.push_back(std::uniform_int_distribution<std::int64_t>(1, size - 1)(random));
    }
    std::sort(cuts.begin(), cuts.end());

    const auto started = std::chrono::steady_clock::now();
    std::int64_t bodyBytesSent = 0;
    std::int64_t offset = 0;
    int requests = 0;
    int conflicts = 0;
    std::optional<HttpReply> saved;
    std::size_t nextCut = 0;
    constexpr int phoneSendBuffer = 256 * 1024;
    int inFlightAtMost = 0;
    while (!saved && requests < 50) {
        ++requests;
        TestConnection connection(port, 60s);
        inFlightAtMost = connection.limitSendBuffer(phoneSendBuffer);
        // The first request is a plain ticketed upload; every later one names its offset.
        const std::string target = requests == 1 ? query : query + "&offset=" + std::to_string(offset);
        ASSERT_TRUE(connection.send(uploadHead({target, seed, size - offset, "Expect: 100-continue\r\n"})));
        std::string received;
        ASSERT_TRUE(connection.readUntil("\r\n\r\n", received)) << "request " << requests;
        if (!received.starts_with("HTTP/1.1 100")) {
            // Not where the server stands (a cut lost bytes in flight): go on from its offset.
            received += connection.readAll();
            const auto reply = parseReply(received);
            ASSERT_TRUE(reply && reply->status == 409) << received;
            offset = nlohmann::json::parse(reply->body)["offset"].get<std::int64_t>();
            ++conflicts;
            continue;
        }
        const std::int64_t stopAt = nextCut < cuts.size() ? std::max(cuts[nextCut], offset) : size;
        constexpr std::int64_t chunk = 256 * 1024;
        for (std::int64_t at = offset; at < stopAt; at += chunk) {
            const auto length = static_cast<std::size_t>(std::min(chunk, stopAt - at));
            ASSERT_TRUE(connection.send(generatedBytes(seed, at, length)));
            bodyBytesSent += static_cast<std::int64_t>(length);
        }
        if (stopAt < size) {
            connection.abort(); // the Wi-Fi drops: reset, mid-body
            ++nextCut;
            const auto position = sendRequest(port, buildRequest("GET", "/v1/upload/resume?uploadId=" + tickets[0]));
            ASSERT_EQ(position.status, 200) << position.body;
            offset = nlohmann::json::parse(position.body)["offset"].get<std::int64_t>();
            continue;
        }
        saved = parseReply(received.substr(received.find("\r\n\r\n") + 4) + connection.readAll());
    }
    const double seconds = secondsSince(started);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200) << saved->body;
    EXPECT_EQ(nlohmann::json::parse(saved->body)["byteCount"], size);
    EXPECT_TRUE(holdsGeneratedContent(saveDirectory / "Resume" / "big.bin", seed, size));
    EXPECT_EQ(filesUnder(saveDirectory), std::vector<std::filesystem::path>{"Resume/big.bin"});
    const auto output = server->output();
    EXPECT_NE(output.find("saved "), std::string::npos) << output;
    EXPECT_EQ(output.find("saved ", output.find("saved ") + 1), std::string::npos) << "one file, saved once";
    EXPECT_EQ(output.find("failed "), std::string::npos) << output;

    const std::int64_t resent = bodyBytesSent - size;
    reportFigure("file size (MiB), cut 5 times (seed " + std::to_string(cutSeed) + ")", std::to_string(size >> 20));
    reportFigure("requests (409 answers among them)",
                 std::to_string(requests) + " (" + std::to_string(conflicts) + ")");
    reportFigure("bytes re-sent beyond the file",
                 std::to_string(resent) + " (" +
                     formatted(100.0 * static_cast<double>(resent) / static_cast<double>(size), 4) + " % of the file)");
    reportFigure("time (s)", formatted(seconds, 2));
    EXPECT_LE(resent, static_cast<std::int64_t>(cuts.size()) * inFlightAtMost) << "only what was in flight";
    if (fullScale()) {
        EXPECT_LT(resent, size / 100) << "under 1 % sent twice";
    }
}

} // namespace
} // namespace ferrylantern::test
