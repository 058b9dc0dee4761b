// One upload in flight: the file's name, the sending device's folder, a progress bar with the received
// and total sizes, and a "取消" button. While no byte arrives for a while the source line adds
// "等待手机…": the phone locked or lost its Wi-Fi, and the upload goes on when it comes back.
//
// GUI thread only (a widget).
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ferrylantern {

class ElidedLabel;

class ActiveReceiveRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActiveReceiveRow)

public:
    static constexpr int progressSteps = 1000; // resolution of the bar

    explicit ActiveReceiveRow(const TransferReceiveProgress& progress, QWidget* parent = nullptr);

    const TransferReceiveProgress& progress() const { return progress_; }
    // Takes new values of the same upload (or of another one).
    void setProgress(const TransferReceiveProgress& progress);

    // The bar's filled share, 0...1.
    double fraction() const;

signals:
    // Cancel this upload (the window hands the id to the model).
    void cancelRequested(const ferrylantern::Uuid& id);

private:
    TransferReceiveProgress progress_;
    ElidedLabel* name_;
    QLabel* source_;
    QProgressBar* bar_;
    QLabel* sizes_;
};

} // namespace ferrylantern
