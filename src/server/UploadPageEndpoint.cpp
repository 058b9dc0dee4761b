#include "server/Endpoints.h"
#include "server/ServerContext.h"
#include "webclient/UploadPage.h"

namespace ferrylantern {

void handleUploadPage(ServerContext& context, Connection& connection)
{
    connection.sendResponse(200, uploadPageHTML(context.deviceName), contentType::html);
}

} // namespace ferrylantern
