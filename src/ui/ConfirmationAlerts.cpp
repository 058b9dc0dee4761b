#include "ui/ConfirmationAlerts.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

namespace ferrylantern {

namespace {

// The destructive button is red with white text (a contrast of 5.6:1), readable in both appearances;
// red text on a grey button was not.
constexpr QColor destructiveRed(0xc6, 0x28, 0x28);

// Every button gets the same role, so the platform's button-box layout keeps them in the order they
// were added and none of them is chosen by Escape or by closing the dialog: each question needs an
// explicit answer.
QAbstractButton* addButton(QMessageBox* dialog, const QString& text, bool destructive = false)
{
    auto* button = dialog->addButton(text, QMessageBox::ActionRole);
    if (destructive) {
        button->setProperty("destructive", true);
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, destructiveRed);
        palette.setColor(QPalette::ButtonText, Qt::white);
        button->setPalette(palette);
    }
    return button;
}

// The texts quote what a sender chose (file and device names): a name made of markup must show as the
// characters it is, never be rendered (it could paint a different name, size and sender).
void showAsPlainText(QMessageBox* dialog)
{
    dialog->setTextFormat(Qt::PlainText);
    for (auto* label : dialog->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
}

} // namespace

ConfirmationAlerts::ConfirmationAlerts(TransferReceiverModel& model, QWidget* window,
                                       std::function<QString(const ReceiveConfirmationAlertItem&)> receiveMessage,
                                       std::function<QString(const DuplicateResolutionAlertItem&)> duplicateMessage,
                                       QObject* parent)
    : QObject(parent)
    , model_(model)
    , window_(window)
    , receiveMessage_(std::move(receiveMessage))
    , duplicateMessage_(std::move(duplicateMessage))
{
    for (const Kind kind : {Kind::receive, Kind::duplicate}) {
        auto& kindState = state(kind);
        // What is queued when the window appears is not acted on; only changes of the head are.
        kindState.headID = currentHeadID(kind);
        kindState.presentTimer.setSingleShot(true);
        kindState.presentTimer.setInterval(presentationDelayMs);
        connect(&kindState.presentTimer, &QTimer::timeout, this, [this, kind] { presentHead(kind); });
    }
    connect(&model_.confirmations(), &ReceiveConfirmationQueue::confirmationQueueChanged, this,
            [this] { headMayHaveChanged(Kind::receive); });
    connect(&model_.duplicates(), &DuplicateResolutionQueue::duplicateQueueChanged, this,
            [this] { headMayHaveChanged(Kind::duplicate); });
}

ConfirmationAlerts::~ConfirmationAlerts()
{
    if (dialog_) {
        dialog_->disconnect(this);
        dialog_->deleteLater();
    }
}

std::optional<QString> ConfirmationAlerts::currentHeadID(Kind kind) const
{
    if (kind == Kind::receive) {
        const auto item = model_.confirmations().currentReceiveConfirmationItem();
        return item ? std::optional(item->identity()) : std::nullopt;
    }
    const auto item = model_.duplicates().currentDuplicateResolutionItem();
    return item ? std::optional(item->identity()) : std::nullopt;
}

void ConfirmationAlerts::headMayHaveChanged(Kind kind)
{
    auto& kindState = state(kind);
    const auto head = currentHeadID(kind);
    if (head == kindState.headID) {
        return; // only the count changed
    }
    kindState.headID = head;
    kindState.presentTimer.stop();
    if (!head) {
        // The queue emptied (answered elsewhere, or cancelled): its dialog has nothing left to ask.
        if (dialog_ && dialogKind_ == kind) {
            closeDialog();
        }
        kindState.presentedID.reset();
        return;
    }
    kindState.presentTimer.start();
}

void ConfirmationAlerts::presentHead(Kind kind)
{
    if (kind == Kind::receive) {
        if (const auto item = model_.confirmations().currentReceiveConfirmationItem();
            item && item->identity() == receive_.headID) {
            presentReceive(*item);
        }
    } else if (const auto item = model_.duplicates().currentDuplicateResolutionItem();
               item && item->identity() == duplicate_.headID) {
        presentDuplicate(*item);
    }
}

void ConfirmationAlerts::presentReceive(const ReceiveConfirmationAlertItem& item)
{
    if (receive_.presentedID == item.identity() && dialog_ && dialogKind_ == Kind::receive) {
        return;
    }
    receive_.presentedID = item.identity();
    auto* dialog = new QMessageBox(window_);
    dialog->setIcon(QMessageBox::Information);
    if (item.queueCount >= 2) {
        dialog->setText(QStringLiteral("是否接收 %1 个文件？").arg(item.queueCount));
    } else {
        dialog->setText(item.pending.kind == ReceiveKind::text ? QStringLiteral("是否接收文字？")
                                                               : QStringLiteral("是否接收文件？"));
    }
    dialog->setInformativeText(receiveMessage_(item));
    auto* accept = addButton(dialog, QStringLiteral("接收"));
    auto* acceptAll = addButton(dialog, QStringLiteral("接收所有（%1）").arg(item.queueCount));
    auto* decline = addButton(dialog, QStringLiteral("拒绝此项"));
    auto* rejectAll = addButton(dialog, QStringLiteral("全部拒绝"), true);
    dialog->setDefaultButton(qobject_cast<QPushButton*>(accept));
    show(Kind::receive, dialog, [this, accept, acceptAll, decline, rejectAll](QAbstractButton* pressed) {
        if (pressed == accept) {
            model_.confirmations().respondToCurrentConfirmation(true);
        } else if (pressed == acceptAll) {
            model_.confirmations().acceptAllConfirmations();
        } else if (pressed == decline) {
            model_.confirmations().respondToCurrentConfirmation(false);
        } else if (pressed == rejectAll) {
            model_.rejectAllConfirmations();
        }
    });
}

void ConfirmationAlerts::presentDuplicate(const DuplicateResolutionAlertItem& item)
{
    if (duplicate_.presentedID == item.identity() && dialog_ && dialogKind_ == Kind::duplicate) {
        return;
    }
    duplicate_.presentedID = item.identity();
    auto* dialog = new QMessageBox(window_);
    dialog->setIcon(QMessageBox::Warning);
    dialog->setText(QStringLiteral("文件已存在"));
    dialog->setInformativeText(duplicateMessage_(item));
    auto* overwrite = addButton(dialog, QStringLiteral("覆盖"));
    auto* keep = addButton(dialog, QStringLiteral("保留两者"));
    QAbstractButton* overwriteAll = nullptr;
    QAbstractButton* keepAll = nullptr;
    if (item.queueCount >= 2) {
        overwriteAll = addButton(dialog, QStringLiteral("全部覆盖（%1）").arg(item.queueCount));
        keepAll = addButton(dialog, QStringLiteral("全部保留两者（%1）").arg(item.queueCount));
    }
    auto* rejectAll = addButton(dialog, QStringLiteral("全部拒绝"), true);
    dialog->setDefaultButton(qobject_cast<QPushButton*>(keep));
    show(Kind::duplicate, dialog, [this, overwrite, keep, overwriteAll, keepAll, rejectAll](QAbstractButton* pressed) {
        if (pressed == overwrite) {
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::overwrite);
        } else if (pressed == keep) {
            model_.duplicates().resolveDuplicate(DuplicateFileResolution::keepCopy);
        } else if (pressed != nullptr && pressed == overwriteAll) {
            model_.duplicates().resolveAllDuplicates(DuplicateFileResolution::overwrite);
        } else if (pressed != nullptr && pressed == keepAll) {
            model_.duplicates().resolveAllDuplicates(DuplicateFileResolution::keepCopy);
        } else if (pressed == rejectAll) {
            model_.duplicates().resolveAllDuplicates(DuplicateFileResolution::cancel);
        }
    });
}

void ConfirmationAlerts::show(Kind kind, QMessageBox* dialog, std::function<void(QAbstractButton*)> onAnswer)
{
    closeDialog(); // one dialog at a time; a displaced question is shown again afterwards
    showAsPlainText(dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(kind == Kind::receive ? QStringLiteral("receiveConfirmationDialog")
                                                : QStringLiteral("duplicateResolutionDialog"));
    dialog_ = dialog;
    dialogKind_ = kind;
    connect(dialog, &QMessageBox::buttonClicked, this,
            [this, kind, onAnswer = std::move(onAnswer)](QAbstractButton* pressed) {
                state(kind).presentedID.reset();
                dialog_ = nullptr;
                onAnswer(pressed);
                presentDisplacedQuestions();
            });
    if (window_) {
        dialog->open(); // window-modal on the main window
    } else {
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
    }
    emit presented(kind);
}

void ConfirmationAlerts::closeDialog()
{
    if (!dialog_) {
        return;
    }
    // Closed from here, not answered: no action; the question stays queued.
    QMessageBox* closing = dialog_;
    dialog_ = nullptr;
    closing->disconnect(this);
    closing->close();
}

void ConfirmationAlerts::presentDisplacedQuestions()
{
    for (const Kind kind : {Kind::receive, Kind::duplicate}) {
        auto& kindState = state(kind);
        const auto head = currentHeadID(kind);
        if (dialog_ || !head || kindState.presentTimer.isActive()) {
            continue;
        }
        kindState.headID = head;
        kindState.presentedID.reset();
        kindState.presentTimer.start();
        return; // one at a time; the next one follows when this is answered
    }
}

} // namespace ferrylantern
