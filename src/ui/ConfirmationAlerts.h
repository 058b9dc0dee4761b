// Shows the model's questions as dialogs: one for the head of the receive-confirmation queue, one for
// the head of the same-name queue. A new head is presented 80 ms after it appears (a head that changes
// again meanwhile is never shown), as a window-modal message box on the main window, or
// application-modal when there is no window. Each button calls one model operation.
//
// Only one dialog is on screen at a time: presenting one kind closes a dialog of the other kind. The
// question it displaced stays queued and is presented again as soon as the newer dialog is answered,
// so every waiting upload always gets a dialog.
//
// GUI thread only.
#pragma once

#include "receiver/TransferReceiverModel.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace ferrylantern {

class ConfirmationAlerts : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConfirmationAlerts)

public:
    static constexpr int presentationDelayMs = 80;

    enum class Kind
    {
        receive,
        duplicate,
    };

    // `window` may be null (application-modal dialogs). The message builders supply the informative
    // texts.
    ConfirmationAlerts(TransferReceiverModel& model, QWidget* window,
                       std::function<QString(const ReceiveConfirmationAlertItem&)> receiveMessage,
                       std::function<QString(const DuplicateResolutionAlertItem&)> duplicateMessage,
                       QObject* parent = nullptr);
    ~ConfirmationAlerts() override;

    // The dialog on screen, for tests; null when none.
    QMessageBox* currentDialog() const { return dialog_; }
    std::optional<Kind> currentKind() const { return dialog_ ? std::optional(dialogKind_) : std::nullopt; }

signals:
    // A dialog was put on screen.
    void presented(ferrylantern::ConfirmationAlerts::Kind kind);

private:
    struct KindState
    {
        std::optional<QString> headID;      // the head the queue had when last looked at
        std::optional<QString> presentedID; // the question whose dialog is (or was last) on screen
        QTimer presentTimer;
    };

    KindState& state(Kind kind) { return kind == Kind::receive ? receive_ : duplicate_; }
    std::optional<QString> currentHeadID(Kind kind) const;
    void headMayHaveChanged(Kind kind);
    void presentHead(Kind kind);
    void presentReceive(const ReceiveConfirmationAlertItem& item);
    void presentDuplicate(const DuplicateResolutionAlertItem& item);
    void show(Kind kind, QMessageBox* dialog, std::function<void(QAbstractButton*)> onAnswer);
    void closeDialog();
    void presentDisplacedQuestions();

    TransferReceiverModel& model_;
    QPointer<QWidget> window_;
    std::function<QString(const ReceiveConfirmationAlertItem&)> receiveMessage_;
    std::function<QString(const DuplicateResolutionAlertItem&)> duplicateMessage_;
    KindState receive_;
    KindState duplicate_;
    QPointer<QMessageBox> dialog_;
    Kind dialogKind_ = Kind::receive;
};

} // namespace ferrylantern
