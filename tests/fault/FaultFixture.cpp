#include "tests/fault/FaultFixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

namespace ferrylantern::test {

namespace {

std::uint64_t splitMix(std::uint64_t value)
{
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

double statusKiB(const std::string& status, std::string_view field)
{
    const auto at = status.find(std::string(field) + ":");
    return at == std::string::npos ? 0 : std::atof(status.c_str() + at + field.size() + 1);
}

} // namespace

bool fullScale()
{
    const char* scale = std::getenv("FERRYLANTERN_FAULT_SCALE");
    return scale != nullptr && std::string_view(scale) == "full";
}

void reportFigure(std::string_view what, const std::string& value)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "?";
    std::printf("[ FIGURE   ] %s | %.*s | %s\n", name.c_str(), static_cast<int>(what.size()), what.data(),
                value.c_str());
    std::fflush(stdout);
    ::testing::Test::RecordProperty(std::string(what), value);
}

std::string formatted(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string generatedBytes(std::uint64_t seed, std::int64_t offset, std::size_t length)
{
    // Byte p is byte p % 8 of word p / 8, each word a hash of the seed and its index.
    const auto word = [seed](std::int64_t index) {
        return splitMix(seed * 0x100000001B3ULL ^ static_cast<std::uint64_t>(index));
    };
    std::string bytes(length, '\0');
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto position = static_cast<std::uint64_t>(offset) + i;
        if (i == 0 || position % 8 == 0) {
            value = word(static_cast<std::int64_t>(position / 8));
        }
        bytes[i] = static_cast<char>(value >> (8 * (position % 8)));
    }
    return bytes;
}

bool holdsGeneratedContent(const std::filesystem::path& path, std::uint64_t seed, std::int64_t size)
{
    std::error_code error;
    if (std::filesystem::file_size(path, error) != static_cast<std::uintmax_t>(size) || error) {
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    constexpr std::size_t chunk = 1 << 20;
    std::string buffer(chunk, '\0');
    for (std::int64_t offset = 0; offset < size; offset += static_cast<std::int64_t>(chunk)) {
        const auto length = static_cast<std::size_t>(std::min<std::int64_t>(chunk, size - offset));
        if (!file.read(buffer.data(), static_cast<std::streamsize>(length))) {
            return false;
        }
        if (std::string_view(buffer.data(), length) != generatedBytes(seed, offset, length)) {
            return false;
        }
    }
    return true;
}

ProcessSnapshot snapshotOf(pid_t pid)
{
    ProcessSnapshot snapshot;
    const auto proc = std::filesystem::path("/proc") / std::to_string(pid);
    const auto stat = readTextFile(proc / "stat");
    // Fields after the command name, which may hold spaces: state is field 3, utime 14, stime 15.
    if (const auto end = stat.rfind(')'); end != std::string::npos) {
        std::istringstream fields(stat.substr(end + 2));
        const std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
        if (field.size() > 12) {
            const auto ticks = std::stoull(field[11]) + std::stoull(field[12]); // fields 14 and 15 of stat
            snapshot.cpuSeconds = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
        }
    }
    const auto status = readTextFile(proc / "status");
    snapshot.rssMiB = statusKiB(status, "VmRSS") / 1024;
    snapshot.threads = static_cast<int>(statusKiB(status, "Threads"));
    std::error_code error;
    for (std::filesystem::directory_iterator it(proc / "fd", error), end; !error && it != end; it.increment(error)) {
        ++snapshot.descriptors;
    }
    return snapshot;
}

ServerProcess::ServerProcess(const std::filesystem::path& saveDirectory, const std::filesystem::path& workFolder,
                             std::vector<std::string> arguments, std::optional<int> descriptorLimit)
{
    std::filesystem::create_directories(workFolder);
    const auto portFile = workFolder / "port";
    std::filesystem::remove(portFile);
    arguments.insert(arguments.begin(), {"--port", "0", "--port-file", portFile.string(), "--save-dir",
                                         saveDirectory.string(), "--name", "Fault Box"});
    if (descriptorLimit) {
        // The shell sets the limit and becomes the server, so the pid stays the server's.
        arguments.insert(arguments.begin(),
                         {"-c", "ulimit -n " + std::to_string(*descriptorLimit) + " && exec \"$0\" \"$@\"",
                          FERRYLANTERN_SERVER_BINARY});
        process_ = std::make_unique<ChildProcess>("/bin/sh", arguments, workFolder);
    } else {
        process_ = std::make_unique<ChildProcess>(FERRYLANTERN_SERVER_BINARY, arguments, workFolder);
    }
    port_ = waitForPortFile(portFile, std::chrono::seconds(20)).value_or(0);
}

std::string bodyPathName(const ::testing::TestParamInfo<BodyPath>& info)
{
    return info.param == BodyPath::splice ? "Splice" : "ReadAndWrite";
}

std::vector<std::string> onBodyPath(BodyPath path)
{
    if (path == BodyPath::readAndWrite) {
        return {"--no-splice"};
    }
    return {};
}

ServerProcess::~ServerProcess()
{
    if (!ended_) {
        stop();
    }
}

bool ServerProcess::stop()
{
    ended_ = true;
    process_->signal(SIGTERM);
    return process_->waitForExit(std::chrono::seconds(10)) == 0;
}

void ServerProcess::killHard()
{
    ended_ = true;
    process_->signal(SIGKILL);
    process_->waitForExit(std::chrono::seconds(10));
}

std::string uploadHead(const UploadRequest& request)
{
    return "POST /v1/upload?" + request.query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           "Content-Type: application/octet-stream\r\n" + request.headerLines +
           "Content-Length: " + std::to_string(request.size) + "\r\n\r\n";
}

HttpReply upload(std::uint16_t port, const UploadRequest& request, std::chrono::milliseconds timeout)
{
    TestConnection connection(port, timeout);
    if (!connection.send(uploadHead(request))) {
        return {};
    }
    constexpr std::int64_t chunk = 256 * 1024;
    for (std::int64_t offset = 0; offset < request.size; offset += chunk) {
        const auto length = static_cast<std::size_t>(std::min(chunk, request.size - offset));
        if (!connection.send(generatedBytes(request.seed, offset, length))) {
            break; // the server answered early; its answer says why
        }
    }
    return parseReply(connection.readAll()).value_or(HttpReply{});
}

std::vector<std::string> batchTickets(std::uint16_t port, const std::string& device,
                                      const std::vector<std::pair<std::string, std::int64_t>>& files)
{
    nlohmann::json request{{"device", device}, {"files", nlohmann::json::array()}};
    for (const auto& [name, size] : files) {
        request["files"].push_back({{"filename", name}, {"byteCount", size}});
    }
    const auto reply = sendRequest(port, buildRequest("POST", "/v1/upload/preflight/batch", "", request.dump()));
    std::vector<std::string> tickets;
    if (reply.status != 200) {
        ADD_FAILURE() << "batch preflight: " << reply.status << " " << reply.body;
        return tickets;
    }
    const auto answer = nlohmann::json::parse(reply.body);
    for (const auto& item : answer["items"]) {
        tickets.push_back(item["uploadId"]);
    }
    return tickets;
}

std::vector<UploadRequest> ticketedUploads(std::uint16_t port, const std::string& device,
                                           const std::vector<std::pair<std::string, std::int64_t>>& files,
                                           std::uint64_t firstSeed)
{
    const auto tickets = batchTickets(port, device, files);
    std::vector<UploadRequest> requests;
    for (std::size_t i = 0; i < tickets.size(); ++i) {
        requests.push_back({"filename=" + files[i].first + "&device=" + device + "&uploadId=" + tickets[i],
                            firstSeed + i, files[i].second, ""});
    }
    return requests;
}

std::vector<std::filesystem::path> filesUnder(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file()) {
            files.push_back(std::filesystem::relative(it->path(), folder));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool isPartialFileName(const std::filesystem::path& name)
{
    const auto text = name.filename().string();
    return text.starts_with(".ferrylantern-") && text.ends_with(".part");
}

PartialFiles partialFilesUnder(const std::filesystem::path& folder)
{
    PartialFiles partial;
    for (const auto& file : filesUnder(folder)) {
        if (isPartialFileName(file)) {
            std::error_code error;
            ++partial.count;
            partial.bytes += static_cast<std::int64_t>(std::filesystem::file_size(folder / file, error));
        }
    }
    return partial;
}

} // namespace ferrylantern::test
