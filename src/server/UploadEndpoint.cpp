// POST "/v1/upload": one file per request, or one slice of a file. The handler authorises the upload
// (session, then ticket or confirmation), claims a destination, receives the body into a hidden partial
// file, gives the complete file its name and answers with where it went. Refusals are answered before
// the body is read; the router then lingers over what the client still sends.
//
// An upload that came with a ticket is resumable (ResumableUploads.h): when its body breaks off, its
// partial file is kept for the resume window instead of being removed, and the desktop goes on showing
// it. A request with an `offset` continues such an upload from the byte the file holds, or starts one
// whose body comes in slices; a slice that does not complete the file is answered with the offset the
// next one starts at. Every other failure removes the partial file and reports `failed` to the owner.
#include "server/ConfinedFolder.h"
#include "server/DecimalInteger.h"
#include "server/DiskSpace.h"
#include "server/Endpoints.h"
#include "server/MultipartBody.h"
#include "server/MultipartFilePartStream.h"
#include "server/OwnerQuestions.h"
#include "server/RawBodyReceiver.h"
#include "server/Refusal.h"
#include "server/ResumeAnswer.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"
#include "server/UploadDestination.h"
#include "server/UploadNaming.h"
#include "server/UploadProgressEmitter.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

namespace ferrylantern {

namespace {

constexpr std::size_t readChunkSize = RawBodyReceiver::stepSize; // 256 KiB
constexpr std::int64_t maxMultipartBytes = 67108864;             // 64 MiB

class UploadHandler
{
public:
    UploadHandler(ServerContext& context, Connection& connection)
        : context_(context)
        , connection_(connection)
        , head_(connection.head())
        , peer_(connection.peerIPv4Address())
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
        if (head_.queryValue("offset")) {
            runWithOffset();
            return;
        }
        if (const auto failure = prepare()) {
            fail(*failure);
            return;
        }
        if (!accept()) {
            return;
        }
        progress_.started(shownName(), deviceFolder_, head_.contentLength);
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
        deviceFolder_ = deviceFolderFor(head_, peer_);
        subfolder_ = safeSubfolderPath(head_.queryValue("path").value_or(""));
        if (const auto failure = prepareFolderAndSpace(head_.contentLength)) {
            return failure;
        }
        clientFileName_ = clientFileName();
        safeName_ = safeFileName(clientFileName_);
        return checkTicket();
    }

    // The name the desktop shows: the folders below the device folder, then the file's own name.
    std::string shownName() const
    {
        const auto name = shownFileName(clientFileName_);
        return subfolder_.empty() ? name : subfolder_ + "/" + name;
    }

    Asker asker()
    {
        return context_.asker(peer_, [this] { return connection_.hasPeerHungUp(); });
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
        ticketID_ = ticketID;
        if (ticket->isRevoked) {
            return SocketHTTPError::uploadCancelled; // everything was rejected after this was approved
        }
        if (ticket->safeName != safeName_ || ticket->deviceFolder != deviceFolder_ || ticket->subfolder != subfolder_ ||
            ticket->byteCount != head_.contentLength) {
            return SocketHTTPError::invalidUploadTicket;
        }
        return std::nullopt;
    }

    // Without a ticket: the desktop user's consent when confirmation is on; otherwise a request that
    // named a ticket we do not know is refused, and one that named none is accepted.
    bool accept()
    {
        if (ticketID_) {
            return true;
        }
        if (context_.asksBeforeSave()) {
            const auto consent = askReceiveConfirmation(
                context_.callbacks, {uploadID_, shownName(), deviceFolder_, head_.contentLength}, asker());
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

    // A raw body. With a ticket the upload is resumable; without one (or when no more uploads can be
    // kept) its partial file goes with any failure.
    std::optional<UploadFailure> receiveRaw()
    {
        if (head_.contentLength == 0) {
            return SocketHTTPError::emptyBody;
        }
        if (!ticketID_) {
            return saveAs([this](PartialFile& file) { return receiveBodyInto(file); });
        }
        auto destination =
            UploadDestination::choose(*folder_, safeName_, context_.callbacks, uploadID_, deviceFolder_, asker());
        if (!destination) {
            return destination.error();
        }
        auto file = PartialFile::create(*folder_);
        if (!file) {
            return file.error();
        }
        auto lease = context_.resumable.begin(
            *ticketID_, {uploadID_, owner(), deviceFolder_, safeName_, head_.contentLength, subfolder_},
            connection_.fd());
        if (!lease) {
            const Expected<std::int64_t, UploadFailure> written = receiveBodyInto(*file);
            if (!written) {
                return written.error();
            }
            return finish(*folder_, *destination, *file, *written, progress_);
        }
        ResumableFile resumable{std::move(*folder_), std::move(*destination), std::move(*file), std::move(*diskSpace_)};
        folder_.reset();
        diskSpace_.reset();
        receiveResumable(std::move(*lease), std::move(resumable), progress_);
        return std::nullopt;
    }

    // MARK: Requests with an offset

    // A request that names where its body starts in the file: it continues a kept upload, or it is the
    // first slice of an upload whose ticket is still unused.
    void runWithOffset()
    {
        const auto offset = parseDecimalInteger(head_.queryValue("offset").value_or(""));
        if (!offset || *offset < 0) {
            connection_.send(refusalResponse(RequestRefusal::invalidOffset));
            return;
        }
        const auto ticketID = Uuid::parse(head_.queryValue("uploadId").value_or(""));
        if (!ticketID) {
            connection_.send(resumeResponse(ResumeRefusal{ResumeFailure::nothingToResume}));
            return;
        }
        ticketID_ = ticketID;
        deviceFolder_ = deviceFolderFor(head_, peer_);
        subfolder_ = safeSubfolderPath(head_.queryValue("path").value_or(""));
        clientFileName_ = clientFileName();
        safeName_ = safeFileName(clientFileName_);
        auto lease = context_.resumable.resume(
            {*ticketID, owner(), safeName_, deviceFolder_, *offset, head_.contentLength, connection_.fd(), subfolder_});
        if (lease) {
            continueKept(std::move(*lease));
        } else if (lease.error().failure == ResumeFailure::nothingToResume) {
            startWithOffset(*offset);
        } else {
            connection_.send(resumeResponse(lease.error()));
        }
    }

    // The first request of an upload whose ticket is unused: the same checks as a whole upload, with
    // the ticket's size as the file's and the body as its first bytes.
    void startWithOffset(std::int64_t offset)
    {
        const auto ticket = context_.tickets.peekTicket(*ticketID_);
        const std::int64_t length = head_.contentLength;
        std::optional<ResumeFailure> unfit;
        if (!ticket) {
            unfit = ResumeFailure::nothingToResume;
        } else if (ticket->isRevoked) {
            unfit = ResumeFailure::cancelled;
        } else if (offset != 0) {
            connection_.send(resumeResponse(ResumeRefusal{ResumeFailure::offsetConflict, 0}));
            return;
        } else if (length == 0) {
            unfit = ResumeFailure::emptySlice;
        } else if (length > ticket->byteCount) {
            unfit = ResumeFailure::beyondFile;
        }
        if (unfit) {
            connection_.send(resumeResponse(ResumeRefusal{*unfit}));
            return;
        }
        if (!context_.resumable.hasRoomFor(owner())) {
            connection_.send(refusalResponse(RequestRefusal::tooManyResumableUploads));
            return;
        }
        if (const auto failure = prepareFolderAndSpace(ticket->byteCount)) {
            fail(*failure);
            return;
        }
        const auto taken = context_.tickets.takeTicket(*ticketID_);
        if (!taken || taken->isRevoked) {
            connection_.send(
                resumeResponse(ResumeRefusal{taken ? ResumeFailure::cancelled : ResumeFailure::nothingToResume}));
            return;
        }
        if (taken->safeName != safeName_ || taken->deviceFolder != deviceFolder_ || taken->subfolder != subfolder_) {
            connection_.send(refusalResponse(SocketHTTPError::invalidUploadTicket));
            return;
        }
        progress_.started(shownName(), deviceFolder_, taken->byteCount);
        if (registration_.isCancelled()) {
            fail(SocketHTTPError::uploadCancelled);
            return;
        }
        auto destination =
            UploadDestination::choose(*folder_, safeName_, context_.callbacks, uploadID_, deviceFolder_, asker());
        if (!destination) {
            fail(destination.error());
            return;
        }
        auto file = PartialFile::create(*folder_);
        if (!file) {
            fail(file.error());
            return;
        }
        auto lease = context_.resumable.begin(
            *ticketID_, {uploadID_, owner(), deviceFolder_, safeName_, taken->byteCount, subfolder_}, connection_.fd());
        if (!lease) {
            progress_.failed();
            connection_.send(refusalResponse(RequestRefusal::tooManyResumableUploads));
            return;
        }
        ResumableFile resumable{std::move(*folder_), std::move(*destination), std::move(*file), std::move(*diskSpace_)};
        folder_.reset();
        diskSpace_.reset();
        receiveResumable(std::move(*lease), std::move(resumable), progress_);
    }

    // A kept upload goes on under its own progress id: the desktop sees the same transfer continue.
    void continueKept(ResumableUploads::Lease lease)
    {
        const Uuid progressID = lease.identity().progressID;
        resumedRegistration_.emplace(context_.uploads, progressID, connection_.fd());
        resumedProgress_.emplace(progressID, context_.callbacks.onUploadProgress);
        auto file = lease.takeFile();
        if (!file) {
            lease.drop();
            resumedProgress_->failed();
            connection_.send(refusalResponse(FailedUpload{SocketHTTPError::incompleteBody}));
            return;
        }
        receiveResumable(std::move(lease), std::move(*file), *resumedProgress_);
    }

    // Receives this request's body into the resumable upload held under `lease` and ends the request:
    // the file saved (the upload's own answer), a slice kept (the next offset), the upload kept after
    // its body broke off (no `failed`: it may be continued), or a failure.
    void receiveResumable(ResumableUploads::Lease lease, ResumableFile resumable, UploadProgressEmitter& progress)
    {
        const std::int64_t offset = lease.offset();
        const std::int64_t byteCount = lease.identity().byteCount;
        const auto received = receiveBody(
            resumable.file, head_.contentLength, [&] { return isCancelled() || lease.isCancelRequested(); },
            [&](std::int64_t count) {
                lease.written(offset + count);
                resumable.diskSpace.written(offset + count);
                progress.update(offset + count, false);
            });
        if (!received) {
            const auto* error = std::get_if<SocketHTTPError>(&received.error());
            if (error == nullptr || *error != SocketHTTPError::incompleteBody) {
                // Cancelled, or the disk failed: the upload ends here and its partial file goes.
                const bool cancelled = error != nullptr && *error == SocketHTTPError::uploadCancelled;
                cancelled ? lease.cancel() : lease.drop();
                failWith(progress, received.error());
                return;
            }
            keep(std::move(lease), std::move(resumable), progress, refusalResponse(FailedUpload{*error}));
            return;
        }
        const std::int64_t total = offset + *received;
        if (total < byteCount) {
            keep(std::move(lease), std::move(resumable), progress,
                 resumeResponse(SliceAcceptedAnswer{*ticketID_, total}));
            return;
        }
        const auto failure = finish(resumable.folder, resumable.destination, resumable.file, total, progress,
                                    [&lease](const std::string& savedName) { lease.finish(savedName); });
        if (failure) {
            lease.drop();
            failWith(progress, *failure);
        }
    }

    // Keeps the upload for its window and sends `answer`; when it cannot be kept it ends as cancelled
    // or, on a stopped server, as not received.
    void keep(ResumableUploads::Lease lease, ResumableFile resumable, UploadProgressEmitter& progress,
              const HttpResponse& answer)
    {
        switch (lease.suspend(std::move(resumable))) {
        case ResumableUploads::Suspension::kept:
            connection_.send(answer);
            return;
        case ResumableUploads::Suspension::cancelled:
            failWith(progress, SocketHTTPError::uploadCancelled);
            return;
        case ResumableUploads::Suspension::stopped:
            progress.failed();
            connection_.send(refusalResponse(RequestRefusal::notReceiving));
            return;
        }
    }

    // Disk space for the whole file (promised to this upload until it ends) and the device folder.
    std::optional<UploadFailure> prepareFolderAndSpace(std::int64_t byteCount)
    {
        auto promise = DiskSpaceLedger::shared().promise(context_.saveDirectory, byteCount);
        if (!promise) {
            return promise.error();
        }
        diskSpace_.emplace(std::move(*promise));
        auto deviceFolder = ConfinedFolder::open(context_.saveDirectory, deviceFolder_);
        auto folder =
            deviceFolder && !subfolder_.empty() ? deviceFolder->openSubfolder(subfolder_) : std::move(deviceFolder);
        if (!folder) {
            if (isUnsafeFolderError(folder.error())) {
                return SocketHTTPError::unsafeDeviceFolder;
            }
            return folder.error();
        }
        folder_.emplace(std::move(*folder));
        return std::nullopt;
    }

    std::string owner() const { return context_.requestOwner(head_, peer_); }

    bool isCancelled() const
    {
        return registration_.isCancelled() || (resumedRegistration_ && resumedRegistration_->isCancelled());
    }

    // MARK: Saving

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
        return finish(*folder_, *destination, *file, *written, progress_);
    }

    // Streams the whole body into `file`; returns the byte count.
    Expected<std::int64_t, UploadFailure> receiveBodyInto(PartialFile& file)
    {
        return receiveBody(
            file, head_.contentLength, [this] { return registration_.isCancelled(); },
            [this](std::int64_t count) {
                diskSpace_->written(count);
                progress_.update(count, false);
            });
    }

    // Streams `length` body bytes into `file` in steps of at most 256 KiB (RawBodyReceiver: splice
    // where the kernel allows it), calling `written` with the count so far after each step; returns the
    // byte count. The bytes that came with the head are written first. `isCancelled` is asked before
    // every step and when the stream ends early.
    template <typename IsCancelled, typename Written>
    Expected<std::int64_t, UploadFailure> receiveBody(PartialFile& file, std::int64_t length,
                                                      const IsCancelled& isCancelled, const Written& written)
    {
        const auto prefix = std::string_view(head_.bodyPrefix).substr(0, static_cast<std::size_t>(length));
        if (const auto error = file.write(prefix)) {
            return Unexpected{UploadFailure(error)};
        }
        auto count = static_cast<std::int64_t>(prefix.size());
        if (count > 0) {
            written(count);
        }
        RawBodyReceiver body(connection_, file, context_.options.rawBodyTransfer);
        while (count < length) {
            if (isCancelled()) {
                return Unexpected{UploadFailure(SocketHTTPError::uploadCancelled)};
            }
            const auto received =
                body.receive(static_cast<std::size_t>(std::min<std::int64_t>(readChunkSize, length - count)));
            if (!received) {
                return Unexpected{UploadFailure(received.error())};
            }
            if (*received == 0) {
                return Unexpected{
                    UploadFailure(isCancelled() ? SocketHTTPError::uploadCancelled : SocketHTTPError::incompleteBody)};
            }
            count += static_cast<std::int64_t>(*received);
            written(count);
        }
        return count;
    }

    // A multipart body: the first file part streams into a partial file as it arrives; once the whole
    // body is in, the part's name gives the destination.
    std::optional<UploadFailure> receiveMultipart(const std::string& boundary)
    {
        if (head_.contentLength > maxMultipartBytes) {
            return SocketHTTPError::multipartTooLarge;
        }
        MultipartFilePartStream parser(boundary);
        std::optional<PartialFile> file;
        std::int64_t written = 0;
        const auto toFile = [&](std::string_view data) -> std::error_code {
            if (!file) {
                auto created = PartialFile::create(*folder_);
                if (!created) {
                    return created.error();
                }
                file.emplace(std::move(*created));
            }
            if (const auto error = file->write(data)) {
                return error;
            }
            written += static_cast<std::int64_t>(data.size());
            diskSpace_->written(written);
            progress_.update(written, false);
            return {};
        };
        const auto length = static_cast<std::size_t>(head_.contentLength);
        const auto prefix = std::string_view(head_.bodyPrefix).substr(0, length);
        if (const auto error = parser.feed(prefix, toFile)) {
            return error;
        }
        std::vector<char> buffer(readChunkSize);
        for (std::size_t received = prefix.size(); received < length;) {
            if (registration_.isCancelled()) {
                return SocketHTTPError::uploadCancelled;
            }
            const ssize_t count = connection_.receive({buffer.data(), std::min(readChunkSize, length - received)});
            if (count <= 0) {
                return endOfStreamFailure();
            }
            received += static_cast<std::size_t>(count);
            if (const auto error = parser.feed({buffer.data(), static_cast<std::size_t>(count)}, toFile)) {
                return error;
            }
        }
        const auto& part = parser.filePart();
        if (!part || !file) {
            return SocketHTTPError::invalidMultipart;
        }
        safeName_ = safeFileName(part->fileName.value_or("upload-" + makeUUIDText()));
        auto destination =
            UploadDestination::choose(*folder_, safeName_, context_.callbacks, uploadID_, deviceFolder_, asker());
        if (!destination) {
            return destination.error();
        }
        return finish(*folder_, *destination, *file, written, progress_);
    }

    // A body that ended early: cancelled from the desktop, or the client went away.
    SocketHTTPError endOfStreamFailure() const
    {
        return isCancelled() ? SocketHTTPError::uploadCancelled : SocketHTTPError::incompleteBody;
    }

    // Gives the complete file its name, reports it and answers. `onSaved` learns the saved name first.
    std::optional<UploadFailure> finish(const ConfinedFolder& folder, UploadDestination& destination, PartialFile& file,
                                        std::int64_t count, UploadProgressEmitter& progress,
                                        const std::function<void(const std::string&)>& onSaved = {})
    {
        if (const auto error = file.close()) {
            return error;
        }
        const auto saved = destination.commit(folder, file);
        if (!saved) {
            return saved.error();
        }
        if (onSaved) {
            onSaved(saved->filename().string());
        }
        progress.update(count, true);
        progress.finished();
        const ReceivedFileRecord record{Uuid::random(),
                                        saved->filename().string(),
                                        count,
                                        std::chrono::system_clock::now(),
                                        std::filesystem::absolute(*saved),
                                        deviceFolder_};
        if (context_.callbacks.onFileReceived) {
            context_.callbacks.onFileReceived(record);
        }
        connection_.send(jsonResponseOrEmptyObject(
            TransferUploadResponse{.id = record.id.text(),
                                   .fileName = record.fileName,
                                   .byteCount = count,
                                   .savedPath = record.fileURL.string(),
                                   .deviceFolder = deviceFolder_,
                                   .path = subfolder_.empty() ? std::nullopt : std::optional(subfolder_)}));
        return std::nullopt;
    }

    // The partial file is already gone (its owner removed it on the way out).
    void fail(const UploadFailure& failure) { failWith(progress_, failure); }

    void failWith(UploadProgressEmitter& progress, const UploadFailure& failure)
    {
        progress.failed();
        connection_.send(refusalResponse(FailedUpload{failure}));
    }

    ServerContext& context_;
    Connection& connection_;
    const RequestHead& head_;
    const std::optional<std::string> peer_;
    const Uuid uploadID_;
    UploadProgressEmitter progress_;
    UploadSessionRegistration registration_;
    std::optional<DiskSpaceLedger::Promise> diskSpace_;
    std::string deviceFolder_;
    std::string subfolder_; // the folders below the device folder the request names ("path"); often none
    std::optional<ConfinedFolder> folder_;
    std::string clientFileName_;
    std::string safeName_;
    std::optional<Uuid> ticketID_; // a ticket taken, or the one a request with an offset names
    // A kept upload continued by this request reports under its own progress id.
    std::optional<UploadSessionRegistration> resumedRegistration_;
    std::optional<UploadProgressEmitter> resumedProgress_;
};

} // namespace

void handleUpload(ServerContext& context, Connection& connection)
{
    UploadHandler(context, connection).run();
}

} // namespace ferrylantern
