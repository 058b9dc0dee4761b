// The command line of ferrylantern-server: its options and the values it refuses.
#include "app/ServerCommandLine.h"
#include "tests/server/ServerFixture.h"

#include <gtest/gtest.h>

namespace ferrylantern::test {
namespace {

Expected<ServerCommandLine, std::string> parse(std::initializer_list<std::string_view> arguments)
{
    const std::vector<std::string_view> list(arguments);
    return parseServerCommandLine(list);
}

TEST(ServerCommandLine, TakesEveryOptionInBothSpellings)
{
    const auto given = parse({"--port", "0", "--name=Studio PC", "--pin", "0042", "--port-file", "p", "--save-dir",
                              "/x", "--no-splice", "--addresses", "--confirm", "reject", "--on-duplicate=cancel"});
    ASSERT_TRUE(given);
    EXPECT_EQ(given->port, 0);
    EXPECT_EQ(given->name, "Studio PC");
    EXPECT_EQ(given->pin, "0042");
    EXPECT_EQ(given->portFile, "p");
    EXPECT_EQ(given->saveDirectory, "/x");
    EXPECT_EQ(given->rawBodyTransfer, RawBodyTransfer::readAndWrite);
    EXPECT_TRUE(given->listAddresses);
    EXPECT_EQ(given->confirm, ConsoleAnswer::reject);
    EXPECT_EQ(given->onDuplicate, ConsoleAnswer::cancel);
    EXPECT_EQ(parse({"--confirm", "ask", "--on-duplicate", "ask"})->confirm, ConsoleAnswer::ask);
}

TEST(ServerCommandLine, SharesTakeEveryPathUpToTheNextOption)
{
    const auto given = parse({"--share", "/a/photo.jpg", "rel/notes.txt", "--port", "0", "--share=/b/--odd", "--share",
                              "/c/海边.mp4", "-h"});
    ASSERT_TRUE(given);
    EXPECT_EQ(given->shares,
              (std::vector<std::filesystem::path>{"/a/photo.jpg", std::filesystem::absolute("rel/notes.txt"),
                                                  "/b/--odd", "/c/海边.mp4"}));
    EXPECT_EQ(given->port, 0);
    EXPECT_TRUE(given->showHelp);
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {"--share"}, {"--share", "--port", "0"}, {"--share="}, {"--share", ""}}) {
        EXPECT_FALSE(parseServerCommandLine(arguments)) << arguments.size();
    }
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

} // namespace
} // namespace ferrylantern::test
