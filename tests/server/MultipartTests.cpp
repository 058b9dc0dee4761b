#include "server/MultipartBody.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

TEST(MultipartBoundary, IsFoundUnquotedAndTrimmed)
{
    EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=XyZ"), "XyZ");
    EXPECT_EQ(multipartBoundary("multipart/form-data;BOUNDARY=\"a b\""), "a b");
    EXPECT_EQ(multipartBoundary("multipart/form-data; charset=utf-8; boundary=q"), "q");
    EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=\""), "\"");
    EXPECT_EQ(multipartBoundary("multipart/form-data"), std::nullopt);
    EXPECT_EQ(multipartBoundary("application/octet-stream"), std::nullopt);
}

TEST(ContentDisposition, ExtendedFileNameWins)
{
    EXPECT_EQ(contentDispositionFileName(R"(form-data; name="file"; filename="a.txt")"), "a.txt");
    EXPECT_EQ(contentDispositionFileName("attachment; FILENAME=plain.txt"), "plain.txt");
    EXPECT_EQ(contentDispositionFileName("attachment; filename*=UTF-8''%E4%B8%AD.txt"), "中.txt");
    EXPECT_EQ(contentDispositionFileName(R"(attachment; filename*=UTF-8''%E4%B8%AD.txt; filename="x.txt")"), "中.txt");
    EXPECT_EQ(contentDispositionFileName(R"(attachment; filename="x.txt"; filename*=UTF-8'en'y.txt)"), "y.txt");
    EXPECT_EQ(contentDispositionFileName(R"(attachment; filename*=UTF-8''; filename="x.txt")"), "x.txt");
    EXPECT_EQ(contentDispositionFileName(R"(attachment; filename="")"), std::nullopt);
    EXPECT_EQ(contentDispositionFileName("attachment"), std::nullopt);
}

std::string body(std::initializer_list<std::pair<std::string, std::string>> parts)
{
    std::string text = "preamble\r\n";
    for (const auto& [headers, data] : parts) {
        text += "--B\r\n" + headers + "\r\n\r\n" + data + "\r\n";
    }
    return text + "--B--\r\n";
}

TEST(MultipartParser, TakesTheFirstFilePartWithData)
{
    const auto text = body({{"Content-Disposition: form-data; name=\"note\"", ""},
                            {"Content-Type: text/plain", "no disposition"},
                            {"content-disposition: form-data; name=\"f\"; filename=\"a.bin\"", "DATA\r\n--not"},
                            {"Content-Disposition: form-data; filename=\"b.bin\"", "later"}});
    const auto part = firstMultipartFilePart(text, " B ");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->fileName, "a.bin");
    EXPECT_EQ(part->data, "DATA\r\n--not");
}

TEST(MultipartParser, PartWithoutFileNameHasNone)
{
    const auto part = firstMultipartFilePart(body({{"Content-Disposition: form-data; name=\"f\"", "x"}}), "B");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->fileName, std::nullopt);
}

TEST(MultipartParser, FailsWithoutAUsablePart)
{
    for (const std::string& text : {std::string(), std::string("--B--\r\n"), body({}),
                                    body({{"Content-Disposition: form-data; filename=\"e\"", ""}}),
                                    std::string("--B\r\nContent-Disposition: form-data\r\n\r\nno end"),
                                    std::string("--B\r\nContent-Disposition: form-data\r\nno blank line --B--")}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(firstMultipartFilePart(text, "B"));
    }
}

TEST(MultipartParser, FindsThePartWhateverTheCut)
{
    // The parser works on a whole body; every shorter prefix must fail cleanly, never read past it.
    const auto text = body({{"Content-Disposition: form-data; filename=\"f.txt\"", "payload"}});
    for (std::size_t length = 0; length < text.size(); ++length) {
        const auto part = firstMultipartFilePart(std::string_view(text).substr(0, length), "B");
        if (part) {
            EXPECT_EQ(part->data, "payload");
        }
    }
    EXPECT_TRUE(firstMultipartFilePart(text, "B"));
}

TEST(MultipartParser, FindsThePartWithABoundaryLongerThanSeventyCharacters)
{
    // Longer boundaries than the RFC allows take the linear search. The data holds a near-miss of the
    // delimiter, and the delimiter itself starts one dash into a longer run of dashes, where a search
    // that forgot what it had matched would miss it.
    const std::string boundary = std::string(200, '-') + "x" + std::string(99, '-');
    const std::string data = "--" + std::string(200, '-') + "y";
    const std::string text = "--" + boundary + "\r\nContent-Disposition: form-data; filename=\"long.bin\"\r\n\r\n" +
                             data + "\r\n---" + boundary + "--\r\n";
    const auto part = firstMultipartFilePart(text, boundary);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->data, data + "\r\n-"); // no line break right before the delimiter: the data runs up to it
    EXPECT_EQ(part->fileName, "long.bin");
}

TEST(MultipartParser, AHostileBoundaryCostsWorkLinearInTheBody)
{
    // A boundary of 256 Ki "-" and a "b", against 32 MiB of "-": comparing the whole delimiter at every
    // position took minutes of CPU for this one body; the linear search finds nothing in a moment.
    const std::string boundary = std::string(256 * 1024, '-') + "b";
    const std::string text =
        "--" + boundary + "\r\nContent-Disposition: form-data; filename=\"x\"\r\n\r\n" + std::string(32 << 20, '-');
    EXPECT_FALSE(firstMultipartFilePart(text, boundary));
}

} // namespace
} // namespace ferrylantern
