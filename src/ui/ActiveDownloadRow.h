// One download of a shared file in flight: the file's name, who downloads it ("发往："), a progress bar
// with the sizes sent and to send, and "取消".
//
// GUI thread only (a widget).
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QWidget>

class QLabel;
class QProgressBar;

namespace ferrylantern {

class ElidedLabel;

class ActiveDownloadRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveDownloadRow)

public:
    static constexpr int progressSteps = 1000; // resolution of the bar

    explicit ActiveDownloadRow(const TransferSendProgress& progress, QWidget* parent = nullptr);

    const TransferSendProgress& progress() const { return progress_; }
    void setProgress(const TransferSendProgress& progress);
    // The bar's filled share, 0...1.
    double fraction() const;

signals:
    void cancelRequested(const ferrylantern::Uuid& id);

private:
    TransferSendProgress progress_;
    ElidedLabel* name_;
    QLabel* destination_;
    QProgressBar* bar_;
    QLabel* sizes_;
};

} // namespace ferrylantern
