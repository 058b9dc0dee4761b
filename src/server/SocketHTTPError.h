// The failures of the transfer server. Each case has a user-facing description, which is also the
// text sent to browsers where an endpoint reports the failure.
#pragma once

#include <string_view>

namespace ferrylantern {

enum class SocketHTTPError
{
    socketCreateFailed,
    bindFailed,
    noPortAssigned,
    invalidMultipart,
    bodyTooLarge,
    emptyBody,
    incompleteBody,
    insufficientDiskSpace,
    multipartTooLarge,
    uploadCancelled,
    duplicateRejected,
    invalidUploadTicket,
    // Beyond the twelve failures above, those of a server on a hostile network:
    tooManyQuestions,   // this client address already has as many questions waiting as it may
    unsafeDeviceFolder, // the device folder is a symbolic link (or not a folder): nothing is written
};

std::string_view description(SocketHTTPError error);

} // namespace ferrylantern
