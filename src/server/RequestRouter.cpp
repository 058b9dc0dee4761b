#include "server/RequestRouter.h"

#include "server/ASCIIText.h"
#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/RequestOrigin.h"
#include "server/ServerContext.h"

namespace ferrylantern {

namespace {

// The connection's body, read when the endpoint asks for it. What the endpoint leaves unread is
// lingered over after the answer (Connection::finish), never read in full first.
class ConnectionBody final : public RequestBody
{
public:
    explicit ConnectionBody(Connection& connection)
        : connection_(connection)
    {}

    Expected<std::string, SocketHTTPError> read() override { return connection_.readBody(); }

private:
    Connection& connection_;
};

using BufferedEndpoint = HttpResponse (*)(ServerContext&, const BufferedRequest&);

void answerBuffered(ServerContext& context, Connection& connection, BufferedEndpoint endpoint)
{
    ConnectionBody body(connection);
    connection.send(endpoint(context, {connection.head(), body, connection.peerIPv4Address(), connection.fd(),
                                       [&connection] { return connection.hasPeerHungUp(); }}));
}

bool isPagePath(std::string_view path)
{
    return path == "/" || path == "/upload";
}

bool isSharedPath(std::string_view path)
{
    return path == sharedListPath || path.starts_with(sharedItemPathPrefix);
}

// The id in "/v1/shared/ID"; nullopt for any other path.
std::optional<std::string_view> sharedItemID(std::string_view path)
{
    if (!path.starts_with(sharedItemPathPrefix) || path.size() == sharedItemPathPrefix.size()) {
        return std::nullopt;
    }
    return path.substr(sharedItemPathPrefix.size());
}

// Refusals that do not depend on the route: a Host that is not this machine, a server that has
// stopped receiving, a POST from another site's page, and any request from another site's page for
// what the desktop shares (the answers allow every origin, so such a page could otherwise read them
// through the desktop user's own browser). A request without Host or Origin (curl, apps, the page's
// own downloads) passes as it always did.
std::optional<RequestRefusal> refusalBeforeRouting(const ServerContext& context, const Connection& connection,
                                                   const std::string& method, std::string_view path)
{
    const RequestHead& head = connection.head();
    const auto host = head.header("host");
    const auto localAddress = connection.localIPv4Address();
    if (host && !namesThisMachine(*host, localAddress)) {
        return RequestRefusal::misdirected;
    }
    if (!context.isReceiving) {
        return RequestRefusal::notReceiving;
    }
    if (const auto origin = head.header("origin"); origin && (method == "POST" || isSharedPath(path)) &&
                                                   !isOwnOrigin(*origin, host, localAddress, connection.localPort())) {
        return RequestRefusal::crossSite;
    }
    return std::nullopt;
}

void route(ServerContext& context, Connection& connection)
{
    if (!connection.readHead()) {
        connection.send(refusalResponse(RequestRefusal::malformedHead));
        return;
    }
    const RequestHead& head = connection.head();
    const std::string method = asciiUppercased(head.method);
    const std::string path = routePath(head.target);

    if (const auto refusal = refusalBeforeRouting(context, connection, method, path)) {
        connection.send(refusalResponse(*refusal));
    } else if (method == "OPTIONS") {
        connection.sendRaw(optionsResponse);
    } else if (method == "POST" && path == "/v1/pin/verify") {
        answerBuffered(context, connection, answerPINVerify);
    } else if (method == "POST" && path == "/v1/upload/preflight") {
        answerBuffered(context, connection, answerUploadPreflight);
    } else if (method == "POST" && path == "/v1/upload/preflight/batch") {
        answerBuffered(context, connection, answerUploadPreflightBatch);
    } else if (method == "POST" && path == "/v1/upload") {
        handleUpload(context, connection);
    } else if (method == "GET" && path == "/v1/upload/resume") {
        answerBuffered(context, connection, answerUploadResume);
    } else if (method == "POST" && path == "/v1/upload/cancel") {
        answerBuffered(context, connection, answerUploadCancel);
    } else if (method == "POST" && path == "/v1/text") {
        answerBuffered(context, connection, answerText);
    } else if (method == "GET" && path == sharedListPath) {
        connection.send(answerSharedList(context, head));
    } else if (const auto shareID = sharedItemID(path); shareID && (method == "GET" || method == "HEAD")) {
        handleSharedDownload(context, connection, *shareID, method == "GET" ? ResponseBody::send : ResponseBody::omit);
    } else if (method == "GET" && path == "/v1/info") {
        connection.send(answerInfo(context, head));
    } else if (method == "GET" && isPagePath(path)) {
        connection.send(answerUploadPage(context));
    } else if (method == "HEAD" && isPagePath(path)) {
        connection.send({200, std::string(contentType::html), "", {}});
    } else if (method == "GET" && path == "/favicon.ico") {
        connection.send({204, "", "", {}});
    } else {
        connection.send(refusalResponse(RequestRefusal::unknownRoute));
    }
}

} // namespace

void handleConnection(ServerContext& context, Connection& connection)
{
    route(context, connection);
    connection.finish();
}

} // namespace ferrylantern
