// POST "/v1/text": a text typed or pasted on the phone. The same gates as an upload (session, then
// the desktop user's consent when confirmation is on, asked as a question about a text), then the
// text goes to the owner whole; nothing is written to disk.
#include "server/Endpoints.h"
#include "server/OwnerQuestions.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/TextRules.h"
#include "server/TransferMessages.h"
#include "server/UTF8.h"
#include "server/UnicodeWhitespace.h"
#include "server/UploadNaming.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

namespace {

// How much of the first line the desktop's question shows.
constexpr std::size_t previewCharacters = 40;

// The sender's folder name: the body's device when it is not blank, else the query's, the user
// agent's or the peer's, as for a batch of files.
std::string senderOf(const BufferedRequest& request, const std::optional<std::string>& bodyDevice)
{
    if (bodyDevice) {
        const auto trimmed = trimWhitespaceAndNewlines(*bodyDevice);
        if (!trimmed.empty()) {
            return sanitizedDeviceName(trimmed);
        }
    }
    return deviceFolderFor(request.head, request.peerIPv4Address);
}

Refusal refusalFor(TextProblem problem)
{
    switch (problem) {
    case TextProblem::empty:
        return RequestRefusal::emptyText;
    case TextProblem::notUTF8:
        return RequestRefusal::textNotUTF8;
    case TextProblem::tooLong:
        return RequestRefusal::textTooLong;
    }
    return RequestRefusal::invalidTextRequest;
}

} // namespace

HttpResponse answerText(ServerContext& context, const BufferedRequest& request)
{
    // Registered like a preflight, so the desktop can cancel a text whose question waits.
    const Uuid requestID = Uuid::random();
    const UploadSessionRegistration registration(context.uploads, requestID, request.cancellableFD);
    if (request.head.contentLength > maxTextRequestBytes) {
        return refusalResponse(RequestRefusal::textTooLong);
    }
    if (!context.passesSessionCheck(request.head)) {
        return refusalResponse(RequestRefusal::sessionRequired);
    }
    const auto body = request.body.read();
    if (!body) {
        return refusalResponse(body.error());
    }
    // Checked before decoding, so malformed bytes get their own answer rather than the decoder's.
    if (!isValidUTF8(*body)) {
        return refusalResponse(RequestRefusal::textNotUTF8);
    }
    auto message = decodeMessage<TransferTextRequest>(*body);
    if (!message) {
        return refusalResponse(RequestRefusal::invalidTextRequest);
    }
    if (const auto problem = textProblem(message->text)) {
        return refusalResponse(refusalFor(*problem));
    }
    const std::string deviceFolder = senderOf(request, message->device);
    const auto byteCount = static_cast<std::int64_t>(message->text.size());
    if (context.asksBeforeSave()) {
        const auto consent = askReceiveConfirmation(
            context.callbacks,
            {requestID, textPreview(message->text, previewCharacters), deviceFolder, byteCount, ReceiveKind::text},
            context.asker(request.peerIPv4Address, request.clientHasGone));
        if (!consent) {
            return refusalResponse(consent.error());
        }
        if (!*consent) {
            return refusalResponse(declinedRefusal(registration.isCancelled()));
        }
    }
    const ReceivedTextRecord record{Uuid::random(), std::move(message->text), std::chrono::system_clock::now(),
                                    deviceFolder};
    if (context.callbacks.onTextReceived) {
        context.callbacks.onTextReceived(record);
    }
    return jsonResponseOrEmptyObject(
        TransferTextResponse{.id = record.id.text(), .byteCount = byteCount, .deviceFolder = deviceFolder});
}

} // namespace ferrylantern
