#include "receiver/TransferReceiverModel.h"

#include "receiver/SaveDirectory.h"
#include "server/HostName.h"

#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace ferrylantern {

namespace {

constexpr qsizetype maxRecentTransfers = 100;

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
{
    qRegisterMetaType<ReceivedFileRecord>();
    qRegisterMetaType<TransferReceiveProgress>();
    deviceName_ = configuration_.deviceName.value_or(QString::fromStdString(localComputerName()));
    if (deviceName_.trimmed().isEmpty()) {
        deviceName_ = QStringLiteral("Mac");
    }
    saveDirectory_ = resolveInitialSaveDirectory(configuration_.preferences);
    const auto settings = configuration_.preferences.open();
    usesCustomSaveDirectory_ = settings->value(preferences::saveDirectoryUserSelected, false).toBool();
    requireReceiveConfirmation_ = settings->value(preferences::requireReceiveConfirmation, false).toBool();
    createFolder(saveDirectory_); // a failure shows when the server starts
}

TransferReceiverModel::~TransferReceiverModel()
{
    // From here on the server's threads find the model gone and answer questions themselves; replies
    // still stored here resume with their refusing fallback as they are destroyed.
    link_->clear();
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
        failStart(QString::fromUtf8(std::string(ferrylantern::description(started.error())).c_str()));
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
        httpServer_.reset();
    }
    setPort(std::nullopt);
    setIsRunning(false);
    if (isStarting_) {
        setIsStarting(false);
    }
}

QString TransferReceiverModel::statusText() const
{
    if (isRunning_ && port_) {
        return QStringLiteral("正在接收 · 端口 ") + QString::number(*port_);
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
        const qint64 epoch = link->epoch;
        if (!link->post([request, reply, epoch](TransferReceiverModel* model) {
                model->receiveConfirmation(request, reply, epoch);
            })) {
            reply.resume(false);
        }
    };
    callbacks.confirmBatchBeforeSave = [link = link_](const std::vector<ReceiveConfirmationRequest>& requests,
                                                      OneShotReply<bool> reply) {
        const qint64 epoch = link->epoch;
        if (!link->post([requests, reply, epoch](TransferReceiverModel* model) {
                model->receiveBatchConfirmation(requests, reply, epoch);
            })) {
            reply.resume(false);
        }
    };
    callbacks.resolveDuplicateFile = [link = link_](const DuplicateFileRequest& request,
                                                    OneShotReply<DuplicateFileResolution> reply) {
        if (!link->post([request, reply](TransferReceiverModel* model) {
                model->waitForDuplicateResolution(request, reply);
            })) {
            reply.resume(DuplicateFileResolution::keepCopy);
        }
    };
    return callbacks;
}

void TransferReceiverModel::requestBringToFront() const
{
    if (bringToFront_) {
        bringToFront_();
    }
}

// MARK: Transfers

void TransferReceiverModel::handleUploadProgress(const TransferUploadProgressEvent& event)
{
    assertGUIThread();
    auto receives = activeReceives_;
    const auto id = uploadID(event);
    const auto entry = std::find_if(receives.begin(), receives.end(), [&](const auto& item) { return item.id == id; });
    if (const auto* started = std::get_if<UploadStarted>(&event)) {
        TransferReceiveProgress progress{id, QString::fromStdString(started->fileName),
                                         QString::fromStdString(started->deviceFolder), 0, started->totalBytes};
        if (entry != receives.end()) {
            *entry = progress;
        } else {
            receives.append(progress);
        }
    } else if (const auto* updated = std::get_if<UploadUpdated>(&event)) {
        if (entry == receives.end()) {
            return;
        }
        entry->bytesReceived = updated->bytesReceived;
    } else {
        std::optional<TransferReceiveProgress> ended;
        if (entry != receives.end()) {
            ended = *entry;
        }
        receives.removeIf([&](const auto& item) { return item.id == id; });
        setActiveReceives(std::move(receives));
        if (std::holds_alternative<UploadFailed>(event)) {
            emit uploadFailed(id, ended);
        }
        return;
    }
    setActiveReceives(std::move(receives));
}

void TransferReceiverModel::handleFileReceived(const ReceivedFileRecord& record)
{
    assertGUIThread();
    auto records = recentTransfers_;
    records.prepend(record);
    if (records.size() > maxRecentTransfers) {
        records.resize(maxRecentTransfers);
    }
    setRecentTransfers(std::move(records));
    emit fileReceived(record);
}

void TransferReceiverModel::cancelReceive(const Uuid& id)
{
    assertGUIThread();
    if (httpServer_) {
        httpServer_->cancelUpload(id);
    }
    answerSingleConfirmation(id, false);
    if (duplicateContinuations_.contains(id)) {
        resolveDuplicate(DuplicateFileResolution::cancel, id);
    }
}

void TransferReceiverModel::clearRecentTransfers()
{
    assertGUIThread();
    setRecentTransfers({});
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

void TransferReceiverModel::setActiveReceives(QList<TransferReceiveProgress> value)
{
    assign(this, activeReceives_, std::move(value), &TransferReceiverModel::activeReceivesChanged);
}

void TransferReceiverModel::setRecentTransfers(QList<ReceivedFileRecord> value)
{
    assign(this, recentTransfers_, std::move(value), &TransferReceiverModel::recentTransfersChanged);
}

void TransferReceiverModel::setConfirmationQueue(QList<PendingReceiveConfirmation> value)
{
    assign(this, confirmationQueue_, std::move(value), &TransferReceiverModel::confirmationQueueChanged);
}

void TransferReceiverModel::setConfirmationEpoch(qint64 value)
{
    link_->epoch = value;
    assign(this, confirmationEpoch_, value, &TransferReceiverModel::confirmationEpochChanged);
}

void TransferReceiverModel::setDuplicateQueue(QList<PendingDuplicateResolution> value)
{
    assign(this, duplicateQueue_, std::move(value), &TransferReceiverModel::duplicateQueueChanged);
}

void TransferReceiverModel::setSaveDirectoryValue(const QString& value)
{
    assign(this, saveDirectory_, value, &TransferReceiverModel::saveDirectoryChanged);
}

void TransferReceiverModel::setUsesCustomSaveDirectory(bool value)
{
    assign(this, usesCustomSaveDirectory_, value, &TransferReceiverModel::usesCustomSaveDirectoryChanged);
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
