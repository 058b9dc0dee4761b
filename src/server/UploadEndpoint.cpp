// POST "/v1/upload": one file per request. The handler authorises the upload (session, then ticket or
// confirmation), claims a destination, receives the body into a hidden partial file, gives the
// complete file its name and answers with where it went. Every failure removes the partial file and
// reports `failed` to the owner. Refusals are answered before the body is read; the router then
// lingers over what the client still sends.
#include "server/ConfinedFolder.h"
#include "server/DiskSpace.h"
#include "server/Endpoints.h"
#include "server/MultipartBody.h"
#include "server/OwnerQuestions.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"
#include "server/UploadDestination.h"
#include "server/UploadNaming.h"
#include "server/UploadProgressEmitter.h"

#include <nlohmann/json.hpp>
#include <vector>

namespace ferrylantern {

namespace {

constexpr std::size_t readChunkSize = 262144;        // 256 KiB
constexpr std::int64_t maxMultipartBytes = 67108864; // 64 MiB, held in memory

class UploadHandler
{
public:
    UploadHandler(ServerContext& context, Connection& connection)
        : context_(context)
        , connection_(connection)
        , head_(connection.head())
        , uploadID_(Uuid::random())
        , progress_(uploadID_, context.callbacks.onUploadProgress)
        , registration_(context.uploads, uploadID_, connection.fd())
    {}

    void run()
    {
        if (!context_.passesSessionCheck(head_)) {
            connection_.send(refusalResponse(RequestRefusal::sessionRequired));
            return;
        }
        if (const auto failure = prepare()) {
            fail(*failure);
            return;
        }
        if (!accept()) {
            return;
        }
        progress_.started(shownFileName(clientFileName_), deviceFolder_, head_.contentLength);
        if (registration_.isCancelled()) {
            fail(SocketHTTPError::uploadCancelled);
            return;
        }
        const auto boundary = multipartBoundary(head_.header("content-type").value_or(""));
        const bool isMultipart =
            head_.header("content-type").value_or("").find("multipart/form-data") != std::string_view::npos;
        if (const auto failure = isMultipart && boundary ? receiveMultipart(*boundary) : receiveRaw()) {
            fail(*failure);
        }
    }

private:
    // Disk space (promised to this upload until it ends), device folder, names and the ticket.
    std::optional<UploadFailure> prepare()
    {
        auto promise = DiskSpaceLedger::shared().promise(context_.saveDirectory, head_.contentLength);
        if (!promise) {
            return promise.error();
        }
        diskSpace_.emplace(std::move(*promise));
        deviceFolder_ = deviceFolderFor(head_, connection_.peerIPv4Address());
        auto folder = ConfinedFolder::open(context_.saveDirectory, deviceFolder_);
        if (!folder) {
            if (isUnsafeFolderError(folder.error())) {
                return SocketHTTPError::unsafeDeviceFolder;
            }
            return folder.error();
        }
        folder_.emplace(std::move(*folder));
        clientFileName_ = clientFileName();
        safeName_ = safeFileName(clientFileName_);
        return checkTicket();
    }

    Asker asker()
    {
        return context_.asker(connection_.peerIPv4Address(), [this] { return connection_.hasPeerHungUp(); });
    }

    std::string clientFileName() const
    {
        for (const auto candidate : {head_.queryValue("filename"), head_.header("x-filename")}) {
            if (candidate && !candidate->empty()) {
                return std::string(*candidate);
            }
        }
        if (const auto disposition = head_.header("content-disposition")) {
            if (auto name = contentDispositionFileName(*disposition)) {
                return *name;
            }
        }
        if (head_.header("content-type").value_or("").starts_with("multipart/form-data")) {
            return "文件上传";
        }
        return "upload-" + makeUUIDText();
    }

    // A ticket that parses and exists must match exactly; it is used up either way.
    std::optional<UploadFailure> checkTicket()
    {
        const auto ticketID = Uuid::parse(head_.queryValue("uploadId").value_or(""));
        if (!ticketID) {
            return std::nullopt;
        }
        const auto ticket = context_.tickets.takeTicket(*ticketID);
        if (!ticket) {
            return std::nullopt;
        }
        hasTicket_ = true;
        if (ticket->isRevoked) {
            return SocketHTTPError::uploadCancelled; // everything was rejected after this was approved
        }
        if (ticket->safeName != safeName_ || ticket->deviceFolder != deviceFolder_ ||
            ticket->byteCount != head_.contentLength) {
            return SocketHTTPError::invalidUploadTicket;
        }
        return std::nullopt;
    }

    // Without a ticket: the desktop user's consent when confirmation is on; otherwise a request that
    // named a ticket we do not know is refused, and one that named none is accepted.
    bool accept()
    {
        if (hasTicket_) {
            return true;
        }
        if (context_.asksBeforeSave()) {
            const auto consent = askReceiveConfirmation(
                context_.callbacks, {uploadID_, shownFileName(clientFileName_), deviceFolder_, head_.contentLength},
                asker());
            if (consent && *consent) {
                return true;
            }
            connection_.send(
                refusalResponse(consent ? declinedRefusal(registration_.isCancelled()) : Refusal{consent.error()}));
            return false;
        }
        if (!head_.queryValue("uploadId").value_or("").empty()) {
            connection_.send(refusalResponse(SocketHTTPError::invalidUploadTicket));
            return false;
        }
        return true;
    }

    std::optional<UploadFailure> receiveRaw()
    {
        if (head_.contentLength == 0) {
            return SocketHTTPError::emptyBody;
        }
        return saveAs([this](PartialFile& file) { return receiveBodyInto(file); });
    }

    // Claims the destination of `safeName_` (asking about a same-name file), has `writeContent` fill
    // a partial file and gives the complete file its name.
    template <typename WriteContent>
    std::optional<UploadFailure> saveAs(WriteContent writeContent)
    {
        auto destination =
            UploadDestination::choose(*folder_, safeName_, context_.callbacks, uploadID_, deviceFolder_, asker());
        if (!destination) {
            return destination.error();
        }
        auto file = PartialFile::create(*folder_);
        if (!file) {
            return file.error();
        }
        const Expected<std::int64_t, UploadFailure> written = writeContent(*file);
        if (!written) {
            return written.error();
        }
        return finish(*destination, *file, *written);
    }

    // Streams the body through one 256 KiB buffer into `file`; returns the byte count.
    Expected<std::int64_t, UploadFailure> receiveBodyInto(PartialFile& file)
    {
        const std::int64_t expected = head_.contentLength;
        const auto prefix = std::string_view(head_.bodyPrefix).substr(0, static_cast<std::size_t>(expected));
        if (const auto error = file.write(prefix)) {
            return Unexpected{UploadFailure(error)};
        }
        auto count = static_cast<std::int64_t>(prefix.size());
        std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(readChunkSize, expected)));
        while (count < expected) {
            if (registration_.isCancelled()) {
                return Unexpected{UploadFailure(SocketHTTPError::uploadCancelled)};
            }
            const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(readChunkSize, expected - count));
            const ssize_t received = connection_.receive({buffer.data(), wanted});
            if (received <= 0) {
                return Unexpected{UploadFailure(endOfStreamFailure())};
            }
            if (const auto error = file.write({buffer.data(), static_cast<std::size_t>(received)})) {
                return Unexpected{UploadFailure(error)};
            }
            count += received;
            diskSpace_->written(count);
            progress_.update(count, false);
        }
        return count;
    }

    std::optional<UploadFailure> receiveMultipart(const std::string& boundary)
    {
        if (head_.contentLength > maxMultipartBytes) {
            return SocketHTTPError::multipartTooLarge;
        }
        auto body = readWholeBody();
        if (!body) {
            return body.error();
        }
        const auto part = firstMultipartFilePart(*body, boundary);
        if (!part) {
            return SocketHTTPError::invalidMultipart;
        }
        safeName_ = safeFileName(part->fileName.value_or("upload-" + makeUUIDText()));
        return saveAs([&part](PartialFile& file) -> Expected<std::int64_t, UploadFailure> {
            if (const auto error = file.write(part->data)) {
                return Unexpected{UploadFailure(error)};
            }
            return static_cast<std::int64_t>(part->data.size());
        });
    }

    Expected<std::string, UploadFailure> readWholeBody()
    {
        const auto expected = static_cast<std::size_t>(head_.contentLength);
        std::string body = head_.bodyPrefix;
        body.reserve(expected);
        std::vector<char> buffer(readChunkSize);
        while (body.size() < expected) {
            if (registration_.isCancelled()) {
                return Unexpected{UploadFailure(SocketHTTPError::uploadCancelled)};
            }
            const ssize_t received =
                connection_.receive({buffer.data(), std::min(readChunkSize, expected - body.size())});
            if (received <= 0) {
                return Unexpected{UploadFailure(endOfStreamFailure())};
            }
            body.append(buffer.data(), static_cast<std::size_t>(received));
        }
        body.resize(expected);
        return body;
    }

    // A body that ended early: cancelled from the desktop, or the client went away.
    SocketHTTPError endOfStreamFailure() const
    {
        return registration_.isCancelled() ? SocketHTTPError::uploadCancelled : SocketHTTPError::incompleteBody;
    }

    std::optional<UploadFailure> finish(UploadDestination& destination, PartialFile& file, std::int64_t count)
    {
        if (const auto error = file.close()) {
            return error;
        }
        const auto saved = destination.commit(*folder_, file);
        if (!saved) {
            return saved.error();
        }
        progress_.update(count, true);
        progress_.finished();
        const ReceivedFileRecord record{Uuid::random(),
                                        saved->filename().string(),
                                        count,
                                        std::chrono::system_clock::now(),
                                        std::filesystem::absolute(*saved),
                                        deviceFolder_};
        if (context_.callbacks.onFileReceived) {
            context_.callbacks.onFileReceived(record);
        }
        connection_.send(jsonResponseOrEmptyObject(TransferUploadResponse{.id = record.id.text(),
                                                                          .fileName = record.fileName,
                                                                          .byteCount = count,
                                                                          .savedPath = record.fileURL.string(),
                                                                          .deviceFolder = deviceFolder_}));
        return std::nullopt;
    }

    // The partial file is already gone (its owner removed it on the way out).
    void fail(const UploadFailure& failure)
    {
        progress_.failed();
        connection_.send(refusalResponse(FailedUpload{failure}));
    }

    ServerContext& context_;
    Connection& connection_;
    const RequestHead& head_;
    const Uuid uploadID_;
    UploadProgressEmitter progress_;
    UploadSessionRegistration registration_;
    std::optional<DiskSpaceLedger::Promise> diskSpace_;
    std::string deviceFolder_;
    std::optional<ConfinedFolder> folder_;
    std::string clientFileName_;
    std::string safeName_;
    bool hasTicket_ = false;
};

} // namespace

void handleUpload(ServerContext& context, Connection& connection)
{
    UploadHandler(context, connection).run();
}

} // namespace ferrylantern
