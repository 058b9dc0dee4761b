// The receiver's central model: starts and stops the transfer server and the DNS-SD advertisement,
// keeps the finished and in-flight transfers, queues the server's questions for the desktop user,
// owns the save folder and the host's LAN addresses, and derives what the window shows.
//
//   TransferReceiverModel model;                  // reads the preferences, resolves the save folder
//   model.start();                                // asynchronous; failures land in errorMessage()
//   connect(&model, &TransferReceiverModel::confirmationQueueChanged, …);
//
// GUI thread only (asserted): work from the server's threads arrives as queued calls. Every stored
// value has a change signal that fires only when the value really changes.
#pragma once

#include "receiver/BonjourAdvertiser.h"
#include "receiver/LANAddresses.h"
#include "receiver/ModelLink.h"
#include "receiver/Preferences.h"
#include "receiver/ReceiverTypes.h"
#include "server/SimpleSocketHTTPServer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace ferrylantern {

// What the model is built with besides the preferences. The defaults are the application's.
struct ReceiverConfiguration
{
    preferences::PreferenceScope preferences;
    std::uint16_t preferredPort = ServerOptions::defaultPort;
    // The name phones see; default: the computer's name ("Mac" when it has none).
    std::optional<QString> deviceName;
    std::chrono::milliseconds idleTimeout{std::chrono::minutes(2)};
};

class TransferReceiverModel : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferReceiverModel)

    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(std::optional<quint16> port READ port NOTIFY portChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(
        QList<ferrylantern::ReceivedFileRecord> recentTransfers READ recentTransfers NOTIFY recentTransfersChanged)
    Q_PROPERTY(
        QList<ferrylantern::TransferReceiveProgress> activeReceives READ activeReceives NOTIFY activeReceivesChanged)
    Q_PROPERTY(QList<ferrylantern::LANIPv4Address> lanAddresses READ lanAddresses NOTIFY lanAddressesChanged)
    Q_PROPERTY(std::optional<QString> selectedAddressID READ selectedAddressID WRITE setSelectedAddressID NOTIFY
                   selectedAddressIDChanged)
    Q_PROPERTY(QString saveDirectory READ saveDirectory NOTIFY saveDirectoryChanged)
    Q_PROPERTY(bool usesCustomSaveDirectory READ usesCustomSaveDirectory NOTIFY usesCustomSaveDirectoryChanged)
    Q_PROPERTY(QString deviceName READ deviceName CONSTANT)
    Q_PROPERTY(bool requireReceiveConfirmation READ requireReceiveConfirmation WRITE setRequireReceiveConfirmation
                   NOTIFY requireReceiveConfirmationChanged)
    Q_PROPERTY(QList<ferrylantern::PendingReceiveConfirmation> confirmationQueue READ confirmationQueue NOTIFY
                   confirmationQueueChanged)
    Q_PROPERTY(qint64 confirmationEpoch READ confirmationEpoch NOTIFY confirmationEpochChanged)
    Q_PROPERTY(
        QList<ferrylantern::PendingDuplicateResolution> duplicateQueue READ duplicateQueue NOTIFY duplicateQueueChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

public:
    explicit TransferReceiverModel(ReceiverConfiguration configuration = {}, QObject* parent = nullptr);
    ~TransferReceiverModel() override;

    // Lifecycle.
    // Starts the server, the advertisement and the address list. Returns at once; the start goes on
    // asynchronously and ends with startFinished(). A second call while running or starting does
    // nothing. Failures are reported through errorMessage, never thrown.
    void start();
    // Withdraws the advertisement and stops the server; uploads in progress and questions waiting
    // for the user run on.
    void stop();

    bool isRunning() const { return isRunning_; }
    bool isStarting() const { return isStarting_; }
    std::optional<quint16> port() const { return port_; }
    std::optional<QString> errorMessage() const { return errorMessage_; }
    QString deviceName() const { return deviceName_; }
    // "正在接收 · 端口 N" while running, otherwise "未启动".
    QString statusText() const;

    // Transfers.
    const QList<ReceivedFileRecord>& recentTransfers() const { return recentTransfers_; }
    const QList<TransferReceiveProgress>& activeReceives() const { return activeReceives_; }
    void handleUploadProgress(const TransferUploadProgressEvent& event);
    void handleFileReceived(const ReceivedFileRecord& record);
    // Cancels one upload in flight, and answers a question it is waiting on (false, or cancel).
    void cancelReceive(const Uuid& id);
    void clearRecentTransfers();

    // Addresses.
    const QList<LANIPv4Address>& lanAddresses() const { return lanAddresses_; }
    std::optional<QString> selectedAddressID() const { return selectedAddressID_; }
    void setSelectedAddressID(const std::optional<QString>& id);
    void refreshLANAddresses();
    // The address of the selected entry, or of the first when the selection is gone.
    std::optional<QString> selectedAddress() const;
    // "http://ADDRESS:PORT/" while running with an address; "http://127.0.0.1:PORT/" while running.
    std::optional<QString> accessURL() const;
    std::optional<QString> localAccessURL() const;

    // Save folder.
    QString saveDirectory() const { return saveDirectory_; }
    bool usesCustomSaveDirectory() const { return usesCustomSaveDirectory_; }
    // Applies a new folder; a running server restarts on it. Failures go to errorMessage.
    void setSaveDirectory(const QString& folder, bool userSelected);

    // Receive confirmations.
    bool requireReceiveConfirmation() const { return requireReceiveConfirmation_; }
    void setRequireReceiveConfirmation(bool required);
    const QList<PendingReceiveConfirmation>& confirmationQueue() const { return confirmationQueue_; }
    qint64 confirmationEpoch() const { return confirmationEpoch_; }
    std::optional<ReceiveConfirmationAlertItem> currentReceiveConfirmationItem() const;
    void waitForReceiveConfirmation(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply);
    void waitForBatchReceiveConfirmation(const std::vector<ReceiveConfirmationRequest>& requests,
                                         OneShotReply<bool> reply);
    void respondToCurrentConfirmation(bool accept);
    void acceptAllConfirmations();
    void rejectAllConfirmations();

    // Same-name questions.
    const QList<PendingDuplicateResolution>& duplicateQueue() const { return duplicateQueue_; }
    std::optional<DuplicateResolutionAlertItem> currentDuplicateResolutionItem() const;
    void waitForDuplicateResolution(const DuplicateFileRequest& request, OneShotReply<DuplicateFileResolution> reply);
    // Answers the question for `id`, or the head of the queue when no id is given.
    void resolveDuplicate(DuplicateFileResolution resolution, const std::optional<Uuid>& id = std::nullopt);
    void resolveAllDuplicates(DuplicateFileResolution resolution);

    // Called when a new question is queued, to bring the application to the front. The window sets
    // it; without a window nothing happens.
    void setBringToFrontHandler(std::function<void()> handler) { bringToFront_ = std::move(handler); }

    // The callbacks the model gives every server it starts: they hold the model weakly and hand
    // everything to its thread. Without the model, questions are answered false and keepCopy.
    TransferServerCallbacks serverCallbacks() const;

    // The running server, if any.
    std::shared_ptr<SimpleSocketHTTPServer> httpServer() const { return httpServer_; }

signals:
    void isRunningChanged();
    void isStartingChanged();
    void portChanged();
    void errorMessageChanged();
    void recentTransfersChanged();
    void activeReceivesChanged();
    void lanAddressesChanged();
    void selectedAddressIDChanged();
    void saveDirectoryChanged();
    void usesCustomSaveDirectoryChanged();
    void requireReceiveConfirmationChanged();
    void confirmationQueueChanged();
    void confirmationEpochChanged();
    void duplicateQueueChanged();
    // Derived values: the status text and the access URLs.
    void statusTextChanged();
    void accessURLChanged();
    // A start ended, successfully or not.
    void startFinished();
    // A file was saved (it is also at the front of recentTransfers now).
    void fileReceived(const ferrylantern::ReceivedFileRecord& record);
    // An upload ended without a file; the progress is empty when it failed before it started.
    void uploadFailed(const ferrylantern::Uuid& id,
                      const std::optional<ferrylantern::TransferReceiveProgress>& progress);

private:
    struct PendingBatch
    {
        QList<PendingReceiveConfirmation> entries;
        OneShotReply<bool> reply;
    };

    void receiveConfirmation(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply,
                             qint64 epochWhenAsked);
    void receiveBatchConfirmation(const std::vector<ReceiveConfirmationRequest>& requests, OneShotReply<bool> reply,
                                  qint64 epochWhenAsked);
    // Removes the single question `id` from the queue and its reply from the store, then answers it;
    // false when no such question waits.
    bool answerSingleConfirmation(const Uuid& id, bool accept);
    // Answers the batch on screen and shows the next one waiting, or the single questions left.
    void answerCurrentBatch(bool accept);
    void showNextConfirmations();

    void assertGUIThread() const;
    void finishStart(const std::shared_ptr<SimpleSocketHTTPServer>& server,
                     const Expected<std::uint16_t, SocketHTTPError>& started, quint64 generation);
    void failStart(const QString& message);
    void requestBringToFront() const;

    void setIsRunning(bool value);
    void setIsStarting(bool value);
    void setPort(std::optional<quint16> value);
    void setErrorMessage(const std::optional<QString>& value);
    void setActiveReceives(QList<TransferReceiveProgress> value);
    void setRecentTransfers(QList<ReceivedFileRecord> value);
    void setConfirmationQueue(QList<PendingReceiveConfirmation> value);
    void setConfirmationEpoch(qint64 value);
    void setDuplicateQueue(QList<PendingDuplicateResolution> value);
    void setSaveDirectoryValue(const QString& value);
    void setUsesCustomSaveDirectory(bool value);
    void setLANAddresses(QList<LANIPv4Address> value);

    ReceiverConfiguration configuration_;
    std::shared_ptr<ModelLink<TransferReceiverModel>> link_;
    bool isRunning_ = false;
    bool isStarting_ = false;
    std::optional<quint16> port_;
    std::optional<QString> errorMessage_;
    QList<ReceivedFileRecord> recentTransfers_;
    QList<TransferReceiveProgress> activeReceives_;
    QList<LANIPv4Address> lanAddresses_;
    std::optional<QString> selectedAddressID_;
    QString saveDirectory_;
    bool usesCustomSaveDirectory_ = false;
    QString deviceName_;
    bool requireReceiveConfirmation_ = false;
    std::shared_ptr<SimpleSocketHTTPServer> httpServer_;
    std::unique_ptr<BonjourAdvertiser> bonjour_;
    QList<PendingReceiveConfirmation> confirmationQueue_;
    std::map<Uuid, OneShotReply<bool>> confirmationContinuations_;
    std::optional<OneShotReply<bool>> batchConfirmationContinuation_;
    // Batches that arrived while another batch was on screen, answered in turn.
    std::deque<PendingBatch> waitingBatches_;
    // The single questions whose replies wait, in arrival order; they return to the queue when a
    // batch that displaced them is answered.
    QList<PendingReceiveConfirmation> waitingSingles_;
    qint64 confirmationEpoch_ = 0;
    QList<PendingDuplicateResolution> duplicateQueue_;
    std::map<Uuid, OneShotReply<DuplicateFileResolution>> duplicateContinuations_;
    std::function<void()> bringToFront_;
    quint64 startGeneration_ = 0;
};

} // namespace ferrylantern
