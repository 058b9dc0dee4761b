#include "server/DecimalInteger.h"
#include "server/DiskSpace.h"
#include "server/Endpoints.h"
#include "server/OwnerQuestions.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"
#include "server/UnicodeWhitespace.h"
#include "server/UploadNaming.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

namespace {

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

// The name the desktop shows for a file of a picked folder: its folders below the device folder, then
// its own name.
std::string shownNameIn(const std::string& subfolder, std::string_view fileName)
{
    const auto name = shownFileName(fileName);
    return subfolder.empty() ? name : subfolder + "/" + name;
}

Asker askerFor(ServerContext& context, const BufferedRequest& request)
{
    return context.asker(request.peerIPv4Address, request.clientHasGone);
}

} // namespace

HttpResponse answerUploadPreflight(ServerContext& context, const BufferedRequest& request)
{
    const Uuid preflightID = Uuid::random();
    const UploadSessionRegistration registration(context.uploads, preflightID, request.cancellableFD);
    const RequestHead& head = request.head;
    if (!context.passesSessionCheck(head)) {
        return refusalResponse(RequestRefusal::sessionRequired);
    }
    const std::string fileName(trimWhitespaceAndNewlines(head.queryValue("filename").value_or("")));
    if (fileName.empty()) {
        return refusalResponse(RequestRefusal::missingFileName);
    }
    const auto byteCount = parseDecimalInteger(head.queryValue("byteCount").value_or(""));
    if (!byteCount) {
        return refusalResponse(RequestRefusal::missingByteCount);
    }
    if (!isValidFileSize(*byteCount)) {
        return refusalResponse(RequestRefusal::invalidFileSize);
    }
    const std::string deviceFolder = deviceFolderFor(head, request.peerIPv4Address);
    const std::string safeName = safeFileName(fileName);
    const std::string subfolder = safeSubfolderPath(head.queryValue("path").value_or(""));
    if (const auto error = checkDiskSpace(context.saveDirectory, *byteCount)) {
        return refusalResponse(*error);
    }
    const std::string owner = context.requestOwner(request.head, request.peerIPv4Address);
    if (!context.tickets.hasRoomFor(owner, 1)) {
        return refusalResponse(RequestRefusal::tooManyTickets);
    }
    const auto approvalRound = context.tickets.approvalRound();
    if (context.asksBeforeSave()) {
        const auto consent = askReceiveConfirmation(
            context.callbacks, {preflightID, shownNameIn(subfolder, fileName), deviceFolder, *byteCount},
            askerFor(context, request));
        if (!consent) {
            return refusalResponse(consent.error());
        }
        if (!*consent) {
            return refusalResponse(declinedRefusal(registration.isCancelled()));
        }
    }
    if (!context.tickets.issue({{preflightID, safeName, deviceFolder, *byteCount, subfolder}}, approvalRound, owner)) {
        return refusalResponse(RequestRefusal::tooManyTickets);
    }
    return jsonResponseOrEmptyObject(TransferUploadPreflightResponse{.approved = true, .uploadId = preflightID.text()});
}

HttpResponse answerUploadPreflightBatch(ServerContext& context, const BufferedRequest& request)
{
    const Uuid batchID = Uuid::random();
    const UploadSessionRegistration registration(context.uploads, batchID, request.cancellableFD);
    const RequestHead& head = request.head;
    if (head.contentLength > maxBatchRequestBytes) {
        return refusalResponse(RequestRefusal::batchRequestTooLarge);
    }
    if (!context.passesSessionCheck(head)) {
        return refusalResponse(RequestRefusal::sessionRequired);
    }
    const auto body = request.body.read();
    if (!body) {
        return refusalResponse(body.error());
    }
    const auto batch = decodeMessage<TransferPreflightBatchRequest>(*body);
    if (!batch) {
        return refusalResponse(UndecodableBody{batch.error()});
    }
    if (batch->files.empty()) {
        return refusalResponse(RequestRefusal::noFiles);
    }
    if (batch->files.size() > maxBatchFiles) {
        return refusalResponse(RequestRefusal::tooManyFiles);
    }
    const std::string deviceFolder = deviceFolderFor(withBodyDevice(head, batch->device), request.peerIPv4Address);

    std::vector<UploadTicketStore::Approval> approvals;
    std::vector<ReceiveConfirmationRequest> questions;
    TransferUploadPreflightBatchResponse response;
    std::int64_t total = 0;
    for (const auto& file : batch->files) {
        const std::string fileName(trimWhitespaceAndNewlines(file.filename));
        if (fileName.empty()) {
            return refusalResponse(RequestRefusal::invalidFileName);
        }
        if (!isValidFileSize(file.byteCount)) {
            return refusalResponse(RequestRefusal::invalidFileSize);
        }
        const Uuid ticketID = Uuid::random();
        total += file.byteCount;
        if (total > maxFileBytes) {
            return refusalResponse(RequestRefusal::batchTooLarge);
        }
        const std::string subfolder = safeSubfolderPath(file.path.value_or(""));
        approvals.push_back({ticketID, safeFileName(fileName), deviceFolder, file.byteCount, subfolder});
        questions.push_back({ticketID, shownNameIn(subfolder, fileName), deviceFolder, file.byteCount});
        response.items.push_back({ticketID.text(), fileName});
    }
    if (const auto error = checkDiskSpace(context.saveDirectory, total)) {
        return refusalResponse(*error);
    }
    const std::string owner = context.requestOwner(request.head, request.peerIPv4Address);
    if (!context.tickets.hasRoomFor(owner, approvals.size())) {
        return refusalResponse(RequestRefusal::tooManyTickets);
    }
    const auto approvalRound = context.tickets.approvalRound();
    if (context.requireReceiveConfirmation && context.callbacks.confirmBatchBeforeSave) {
        const auto consent = askBatchReceiveConfirmation(context.callbacks, questions, askerFor(context, request));
        if (!consent) {
            return refusalResponse(consent.error());
        }
        if (!*consent) {
            return refusalResponse(declinedRefusal(registration.isCancelled()));
        }
    }
    if (!context.tickets.issue(approvals, approvalRound, owner)) {
        return refusalResponse(RequestRefusal::tooManyTickets);
    }
    return jsonResponseOrEmptyObject(response);
}

} // namespace ferrylantern
