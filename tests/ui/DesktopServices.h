// The desktop services the presence tests run against, each really started and private to the test:
// a session bus (dbus-daemon), a display (Xvfb) and the notification daemon dunst on them.
#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace ferrylantern::test {

// A dbus-daemon of the session type, on a socket of its own; stopped with the object.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    bool isRunning() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }
    // A connection of its own (each `name` is one), disconnected with the bus object.
    QDBusConnection connect(const QString& name);

private:
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> daemon_;
    QString address_;
    QStringList connections_;
};

// An X server in memory (Xvfb), on the first free display; stopped with the object.
class VirtualDisplay
{
public:
    VirtualDisplay();

    bool isRunning() const { return !name_.isEmpty(); }
    // ":N"
    const QString& name() const { return name_; }

private:
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> server_;
    QString name_;
};

// dunst on `display`, serving `bus`, with every notification kept on screen until it is closed.
// Its control interface (org.dunstproject.cmd0) says how many notifications it shows and lists the
// closed ones.
class Dunst
{
public:
    Dunst(PrivateSessionBus& bus, const VirtualDisplay& display);

    bool isRunning() const { return running_; }
    // Notifications on screen and waiting to be shown.
    int displayedCount();
    // Closes every notification, so the history lists them: each as (summary, body).
    QList<std::pair<QString, QString>> closeAllAndListHistory();
    // Invokes an action the way dunst's context menu does: the menu program dunst runs picks the action
    // labelled `label` of the notification whose summary is `summary`. Returns the menu's lines.
    QStringList invokeAction(const QString& label, const QString& summary);

private:
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> daemon_;
    QDBusConnection control_;
    bool running_ = false;
};

} // namespace ferrylantern::test
