#include "server/ServerCallbacks.h"

namespace ferrylantern {

Uuid uploadID(const TransferUploadProgressEvent& event)
{
    return std::visit([](const auto& payload) { return payload.id; }, event);
}

Uuid downloadID(const TransferDownloadProgressEvent& event)
{
    return std::visit([](const auto& payload) { return payload.id; }, event);
}

} // namespace ferrylantern
