#include "webclient/UploadPage.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

// "&" is replaced first, or the "&lt;" that stands for "<" would read "&amp;lt;".
TEST(UploadPage, FillsTheEscapedNameIntoTitleAndIntro)
{
    const auto page = uploadPageHTML("Tom & <Jerry>");
    EXPECT_NE(page.find("<title>传到 Tom &amp; &lt;Jerry&gt;</title>"), std::string::npos);
    EXPECT_NE(page.find("将文件传到 <strong>Tom &amp; &lt;Jerry&gt;</strong>。"), std::string::npos);
    EXPECT_EQ(page.find("{{"), std::string::npos);
}

// Neither a hostile name nor one that spells the page's own marker leaves the script's string.
TEST(UploadPage, NameCannotLeaveTheScriptString)
{
    const std::string hostile = "a'b\\c\n</script><script>alert(1)</script>\u2028{{DEVICE_NAME}}';alert(1);//";
    const auto page = uploadPageHTML(hostile);
    const auto scriptStart = page.find("<script>");
    ASSERT_NE(scriptStart, std::string::npos);
    EXPECT_EQ(page.find("<script>", scriptStart + 1), std::string::npos);
    const auto script = page.substr(scriptStart, page.find("</script>", scriptStart) - scriptStart);
    EXPECT_EQ(script.find("a'b"), std::string::npos);
    EXPECT_NE(script.find(R"(a\'b\\c\n&lt;/script&gt;)"), std::string::npos);
    EXPECT_NE(script.find(R"({{DEVICE_NAME}}\';alert(1);//</strong>)"), std::string::npos);
    EXPECT_EQ(javaScriptStringEscaped("<\u2029\r\""), R"(\x3C\u2029\r\")");
}

} // namespace
} // namespace ferrylantern
