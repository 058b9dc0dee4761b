// ferrylantern-server as scripts use it: its options, its output and its exit codes.
#include "ChildProcess.h"
#include "HttpTestClient.h"
#include "ServerCommandLine.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

Expected<ServerCommandLine, std::string> parse(std::initializer_list<std::string_view> arguments)
{
    const std::vector<std::string_view> list(arguments);
    return parseServerCommandLine(list);
}

TEST(ServerCommandLine, DefaultsAndValues)
{
    const auto defaults = parse({});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->port, 53317);
    EXPECT_EQ(defaults->pin, std::nullopt);
    EXPECT_EQ(defaults->name, std::nullopt);

    const auto given =
        parse({"--port", "0", "--name=Studio PC", "--pin", "0042", "--port-file", "p", "--save-dir", "/x"});
    ASSERT_TRUE(given);
    EXPECT_EQ(given->port, 0);
    EXPECT_EQ(given->name, "Studio PC");
    EXPECT_EQ(given->pin, "0042");
    EXPECT_EQ(given->portFile, "p");
    EXPECT_EQ(given->saveDirectory, "/x");
}

TEST(ServerCommandLine, QuestionAnswers)
{
    const auto none = parse({});
    EXPECT_EQ(none->confirm, std::nullopt);
    EXPECT_EQ(none->onDuplicate, ConsoleAnswer::keep);
    const auto given = parse({"--confirm", "reject", "--on-duplicate=cancel"});
    ASSERT_TRUE(given);
    EXPECT_EQ(given->confirm, ConsoleAnswer::reject);
    EXPECT_EQ(given->onDuplicate, ConsoleAnswer::cancel);
    EXPECT_EQ(parse({"--confirm", "ask", "--on-duplicate", "ask"})->confirm, ConsoleAnswer::ask);
}

TEST(ServerCommandLine, RefusesUnknownOptionsAndBadValues)
{
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{{"--bogus"},
                                                                            {"extra"},
                                                                            {"--port"},
                                                                            {"--port", "abc"},
                                                                            {"--port", "65536"},
                                                                            {"--port", "-1"},
                                                                            {"--pin", "123"},
                                                                            {"--pin", "12a4"},
                                                                            {"--pin", "12345"},
                                                                            {"--name", "  "},
                                                                            {"--save-dir="}}) {
        EXPECT_FALSE(parseServerCommandLine(arguments)) << arguments.front();
    }
}

class ServerProgram : public ::testing::Test
{
protected:
    TemporaryFolder folder;
    std::filesystem::path portFile = folder.path() / "port";

    std::unique_ptr<ChildProcess> launch(std::vector<std::string> arguments)
    {
        return std::make_unique<ChildProcess>(FERRYLANTERN_SERVER_BINARY, arguments, folder.path());
    }
};

TEST_F(ServerProgram, UsageErrorsExitTwo)
{
    auto program = launch({"--port", "abc"});
    EXPECT_EQ(program->waitForExit(), 2);
    EXPECT_NE(program->standardError().find("Usage: ferrylantern-server"), std::string::npos);
    EXPECT_NE(program->standardError().find("--port"), std::string::npos);
}

TEST_F(ServerProgram, HelpExitsZero)
{
    auto program = launch({"--help"});
    EXPECT_EQ(program->waitForExit(), 0);
    EXPECT_NE(program->standardOutput().find("--port-file"), std::string::npos);
}

TEST_F(ServerProgram, ServesWritesItsPortAndStopsOnSIGTERM)
{
    auto program = launch({"--port", "0", "--port-file", portFile.string(), "--save-dir",
                           (folder.path() / "save").string(), "--name", "Script Box", "--pin", "2468"});
    const auto port = waitForPortFile(portFile);
    ASSERT_TRUE(port);

    const auto reply = sendRequest(*port, buildRequest("GET", "/v1/info"));
    ASSERT_EQ(reply.status, 200);
    const auto info = nlohmann::json::parse(reply.body);
    EXPECT_EQ(info["name"], "Script Box");
    EXPECT_EQ(info["pinRequired"], true);
    EXPECT_EQ(sendRequest(*port, buildRequest("POST", "/v1/pin/verify", "", R"({"pin":"2468"})")).status, 200);
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "save"));

    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(), 0);
    EXPECT_NE(program->standardOutput().find("http://127.0.0.1:" + std::to_string(*port) + "/"), std::string::npos);
}

TEST_F(ServerProgram, StopsOnSIGINTWithoutAPIN)
{
    auto program = launch({"--port", "0", "--port-file", portFile.string(), "--save-dir", folder.path().string()});
    const auto port = waitForPortFile(portFile);
    ASSERT_TRUE(port);
    const auto info = nlohmann::json::parse(sendRequest(*port, buildRequest("GET", "/v1/info")).body);
    EXPECT_EQ(info["pinRequired"], false);
    program->signal(SIGINT);
    EXPECT_EQ(program->waitForExit(), 0);
}

TEST_F(ServerProgram, AnswersQuestionsAsToldAndPrintsALinePerFile)
{
    auto program = launch({"--port", "0", "--port-file", portFile.string(), "--save-dir", folder.path().string(),
                           "--confirm", "reject", "--on-duplicate", "cancel"});
    const auto port = waitForPortFile(portFile);
    ASSERT_TRUE(port);
    const auto declined =
        sendRequest(*port, buildRequest("POST", "/v1/upload/preflight?filename=a.txt&byteCount=3&device=Box"));
    EXPECT_EQ(declined.status, 403);
    EXPECT_EQ(declined.body, "传输失败");
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(), 0);

    auto accepting = launch({"--port", "0", "--port-file", portFile.string() + "2", "--save-dir",
                             folder.path().string(), "--confirm", "accept", "--on-duplicate", "cancel"});
    const auto secondPort = waitForPortFile(portFile.string() + "2");
    ASSERT_TRUE(secondPort);
    const auto upload = buildRequest("POST", "/v1/upload?filename=a.txt&device=Box", "", "abc");
    EXPECT_EQ(sendRequest(*secondPort, upload).status, 200);
    const auto duplicate = sendRequest(*secondPort, upload);
    EXPECT_EQ(duplicate.status, 403);
    EXPECT_EQ(duplicate.body, "已取消保存");
    accepting->signal(SIGTERM);
    EXPECT_EQ(accepting->waitForExit(), 0);
    const auto output = accepting->standardOutput();
    EXPECT_NE(output.find("saved " + (folder.path() / "Box" / "a.txt").string() + " (3 bytes)"), std::string::npos)
        << output;
    EXPECT_NE(output.find("failed a.txt from Box"), std::string::npos) << output;
}

} // namespace
} // namespace ferrylantern::test
