// FerryLantern's status item in the desktop's tray (QSystemTrayIcon: a StatusNotifierItem on current
// desktops, an XEmbed icon on older ones). The icon and its tooltip say whether receiving is on; its
// menu shows the window, switches receiving on and off, opens the save folder and quits. A click on
// the icon shows the window.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

class QAction;
class QMenu;

namespace ferrylantern {

class TransferReceiverModel;

class TrayIcon final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrayIcon)

public:
    struct Commands
    {
        std::function<void()> showWindow;
        std::function<void(bool)> setReceiving;
        std::function<void()> openSaveFolder;
        std::function<void()> quit;
    };

    TrayIcon(const TransferReceiverModel& model, Commands commands, QObject* parent = nullptr);
    ~TrayIcon() override;

    void show() { icon_.show(); }
    bool isVisible() const { return icon_.isVisible(); }
    QMenu* menu() const { return menu_; }
    const QSystemTrayIcon& icon() const { return icon_; }
    QAction* receivingAction() const { return receiving_; }

private:
    void showState();

    const TransferReceiverModel& model_;
    Commands commands_;
    QMenu* menu_;
    QAction* receiving_;
    QSystemTrayIcon icon_;
};

} // namespace ferrylantern
