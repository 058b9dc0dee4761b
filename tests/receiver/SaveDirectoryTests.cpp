// The save folder: default, choice, remembering and falling back.
#include "receiver/SaveDirectory.h"
#include "tests/receiver/ReceiverFixture.h"

#include <QDir>

namespace ferrylantern::test {
namespace {

class SaveFolder : public ReceiverTest
{
protected:
    QString folder(const std::string& name) const { return QString::fromStdString((home.path() / name).string()); }
};

TEST_F(SaveFolder, WithoutPreferencesItIsTheDownloadsFolderPlusFerryLantern)
{
    EXPECT_EQ(defaultSaveDirectory(), folder("Downloads/FerryLantern"));
    model = makeModel();
    EXPECT_EQ(model->saveDirectory(), folder("Downloads/FerryLantern"));
    EXPECT_FALSE(model->usesCustomSaveDirectory());
    EXPECT_TRUE(QDir(model->saveDirectory()).exists()); // created at construction
}

TEST_F(SaveFolder, AChosenFolderIsRememberedAcrossLaunches)
{
    model = makeModel();
    model->setSaveDirectory(folder("Chosen"), true);
    const auto again = makeModel();
    EXPECT_EQ(again->saveDirectory(), folder("Chosen"));
    EXPECT_TRUE(again->usesCustomSaveDirectory());
}

TEST_F(SaveFolder, ReturningToTheDefaultForgetsTheChoice)
{
    model = makeModel();
    model->setSaveDirectory(folder("Chosen"), true);
    model->setSaveDirectory(defaultSaveDirectory(), false);
    const auto settings = scope.open();
    EXPECT_FALSE(settings->contains(preferences::saveDirectoryBookmark));
    EXPECT_FALSE(settings->value(preferences::saveDirectoryUserSelected).toBool());
    EXPECT_EQ(makeModel()->saveDirectory(), defaultSaveDirectory());
}

TEST_F(SaveFolder, AChosenFolderThatVanishedFallsBackSilently)
{
    model = makeModel();
    model->setSaveDirectory(folder("Gone"), true);
    model.reset();
    QDir(folder("Gone")).removeRecursively();
    model = makeModel();
    EXPECT_EQ(model->saveDirectory(), defaultSaveDirectory());
    EXPECT_TRUE(model->usesCustomSaveDirectory()); // the preference stays; the next launch tries again
    EXPECT_FALSE(model->errorMessage());
}

TEST_F(SaveFolder, AFolderThatCannotBeCreatedKeepsTheOldOne)
{
    model = makeModel();
    const auto before = model->saveDirectory();
    QFile blocker(folder("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    model->setSaveDirectory(folder("blocker/inside"), true);
    EXPECT_EQ(model->saveDirectory(), before);
    EXPECT_EQ(
        model->errorMessage(),
        QStringLiteral("无法创建保存文件夹 “%1”：路径中有一项是文件，不是文件夹。").arg(folder("blocker/inside")));
    EXPECT_FALSE(scope.open()->value(preferences::saveDirectoryUserSelected).toBool());
}

} // namespace
} // namespace ferrylantern::test
