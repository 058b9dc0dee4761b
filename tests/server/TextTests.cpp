// The text primitives every parser of the server builds on: trimming, UTF-8, percent escapes,
// user-perceived characters and the PIN's digits.
#include "server/ASCIIText.h"
#include "server/PINRules.h"
#include "server/PercentDecoding.h"
#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"
#include "server/UserPerceivedCharacters.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

TEST(Trimming, RemovesUnicodeWhiteSpaceAndLineBreaksOnly)
{
    EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n photo.jpg \u3000\u00a0\u2028"), "photo.jpg");
    EXPECT_EQ(trimWhitespaceAndNewlines("a b"), "a b");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xff "), "\xff");
    EXPECT_EQ(trimSpacesAndTabs("\t a b \t"), "a b");
    EXPECT_EQ(trimSpacesAndTabs("\r\n"), "\r\n");
}

TEST(UTF8, AcceptsWellFormedTextOnlyAndReplacesWhatIsNot)
{
    EXPECT_TRUE(isValidUTF8("中文 ok 😀"));
    for (const char* bad : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe4\xb8"}) {
        EXPECT_FALSE(isValidUTF8(bad)) << "overlong, surrogate, above U+10FFFF, truncated";
    }
    EXPECT_EQ(validUTF8Text("ok \xff 中 \xe4\xb8"), "ok \uFFFD 中 \uFFFD\uFFFD");
}

TEST(PercentDecoding, FailsOnMalformedEscapesAndInvalidUTF8)
{
    EXPECT_EQ(percentDecoded("%E4%B8%AD%20a+b"), "中 a+b");
    EXPECT_EQ(percentDecoded("%e4%b8%ad"), "中");
    for (const char* bad : {"%zz", "%4", "%", "%FF"}) {
        EXPECT_EQ(percentDecoded(bad), std::nullopt) << bad;
    }
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
    EXPECT_EQ(prefixLengthInCharacters("abc", 10), 3U);
}

TEST(NormalizedPIN, KeepsTheFirstFourNumericCharactersOfAnyScript)
{
    EXPECT_EQ(normalizedPIN("1-2-3-4-5-6"), "1234");
    EXPECT_EQ(normalizedPIN("١٢٣٤"), "١٢٣٤"); // Arabic-Indic digits
    EXPECT_EQ(normalizedPIN("１２"), "１２"); // full-width digits
    EXPECT_EQ(normalizedPIN("abc"), "");
}

} // namespace
} // namespace ferrylantern
