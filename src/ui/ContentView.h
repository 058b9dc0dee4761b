// The main window: the sidebar (service, address and QR code, shares, save folder, errors) beside the
// transfers, with the toolbar's title and its view, waveform and clear buttons. It owns the one
// receiver model, starts receiving when it is first shown, brings itself to the front when a question
// arrives, and shows the questions as dialogs. Files (or a text) dropped anywhere on it are shared with
// phones; a received text goes to the clipboard at once when the preference says so.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"
#include "receiver/TransferReceiverModel.h"

#include <QMainWindow>

#include <memory>

class QLabel;
class QSplitter;

namespace ferrylantern {

class AudioPlaybackController;
class AudioWaveformLoader;
class ConfirmationAlerts;
class SidebarView;
class SymbolButton;
class TransferListView;
class UserPreferences;

// The size of the first window on a screen whose free area is `available`: the whole sidebar (its QR
// code and address included) and a useful transfer list, without covering more than the screen.
QSize firstWindowSize(const QSize& available);

class ContentView final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ContentView)

public:
    ContentView(ReceiverConfiguration configuration, UserPreferences& preferences, AudioPlaybackController& playback,
                AudioWaveformLoader& loader, QWidget* parent = nullptr);
    ~ContentView() override;

    TransferReceiverModel& model() { return model_; }
    SidebarView* sidebar() const { return sidebar_; }
    TransferListView* transfers() const { return transfers_; }
    ConfirmationAlerts* alerts() const { return alerts_.get(); }

    // Asks for a folder (directory chooser opened at the current one) and applies it.
    void chooseSaveDirectory();
    // The "允许接收文件" switch, from anywhere (the tray's menu): on starts receiving, off stops it.
    void setAllowReceive(bool allow);

    // Puts the window where it was when it last closed, or at firstWindowSize on a first launch.
    void restoreLayout();
    // Remembers size, place and column split for the next launch.
    void saveLayout();

signals:
    // The first start after the window appeared has ended.
    void initialStartFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildToolbar();
    void showToolbar();
    void bringToFront();

    TransferReceiverModel model_;
    UserPreferences& preferences_;
    AudioPlaybackController& playback_;
    QSplitter* splitter_;
    SidebarView* sidebar_;
    TransferListView* transfers_;
    QLabel* title_ = nullptr;
    SymbolButton* viewModeButton_ = nullptr;
    SymbolButton* waveformButton_ = nullptr;
    SymbolButton* clearButton_ = nullptr;
    std::unique_ptr<ConfirmationAlerts> alerts_;
    bool wasShown_ = false;
};

} // namespace ferrylantern
