// The multipart pieces the upload endpoint uses: the boundary, the file name of a part, and the
// streaming parser with the limits and costs that hostile bodies meet.
#include "server/MultipartBody.h"
#include "server/MultipartFilePartStream.h"

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

// What the streaming parser hands on when `text` arrives cut at `cuts`.
struct Streamed
{
    std::optional<MultipartFilePartInfo> part;
    std::string data;
};
Streamed streamed(std::string_view text, std::string_view boundary, const std::vector<std::size_t>& cuts)
{
    MultipartFilePartStream parser(boundary);
    Streamed result;
    const auto sink = [&result](std::string_view piece) {
        result.data.append(piece);
        return std::error_code();
    };
    std::size_t from = 0;
    for (const auto cut : cuts) {
        EXPECT_FALSE(parser.feed(text.substr(from, cut - from), sink));
        from = cut;
    }
    EXPECT_FALSE(parser.feed(text.substr(from), sink));
    result.part = parser.filePart();
    return result;
}

// The server parses a body as it arrives; the whole-body parser is the reference the fuzz corpus replay
// holds it to, wherever the body is cut.
TEST(MultipartStream, FindsThePartWithABoundaryLongerThanSeventyCharacters)
{
    // Longer boundaries than the RFC allows take the linear search. The data holds a near-miss of the
    // delimiter, and the delimiter itself starts one dash into a longer run of dashes, where a search
    // that forgot what it had matched would miss it.
    const std::string boundary = std::string(200, '-') + "x" + std::string(99, '-');
    const std::string data = "--" + std::string(200, '-') + "y";
    const std::string text = "--" + boundary + "\r\nContent-Disposition: form-data; filename=\"long.bin\"\r\n\r\n" +
                             data + "\r\n---" + boundary + "--\r\n";
    const auto result = streamed(text, boundary, {text.size() - boundary.size()});
    ASSERT_TRUE(result.part);
    EXPECT_EQ(result.data, data + "\r\n-"); // no line break right before the delimiter: the data runs up to it
    EXPECT_EQ(result.part->fileName, "long.bin");
    EXPECT_EQ(firstMultipartFilePart(text, boundary)->data, result.data);
}

TEST(MultipartStream, AHeaderBlockBeyondItsLimitGivesNoPartInEitherParser)
{
    for (const std::size_t length : {maxPartHeaderBytes, maxPartHeaderBytes + 1}) {
        const std::string header = "Content-Disposition: form-data; filename=\"h\"\r\nX-Pad: ";
        const std::string text =
            "--B\r\n" + header + std::string(length - header.size(), 'p') + "\r\n\r\ndata\r\n--B--";
        const bool fits = length <= maxPartHeaderBytes;
        EXPECT_EQ(firstMultipartFilePart(text, "B").has_value(), fits) << length;
        EXPECT_EQ(streamed(text, "B", {text.size() / 3, text.size() / 2}).part.has_value(), fits) << length;
    }
}

TEST(MultipartStream, AHostileBoundaryCostsWorkLinearInTheBodyHoweverItIsCut)
{
    // The search keeps its place across pieces: re-reading what a long delimiter may still match at
    // every piece would cost 64 Ki comparisons for each of these 600 000 pieces.
    const std::string boundary = std::string(64 * 1024, '-') + "b";
    const std::string text =
        "--" + boundary + "\r\nContent-Disposition: form-data; filename=\"x\"\r\n\r\n" + std::string(4 << 20, '-');
    std::vector<std::size_t> cuts;
    for (std::size_t at = 7; at < text.size(); at += 7) {
        cuts.push_back(at);
    }
    const auto result = streamed(text, boundary, cuts);
    EXPECT_FALSE(result.part);
    // All but what a delimiter may still begin with has been handed on.
    EXPECT_GE(result.data.size(), (std::size_t{4} << 20) - boundary.size() - 4);
}

} // namespace
} // namespace ferrylantern
