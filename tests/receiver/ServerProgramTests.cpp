// ferrylantern-server as scripts use it: it serves, answers questions as told or on the terminal,
// prints its lines, and stops with the exit codes scripts rely on.
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpTestClient.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>

namespace ferrylantern::test {
namespace {

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

TEST_F(ServerProgram, SaysWhenTheAskedPortIsTakenAndWhichItUses)
{
    auto first = launch({"--port", "0", "--port-file", portFile.string(), "--save-dir", folder.path().string()});
    const auto taken = waitForPortFile(portFile);
    ASSERT_TRUE(taken);
    const auto secondPortFile = folder.path() / "second-port";
    auto second = launch({"--port", std::to_string(*taken), "--port-file", secondPortFile.string(), "--save-dir",
                          folder.path().string()});
    const auto used = waitForPortFile(secondPortFile);
    ASSERT_TRUE(used);
    EXPECT_NE(*used, *taken);
    second->signal(SIGTERM);
    EXPECT_EQ(second->waitForExit(), 0);
    EXPECT_NE(second->standardOutput().find("Port " + std::to_string(*taken) + " is in use; using port " +
                                            std::to_string(*used) + " instead"),
              std::string::npos)
        << second->standardOutput();
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

TEST_F(ServerProgram, SharesFilesPrintsTextsAndSaysWhatItSent)
{
    const auto shared = folder.path() / "report.pdf";
    std::ofstream(shared, std::ios::binary) << "%PDF-1.7 the report";
    EXPECT_EQ(launch({"--port", "0", "--save-dir", folder.path().string(), "--share", "/no/such/file"})->waitForExit(),
              1);

    auto program = launch({"--port", "0", "--port-file", portFile.string(), "--save-dir", folder.path().string(),
                           "--share", shared.string()});
    const auto port = waitForPortFile(portFile);
    ASSERT_TRUE(port);
    const auto list = nlohmann::json::parse(sendRequest(*port, buildRequest("GET", "/v1/shared")).body);
    ASSERT_EQ(list["items"].size(), 1U);
    EXPECT_EQ(list["items"][0]["name"], "report.pdf");
    const auto download = sendRequest(
        *port, buildRequest("GET", "/v1/shared/" + list["items"][0]["id"].get<std::string>() + "?device=Phone"));
    EXPECT_EQ(download.body, "%PDF-1.7 the report");
    const auto text = sendRequest(*port, buildRequest("POST", "/v1/text?device=Phone", "",
                                                      R"({"text":"two\nlines \u001b[31mred \u202egpj.exe"})"));
    EXPECT_EQ(text.status, 200);
    const std::string sent = "sent " + shared.string() + " to Phone (19 bytes)";
    ASSERT_TRUE(eventually([&] {
        const auto output = program->standardOutput();
        return output.find(sent) != std::string::npos && output.find("text from") != std::string::npos;
    })) << program->standardOutput();
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(), 0);
    const auto output = program->standardOutput();
    EXPECT_NE(output.find("sharing " + shared.string() + " (19 bytes)"), std::string::npos) << output;
    // One line whatever the text holds; its escape sequence cannot colour the terminal, nor a right-to-left
    // override turn what follows around.
    EXPECT_NE(output.find("text from Phone: two\\x0Alines \\x1B[31mred \\u202Egpj.exe\n"), std::string::npos) << output;
    EXPECT_EQ(output.find('\x1b'), std::string::npos);
}

std::size_t occurrences(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

TEST_F(ServerProgram, AsksOnTheTerminalWhenToldTo)
{
    auto program = launch({"--port", "0", "--port-file", portFile.string(), "--save-dir", folder.path().string(),
                           "--confirm", "ask", "--on-duplicate", "ask"});
    const auto port = waitForPortFile(portFile);
    ASSERT_TRUE(port);
    const auto answerPrompt = [&](const std::string& prompt, std::size_t count, const std::string& answer) {
        ASSERT_TRUE(eventually([&] { return occurrences(program->standardError(), prompt) == count; }))
            << program->standardError();
        program->writeInput(answer + "\n");
    };
    const auto inBackground = [&](const std::string& request) {
        return std::async(std::launch::async, [&, request] { return sendRequest(*port, request); });
    };

    auto preflight = inBackground(buildRequest("POST", "/v1/upload/preflight?filename=x.txt&byteCount=3&device=Box"));
    answerPrompt("Receive x.txt (3 bytes) from Box? [y/N]", 1, "y");
    EXPECT_EQ(preflight.get().status, 200);

    const auto upload = buildRequest("POST", "/v1/upload?filename=x.txt&device=Box", "", "abc");
    auto first = inBackground(upload);
    answerPrompt("[y/N]", 2, "y");
    EXPECT_EQ(first.get().status, 200);

    auto second = inBackground(upload);
    answerPrompt("[y/N]", 3, "y");
    answerPrompt("x.txt exists. Overwrite, keep both or cancel? [o/K/c]", 1, "c");
    const auto refused = second.get();
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, "已取消保存");
    program->signal(SIGTERM);
    EXPECT_EQ(program->waitForExit(), 0);
}

} // namespace
} // namespace ferrylantern::test
