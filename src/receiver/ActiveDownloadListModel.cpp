#include "receiver/ActiveDownloadListModel.h"

namespace ferrylantern {

ActiveDownloadListModel::ActiveDownloadListModel(QObject* parent)
    : ProgressListModel(parent)
{}

std::optional<TransferSendProgress> ActiveDownloadListModel::apply(const TransferDownloadProgressEvent& event)
{
    const auto id = downloadID(event);
    const auto row = rowOf(id);
    if (const auto* started = std::get_if<DownloadStarted>(&event)) {
        const TransferSendProgress progress{id,
                                            started->shareID,
                                            QString::fromStdString(started->fileName),
                                            QString::fromStdString(started->deviceFolder),
                                            0,
                                            started->totalBytes};
        if (row) {
            changeRow(*row, progress);
        } else {
            appendRow(progress);
        }
        return std::nullopt;
    }
    if (!row) {
        return std::nullopt;
    }
    if (const auto* updated = std::get_if<DownloadUpdated>(&event)) {
        auto progress = rows().at(*row);
        progress.bytesSent = updated->bytesSent;
        changeRow(*row, progress);
        return std::nullopt;
    }
    return takeRow(*row);
}

} // namespace ferrylantern
