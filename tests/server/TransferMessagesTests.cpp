#include "server/TransferMessages.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

using nlohmann::json;

TEST(TransferMessages, InfoLeavesOutAbsentPinAuthorized)
{
    TransferInfoResponse info;
    info.name = "Mac";
    const auto encoded = json(info);
    EXPECT_FALSE(encoded.contains("pinAuthorized"));
    EXPECT_EQ(encoded["platform"], "macos");
    EXPECT_EQ(encoded["capabilities"], json({"upload", "upload-preflight", "pin"}));
    info.pinRequired = true;
    info.pinAuthorized = false;
    EXPECT_EQ(json(info)["pinAuthorized"], false);
}

TEST(TransferMessages, EncodingIsCompact)
{
    EXPECT_EQ(json(TransferPINVerifyResponse{.ok = true, .sessionToken = "T"}).dump(),
              R"({"ok":true,"sessionToken":"T"})");
    EXPECT_EQ(json(TransferPINVerifyResponse{.ok = false, .sessionToken = std::nullopt}).dump(), R"({"ok":false})");
}

TEST(TransferMessages, BatchRequestDecodesWithOptionalDeviceAndUnknownMembers)
{
    const auto request = decodeMessage<TransferPreflightBatchRequest>(
        R"({"files":[{"filename":"a.txt","byteCount":3,"extra":1}],"device":null,"other":true})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->device, std::nullopt);
    ASSERT_EQ(request->files.size(), 1U);
    EXPECT_EQ(request->files[0].filename, "a.txt");
    EXPECT_EQ(request->files[0].byteCount, 3);

    const auto big = decodeMessage<TransferPreflightBatchRequest>(
        R"({"device":"Phone","files":[{"filename":"a","byteCount":107374182400}]})");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->device, "Phone");
    EXPECT_EQ(big->files[0].byteCount, 107374182400);
}

TEST(TransferMessages, UndecodableBatchRequestsFailWithADescription)
{
    const struct
    {
        const char* name;
        const char* text;
    } cases[] = {
        {"empty body", ""},
        {"not JSON", "files"},
        {"not an object", "[]"},
        {"missing files", R"({"device":"x"})"},
        {"files not an array", R"({"files":{}})"},
        {"item not an object", R"({"files":[1]})"},
        {"missing byteCount", R"({"files":[{"filename":"a"}]})"},
        {"fractional byteCount", R"({"files":[{"filename":"a","byteCount":1.5}]})"},
        {"text byteCount", R"({"files":[{"filename":"a","byteCount":"1"}]})"},
        {"Boolean byteCount", R"({"files":[{"filename":"a","byteCount":true}]})"},
        {"byteCount over 64 bits", R"({"files":[{"filename":"a","byteCount":18446744073709551615}]})"},
        {"numeric filename", R"({"files":[{"filename":1,"byteCount":1}]})"},
        {"numeric device", R"({"device":5,"files":[]})"},
        {"numeric path", R"({"files":[{"filename":"a","byteCount":1,"path":7}]})"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const auto request = decodeMessage<TransferPreflightBatchRequest>(row.text);
        ASSERT_FALSE(request);
        EXPECT_FALSE(request.error().empty());
    }
}

TEST(TransferMessages, PINRequestNeedsAStringPin)
{
    EXPECT_TRUE(decodeMessage<TransferPINVerifyRequest>(R"({"pin":"1234"})"));
    EXPECT_FALSE(decodeMessage<TransferPINVerifyRequest>(R"({"pin":1234})"));
    EXPECT_FALSE(decodeMessage<TransferPINVerifyRequest>(R"({})"));
}

TEST(TransferMessages, ResponsesRoundTrip)
{
    const TransferUploadPreflightBatchResponse batch{.approved = true, .items = {{"ID", "a.txt"}, {"ID2", "b"}}};
    const auto decoded = decodeMessage<TransferUploadPreflightBatchResponse>(json(batch).dump());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->items.size(), 2U);
    EXPECT_EQ(decoded->items[1].filename, "b");

    const TransferUploadResponse upload{"R", "a.txt", 5, "/s/d/a.txt", "d", std::nullopt};
    EXPECT_EQ(json(upload).dump(),
              R"({"byteCount":5,"deviceFolder":"d","fileName":"a.txt","id":"R","savedPath":"/s/d/a.txt"})");
    const TransferUploadResponse inFolder{"R", "a.txt", 5, "/s/d/Trip/a.txt", "d", "Trip"};
    EXPECT_EQ(json(inFolder)["path"], "Trip");
    EXPECT_EQ(decodeMessage<TransferUploadResponse>(json(inFolder).dump())->path, "Trip");

    EXPECT_EQ(json(TransferTextResponse{"T", 3, "Phone"}).dump(), R"({"byteCount":3,"deviceFolder":"Phone","id":"T"})");
}

TEST(TransferMessages, SharedItemsLeaveOutWhatTheirKindHasNot)
{
    const TransferSharedListResponse list{
        {{"F", "file", "a.jpg", 10, std::nullopt}, {"T", "text", std::nullopt, 2, "hi"}}};
    EXPECT_EQ(json(list).dump(), R"({"items":[{"byteCount":10,"id":"F","kind":"file","name":"a.jpg"},)"
                                 R"({"byteCount":2,"id":"T","kind":"text","text":"hi"}]})");
    const auto decoded = decodeMessage<TransferSharedListResponse>(json(list).dump());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->items[1].text, "hi");
    EXPECT_FALSE(decoded->items[1].name);
}

TEST(TransferMessages, TextRequestNeedsAStringTextAndTakesAnOptionalDevice)
{
    const auto request = decodeMessage<TransferTextRequest>(R"({"text":"a","device":null,"x":1})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->text, "a");
    EXPECT_FALSE(request->device);
    EXPECT_EQ(decodeMessage<TransferTextRequest>(R"({"text":"a","device":"P"})")->device, "P");
    for (const auto* bad : {R"({})", R"({"text":1})", R"({"text":"a","device":2})", R"("a")", ""}) {
        EXPECT_FALSE(decodeMessage<TransferTextRequest>(bad)) << bad;
    }
}

} // namespace
} // namespace ferrylantern
