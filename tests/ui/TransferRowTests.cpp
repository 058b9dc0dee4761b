// The rows of the transfer lists on their own: what they show of a record, a text or an upload in
// flight (names from the phone always as plain text), and what their buttons ask for.
#include "tests/ui/ViewTestSupport.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/AudioFormatCaption.h"
#include "ui/AudioWaveformView.h"
#include "ui/ElidedLabel.h"
#include "ui/FileReveal.h"
#include "ui/ReceivedTextRow.h"
#include "ui/TransferFinderListRow.h"
#include "ui/TransferRow.h"
#include "ui/TransferTexts.h"

#include <QClipboard>
#include <QFontInfo>
#include <QGuiApplication>
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

ReceivedFileRecord recordOf(const QString& fileName, const QString& deviceFolder = QStringLiteral("iPhone"))
{
    return ReceivedFileRecord{.id = Uuid::random(),
                              .fileName = fileName.toStdString(),
                              .byteCount = 1000,
                              .receivedAt = std::chrono::system_clock::now(),
                              .fileURL = std::filesystem::path("/received") / fileName.toStdString(),
                              .deviceFolder = deviceFolder.toStdString()};
}

void expectPlainText(const QWidget& row)
{
    for (const auto* label : row.findChildren<QLabel*>()) { // names come from the phone
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
}

TEST(ActiveReceiveRow, ShowsAnEmptyBarForAnUnknownTotalAndAFullOneWhenPastIt)
{
    TransferReceiveProgress progress{Uuid::random(), QStringLiteral("a.bin"), {}, 0, 0};
    ActiveReceiveRow row(progress);
    auto* bar = row.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    const auto* source = row.findChild<QLabel*>(QStringLiteral("sourceLine"));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(source->isHidden());

    progress = {progress.id, QStringLiteral("a.bin"), QStringLiteral("<b>Android</b>"), 5200, 4096};
    row.setProgress(progress);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(source->text(), QStringLiteral("来自：<b>Android</b>"));
    expectPlainText(row);
    // Growing numbers move neither the text nor the bar: fixed-width digits in a fixed width.
    const auto* sizes = row.findChild<QLabel*>(QStringLiteral("progressText"));
    EXPECT_TRUE(QFontInfo(sizes->font()).fixedPitch());
    EXPECT_GE(sizes->minimumWidth(), sizes->fontMetrics().horizontalAdvance(sizes->text()));

    // Waiting for the phone is said on the source line until bytes flow again.
    progress.isStalled = true;
    row.setProgress(progress);
    EXPECT_EQ(source->text(), QStringLiteral("来自：<b>Android</b> · 等待手机…"));
    progress.isStalled = false;
    row.setProgress(progress);
    EXPECT_EQ(source->text(), QStringLiteral("来自：<b>Android</b>"));
}

// Only a text that is one web address, and no other kind of address, is offered to be opened.
TEST(TransferTexts, OfferToOpenOnlyATextThatIsOneWebAddress)
{
    EXPECT_EQ(singleWebLink(QStringLiteral("  HTTP://192.168.1.5:8080/x?b=1#c \n")),
              QUrl(QStringLiteral("http://192.168.1.5:8080/x?b=1#c")));
    for (const char* text :
         {"see https://example.com", "https://a.com https://b.com", "https://a.com\nhttps://b.com",
          "javascript:alert(1)", "file:///etc/passwd", "ftp://example.com/f", "https:///nohost", "example.com", ""}) {
        EXPECT_FALSE(singleWebLink(QString::fromUtf8(text))) << text;
    }
}

ReceivedFileRecord textRecord(const QString& text)
{
    return ReceivedFileRecord{.id = Uuid::random(),
                              .fileName = {},
                              .byteCount = text.toUtf8().size(),
                              .receivedAt = std::chrono::system_clock::now(),
                              .fileURL = {},
                              .deviceFolder = "Phone",
                              .text = text.toStdString()};
}

QStringList shownLines(const QWidget& row)
{
    QStringList lines;
    for (const auto* line : row.findChildren<ElidedLabel*>(QStringLiteral("textLine"))) {
        lines.append(line->fullText());
    }
    return lines;
}

TEST(ReceivedTextRow, ACardShowsThreeLinesAListRowOneAsPlainTextAndCopiesTheWholeText)
{
    // Lines that say nothing are passed over.
    const QString text = QStringLiteral("\n  \n<b>not bold</b>\n<img src=x>\r\nthird\nfourth line, not shown");
    EXPECT_EQ(shownLines(ReceivedTextRow(textRecord(text), ReceivedTextRow::Style::listRow)),
              QStringList{QStringLiteral("<b>not bold</b> …")});
    ReceivedTextRow card(textRecord(text), ReceivedTextRow::Style::card);
    card.resize(500, card.sizeHint().height());
    card.show();
    EXPECT_EQ(shownLines(card), (QStringList{QStringLiteral("<b>not bold</b>"), QStringLiteral("<img src=x>"),
                                             QStringLiteral("third …")}));
    EXPECT_EQ(card.findChild<QLabel*>(QStringLiteral("sourceLine"))->text(), QStringLiteral("来自：Phone"));
    EXPECT_EQ(card.findChild<QPushButton*>(QStringLiteral("openLinkButton")), nullptr);
    expectPlainText(card);

    QGuiApplication::clipboard()->clear();
    auto* copy = card.findChild<QPushButton*>(QStringLiteral("copyButton"));
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
    EXPECT_EQ(copy->text(), QStringLiteral("已复制"));
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

TEST_F(TransferRowTest, ACardShowsItsSourceAndForAudioItsDurationCaptionAndWaveform)
{
    const struct
    {
        const char* name;
        const char* device;
        const char* time;
        const char* caption; // none for a file that is not audio
    } cases[] = {
        {"report.pdf", "Pixel 8", "", nullptr},
        {"song.mp3", "   ", "01:05.50", "48 kHz \u00B7 320 kbps"}, // a blank source is not shown
        {"LOUD.WAV", "", "--:--.--", "44.1 kHz \u00B7 16-bit"},    // upper case is audio; no readable duration
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.name);
        TransferRow card(recordOf(QString::fromUtf8(expected.name), QString::fromUtf8(expected.device)), true,
                         rig.controller(), loader);
        showAndLoad(card);
        EXPECT_EQ(card.timeText(), QString::fromUtf8(expected.time));
        EXPECT_EQ(card.isAudio(), expected.caption != nullptr);
        auto* caption = card.findChild<AudioFormatCaption*>();
        EXPECT_EQ(caption ? caption->formatText() : QString(), QString::fromUtf8(expected.caption));
        EXPECT_EQ(card.findChild<AudioWaveformView*>() != nullptr, expected.caption != nullptr);
        auto* source = card.findChild<QLabel*>(QStringLiteral("sourceLine"));
        EXPECT_EQ(source ? source->text() : QString(),
                  QString::fromUtf8(expected.device).trimmed().isEmpty() ? QString() : QStringLiteral("来自：Pixel 8"));
    }

    // The controller's running time while the file is active; without the waveform only the caption stays.
    const ReceivedFileRecord record = recordOf(QStringLiteral("song.mp3"));
    const QUrl url = fileURLOf(record);
    rig.addFile(url, {48000, 2, 480000});
    TransferRow card(record, true, rig.controller(), loader);
    showAndLoad(card);
    rig.controller().seek(0.25, url);
    EXPECT_EQ(card.timeText(), QStringLiteral("00:02.50 / 00:10.00"));
    rig.controller().stop();
    EXPECT_EQ(card.timeText(), QStringLiteral("01:05.50"));
    card.setShowWaveform(false);
    EXPECT_TRUE(card.timeText().isEmpty());
    EXPECT_FALSE(card.findChild<AudioWaveformView*>()->isVisible());
    EXPECT_TRUE(card.findChild<AudioFormatCaption*>()->isVisible());
}

TEST_F(TransferRowTest, ListRowShortensLongNamesInTheMiddleAndRevealsTheFileOnDoubleClick)
{
    // Markup in a sender's name is shown as the characters it is, in the row and in its tool tip.
    const QString longName =
        QStringLiteral("a very long file name <b>that</b> cannot possibly fit into this row at all.pdf");
    TransferFinderListRow row(recordOf(longName), loader);
    row.resize(360, row.sizeHint().height());
    row.show();
    const auto* name = row.findChild<ElidedLabel*>(QStringLiteral("fileName"));
    EXPECT_TRUE(name->text().contains(QChar(0x2026)));
    EXPECT_TRUE(name->text().startsWith(QStringLiteral("a very")));
    EXPECT_TRUE(name->text().endsWith(QStringLiteral(".pdf")));
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_EQ(QTextDocumentFragment::fromHtml(name->toolTip()).toPlainText(), longName);

    QSignalSpy revealed(&row, &TransferFinderListRow::revealRequested);
    QTest::mouseDClick(row.findChild<QLabel*>(QStringLiteral("fileSize")), Qt::LeftButton);
    EXPECT_EQ(revealed.size(), 1);
    row.findChild<QToolButton*>(QStringLiteral("revealButton"))->click();
    EXPECT_EQ(revealed.size(), 2);
    // Where no file manager answers on the bus, the file's folder is opened.
    const test::OpenedURLs opened;
    revealInFileManager(QStringLiteral("/received/iPhone/photo.jpg"), QDBusConnection(QStringLiteral("no bus")));
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/received/iPhone"))});
}

} // namespace
} // namespace ferrylantern
