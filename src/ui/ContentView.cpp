#include "ui/ContentView.h"

#include "audio/AudioPlaybackController.h"
#include "ui/ConfirmationAlerts.h"
#include "ui/ConfirmationMessages.h"
#include "ui/ShareSection.h"
#include "ui/SidebarView.h"
#include "ui/SymbolWidgets.h"
#include "ui/ToolbarState.h"
#include "ui/TransferListView.h"
#include "ui/UserPreferences.h"
#include "ui/ViewStyle.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QToolBar>

namespace ferrylantern {

namespace {

constexpr int titleMinimumWidth = 70;
constexpr int titlePadding = 14;

} // namespace

ContentView::ContentView(ReceiverConfiguration configuration, UserPreferences& preferences,
                         AudioPlaybackController& playback, AudioWaveformLoader& loader, QWidget* parent)
    : QMainWindow(parent)
    , model_(std::move(configuration))
    , preferences_(preferences)
    , playback_(playback)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("FerryLantern"));

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter_ = splitter;
    splitter->setObjectName(QStringLiteral("splitView"));
    splitter->setChildrenCollapsible(false);
    auto* sidebarScroll = new QScrollArea(splitter);
    sidebarScroll->setWidgetResizable(true);
    sidebarScroll->setFrameShape(QFrame::NoFrame);
    sidebarScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sidebar_ = new SidebarView(model_, preferences_, sidebarScroll);
    sidebarScroll->setWidget(sidebar_);
    sidebarScroll->setMinimumWidth(SidebarView::minimumWidth);
    transfers_ = new TransferListView(model_, preferences_, playback_, loader, splitter);
    splitter->addWidget(sidebarScroll);
    splitter->addWidget(transfers_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({SidebarView::idealWidth, 520});
    setCentralWidget(splitter);
    buildToolbar();

    setAcceptDrops(true);
    connect(&model_, &TransferReceiverModel::textReceived, this, [this](const ReceivedFileRecord& record) {
        if (preferences_.copyReceivedTextToClipboard() && record.text) {
            QGuiApplication::clipboard()->setText(QString::fromStdString(*record.text));
        }
    });
    connect(sidebar_, &SidebarView::allowReceiveToggled, this, &ContentView::setAllowReceive);
    connect(sidebar_, &SidebarView::chooseSaveDirectoryRequested, this, &ContentView::chooseSaveDirectory);
    model_.setBringToFrontHandler([this] { bringToFront(); });
    alerts_ = std::make_unique<ConfirmationAlerts>(
        model_, this,
        [this](const ReceiveConfirmationAlertItem& item) {
            return receiveMessage(item, model_.confirmations().confirmationQueue());
        },
        [](const DuplicateResolutionAlertItem& item) { return duplicateMessage(item); });
}

ContentView::~ContentView()
{
    alerts_.reset();
    model_.setBringToFrontHandler({});
}

void ContentView::buildToolbar()
{
    auto* toolbar = addToolBar(QStringLiteral("transfers"));
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->toggleViewAction()->setVisible(false);
    title_ = new QLabel(toolbar);
    title_->setObjectName(QStringLiteral("toolbarTitle"));
    title_->setMinimumWidth(titleMinimumWidth);
    title_->setContentsMargins(titlePadding, 0, titlePadding, 0);
    useFont(title_, headlineFont);
    toolbar->addWidget(title_);
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    viewModeButton_ = new SymbolButton(Symbol::listBullet, SymbolTint::primary, {}, toolbar);
    viewModeButton_->setObjectName(QStringLiteral("viewModeButton"));
    viewModeButton_->setCheckable(true);
    connect(viewModeButton_, &QToolButton::clicked, this,
            [this] { preferences_.setListBySource(!preferences_.listBySource()); });
    waveformButton_ = new SymbolButton(Symbol::eye, SymbolTint::primary, {}, toolbar);
    waveformButton_->setObjectName(QStringLiteral("waveformButton"));
    connect(waveformButton_, &QToolButton::clicked, this,
            [this] { preferences_.setShowAudioWaveform(!preferences_.showAudioWaveform()); });
    clearButton_ = new SymbolButton(Symbol::trash, SymbolTint::primary, {}, toolbar);
    clearButton_->setObjectName(QStringLiteral("clearButton"));
    connect(clearButton_, &QToolButton::clicked, &model_, &TransferReceiverModel::clearRecentTransfers);
    toolbar->addWidget(viewModeButton_);
    toolbar->addWidget(waveformButton_);
    toolbar->addWidget(clearButton_);

    // Only whether the lists are empty matters here, so row changes (progress) are not listened to.
    for (const QAbstractItemModel* list :
         std::initializer_list<const QAbstractItemModel*>{&model_.recentTransferList(), &model_.activeReceiveList()}) {
        connect(list, &QAbstractItemModel::rowsInserted, this, &ContentView::showToolbar);
        connect(list, &QAbstractItemModel::rowsRemoved, this, &ContentView::showToolbar);
        connect(list, &QAbstractItemModel::modelReset, this, &ContentView::showToolbar);
    }
    connect(&model_, &TransferReceiverModel::isRunningChanged, this, &ContentView::showToolbar);
    connect(&preferences_, &UserPreferences::listBySourceChanged, this, &ContentView::showToolbar);
    connect(&preferences_, &UserPreferences::showAudioWaveformChanged, this, &ContentView::showToolbar);
    showToolbar();
}

void ContentView::showToolbar()
{
    const auto state = toolbarState({.hasRecords = !model_.recentTransfers().isEmpty(),
                                     .hasUploadsInFlight = !model_.activeReceives().isEmpty(),
                                     .isReceiving = model_.isRunning(),
                                     .listBySource = preferences_.listBySource(),
                                     .showAudioWaveform = preferences_.showAudioWaveform()});
    title_->setText(state.title);
    const auto apply = [](SymbolButton* button, const ToolbarButtonState& buttonState) {
        button->setSymbol(buttonState.symbol);
        button->setHelp(buttonState.help);
        button->setEnabled(buttonState.enabled);
        if (button->isCheckable()) {
            button->setChecked(buttonState.checked);
        }
    };
    apply(viewModeButton_, state.viewMode);
    apply(waveformButton_, state.waveforms);
    apply(clearButton_, state.clear);
}

QSize firstWindowSize(const QSize& available)
{
    // Room for the sidebar's content and a transfer list beside it, less a margin for the window's
    // frame and title bar, which the free area does not include.
    constexpr QSize preferred(1040, 720);
    constexpr int frameAllowance = 40;
    return preferred.boundedTo(available - QSize(frameAllowance, frameAllowance));
}

void ContentView::restoreLayout()
{
    if (!restoreGeometry(preferences_.mainWindowGeometry())) {
        const QScreen* shownOn = screen();
        resize(firstWindowSize(shownOn != nullptr ? shownOn->availableGeometry().size() : QSize(1366, 768)));
    }
    splitter_->restoreState(preferences_.mainWindowSplitterState());
}

void ContentView::saveLayout()
{
    preferences_.setMainWindowLayout(saveGeometry(), splitter_->saveState());
}

void ContentView::closeEvent(QCloseEvent* event)
{
    saveLayout();
    QMainWindow::closeEvent(event);
}

void ContentView::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Files may have been moved or deleted while the user was elsewhere; coming back shows it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        model_.recheckRecentTransferFiles();
        model_.recheckSharedFiles();
    }
}

void ContentView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData() != nullptr && ShareSection::canShare(*event->mimeData())) {
        event->acceptProposedAction();
    }
}

void ContentView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData() != nullptr && ShareSection::canShare(*event->mimeData())) {
        event->acceptProposedAction();
    }
}

void ContentView::dropEvent(QDropEvent* event)
{
    if (event->mimeData() == nullptr || !ShareSection::canShare(*event->mimeData())) {
        return;
    }
    sidebar_->shareSection()->shareDropped(*event->mimeData());
    event->acceptProposedAction();
}

void ContentView::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (wasShown_) {
        return;
    }
    wasShown_ = true;
    if (sidebar_->allowReceive() && !model_.isRunning()) {
        setAllowReceive(true);
    }
}

void ContentView::setAllowReceive(bool allow)
{
    if (!allow) {
        sidebar_->setAllowReceive(false);
        model_.stop();
        return;
    }
    if (model_.isRunning()) {
        return;
    }
    // A failed start leaves the switch off; the reason shows in red below the sidebar.
    auto* connection = new QMetaObject::Connection;
    *connection = connect(&model_, &TransferReceiverModel::startFinished, this, [this, connection] {
        disconnect(*connection);
        delete connection;
        sidebar_->setAllowReceive(model_.isRunning());
        emit initialStartFinished();
    });
    sidebar_->setAllowReceive(true);
    model_.start();
}

void ContentView::chooseSaveDirectory()
{
    QFileDialog dialog(this, QStringLiteral("选择文件保存位置"), model_.saveDirectory());
    dialog.setObjectName(QStringLiteral("saveDirectoryChooser"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("选择"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return; // cancelled: nothing changes, no message
    }
    model_.setSaveDirectory(dialog.selectedFiles().first(), true);
}

void ContentView::bringToFront()
{
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
    QApplication::alert(this);
}

} // namespace ferrylantern
