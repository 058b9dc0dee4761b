#include "server/ResumeAnswer.h"

#include "server/Refusal.h"
#include "server/TransferMessages.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

namespace {

HttpResponse json(int status, const nlohmann::json& message)
{
    auto response = jsonResponseOrEmptyObject(message);
    response.status = status;
    return response;
}

HttpResponse answerFor(const UploadPositionAnswer& answer)
{
    const auto& position = answer.position;
    const bool isSaved = position.savedName.has_value();
    return json(200, TransferUploadResumeResponse{
                         .uploadId = answer.uploadID.text(),
                         .offset = position.offset,
                         .byteCount = position.byteCount,
                         .fileName = position.savedName,
                         .deviceFolder = isSaved ? std::optional(position.deviceFolder) : std::nullopt,
                     });
}

HttpResponse answerFor(const SliceAcceptedAnswer& answer)
{
    return json(200, TransferUploadSliceResponse{.uploadId = answer.uploadID.text(), .offset = answer.offset});
}

HttpResponse answerFor(const UploadCancelledAnswer& answer)
{
    return json(200, TransferUploadCancelResponse{.uploadId = answer.uploadID.text(), .cancelled = true});
}

HttpResponse answerFor(const ResumeRefusal& refusal)
{
    switch (refusal.failure) {
    case ResumeFailure::nothingToResume:
        return json(404, TransferUploadResumeError{"没有可续传的上传"});
    case ResumeFailure::cancelled:
        // The words of a cancelled upload's own answer, so clients read both alike.
        return json(404, TransferUploadResumeError{std::string(description(SocketHTTPError::uploadCancelled))});
    case ResumeFailure::offsetConflict:
        return json(409, TransferUploadOffsetResponse{refusal.offset});
    case ResumeFailure::mismatch:
        return refusalResponse(SocketHTTPError::invalidUploadTicket);
    case ResumeFailure::emptySlice:
        return refusalResponse(SocketHTTPError::emptyBody);
    case ResumeFailure::beyondFile:
        return refusalResponse(RequestRefusal::sliceBeyondFile);
    case ResumeFailure::busy:
        return refusalResponse(RequestRefusal::serverBusy);
    }
    return json(404, TransferUploadResumeError{"没有可续传的上传"});
}

} // namespace

HttpResponse resumeResponse(const ResumeAnswer& answer)
{
    return std::visit([](const auto& value) { return answerFor(value); }, answer);
}

} // namespace ferrylantern
