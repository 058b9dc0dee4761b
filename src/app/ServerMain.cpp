// ferrylantern-server: the receiver without a window, for headless machines and scripts. It runs the
// same model as the desktop application (DNS-SD included) with a settings scope of its own, so the
// desktop's preferences never change what a script gets from the command line. Usage errors exit 2,
// a failed start exits 1, SIGINT and SIGTERM exit 0.
#include "app/OrderlyExit.h"
#include "app/ServerCommandLine.h"
#include "app/ServerConsole.h"
#include "app/TerminalQRCode.h"
#include "receiver/LANAddresses.h"
#include "receiver/TransferReceiverModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <iostream>

using namespace ferrylantern;

namespace {

constexpr int usageError = 2;
constexpr int startFailure = 1;

// Written under a temporary name and renamed, so a script polling for the file never reads half.
bool writePortFile(const QString& file, quint16 port)
{
    QSaveFile out(file);
    return out.open(QIODevice::WriteOnly) && out.write(QByteArray::number(port) + '\n') > 0 && out.commit();
}

// The command line's options written into the program's own, throw-away preference scope.
void writeSettings(const preferences::PreferenceScope& scope, const ServerCommandLine& commandLine)
{
    const auto settings = scope.open();
    settings->setValue(preferences::transferPINEnabled, commandLine.pin.has_value());
    settings->setValue(preferences::transferPINCode, QString::fromStdString(commandLine.pin.value_or("")));
    settings->setValue(preferences::requireReceiveConfirmation, commandLine.confirm.has_value());
}

// What someone at the terminal needs: where files go, the address a phone opens (also as a QR code
// to scan off the screen), the address on this computer, and a port other than the one asked for.
void printAddresses(const TransferReceiverModel& model, std::uint16_t preferredPort)
{
    std::printf("FerryLantern receiving as \"%s\" into %s\n", model.deviceName().toUtf8().constData(),
                model.saveDirectory().toUtf8().constData());
    if (preferredPort != 0 && model.port() != preferredPort) {
        std::printf("Port %u is in use; using port %u instead (a firewall rule for %u does not cover it)\n",
                    unsigned{preferredPort}, unsigned{*model.port()}, unsigned{preferredPort});
    }
    if (const auto url = model.accessURL()) {
        std::printf("%s\n", url->toUtf8().constData());
        if (const auto code = QRCodeModules::encode(*url)) {
            const auto colours = isatty(STDOUT_FILENO) != 0 ? TerminalColours::lightOnDark : TerminalColours::none;
            std::fputs(terminalQRCode(*code, colours).c_str(), stdout);
        }
    }
    std::printf("%s\n", model.localAccessURL().value_or(QString()).toUtf8().constData());
    for (const auto& item : model.sharedItemList().items()) {
        std::printf("sharing %s (%lld bytes)\n", item.path.c_str(), static_cast<long long>(item.byteCount));
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    StopSignals::blockInAllThreads();
    QCoreApplication application(argc, argv);
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const auto commandLine = parseServerCommandLine(arguments);
    if (!commandLine) {
        std::cerr << "ferrylantern-server: " << commandLine.error() << "\n\n" << serverUsage();
        return usageError;
    }
    if (commandLine->showHelp) {
        std::cout << serverUsage();
        return 0;
    }
    if (commandLine->listAddresses) {
        for (const auto& address : discoverLANIPv4Addresses()) {
            std::printf("%s\t%s\n", address.address.toUtf8().constData(), address.label.toUtf8().constData());
        }
        return 0;
    }

    const QTemporaryDir settingsFolder;
    const preferences::PreferenceScope scope(settingsFolder.filePath(QStringLiteral("ferrylantern-server.ini")));
    writeSettings(scope, *commandLine);
    ReceiverConfiguration configuration;
    configuration.preferences = scope;
    configuration.preferredPort = commandLine->port;
    configuration.rawBodyTransfer = commandLine->rawBodyTransfer;
    if (commandLine->name) {
        configuration.deviceName = QString::fromStdString(*commandLine->name);
    }
    TransferReceiverModel model(configuration);
    if (commandLine->saveDirectory) {
        model.setSaveDirectory(QString::fromStdString(commandLine->saveDirectory->string()), true);
        if (model.errorMessage()) {
            std::cerr << "ferrylantern-server: cannot use " << commandLine->saveDirectory->string() << ": "
                      << model.errorMessage()->toStdString() << "\n";
            return startFailure;
        }
    }
    for (const auto& path : commandLine->shares) {
        const auto failures = model.shareFiles({QString::fromStdString(path.string())});
        if (!failures.isEmpty()) {
            std::cerr << "ferrylantern-server: cannot share " << path.string() << ": " << failures.first().toStdString()
                      << "\n";
            return startFailure;
        }
    }
    ServerConsole console(model, *commandLine);
    const OrderlyExit orderlyExit(model);
    QObject::connect(&model, &TransferReceiverModel::startFinished, &application, [&] {
        if (!model.isRunning()) {
            std::cerr << "ferrylantern-server: " << model.errorMessage().value_or(QString()).toStdString() << "\n";
            QCoreApplication::exit(startFailure);
            return;
        }
        if (commandLine->portFile &&
            !writePortFile(QString::fromStdString(commandLine->portFile->string()), *model.port())) {
            std::cerr << "ferrylantern-server: cannot write " << commandLine->portFile->string() << "\n";
            QCoreApplication::exit(startFailure);
            return;
        }
        printAddresses(model, commandLine->port);
    });
    QObject::connect(&model, &TransferReceiverModel::firewallAdviceChanged, &application, [&] {
        const auto& advice = model.firewallAdvice();
        if (!advice || !model.port()) {
            return;
        }
        const auto firewall = advice->firewall.toUtf8();
        std::printf(advice->certain ? "%s does not let phones reach port %u. To allow it: %s\n"
                                    : "%s is active and may keep phones from port %u. To allow it: %s\n",
                    firewall.constData(), unsigned{*model.port()}, advice->command.toUtf8().constData());
        std::fflush(stdout);
    });
    model.start();
    return QCoreApplication::exec();
}
