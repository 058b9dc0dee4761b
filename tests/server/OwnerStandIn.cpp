#include "tests/server/OwnerStandIn.h"

namespace ferrylantern::test {

TransferServerCallbacks OwnerStandIn::callbacks()
{
    const auto recordInto = [this](auto& records) {
        return [this, &records](const auto& record) {
            const std::lock_guard guard(lock_);
            records.push_back(record);
        };
    };
    TransferServerCallbacks callbacks;
    callbacks.onFileReceived = recordInto(records_);
    callbacks.onUploadProgress = recordInto(events_);
    callbacks.onTextReceived = recordInto(texts_);
    callbacks.onDownloadProgress = recordInto(downloadEvents_);
    callbacks.onSharedFileMissingChanged = [this](const Uuid& id, bool missing) {
        const std::lock_guard guard(lock_);
        missingChanges_.emplace_back(id, missing);
    };
    callbacks.confirmBeforeSave = [this](const ReceiveConfirmationRequest& request, OneShotReply<bool> reply) {
        ask(confirmations_, autoConfirm, request, std::move(reply));
    };
    callbacks.confirmBatchBeforeSave = [this](const std::vector<ReceiveConfirmationRequest>& requests,
                                              OneShotReply<bool> reply) {
        ask(batches_, autoConfirm, requests, std::move(reply));
    };
    callbacks.resolveDuplicateFile = [this](const DuplicateFileRequest& request,
                                            OneShotReply<DuplicateFileResolution> reply) {
        ask(duplicates_, autoDuplicate, request, std::move(reply));
    };
    return callbacks;
}

void OwnerStandIn::refusePendingQuestions()
{
    const std::lock_guard guard(lock_);
    refuseAll(confirmations_, false);
    refuseAll(batches_, false);
    refuseAll(duplicates_, DuplicateFileResolution::cancel);
}

} // namespace ferrylantern::test
