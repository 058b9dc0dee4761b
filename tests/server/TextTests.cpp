#include "server/ASCIIText.h"
#include "server/DecimalInteger.h"
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
    EXPECT_EQ(trimWhitespaceAndNewlines("  "), "");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xff "), "\xff");
    EXPECT_EQ(trimSpacesAndTabs("\t a b \t"), "a b");
    EXPECT_EQ(trimSpacesAndTabs("\r\n"), "\r\n");
}

TEST(UTF8, AcceptsWellFormedTextOnly)
{
    EXPECT_TRUE(isValidUTF8("中文 ok 😀"));
    EXPECT_FALSE(isValidUTF8("\xc0\xaf"));         // overlong
    EXPECT_FALSE(isValidUTF8("\xed\xa0\x80"));     // surrogate
    EXPECT_FALSE(isValidUTF8("\xf4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(isValidUTF8("\xe4\xb8"));         // truncated
}

TEST(UTF8, InvalidBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(validUTF8Text("ok \xff 中 \xe4\xb8"), "ok \uFFFD 中 \uFFFD\uFFFD");
    EXPECT_EQ(validUTF8Text("plain"), "plain");
}

TEST(PercentDecoding, FailsOnMalformedEscapesAndInvalidUTF8)
{
    EXPECT_EQ(percentDecoded("%E4%B8%AD%20a+b"), "中 a+b");
    EXPECT_EQ(percentDecoded("%zz"), std::nullopt);
    EXPECT_EQ(percentDecoded("%4"), std::nullopt);
    EXPECT_EQ(percentDecoded("%"), std::nullopt);
    EXPECT_EQ(percentDecoded("%FF"), std::nullopt);
}

TEST(DecimalInteger, AcceptsOptionalSignAndDigitsWithoutOverflow)
{
    EXPECT_EQ(parseDecimalInteger("-5"), -5);
    EXPECT_EQ(parseDecimalInteger("+5"), 5);
    EXPECT_EQ(parseDecimalInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseDecimalInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseDecimalInteger("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parseDecimalInteger(" 5"), std::nullopt);
    EXPECT_EQ(parseDecimalInteger("5 "), std::nullopt);
    EXPECT_EQ(parseDecimalInteger(""), std::nullopt);
    EXPECT_EQ(parseDecimalInteger("-"), std::nullopt);
}

TEST(Characters, CountCombiningSequencesAndFlagsAsOne)
{
    EXPECT_EQ(characterCount("abc"), 3U);
    EXPECT_EQ(characterCount("中文"), 2U);
    EXPECT_EQ(characterCount("e\u0301"), 1U);
    EXPECT_EQ(characterCount("🇨🇳🇫🇷"), 2U);
    EXPECT_EQ(characterCount("👩‍💻"), 1U);
    EXPECT_EQ(characterCount("👍🏽!"), 2U);
    EXPECT_EQ(characterCount("\r\n"), 1U);
    EXPECT_EQ(prefixLengthInCharacters("ae\u0301b", 2), std::string("ae\u0301").size());
    EXPECT_EQ(prefixLengthInCharacters("abc", 10), 3U);
    EXPECT_EQ(prefixLengthInCharacters("abc", 0), 0U);
}

TEST(NormalizedPIN, KeepsTheFirstFourNumericCharactersOfAnyScript)
{
    EXPECT_EQ(normalizedPIN("12a34"), "1234");
    EXPECT_EQ(normalizedPIN("1-2-3-4-5-6"), "1234");
    EXPECT_EQ(normalizedPIN("١٢٣٤"), "١٢٣٤"); // Arabic-Indic digits
    EXPECT_EQ(normalizedPIN("１２"), "１２"); // full-width digits
    EXPECT_EQ(normalizedPIN("abc"), "");
    EXPECT_EQ(normalizedPIN(""), "");
}

TEST(PINRequired, NeedsTheSwitchAndFourDigits)
{
    EXPECT_FALSE(isPINRequired({.enabled = false, .code = "1234"}));
    EXPECT_FALSE(isPINRequired({.enabled = true, .code = "123"}));
    EXPECT_TRUE(isPINRequired({.enabled = true, .code = "12345"}));
    EXPECT_TRUE(isPINRequired({.enabled = true, .code = " 1 2 3 4 "}));
}

} // namespace
} // namespace ferrylantern
