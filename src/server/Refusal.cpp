#include "server/Refusal.h"

#include "server/ByteRange.h"
#include "server/Endpoints.h"
#include "server/TransferMessages.h"
#include "server/UTF8.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

namespace {

constexpr std::string_view uploadFailedPrefix = "Upload failed: ";

HttpResponse plainText(int status, std::string_view text)
{
    return {status, std::string(contentType::plainText), std::string(text), {}};
}

// The PIN endpoint answers in JSON even when it refuses.
HttpResponse pinRefused(int status, ExtraHeaderFields extraFields = {})
{
    const nlohmann::json answer = TransferPINVerifyResponse{.ok = false, .sessionToken = std::nullopt};
    return {status, std::string(contentType::json), answer.dump(), std::move(extraFields)};
}

HttpResponse answerFor(RequestRefusal refusal)
{
    switch (refusal) {
    case RequestRefusal::malformedHead:
        return plainText(400, "Bad Request");
    case RequestRefusal::unknownRoute:
        return plainText(404, "Not Found");
    case RequestRefusal::sessionRequired:
        return plainText(401, "需要 PIN 验证");
    case RequestRefusal::pinRequestTooLarge:
        return plainText(400, "请求过大");
    case RequestRefusal::invalidPINRequest:
        return plainText(400, "无效的 PIN 请求");
    case RequestRefusal::wrongPIN:
        return pinRefused(403);
    case RequestRefusal::missingFileName:
        return plainText(400, "缺少 filename");
    case RequestRefusal::missingByteCount:
        return plainText(400, "缺少 byteCount");
    case RequestRefusal::invalidFileSize:
        return plainText(400, "无效的文件大小");
    case RequestRefusal::invalidFileName:
        return plainText(400, "无效的文件名");
    case RequestRefusal::batchRequestTooLarge:
        return plainText(413, "请求体过大");
    case RequestRefusal::noFiles:
        return plainText(400, "files 不能为空");
    case RequestRefusal::tooManyFiles:
        return plainText(400, "单次最多 " + std::to_string(maxBatchFiles) + " 个文件");
    case RequestRefusal::batchTooLarge:
        return plainText(400, "批量总大小超限");
    case RequestRefusal::declined:
        return plainText(403, "传输失败");
    case RequestRefusal::unencodableAnswer:
        return plainText(500, "Internal Server Error");
    case RequestRefusal::serverBusy:
        return plainText(503, "服务器繁忙，请稍后再试");
    case RequestRefusal::notReceiving:
        return plainText(503, "接收已关闭");
    case RequestRefusal::misdirected:
        return plainText(421, "Misdirected Request");
    case RequestRefusal::crossSite:
        return plainText(403, "跨站请求已拒绝");
    case RequestRefusal::tooManyTickets:
        return plainText(429, "待使用的上传许可过多，请稍后再试");
    case RequestRefusal::invalidOffset:
        return plainText(400, "无效的续传位置");
    case RequestRefusal::sliceBeyondFile:
        return plainText(400, "分片超出文件大小");
    case RequestRefusal::tooManyResumableUploads:
        return plainText(429, "续传中的上传过多，请稍后再试");
    case RequestRefusal::textTooLong:
        return plainText(413, "文字过长，最多 64 KiB");
    case RequestRefusal::textNotUTF8:
        return plainText(400, "文字不是有效的 UTF-8");
    case RequestRefusal::invalidTextRequest:
        return plainText(400, "无效的文字请求");
    case RequestRefusal::emptyText:
        return plainText(400, "文字不能为空");
    case RequestRefusal::unknownShare:
        return plainText(404, "分享不存在或已移除");
    case RequestRefusal::sharedFileMissing:
        return plainText(404, "分享的文件已不存在");
    case RequestRefusal::sharedFileUnreadable:
        return plainText(500, "无法读取分享的文件");
    }
    return plainText(500, "Internal Server Error");
}

HttpResponse answerFor(const PINLockout& lockout)
{
    return pinRefused(429, {{"Retry-After", std::to_string(lockout.retryAfter.count())}});
}

// Before an upload starts: a body the client cut short or made unusable is the client's fault, the
// desktop's and the ticket's refusals are refusals, the server's own shortages are the server's.
HttpResponse answerFor(SocketHTTPError error)
{
    switch (error) {
    case SocketHTTPError::incompleteBody:
    case SocketHTTPError::emptyBody:
    case SocketHTTPError::invalidMultipart:
    case SocketHTTPError::bodyTooLarge:
    case SocketHTTPError::multipartTooLarge:
        return plainText(400, description(error));
    case SocketHTTPError::uploadCancelled:
    case SocketHTTPError::duplicateRejected:
        return plainText(403, description(error));
    case SocketHTTPError::invalidUploadTicket:
        // The client learns only that its ticket does not count, not which detail differed.
        return plainText(403, "上传许可无效或已过期");
    case SocketHTTPError::tooManyQuestions:
        return plainText(429, description(error));
    case SocketHTTPError::insufficientDiskSpace:
    case SocketHTTPError::unsafeDeviceFolder:
    case SocketHTTPError::socketCreateFailed:
    case SocketHTTPError::bindFailed:
    case SocketHTTPError::noPortAssigned:
        return plainText(500, description(error));
    }
    return plainText(500, description(error));
}

HttpResponse answerFor(const UnsatisfiableRange& unsatisfiable)
{
    // RFC 9110 §15.5.17: the current length, so the client can ask again within it.
    auto answer = plainText(416, "请求的范围超出文件大小");
    answer.extraFields.emplace_back("Content-Range", unsatisfiedContentRange(unsatisfiable.fileSize));
    return answer;
}

HttpResponse answerFor(const UndecodableBody& undecodable)
{
    // The decoder's text may quote the request's own bytes.
    return plainText(500, validUTF8Text(undecodable.decoderText));
}

// Once an upload is under way a cancel from the desktop is not the client's refusal but the end of
// its request (499), and every other failure is reported as the upload's.
HttpResponse answerFor(const FailedUpload& failed)
{
    if (const auto* error = std::get_if<SocketHTTPError>(&failed.cause)) {
        switch (*error) {
        case SocketHTTPError::uploadCancelled:
            return plainText(499, description(*error));
        case SocketHTTPError::invalidUploadTicket:
        case SocketHTTPError::duplicateRejected:
        case SocketHTTPError::tooManyQuestions:
            return answerFor(*error);
        default:
            return plainText(500, std::string(uploadFailedPrefix) + std::string(description(*error)));
        }
    }
    return plainText(500, std::string(uploadFailedPrefix) + std::get<std::error_code>(failed.cause).message());
}

} // namespace

HttpResponse refusalResponse(const Refusal& refusal)
{
    return std::visit([](const auto& reason) { return answerFor(reason); }, refusal);
}

} // namespace ferrylantern
