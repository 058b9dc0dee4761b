// The sidebar's "分享给手机" section: what the desktop shares with phones and the downloads of it in
// flight. "发送到手机…" picks files, "粘贴文字" shares the clipboard's text, files dropped on the window
// arrive here too; each share has a button that ends it, and a shared file that has gone says so.
// Phones find the shares in the upload page's "来自电脑" list. Kept in step with the model's two lists
// row by row: a progress tick changes its own download row only.
//
// GUI thread only.
#pragma once

#include "receiver/ReceiverTypes.h"

#include <QList>
#include <QStringList>
#include <QWidget>

class QLabel;
class QMimeData;
class QPushButton;
class QVBoxLayout;

namespace ferrylantern {

class ActiveDownloadRow;
class SharedItemRow;
class TransferReceiverModel;

class ShareSection final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareSection)

public:
    explicit ShareSection(TransferReceiverModel& model, QWidget* parent = nullptr);

    // Shares these files (as picking them does); failures show in red below the list.
    void shareFiles(const QStringList& paths);
    // Shares the clipboard's text (as "粘贴文字" does).
    void shareClipboardText();
    // Whether dropped data holds something to share: local files, or else a text.
    static bool canShare(const QMimeData& dropped);
    // Shares what was dropped on the window: its local files, or else its text.
    void shareDropped(const QMimeData& dropped);

    const QList<SharedItemRow*>& shareRows() const { return shareRows_; }
    const QList<ActiveDownloadRow*>& downloadRows() const { return downloadRows_; }
    // The last failure shown; empty when none shows.
    QString failureText() const;

private:
    void pickFiles();
    void showFailures(const QStringList& failures);
    void insertShares(int first, int last);
    void insertDownloads(int first, int last);
    void rebuildShares();
    void showEmptyHint();

    TransferReceiverModel& model_;
    QLabel* emptyHint_;
    QVBoxLayout* shareLayout_;
    QList<SharedItemRow*> shareRows_;
    QLabel* failure_;
    QLabel* downloadsHeader_;
    QVBoxLayout* downloadLayout_;
    QList<ActiveDownloadRow*> downloadRows_;
};

} // namespace ferrylantern
