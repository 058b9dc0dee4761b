// What the model remembers across launches: the save folder (default, choice, falling back) and whether
// uploads wait for the desktop's answer.
#include "receiver/SaveDirectory.h"
#include "tests/receiver/ReceiverFixture.h"

#include <QDir>
#include <QSignalSpy>

namespace ferrylantern::test {
namespace {

class SaveFolder : public ReceiverTest
{
protected:
    void SetUp() override { model = makeModel(); }
    QString folder(const std::string& name) const { return QString::fromStdString((home.path() / name).string()); }
};

TEST_F(SaveFolder, IsTheDownloadsFolderUntilOneIsChosenAndAChoiceIsRememberedOrForgotten)
{
    EXPECT_EQ(model->saveDirectory(), folder("Downloads/FerryLantern"));
    EXPECT_EQ(defaultSaveDirectory(), folder("Downloads/FerryLantern"));
    EXPECT_FALSE(model->usesCustomSaveDirectory());
    EXPECT_TRUE(QDir(model->saveDirectory()).exists()); // created at construction

    model->setSaveDirectory(folder("Chosen"), true);
    EXPECT_EQ(makeModel()->saveDirectory(), folder("Chosen"));
    EXPECT_TRUE(makeModel()->usesCustomSaveDirectory());
    QCoreApplication::processEvents(); // a restart would have been posted by now
    EXPECT_FALSE(model->isStarting() || model->isRunning()) << "a stopped model stays stopped";

    model->setSaveDirectory(defaultSaveDirectory(), false);
    const auto settings = scope.open();
    EXPECT_FALSE(settings->contains(preferences::saveDirectoryBookmark));
    EXPECT_FALSE(settings->value(preferences::saveDirectoryUserSelected).toBool());
    EXPECT_EQ(makeModel()->saveDirectory(), defaultSaveDirectory());
}

TEST_F(SaveFolder, AChosenFolderThatVanishedFallsBackSilentlyAndOneThatCannotBeCreatedKeepsTheOldOne)
{
    model->setSaveDirectory(folder("Gone"), true);
    model.reset();
    QDir(folder("Gone")).removeRecursively();
    model = makeModel();
    EXPECT_EQ(model->saveDirectory(), defaultSaveDirectory());
    EXPECT_TRUE(model->usesCustomSaveDirectory()); // the preference stays; the next launch tries again
    EXPECT_FALSE(model->errorMessage());

    const auto before = model->saveDirectory();
    QFile blocker(folder("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    model->setSaveDirectory(folder("blocker/inside"), true);
    EXPECT_EQ(model->saveDirectory(), before);
    EXPECT_EQ(
        model->errorMessage(),
        QStringLiteral("无法创建保存文件夹 “%1”：路径中有一项是文件，不是文件夹。").arg(folder("blocker/inside")));
    EXPECT_EQ(makeModel()->saveDirectory(), before) << "the failed choice is not remembered";
}

TEST_F(SaveFolder, ChangingItWhileRunningRestartsTheServerOnIt)
{
    startAndWait(*model);
    const auto firstServer = model->httpServer();
    model->setSaveDirectory(folder("Chosen"), true);
    ASSERT_TRUE(waitFor([&] { return model->isRunning() && model->httpServer() != firstServer; }));
    EXPECT_EQ(model->httpServer()->saveDirectory(), folder("Chosen").toStdString());
    const auto reply =
        requestWhileProcessing(*model, buildRequest("POST", "/v1/upload?filename=n.txt&device=P", "", "new"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_TRUE(std::filesystem::exists(home.path() / "Chosen" / "P" / "n.txt"));
}

TEST_F(SaveFolder, RequireConfirmationIsRememberedAndReachesTheServer)
{
    startAndWait(*model);
    QSignalSpy changes(model.get(), &TransferReceiverModel::requireReceiveConfirmationChanged);
    model->setRequireReceiveConfirmation(true);
    model->setRequireReceiveConfirmation(true);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(model->httpServer()->requireReceiveConfirmation());
    EXPECT_TRUE(makeModel()->requireReceiveConfirmation());
}

} // namespace
} // namespace ferrylantern::test
