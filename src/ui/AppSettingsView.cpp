#include "ui/AppSettingsView.h"

#include "server/PINRules.h"
#include "ui/LoginAutostart.h"
#include "ui/PINCodeEntryField.h"
#include "ui/UserPreferences.h"
#include "ui/ViewStyle.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int windowMargin = 20;
constexpr int sectionSpacing = 18;
constexpr int panelPadding = 12;
constexpr qreal panelCornerRadius = 8;
constexpr qreal panelBorderOpacity = 0.08;

// The rounded panel that holds a section's controls in a grouped form.
class FormPanel final : public QWidget
{
public:
    explicit FormPanel(QWidget* parent)
        : QWidget(parent)
    {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor window = palette().color(QPalette::Window);
        const QColor fill = isDarkPalette(palette()) ? window.lighter(125) : palette().color(QPalette::Base);
        QColor border = palette().color(QPalette::WindowText);
        border.setAlphaF(static_cast<float>(panelBorderOpacity));
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), panelCornerRadius, panelCornerRadius);
        painter.fillPath(path, fill);
        painter.setPen(QPen(border, 1));
        painter.drawPath(path);
    }
};

QLabel* sectionHeader(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

QLabel* sectionFooter(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    useFont(label, captionFont);
    useSecondaryForeground(label);
    return label;
}

} // namespace

PINFooter pinFooter(bool pinEnabled, const QString& pinCode)
{
    if (!pinEnabled) {
        return {QStringLiteral("关闭后，局域网内扫码即可直接上传。"), false};
    }
    if (!isPINRequired(PINSettings{.enabled = true, .code = pinCode.toStdString()})) {
        return {QStringLiteral("请设置 4 位数字 PIN 后才会生效。"), true};
    }
    return {QStringLiteral("手机扫码后需输入此 PIN 才能上传。修改 PIN 后，已打开的上传页需重新验证。"), false};
}

AppSettingsView::AppSettingsView(UserPreferences& preferences, AppSettingsPresence presence, QWidget* parent)
    : QWidget(parent)
    , preferences_(preferences)
    , appearanceGroup_(new QButtonGroup(this))
    , pinSwitch_(new QCheckBox(QStringLiteral("启用安全 PIN"), this))
    , pinEntry_(new QLineEdit(this))
    , securityFooter_(nullptr)
    , presence_(presence)
{
    setObjectName(QStringLiteral("settingsView"));
    setWindowTitle(QStringLiteral("设置"));
    setFixedWidth(windowWidth);

    // 配色: one choice per appearance.
    auto* appearancePanel = new FormPanel(this);
    auto* appearanceLayout = new QGridLayout(appearancePanel);
    appearanceLayout->setContentsMargins(panelPadding, panelPadding, panelPadding, panelPadding);
    appearanceLayout->addWidget(new QLabel(QStringLiteral("外观"), appearancePanel), 0, 0, Qt::AlignTop);
    int row = 0;
    for (const auto appearance : allAppAppearanceSettings) {
        auto* button = new QRadioButton(title(appearance), appearancePanel);
        button->setObjectName(QStringLiteral("appearance-") + rawValue(appearance));
        appearanceGroup_->addButton(button, static_cast<int>(appearance));
        appearanceButtons_[appearance] = button;
        appearanceLayout->addWidget(button, row++, 1);
    }
    appearanceLayout->setColumnStretch(1, 1);
    connect(appearanceGroup_, &QButtonGroup::idClicked, this,
            [this](int id) { preferences_.setAppearance(static_cast<AppAppearanceSettings>(id)); });

    // 安全: the PIN switch and, while it is on, the PIN.
    auto* securityPanel = new FormPanel(this);
    auto* securityLayout = new QVBoxLayout(securityPanel);
    securityLayout->setContentsMargins(panelPadding, panelPadding, panelPadding, panelPadding);
    pinSwitch_->setObjectName(QStringLiteral("pinSwitch"));
    pinEntry_->setObjectName(QStringLiteral("settingsPINEntry"));
    pinEntry_->setPlaceholderText(QStringLiteral("4 位 PIN"));
    pinEntry_->setEchoMode(QLineEdit::Password);
    securityLayout->addWidget(pinSwitch_);
    securityLayout->addWidget(pinEntry_);
    connect(pinSwitch_, &QCheckBox::toggled, this, [this](bool on) { preferences_.setPINEnabled(on); });
    connect(pinEntry_, &QLineEdit::textChanged, this, &AppSettingsView::pinEdited);

    securityFooter_ = sectionFooter({}, QStringLiteral("securityFooter"), this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(windowMargin, windowMargin, windowMargin, windowMargin);
    layout->setSpacing(6);
    layout->addWidget(sectionHeader(QStringLiteral("配色"), this));
    layout->addWidget(appearancePanel);
    layout->addWidget(sectionFooter(QStringLiteral("选择应用的浅色、深色外观，或跟随系统设置。"),
                                    QStringLiteral("appearanceFooter"), this));
    layout->addSpacing(sectionSpacing);
    layout->addWidget(sectionHeader(QStringLiteral("安全"), this));
    layout->addWidget(securityPanel);
    layout->addWidget(securityFooter_);
    layout->addSpacing(sectionSpacing);
    layout->addWidget(sectionHeader(QStringLiteral("通知与后台"), this));
    layout->addWidget(makePresencePanel());
    presenceFooter_ = sectionFooter({}, QStringLiteral("presenceFooter"), this);
    layout->addWidget(presenceFooter_);
    layout->addSpacing(sectionSpacing);
    layout->addWidget(sectionHeader(QStringLiteral("文字"), this));
    auto* textPanel = new FormPanel(this);
    auto* textRows = new QVBoxLayout(textPanel);
    textRows->setContentsMargins(panelPadding, panelPadding, panelPadding, panelPadding);
    copyTextsSwitch_ = new QCheckBox(QStringLiteral("收到文字后立即复制到剪贴板"), textPanel);
    copyTextsSwitch_->setObjectName(QStringLiteral("copyTextsSwitch"));
    textRows->addWidget(copyTextsSwitch_);
    layout->addWidget(textPanel);
    layout->addWidget(sectionFooter(QStringLiteral("手机发来的文字也会列在传输记录中，可随时点「复制」。"),
                                    QStringLiteral("textFooter"), this));
    layout->addStretch();
    connect(copyTextsSwitch_, &QCheckBox::toggled, this,
            [this](bool on) { preferences_.setCopyReceivedTextToClipboard(on); });
    connect(&preferences_, &UserPreferences::copyReceivedTextToClipboardChanged, this, [this](bool on) {
        const QSignalBlocker quiet(copyTextsSwitch_);
        copyTextsSwitch_->setChecked(on);
    });
    copyTextsSwitch_->setChecked(preferences_.copyReceivedTextToClipboard());

    connect(&preferences_, &UserPreferences::colorSchemeRawValueChanged, this, &AppSettingsView::showAppearance);
    connect(&preferences_, &UserPreferences::pinEnabledChanged, this, &AppSettingsView::showPIN);
    connect(&preferences_, &UserPreferences::pinCodeChanged, this, &AppSettingsView::showPIN);
    connect(&preferences_, &UserPreferences::notificationsEnabledChanged, this, &AppSettingsView::showPresence);
    connect(&preferences_, &UserPreferences::keepRunningInTrayChanged, this, &AppSettingsView::showPresence);
    showAppearance();
    showPIN();
    showPresence();
}

QWidget* AppSettingsView::makePresencePanel()
{
    auto* panel = new FormPanel(this);
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(panelPadding, panelPadding, panelPadding, panelPadding);
    notificationsSwitch_ = new QCheckBox(QStringLiteral("收到文件和等待确认时显示通知"), panel);
    notificationsSwitch_->setObjectName(QStringLiteral("notificationsSwitch"));
    keepInTraySwitch_ = new QCheckBox(QStringLiteral("关闭窗口后在托盘中继续接收"), panel);
    keepInTraySwitch_->setObjectName(QStringLiteral("keepInTraySwitch"));
    startAtLoginSwitch_ = new QCheckBox(QStringLiteral("登录时在后台启动"), panel);
    startAtLoginSwitch_->setObjectName(QStringLiteral("startAtLoginSwitch"));
    rows->addWidget(notificationsSwitch_);
    rows->addWidget(keepInTraySwitch_);
    rows->addWidget(startAtLoginSwitch_);
    connect(notificationsSwitch_, &QCheckBox::toggled, this,
            [this](bool on) { preferences_.setNotificationsEnabled(on); });
    connect(keepInTraySwitch_, &QCheckBox::toggled, this, [this](bool on) { preferences_.setKeepRunningInTray(on); });
    connect(startAtLoginSwitch_, &QCheckBox::toggled, this, &AppSettingsView::setStartAtLogin);
    return panel;
}

void AppSettingsView::setStartAtLogin(bool on)
{
    autostartFailed_ = presence_.autostart == nullptr || !presence_.autostart->setEnabled(on);
    showPresence();
}

void AppSettingsView::showPresence()
{
    const auto show = [](QCheckBox* box, bool checked) {
        const QSignalBlocker quiet(box);
        box->setChecked(checked);
    };
    show(notificationsSwitch_, preferences_.notificationsEnabled());
    // Without a tray, closing the window can only quit.
    show(keepInTraySwitch_, presence_.trayAvailable && preferences_.keepRunningInTray());
    keepInTraySwitch_->setEnabled(presence_.trayAvailable);
    startAtLoginSwitch_->setVisible(presence_.autostart != nullptr);
    show(startAtLoginSwitch_, presence_.autostart != nullptr && presence_.autostart->isEnabled());

    QString text;
    if (autostartFailed_ && presence_.autostart != nullptr) {
        text = QStringLiteral("无法修改登录启动项：") + presence_.autostart->entryPath();
    } else if (presence_.trayAvailable) {
        text = QStringLiteral("窗口关闭后，可从托盘图标回到窗口或退出；登录时启动会直接留在托盘中接收。");
    } else {
        text = QStringLiteral("当前桌面没有系统托盘：关闭窗口即退出；登录时启动会以最小化的窗口开始接收。");
    }
    presenceFooter_->setText(text);
    presenceFooter_->setProperty("isWarning", autostartFailed_);
}

QRadioButton* AppSettingsView::appearanceButton(AppAppearanceSettings appearance) const
{
    return appearanceButtons_.at(appearance);
}

void AppSettingsView::showAppearance()
{
    appearanceButton(preferences_.appearance())->setChecked(true);
}

void AppSettingsView::showPIN()
{
    const bool enabled = preferences_.pinEnabled();
    const QString code = preferences_.pinCode();
    {
        const QSignalBlocker blocker(pinSwitch_);
        pinSwitch_->setChecked(enabled);
    }
    const QString shown = filteredPIN(code);
    if (pinEntry_->text() != shown) {
        const QSignalBlocker blocker(pinEntry_);
        pinEntry_->setText(shown);
    }
    pinEntry_->setVisible(enabled);

    const PINFooter footer = pinFooter(enabled, code);
    securityFooter_->setText(footer.text);
    if (footer.isWarning) {
        QPalette warning = securityFooter_->palette();
        warning.setColor(QPalette::PlaceholderText, systemOrange(palette()));
        securityFooter_->setPalette(warning);
    } else {
        securityFooter_->setPalette(QPalette());
    }
    securityFooter_->setProperty("isWarning", footer.isWarning);
}

void AppSettingsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        showPIN(); // the orange of the warning differs between the appearances
    }
}

void AppSettingsView::pinEdited(const QString& text)
{
    // Filtered after every change, as in the sidebar's field.
    preferences_.setPINCode(filterPINEntry(pinEntry_, text));
}

} // namespace ferrylantern
