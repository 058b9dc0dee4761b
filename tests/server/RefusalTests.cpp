// The one mapping from a refusal to its answer: every reason the endpoints use, with its status line,
// content type and body.
#include "server/Refusal.h"
#include "server/ResumeAnswer.h"

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

constexpr std::string_view text = "text/plain; charset=utf-8";
constexpr std::string_view json = "application/json";

TEST(Refusal, EachReasonHasItsStatusAndText)
{
    struct Row
    {
        Refusal refusal;
        std::string_view statusLine;
        std::string_view contentType;
        std::string body;
    };
    const std::vector<Row> rows{
        {RequestRefusal::malformedHead, "HTTP/1.1 400 Bad Request", text, "Bad Request"},
        {RequestRefusal::unknownRoute, "HTTP/1.1 404 Not Found", text, "Not Found"},
        {RequestRefusal::sessionRequired, "HTTP/1.1 401 Unauthorized", text, "需要 PIN 验证"},
        {RequestRefusal::pinRequestTooLarge, "HTTP/1.1 400 Bad Request", text, "请求过大"},
        {RequestRefusal::invalidPINRequest, "HTTP/1.1 400 Bad Request", text, "无效的 PIN 请求"},
        {RequestRefusal::wrongPIN, "HTTP/1.1 403 Forbidden", json, R"({"ok":false})"},
        {PINLockout{std::chrono::seconds(60)}, "HTTP/1.1 429 Too Many Requests", json, R"({"ok":false})"},
        {RequestRefusal::missingFileName, "HTTP/1.1 400 Bad Request", text, "缺少 filename"},
        {RequestRefusal::missingByteCount, "HTTP/1.1 400 Bad Request", text, "缺少 byteCount"},
        {RequestRefusal::invalidFileSize, "HTTP/1.1 400 Bad Request", text, "无效的文件大小"},
        {RequestRefusal::invalidFileName, "HTTP/1.1 400 Bad Request", text, "无效的文件名"},
        {RequestRefusal::batchRequestTooLarge, "HTTP/1.1 413 OK", text, "请求体过大"},
        {RequestRefusal::noFiles, "HTTP/1.1 400 Bad Request", text, "files 不能为空"},
        {RequestRefusal::tooManyFiles, "HTTP/1.1 400 Bad Request", text, "单次最多 500 个文件"},
        {RequestRefusal::batchTooLarge, "HTTP/1.1 400 Bad Request", text, "批量总大小超限"},
        {RequestRefusal::declined, "HTTP/1.1 403 Forbidden", text, "传输失败"},
        {RequestRefusal::unencodableAnswer, "HTTP/1.1 500 Internal Server Error", text, "Internal Server Error"},
        {RequestRefusal::invalidOffset, "HTTP/1.1 400 Bad Request", text, "无效的续传位置"},
        {RequestRefusal::sliceBeyondFile, "HTTP/1.1 400 Bad Request", text, "分片超出文件大小"},
        {RequestRefusal::tooManyResumableUploads, "HTTP/1.1 429 Too Many Requests", text,
         "续传中的上传过多，请稍后再试"},
        {RequestRefusal::textTooLong, "HTTP/1.1 413 OK", text, "文字过长，最多 64 KiB"},
        {RequestRefusal::textNotUTF8, "HTTP/1.1 400 Bad Request", text, "文字不是有效的 UTF-8"},
        {RequestRefusal::invalidTextRequest, "HTTP/1.1 400 Bad Request", text, "无效的文字请求"},
        {RequestRefusal::emptyText, "HTTP/1.1 400 Bad Request", text, "文字不能为空"},
        {RequestRefusal::unknownShare, "HTTP/1.1 404 Not Found", text, "分享不存在或已移除"},
        {RequestRefusal::sharedFileMissing, "HTTP/1.1 404 Not Found", text, "分享的文件已不存在"},
        {RequestRefusal::sharedFileUnreadable, "HTTP/1.1 500 Internal Server Error", text, "无法读取分享的文件"},
        {UnsatisfiableRange{1000}, "HTTP/1.1 416 Range Not Satisfiable", text, "请求的范围超出文件大小"},
        {SocketHTTPError::incompleteBody, "HTTP/1.1 400 Bad Request", text, "上传中断，文件不完整"},
        {SocketHTTPError::insufficientDiskSpace, "HTTP/1.1 500 Internal Server Error", text, "磁盘剩余空间不足"},
        {SocketHTTPError::uploadCancelled, "HTTP/1.1 403 Forbidden", text, "传输已取消"},
        {SocketHTTPError::invalidUploadTicket, "HTTP/1.1 403 Forbidden", text, "上传许可无效或已过期"},
        {UndecodableBody{"bad byte \xff"}, "HTTP/1.1 500 Internal Server Error", text, "bad byte \uFFFD"},
        {FailedUpload{SocketHTTPError::uploadCancelled}, "HTTP/1.1 499 OK", text, "传输已取消"},
        {FailedUpload{SocketHTTPError::invalidUploadTicket}, "HTTP/1.1 403 Forbidden", text, "上传许可无效或已过期"},
        {FailedUpload{SocketHTTPError::duplicateRejected}, "HTTP/1.1 403 Forbidden", text, "已取消保存"},
        {FailedUpload{SocketHTTPError::emptyBody}, "HTTP/1.1 500 Internal Server Error", text,
         "Upload failed: 未收到文件内容"},
        {FailedUpload{SocketHTTPError::insufficientDiskSpace}, "HTTP/1.1 500 Internal Server Error", text,
         "Upload failed: 磁盘剩余空间不足"},
        {FailedUpload{std::make_error_code(std::errc::no_space_on_device)}, "HTTP/1.1 500 Internal Server Error", text,
         "Upload failed: " + std::make_error_code(std::errc::no_space_on_device).message()},
    };
    for (const auto& row : rows) {
        const auto response = refusalResponse(row.refusal);
        const auto bytes = response.bytes();
        EXPECT_EQ(bytes.substr(0, bytes.find("\r\n")), row.statusLine) << row.body;
        EXPECT_EQ(response.contentType, row.contentType) << row.body;
        EXPECT_EQ(response.body, row.body);
    }
    EXPECT_EQ(refusalResponse(PINLockout{std::chrono::seconds(60)}).extraFields,
              (ExtraHeaderFields{{"Retry-After", "60"}}));
    EXPECT_EQ(refusalResponse(UnsatisfiableRange{1000}).extraFields,
              (ExtraHeaderFields{{"Content-Range", "bytes */1000"}}));
}

// The resume protocol's own answers are JSON, with statuses clients go by (409 names its offset).
TEST(ResumeAnswer, EachAnswerHasItsStatusAndBody)
{
    const auto id = *Uuid::parse("0F8E0C52-6A1B-4D5E-9E43-2B1C3D4E5F60");
    const std::string idText = id.text();
    struct Row
    {
        ResumeAnswer answer;
        std::string_view statusLine;
        std::string_view contentType;
        std::string body;
    };
    const std::vector<Row> rows{
        {UploadPositionAnswer{id, {5, 9, std::nullopt, "Phone"}}, "HTTP/1.1 200 OK", json,
         R"({"byteCount":9,"offset":5,"uploadId":")" + idText + R"("})"},
        {UploadPositionAnswer{id, {9, 9, "a-1.txt", "Phone"}}, "HTTP/1.1 200 OK", json,
         R"({"byteCount":9,"deviceFolder":"Phone","fileName":"a-1.txt","offset":9,"uploadId":")" + idText + R"("})"},
        {SliceAcceptedAnswer{id, 7}, "HTTP/1.1 200 OK", json, R"({"offset":7,"uploadId":")" + idText + R"("})"},
        {UploadCancelledAnswer{id}, "HTTP/1.1 200 OK", json, R"({"cancelled":true,"uploadId":")" + idText + R"("})"},
        {ResumeRefusal{ResumeFailure::nothingToResume}, "HTTP/1.1 404 Not Found", json,
         R"({"error":"没有可续传的上传"})"},
        {ResumeRefusal{ResumeFailure::cancelled}, "HTTP/1.1 404 Not Found", json, R"({"error":"传输已取消"})"},
        {ResumeRefusal{ResumeFailure::offsetConflict, 42}, "HTTP/1.1 409 Conflict", json, R"({"offset":42})"},
        {ResumeRefusal{ResumeFailure::mismatch}, "HTTP/1.1 403 Forbidden", text, "上传许可无效或已过期"},
        {ResumeRefusal{ResumeFailure::emptySlice}, "HTTP/1.1 400 Bad Request", text, "未收到文件内容"},
        {ResumeRefusal{ResumeFailure::beyondFile}, "HTTP/1.1 400 Bad Request", text, "分片超出文件大小"},
        {ResumeRefusal{ResumeFailure::busy}, "HTTP/1.1 503 Service Unavailable", text, "服务器繁忙，请稍后再试"},
    };
    for (const auto& row : rows) {
        const auto response = resumeResponse(row.answer);
        const auto bytes = response.bytes();
        EXPECT_EQ(bytes.substr(0, bytes.find("\r\n")), row.statusLine) << row.body;
        EXPECT_EQ(response.contentType, row.contentType) << row.body;
        EXPECT_EQ(response.body, row.body);
    }
}

} // namespace
} // namespace ferrylantern
