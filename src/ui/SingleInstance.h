// One FerryLantern per user: the first launch listens on a local socket in the user's runtime folder;
// a later launch finds it there, asks it to come to the front and ends, so the same settings never
// run a second receiver on another port.
//
//   SingleInstance instance;
//   if (!instance.claim()) return 0;                       // the running one was told to show itself
//   connect(&instance, &SingleInstance::activationRequested, window, …);
//
// GUI thread only.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace ferrylantern {

class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    // $XDG_RUNTIME_DIR/ferrylantern.instance, or a per-user name in the temporary folder.
    static QString defaultSocketPath();

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);

    // What a later launch asks of the one that runs.
    enum class Request
    {
        bringToFront, // a launch from the menu: show the window
        nothing,      // a launch that starts hidden (at login): leave the running one as it is
    };

    // True when this process is the one that runs (it now listens for later launches); false when
    // another one runs and has been told `request`.
    [[nodiscard]] bool claim(Request request = Request::bringToFront);

signals:
    // A later launch wants the window.
    void activationRequested();

private:
    QString socketPath_;
    QLocalServer server_;
};

} // namespace ferrylantern
