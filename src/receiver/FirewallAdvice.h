// Whether a firewall on this computer keeps phones from reaching the port, as far as the user running
// FerryLantern can tell, and the one command that lets them in. ufw (Debian, Ubuntu) and firewalld
// (Fedora, openSUSE) are the firewalls desktops switch on; anything else is not looked at.
//
//   if (const auto advice = firewallAdvice(port, FirewallProbe::system())) show(advice->message());
//
// Reading the system runs commands and may take a moment: call it off the GUI thread.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace ferrylantern {

// Where the check looks: the files of ufw under `root` and the firewall-cmd program. Tests give a
// folder of their own and a stand-in for the program.
struct FirewallProbe
{
    struct CommandResult
    {
        int exitCode = -1; // -1: the program is missing or did not finish
        QString output;
    };
    using RunCommand = std::function<CommandResult(const QString& program, const QStringList& arguments)>;

    std::filesystem::path root = "/";
    RunCommand run;

    // The real system, with commands limited to a few seconds.
    static FirewallProbe system();
};

struct FirewallAdvice
{
    QString firewall;     // "ufw" or "firewalld"
    QString command;      // the one line that allows the port
    bool certain = false; // the rules were read and do not allow the port (else they could not be read)

    // "防火墙 ufw 没有放行端口 53317，手机无法连接。请运行：sudo ufw allow 53317/tcp" and the like.
    QString message(std::uint16_t port) const;

    bool operator==(const FirewallAdvice&) const = default;
};

// Nothing when no firewall this code knows is active, or it allows the port.
std::optional<FirewallAdvice> firewallAdvice(std::uint16_t port, const FirewallProbe& probe);

} // namespace ferrylantern
