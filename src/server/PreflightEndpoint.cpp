#include "server/DecimalInteger.h"
#include "server/DiskSpace.h"
#include "server/Endpoints.h"
#include "server/OwnerQuestions.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"
#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"
#include "server/UploadNaming.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

namespace {

constexpr std::int64_t maxFileBytes = 107374182400; // 100 GiB, for one file and for a batch
constexpr std::int64_t maxBatchRequestBytes = 262144;
constexpr std::size_t maxBatchFiles = 500;

void answerText(Connection& connection, int status, std::string_view text)
{
    connection.sendResponse(status, text, contentType::plainText);
}

// The refusal after a declined question: "传输已取消" when the desktop cancelled this request while it
// waited, "传输失败" when the user said no.
std::string_view declineText(const UploadSessionRegistration& registration)
{
    return registration.isCancelled() ? description(SocketHTTPError::uploadCancelled) : "传输失败";
}

bool isValidFileSize(std::int64_t byteCount)
{
    return byteCount >= 1 && byteCount <= maxFileBytes;
}

// The request head with the batch body's device, when it is not blank, in place of the query's.
RequestHead withBodyDevice(const RequestHead& head, const std::optional<std::string>& bodyDevice)
{
    RequestHead effective = head;
    if (bodyDevice) {
        const auto trimmed = trimWhitespaceAndNewlines(*bodyDevice);
        if (!trimmed.empty()) {
            effective.query.insert_or_assign("device", std::string(trimmed));
        }
    }
    return effective;
}

} // namespace

void handleUploadPreflight(ServerContext& context, Connection& connection)
{
    const Uuid preflightID = Uuid::random();
    const UploadSessionRegistration registration(context.uploads, preflightID, connection.fd());
    const RequestHead& head = connection.head();
    if (head.contentLength > 0) {
        connection.drainBody();
    }
    if (!context.passesSessionCheck(head)) {
        answerText(connection, 401, "需要 PIN 验证");
        return;
    }
    const std::string fileName(trimWhitespaceAndNewlines(head.queryValue("filename").value_or("")));
    if (fileName.empty()) {
        answerText(connection, 400, "缺少 filename");
        return;
    }
    const auto byteCount = parseDecimalInteger(head.queryValue("byteCount").value_or(""));
    if (!byteCount) {
        answerText(connection, 400, "缺少 byteCount");
        return;
    }
    if (!isValidFileSize(*byteCount)) {
        answerText(connection, 400, "无效的文件大小");
        return;
    }
    const std::string deviceFolder = deviceFolderFor(head, connection.peerIPv4Address());
    const std::string safeName = safeFileName(fileName);
    if (const auto error = checkDiskSpace(context.saveDirectory, *byteCount)) {
        answerText(connection, 500, description(*error));
        return;
    }
    if (context.asksBeforeSave() &&
        !askReceiveConfirmation(context.callbacks, {preflightID, fileName, deviceFolder, *byteCount})) {
        answerText(connection, 403, declineText(registration));
        return;
    }
    context.tickets.issue({{preflightID, safeName, deviceFolder, *byteCount}});
    connection.sendJSON(200, TransferUploadPreflightResponse{.approved = true, .uploadId = preflightID.text()});
}

void handleUploadPreflightBatch(ServerContext& context, Connection& connection)
{
    const Uuid batchID = Uuid::random();
    const UploadSessionRegistration registration(context.uploads, batchID, connection.fd());
    const RequestHead& head = connection.head();
    if (head.contentLength > maxBatchRequestBytes) {
        answerText(connection, 413, "请求体过大");
        connection.drainBody();
        return;
    }
    if (!context.passesSessionCheck(head)) {
        answerText(connection, 401, "需要 PIN 验证");
        if (head.contentLength > 0) {
            connection.drainBody();
        }
        return;
    }
    const auto body = connection.readBody();
    if (!body) {
        answerText(connection, 400, description(body.error()));
        return;
    }
    const auto request = decodeMessage<TransferPreflightBatchRequest>(*body);
    if (!request) {
        // The decoder's text may quote the request's own bytes.
        answerText(connection, 500, validUTF8Text(request.error()));
        return;
    }
    if (request->files.empty()) {
        answerText(connection, 400, "files 不能为空");
        return;
    }
    if (request->files.size() > maxBatchFiles) {
        answerText(connection, 400, "单次最多 " + std::to_string(maxBatchFiles) + " 个文件");
        return;
    }
    const std::string deviceFolder =
        deviceFolderFor(withBodyDevice(head, request->device), connection.peerIPv4Address());

    std::vector<UploadTicketStore::Approval> approvals;
    std::vector<ReceiveConfirmationRequest> questions;
    TransferUploadPreflightBatchResponse response;
    std::int64_t total = 0;
    for (const auto& file : request->files) {
        const std::string fileName(trimWhitespaceAndNewlines(file.filename));
        if (fileName.empty()) {
            answerText(connection, 400, "无效的文件名");
            return;
        }
        if (!isValidFileSize(file.byteCount)) {
            answerText(connection, 400, "无效的文件大小");
            return;
        }
        const Uuid ticketID = Uuid::random();
        total += file.byteCount;
        if (total > maxFileBytes) {
            answerText(connection, 400, "批量总大小超限");
            return;
        }
        approvals.push_back({ticketID, safeFileName(fileName), deviceFolder, file.byteCount});
        questions.push_back({ticketID, fileName, deviceFolder, file.byteCount});
        response.items.push_back({ticketID.text(), fileName});
    }
    if (const auto error = checkDiskSpace(context.saveDirectory, total)) {
        answerText(connection, 400, description(*error));
        return;
    }
    if (context.requireReceiveConfirmation && context.callbacks.confirmBatchBeforeSave &&
        !askBatchReceiveConfirmation(context.callbacks, questions)) {
        answerText(connection, 403, declineText(registration));
        return;
    }
    context.tickets.issue(approvals);
    connection.sendJSON(200, response);
}

} // namespace ferrylantern
