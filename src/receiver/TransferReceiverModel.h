// The receiver's central model: starts and stops the transfer server and the DNS-SD advertisement,
// keeps the finished and in-flight transfers as list models (received texts among them), owns the two
// question queues, the save folder, the host's LAN addresses and what is shared with phones (with the
// downloads of it in flight), and shuts everything down on the way out.
//
//   TransferReceiverModel model;                  // reads the preferences, resolves the save folder
//   model.start();                                // asynchronous; failures land in errorMessage()
//   connect(&model.confirmations(), &ReceiveConfirmationQueue::confirmationQueueChanged, …);
//   …
//   model.shutDown(grace);                        // on every way out of the program
//
// GUI thread only (asserted): work from the server's threads arrives as queued calls. Every stored
// value has a change signal that fires only when the value really changes.
#pragma once

#include "receiver/ActiveDownloadListModel.h"
#include "receiver/ActiveReceiveListModel.h"
#include "receiver/BonjourAdvertiser.h"
#include "receiver/DuplicateResolutionQueue.h"
#include "receiver/FirewallAdvice.h"
#include "receiver/LANAddresses.h"
#include "receiver/ModelLink.h"
#include "receiver/Preferences.h"
#include "receiver/ReceiveConfirmationQueue.h"
#include "receiver/ReceiverTypes.h"
#include "receiver/RecentTransferListModel.h"
#include "receiver/SharedItemListModel.h"
#include "receiver/TransferHistoryStore.h"
#include "server/PINAttemptLimiter.h"
#include "server/SimpleSocketHTTPServer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ferrylantern {

// What the model is built with besides the preferences. The defaults are the application's.
struct ReceiverConfiguration
{
    preferences::PreferenceScope preferences;
    std::uint16_t preferredPort = ServerOptions::defaultPort;
    // The name phones see; default: the computer's name ("Mac" when it has none).
    std::optional<QString> deviceName;
    std::chrono::milliseconds idleTimeout{std::chrono::minutes(2)};
    // How upload bodies go from the socket to the file (ferrylantern-server --no-splice).
    RawBodyTransfer rawBodyTransfer = RawBodyTransfer::spliceWhereSupported;
    // An upload in flight that receives no byte for this long shows that it waits for the phone.
    std::chrono::milliseconds stalledAfter{std::chrono::seconds(20)};
    // Where the check for a firewall that keeps phones out looks, once receiving has started.
    FirewallProbe firewall = FirewallProbe::system();
    // The file that keeps the finished transfers across restarts (TransferHistoryStore); none keeps
    // them in memory only, as ferrylantern-server does.
    std::optional<QString> historyFile;
};

class TransferReceiverModel : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferReceiverModel)

    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(std::optional<quint16> port READ port NOTIFY portChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QList<ferrylantern::LANIPv4Address> lanAddresses READ lanAddresses NOTIFY lanAddressesChanged)
    Q_PROPERTY(std::optional<QString> selectedAddressID READ selectedAddressID WRITE setSelectedAddressID NOTIFY
                   selectedAddressIDChanged)
    Q_PROPERTY(QString saveDirectory READ saveDirectory NOTIFY saveDirectoryChanged)
    Q_PROPERTY(bool usesCustomSaveDirectory READ usesCustomSaveDirectory NOTIFY usesCustomSaveDirectoryChanged)
    Q_PROPERTY(QString deviceName READ deviceName CONSTANT)
    Q_PROPERTY(bool requireReceiveConfirmation READ requireReceiveConfirmation WRITE setRequireReceiveConfirmation
                   NOTIFY requireReceiveConfirmationChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(bool isPINBeingGuessed READ isPINBeingGuessed NOTIFY isPINBeingGuessedChanged)

public:
    explicit TransferReceiverModel(ReceiverConfiguration configuration = {}, QObject* parent = nullptr);
    // Stops without waiting: questions still stored are refused as their replies are destroyed.
    ~TransferReceiverModel() override;

    // Lifecycle.
    // Starts the server, the advertisement and the address list. Returns at once; the start goes on
    // asynchronously and ends with startFinished(). A second call while running or starting does
    // nothing. Failures are reported through errorMessage, never thrown.
    void start();
    // Withdraws the advertisement and stops the server; uploads in progress and questions waiting
    // for the user run on.
    void stop();
    // The way out of the program: cancels every upload (also those a stopped server still runs),
    // refuses every waiting question, stops, and waits up to `grace` for the connections to end while
    // their last events arrive. From here on a new question is refused at once. Returns whether every
    // connection ended; partial files of cancelled uploads are gone by then.
    [[nodiscard]] bool shutDown(std::chrono::milliseconds grace);

    bool isRunning() const { return isRunning_; }
    bool isStarting() const { return isStarting_; }
    std::optional<quint16> port() const { return port_; }
    std::optional<QString> errorMessage() const { return errorMessage_; }
    QString deviceName() const { return deviceName_; }
    // What a firewall on this computer does to phones, once a check after the start found out; none
    // while stopped, and when nothing is in the way.
    const std::optional<FirewallAdvice>& firewallAdvice() const { return firewallAdvice_; }
    // "正在接收 · 端口 N" while running; "已停止 · 还在完成 N 个传输" while uploads begun before a stop
    // run on; otherwise "未启动".
    QString statusText() const;
    // Wrong PINs from the network used up what all addresses together may try: someone is guessing,
    // and every PIN verification is held back. Clears some time after the last such report.
    bool isPINBeingGuessed() const { return isPINBeingGuessed_; }

    // Transfers: the finished files, newest first, and the uploads in flight, in the order they started.
    const RecentTransferListModel& recentTransferList() const { return recentTransfers_; }
    const ActiveReceiveListModel& activeReceiveList() const { return activeReceives_; }
    const QList<ReceivedFileRecord>& recentTransfers() const { return recentTransfers_.records(); }
    const QList<TransferReceiveProgress>& activeReceives() const { return activeReceives_.receives(); }
    void handleUploadProgress(const TransferUploadProgressEvent& event);
    void handleFileReceived(const ReceivedFileRecord& record);
    // Cancels one upload in flight, and answers a question it is waiting on (false, or cancel).
    void cancelReceive(const Uuid& id);
    // Empties the list of finished files, and the stored history with it; files on disk stay.
    void clearRecentTransfers();
    // Takes one record off the list (and the history), typically one whose file has gone.
    void removeRecentTransfer(const Uuid& id);
    // Flags the records whose files have gone since they were saved (and unflags any that came back).
    void recheckRecentTransferFiles();
    // A text from a phone: a row of its own among the finished transfers, kept in the history.
    void handleTextReceived(const ReceivedTextRecord& record);
    // Where a damaged history file was moved at start-up; none when the history loaded normally.
    const std::optional<QString>& damagedHistoryFile() const { return damagedHistoryFile_; }
    // Writes the history now if a change is still waiting to be written. Shutdown does it too.
    void flushHistory();

    // Sharing with phones. Shares live in memory, across restarts of the server, until the program ends.
    const SharedItemListModel& sharedItemList() const { return sharedItems_; }
    const ActiveDownloadListModel& activeDownloadList() const { return activeDownloads_; }
    const std::shared_ptr<SharedItems>& sharedItems() const { return shares_; }
    // Shares each file where it lies; returns one line per file that could not be shared ("NAME：why").
    QStringList shareFiles(const QStringList& paths);
    // Shares a text; the reason when it cannot be (blank, over 64 KiB).
    std::optional<QString> shareText(const QString& text);
    // Ends a share and the downloads of it in flight.
    void removeShare(const Uuid& id);
    // Looks at the shared files again and flags those that have gone (or come back), row by row.
    void recheckSharedFiles();
    void handleDownloadProgress(const TransferDownloadProgressEvent& event);
    // Ends one download in flight; the server reports it failed.
    void cancelDownload(const Uuid& id);

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

    // Questions for the desktop user. The dialogs answer through the queues; rejecting all receive
    // confirmations also ends every upload in flight, so it is the model's.
    bool requireReceiveConfirmation() const { return requireReceiveConfirmation_; }
    void setRequireReceiveConfirmation(bool required);
    ReceiveConfirmationQueue& confirmations() { return confirmations_; }
    const ReceiveConfirmationQueue& confirmations() const { return confirmations_; }
    DuplicateResolutionQueue& duplicates() { return duplicates_; }
    const DuplicateResolutionQueue& duplicates() const { return duplicates_; }
    void rejectAllConfirmations();
    // The server gave the question of upload (or ticket) `id` up because its client went away: it
    // leaves the queue it waits in, unanswered.
    void withdrawQuestion(const Uuid& id);

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
    void lanAddressesChanged();
    void selectedAddressIDChanged();
    void saveDirectoryChanged();
    void usesCustomSaveDirectoryChanged();
    void requireReceiveConfirmationChanged();
    // Derived values: the status text and the access URLs.
    void statusTextChanged();
    void accessURLChanged();
    // A start ended, successfully or not.
    void startFinished();
    void firewallAdviceChanged();
    void isPINBeingGuessedChanged();
    // A file was saved (it is also at the front of recentTransfers now).
    void fileReceived(const ferrylantern::ReceivedFileRecord& record);
    // A text arrived (it is also at the front of recentTransfers now, its `text` set).
    void textReceived(const ferrylantern::ReceivedFileRecord& record);
    // A download of a shared file ended, every byte sent (`completed`) or not.
    void downloadEnded(const ferrylantern::TransferSendProgress& progress, bool completed);
    // An upload ended without a file; the progress is empty when it failed before it started.
    void uploadFailed(const ferrylantern::Uuid& id,
                      const std::optional<ferrylantern::TransferReceiveProgress>& progress);

private:
    void receiveConfirmation(const ReceiveConfirmationRequest& request, OneShotReply<bool> reply,
                             qint64 epochWhenAsked);
    void receiveBatchConfirmation(const std::vector<ReceiveConfirmationRequest>& requests, OneShotReply<bool> reply,
                                  qint64 epochWhenAsked);
    void receiveDuplicateQuestion(const DuplicateFileRequest& request, OneShotReply<DuplicateFileResolution> reply);

    void assertGUIThread() const;
    void finishStart(const std::shared_ptr<SimpleSocketHTTPServer>& server,
                     const Expected<std::uint16_t, SocketHTTPError>& started, quint64 generation);
    void failStart(const QString& message);
    void requestBringToFront() const;
    // The running server and the stopped ones whose connections still run.
    std::vector<std::shared_ptr<SimpleSocketHTTPServer>> serversWithConnections() const;

    void setIsRunning(bool value);
    void setIsStarting(bool value);
    void setPort(std::optional<quint16> value);
    void setErrorMessage(const std::optional<QString>& value);
    void setSaveDirectoryValue(const QString& value);
    void setUsesCustomSaveDirectory(bool value);
    void setLANAddresses(QList<LANIPv4Address> value);
    void setFirewallAdvice(const std::optional<FirewallAdvice>& value);
    void checkFirewall(std::uint16_t port);
    void noticePINGuessing(std::chrono::seconds heldBackFor);
    void historyChanged();

    ReceiverConfiguration configuration_;
    std::shared_ptr<ModelLink<TransferReceiverModel>> link_;
    bool isRunning_ = false;
    bool isStarting_ = false;
    bool isShuttingDown_ = false;
    std::optional<quint16> port_;
    std::optional<QString> errorMessage_;
    std::optional<FirewallAdvice> firewallAdvice_;
    RecentTransferListModel recentTransfers_;
    ActiveReceiveListModel activeReceives_;
    // Given to every server started; outlives them all.
    std::shared_ptr<SharedItems> shares_;
    SharedItemListModel sharedItems_;
    ActiveDownloadListModel activeDownloads_;
    QList<LANIPv4Address> lanAddresses_;
    std::optional<QString> selectedAddressID_;
    QString saveDirectory_;
    bool usesCustomSaveDirectory_ = false;
    QString deviceName_;
    bool requireReceiveConfirmation_ = false;
    std::shared_ptr<SimpleSocketHTTPServer> httpServer_;
    // Servers stopped while connections still ran: their uploads can still be cancelled.
    std::vector<std::shared_ptr<SimpleSocketHTTPServer>> stoppedServers_;
    std::unique_ptr<BonjourAdvertiser> bonjour_;
    ReceiveConfirmationQueue confirmations_;
    DuplicateResolutionQueue duplicates_;
    std::function<void()> bringToFront_;
    quint64 startGeneration_ = 0;
    // Kept across restarts, so stopping and starting does not hand a guesser a fresh allowance.
    std::shared_ptr<PINAttemptLimiter> pinAttempts_;
    bool isPINBeingGuessed_ = false;
    QTimer pinGuessingNoticeTimer_;
    std::optional<TransferHistoryStore> history_;
    std::optional<QString> damagedHistoryFile_;
    // Changes to the history within this timer's interval are written together.
    QTimer historySaveTimer_;
    bool historyUnsaved_ = false;
    // Looks for silent uploads while there are uploads in flight.
    QTimer stalledCheckTimer_;
};

} // namespace ferrylantern
