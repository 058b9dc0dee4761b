#include "ui/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

namespace ferrylantern {

namespace {

constexpr int connectTimeoutMs = 1000;
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
const QByteArray presentMessage = QByteArrayLiteral("present\n");

// Tells the instance listening at `path` what this launch wants; false when none answers.
bool tellRunningInstance(const QString& path, const QByteArray& message)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(connectTimeoutMs)) {
        return false;
    }
    socket.write(message);
    const bool sent = socket.waitForBytesWritten(connectTimeoutMs);
    socket.disconnectFromServer();
    return sent;
}

} // namespace

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) {
        return QDir(runtime).filePath(QStringLiteral("ferrylantern.instance"));
    }
    return QDir::temp().filePath(QStringLiteral("ferrylantern-%1.instance").arg(getuid()));
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent)
    , socketPath_(std::move(socketPath))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* launch = server_.nextPendingConnection()) {
            connect(launch, &QLocalSocket::disconnected, launch, &QObject::deleteLater);
            connect(launch, &QLocalSocket::readyRead, this, [this, launch] {
                if (launch->canReadLine() && launch->readLine() == activateMessage) {
                    emit activationRequested();
                }
            });
        }
    });
}

bool SingleInstance::claim(Request request)
{
    const QByteArray& message = request == Request::bringToFront ? activateMessage : presentMessage;
    if (tellRunningInstance(socketPath_, message)) {
        return false;
    }
    // Nobody answered: a socket file left by a process that crashed is in the way, if anything.
    QLocalServer::removeServer(socketPath_);
    if (!server_.listen(socketPath_) && tellRunningInstance(socketPath_, message)) {
        return false; // another launch claimed it a moment before us
    }
    return true;
}

} // namespace ferrylantern
