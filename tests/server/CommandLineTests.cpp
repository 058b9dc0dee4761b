// The command line of ferrylantern-server: what --share takes and the values it refuses. The other
// options are taken as the fault, browser and console tests start the program.
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
