// Asking the server's owner a question and waiting for the answer on the request's worker thread.
// The thread blocks without a time limit until the owner resumes the reply it was given; a missing
// callback is not asked at all and gives the answer the server assumes without an owner.
#pragma once

#include "server/ServerCallbacks.h"

namespace ferrylantern {

// True (save) or false (decline). Without a callback: true.
bool askReceiveConfirmation(const TransferServerCallbacks& callbacks, const ReceiveConfirmationRequest& request);

// One answer for the whole batch, requests in the order of the batch. Without a callback: true.
bool askBatchReceiveConfirmation(const TransferServerCallbacks& callbacks,
                                 const std::vector<ReceiveConfirmationRequest>& requests);

// What to do with a same-name file. Without a callback: keepCopy.
DuplicateFileResolution askDuplicateResolution(const TransferServerCallbacks& callbacks,
                                               const DuplicateFileRequest& request);

} // namespace ferrylantern
