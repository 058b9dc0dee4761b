// The answers of the resume protocol that are not a request's refusals: where an upload stands, a
// slice taken, an offset that does not fit, nothing to resume, a cancel carried out. They are JSON,
// and they are chosen here only, as refusalResponse() chooses the refusals.
//
//   return resumeResponse(ResumeRefusal{ResumeFailure::offsetConflict, bytesOnDisk});   // 409 {"offset":N}
#pragma once

#include "server/HttpResponse.h"
#include "server/ResumableUploads.h"
#include "server/Uuid.h"

#include <cstdint>
#include <variant>

namespace ferrylantern {

// 200: where the upload of `uploadID` (a ticket id) stands.
struct UploadPositionAnswer
{
    Uuid uploadID;
    ResumePosition position;
};

// 200: a slice was written; the file is complete up to `offset`, not further.
struct SliceAcceptedAnswer
{
    Uuid uploadID;
    std::int64_t offset = 0;
};

// 200: the phone's cancel was carried out.
struct UploadCancelledAnswer
{
    Uuid uploadID;
};

using ResumeAnswer = std::variant<UploadPositionAnswer, SliceAcceptedAnswer, UploadCancelledAnswer, ResumeRefusal>;

// nothingToResume and cancelled: 404 {"error":"…"}; offsetConflict: 409 {"offset":N}. The other
// failures are refusals of the request and answer as refusalResponse() does.
[[nodiscard]] HttpResponse resumeResponse(const ResumeAnswer& answer);

} // namespace ferrylantern
