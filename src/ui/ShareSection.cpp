#include "ui/ShareSection.h"

#include "receiver/TransferReceiverModel.h"
#include "ui/ActiveDownloadRow.h"
#include "ui/SharedItemRow.h"
#include "ui/ViewStyle.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace ferrylantern {

namespace {

constexpr int rowSpacing = 6;

QStringList localFiles(const QMimeData& data)
{
    QStringList files;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) {
            files.append(url.toLocalFile());
        }
    }
    return files;
}

} // namespace

ShareSection::ShareSection(TransferReceiverModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
{
    setObjectName(QStringLiteral("shareSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(rowSpacing);
    auto* header = new QLabel(QStringLiteral("分享给手机"), this);
    useFont(header, subheadlineFont);
    useSecondaryForeground(header);
    layout->addWidget(header);

    auto* pick = new QPushButton(QStringLiteral("发送到手机…"), this);
    pick->setObjectName(QStringLiteral("shareFilesButton"));
    connect(pick, &QPushButton::clicked, this, &ShareSection::pickFiles);
    auto* paste = new QPushButton(QStringLiteral("粘贴文字"), this);
    paste->setObjectName(QStringLiteral("shareTextButton"));
    connect(paste, &QPushButton::clicked, this, &ShareSection::shareClipboardText);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pick);
    buttons->addWidget(paste);
    buttons->addStretch();
    layout->addLayout(buttons);

    emptyHint_ = captionLabel(QStringLiteral("也可以把文件拖到窗口上。手机在上传页的「来自电脑」中下载。"),
                              QStringLiteral("shareHint"), this);
    emptyHint_->setWordWrap(true);
    layout->addWidget(emptyHint_);
    shareLayout_ = new QVBoxLayout;
    shareLayout_->setContentsMargins(0, 0, 0, 0);
    shareLayout_->setSpacing(2);
    layout->addLayout(shareLayout_);

    failure_ = captionLabel({}, QStringLiteral("shareFailure"), this);
    failure_->setWordWrap(true);
    failure_->setForegroundRole(QPalette::WindowText);
    QPalette red = failure_->palette();
    red.setColor(QPalette::WindowText, QColor(0xe5, 0x39, 0x35));
    failure_->setPalette(red);
    failure_->hide();
    layout->addWidget(failure_);

    downloadsHeader_ = captionLabel(QStringLiteral("正在发送"), QStringLiteral("downloadsHeader"), this);
    layout->addWidget(downloadsHeader_);
    downloadLayout_ = new QVBoxLayout;
    downloadLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(downloadLayout_);

    const auto& shares = model_.sharedItemList();
    connect(&shares, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertShares(first, last); });
    connect(&shares, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        for (int row = last; row >= first; --row) {
            delete shareRows_.takeAt(row);
        }
        showEmptyHint();
    });
    connect(&shares, &QAbstractItemModel::modelReset, this, &ShareSection::rebuildShares);
    connect(&shares, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& first, const QModelIndex& last) {
        for (int row = first.row(); row <= last.row(); ++row) {
            shareRows_.at(row)->setMissing(model_.sharedItemList().items().at(row).missing);
        }
    });
    const auto& downloads = model_.activeDownloadList();
    connect(&downloads, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { insertDownloads(first, last); });
    connect(&downloads, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        for (int row = last; row >= first; --row) {
            delete downloadRows_.takeAt(row);
        }
        downloadsHeader_->setVisible(!downloadRows_.isEmpty());
    });
    connect(&downloads, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                for (int row = first.row(); row <= last.row(); ++row) {
                    downloadRows_.at(row)->setProgress(model_.activeDownloadList().downloads().at(row));
                }
            });
    rebuildShares();
    downloadsHeader_->hide();
    if (!downloads.downloads().isEmpty()) {
        insertDownloads(0, static_cast<int>(downloads.downloads().size()) - 1);
    }
}

void ShareSection::pickFiles()
{
    const QStringList files =
        QFileDialog::getOpenFileNames(this, QStringLiteral("选择要发送到手机的文件"), QDir::homePath());
    if (!files.isEmpty()) {
        shareFiles(files);
    }
}

void ShareSection::shareFiles(const QStringList& paths)
{
    showFailures(model_.shareFiles(paths));
}

void ShareSection::shareClipboardText()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (text.trimmed().isEmpty()) {
        showFailures({QStringLiteral("剪贴板中没有文字")});
        return;
    }
    const auto failure = model_.shareText(text);
    showFailures(failure ? QStringList{*failure} : QStringList{});
}

bool ShareSection::canShare(const QMimeData& dropped)
{
    return !localFiles(dropped).isEmpty() || (dropped.hasText() && !dropped.text().trimmed().isEmpty());
}

void ShareSection::shareDropped(const QMimeData& dropped)
{
    if (const auto files = localFiles(dropped); !files.isEmpty()) {
        shareFiles(files);
        return;
    }
    if (dropped.hasText()) {
        const auto failure = model_.shareText(dropped.text());
        showFailures(failure ? QStringList{*failure} : QStringList{});
    }
}

QString ShareSection::failureText() const
{
    return failure_->isHidden() ? QString() : failure_->text();
}

void ShareSection::showFailures(const QStringList& failures)
{
    failure_->setText(failures.join(QLatin1Char('\n')));
    failure_->setVisible(!failures.isEmpty());
}

void ShareSection::insertShares(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        auto* widget = new SharedItemRow(model_.sharedItemList().items().at(row), this);
        connect(widget, &SharedItemRow::removeRequested, &model_, &TransferReceiverModel::removeShare);
        shareLayout_->insertWidget(row, widget);
        shareRows_.insert(row, widget);
    }
    showEmptyHint();
}

void ShareSection::insertDownloads(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        auto* widget = new ActiveDownloadRow(model_.activeDownloadList().downloads().at(row), this);
        connect(widget, &ActiveDownloadRow::cancelRequested, &model_, &TransferReceiverModel::cancelDownload);
        downloadLayout_->insertWidget(row, widget);
        downloadRows_.insert(row, widget);
    }
    downloadsHeader_->setVisible(true);
}

void ShareSection::rebuildShares()
{
    qDeleteAll(shareRows_);
    shareRows_.clear();
    if (!model_.sharedItemList().items().isEmpty()) {
        insertShares(0, static_cast<int>(model_.sharedItemList().items().size()) - 1);
    }
    showEmptyHint();
}

void ShareSection::showEmptyHint()
{
    emptyHint_->setVisible(shareRows_.isEmpty());
}

} // namespace ferrylantern
