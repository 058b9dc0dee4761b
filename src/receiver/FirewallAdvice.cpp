#include "receiver/FirewallAdvice.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace ferrylantern {

namespace {

constexpr int commandTimeoutMs = 3000;

std::optional<QString> readText(const std::filesystem::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return QString::fromUtf8(in.readAll());
}

// A shell-style "KEY=value" line of a configuration file, quotes removed.
std::optional<QString> setting(const QString& text, const QString& key)
{
    const QRegularExpression line(QStringLiteral("^\\s*%1\\s*=\\s*\"?([^\"\\n]*)\"?\\s*$").arg(key),
                                  QRegularExpression::MultilineOption);
    const auto match = line.match(text);
    return match.hasMatch() ? std::optional(match.captured(1).trimmed()) : std::nullopt;
}

std::optional<FirewallAdvice> ufwAdvice(std::uint16_t port, const FirewallProbe& probe)
{
    const auto configuration = readText(probe.root / "etc/ufw/ufw.conf");
    if (!configuration || setting(*configuration, QStringLiteral("ENABLED")) != QLatin1String("yes")) {
        return std::nullopt;
    }
    if (const auto defaults = readText(probe.root / "etc/default/ufw");
        defaults && setting(*defaults, QStringLiteral("DEFAULT_INPUT_POLICY")) == QLatin1String("ACCEPT")) {
        return std::nullopt;
    }
    FirewallAdvice advice{QStringLiteral("ufw"), QStringLiteral("sudo ufw allow %1/tcp").arg(port), false};
    // The rules are readable by root only on most systems; then all that is known is that ufw is on.
    const auto rules = readText(probe.root / "etc/ufw/user.rules");
    if (!rules) {
        return advice;
    }
    // "### tuple ### allow tcp 53317 0.0.0.0/0 any 0.0.0.0/0 in" (a port, a list or a range of them).
    const QRegularExpression allowRule(QStringLiteral("^### tuple ### allow (tcp|any) (\\S+) "),
                                       QRegularExpression::MultilineOption);
    for (auto matches = allowRule.globalMatch(*rules); matches.hasNext();) {
        for (const auto& ports : matches.next().captured(2).split(QLatin1Char(','))) {
            const auto range = ports.split(QLatin1Char(':'));
            bool firstOK = false;
            bool lastOK = false;
            const int first = range.first().toInt(&firstOK);
            const int last = range.last().toInt(&lastOK);
            if (firstOK && lastOK && first <= port && port <= last) {
                return std::nullopt;
            }
        }
    }
    advice.certain = true;
    return advice;
}

std::optional<FirewallAdvice> firewalldAdvice(std::uint16_t port, const FirewallProbe& probe)
{
    if (!probe.run || probe.run(QStringLiteral("firewall-cmd"), {QStringLiteral("--state")}).exitCode != 0) {
        return std::nullopt;
    }
    const auto query = probe.run(QStringLiteral("firewall-cmd"), {QStringLiteral("--query-port=%1/tcp").arg(port)});
    if (query.exitCode == 0) {
        return std::nullopt;
    }
    // firewall-cmd answers "no" with exit code 1; anything else means the question was not allowed.
    return FirewallAdvice{
        QStringLiteral("firewalld"),
        QStringLiteral("sudo firewall-cmd --permanent --add-port=%1/tcp && sudo firewall-cmd --reload").arg(port),
        query.exitCode == 1 && query.output.trimmed() == QLatin1String("no")};
}

} // namespace

FirewallProbe FirewallProbe::system()
{
    return {"/", [](const QString& program, const QStringList& arguments) {
                QProcess process;
                process.start(program, arguments);
                if (!process.waitForFinished(commandTimeoutMs) || process.exitStatus() != QProcess::NormalExit) {
                    process.kill();
                    process.waitForFinished();
                    return CommandResult{};
                }
                return CommandResult{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
            }};
}

QString FirewallAdvice::message(std::uint16_t port) const
{
    if (certain) {
        return QStringLiteral("防火墙 %1 没有放行端口 %2，手机无法连接。请运行：%3")
            .arg(firewall)
            .arg(port)
            .arg(command);
    }
    return QStringLiteral("防火墙 %1 已启用。如果手机打不开页面，请运行：%2").arg(firewall, command);
}

std::optional<FirewallAdvice> firewallAdvice(std::uint16_t port, const FirewallProbe& probe)
{
    if (auto advice = ufwAdvice(port, probe)) {
        return advice;
    }
    return firewalldAdvice(port, probe);
}

} // namespace ferrylantern
