// GET and HEAD "/v1/shared/ID": one shared file's bytes, straight from the file where it lies. The
// answer carries what a phone's download manager needs to save it under its name and to resume it:
// Content-Disposition, Accept-Ranges, an entity tag and Last-Modified (for If-Range), and a 206 for a
// range. The body goes out with sendfile(2) in pieces, so progress reaches the desktop and a cancel
// (or the program quitting) ends the download between two pieces.
#include "server/ByteRange.h"
#include "server/DownloadHeaders.h"
#include "server/DownloadProgressEmitter.h"
#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/UploadNaming.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ferrylantern {

namespace {

// Each sendfile(2) call sends at most this much (nginx's sendfile_max_chunk), so progress and a cancel
// are looked at between pieces while a fast client still gets big writes. (A cancel also shuts the
// socket down, which ends a waiting call at once.)
constexpr std::size_t sendPieceBytes = 2 * 1024 * 1024;

// An open file descriptor, closed on every path out.
class OpenFile
{
public:
    explicit OpenFile(int fd)
        : fd_(fd)
    {}
    ~OpenFile()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool meansGone(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// What tells one version of a file from another (RFC 9110 §8.8): If-Range is compared against them.
struct Validators
{
    std::string entityTag;
    std::string lastModified;
};

Validators validatorsOf(const struct stat& status)
{
    const std::int64_t modified = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                                  static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    return {fileEntityTag(status.st_ino, static_cast<std::int64_t>(status.st_size), modified),
            httpDate(status.st_mtim.tv_sec)};
}

class DownloadHandler
{
public:
    DownloadHandler(ServerContext& context, Connection& connection)
        : context_(context)
        , connection_(connection)
        , head_(connection.head())
        , downloadID_(Uuid::random())
        , progress_(downloadID_, context.callbacks.onDownloadProgress)
        , registration_(context.uploads, downloadID_, connection.fd())
    {}

    void run(std::string_view shareID, ResponseBody body)
    {
        body_ = body;
        if (!context_.passesSessionCheck(head_)) {
            connection_.send(refusalResponse(RequestRefusal::sessionRequired));
            return;
        }
        const auto id = Uuid::parse(shareID);
        const auto item = id ? context_.shares->find(*id) : std::nullopt;
        if (!item || item->kind != SharedItem::Kind::file) {
            connection_.send(refusalResponse(RequestRefusal::unknownShare));
            return;
        }
        const OpenFile file(open(item->path.c_str(), O_RDONLY | O_CLOEXEC));
        const int openError = errno;
        struct stat status
        {};
        if (file.fd() < 0 || fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode)) {
            // Something that is not a regular file now lies at the path: as good as gone.
            const bool gone = file.fd() >= 0 || meansGone(openError);
            if (gone) {
                context_.noteSharedFileState(item->id, true);
            }
            connection_.send(
                refusalResponse(gone ? RequestRefusal::sharedFileMissing : RequestRefusal::sharedFileUnreadable));
            return;
        }
        context_.noteSharedFileState(item->id, false);
        send(*item, file.fd(), status);
    }

private:
    void send(const SharedItem& item, int fileFD, const struct stat& fileStatus)
    {
        const auto size = static_cast<std::int64_t>(fileStatus.st_size);
        const auto validators = validatorsOf(fileStatus);
        ExtraHeaderFields fields{{"Accept-Ranges", "bytes"},
                                 {"Content-Disposition", attachmentDisposition(item.name)},
                                 {"ETag", validators.entityTag},
                                 {"Last-Modified", validators.lastModified},
                                 {"X-Content-Type-Options", "nosniff"}};
        std::optional<std::string_view> range = head_.header("range");
        // A client resuming against a file that changed since gets the whole new file.
        if (const auto ifRange = head_.header("if-range");
            range && ifRange && !ifRangeMatches(*ifRange, validators.entityTag, validators.lastModified)) {
            range.reset();
        }
        const auto answer = answerRange(range, size);
        if (answer.outcome == RangeOutcome::unsatisfiable) {
            connection_.send(refusalResponse(UnsatisfiableRange{size}));
            return;
        }
        int status = 200;
        if (answer.outcome == RangeOutcome::part) {
            status = 206;
            fields.emplace_back("Content-Range", contentRange(answer.range, size));
        }
        const std::int64_t length = answer.range.length();
        connection_.setCorked(true);
        connection_.sendRaw(responseHead(status, contentType::octetStream, static_cast<std::size_t>(length), fields));
        if (body_ == ResponseBody::send) {
            progress_.started(item.id, item.name, deviceFolderFor(head_, connection_.peerIPv4Address()), length);
            sendBody(fileFD, answer.range.first, length);
        }
        connection_.setCorked(false);
    }

    void sendBody(int fileFD, std::int64_t first, std::int64_t length)
    {
        const auto sent = connection_.sendFile(fileFD, first, length, sendPieceBytes, [this](std::int64_t soFar) {
            progress_.update(soFar);
            return !registration_.isCancelled();
        });
        if (sent == length) {
            progress_.finished(sent);
        } else {
            // The client went, stalled past the idle limit or was cancelled; or the file shrank under
            // us, and the client sees fewer bytes than announced.
            progress_.failed();
        }
    }

    ServerContext& context_;
    Connection& connection_;
    const RequestHead& head_;
    const Uuid downloadID_;
    DownloadProgressEmitter progress_;
    UploadSessionRegistration registration_;
    ResponseBody body_ = ResponseBody::send;
};

} // namespace

void handleSharedDownload(ServerContext& context, Connection& connection, std::string_view shareID, ResponseBody body)
{
    DownloadHandler(context, connection).run(shareID, body);
}

} // namespace ferrylantern
