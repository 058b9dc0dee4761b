#include "tests/ui/DesktopServices.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTest>

#include <fstream>

namespace ferrylantern::test {

namespace {

constexpr int serviceStartTimeoutMs = 10000;

// The first line a started program wrote to its standard output, once it has written a whole one; empty
// when it never came (the caller's check says so).
QString firstLineOf(const ChildProcess& program)
{
    std::string text;
    static_cast<void>(QTest::qWaitFor([&] { return (text = program.standardOutput()).find('\n') != std::string::npos; },
                                      serviceStartTimeoutMs));
    return QString::fromStdString(text.substr(0, text.find('\n'))).trimmed();
}

QDBusMessage callDunst(const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                          QStringLiteral("/org/freedesktop/Notifications"),
                                          QStringLiteral("org.dunstproject.cmd0"), method);
}

} // namespace

// MARK: PrivateSessionBus

PrivateSessionBus::PrivateSessionBus()
{
    // A session bus that starts no services by itself: every service a test needs, it starts.
    const auto config = folder_.path() / "session.conf";
    std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" << folder_.path().string()
                          << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
)";
    daemon_ = std::make_unique<ChildProcess>(
        "/usr/bin/dbus-daemon",
        std::vector<std::string>{"--config-file=" + config.string(), "--nofork", "--nopidfile", "--print-address=1"},
        folder_.path());
    address_ = firstLineOf(*daemon_);
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const auto& name : std::as_const(connections_)) {
        QDBusConnection::disconnectFromBus(name);
    }
}

QDBusConnection PrivateSessionBus::connect(const QString& name)
{
    connections_.append(name);
    return QDBusConnection::connectToBus(address_, name);
}

// MARK: VirtualDisplay

VirtualDisplay::VirtualDisplay()
{
    server_ = std::make_unique<ChildProcess>(
        "/usr/bin/Xvfb", std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        folder_.path());
    const QString number = firstLineOf(*server_);
    if (!number.isEmpty()) {
        name_ = QLatin1Char(':') + number;
    }
}

// MARK: Dunst

Dunst::Dunst(PrivateSessionBus& bus, const VirtualDisplay& display)
    : control_(bus.connect(QStringLiteral("dunst-control")))
{
    // The context menu's program picks the line of the action the test wrote into "choice", and leaves
    // the menu it was offered in "menu" when it is done.
    const auto picker = folder_.path() / "pick-action.sh";
    const auto file = [&](const char* name) { return "'" + (folder_.path() / name).string() + "'"; };
    std::ofstream(picker) << "#!/bin/sh\nchoice=\"$(cat " << file("choice") << ")\"\ncat > " << file("menu.part")
                          << "\ngrep -F -m 1 -e \"$choice\" " << file("menu.part") << "\nstatus=$?\nmv "
                          << file("menu.part") << " " << file("menu") << "\nexit $status\n";
    std::filesystem::permissions(picker, std::filesystem::perms::owner_all);
    const auto config = folder_.path() / "dunstrc";
    std::ofstream(config) << "[global]\nnotification_limit = 0\nmarkup = full\ndmenu = " << picker.string() << R"(
[urgency_low]
timeout = 0
[urgency_normal]
timeout = 0
[urgency_critical]
timeout = 0
)";
    daemon_ = std::make_unique<ChildProcess>(
        "/usr/bin/env",
        std::vector<std::string>{"DISPLAY=" + display.name().toStdString(),
                                 "DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString(), "/usr/bin/dunst", "-config",
                                 config.string()},
        folder_.path());
    running_ = QTest::qWaitFor(
        [&] { return control_.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")); },
        serviceStartTimeoutMs);
}

int Dunst::displayedCount()
{
    QDBusInterface dunst(QStringLiteral("org.freedesktop.Notifications"),
                         QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.dunstproject.cmd0"),
                         control_);
    return dunst.property("displayedLength").toInt() + dunst.property("waitingLength").toInt();
}

QList<std::pair<QString, QString>> Dunst::closeAllAndListHistory()
{
    control_.call(callDunst(QStringLiteral("NotificationCloseAll")));
    const QDBusMessage reply = control_.call(callDunst(QStringLiteral("NotificationListHistory")));
    QList<std::pair<QString, QString>> history;
    if (reply.arguments().isEmpty()) {
        return history;
    }
    const auto argument = reply.arguments().first().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QVariantMap entry;
        argument >> entry;
        const auto text = [&](const char* key) {
            const QVariant value = entry.value(QString::fromLatin1(key));
            return value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant().toString()
                                                    : value.toString();
        };
        history.append({text("summary"), text("body")});
    }
    argument.endArray();
    return history;
}

QStringList Dunst::invokeAction(const QString& label, const QString& summary)
{
    const auto menu = folder_.path() / "menu";
    std::filesystem::remove(menu);
    // dunst lists each action as "#LABEL (SUMMARY) [ID,KEY]".
    std::ofstream(folder_.path() / "choice") << ("#" + label + " (" + summary + ")").toStdString();
    control_.call(callDunst(QStringLiteral("ContextMenuCall")));
    if (!QTest::qWaitFor([&] { return std::filesystem::exists(menu); }, serviceStartTimeoutMs)) {
        return {};
    }
    std::ifstream lines(menu);
    QStringList offered;
    for (std::string line; std::getline(lines, line);) {
        offered << QString::fromStdString(line);
    }
    return offered;
}

} // namespace ferrylantern::test
