// The main window with the real model and server on 127.0.0.1: starting on first show, uploads in
// flight and finished, the list by source, the toolbar's rules, texts and shares.
#include "tests/support/HttpTestClient.h"
#include "tests/ui/ViewTestSupport.h"
#include "ui/ActiveDownloadRow.h"
#include "ui/ActiveReceiveRow.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/ReceivedTextRow.h"
#include "ui/ShareSection.h"
#include "ui/SharedItemRow.h"
#include "ui/SidebarView.h"
#include "ui/SymbolWidgets.h"
#include "ui/TransferCardList.h"
#include "ui/TransferListView.h"
#include "ui/TransferRow.h"
#include "ui/TransferSourceList.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>

namespace ferrylantern::test {
namespace {

ReceivedFileRecord record(const std::string& device, const std::string& name, int secondsAgo)
{
    return {Uuid::random(), name,  10, std::chrono::system_clock::now() - std::chrono::seconds(secondsAgo),
            "/tmp/" + name, device};
}

class MainWindow : public ::testing::Test
{
protected:
    MainWindow()
    {
        window = std::make_unique<ContentView>(configuration(), *preferences, rig.controller(), loader);
        window->resize(1000, 700);
    }

    ~MainWindow() override
    {
        window->model().rejectAllConfirmations();
        window->model().stop();
    }

    void showAndWaitForStart()
    {
        window->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->model().isRunning(); }, 5000));
    }

    std::uint16_t port() { return *window->model().port(); }

    ReceiverConfiguration configuration(const std::optional<std::filesystem::path>& history = std::nullopt)
    {
        ReceiverConfiguration configuration;
        configuration.preferences = preferences->scope();
        configuration.preferredPort = 0;
        if (history) {
            configuration.historyFile = QString::fromStdString(history->string());
        }
        return configuration;
    }

    template <typename Widget>
    Widget* find(const char* name)
    {
        return window->findChild<Widget*>(QString::fromLatin1(name));
    }

    ScopedHome home; // first: the model's default save folder lies in it
    TemporaryPreferences preferences;
    CannedAudio audio;
    AudioWaveformLoader loader{audio.operations()};
    PlaybackRig rig;
    std::unique_ptr<ContentView> window;
};

TEST_F(MainWindow, StartsReceivingWhenFirstShownTheSwitchStopsItAndFailuresAreSaid)
{
    EXPECT_FALSE(window->model().isRunning());
    showAndWaitForStart();
    EXPECT_EQ(find<QLabel>("statusText")->text(), QStringLiteral("正在接收 · 端口 %1").arg(port()));
    EXPECT_TRUE(find<QCheckBox>("allowReceive")->isChecked());

    find<QCheckBox>("allowReceive")->setChecked(false);
    EXPECT_FALSE(window->model().isRunning());
    EXPECT_EQ(find<QLabel>("statusText")->text(), "未启动");
    EXPECT_FALSE(find<QWidget>("addressSection")->isVisible());
    EXPECT_FALSE(find<QLabel>("noAddressHint")->isVisible());
    EXPECT_TRUE(find<QLabel>("savePath")->isVisible());

    // A file where the save folder should be: switched on, the start fails, the switch goes back off and the
    // window says why.
    const auto folder = window->model().saveDirectory().toStdString();
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "a file where the folder should be";
    find<QCheckBox>("allowReceive")->setChecked(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !find<QCheckBox>("allowReceive")->isChecked(); }, 5000));
    EXPECT_FALSE(window->model().isRunning());
    EXPECT_TRUE(find<QLabel>("errorMessage")->isVisible());
    EXPECT_FALSE(find<QLabel>("errorMessage")->text().isEmpty());
    std::filesystem::remove(folder);

    // A damaged history is set aside; the window says where it went and starts anyway.
    const auto history = home.path() / "recent-transfers.json";
    std::ofstream(history) << "{ not a history";
    ContentView restarted(configuration(history), *preferences, rig.controller(), loader);
    restarted.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return restarted.model().isRunning(); }, 5000));
    auto* note = restarted.findChild<QLabel*>(QStringLiteral("errorMessage"));
    EXPECT_TRUE(note->isVisible());
    ASSERT_TRUE(restarted.model().damagedHistoryFile());
    EXPECT_TRUE(note->text().contains(*restarted.model().damagedHistoryFile()));
    restarted.model().stop();
}

// Two uploads in flight: the one cancelled from its row ends at once, the other finishes as a card even
// after receiving is switched off.
TEST_F(MainWindow, UploadsInFlightShowAsRowsThatCanBeCancelledOrFinishAsCardsThatNoticeTheirFileHasGone)
{
    showAndWaitForStart();
    TestConnection upload(port());
    upload.send("POST /v1/upload?filename=song.txt&device=Phone HTTP/1.1\r\nContent-Length: 10\r\n\r\nhalf-");
    TestConnection cancelled(port());
    cancelled.send("POST /v1/upload?filename=big.bin&device=Phone HTTP/1.1\r\nContent-Length: 1000000\r\n\r\nstart");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->transfers()->activeRows().size() == 2; }, 5000));
    EXPECT_EQ(find<QLabel>("toolbarTitle")->text(), "正在接收");
    auto* viewMode = find<SymbolButton>("viewModeButton");
    EXPECT_FALSE(viewMode->isEnabled());
    EXPECT_EQ(viewMode->toolTip(), "传输过程中无法切换视图");

    for (auto* row : window->transfers()->activeRows()) {
        if (row->progress().fileName == QLatin1String("big.bin")) {
            row->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        }
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->transfers()->activeRows().size() == 1; }, 5000));
    EXPECT_EQ(cancelled.readAll(), "");
    // Switched off, the upload still in flight finishes.
    find<QCheckBox>("allowReceive")->setChecked(false);
    EXPECT_EQ(find<QLabel>("toolbarTitle")->text(), "正在完成传输");

    upload.send("done!");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->transfers()->cards().size() == 1; }, 5000));
    EXPECT_TRUE(window->transfers()->activeRows().isEmpty());
    EXPECT_EQ(window->transfers()->cards().first()->record().fileName, "song.txt");
    EXPECT_TRUE(viewMode->isEnabled());
    EXPECT_EQ(find<QLabel>("toolbarTitle")->text(), "已接收文件");

    // A received file that has gone shows as missing once the user comes back to the window, and its
    // record can be removed.
    const auto kept = home.path() / "kept.txt";
    std::ofstream(kept) << "content";
    window->model().handleFileReceived(
        {Uuid::random(), "kept.txt", 7, std::chrono::system_clock::now(), kept, "Phone"});
    ASSERT_EQ(window->transfers()->cards().size(), 2);
    auto* goneCard = window->transfers()->cards().last();
    auto* keptCard = window->transfers()->cards().first();
    ASSERT_EQ(goneCard->record().fileName, "song.txt");
    std::filesystem::remove(goneCard->record().fileURL);
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isActiveWindow(); }, 5000));
    EXPECT_FALSE(goneCard->isMissing());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return goneCard->isMissing(); }, 5000));
    EXPECT_FALSE(keptCard->isMissing());
    EXPECT_TRUE(goneCard->findChild<QLabel*>(QStringLiteral("missingNote"))->isVisibleTo(goneCard));
    EXPECT_FALSE(goneCard->findChild<QToolButton*>(QStringLiteral("revealButton"))->isVisibleTo(goneCard));
    EXPECT_FALSE(keptCard->findChild<QToolButton*>(QStringLiteral("removeButton"))->isVisibleTo(keptCard));
    QTest::mouseClick(goneCard->findChild<QToolButton*>(QStringLiteral("removeButton")), Qt::LeftButton);
    ASSERT_EQ(window->model().recentTransfers().size(), 1);
    EXPECT_EQ(window->model().recentTransfers().first().fileName, "kept.txt");
    EXPECT_EQ(window->transfers()->cards().size(), 1);
}

// Texts among files: a text is a row to copy, a link one to open; the list by source puts each in its
// sender's section, in the file browser's order, and rests the waveform button.
TEST_F(MainWindow, ATextFromThePhoneIsARowToCopyALinkOneToOpenAndTheListGroupsBySource)
{
    showAndWaitForStart();
    window->model().handleFileReceived(record("Phone 10", "a.txt", 3));
    window->model().handleFileReceived(record("Phone 2", "b.txt", 2));
    window->model().handleFileReceived(record(" ", "c.txt", 1));
    QGuiApplication::clipboard()->clear();
    const auto sent = sendRequest(port(), buildRequest("POST", "/v1/text?device=Phone", "",
                                                       R"({"text":"第一行\n<i>第二行</i>\n第三行\n第四行"})"));
    ASSERT_EQ(sent.status, 200);
    auto* cards = find<TransferCardList>("cardScroll");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cards->textCards().size() == 1; }, 5000));
    EXPECT_EQ(window->transfers()->mode(), TransferListView::Mode::cards);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString()); // copied only when asked

    // A plain string: moc reads "//" in a raw string as the start of a comment.
    const std::string link = "{\"text\":\"https://example.com/x\"}";
    ASSERT_EQ(sendRequest(port(), buildRequest("POST", "/v1/text?device=Tablet", "", link)).status, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cards->textCards().size() == 2; }, 5000));
    const OpenedURLs opened(QStringLiteral("https"));
    cards->textCards().first()->findChild<QPushButton*>(QStringLiteral("openLinkButton"))->click();
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("https://example.com/x"))});

    find<SymbolButton>("viewModeButton")->click();
    EXPECT_TRUE(preferences->listBySource());
    EXPECT_EQ(window->transfers()->mode(), TransferListView::Mode::list);
    EXPECT_EQ(window->transfers()->listSections(), (QStringList{"Phone", "Phone 2", "Phone 10", "Tablet", "未分类"}));
    EXPECT_FALSE(find<SymbolButton>("waveformButton")->isEnabled());
    auto* list = find<TransferSourceList>("listScroll");
    const auto& records = window->model().recentTransfers();
    ASSERT_NE(list->textRowFor(records.at(1).id), nullptr);
    EXPECT_EQ(list->rowFor(records.at(1).id), nullptr);
    EXPECT_TRUE(list->textRowFor(records.at(0).id)->link());
    find<SymbolButton>("viewModeButton")->click();
    EXPECT_TRUE(preferences->showAudioWaveform()); // unchanged while the list was shown

    // With the setting on, each text is copied as it arrives.
    preferences->setCopyReceivedTextToClipboard(true);
    ASSERT_EQ(sendRequest(port(), buildRequest("POST", "/v1/text?device=Phone", "", R"({"text":"门禁 4821"})")).status,
              200);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::clipboard()->text() == "门禁 4821"; }, 5000));
    find<SymbolButton>("clearButton")->click();
    EXPECT_EQ(window->transfers()->mode(), TransferListView::Mode::empty);
}

TEST_F(MainWindow, DroppedFilesAreSharedAndTheirDownloadsShowWithProgress)
{
    showAndWaitForStart();
    auto* shares = window->sidebar()->shareSection();
    EXPECT_TRUE(find<QLabel>("shareHint")->isVisible());
    const auto shared = home.path() / "clip.mp4";
    std::ofstream(shared, std::ios::binary) << std::string(48 * 1024 * 1024, 'v');

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(shared.string())),
                   QUrl::fromLocalFile(QString::fromStdString(home.path().string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    ASSERT_EQ(shares->shareRows().size(), 1);
    EXPECT_FALSE(find<QLabel>("shareHint")->isVisible());
    EXPECT_TRUE(shares->failureText().contains(QStringLiteral("只能分享文件")));
    const auto item = shares->shareRows().first()->item();
    EXPECT_EQ(item.name, "clip.mp4");

    // A phone that takes its time: the download shows, then the desktop cancels it.
    TestConnection phone(port());
    phone.send(buildRequest("GET", "/v1/shared/" + item.id.text() + "?device=Phone"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shares->downloadRows().size() == 1; }, 5000));
    EXPECT_TRUE(find<QLabel>("downloadsHeader")->isVisible());
    EXPECT_EQ(shares->downloadRows().first()->findChild<QLabel*>(QStringLiteral("destinationLine"))->text(),
              QStringLiteral("发往：Phone"));
    shares->downloadRows().first()->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shares->downloadRows().isEmpty(); }, 5000));
    EXPECT_FALSE(find<QLabel>("downloadsHeader")->isVisible());

    // A text pasted from the clipboard, named by its first line, and a share ended from its row.
    QGuiApplication::clipboard()->setText(QStringLiteral("\n会议室 302\n三楼"));
    find<QPushButton>("shareTextButton")->click();
    ASSERT_EQ(shares->shareRows().size(), 2);
    EXPECT_TRUE(shares->failureText().isEmpty());
    QStringList names;
    for (auto* row : shares->shareRows()) {
        names << row->findChild<ElidedLabel*>(QStringLiteral("sharedName"))->fullText();
    }
    EXPECT_TRUE(names.contains(QStringLiteral("会议室 302 …"))) << names.join(QLatin1Char('|')).toStdString();
    QTest::mouseClick(shares->shareRows().first()->findChild<QToolButton*>(QStringLiteral("stopSharingButton")),
                      Qt::LeftButton);
    ASSERT_EQ(shares->shareRows().size(), 1);
    QGuiApplication::clipboard()->clear();
    find<QPushButton>("shareTextButton")->click();
    EXPECT_EQ(shares->failureText(), QStringLiteral("剪贴板中没有文字"));
}

} // namespace
} // namespace ferrylantern::test
