// The main window's sidebar, top to bottom: the receiving service (status, device name, the receive,
// confirmation and PIN switches), the address phones open with its QR code (only while receiving),
// what is shared with phones (ShareSection), the save folder with its three buttons, and the last
// error in red.
//
// GUI thread only.
#pragma once

#include <QComboBox>
#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace ferrylantern {

class PINCodeEntryField;
class QRCodeView;
class ShareSection;
class StatusIndicatorDot;
class TransferReceiverModel;
class UserPreferences;

// A picker that says when its list is about to open, so the addresses can be read again first.
class AddressPicker final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AddressPicker)

public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void aboutToShowPopup();
};

class SidebarView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SidebarView)

public:
    static constexpr int minimumWidth = 320;
    static constexpr int idealWidth = 380;

    SidebarView(TransferReceiverModel& model, UserPreferences& preferences, QWidget* parent = nullptr);

    // The "允许接收文件" switch: on starts the service, off stops it.
    bool allowReceive() const;
    void setAllowReceive(bool allow);

    QSize sizeHint() const override;

    ShareSection* shareSection() const { return shareSection_; }

protected:
    void changeEvent(QEvent* event) override;

signals:
    void allowReceiveToggled(bool allow);
    void chooseSaveDirectoryRequested();

private:
    QWidget* makeServiceSection();
    QWidget* makeAddressSection();
    QWidget* makeSaveFolderSection();
    void showState();
    void showAddresses();

    TransferReceiverModel& model_;
    UserPreferences& preferences_;
    StatusIndicatorDot* statusDot_;
    QLabel* statusText_;
    QLabel* pinGuessing_; // shown while someone guesses the PIN
    QCheckBox* allowReceive_;
    QCheckBox* confirmFirst_;
    QCheckBox* pinSwitch_;
    PINCodeEntryField* pinField_;
    QWidget* noAddressSection_;
    QWidget* addressSection_;
    AddressPicker* addressPicker_;
    QRCodeView* qrCode_;
    QLabel* accessURL_;
    QLabel* firewallHint_;
    QLabel* savePath_;
    QPushButton* restoreDefault_;
    ShareSection* shareSection_;
    QWidget* errorSection_;
    QLabel* errorText_;
};

} // namespace ferrylantern
