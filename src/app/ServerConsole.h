// The desktop user's part when there is no window: answers the server's questions as the command line
// says (or on the terminal) and prints one line per saved file and per failed upload.
//
// Thread-safe: the server calls the callbacks on its worker threads.
#pragma once

#include "ServerCallbacks.h"
#include "ServerCommandLine.h"

#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>

namespace ferrylantern {

class ServerConsole : public std::enable_shared_from_this<ServerConsole>
{
public:
    // Lines go to `output`; questions in ask mode are asked on `prompts` and answered from `answers`.
    ServerConsole(const ServerCommandLine& commandLine, std::ostream& output, std::istream& answers,
                  std::ostream& prompts);

    // The callbacks to give the server; they hold this console alive.
    TransferServerCallbacks callbacks();

private:
    struct UploadInFlight
    {
        std::string fileName;
        std::string deviceFolder;
    };

    void fileReceived(const ReceivedFileRecord& record);
    void progress(const TransferUploadProgressEvent& event);
    bool confirm(const std::string& question);
    DuplicateFileResolution resolveDuplicate(const DuplicateFileRequest& request);
    std::string askLine(const std::string& question);

    std::optional<ConsoleAnswer> confirm_;
    ConsoleAnswer onDuplicate_;
    std::ostream& output_;
    std::istream& answers_;
    std::ostream& prompts_;
    std::mutex outputLock_;
    std::mutex terminalLock_;                // one question on the terminal at a time
    std::map<Uuid, UploadInFlight> uploads_; // guarded by outputLock_
};

} // namespace ferrylantern
