#include "ServerConsole.h"

#include <istream>
#include <ostream>

namespace ferrylantern {

namespace {

std::string describeRequest(const ReceiveConfirmationRequest& request)
{
    return request.fileName + " (" + std::to_string(request.byteCount) + " bytes)";
}

} // namespace

ServerConsole::ServerConsole(const ServerCommandLine& commandLine, std::ostream& output, std::istream& answers,
                             std::ostream& prompts)
    : confirm_(commandLine.confirm)
    , onDuplicate_(commandLine.onDuplicate)
    , output_(output)
    , answers_(answers)
    , prompts_(prompts)
{}

TransferServerCallbacks ServerConsole::callbacks()
{
    auto self = shared_from_this();
    TransferServerCallbacks callbacks;
    callbacks.onFileReceived = [self](const ReceivedFileRecord& record) { self->fileReceived(record); };
    callbacks.onUploadProgress = [self](const TransferUploadProgressEvent& event) { self->progress(event); };
    callbacks.confirmBeforeSave = [self](const ReceiveConfirmationRequest& request, OneShotReply<bool> reply) {
        reply.resume(self->confirm("Receive " + describeRequest(request) + " from " + request.deviceFolder + "?"));
    };
    callbacks.confirmBatchBeforeSave = [self](const std::vector<ReceiveConfirmationRequest>& requests,
                                              OneShotReply<bool> reply) {
        std::string question =
            "Receive " + std::to_string(requests.size()) + " files from " + requests.front().deviceFolder + "?";
        for (const auto& request : requests) {
            question += "\n  " + describeRequest(request);
        }
        reply.resume(self->confirm(question));
    };
    callbacks.resolveDuplicateFile = [self](const DuplicateFileRequest& request,
                                            OneShotReply<DuplicateFileResolution> reply) {
        reply.resume(self->resolveDuplicate(request));
    };
    return callbacks;
}

void ServerConsole::fileReceived(const ReceivedFileRecord& record)
{
    const std::lock_guard guard(outputLock_);
    output_ << "saved " << record.fileURL.string() << " (" << record.byteCount << " bytes)" << std::endl;
}

void ServerConsole::progress(const TransferUploadProgressEvent& event)
{
    const std::lock_guard guard(outputLock_);
    if (const auto* started = std::get_if<UploadStarted>(&event)) {
        uploads_[started->id] = {started->fileName, started->deviceFolder};
    } else if (std::holds_alternative<UploadFinished>(event)) {
        uploads_.erase(uploadID(event));
    } else if (std::holds_alternative<UploadFailed>(event)) {
        const auto found = uploads_.find(uploadID(event));
        if (found == uploads_.end()) {
            output_ << "failed upload (refused before it started)" << std::endl;
            return;
        }
        output_ << "failed " << found->second.fileName << " from " << found->second.deviceFolder << std::endl;
        uploads_.erase(found);
    }
}

bool ServerConsole::confirm(const std::string& question)
{
    if (confirm_ != ConsoleAnswer::ask) {
        return confirm_ != ConsoleAnswer::reject;
    }
    const auto answer = askLine(question + " [y/N] ");
    return answer == "y" || answer == "Y" || answer == "yes";
}

DuplicateFileResolution ServerConsole::resolveDuplicate(const DuplicateFileRequest& request)
{
    switch (onDuplicate_) {
    case ConsoleAnswer::overwrite:
        return DuplicateFileResolution::overwrite;
    case ConsoleAnswer::cancel:
        return DuplicateFileResolution::cancel;
    case ConsoleAnswer::ask:
        break;
    default:
        return DuplicateFileResolution::keepCopy;
    }
    const auto answer = askLine(request.existingFilePath + " exists. Overwrite, keep both or cancel? [o/K/c] ");
    if (answer == "o" || answer == "overwrite") {
        return DuplicateFileResolution::overwrite;
    }
    if (answer == "c" || answer == "cancel") {
        return DuplicateFileResolution::cancel;
    }
    return DuplicateFileResolution::keepCopy;
}

std::string ServerConsole::askLine(const std::string& question)
{
    const std::lock_guard guard(terminalLock_);
    prompts_ << question << std::flush;
    std::string line;
    if (!std::getline(answers_, line)) {
        return {}; // no terminal: the cautious answer
    }
    return line;
}

} // namespace ferrylantern
