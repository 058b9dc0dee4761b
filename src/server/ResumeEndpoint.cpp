// GET "/v1/upload/resume" and POST "/v1/upload/cancel": where a ticketed upload stands, and the
// phone giving one up. Both are behind the same session gate as the uploads, and a kept upload is
// only shown to (and cancelled for) the session or address it belongs to.
#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/ResumeAnswer.h"
#include "server/ServerContext.h"

namespace ferrylantern {

namespace {

std::optional<Uuid> uploadIDOf(const RequestHead& head)
{
    return Uuid::parse(head.queryValue("uploadId").value_or(""));
}

} // namespace

HttpResponse answerUploadResume(ServerContext& context, const BufferedRequest& request)
{
    const RequestHead& head = request.head;
    if (!context.passesSessionCheck(head)) {
        return refusalResponse(RequestRefusal::sessionRequired);
    }
    const auto ticketID = uploadIDOf(head);
    if (!ticketID) {
        return resumeResponse(ResumeRefusal{ResumeFailure::nothingToResume});
    }
    const auto position = context.resumable.position(*ticketID, context.requestOwner(head, request.peerIPv4Address));
    if (position) {
        return resumeResponse(UploadPositionAnswer{*ticketID, *position});
    }
    if (position.error() != ResumeFailure::nothingToResume) {
        return resumeResponse(ResumeRefusal{position.error()});
    }
    // A ticket nobody has used yet: its upload starts at its first byte.
    if (const auto ticket = context.tickets.peekTicket(*ticketID)) {
        if (ticket->isRevoked) {
            return resumeResponse(ResumeRefusal{ResumeFailure::cancelled});
        }
        return resumeResponse(
            UploadPositionAnswer{*ticketID, {0, ticket->byteCount, std::nullopt, ticket->deviceFolder}});
    }
    return resumeResponse(ResumeRefusal{ResumeFailure::nothingToResume});
}

HttpResponse answerUploadCancel(ServerContext& context, const BufferedRequest& request)
{
    const RequestHead& head = request.head;
    if (!context.passesSessionCheck(head)) {
        return refusalResponse(RequestRefusal::sessionRequired);
    }
    const auto ticketID = uploadIDOf(head);
    if (!ticketID) {
        return resumeResponse(ResumeRefusal{ResumeFailure::nothingToResume});
    }
    if (context.resumable.cancelByTicket(*ticketID, context.requestOwner(head, request.peerIPv4Address)) ||
        context.tickets.takeTicket(*ticketID)) {
        return resumeResponse(UploadCancelledAnswer{*ticketID});
    }
    return resumeResponse(ResumeRefusal{ResumeFailure::nothingToResume});
}

} // namespace ferrylantern
