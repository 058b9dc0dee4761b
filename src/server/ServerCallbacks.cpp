#include "server/ServerCallbacks.h"

namespace ferrylantern {

Uuid uploadID(const TransferUploadProgressEvent& event)
{
    return std::visit([](const auto& payload) { return payload.id; }, event);
}

} // namespace ferrylantern
