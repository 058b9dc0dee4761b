#include "ui/TransferNotifications.h"

#include "ui/FileReveal.h"
#include "ui/NotificationTexts.h"
#include "ui/TransferTexts.h"
#include "ui/UserPreferences.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

namespace ferrylantern {

namespace {

const QString defaultAction = QStringLiteral("default");
const QString openAction = QStringLiteral("open");
const QString revealAction = QStringLiteral("reveal");
const QString acceptAction = QStringLiteral("accept");
const QString keepBothAction = QStringLiteral("keep-both");
const QString rejectAction = QStringLiteral("reject");

// Types whose default handler may run them, or that are programs themselves.
constexpr const char* typesNotOpenedDirectly[] = {
    "application/x-executable",
    "application/x-sharedlib",
    "application/x-desktop",
    "application/x-shellscript",
    "application/x-ms-dos-executable",
    "application/x-msdownload",
    "application/x-msi",
    "application/vnd.appimage",
    "application/x-iso9660-appimage",
    "application/x-ms-shortcut",
    "application/x-sh",
    "application/x-perl",
    "text/x-python",
    "application/x-python-bytecode",
    "application/java-archive",
    "application/x-java-archive",
    "application/x-pie-executable",
    "application/vnd.flatpak.ref",
    "application/x-rpm",
    "application/vnd.debian.binary-package",
};

} // namespace

bool isSafeToOpenDirectly(const QString& filePath)
{
    const QMimeDatabase types;
    // Both by name and by content: a program renamed to "photo.jpg" is still not opened.
    for (const auto& type : {types.mimeTypeForFile(filePath, QMimeDatabase::MatchExtension),
                             types.mimeTypeForFile(filePath, QMimeDatabase::MatchContent)}) {
        for (const char* unsafe : typesNotOpenedDirectly) {
            if (type.inherits(QLatin1String(unsafe))) {
                return false;
            }
        }
    }
    return QFileInfo(filePath).isFile() && !QFileInfo(filePath).isExecutable();
}

TransferNotifications::TransferNotifications(TransferReceiverModel& model, UserPreferences& preferences,
                                             DesktopNotifications& notifications, Actions actions, QObject* parent)
    : QObject(parent)
    , model_(model)
    , preferences_(preferences)
    , notifications_(notifications)
    , actions_(std::move(actions))
{
    if (!actions_.openFile) {
        actions_.openFile = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    }
    if (!actions_.revealFile) {
        actions_.revealFile = [](const QString& path) { revealInFileManager(path); };
    }
    connect(&model_, &TransferReceiverModel::fileReceived, this, &TransferNotifications::fileReceived);
    connect(&model_.confirmations(), &ReceiveConfirmationQueue::confirmationQueueChanged, this,
            [this] { showReceiveQuestion(false); });
    connect(&model_.duplicates(), &DuplicateResolutionQueue::duplicateQueueChanged, this,
            [this] { showDuplicateQuestion(false); });
    connect(&notifications_, &DesktopNotifications::actionInvoked, this, &TransferNotifications::actionInvoked);
    connect(&notifications_, &DesktopNotifications::closed, this, &TransferNotifications::notificationClosed);
    connect(&preferences_, &UserPreferences::notificationsEnabledChanged, this, [this](bool on) {
        if (!on) {
            closeEverything();
        }
    });
}

bool TransferNotifications::enabled() const
{
    return preferences_.notificationsEnabled();
}

std::optional<DesktopNotifications::Handle>
TransferNotifications::receivedFilesHandle(const QString& deviceFolder) const
{
    const auto found = bursts_.find(deviceFolder);
    return found == bursts_.end() ? std::nullopt : std::optional(found->second.handle);
}

// MARK: Files received

bool TransferNotifications::stillSending(const QString& deviceFolder) const
{
    const auto& receives = model_.activeReceives();
    return std::any_of(receives.begin(), receives.end(),
                       [&](const TransferReceiveProgress& receive) { return receive.deviceFolder == deviceFolder; });
}

void TransferNotifications::fileReceived(const ReceivedFileRecord& record)
{
    if (!enabled()) {
        return;
    }
    const QString device = deviceFolderOf(record);
    auto found = bursts_.find(device);
    const bool continues =
        found != bursts_.end() && (stillSending(device) || !found->second.sinceLastFile.hasExpired(
                                                               std::chrono::milliseconds(burstQuietPeriod).count()));
    if (!continues) {
        if (found != bursts_.end()) {
            bursts_.erase(found); // its notification stays as it is; the new burst gets its own
        }
        Burst burst;
        burst.handle = notifications_.newHandle();
        found = bursts_.emplace(device, std::move(burst)).first;
    }
    Burst& burst = found->second;
    ++burst.count;
    if (burst.firstNames.size() < namesListedInNotifications) {
        burst.firstNames << fileNameOf(record);
    }
    burst.latestFile = QString::fromStdString(record.fileURL.string());
    burst.sinceLastFile.start();
    showBurst(device, burst);
}

void TransferNotifications::showBurst(const QString& deviceFolder, const Burst& burst)
{
    DesktopNotification notification{.summary = receivedFilesSummary(burst.count),
                                     .body = receivedFilesBody(deviceFolder, burst.count, burst.firstNames),
                                     .actions = {{defaultAction, QStringLiteral("显示")}},
                                     .category = QStringLiteral("transfer.complete")};
    if (burst.count == 1 && isSafeToOpenDirectly(burst.latestFile)) {
        notification.actions.append({openAction, QStringLiteral("打开")});
    }
    notification.actions.append({revealAction, QStringLiteral("在文件夹中显示")});
    notifications_.show(burst.handle, notification);
}

// MARK: Questions

void TransferNotifications::questionArrived(bool userAtWindow)
{
    const bool open = !userAtWindow;
    showReceiveQuestion(open);
    showDuplicateQuestion(open);
}

void TransferNotifications::showReceiveQuestion(bool open)
{
    const auto item = model_.confirmations().currentReceiveConfirmationItem();
    showQuestion(receiveQuestion_, item ? std::optional(item->identity()) : std::nullopt, open, [&] {
        return DesktopNotification{.summary = receiveQuestionSummary(item->queueCount, item->pending.kind),
                                   .body = receiveQuestionBody(model_.confirmations().confirmationQueue()),
                                   .actions = {{defaultAction, QStringLiteral("显示")},
                                               {acceptAction, QStringLiteral("接收")},
                                               {rejectAction, QStringLiteral("拒绝")}},
                                   .category = QStringLiteral("transfer"),
                                   .persistent = true};
    });
}

void TransferNotifications::showDuplicateQuestion(bool open)
{
    const auto item = model_.duplicates().currentDuplicateResolutionItem();
    showQuestion(duplicateQuestion_, item ? std::optional(item->identity()) : std::nullopt, open, [&] {
        return DesktopNotification{.summary = QStringLiteral("文件已存在"),
                                   .body = duplicateQuestionBody(item->pending),
                                   .actions = {{defaultAction, QStringLiteral("显示")},
                                               {keepBothAction, QStringLiteral("保留两者")},
                                               {rejectAction, QStringLiteral("拒绝")}},
                                   .category = QStringLiteral("transfer"),
                                   .persistent = true};
    });
}

void TransferNotifications::showQuestion(QuestionNotice& notice, const std::optional<QString>& headID, bool open,
                                         const std::function<DesktopNotification()>& notification)
{
    if (!headID) {
        if (notice.handle) {
            notifications_.close(*notice.handle);
        }
        notice = {};
        return;
    }
    if (!notice.handle) {
        if (!open || !enabled()) {
            return;
        }
        notice.handle = notifications_.newHandle();
    }
    notice.headID = headID;
    notifications_.show(*notice.handle, notification());
}

// MARK: Answers

void TransferNotifications::actionInvoked(DesktopNotifications::Handle handle, const QString& key)
{
    if (key == defaultAction) {
        if (actions_.showWindow) {
            actions_.showWindow();
        }
        return;
    }
    for (const auto& [device, burst] : bursts_) {
        if (burst.handle == handle) {
            if (key == openAction && burst.count == 1 && isSafeToOpenDirectly(burst.latestFile)) {
                actions_.openFile(burst.latestFile);
            } else if (key == revealAction) {
                actions_.revealFile(burst.latestFile);
            }
            return;
        }
    }
    // A question's answer counts only for the question the notification shows: one that was answered
    // meanwhile has left the queue, and the notification was already moving on to the next.
    if (handle == receiveQuestion_.handle) {
        const auto item = model_.confirmations().currentReceiveConfirmationItem();
        if (!item || item->identity() != receiveQuestion_.headID || (key != acceptAction && key != rejectAction)) {
            return;
        }
        // The next question, if any, gets a notification of its own: this one is being closed by the server.
        notifications_.close(handle);
        receiveQuestion_ = {};
        model_.confirmations().respondToCurrentConfirmation(key == acceptAction);
        showReceiveQuestion(true);
    } else if (handle == duplicateQuestion_.handle) {
        const auto item = model_.duplicates().currentDuplicateResolutionItem();
        if (!item || item->identity() != duplicateQuestion_.headID || (key != keepBothAction && key != rejectAction)) {
            return;
        }
        notifications_.close(handle);
        duplicateQuestion_ = {};
        model_.duplicates().resolveDuplicate(key == keepBothAction ? DuplicateFileResolution::keepCopy
                                                                   : DuplicateFileResolution::cancel,
                                             item->pending.id);
        showDuplicateQuestion(true);
    }
}

void TransferNotifications::notificationClosed(DesktopNotifications::Handle handle)
{
    std::erase_if(bursts_, [&](const auto& entry) { return entry.second.handle == handle; });
    if (receiveQuestion_.handle == handle) {
        receiveQuestion_ = {};
    }
    if (duplicateQuestion_.handle == handle) {
        duplicateQuestion_ = {};
    }
}

void TransferNotifications::closeEverything()
{
    for (const auto& [device, burst] : bursts_) {
        notifications_.close(burst.handle);
    }
    bursts_.clear();
    for (auto* notice : {&receiveQuestion_, &duplicateQuestion_}) {
        if (notice->handle) {
            notifications_.close(*notice->handle);
        }
        *notice = {};
    }
}

} // namespace ferrylantern
