#include "server/Endpoints.h"
#include "server/ServerContext.h"
#include "webclient/UploadPage.h"

namespace ferrylantern {

HttpResponse answerUploadPage(const ServerContext& context)
{
    return {200, std::string(contentType::html), uploadPageHTML(context.deviceName), {}};
}

} // namespace ferrylantern
