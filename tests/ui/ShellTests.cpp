// The application shell's pieces: the QR code (decoded back with zbarimg) and the question texts.
#include "tests/support/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "ui/ConfirmationMessages.h"
#include "ui/QRCodeView.h"
#include "ui/TransferTexts.h"

#include <gtest/gtest.h>

namespace ferrylantern::test {
namespace {

TEST(QRCode, DecodesBackToTheExactAccessURLFromSharpBlackAndWhiteModules)
{
    for (const auto* url : {"http://192.168.1.20:53317/", "http://10.0.0.3:41234/", "http://172.20.200.254:53317/"}) {
        SCOPED_TRACE(url);
        const auto image = makeQRImage(QString::fromLatin1(url), QRCodeView::side);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->size(), QSize(220, 220));
        // The view draws it on white with a 12-point margin; decode what a camera would see.
        QImage panel(244, 244, QImage::Format_RGB32);
        panel.fill(Qt::white);
        for (int y = 0; y < 220; ++y) {
            for (int x = 0; x < 220; ++x) {
                const int gray = qGray(image->pixel(x, y));
                ASSERT_TRUE(gray == 0 || gray == 255) << x << "," << y;
                panel.setPixel(x + 12, y + 12, image->pixel(x, y));
            }
        }
        const TemporaryFolder folder;
        const auto file = folder.path() / "code.png";
        panel.save(QString::fromStdString(file.string()));
        EXPECT_EQ(scanQRCode(file), url);
    }
}

PendingReceiveConfirmation pending(int index, std::int64_t bytes = 1500000)
{
    return {Uuid::random(), QStringLiteral("photo%1.jpg").arg(index), QStringLiteral("iPhone"), bytes};
}

TEST(ConfirmationMessages, OneFileNamesItsSizeAndSource)
{
    const auto file = pending(1);
    EXPECT_EQ(
        receiveMessage({file, 1}, {file}),
        QStringLiteral("文件名：photo1.jpg\n大小：") + fileSizeText(1500000) +
            QStringLiteral("\n确认后将开始传输。点「全部拒绝」后，所选文件在手机端均显示为传输失败。\n来源：iPhone"));
}

TEST(ConfirmationMessages, ABatchListsEightFilesAndCountsTheRest)
{
    QList<PendingReceiveConfirmation> queue;
    for (int i = 1; i <= 10; ++i) {
        queue.append(pending(i, 1000));
    }
    const auto text = receiveMessage({queue.first(), queue.size()}, queue);
    const auto lines = text.split(QLatin1Char('\n'));
    EXPECT_EQ(lines[0], QStringLiteral("共 10 个文件等待确认："));
    EXPECT_EQ(lines[1], QStringLiteral("1. photo1.jpg（") + fileSizeText(1000) + QStringLiteral("）"));
    EXPECT_EQ(lines[8], QStringLiteral("8. photo8.jpg（") + fileSizeText(1000) + QStringLiteral("）"));
    EXPECT_EQ(lines[9], QStringLiteral("…及其他 2 个文件"));
    EXPECT_EQ(lines.last(), QStringLiteral("来源：iPhone"));
    EXPECT_EQ(text.count(QStringLiteral("photo")), 8);
}

TEST(ConfirmationMessages, DuplicateTextMentionsTheQueueFromTwoUp)
{
    const PendingDuplicateResolution file{Uuid::random(), QStringLiteral("a.txt"), QStringLiteral("Phone"),
                                          QStringLiteral("/home/u/Downloads/FerryLantern/Phone/a.txt")};
    const QString one = QStringLiteral("目标文件夹中已有同名文件。\n文件名：a.txt\n来源：Phone\n已有文件："
                                       "/home/u/Downloads/FerryLantern/Phone/a.txt");
    EXPECT_EQ(duplicateMessage({file, 1}), one);
    EXPECT_EQ(duplicateMessage({file, 3}),
              one +
                  QStringLiteral("\n\n共 3 个同名冲突等待处理。点「全部拒绝」后，本批文件在手机端均显示为传输失败。"));
}

} // namespace
} // namespace ferrylantern::test
