#include "ui/TrayIcon.h"

#include "receiver/TransferReceiverModel.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>

namespace ferrylantern {

namespace {

constexpr int iconSide = 64;

} // namespace

TrayIcon::TrayIcon(const TransferReceiverModel& model, Commands commands, QObject* parent)
    : QObject(parent)
    , model_(model)
    , commands_(std::move(commands))
    , menu_(new QMenu)
{
    menu_->setObjectName(QStringLiteral("trayMenu"));
    auto* showWindow = menu_->addAction(QStringLiteral("显示窗口"));
    showWindow->setObjectName(QStringLiteral("trayShowWindowAction"));
    connect(showWindow, &QAction::triggered, this, [this] { commands_.showWindow(); });
    receiving_ = menu_->addAction(QStringLiteral("允许接收文件"));
    receiving_->setObjectName(QStringLiteral("trayReceivingAction"));
    receiving_->setCheckable(true);
    connect(receiving_, &QAction::triggered, this, [this](bool on) { commands_.setReceiving(on); });
    auto* openFolder = menu_->addAction(QStringLiteral("打开保存文件夹"));
    openFolder->setObjectName(QStringLiteral("trayOpenSaveFolderAction"));
    connect(openFolder, &QAction::triggered, this, [this] { commands_.openSaveFolder(); });
    menu_->addSeparator();
    auto* quit = menu_->addAction(QStringLiteral("退出"));
    quit->setObjectName(QStringLiteral("trayQuitAction"));
    connect(quit, &QAction::triggered, this, [this] { commands_.quit(); });

    icon_.setContextMenu(menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            commands_.showWindow();
        }
    });
    for (const auto signal : {&TransferReceiverModel::isRunningChanged, &TransferReceiverModel::isStartingChanged,
                              &TransferReceiverModel::statusTextChanged}) {
        connect(&model_, signal, this, &TrayIcon::showState);
    }
    showState();
}

TrayIcon::~TrayIcon()
{
    icon_.hide();
    delete menu_;
}

void TrayIcon::showState()
{
    const bool receiving = model_.isRunning() || model_.isStarting();
    receiving_->setChecked(receiving);
    // The application's icon while receiving; its grey version while not.
    const QIcon appIcon = QGuiApplication::windowIcon();
    icon_.setIcon(receiving ? appIcon : QIcon(appIcon.pixmap(iconSide, QIcon::Disabled)));
    icon_.setToolTip(QStringLiteral("FerryLantern\n") + model_.statusText());
}

} // namespace ferrylantern
