// The questions to the user in dialogs over the real model: when they appear, what they say, which
// buttons they offer, and what each button answers.
#include "tests/support/HttpTestClient.h"
#include "tests/ui/ViewTestSupport.h"
#include "ui/ConfirmationAlerts.h"
#include "ui/ConfirmationMessages.h"
#include "ui/TransferTexts.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace ferrylantern::test {
namespace {

QStringList buttonTexts(const QMessageBox* dialog)
{
    QStringList texts;
    for (const auto* button : dialog->buttons()) {
        texts.append(button->text());
    }
    return texts;
}

QAbstractButton* button(const QMessageBox* dialog, const QString& text)
{
    for (auto* candidate : dialog->buttons()) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

class Dialogs : public ::testing::Test
{
protected:
    Dialogs()
    {
        ReceiverConfiguration configuration;
        configuration.preferences =
            preferences::PreferenceScope(QString::fromStdString((home.path() / "p.ini").string()));
        configuration.preferredPort = 0;
        configuration.deviceName = QStringLiteral("Test Mac");
        model = std::make_unique<TransferReceiverModel>(configuration);
        model->setRequireReceiveConfirmation(true);
        window.resize(400, 300);
        window.show();
        alerts = std::make_unique<ConfirmationAlerts>(
            *model, &window,
            [this](const ReceiveConfirmationAlertItem& item) {
                return receiveMessage(item, model->confirmations().confirmationQueue());
            },
            [](const DuplicateResolutionAlertItem& item) { return duplicateMessage(item); });
    }

    ~Dialogs() override
    {
        alerts.reset();
        EXPECT_TRUE(model->shutDown(std::chrono::seconds(10)));
    }

    QMessageBox* waitForDialog()
    {
        return QTest::qWaitFor([&] { return alerts->currentDialog() != nullptr; }, 5000) ? alerts->currentDialog()
                                                                                         : nullptr;
    }

    OneShotReply<bool> askSingle(const QString& name, ReceiveKind kind = ReceiveKind::file)
    {
        auto [reply, waiter] = makeOneShotReply<bool>(false);
        model->confirmations().waitForReceiveConfirmation({Uuid::random(), name.toStdString(), "Phone", 1000, kind},
                                                          reply, model->confirmations().confirmationEpoch());
        waiters.push_back(waiter);
        return reply;
    }

    OneShotReply<DuplicateFileResolution> askDuplicate(const QString& name)
    {
        auto [reply, waiter] = makeOneShotReply<DuplicateFileResolution>(DuplicateFileResolution::cancel);
        model->duplicates().waitForDuplicateResolution(
            {Uuid::random(), name.toStdString(), "Phone", "/x/" + name.toStdString()}, reply);
        duplicateWaiters.push_back(waiter);
        return reply;
    }

    ScopedHome home;
    std::unique_ptr<TransferReceiverModel> model;
    QWidget window;
    std::unique_ptr<ConfirmationAlerts> alerts;
    std::vector<ReplyWaiter<bool>> waiters;
    std::vector<ReplyWaiter<DuplicateFileResolution>> duplicateWaiters;
};

TEST_F(Dialogs, ABatchOfTenRaisesOneDialogAfterEightyMilliseconds)
{
    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->isRunning(); }, 5000));
    std::string files;
    for (int i = 1; i <= 10; ++i) {
        files += std::string(i > 1 ? "," : "") + R"({"filename":"f)" + std::to_string(i) + R"(.txt","byteCount":3})";
    }
    const auto port = *model->port();
    auto preflight = std::async(std::launch::async, [port, files] {
        return sendRequest(port, buildRequest("POST", "/v1/upload/preflight/batch", "",
                                              R"({"device":"Phone","files":[)" + files + "]}"));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->confirmations().confirmationQueue().size() == 10; }, 5000));
    QElapsedTimer sinceQueued;
    sinceQueued.start();
    auto* dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_GE(sinceQueued.elapsed(), 60); // scheduled, not immediate
    EXPECT_EQ(dialog->text(), QStringLiteral("是否接收 10 个文件？"));
    // Eight files are listed, the rest counted.
    const auto lines = dialog->informativeText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 12);
    EXPECT_EQ(lines[0], QStringLiteral("共 10 个文件等待确认："));
    EXPECT_EQ(lines[8], QStringLiteral("8. f8.txt（") + fileSizeText(3) + QStringLiteral("）"));
    EXPECT_EQ(lines[9], QStringLiteral("…及其他 2 个文件"));
    EXPECT_EQ(lines.last(), QStringLiteral("来源：Phone"));
    EXPECT_EQ(buttonTexts(dialog), (QStringList{"接收", "接收所有（10）", "拒绝此项", "全部拒绝"}));
    const auto rejectAll = button(dialog, QStringLiteral("全部拒绝"))->palette();
    EXPECT_GE(contrastRatio(rejectAll.color(QPalette::ButtonText), rejectAll.color(QPalette::Button)), 4.5);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    button(dialog, QStringLiteral("接收"))->click();
    ASSERT_TRUE(arrives(preflight, 5000));
    EXPECT_EQ(preflight.get().status, 200);
}

// Escape and closing the dialog give no answer; answering the first of two shows the second alone.
TEST_F(Dialogs, AnsweringTheFirstOfTwoShowsTheSecondWithCountOne)
{
    askSingle(QStringLiteral("a.jpg"));
    askSingle(QStringLiteral("b.jpg"));
    auto* first = waitForDialog();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->text(), QStringLiteral("是否接收 2 个文件？"));
    QTest::keyClick(first, Qt::Key_Escape);
    first->close();
    QCoreApplication::processEvents(); // an answer would have been given by now
    EXPECT_EQ(model->confirmations().confirmationQueue().size(), 2);
    EXPECT_EQ(alerts->currentDialog(), first);
    button(first, QStringLiteral("接收"))->click();
    EXPECT_TRUE(waiters[0].wait());
    auto* second = waitForDialog();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->text(), QStringLiteral("是否接收文件？"));
    EXPECT_EQ(
        second->informativeText(),
        QStringLiteral("文件名：b.jpg\n大小：") + fileSizeText(1000) +
            QStringLiteral("\n确认后将开始传输。点「全部拒绝」后，所选文件在手机端均显示为传输失败。\n来源：Phone"));
    button(second, QStringLiteral("拒绝此项"))->click();
    EXPECT_FALSE(waiters[1].wait());
}

TEST_F(Dialogs, DuplicateDialogsOfferAllButtonsOnlyFromTwoQuestions)
{
    askDuplicate(QStringLiteral("one.txt"));
    auto* single = waitForDialog();
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->text(), QStringLiteral("文件已存在"));
    EXPECT_EQ(single->informativeText(),
              QStringLiteral("目标文件夹中已有同名文件。\n文件名：one.txt\n来源：Phone\n已有文件：/x/one.txt"));
    EXPECT_EQ(buttonTexts(single), (QStringList{"覆盖", "保留两者", "全部拒绝"}));
    askDuplicate(QStringLiteral("two.txt"));
    button(single, QStringLiteral("保留两者"))->click();
    EXPECT_EQ(duplicateWaiters[0].wait(), DuplicateFileResolution::keepCopy);
    askDuplicate(QStringLiteral("three.txt"));
    auto* next = waitForDialog();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(buttonTexts(next), (QStringList{"覆盖", "保留两者", "全部覆盖（2）", "全部保留两者（2）", "全部拒绝"}));
    EXPECT_EQ(next->informativeText(),
              QStringLiteral("目标文件夹中已有同名文件。\n文件名：two.txt\n来源：Phone\n已有文件：/x/two.txt\n\n"
                             "共 2 个同名冲突等待处理。点「全部拒绝」后，本批文件在手机端均显示为传输失败。"));
    button(next, QStringLiteral("全部覆盖（2）"))->click();
    EXPECT_EQ(duplicateWaiters[1].wait(), DuplicateFileResolution::overwrite);
    EXPECT_EQ(duplicateWaiters[2].wait(), DuplicateFileResolution::overwrite);
    EXPECT_TRUE(QTest::qWaitFor([&] { return alerts->currentDialog() == nullptr; }, 5000));
}

// A name made of markup must not paint another name, size and sender into the dialog. A text from the phone
// is asked about as a text: its first line, its size, its sender.
TEST_F(Dialogs, NamesMadeOfMarkupAreShownLiterallyAndATextIsAskedAboutAsAText)
{
    const QString spoof = QStringLiteral(
        "<p><img src=x>IMG_2041.HEIC, 2.4 MB, <b>小明的 iPhone</b></p><p style='display:none'>payload.sh");
    askSingle(spoof);
    auto* dialog = waitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->textFormat(), Qt::PlainText);
    EXPECT_TRUE(dialog->informativeText().contains(spoof));
    for (const auto* label : dialog->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
    button(dialog, QStringLiteral("拒绝此项"))->click();

    askSingle(QStringLiteral("<b>会议</b> 改到三点"), ReceiveKind::text);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return alerts->currentDialog() && alerts->currentDialog()->text() == QStringLiteral("是否接收文字？"); },
        5000));
    const QString asked = alerts->currentDialog()->informativeText();
    EXPECT_TRUE(asked.startsWith(QStringLiteral("文字：<b>会议</b> 改到三点\n大小：")));
    EXPECT_TRUE(asked.endsWith(QStringLiteral("来源：Phone")));
    // Among other questions it is listed as a text.
    QList<PendingReceiveConfirmation> queue{
        {Uuid::random(), QStringLiteral("a.jpg"), QStringLiteral("Phone"), 1000},
        {Uuid::random(), QStringLiteral("会议"), QStringLiteral("Phone"), 6, ReceiveKind::text}};
    EXPECT_TRUE(receiveMessage({queue.first(), 2}, queue)
                    .contains(QStringLiteral("2. 文字“会议”（") + fileSizeText(6) + QStringLiteral("）")));
}

// A question a same-name question pushed aside comes back when that is answered. The server gives a
// question up when its sender hangs up; the dialog goes with it, unanswered.
TEST_F(Dialogs, ADisplacedQuestionComesBackAndOneWhoseSenderHungUpGoes)
{
    askSingle(QStringLiteral("gone.txt"));
    ASSERT_NE(waitForDialog(), nullptr);
    EXPECT_EQ(alerts->currentKind(), ConfirmationAlerts::Kind::receive);
    askDuplicate(QStringLiteral("dup.txt"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts->currentKind() == ConfirmationAlerts::Kind::duplicate; }, 5000));
    button(alerts->currentDialog(), QStringLiteral("覆盖"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts->currentKind() == ConfirmationAlerts::Kind::receive; }, 5000));

    auto stays = askSingle(QStringLiteral("stays.txt"));
    model->withdrawQuestion(model->confirmations().confirmationQueue().front().id);
    EXPECT_EQ(model->confirmations().confirmationQueue().size(), 1);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return alerts->currentDialog() != nullptr &&
                   alerts->currentDialog()->informativeText().contains(QStringLiteral("stays.txt"));
        },
        5000));
    EXPECT_FALSE(stays.isResumed());
    button(alerts->currentDialog(), QStringLiteral("接收"))->click();
    EXPECT_TRUE(waiters[1].wait());
}

} // namespace
} // namespace ferrylantern::test
