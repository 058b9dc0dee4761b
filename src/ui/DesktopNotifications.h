// The desktop's notifications, through the freedesktop Notifications interface on the session bus
// (org.freedesktop.Notifications, version 1.2 of the freedesktop protocol). A caller keeps a handle per
// notification it shows; showing again under the same handle updates the notification in place
// (replaces_id), so a burst of changes never piles up notifications.
//
//   DesktopNotifications notifications;                       // the session bus
//   const auto handle = notifications.newHandle();
//   notifications.show(handle, {.summary = QStringLiteral("收到 3 个文件"), .body = names});
//   connect(&notifications, &DesktopNotifications::actionInvoked, …);
//
// Texts are plain: the body is escaped here for servers that read the markup subset, so a file name
// such as "<b>x</b>" shows as written. Everything is asynchronous; at most one Notify per handle is on
// its way, and what changes meanwhile is sent when its answer (the server's id) has come.
//
// GUI thread only.
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

class QDBusPendingCallWatcher;

namespace ferrylantern {

struct NotificationAction
{
    QString key;   // "default" is the click on the notification itself
    QString label; // shown on the button
    bool operator==(const NotificationAction&) const = default;
};

struct DesktopNotification
{
    QString summary;
    QString body;
    QList<NotificationAction> actions; // sent only to servers that show actions
    QString category;                  // "transfer.complete", "transfer", …
    // Stays until it is answered or closed: no expiry.
    bool persistent = false;
    bool operator==(const DesktopNotification&) const = default;
};

// `text` with &, < and > written as entities, for a server that reads the body as markup.
QString escapedForNotificationMarkup(const QString& text);

class DesktopNotifications final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopNotifications)

public:
    using Handle = quint64;

    static constexpr auto serviceName = "org.freedesktop.Notifications";

    explicit DesktopNotifications(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                  QObject* parent = nullptr);
    ~DesktopNotifications() override;

    // What the server said it can do ("actions", "body", "body-markup", …); empty until it answered.
    const QStringList& capabilities() const { return capabilities_; }
    bool supportsActions() const { return capabilities_.contains(QStringLiteral("actions")); }

    // A handle no notification uses yet.
    Handle newHandle() { return ++lastHandle_; }
    // Shows the notification of `handle`, or updates it in place when it is still shown.
    void show(Handle handle, const DesktopNotification& notification);
    // Takes the notification of `handle` off the screen; the handle may be shown again later.
    void close(Handle handle);
    bool isShown(Handle handle) const { return entries_.contains(handle); }
    // Whether a call is still on its way or waiting for one (what tests wait for before they look).
    bool isBusy() const;

signals:
    // The user chose the action `key` of the notification `handle`.
    void actionInvoked(ferrylantern::DesktopNotifications::Handle handle, const QString& key);
    // The server closed the notification (it expired or the user dismissed it); not sent for close().
    void closed(ferrylantern::DesktopNotifications::Handle handle);
    // A Notify call came back (for tests: the server knows the notification now).
    void delivered(ferrylantern::DesktopNotifications::Handle handle);

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Entry
    {
        std::optional<uint> serverID;
        bool sending = false;
        std::optional<DesktopNotification> waiting; // to send once the call on its way has come back
        bool closeWhenDelivered = false;
    };

    void askCapabilities();
    void send(Handle handle, Entry& entry, const DesktopNotification& notification);
    void delivered(Handle handle, QDBusPendingCallWatcher* call);
    void closeOnServer(uint id);
    void serverChanged();
    std::optional<Handle> handleOf(uint id) const;

    QDBusConnection bus_;
    QStringList capabilities_;
    bool capabilitiesKnown_ = false;
    bool askingCapabilities_ = false;
    std::map<Handle, Entry> entries_;
    Handle lastHandle_ = 0;
};

} // namespace ferrylantern
