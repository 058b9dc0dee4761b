#include "server/RequestRouter.h"

#include "server/ASCIIText.h"
#include "server/Endpoints.h"
#include "server/ServerContext.h"

namespace ferrylantern {

namespace {

void answerNotFound(Connection& connection)
{
    if (connection.head().contentLength > 0) {
        connection.drainBody();
    }
    connection.sendResponse(404, "Not Found", contentType::plainText);
}

bool isPagePath(std::string_view path)
{
    return path == "/" || path == "/upload";
}

} // namespace

void handleConnection(ServerContext& context, Connection& connection)
{
    if (!connection.readHead()) {
        connection.sendResponse(400, "Bad Request", contentType::plainText);
        return;
    }
    const RequestHead& head = connection.head();
    const std::string method = asciiUppercased(head.method);
    const std::string path = routePath(head.target);

    if (method == "OPTIONS") {
        if (head.contentLength > 0) {
            connection.drainBody();
        }
        connection.sendRaw(optionsResponse);
    } else if (method == "POST" && path == "/v1/pin/verify") {
        handlePINVerify(context, connection);
    } else if (method == "POST" && path == "/v1/upload/preflight") {
        handleUploadPreflight(context, connection);
    } else if (method == "POST" && path == "/v1/upload/preflight/batch") {
        handleUploadPreflightBatch(context, connection);
    } else if (method == "POST" && path == "/v1/upload") {
        handleUpload(context, connection);
    } else if (method == "GET" && path == "/v1/info") {
        handleInfo(context, connection);
    } else if (method == "GET" && isPagePath(path)) {
        handleUploadPage(context, connection);
    } else if (method == "HEAD" && isPagePath(path)) {
        connection.sendResponse(200, "", contentType::html);
    } else if (method == "GET" && path == "/favicon.ico") {
        connection.sendResponse(204, "", "");
    } else {
        answerNotFound(connection);
    }
}

} // namespace ferrylantern
