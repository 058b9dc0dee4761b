// The text primitives the server's limits stand on, with the cases the fuzz targets' invariants cannot
// tell apart: which bytes are UTF-8, and what counts as one character.
#include "server/UTF8.h"
#include "server/UserPerceivedCharacters.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

TEST(UTF8, AcceptsWellFormedTextOnlyAndReplacesWhatIsNot)
{
    EXPECT_TRUE(isValidUTF8("中文 ok 😀"));
    for (const char* bad : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe4\xb8"}) {
        EXPECT_FALSE(isValidUTF8(bad)) << "overlong, surrogate, above U+10FFFF, truncated";
    }
    EXPECT_EQ(validUTF8Text("ok \xff 中 \xe4\xb8"), "ok \uFFFD 中 \uFFFD\uFFFD");
}

TEST(Characters, CountCombiningSequencesAndFlagsAsOne)
{
    EXPECT_EQ(characterCount("中文"), 2U);
    EXPECT_EQ(characterCount("e\u0301"), 1U);
    EXPECT_EQ(characterCount("🇨🇳🇫🇷"), 2U);
    EXPECT_EQ(characterCount("👩‍💻"), 1U);
    EXPECT_EQ(characterCount("👍🏽!"), 2U);
    EXPECT_EQ(characterCount("\r\n"), 1U);
    EXPECT_EQ(prefixLengthInCharacters("ae\u0301b", 2), std::string("ae\u0301").size());
}

} // namespace
} // namespace ferrylantern
