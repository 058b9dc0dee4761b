#include "Endpoints.h"
#include "ServerContext.h"
#include "UploadPage.h"

namespace ferrylantern {

void handleUploadPage(ServerContext& context, Connection& connection)
{
    connection.sendResponse(200, uploadPageHTML(context.deviceName), contentType::html);
}

} // namespace ferrylantern
