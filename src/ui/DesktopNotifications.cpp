#include "ui/DesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>

namespace ferrylantern {

namespace {

const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString notificationsInterface = QStringLiteral("org.freedesktop.Notifications");
// The server chooses how long an ordinary notification stays; 0 keeps it until it is answered.
constexpr int serverDefaultExpiry = -1;
constexpr int neverExpires = 0;
constexpr uchar normalUrgency = 1;

QDBusMessage call(const QString& method)
{
    return QDBusMessage::createMethodCall(QLatin1String(DesktopNotifications::serviceName), notificationsPath,
                                          notificationsInterface, method);
}

} // namespace

QString escapedForNotificationMarkup(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            escaped += QLatin1String("&amp;");
            break;
        case '<':
            escaped += QLatin1String("&lt;");
            break;
        case '>':
            escaped += QLatin1String("&gt;");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

DesktopNotifications::DesktopNotifications(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , bus_(bus)
{
    const QString service = QLatin1String(serviceName);
    bus_.connect(service, notificationsPath, notificationsInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(service, notificationsPath, notificationsInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
    // A server that starts (or starts again) knows none of our notifications and may do other things.
    auto* watcher = new QDBusServiceWatcher(service, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &DesktopNotifications::serverChanged);
    askCapabilities();
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::askCapabilities()
{
    if (askingCapabilities_ || !bus_.isConnected()) {
        return;
    }
    askingCapabilities_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        askingCapabilities_ = false;
        const QDBusPendingReply<QStringList> reply = *answer;
        if (reply.isError()) {
            // No server: what waited to be shown is dropped; a later show() asks again.
            for (auto it = entries_.begin(); it != entries_.end();) {
                it = it->second.sending ? std::next(it) : entries_.erase(it);
            }
            return;
        }
        capabilities_ = reply.value();
        capabilitiesKnown_ = true;
        for (auto& [handle, entry] : entries_) {
            if (!entry.sending && entry.waiting) {
                send(handle, entry, *std::exchange(entry.waiting, std::nullopt));
            }
        }
    });
}

void DesktopNotifications::serverChanged()
{
    capabilitiesKnown_ = false;
    capabilities_.clear();
    // The new server has none of the old ids; a later show() opens a fresh notification.
    for (auto& [handle, entry] : entries_) {
        entry.serverID.reset();
    }
    askCapabilities();
}

void DesktopNotifications::show(Handle handle, const DesktopNotification& notification)
{
    Entry& entry = entries_[handle];
    entry.closeWhenDelivered = false;
    if (!capabilitiesKnown_ || entry.sending) {
        entry.waiting = notification;
        askCapabilities();
        return;
    }
    send(handle, entry, notification);
}

void DesktopNotifications::send(Handle handle, Entry& entry, const DesktopNotification& notification)
{
    QStringList actions;
    if (supportsActions()) {
        for (const auto& action : notification.actions) {
            actions << action.key << action.label;
        }
    }
    const bool markup = capabilities_.contains(QStringLiteral("body-markup"));
    QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(normalUrgency)}};
    const QString desktopEntry = QGuiApplication::desktopFileName();
    if (!desktopEntry.isEmpty()) {
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    }
    if (!notification.category.isEmpty()) {
        hints.insert(QStringLiteral("category"), notification.category);
    }
    QDBusMessage message = call(QStringLiteral("Notify"));
    message << QCoreApplication::applicationName() << entry.serverID.value_or(0u)
            << (desktopEntry.isEmpty() ? QString() : desktopEntry) << notification.summary
            << (markup ? escapedForNotificationMarkup(notification.body) : notification.body) << actions << hints
            << (notification.persistent ? neverExpires : serverDefaultExpiry);
    entry.sending = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, handle](QDBusPendingCallWatcher* answer) { delivered(handle, answer); });
}

void DesktopNotifications::delivered(Handle handle, QDBusPendingCallWatcher* answer)
{
    answer->deleteLater();
    const QDBusPendingReply<uint> reply = *answer;
    const auto found = entries_.find(handle);
    if (found == entries_.end()) {
        return;
    }
    Entry& entry = found->second;
    entry.sending = false;
    if (reply.isError()) {
        entries_.erase(found);
        return;
    }
    entry.serverID = reply.value();
    if (entry.closeWhenDelivered) {
        closeOnServer(*entry.serverID);
        entries_.erase(found);
        return;
    }
    if (entry.waiting) {
        send(handle, entry, *std::exchange(entry.waiting, std::nullopt));
    }
    emit delivered(handle);
}

void DesktopNotifications::close(Handle handle)
{
    const auto found = entries_.find(handle);
    if (found == entries_.end()) {
        return;
    }
    Entry& entry = found->second;
    if (entry.sending) {
        entry.waiting.reset();
        entry.closeWhenDelivered = true;
        return;
    }
    if (entry.serverID) {
        closeOnServer(*entry.serverID);
    }
    entries_.erase(found);
}

void DesktopNotifications::closeOnServer(uint id)
{
    QDBusMessage message = call(QStringLiteral("CloseNotification"));
    message << id;
    bus_.asyncCall(message);
}

bool DesktopNotifications::isBusy() const
{
    return askingCapabilities_ || std::any_of(entries_.begin(), entries_.end(), [](const auto& entry) {
               return entry.second.sending || entry.second.waiting.has_value();
           });
}

std::optional<DesktopNotifications::Handle> DesktopNotifications::handleOf(uint id) const
{
    for (const auto& [handle, entry] : entries_) {
        if (entry.serverID == id) {
            return handle;
        }
    }
    return std::nullopt;
}

void DesktopNotifications::onActionInvoked(uint id, const QString& key)
{
    // Servers tell every client of every action; only ours count.
    if (const auto handle = handleOf(id)) {
        emit actionInvoked(*handle, key);
    }
}

void DesktopNotifications::onNotificationClosed(uint id, uint /*reason*/)
{
    const auto handle = handleOf(id);
    if (!handle) {
        return;
    }
    Entry& entry = entries_.at(*handle);
    if (entry.sending) {
        // An update is on its way under this id; the server will show it as a new notification.
        entry.serverID.reset();
        return;
    }
    entries_.erase(*handle);
    emit closed(*handle);
}

} // namespace ferrylantern
