// GET "/v1/shared": what the desktop shares, in the order it was shared. Each shared file is looked at
// on disk first, so the list gives its current size and leaves out a file that has gone (the desktop
// is told, and shows it).
#include "server/Endpoints.h"
#include "server/Refusal.h"
#include "server/ServerContext.h"
#include "server/TransferMessages.h"

#include <nlohmann/json.hpp>

namespace ferrylantern {

HttpResponse answerSharedList(ServerContext& context, const RequestHead& head)
{
    if (!context.passesSessionCheck(head)) {
        return refusalResponse(RequestRefusal::sessionRequired);
    }
    const auto refresh = context.shares->refreshFiles();
    TransferSharedListResponse response;
    for (const auto& item : refresh.items) {
        if (std::find(refresh.changed.begin(), refresh.changed.end(), item.id) != refresh.changed.end() &&
            context.callbacks.onSharedFileMissingChanged) {
            context.callbacks.onSharedFileMissingChanged(item.id, item.missing);
        }
        if (item.kind == SharedItem::Kind::text) {
            response.items.push_back({item.id.text(), "text", std::nullopt, item.byteCount, item.text});
        } else if (!item.missing) {
            response.items.push_back({item.id.text(), "file", item.name, item.byteCount, std::nullopt});
        }
    }
    if (auto answer = jsonResponse(response)) {
        return std::move(*answer);
    }
    return refusalResponse(RequestRefusal::unencodableAnswer);
}

} // namespace ferrylantern
