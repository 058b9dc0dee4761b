// What FerryLantern tells the desktop while the user works elsewhere:
// - files received: one notification per device and burst ("收到 N 个文件", the device, the first
//   names), updated in place while that device keeps sending, so a batch of 500 files is one
//   notification. Its actions open the file (one file of a harmless type) or show it in its folder.
// - a question that waits (receive or same-name) when the user was not at the window: the question,
//   with "接收"/"拒绝" (or "保留两者"/"拒绝") where the server shows actions. An answer goes to the same
//   queue operations as the dialog's buttons, so the dialog closes with it; clicking the notification
//   brings the window and its dialog to the front. It follows the queue: the next question replaces it,
//   an empty queue takes it away.
// Nothing is shown while the "notificationsEnabled" preference is off.
//
// GUI thread only.
#pragma once

#include "receiver/TransferReceiverModel.h"
#include "ui/DesktopNotifications.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

namespace ferrylantern {

class UserPreferences;

// Whether opening `filePath` with the desktop's default application is harmless: not a program, a
// script, a launcher or a disk image that the default handler might run.
bool isSafeToOpenDirectly(const QString& filePath);

class TransferNotifications final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferNotifications)

public:
    // Files from one device that come less than this apart (or while it still sends) share a notification.
    static constexpr std::chrono::seconds burstQuietPeriod{30};

    // What the notifications' actions do; empty members take the desktop's defaults.
    struct Actions
    {
        std::function<void()> showWindow;
        std::function<void(const QString& filePath)> openFile;
        std::function<void(const QString& filePath)> revealFile;
    };

    TransferNotifications(TransferReceiverModel& model, UserPreferences& preferences,
                          DesktopNotifications& notifications, Actions actions, QObject* parent = nullptr);

    // A question was queued; `userAtWindow` says whether the window was in front with the keyboard.
    // When it was not, every kind of question that waits gets its notification.
    void questionArrived(bool userAtWindow);

    // The notification of the burst from `deviceFolder`, and of each kind of question; none when not shown.
    std::optional<DesktopNotifications::Handle> receivedFilesHandle(const QString& deviceFolder) const;
    std::optional<DesktopNotifications::Handle> receiveQuestionHandle() const { return receiveQuestion_.handle; }
    std::optional<DesktopNotifications::Handle> duplicateQuestionHandle() const { return duplicateQuestion_.handle; }

private:
    struct Burst
    {
        DesktopNotifications::Handle handle = 0;
        qsizetype count = 0;
        QStringList firstNames;
        QString latestFile;
        QElapsedTimer sinceLastFile;
    };
    struct QuestionNotice
    {
        std::optional<DesktopNotifications::Handle> handle;
        std::optional<QString> headID; // the question it shows
    };

    bool enabled() const;
    void fileReceived(const ReceivedFileRecord& record);
    bool stillSending(const QString& deviceFolder) const;
    void showBurst(const QString& deviceFolder, const Burst& burst);
    void showReceiveQuestion(bool open);
    void showDuplicateQuestion(bool open);
    // Shows the question at the head of a queue (`headID`) in `notice`, opening the notification only
    // when `open`; closes it when the queue is empty.
    void showQuestion(QuestionNotice& notice, const std::optional<QString>& headID, bool open,
                      const std::function<DesktopNotification()>& notification);
    void actionInvoked(DesktopNotifications::Handle handle, const QString& key);
    void notificationClosed(DesktopNotifications::Handle handle);
    void closeEverything();

    TransferReceiverModel& model_;
    UserPreferences& preferences_;
    DesktopNotifications& notifications_;
    Actions actions_;
    std::map<QString, Burst> bursts_; // by device folder
    QuestionNotice receiveQuestion_;
    QuestionNotice duplicateQuestion_;
};

} // namespace ferrylantern
