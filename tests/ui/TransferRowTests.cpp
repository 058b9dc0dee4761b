#include "tests/ui/ViewTestSupport.h"
#include "ui/ActiveDownloadRow.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/AudioFormatCaption.h"
#include "ui/AudioWaveformView.h"
#include "ui/ElidedLabel.h"
#include "ui/FileReveal.h"
#include "ui/ReceivedTextRow.h"
#include "ui/SharedItemRow.h"
#include "ui/TransferFileIcon.h"
#include "ui/TransferFinderListRow.h"
#include "ui/TransferRow.h"
#include "ui/TransferSourceSectionHeader.h"
#include "ui/TransferTexts.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFontInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>
#include <QToolButton>

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

ReceivedFileRecord recordOf(const QString& fileName, const QString& deviceFolder = QStringLiteral("iPhone"),
                            std::int64_t byteCount = 1000)
{
    return ReceivedFileRecord{.id = Uuid::random(),
                              .fileName = fileName.toStdString(),
                              .byteCount = byteCount,
                              .receivedAt = std::chrono::system_clock::now(),
                              .fileURL = std::filesystem::path("/received") / fileName.toStdString(),
                              .deviceFolder = deviceFolder.toStdString()};
}

class LocaleGuard
{
public:
    explicit LocaleGuard(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleGuard() { QLocale::setDefault(previous_); }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    QLocale previous_;
};

TEST(TransferTexts, WriteSizesInMultiplesOfAThousand)
{
    const LocaleGuard english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(fileSizeText(999), QStringLiteral("999 bytes"));
    EXPECT_EQ(fileSizeText(1500), QStringLiteral("1.5 kB"));
    EXPECT_EQ(fileSizeText(1'500'000), QStringLiteral("1.5 MB"));
    EXPECT_EQ(receiveProgressText(500'000, 2'000'000), QStringLiteral("500.0 kB / 2.0 MB"));
}

TEST(TransferTexts, ChooseTheCardsTimeText)
{
    EXPECT_EQ(cardTimeText(true, QStringLiteral("00:01.00 / 00:03.00"), 3.0), QStringLiteral("00:01.00 / 00:03.00"));
    EXPECT_EQ(cardTimeText(false, QStringLiteral("00:01.00 / 00:03.00"), 65.5), QStringLiteral("01:05.50"));
    EXPECT_EQ(cardTimeText(false, {}, std::nullopt), QStringLiteral("--:--.--"));
    EXPECT_EQ(cardTimeText(false, {}, 0.0), QStringLiteral("--:--.--"));
}

TEST(TransferTexts, FillTheBarWithoutDividingByZero)
{
    EXPECT_EQ(receiveFraction(0, 0), 0);
    EXPECT_EQ(receiveFraction(500, 0), 0);
    EXPECT_EQ(receiveFraction(250, 1000), 0.25);
    EXPECT_EQ(receiveFraction(5000, 1000), 1);
    EXPECT_EQ(receiveFraction(-5, 1000), 0);
}

TEST(ActiveReceiveRow, ShowsAnEmptyBarForAnUnknownTotalAndAFullOneWhenPastIt)
{
    ActiveReceiveRow row(TransferReceiveProgress{Uuid::random(), QStringLiteral("a.bin"), {}, 0, 0});
    auto* bar = row.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(row.findChild<QLabel*>(QStringLiteral("sourceLine"))->isHidden(), true);

    row.setProgress(
        TransferReceiveProgress{row.progress().id, QStringLiteral("a.bin"), QStringLiteral("Android"), 5200, 4096});
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(row.findChild<QLabel*>(QStringLiteral("sourceLine"))->text(), QStringLiteral("来自：Android"));
    for (const auto* label : row.findChildren<QLabel*>()) { // names come from the phone
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
    // Growing numbers move neither the text nor the bar: fixed-width digits in a fixed width.
    const auto* sizes = row.findChild<QLabel*>(QStringLiteral("progressText"));
    EXPECT_TRUE(QFontInfo(sizes->font()).fixedPitch());
    EXPECT_GE(sizes->minimumWidth(), sizes->fontMetrics().horizontalAdvance(sizes->text()));
}

TEST(ActiveReceiveRow, SaysWhenItWaitsForThePhoneAndStopsSayingSoWhenBytesFlow)
{
    TransferReceiveProgress progress{Uuid::random(), QStringLiteral("a.bin"), QStringLiteral("iPhone"), 10, 100};
    ActiveReceiveRow row(progress);
    const auto* source = row.findChild<QLabel*>(QStringLiteral("sourceLine"));
    progress.isStalled = true;
    row.setProgress(progress);
    EXPECT_EQ(source->text(), QStringLiteral("来自：iPhone · 等待手机…"));
    progress.isStalled = false;
    progress.bytesReceived = 20;
    row.setProgress(progress);
    EXPECT_EQ(source->text(), QStringLiteral("来自：iPhone"));
    // Without a source the line shows for the wait alone.
    ActiveReceiveRow unnamed(TransferReceiveProgress{Uuid::random(), QStringLiteral("b.bin"), {}, 0, 9, true});
    const auto* line = unnamed.findChild<QLabel*>(QStringLiteral("sourceLine"));
    EXPECT_FALSE(line->isHidden());
    EXPECT_EQ(line->text(), QStringLiteral("等待手机…"));
}

TEST(ActiveReceiveRow, CancelsItsOwnUpload)
{
    const Uuid id = Uuid::random();
    ActiveReceiveRow row(TransferReceiveProgress{id, QStringLiteral("a.bin"), {}, 10, 100});
    QSignalSpy cancelled(&row, &ActiveReceiveRow::cancelRequested);
    auto* cancel = row.findChild<QPushButton*>(QStringLiteral("cancelButton"));
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
    cancel->click();
    ASSERT_EQ(cancelled.size(), 1);
    EXPECT_EQ(cancelled.front().front().value<Uuid>(), id);
}

TEST(TransferTexts, ShowTheFirstLinesOfATextThatSaySomething)
{
    const struct
    {
        QString text;
        qsizetype maxLines;
        QStringList lines;
        bool isCut;
    } rows[] = {
        {QStringLiteral("one line"), 3, {QStringLiteral("one line")}, false},
        {QStringLiteral("\n  \nfirst  \r\nsecond\nthird\nfourth"),
         3,
         {QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")},
         true},
        {QStringLiteral("a\nb\n\n  \n"), 3, {QStringLiteral("a"), QStringLiteral("b"), QString()}, false},
        {QStringLiteral("a\nb"), 1, {QStringLiteral("a")}, true},
        {QStringLiteral("   "), 3, {}, false},
    };
    for (const auto& row : rows) {
        const auto shown = firstTextLines(row.text, row.maxLines);
        EXPECT_EQ(shown.lines, row.lines) << row.text.toStdString();
        EXPECT_EQ(shown.isCut, row.isCut) << row.text.toStdString();
    }
}

TEST(TransferTexts, OfferToOpenOnlyATextThatIsOneWebAddress)
{
    const struct
    {
        QString text;
        std::optional<QString> link;
    } rows[] = {
        {QStringLiteral("https://example.com/a?b=1#c"), QStringLiteral("https://example.com/a?b=1#c")},
        {QStringLiteral("  http://192.168.1.5:8080/x \n"), QStringLiteral("http://192.168.1.5:8080/x")},
        {QStringLiteral("HTTPS://Example.com"), QStringLiteral("https://example.com")},
        {QStringLiteral("see https://example.com"), std::nullopt},
        {QStringLiteral("https://a.com https://b.com"), std::nullopt},
        {QStringLiteral("https://a.com\nhttps://b.com"), std::nullopt},
        {QStringLiteral("javascript:alert(1)"), std::nullopt},
        {QStringLiteral("file:///etc/passwd"), std::nullopt},
        {QStringLiteral("ftp://example.com/f"), std::nullopt},
        {QStringLiteral("https:///nohost"), std::nullopt},
        {QStringLiteral("example.com"), std::nullopt},
        {QStringLiteral(""), std::nullopt},
    };
    for (const auto& row : rows) {
        const auto link = singleWebLink(row.text);
        EXPECT_EQ(link ? std::optional(link->toString()) : std::nullopt, row.link) << row.text.toStdString();
    }
}

ReceivedFileRecord textRecord(const QString& text, const QString& deviceFolder = QStringLiteral("Phone"))
{
    return ReceivedFileRecord{.id = Uuid::random(),
                              .fileName = {},
                              .byteCount = text.toUtf8().size(),
                              .receivedAt = std::chrono::system_clock::now(),
                              .fileURL = {},
                              .deviceFolder = deviceFolder.toStdString(),
                              .text = text.toStdString()};
}

QStringList shownLines(const QWidget& row)
{
    QStringList lines;
    for (const auto* line : row.findChildren<ElidedLabel*>(QStringLiteral("textLine"))) {
        lines.append(line->fullText());
        EXPECT_EQ(line->textFormat(), Qt::PlainText);
    }
    return lines;
}

TEST(ReceivedTextRow, ACardShowsThreeLinesAsPlainTextAndCopiesTheWholeText)
{
    const QString text = QStringLiteral("<b>not bold</b>\n<img src=x>\nthird\nfourth line, not shown");
    ReceivedTextRow card(textRecord(text), ReceivedTextRow::Style::card);
    card.resize(500, card.sizeHint().height());
    card.show();
    EXPECT_EQ(shownLines(card), (QStringList{QStringLiteral("<b>not bold</b>"), QStringLiteral("<img src=x>"),
                                             QStringLiteral("third …")}));
    EXPECT_EQ(card.findChild<QLabel*>(QStringLiteral("sourceLine"))->text(), QStringLiteral("来自：Phone"));
    EXPECT_EQ(card.findChild<QPushButton*>(QStringLiteral("openLinkButton")), nullptr);
    for (const auto* label : card.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }

    QGuiApplication::clipboard()->clear();
    QSignalSpy copied(&card, &ReceivedTextRow::copied);
    auto* copy = card.findChild<QPushButton*>(QStringLiteral("copyButton"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), QStringLiteral("复制"));
    copy->click();
    EXPECT_EQ(copied.size(), 1);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
    EXPECT_EQ(copy->text(), QStringLiteral("已复制"));
}

TEST(ReceivedTextRow, ALinkAloneGetsAnOpenButtonAndAListRowShowsOneLine)
{
    ReceivedTextRow row(textRecord(QStringLiteral(" https://example.com/page \n")), ReceivedTextRow::Style::listRow);
    EXPECT_EQ(shownLines(row), QStringList{QStringLiteral(" https://example.com/page")});
    ASSERT_TRUE(row.link());
    QSignalSpy opened(&row, &ReceivedTextRow::openLinkRequested);
    auto* open = row.findChild<QPushButton*>(QStringLiteral("openLinkButton"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->text(), QStringLiteral("打开链接"));
    open->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.front().front().toUrl(), QUrl(QStringLiteral("https://example.com/page")));
    EXPECT_EQ(row.findChild<QLabel*>(QStringLiteral("sourceLine")), nullptr); // the section names the source
}

TEST(ActiveDownloadRow, ShowsWhoDownloadsAndCancelsItsOwnDownload)
{
    const Uuid id = Uuid::random();
    ActiveDownloadRow row(
        TransferSendProgress{id, Uuid::random(), QStringLiteral("海边.mp4"), QStringLiteral("iPhone"), 250, 1000});
    EXPECT_EQ(row.findChild<QLabel*>(QStringLiteral("destinationLine"))->text(), QStringLiteral("发往：iPhone"));
    EXPECT_EQ(row.fraction(), 0.25);
    auto* bar = row.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    EXPECT_EQ(bar->value(), ActiveDownloadRow::progressSteps / 4);
    row.setProgress({id, row.progress().shareID, QStringLiteral("海边.mp4"), QStringLiteral("iPhone"), 1000, 1000});
    EXPECT_EQ(bar->value(), bar->maximum());
    QSignalSpy cancelled(&row, &ActiveDownloadRow::cancelRequested);
    row.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    ASSERT_EQ(cancelled.size(), 1);
    EXPECT_EQ(cancelled.front().front().value<Uuid>(), id);
}

TEST(SharedItemRow, SaysWhenItsFileHasGoneAndEndsItsShare)
{
    SharedItem item{.id = Uuid::random(),
                    .kind = SharedItem::Kind::file,
                    .name = "report.pdf",
                    .path = "/home/me/report.pdf",
                    .text = {},
                    .byteCount = 2500,
                    .missing = false};
    SharedItemRow row(item);
    EXPECT_EQ(row.findChild<ElidedLabel*>(QStringLiteral("sharedName"))->fullText(), QStringLiteral("report.pdf"));
    EXPECT_TRUE(row.findChild<QLabel*>(QStringLiteral("missingNote"))->isHidden());
    row.setMissing(true);
    EXPECT_FALSE(row.findChild<QLabel*>(QStringLiteral("missingNote"))->isHidden());
    QSignalSpy removed(&row, &SharedItemRow::removeRequested);
    auto* stop = row.findChild<QToolButton*>(QStringLiteral("stopSharingButton"));
    EXPECT_EQ(stop->toolTip(), QStringLiteral("停止分享"));
    stop->click();
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.front().front().value<Uuid>(), item.id);

    item.kind = SharedItem::Kind::text;
    item.text = "\n  Wi-Fi 密码：4821\n第二行";
    EXPECT_EQ(SharedItemRow(item).findChild<ElidedLabel*>(QStringLiteral("sharedName"))->fullText(),
              QStringLiteral("  Wi-Fi 密码：4821 …"));
}

class TransferRowTest : public testing::Test
{
protected:
    TransferRowTest()
        : loader(canned().operations())
    {}

    static test::CannedAudio canned()
    {
        test::CannedAudio audio;
        audio.durations["/received/song.mp3"] = 65.5;
        audio.formats["/received/song.mp3"] = {48000, 0, 320};
        audio.formats["/received/LOUD.WAV"] = {44100, 16, 1411};
        audio.waveforms["/received/song.mp3"] = test::stereoSamples();
        return audio;
    }

    void showAndLoad(QWidget& widget)
    {
        widget.resize(500, widget.sizeHint().height());
        widget.show();
        test::deliverLoaderAnswers(loader);
    }

    test::PlaybackRig rig;
    AudioWaveformLoader loader;
};

TEST_F(TransferRowTest, NonAudioCardShowsNoTimeCaptionOrWaveform)
{
    TransferRow card(recordOf(QStringLiteral("report.pdf")), true, rig.controller(), loader);
    showAndLoad(card);
    EXPECT_FALSE(card.isAudio());
    EXPECT_EQ(card.findChild<AudioWaveformView*>(), nullptr);
    EXPECT_EQ(card.findChild<AudioFormatCaption*>(), nullptr);
    EXPECT_EQ(card.findChild<QLabel*>(QStringLiteral("timeText")), nullptr);
    EXPECT_TRUE(card.timeText().isEmpty());
}

TEST_F(TransferRowTest, AudioCardShowsItsDurationCaptionAndWaveform)
{
    TransferRow card(recordOf(QStringLiteral("song.mp3")), true, rig.controller(), loader);
    EXPECT_EQ(card.timeText(), QStringLiteral("--:--.--")); // while the duration loads
    showAndLoad(card);
    EXPECT_EQ(card.timeText(), QStringLiteral("01:05.50"));
    EXPECT_EQ(card.findChild<AudioFormatCaption*>()->formatText(), QStringLiteral("48 kHz \u00B7 320 kbps"));
    EXPECT_TRUE(card.findChild<AudioWaveformView*>()->isVisible());

    card.setShowWaveform(false); // the caption stays; time and waveform go
    EXPECT_TRUE(card.timeText().isEmpty());
    EXPECT_FALSE(card.findChild<AudioWaveformView*>()->isVisible());
    EXPECT_TRUE(card.findChild<AudioFormatCaption*>()->isVisible());
}

TEST_F(TransferRowTest, ActiveCardShowsTheControllersRunningTime)
{
    const ReceivedFileRecord record = recordOf(QStringLiteral("song.mp3"));
    const QUrl url = fileURLOf(record);
    rig.addFile(url, {48000, 2, 480000});
    TransferRow card(record, true, rig.controller(), loader);
    showAndLoad(card);
    rig.controller().seek(0.25, url);
    EXPECT_EQ(card.timeText(), QStringLiteral("00:02.50 / 00:10.00"));
    rig.controller().stop();
    EXPECT_EQ(card.timeText(), QStringLiteral("01:05.50"));
}

TEST_F(TransferRowTest, CardRemovedDuringADragLeavesTheControllerReady)
{
    const ReceivedFileRecord record = recordOf(QStringLiteral("song.mp3"));
    rig.addFile(fileURLOf(record), {48000, 2, 480000});
    auto card = std::make_unique<TransferRow>(record, true, rig.controller(), loader);
    showAndLoad(*card);
    auto* waveform = card->findChild<AudioWaveformView*>();
    ASSERT_GT(waveform->trackWidth(), 1);
    QTest::mousePress(waveform, Qt::LeftButton, {}, QPoint(10, 40));
    ASSERT_TRUE(rig.controller().isScrubbing());
    card.reset(); // the list changed under the pointer
    EXPECT_FALSE(rig.controller().isScrubbing());
    EXPECT_EQ(rig.controller().activeURL(), fileURLOf(record));
}

TEST_F(TransferRowTest, CardWithoutAReadableDurationKeepsThePlaceholder)
{
    TransferRow card(recordOf(QStringLiteral("LOUD.WAV")), true, rig.controller(), loader); // upper case is audio
    showAndLoad(card);
    EXPECT_TRUE(card.isAudio());
    EXPECT_EQ(card.timeText(), QStringLiteral("--:--.--"));
    EXPECT_EQ(card.findChild<AudioFormatCaption*>()->formatText(), QStringLiteral("44.1 kHz \u00B7 16-bit"));
}

TEST_F(TransferRowTest, BlankDeviceFolderShowsNoSourceLine)
{
    TransferRow named(recordOf(QStringLiteral("a.txt"), QStringLiteral("Pixel 8")), true, rig.controller(), loader);
    ASSERT_NE(named.findChild<QLabel*>(QStringLiteral("sourceLine")), nullptr);
    EXPECT_EQ(named.findChild<QLabel*>(QStringLiteral("sourceLine"))->text(), QStringLiteral("来自：Pixel 8"));
    for (const QString& blank : {QString(), QStringLiteral("   ")}) {
        TransferRow card(recordOf(QStringLiteral("a.txt"), blank), true, rig.controller(), loader);
        EXPECT_EQ(card.findChild<QLabel*>(QStringLiteral("sourceLine")), nullptr) << blank.size();
    }
}

TEST_F(TransferRowTest, ListRowShortensLongNamesInTheMiddleAndRevealsOnDoubleClick)
{
    // Markup in a sender's name is shown as the characters it is, in the row and in its tool tip.
    const QString longName =
        QStringLiteral("a very long file name <b>that</b> cannot possibly fit into this row at all.pdf");
    TransferFinderListRow row(recordOf(longName), loader);
    row.resize(360, row.sizeHint().height());
    row.show();
    const auto* name = row.findChild<ElidedLabel*>(QStringLiteral("fileName"));
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->text().contains(QChar(0x2026)));
    EXPECT_TRUE(name->text().startsWith(QStringLiteral("a very")));
    EXPECT_TRUE(name->text().endsWith(QStringLiteral(".pdf")));
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_EQ(QTextDocumentFragment::fromHtml(name->toolTip()).toPlainText(), longName);
    EXPECT_EQ(row.findChild<AudioFormatCaption*>(), nullptr);

    QSignalSpy revealed(&row, &TransferFinderListRow::revealRequested);
    QTest::mouseDClick(row.findChild<QLabel*>(QStringLiteral("fileSize")), Qt::LeftButton);
    EXPECT_EQ(revealed.size(), 1);
    row.findChild<QToolButton*>(QStringLiteral("revealButton"))->click();
    EXPECT_EQ(revealed.size(), 2);
    EXPECT_EQ(row.findChild<QToolButton*>(QStringLiteral("revealButton"))->toolTip(),
              QStringLiteral("在文件管理器中显示"));
}

TEST(TransferFileIcon, ShowsTheDocSymbolForNamesOfNoKnownType)
{
    EXPECT_EQ(knownFileType(QStringLiteral("README")), std::nullopt);
    EXPECT_EQ(knownFileType(QStringLiteral("notes.")), std::nullopt);
    EXPECT_EQ(knownFileType(QStringLiteral("data.zzqq")), std::nullopt);
    EXPECT_EQ(knownFileType(QStringLiteral("ticket.pdf")), QStringLiteral("application/pdf"));
    EXPECT_EQ(knownFileType(QStringLiteral("take.WAV")), QStringLiteral("audio/x-wav"));
}

TEST(TransferSourceSectionHeader, ShowsTheSourceAndItsCount)
{
    TransferSourceSectionHeader header(QStringLiteral("未分类"), 12);
    EXPECT_EQ(header.sourceText(), QStringLiteral("未分类"));
    EXPECT_EQ(header.countText(), QStringLiteral("(12)"));
}

// Takes the place of the desktop's handler for file: addresses.
class OpenedURLs final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

TEST(FileReveal, OpensTheFoldersFileManagerWhenNoneAnswersOnTheBus)
{
    OpenedURLs opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
    revealInFileManager(QStringLiteral("/received/iPhone/photo.jpg"), QDBusConnection(QStringLiteral("no bus")));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls.front(), QUrl::fromLocalFile(QStringLiteral("/received/iPhone")));
}

} // namespace
} // namespace ferrylantern

#include "TransferRowTests.moc"
