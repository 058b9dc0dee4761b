#include "server/RequestRouter.h"

#include "server/ASCIIText.h"
#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"

namespace ferrylantern {

namespace {

// The connection's body, read or drained when the endpoint asks for it.
class ConnectionBody final : public RequestBody
{
public:
    explicit ConnectionBody(Connection& connection)
        : connection_(connection)
    {}

    Expected<std::string, SocketHTTPError> read() override
    {
        touched_ = true;
        return connection_.readBody();
    }

    void discard() override
    {
        touched_ = true;
        connection_.drainBody();
    }

    bool isUntouched() const { return !touched_; }

private:
    Connection& connection_;
    bool touched_ = false;
};

using BufferedEndpoint = HttpResponse (*)(ServerContext&, const BufferedRequest&);

// A body the endpoint never looked at is drained only after the answer went out, so a refusal from
// the head alone reaches a client that waits for "100 Continue" before sending its body.
void answerBuffered(ServerContext& context, Connection& connection, BufferedEndpoint endpoint)
{
    ConnectionBody body(connection);
    connection.send(endpoint(context, {connection.head(), body, connection.peerIPv4Address(), connection.fd()}));
    if (body.isUntouched()) {
        connection.drainBody();
    }
}

bool isPagePath(std::string_view path)
{
    return path == "/" || path == "/upload";
}

} // namespace

void handleConnection(ServerContext& context, Connection& connection)
{
    if (!connection.readHead()) {
        connection.send(refusalResponse(RequestRefusal::malformedHead));
        return;
    }
    const RequestHead& head = connection.head();
    const std::string method = asciiUppercased(head.method);
    const std::string path = routePath(head.target);

    if (method == "OPTIONS") {
        connection.drainBody();
        connection.sendRaw(optionsResponse);
    } else if (method == "POST" && path == "/v1/pin/verify") {
        answerBuffered(context, connection, answerPINVerify);
    } else if (method == "POST" && path == "/v1/upload/preflight") {
        answerBuffered(context, connection, answerUploadPreflight);
    } else if (method == "POST" && path == "/v1/upload/preflight/batch") {
        answerBuffered(context, connection, answerUploadPreflightBatch);
    } else if (method == "POST" && path == "/v1/upload") {
        handleUpload(context, connection);
    } else if (method == "GET" && path == "/v1/info") {
        connection.send(answerInfo(context, head));
    } else if (method == "GET" && isPagePath(path)) {
        connection.send(answerUploadPage(context));
    } else if (method == "HEAD" && isPagePath(path)) {
        connection.send({200, std::string(contentType::html), "", {}});
    } else if (method == "GET" && path == "/favicon.ico") {
        connection.send({204, "", "", {}});
    } else {
        connection.drainBody();
        connection.send(refusalResponse(RequestRefusal::unknownRoute));
    }
}

} // namespace ferrylantern
