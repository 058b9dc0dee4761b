#include "ui/SidebarView.h"

#include "receiver/SaveDirectory.h"
#include "receiver/TransferReceiverModel.h"
#include "ui/FileReveal.h"
#include "ui/PINCodeEntryField.h"
#include "ui/QRCodeView.h"
#include "ui/ShareSection.h"
#include "ui/StatusIndicatorDot.h"
#include "ui/UserPreferences.h"
#include "ui/ViewStyle.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int sectionSpacing = 18;
constexpr int rowSpacing = 8;

// A titled group of rows, as the sidebar lists them.
QWidget* section(const QString& title, QWidget* parent, QVBoxLayout*& rows)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!title.isEmpty()) {
        auto* header = new QLabel(title, box);
        useFont(header, subheadlineFont);
        useSecondaryForeground(header);
        layout->addWidget(header);
    }
    rows = new QVBoxLayout;
    rows->setSpacing(rowSpacing);
    layout->addLayout(rows);
    return box;
}

QHBoxLayout* labelledRow(const QString& label, QWidget* value, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label, parent));
    row->addStretch();
    row->addWidget(value);
    return row;
}

} // namespace

void AddressPicker::showPopup()
{
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

SidebarView::SidebarView(TransferReceiverModel& model, UserPreferences& preferences, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , preferences_(preferences)
{
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(minimumWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(sectionSpacing);
    layout->addWidget(makeServiceSection());
    layout->addWidget(makeAddressSection());
    shareSection_ = new ShareSection(model_, this);
    layout->addWidget(shareSection_);
    layout->addWidget(makeSaveFolderSection());

    QVBoxLayout* errorRows = nullptr;
    errorSection_ = section({}, this, errorRows);
    errorText_ = new QLabel(errorSection_);
    errorText_->setObjectName(QStringLiteral("errorMessage"));
    errorText_->setTextFormat(Qt::PlainText); // errors quote folder names
    errorText_->setWordWrap(true);
    errorText_->setTextFormat(Qt::PlainText); // messages carry folder names
    useFont(errorText_, captionFont);
    QPalette red = errorText_->palette();
    red.setColor(QPalette::WindowText, QColor(0xe5, 0x39, 0x35));
    errorText_->setPalette(red);
    errorRows->addWidget(errorText_);
    layout->addWidget(errorSection_);
    layout->addStretch();

    for (const auto signal : {&TransferReceiverModel::isRunningChanged, &TransferReceiverModel::statusTextChanged,
                              &TransferReceiverModel::errorMessageChanged, &TransferReceiverModel::saveDirectoryChanged,
                              &TransferReceiverModel::usesCustomSaveDirectoryChanged,
                              &TransferReceiverModel::requireReceiveConfirmationChanged,
                              &TransferReceiverModel::isPINBeingGuessedChanged}) {
        connect(&model_, signal, this, &SidebarView::showState);
    }
    connect(&model_, &TransferReceiverModel::lanAddressesChanged, this, &SidebarView::showAddresses);
    connect(&model_, &TransferReceiverModel::accessURLChanged, this, &SidebarView::showAddresses);
    connect(&model_, &TransferReceiverModel::selectedAddressIDChanged, this, &SidebarView::showAddresses);
    connect(&model_, &TransferReceiverModel::firewallAdviceChanged, this, &SidebarView::showAddresses);
    connect(&preferences_, &UserPreferences::pinEnabledChanged, this, &SidebarView::showState);
    showState();
}

QSize SidebarView::sizeHint() const
{
    return {idealWidth, QWidget::sizeHint().height()};
}

void SidebarView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        showAddresses(); // the warning's orange differs between the appearances
    }
}

QWidget* SidebarView::makeServiceSection()
{
    QVBoxLayout* rows = nullptr;
    auto* box = section(QStringLiteral("接收服务"), this, rows);

    auto* status = new QWidget(box);
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(6);
    statusDot_ = new StatusIndicatorDot(false, status);
    statusText_ = new QLabel(status);
    statusText_->setObjectName(QStringLiteral("statusText"));
    useSecondaryForeground(statusText_);
    statusLayout->addWidget(statusDot_);
    statusLayout->addWidget(statusText_);
    rows->addLayout(labelledRow(QStringLiteral("状态"), status, box));
    pinGuessing_ = new QLabel(QStringLiteral("有人在反复尝试 PIN，所有新的 PIN 验证已暂缓"), box);
    pinGuessing_->setObjectName(QStringLiteral("pinGuessing"));
    pinGuessing_->setTextFormat(Qt::PlainText);
    pinGuessing_->setWordWrap(true);
    useFont(pinGuessing_, captionFont);
    rows->addWidget(pinGuessing_);

    auto* deviceName = new QLabel(model_.deviceName(), box);
    deviceName->setObjectName(QStringLiteral("deviceName"));
    deviceName->setTextFormat(Qt::PlainText);
    deviceName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addLayout(labelledRow(QStringLiteral("设备名"), deviceName, box));

    allowReceive_ = new QCheckBox(QStringLiteral("允许接收文件"), box);
    allowReceive_->setObjectName(QStringLiteral("allowReceive"));
    allowReceive_->setChecked(true);
    connect(allowReceive_, &QCheckBox::toggled, this, &SidebarView::allowReceiveToggled);
    rows->addWidget(allowReceive_);

    confirmFirst_ = new QCheckBox(QStringLiteral("接收前确认"), box);
    confirmFirst_->setObjectName(QStringLiteral("requireConfirmation"));
    connect(confirmFirst_, &QCheckBox::toggled, &model_, &TransferReceiverModel::setRequireReceiveConfirmation);
    rows->addWidget(confirmFirst_);

    auto* pinRow = new QHBoxLayout;
    pinRow->setSpacing(8);
    pinSwitch_ = new QCheckBox(QStringLiteral("启用安全 PIN"), box);
    pinSwitch_->setObjectName(QStringLiteral("pinSwitch"));
    connect(pinSwitch_, &QCheckBox::toggled, &preferences_, &UserPreferences::setPINEnabled);
    pinField_ = new PINCodeEntryField(preferences_, box);
    pinRow->addWidget(pinSwitch_);
    pinRow->addWidget(pinField_);
    pinRow->addStretch();
    rows->addLayout(pinRow);
    return box;
}

QWidget* SidebarView::makeAddressSection()
{
    auto* container = new QWidget(this);
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);

    QVBoxLayout* noAddressRows = nullptr;
    noAddressSection_ = section({}, container, noAddressRows);
    auto* hint = new QLabel(QStringLiteral("未检测到可用于局域网的 IPv4。请连接 Wi\u2011Fi 或手机热点后重试。"),
                            noAddressSection_);
    hint->setObjectName(QStringLiteral("noAddressHint"));
    hint->setWordWrap(true);
    useFont(hint, captionFont);
    useSecondaryForeground(hint);
    noAddressRows->addWidget(hint);
    layout->addWidget(noAddressSection_);

    QVBoxLayout* rows = nullptr;
    addressSection_ = section(QStringLiteral("手机访问的地址"), container, rows);
    addressSection_->setObjectName(QStringLiteral("addressSection"));
    addressPicker_ = new AddressPicker(addressSection_);
    addressPicker_->setObjectName(QStringLiteral("addressPicker"));
    connect(addressPicker_, &AddressPicker::aboutToShowPopup, &model_, &TransferReceiverModel::refreshLANAddresses);
    connect(addressPicker_, &QComboBox::activated, this,
            [this](int index) { model_.setSelectedAddressID(addressPicker_->itemData(index).toString()); });
    rows->addLayout(labelledRow(QStringLiteral("局域网 IP"), addressPicker_, addressSection_));
    qrCode_ = new QRCodeView(addressSection_);
    rows->addWidget(qrCode_, 0, Qt::AlignHCenter);
    accessURL_ = new QLabel(addressSection_);
    accessURL_->setObjectName(QStringLiteral("accessURL"));
    accessURL_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    accessURL_->setAlignment(Qt::AlignHCenter);
    rows->addWidget(accessURL_);
    firewallHint_ = new QLabel(addressSection_);
    firewallHint_->setObjectName(QStringLiteral("firewallHint"));
    firewallHint_->setWordWrap(true);
    firewallHint_->setTextFormat(Qt::PlainText);
    firewallHint_->setTextInteractionFlags(Qt::TextSelectableByMouse); // the command is there to be copied
    useFont(firewallHint_, captionFont);
    rows->addWidget(firewallHint_);
    layout->addWidget(addressSection_);
    return container;
}

QWidget* SidebarView::makeSaveFolderSection()
{
    QVBoxLayout* rows = nullptr;
    auto* box = section(QStringLiteral("保存位置"), this, rows);
    savePath_ = new QLabel(box);
    savePath_->setObjectName(QStringLiteral("savePath"));
    savePath_->setTextFormat(Qt::PlainText);
    savePath_->setWordWrap(true);
    savePath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    useFont(savePath_, captionFont);
    rows->addWidget(savePath_);

    auto* open = new QPushButton(QStringLiteral("在文件管理器中打开"), box);
    open->setObjectName(QStringLiteral("openSaveFolder"));
    connect(open, &QPushButton::clicked, this, [this] { openFolder(model_.saveDirectory()); });
    auto* choose = new QPushButton(QStringLiteral("选择文件夹…"), box);
    choose->setObjectName(QStringLiteral("chooseSaveFolder"));
    connect(choose, &QPushButton::clicked, this, &SidebarView::chooseSaveDirectoryRequested);
    restoreDefault_ = new QPushButton(QStringLiteral("恢复默认"), box);
    restoreDefault_->setObjectName(QStringLiteral("restoreDefaultSaveFolder"));
    connect(restoreDefault_, &QPushButton::clicked, this,
            [this] { model_.setSaveDirectory(defaultSaveDirectory(), false); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(choose);
    buttons->addWidget(restoreDefault_);
    buttons->addStretch();
    rows->addLayout(buttons);
    return box;
}

bool SidebarView::allowReceive() const
{
    return allowReceive_->isChecked();
}

void SidebarView::setAllowReceive(bool allow)
{
    const QSignalBlocker quiet(allowReceive_);
    allowReceive_->setChecked(allow);
}

void SidebarView::showState()
{
    statusDot_->setActive(model_.isRunning());
    statusText_->setText(model_.statusText());
    {
        const QSignalBlocker quiet(confirmFirst_);
        confirmFirst_->setChecked(model_.requireReceiveConfirmation());
    }
    {
        const QSignalBlocker quiet(pinSwitch_);
        pinSwitch_->setChecked(preferences_.pinEnabled());
    }
    pinField_->setEnabled(preferences_.pinEnabled());
    pinGuessing_->setVisible(model_.isPINBeingGuessed());
    QPalette warning = pinGuessing_->palette();
    warning.setColor(QPalette::WindowText, systemOrange(palette()));
    pinGuessing_->setPalette(warning);
    savePath_->setText(model_.saveDirectory());
    restoreDefault_->setEnabled(model_.usesCustomSaveDirectory());
    // The last error; else, after a start that found the history damaged, where that file went.
    std::optional<QString> message = model_.errorMessage();
    if (!message && model_.damagedHistoryFile()) {
        message = QStringLiteral("接收记录文件已损坏，已移到 %1，记录从空白开始。").arg(*model_.damagedHistoryFile());
    }
    errorSection_->setVisible(message.has_value());
    errorText_->setText(message.value_or(QString()));
    showAddresses();
}

void SidebarView::showAddresses()
{
    const bool running = model_.isRunning();
    const auto& addresses = model_.lanAddresses();
    noAddressSection_->setVisible(running && addresses.isEmpty());
    addressSection_->setVisible(running && !addresses.isEmpty());
    {
        const QSignalBlocker quiet(addressPicker_);
        addressPicker_->clear();
        for (const auto& address : addresses) {
            addressPicker_->addItem(address.label, address.id());
        }
        const int selected = addressPicker_->findData(model_.selectedAddressID().value_or(QString()));
        addressPicker_->setCurrentIndex(selected >= 0 ? selected : 0);
    }
    const auto url = model_.accessURL() ? model_.accessURL() : model_.localAccessURL();
    qrCode_->setVisible(url.has_value());
    accessURL_->setVisible(url.has_value());
    if (url) {
        qrCode_->setContent(*url);
        accessURL_->setText(*url);
    }
    const auto& advice = model_.firewallAdvice();
    firewallHint_->setVisible(advice.has_value() && model_.port());
    if (advice && model_.port()) {
        firewallHint_->setText(advice->message(*model_.port()));
        QPalette warning = firewallHint_->palette();
        warning.setColor(QPalette::WindowText, systemOrange(palette()));
        firewallHint_->setPalette(warning);
    }
}

} // namespace ferrylantern
