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
    struct Running
    {
        std::unique_ptr<ChildProcess> program;
        std::uint16_t port = 0;
    };

    std::unique_ptr<ChildProcess> launch(const std::vector<std::string>& arguments)
    {
        return std::make_unique<ChildProcess>(FERRYLANTERN_SERVER_BINARY, arguments, folder.path());
    }

    // A server saving into save/ of the test's folder, on `port` (0: any); waits until it serves.
    Running serve(std::vector<std::string> arguments, std::uint16_t port = 0)
    {
        const auto portFile = folder.path() / ("port" + std::to_string(++launches));
        arguments.insert(arguments.begin(), {"--port", std::to_string(port), "--port-file", portFile.string(),
                                             "--save-dir", saveFolder.string()});
        Running running{launch(arguments)};
        const auto served = waitForPortFile(portFile);
        EXPECT_TRUE(served);
        running.port = served.value_or(0);
        return running;
    }

    // Stops the server as a script would; returns what it printed.
    static std::string stop(Running& running, int signal = SIGTERM)
    {
        running.program->signal(signal);
        EXPECT_EQ(running.program->waitForExit(), 0);
        return running.program->standardOutput();
    }

    TemporaryFolder folder;
    std::filesystem::path saveFolder = folder.path() / "save";
    int launches = 0;
};

TEST_F(ServerProgram, UsageErrorsExitTwoAndHelpExitsZero)
{
    auto wrong = launch({"--port", "abc"});
    EXPECT_EQ(wrong->waitForExit(), 2);
    EXPECT_NE(wrong->standardError().find("Usage: ferrylantern-server"), std::string::npos);
    auto help = launch({"--help"});
    EXPECT_EQ(help->waitForExit(), 0);
    EXPECT_NE(help->standardOutput().find("--port-file"), std::string::npos);
}

// Two servers: one with a PIN stopped by SIGTERM; one without, refusing every upload, asked for the first one's
// port and stopped by SIGINT.
TEST_F(ServerProgram, ServesWithOrWithoutAPINRefusesAsToldTellsWhichPortAndStopsOnSIGTERMOrSIGINT)
{
    auto server = serve({"--name", "Script Box", "--pin", "2468"});
    const auto info = nlohmann::json::parse(sendRequest(server.port, buildRequest("GET", "/v1/info")).body);
    EXPECT_EQ(info["name"], "Script Box");
    EXPECT_EQ(info["pinRequired"], true);
    EXPECT_EQ(sendRequest(server.port, buildRequest("POST", "/v1/pin/verify", "", R"({"pin":"2468"})")).status, 200);
    EXPECT_TRUE(std::filesystem::is_directory(saveFolder));

    auto open = serve({"--confirm", "reject"}, server.port);
    EXPECT_EQ(nlohmann::json::parse(sendRequest(open.port, buildRequest("GET", "/v1/info")).body)["pinRequired"],
              false);
    const auto declined =
        sendRequest(open.port, buildRequest("POST", "/v1/upload/preflight?filename=a.txt&byteCount=3&device=Box"));
    EXPECT_EQ(declined.status, 403);
    EXPECT_EQ(declined.body, "传输失败");
    const auto output = stop(open, SIGINT);
    EXPECT_NE(output.find("Port " + std::to_string(server.port) + " is in use; using port " +
                          std::to_string(open.port) + " instead"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("http://127.0.0.1:" + std::to_string(open.port) + "/"), std::string::npos) << output;
    stop(server);
}

TEST_F(ServerProgram, SharesFilesPrintsTextsAndSaysWhatItSent)
{
    const auto shared = folder.path() / "report.pdf";
    std::ofstream(shared, std::ios::binary) << "%PDF-1.7 the report";
    EXPECT_EQ(launch({"--port", "0", "--save-dir", folder.path().string(), "--share", "/no/such/file"})->waitForExit(),
              1);

    auto server = serve({"--share", shared.string()});
    const auto list = nlohmann::json::parse(sendRequest(server.port, buildRequest("GET", "/v1/shared")).body);
    ASSERT_EQ(list["items"].size(), 1U);
    EXPECT_EQ(list["items"][0]["name"], "report.pdf");
    const auto download = sendRequest(
        server.port, buildRequest("GET", "/v1/shared/" + list["items"][0]["id"].get<std::string>() + "?device=Phone"));
    EXPECT_EQ(download.body, "%PDF-1.7 the report");
    const auto text = sendRequest(server.port, buildRequest("POST", "/v1/text?device=Phone", "",
                                                            R"({"text":"two\nlines \u001b[31mred \u202egpj.exe"})"));
    EXPECT_EQ(text.status, 200);
    const std::string sent = "sent " + shared.string() + " to Phone (19 bytes)";
    ASSERT_TRUE(eventually([&] {
        const auto output = server.program->standardOutput();
        return output.find(sent) != std::string::npos && output.find("text from") != std::string::npos;
    })) << server.program->standardOutput();
    const auto output = stop(server);
    EXPECT_NE(output.find("sharing " + shared.string() + " (19 bytes)"), std::string::npos) << output;
    // One line whatever the text holds; its escape sequence cannot colour the terminal, nor a right-to-left
    // override turn what follows around.
    EXPECT_NE(output.find("text from Phone: two\\x0Alines \\x1B[31mred \\u202Egpj.exe\n"), std::string::npos) << output;
    EXPECT_EQ(output.find('\x1b'), std::string::npos);
}

TEST_F(ServerProgram, AsksOnTheTerminalWhenToldToAndPrintsALinePerFile)
{
    auto server = serve({"--confirm", "ask", "--on-duplicate", "ask"});
    // Waits until the prompt has been printed `count` times in all, then types the answer.
    const auto answerPrompt = [&](const std::string& prompt, std::size_t count, const std::string& answer) {
        ASSERT_TRUE(eventually([&] {
            const auto asked = server.program->standardError();
            std::size_t seen = 0;
            for (auto at = asked.find(prompt); at != std::string::npos; at = asked.find(prompt, at + 1)) {
                ++seen;
            }
            return seen == count;
        })) << server.program->standardError();
        server.program->writeInput(answer + "\n");
    };
    const auto inBackground = [&](const std::string& request) {
        return std::async(std::launch::async, [&, request] { return sendRequest(server.port, request); });
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
    const auto output = stop(server);
    EXPECT_NE(output.find("saved " + (saveFolder / "Box" / "x.txt").string() + " (3 bytes)"), std::string::npos)
        << output;
    EXPECT_NE(output.find("failed x.txt from Box"), std::string::npos) << output;
}

} // namespace
} // namespace ferrylantern::test
