#include "ui/gallery/GalleryWindow.h"

#include "audio/AudioPlaybackController.h"
#include "audio/AudioWaveformLoader.h"
#include "ui/ActiveDownloadRow.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/AppAppearanceSettings.h"
#include "ui/AppSettingsView.h"
#include "ui/AudioFormatCaption.h"
#include "ui/AudioStereoDBFSMeterView.h"
#include "ui/AudioWaveformView.h"
#include "ui/FileReveal.h"
#include "ui/PINCodeEntryField.h"
#include "ui/ReceivedTextRow.h"
#include "ui/SharedItemRow.h"
#include "ui/StatusIndicatorDot.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferFileIcon.h"
#include "ui/TransferFinderListRow.h"
#include "ui/TransferRow.h"
#include "ui/TransferSourceSectionHeader.h"
#include "ui/UserPreferences.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace ferrylantern::gallery {

namespace {

using namespace std::chrono_literals;

ReceivedFileRecord record(const QString& path, const QString& deviceFolder, std::chrono::minutes ago,
                          std::optional<std::int64_t> byteCount = std::nullopt)
{
    const QFileInfo info(path);
    return ReceivedFileRecord{.id = Uuid::random(),
                              .fileName = info.fileName().toStdString(),
                              .byteCount = byteCount.value_or(info.size()),
                              .receivedAt = std::chrono::system_clock::now() - ago,
                              .fileURL = std::filesystem::path(path.toStdString()),
                              .deviceFolder = deviceFolder.toStdString()};
}

ReceivedFileRecord receivedText(const QString& text, const QString& deviceFolder, std::chrono::minutes ago)
{
    return ReceivedFileRecord{.id = Uuid::random(),
                              .fileName = {},
                              .byteCount = text.toUtf8().size(),
                              .receivedAt = std::chrono::system_clock::now() - ago,
                              .fileURL = {},
                              .deviceFolder = deviceFolder.toStdString(),
                              .text = text.toStdString()};
}

SharedItem sharedFile(const QString& path, bool missing = false)
{
    const QFileInfo info(path);
    return {.id = Uuid::random(),
            .kind = SharedItem::Kind::file,
            .name = info.fileName().toStdString(),
            .path = path.toStdString(),
            .text = {},
            .byteCount = info.size(),
            .missing = missing};
}

TransferReceiveProgress upload(const QString& name, const QString& folder, std::int64_t received, std::int64_t total)
{
    return {Uuid::random(), name, folder, received, total};
}

// Meters at fixed levels, coloured like the waveform box of the current appearance.
class MeterStrip final : public QWidget
{
public:
    explicit MeterStrip(QWidget* parent)
        : QWidget(parent)
    {
        auto* layout = new QGridLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setHorizontalSpacing(18);
        const std::array<float, 6> levels{-80, -30, -12, -6, 0, 3};
        int column = 0;
        for (const float level : levels) {
            for (const bool mono : {true, false}) {
                auto* meter = new AudioStereoDBFSMeterView(this);
                meter->setMono(mono);
                meter->setMeterHeight(mono ? waveform::monoBoxHeight : waveform::stereoBoxHeight);
                meter->setLevels(level, mono ? level : level - 9);
                meters_.append(meter);
                layout->addWidget(meter, 0, column++, Qt::AlignBottom | Qt::AlignHCenter);
            }
            auto* caption = new QLabel(QStringLiteral("%1 dBFS").arg(level), this);
            caption->setForegroundRole(QPalette::PlaceholderText);
            layout->addWidget(caption, 1, column - 2, 1, 2, Qt::AlignHCenter);
        }
        layout->setColumnStretch(column, 1);
        updateColors();
    }

protected:
    void changeEvent(QEvent* event) override
    {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::PaletteChange) {
            updateColors();
        }
    }

private:
    void updateColors()
    {
        const auto colors = waveform::waveformPalette(isDarkPalette(palette()));
        for (auto* meter : meters_) {
            meter->setColors(colors.border, colors.fill);
        }
    }

    QList<AudioStereoDBFSMeterView*> meters_;
};

QWidget* rowsOf(const QList<QWidget*>& rows, QWidget* parent, int spacing)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* row : rows) {
        row->setParent(box);
        layout->addWidget(row);
    }
    return box;
}

} // namespace

GalleryWindow::GalleryWindow(const SampleFiles& files, UserPreferences& preferences, AudioPlaybackController& playback,
                             AudioWaveformLoader& loader, QWidget* parent)
    : QWidget(parent)
    , column_(new QWidget)
{
    setWindowTitle(QStringLiteral("FerryLantern gallery"));
    auto* columnLayout = new QVBoxLayout(column_);
    columnLayout->setContentsMargins(20, 16, 20, 20);
    columnLayout->setSpacing(24);
    column_->setFixedWidth(contentWidth);

    // Level meters, mono and stereo, from silence to above full scale.
    addSection(QStringLiteral("meters"), QStringLiteral("AudioStereoDBFSMeterView"), new MeterStrip(this));

    // Waveforms: loaded mono and stereo, loading, and a file that yields none.
    {
        QList<QWidget*> views;
        for (const QString& path : {files.monoWav, files.stereoWav, files.slowWav, files.brokenWav}) {
            views.append(new AudioWaveformView(QUrl::fromLocalFile(path), playback, loader));
        }
        addSection(QStringLiteral("waveforms"), QStringLiteral("AudioWaveformView"), rowsOf(views, this, 12));
    }

    // Cards: the active stereo file, a mono one with its duration, a document, a name too long for the width.
    {
        QList<QWidget*> cards{
            new TransferRow(record(files.stereoWav, QStringLiteral("Pixel 8"), 2min), true, playback, loader),
            new TransferRow(record(files.monoWav, QStringLiteral("iPhone"), 65min), true, playback, loader),
            new TransferRow(record(files.document, {}, 3h), true, playback, loader),
            new TransferRow(record(files.unknown, QStringLiteral("device-192-168-1-20"), 26h, std::int64_t{1234567890}),
                            true, playback, loader),
        };
        for (QWidget* card : cards) {
            connect(static_cast<TransferRow*>(card), &TransferRow::revealRequested, card, [card] {
                revealInFileManager(QString::fromStdString(static_cast<TransferRow*>(card)->record().fileURL.string()));
            });
        }
        addSection(QStringLiteral("cards"), QStringLiteral("TransferRow"), rowsOf(cards, this, 16));
    }

    // The list by source: a header and its rows.
    {
        const QString longName =
            QStringLiteral("2024-05-17 家庭聚会 合影 高清原图 第二批 最终版本（请勿删除）很长很长的文件名.pdf");
        QList<QWidget*> rows{
            new TransferSourceSectionHeader(QStringLiteral("iPhone"), 3),
            new TransferFinderListRow(record(files.monoWav, QStringLiteral("iPhone"), 5min), loader),
            new TransferFinderListRow(record(files.document, QStringLiteral("iPhone"), 9min, 2480000), loader),
            new TransferFinderListRow(record(longName, QStringLiteral("iPhone"), 30min, 734003), loader),
            new TransferSourceSectionHeader(QStringLiteral("未分类"), 1),
            new TransferFinderListRow(record(files.unknown, {}, 3h, 42), loader),
        };
        addSection(QStringLiteral("list"), QStringLiteral("TransferSourceSectionHeader, TransferFinderListRow"),
                   rowsOf(rows, this, 4));
    }

    // Uploads in flight: under way, of unknown size, and past their announced size.
    {
        QList<QWidget*> rows{
            new ActiveReceiveRow(upload(QStringLiteral("IMG_2041.HEIC"), QStringLiteral("iPhone"), 1300000, 3100000)),
            new ActiveReceiveRow(upload(QStringLiteral("empty.txt"), {}, 0, 0)),
            new ActiveReceiveRow(upload(QStringLiteral("growing.log"), QStringLiteral("Android"), 5200, 4096)),
        };
        addSection(QStringLiteral("uploads"), QStringLiteral("ActiveReceiveRow"), rowsOf(rows, this, 8));
    }

    // Texts from phones (a note and a link, as a card and as a list row), what is shared with phones
    // (a file, a file that has gone, a text) and a download in flight.
    {
        QList<QWidget*> rows{
            new ReceivedTextRow(
                receivedText(QStringLiteral("周五的会改到下午三点，地点：302 会议室。\n记得带上投影仪的转接头。\n"
                                            "Wi‑Fi：Guest-5G / 4821\n最后一行不显示"),
                             QStringLiteral("iPhone"), 4min),
                ReceivedTextRow::Style::card),
            new ReceivedTextRow(
                receivedText(QStringLiteral("https://example.com/share/a1b2c3"), QStringLiteral("Pixel 8"), 1min),
                ReceivedTextRow::Style::listRow),
            new SharedItemRow(sharedFile(files.document)),
            new SharedItemRow(sharedFile(files.unknown, true)),
            new SharedItemRow({.id = Uuid::random(),
                               .kind = SharedItem::Kind::text,
                               .name = {},
                               .path = {},
                               .text = "门禁密码 4821，晚上十点后请走北门",
                               .byteCount = 46,
                               .missing = false}),
            new ActiveDownloadRow({Uuid::random(), Uuid::random(), QStringLiteral("presentation.key"),
                                   QStringLiteral("iPhone"), 18200000, 52400000}),
        };
        addSection(QStringLiteral("both-ways"), QStringLiteral("ReceivedTextRow, SharedItemRow, ActiveDownloadRow"),
                   rowsOf(rows, this, 8));
    }

    // The status dot, file icons and every symbol.
    {
        auto* box = new QWidget(this);
        auto* grid = new QGridLayout(box);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setHorizontalSpacing(14);
        grid->setVerticalSpacing(8);
        int column = 0;
        for (const bool active : {true, false}) {
            auto* dot = new StatusIndicatorDot(active, box);
            grid->addWidget(dot, 0, column, Qt::AlignCenter);
            grid->addWidget(new QLabel(active ? QStringLiteral("正在接收") : QStringLiteral("未启动"), box), 1,
                            column++, Qt::AlignCenter);
        }
        for (const QString& name : {QStringLiteral("a.pdf"), QStringLiteral("b.png"), QStringLiteral("c.wav"),
                                    QStringLiteral("README"), QStringLiteral("d.zzq")}) {
            auto* icon = new TransferFileIcon(name, box);
            icon->setFixedSize(TransferFinderListRow::iconSide, TransferFinderListRow::iconSide);
            grid->addWidget(icon, 0, column, Qt::AlignCenter);
            grid->addWidget(new QLabel(name, box), 1, column++, Qt::AlignCenter);
        }
        const int symbolsPerRow = 6;
        int index = 0;
        for (const Symbol symbol : allSymbols) {
            const int row = 2 + 2 * (index / symbolsPerRow);
            const int symbolColumn = index++ % symbolsPerRow;
            grid->addWidget(new SymbolView(symbol, SymbolTint::primary, 20, box), row, symbolColumn, Qt::AlignCenter);
            auto* name = new QLabel(symbolName(symbol), box);
            name->setForegroundRole(QPalette::PlaceholderText);
            grid->addWidget(name, row + 1, symbolColumn, Qt::AlignCenter);
        }
        grid->setColumnStretch(column, 1);
        addSection(QStringLiteral("symbols"), QStringLiteral("StatusIndicatorDot, TransferFileIcon, symbols"), box);
    }

    // PIN fields: masked, visible, and disabled with its text kept.
    {
        auto* box = new QWidget(this);
        auto* layout = new QHBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(16);
        auto* toggle = new QCheckBox(QStringLiteral("启用安全 PIN"), box);
        toggle->setChecked(preferences.pinEnabled());
        connect(toggle, &QCheckBox::toggled, &preferences, &UserPreferences::setPINEnabled);
        connect(&preferences, &UserPreferences::pinEnabledChanged, toggle, &QCheckBox::setChecked);
        layout->addWidget(toggle);
        auto* masked = new PINCodeEntryField(preferences, box);
        auto* visible = new PINCodeEntryField(preferences, box);
        visible->setPINVisible(true);
        auto* disabled = new PINCodeEntryField(preferences, box);
        disabled->setEnabled(false);
        for (auto* field : {masked, visible, disabled}) {
            layout->addWidget(field);
        }
        layout->addStretch();
        addSection(QStringLiteral("pin"), QStringLiteral("PINCodeEntryField (masked, visible, disabled)"), box);
    }

    // The settings window, here inside the gallery so its appearance picker switches the gallery too.
    addSection(QStringLiteral("settings"), QStringLiteral("AppSettingsView"),
               new AppSettingsView(preferences, {}, this));

    columnLayout->addStretch();
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(column_);
    scroll->setWidgetResizable(false);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    resize(contentWidth + 20, 900);
}

QWidget* GalleryWindow::addSection(const QString& stem, const QString& title, QWidget* content)
{
    auto* section = new QWidget(column_);
    section->setObjectName(stem);
    section->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(12, 10, 12, 12);
    layout->setSpacing(10);
    auto* heading = new QLabel(title, section);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
    layout->addWidget(heading);
    content->setParent(section);
    layout->addWidget(content);
    column_->layout()->addWidget(section);
    sections_.append({stem, section});
    return section;
}

bool GalleryWindow::isSettled() const
{
    for (const auto* view : column_->findChildren<AudioWaveformView*>()) {
        if (view->loadState() == AudioWaveformView::LoadState::loading &&
            !view->fileURL().fileName().startsWith(QLatin1String("loading"))) {
            return false;
        }
    }
    for (const auto* caption : column_->findChildren<AudioFormatCaption*>()) {
        if (!caption->formatText()) {
            return false;
        }
    }
    for (const auto* card : column_->findChildren<TransferRow*>()) {
        if (card->isAudio() && !card->fileDurationSeconds()) {
            return false;
        }
    }
    return true;
}

} // namespace ferrylantern::gallery
