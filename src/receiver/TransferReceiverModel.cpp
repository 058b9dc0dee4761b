#include "receiver/TransferReceiverModel.h"

#include "receiver/SaveDirectory.h"
#include "receiver/StartFailureText.h"
#include "server/HostName.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace ferrylantern {

namespace {

// How long the window keeps saying that someone guesses the PIN beyond the hold-back it was told of.
constexpr std::chrono::minutes pinGuessingNoticeLinger{10};

// The server gave a question up: the model takes it off its queue. Installed on the reply before the
// question is posted, so the withdrawal always arrives after the question.
template <typename Answer>
void withdrawOnGiveUp(const OneShotReply<Answer>& reply, const std::shared_ptr<ModelLink<TransferReceiverModel>>& link,
                      const Uuid& id)
{
    reply.onWithdrawn([link, id] { link->post([id](TransferReceiverModel* model) { model->withdrawQuestion(id); }); });
}

// A burst of files (a batch of 500) is written once, not once per file.
constexpr std::chrono::milliseconds historySaveDelay{300};

template <typename Value, typename Signal>
void assign(TransferReceiverModel* model, Value& field, Value value, Signal signal)
{
    if (field == value) {
        return;
    }
    field = std::move(value);
    emit(model->*signal)();
}

} // namespace

QString description(TransferReceiverError error)
{
    switch (error) {
    case TransferReceiverError::noPortAssigned:
        return QStringLiteral("无法绑定可用端口");
    }
    return {};
}

TransferReceiverModel::TransferReceiverModel(ReceiverConfiguration configuration, QObject* parent)
    : QObject(parent)
    , configuration_(std::move(configuration))
    , link_(std::make_shared<ModelLink<TransferReceiverModel>>(this))
    , shares_(std::make_shared<SharedItems>())
    , pinAttempts_(std::make_shared<PINAttemptLimiter>())
{
    pinGuessingNoticeTimer_.setSingleShot(true);
    connect(&pinGuessingNoticeTimer_, &QTimer::timeout, this,
            [this] { assign(this, isPINBeingGuessed_, false, &TransferReceiverModel::isPINBeingGuessedChanged); });
    // A quarter of the limit between looks: a silent upload shows it within a quarter more.
    stalledCheckTimer_.setInterval(std::max(configuration_.stalledAfter / 4, std::chrono::milliseconds(10)));
    connect(&stalledCheckTimer_, &QTimer::timeout, this, [this] {
        activeReceives_.markStalledRows(configuration_.stalledAfter,
                                        [this](const Uuid& id) { return duplicates_.isWaiting(id); });
    });
    deviceName_ = configuration_.deviceName.value_or(QString::fromStdString(localComputerName()));
    if (deviceName_.trimmed().isEmpty()) {
        deviceName_ = QStringLiteral("Mac");
    }
    saveDirectory_ = resolveInitialSaveDirectory(configuration_.preferences);
    const auto settings = configuration_.preferences.open();
    usesCustomSaveDirectory_ = settings->value(preferences::saveDirectoryUserSelected, false).toBool();
    requireReceiveConfirmation_ = settings->value(preferences::requireReceiveConfirmation, false).toBool();
    createFolder(saveDirectory_); // a failure shows when the server starts
    if (configuration_.historyFile) {
        history_.emplace(*configuration_.historyFile);
        auto loaded = history_->load(RecentTransferListModel::maxRecentTransfers);
        damagedHistoryFile_ = loaded.setAsidePath;
        recentTransfers_.reset(std::move(loaded.records));
    }
    historySaveTimer_.setSingleShot(true);
    historySaveTimer_.setInterval(historySaveDelay);
    connect(&historySaveTimer_, &QTimer::timeout, this, &TransferReceiverModel::flushHistory);
    connect(&confirmations_, &ReceiveConfirmationQueue::confirmationEpochChanged, this,
            [this] { link_->epoch = confirmations_.confirmationEpoch(); });
    connect(&confirmations_, &ReceiveConfirmationQueue::questionQueued, this,
            &TransferReceiverModel::requestBringToFront);
    connect(&duplicates_, &DuplicateResolutionQueue::questionQueued, this, &TransferReceiverModel::requestBringToFront);
    // While stopped, the status counts the uploads that still finish.
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(&activeReceives_, signal, this, [this] {
            if (!isRunning_) {
                emit statusTextChanged();
            }
        });
    }
    connect(&activeReceives_, &QAbstractItemModel::modelReset, this, &TransferReceiverModel::statusTextChanged);
}

TransferReceiverModel::~TransferReceiverModel()
{
    // From here on the server's threads find the model gone and answer questions themselves; replies
    // still stored here resume with their refusing fallback as they are destroyed.
    link_->clear();
    flushHistory();
    bonjour_.reset();
    if (httpServer_) {
        httpServer_->stop();
    }
}

void TransferReceiverModel::assertGUIThread() const
{
    Q_ASSERT_X(QThread::currentThread() == thread(), "TransferReceiverModel", "used off its thread");
}

// MARK: Lifecycle

void TransferReceiverModel::start()
{
    assertGUIThread();
    if (isRunning_ || isStarting_) {
        return;
    }
    setIsStarting(true);
    setErrorMessage(std::nullopt);
    if (const auto error = createFolder(saveDirectory_)) {
        failStart(*error);
        return;
    }
    ServerOptions options;
    options.preferredPort = configuration_.preferredPort;
    options.pinSettings = configuration_.preferences.pinSettingsProvider();
    options.idleTimeout = configuration_.idleTimeout;
    options.rawBodyTransfer = configuration_.rawBodyTransfer;
    options.pinAttemptLimiter = pinAttempts_;
    options.sharedItems = shares_;
    auto server = std::make_shared<SimpleSocketHTTPServer>(saveDirectory_.toStdString(), deviceName_.toStdString(),
                                                           serverCallbacks(), options);
    // Binding is quick but still system calls; the GUI thread only waits for the outcome.
    const quint64 generation = startGeneration_;
    QThreadPool::globalInstance()->start([server, link = link_, generation] {
        auto started = server->start();
        link->post([server, started = std::move(started), generation](TransferReceiverModel* model) {
            model->finishStart(server, started, generation);
        });
    });
}

void TransferReceiverModel::finishStart(const std::shared_ptr<SimpleSocketHTTPServer>& server,
                                        const Expected<std::uint16_t, SocketHTTPError>& started, quint64 generation)
{
    if (generation != startGeneration_) {
        server->stop(); // stop() came while this start was under way
        emit startFinished();
        return;
    }
    if (!started) {
        failStart(serverStartFailureText(started.error(), configuration_.preferredPort));
        return;
    }
    const auto port = server->port();
    if (!port) {
        server->stop();
        failStart(description(TransferReceiverError::noPortAssigned));
        return;
    }
    auto advertiser = std::make_unique<BonjourAdvertiser>();
    advertiser->publish(*port, deviceName_);
    server->setRequireReceiveConfirmation(requireReceiveConfirmation_);
    httpServer_ = server;
    bonjour_ = std::move(advertiser);
    setPort(port);
    setIsRunning(true);
    refreshLANAddresses();
    setIsStarting(false);
    emit startFinished();
    checkFirewall(*port);
}

void TransferReceiverModel::failStart(const QString& message)
{
    setErrorMessage(message);
    stop();
    setIsStarting(false);
    emit startFinished();
}

void TransferReceiverModel::stop()
{
    assertGUIThread();
    ++startGeneration_;
    bonjour_.reset();
    if (httpServer_) {
        httpServer_->stop();
        stoppedServers_.push_back(std::move(httpServer_));
    }
    std::erase_if(stoppedServers_, [](const auto& server) { return server->activeConnectionCount() == 0; });
    setPort(std::nullopt);
    setFirewallAdvice(std::nullopt);
    setIsRunning(false);
    if (isStarting_) {
        setIsStarting(false);
    }
}

bool TransferReceiverModel::shutDown(std::chrono::milliseconds grace)
{
    assertGUIThread();
    isShuttingDown_ = true;
    const auto servers = serversWithConnections();
    for (const auto& server : servers) {
        server->cancelAllUploads();
    }
    confirmations_.refuseEverything();
    duplicates_.resolveAllDuplicates(DuplicateFileResolution::cancel);
    stop();
    // The cancelled requests remove their partial files and report; their last events and any
    // question already on its way arrive through the event loop, which keeps running meanwhile.
    const QDeadlineTimer deadline(grace);
    constexpr std::chrono::milliseconds step{10};
    bool ended = false;
    while (!ended) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(step.count()));
        ended = std::all_of(servers.begin(), servers.end(),
                            [&](const auto& server) { return server->waitForConnectionsToFinish(step); });
        if (deadline.hasExpired()) {
            break;
        }
    }
    QCoreApplication::processEvents();
    stoppedServers_.clear();
    flushHistory();
    return ended;
}

QString TransferReceiverModel::statusText() const
{
    if (isRunning_ && port_) {
        return QStringLiteral("正在接收 · 端口 ") + QString::number(*port_);
    }
    if (!activeReceives_.receives().isEmpty()) {
        return QStringLiteral("已停止 · 还在完成 %1 个传输").arg(activeReceives_.receives().size());
    }
    return QStringLiteral("未启动");
}

TransferServerCallbacks TransferReceiverModel::serverCallbacks() const
{
    TransferServerCallbacks callbacks;
    callbacks.onFileReceived = [link = link_](const ReceivedFileRecord& record) {
        link->post([record](TransferReceiverModel* model) { model->handleFileReceived(record); });
    };
    callbacks.onUploadProgress = [link = link_](const TransferUploadProgressEvent& event) {
        link->post([event](TransferReceiverModel* model) { model->handleUploadProgress(event); });
    };
    callbacks.confirmBeforeSave = [link = link_](const ReceiveConfirmationRequest& request, OneShotReply<bool> reply) {
        withdrawOnGiveUp(reply, link, request.uploadID);
        const qint64 epoch = link->epoch;
        if (!link->post([request, reply, epoch](TransferReceiverModel* model) {
                model->receiveConfirmation(request, reply, epoch);
            })) {
            reply.resume(false);
        }
    };
    callbacks.confirmBatchBeforeSave = [link = link_](const std::vector<ReceiveConfirmationRequest>& requests,
                                                      OneShotReply<bool> reply) {
        if (!requests.empty()) {
            withdrawOnGiveUp(reply, link, requests.front().uploadID);
        }
        const qint64 epoch = link->epoch;
        if (!link->post([requests, reply, epoch](TransferReceiverModel* model) {
                model->receiveBatchConfirmation(requests, reply, epoch);
            })) {
            reply.resume(false);
        }
    };
    callbacks.resolveDuplicateFile = [link = link_](const DuplicateFileRequest& request,
                                                    OneShotReply<DuplicateFileResolution> reply) {
        withdrawOnGiveUp(reply, link, request.uploadID);
        if (!link->post(
                [request, reply](TransferReceiverModel* model) { model->receiveDuplicateQuestion(request, reply); })) {
            reply.resume(DuplicateFileResolution::keepCopy);
        }
    };
    callbacks.onPINGuessing = [link = link_](std::chrono::seconds heldBackFor) {
        link->post([heldBackFor](TransferReceiverModel* model) { model->noticePINGuessing(heldBackFor); });
    };
    callbacks.onTextReceived = [link = link_](const ReceivedTextRecord& record) {
        link->post([record](TransferReceiverModel* model) { model->handleTextReceived(record); });
    };
    callbacks.onDownloadProgress = [link = link_](const TransferDownloadProgressEvent& event) {
        link->post([event](TransferReceiverModel* model) { model->handleDownloadProgress(event); });
    };
    callbacks.onSharedFileMissingChanged = [link = link_](const Uuid& id, bool missing) {
        link->post([id, missing](TransferReceiverModel* model) { model->sharedItems_.setMissing(id, missing); });
    };
    return callbacks;
}

void TransferReceiverModel::noticePINGuessing(std::chrono::seconds heldBackFor)
{
    assertGUIThread();
    pinGuessingNoticeTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(heldBackFor) +
                                  pinGuessingNoticeLinger);
    assign(this, isPINBeingGuessed_, true, &TransferReceiverModel::isPINBeingGuessedChanged);
}

void TransferReceiverModel::requestBringToFront() const
{
    if (bringToFront_) {
        bringToFront_();
    }
}

std::vector<std::shared_ptr<SimpleSocketHTTPServer>> TransferReceiverModel::serversWithConnections() const
{
    auto servers = stoppedServers_;
    if (httpServer_) {
        servers.push_back(httpServer_);
    }
    return servers;
}

// MARK: Questions

void TransferReceiverModel::receiveConfirmation(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply,
                                                qint64 epochWhenAsked)
{
    assertGUIThread();
    if (isShuttingDown_) {
        reply.resume(false);
    } else if (!requireReceiveConfirmation_) {
        reply.resume(true);
    } else {
        confirmations_.waitForReceiveConfirmation(request, std::move(reply), epochWhenAsked);
    }
}

void TransferReceiverModel::receiveBatchConfirmation(const std::vector<ReceiveConfirmationRequest>& requests,
                                                     OneShotReply<bool> reply, qint64 epochWhenAsked)
{
    assertGUIThread();
    if (isShuttingDown_) {
        reply.resume(false);
    } else if (!requireReceiveConfirmation_) {
        reply.resume(true);
    } else {
        confirmations_.waitForBatchReceiveConfirmation(requests, std::move(reply), epochWhenAsked);
    }
}

void TransferReceiverModel::receiveDuplicateQuestion(const DuplicateFileRequest& request,
                                                     OneShotReply<DuplicateFileResolution> reply)
{
    assertGUIThread();
    if (isShuttingDown_) {
        reply.resume(DuplicateFileResolution::cancel);
    } else {
        duplicates_.waitForDuplicateResolution(request, std::move(reply));
    }
}

void TransferReceiverModel::rejectAllConfirmations()
{
    assertGUIThread();
    confirmations_.rejectAllConfirmations();
    // Uploads registered a moment ago whose start has not reached us yet are cancelled with the rest,
    // and those approved but not yet sent will be when they come.
    for (const auto& server : serversWithConnections()) {
        server->revokeApprovals();
        server->cancelAllUploads();
    }
    activeReceives_.clear();
}

void TransferReceiverModel::withdrawQuestion(const Uuid& id)
{
    assertGUIThread();
    confirmations_.withdraw(id);
    duplicates_.withdraw(id);
}

// MARK: Transfers

void TransferReceiverModel::handleUploadProgress(const TransferUploadProgressEvent& event)
{
    assertGUIThread();
    const auto ended = activeReceives_.apply(event);
    if (activeReceives_.receives().isEmpty()) {
        stalledCheckTimer_.stop();
    } else if (!stalledCheckTimer_.isActive()) {
        stalledCheckTimer_.start();
    }
    if (std::holds_alternative<UploadFailed>(event)) {
        emit uploadFailed(uploadID(event), ended);
    }
}

void TransferReceiverModel::handleFileReceived(const ReceivedFileRecord& record)
{
    assertGUIThread();
    recentTransfers_.prepend(record);
    historyChanged();
    emit fileReceived(record);
}

void TransferReceiverModel::handleTextReceived(const ReceivedTextRecord& text)
{
    assertGUIThread();
    const ReceivedFileRecord record{.id = text.id,
                                    .fileName = {},
                                    .byteCount = static_cast<std::int64_t>(text.text.size()),
                                    .receivedAt = text.receivedAt,
                                    .fileURL = {},
                                    .deviceFolder = text.deviceFolder,
                                    .text = text.text};
    recentTransfers_.prepend(record);
    historyChanged();
    emit textReceived(record);
}

void TransferReceiverModel::cancelReceive(const Uuid& id)
{
    assertGUIThread();
    for (const auto& server : serversWithConnections()) {
        server->cancelUpload(id);
    }
    confirmations_.refuse(id);
    if (duplicates_.isWaiting(id)) {
        duplicates_.resolveDuplicate(DuplicateFileResolution::cancel, id);
    }
}

void TransferReceiverModel::clearRecentTransfers()
{
    assertGUIThread();
    recentTransfers_.clear();
    historyChanged();
}

void TransferReceiverModel::removeRecentTransfer(const Uuid& id)
{
    assertGUIThread();
    if (recentTransfers_.remove(id)) {
        historyChanged();
    }
}

void TransferReceiverModel::recheckRecentTransferFiles()
{
    assertGUIThread();
    recentTransfers_.recheckFiles();
}

void TransferReceiverModel::historyChanged()
{
    if (!history_) {
        return;
    }
    historyUnsaved_ = true;
    if (!historySaveTimer_.isActive()) {
        historySaveTimer_.start();
    }
}

void TransferReceiverModel::flushHistory()
{
    if (!history_ || !std::exchange(historyUnsaved_, false)) {
        return;
    }
    historySaveTimer_.stop();
    // A failed write keeps the list on screen; the next change tries again.
    (void)history_->save(recentTransfers_.records());
}

// MARK: Sharing

QStringList TransferReceiverModel::shareFiles(const QStringList& paths)
{
    assertGUIThread();
    QStringList failures;
    for (const auto& path : paths) {
        auto item = shares_->addFile(path.toStdString());
        if (!item) {
            const QString name = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
            failures.append(name + QStringLiteral("：") + description(item.error()));
            continue;
        }
        sharedItems_.append(*item);
    }
    return failures;
}

std::optional<QString> TransferReceiverModel::shareText(const QString& text)
{
    assertGUIThread();
    auto item = shares_->addText(text.toStdString());
    if (!item) {
        return description(item.error());
    }
    sharedItems_.append(*item);
    return std::nullopt;
}

void TransferReceiverModel::removeShare(const Uuid& id)
{
    assertGUIThread();
    shares_->remove(id);
    sharedItems_.remove(id);
    // Whoever is still downloading it loses it too: a share that ended ends its downloads.
    for (const auto& download : activeDownloads_.downloads()) {
        if (download.shareID == id) {
            cancelDownload(download.id);
        }
    }
}

void TransferReceiverModel::recheckSharedFiles()
{
    assertGUIThread();
    const auto refresh = shares_->refreshFiles();
    for (const auto& item : refresh.items) {
        sharedItems_.setMissing(item.id, item.missing);
    }
}

void TransferReceiverModel::handleDownloadProgress(const TransferDownloadProgressEvent& event)
{
    assertGUIThread();
    if (const auto ended = activeDownloads_.apply(event)) {
        emit downloadEnded(*ended, std::holds_alternative<DownloadFinished>(event));
    }
}

void TransferReceiverModel::cancelDownload(const Uuid& id)
{
    assertGUIThread();
    for (const auto& server : serversWithConnections()) {
        server->cancelUpload(id);
    }
}

// MARK: Addresses

void TransferReceiverModel::setSelectedAddressID(const std::optional<QString>& id)
{
    assertGUIThread();
    if (selectedAddressID_ == id) {
        return;
    }
    selectedAddressID_ = id;
    emit selectedAddressIDChanged();
    emit accessURLChanged();
}

void TransferReceiverModel::refreshLANAddresses()
{
    assertGUIThread();
    setLANAddresses(discoverLANIPv4Addresses());
    const bool selectionListed =
        selectedAddressID_ && std::any_of(lanAddresses_.begin(), lanAddresses_.end(),
                                          [&](const auto& address) { return address.id() == *selectedAddressID_; });
    if (!selectionListed) {
        setSelectedAddressID(lanAddresses_.isEmpty() ? std::nullopt : std::optional(lanAddresses_.first().id()));
    }
}

std::optional<QString> TransferReceiverModel::selectedAddress() const
{
    if (lanAddresses_.isEmpty()) {
        return std::nullopt;
    }
    if (selectedAddressID_) {
        for (const auto& address : lanAddresses_) {
            if (address.id() == *selectedAddressID_) {
                return address.address;
            }
        }
    }
    return lanAddresses_.first().address;
}

std::optional<QString> TransferReceiverModel::accessURL() const
{
    const auto address = selectedAddress();
    if (!isRunning_ || !port_ || !address) {
        return std::nullopt;
    }
    return QStringLiteral("http://%1:%2/").arg(*address).arg(*port_);
}

std::optional<QString> TransferReceiverModel::localAccessURL() const
{
    if (!isRunning_ || !port_) {
        return std::nullopt;
    }
    return QStringLiteral("http://127.0.0.1:%1/").arg(*port_);
}

// MARK: Save folder

void TransferReceiverModel::setSaveDirectory(const QString& folder, bool userSelected)
{
    assertGUIThread();
    const auto applied = applySaveDirectory(folder, userSelected, configuration_.preferences);
    if (!applied) {
        setErrorMessage(ferrylantern::description(applied.error()));
        return;
    }
    setSaveDirectoryValue(folder);
    setUsesCustomSaveDirectory(userSelected);
    setErrorMessage(std::nullopt);
    if (isRunning_) {
        stop();
        QTimer::singleShot(0, this, [this] { start(); });
    }
}

void TransferReceiverModel::setRequireReceiveConfirmation(bool required)
{
    assertGUIThread();
    configuration_.preferences.open()->setValue(preferences::requireReceiveConfirmation, required);
    if (httpServer_) {
        httpServer_->setRequireReceiveConfirmation(required);
    }
    assign(this, requireReceiveConfirmation_, required, &TransferReceiverModel::requireReceiveConfirmationChanged);
}

// MARK: Setters that notify only on change

void TransferReceiverModel::setIsRunning(bool value)
{
    if (isRunning_ != value) {
        isRunning_ = value;
        emit isRunningChanged();
        emit statusTextChanged();
        emit accessURLChanged();
    }
}

void TransferReceiverModel::setIsStarting(bool value)
{
    assign(this, isStarting_, value, &TransferReceiverModel::isStartingChanged);
}

void TransferReceiverModel::setPort(std::optional<quint16> value)
{
    if (port_ != value) {
        port_ = value;
        emit portChanged();
        emit statusTextChanged();
        emit accessURLChanged();
    }
}

void TransferReceiverModel::setErrorMessage(const std::optional<QString>& value)
{
    assign(this, errorMessage_, value, &TransferReceiverModel::errorMessageChanged);
}

void TransferReceiverModel::setSaveDirectoryValue(const QString& value)
{
    assign(this, saveDirectory_, value, &TransferReceiverModel::saveDirectoryChanged);
}

void TransferReceiverModel::setUsesCustomSaveDirectory(bool value)
{
    assign(this, usesCustomSaveDirectory_, value, &TransferReceiverModel::usesCustomSaveDirectoryChanged);
}

void TransferReceiverModel::checkFirewall(std::uint16_t port)
{
    // It may run commands that take a moment; the answer counts only for the server it was asked for.
    QThreadPool::globalInstance()->start([probe = configuration_.firewall, port, link = link_] {
        auto advice = ferrylantern::firewallAdvice(port, probe);
        link->post([advice = std::move(advice), port](TransferReceiverModel* model) {
            if (model->isRunning_ && model->port_ == port) {
                model->setFirewallAdvice(advice);
            }
        });
    });
}

void TransferReceiverModel::setFirewallAdvice(const std::optional<FirewallAdvice>& value)
{
    assign(this, firewallAdvice_, value, &TransferReceiverModel::firewallAdviceChanged);
}

void TransferReceiverModel::setLANAddresses(QList<LANIPv4Address> value)
{
    if (lanAddresses_ != value) {
        lanAddresses_ = std::move(value);
        emit lanAddressesChanged();
        emit accessURLChanged();
    }
}

} // namespace ferrylantern
