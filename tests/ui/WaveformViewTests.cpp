// The waveform box driven by pointer and keys against the playback controller on the manual engine, and
// what it draws.
#include "tests/ui/ViewTestSupport.h"
#include "ui/AudioStereoDBFSMeterView.h"
#include "ui/AudioWaveformView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QShortcut>
#include <QTest>

#include <gtest/gtest.h>

namespace ferrylantern {
namespace {

using test::deliverLoaderAnswers;

class WaveformViewTest : public testing::Test
{
protected:
    static constexpr int boxWidth = 300;
    const QUrl monoURL = QUrl::fromLocalFile(QStringLiteral("/music/mono.wav"));
    const QUrl stereoURL = QUrl::fromLocalFile(QStringLiteral("/music/stereo.wav")); // 10 s long

    WaveformViewTest()
        : loader(canned().operations())
    {
        rig.addFile(monoURL, {44100, 1, 441000});
        rig.addFile(stereoURL, {48000, 2, 480000});
    }

    test::CannedAudio canned() const
    {
        test::CannedAudio audio;
        audio.waveforms[monoURL.toLocalFile().toStdString()] = test::monoSamples();
        audio.waveforms[stereoURL.toLocalFile().toStdString()] = test::stereoSamples();
        return audio;
    }

    // A shown view whose box is `width` wide, loaded.
    std::unique_ptr<AudioWaveformView> shownView(const QUrl& url, int width = boxWidth)
    {
        auto view = std::make_unique<AudioWaveformView>(url, rig.controller(), loader);
        view->resize(width + waveform::meterSpacing + view->meterView()->width(), waveform::stereoBoxHeight);
        view->show();
        deliverLoaderAnswers(loader);
        view->resize(width + waveform::meterSpacing + view->meterView()->width(), view->height());
        QApplication::processEvents();
        return view;
    }

    test::PlaybackRig rig;
    AudioWaveformLoader loader;
};

TEST_F(WaveformViewTest, TheBoxFitsTheChannelsOnceLoadedAndStaysTallWhileLoadingOrFailed)
{
    using State = AudioWaveformView::LoadState;
    const struct
    {
        const char* path;
        State state;
        int height;
        int meterWidth;
        const char* name;
    } cases[] = {
        {"/music/mono.wav", State::loaded, 64, 12, "单声道波形"},
        {"/music/stereo.wav", State::loaded, 88, 21, "立体声波形，上左下右"},
        {"/music/broken.wav", State::failed, 88, 21, "立体声波形，上左下右"},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.path);
        AudioWaveformView view(QUrl::fromLocalFile(QString::fromLatin1(expected.path)), rig.controller(), loader);
        view.resize(400, 88);
        view.show();
        EXPECT_EQ(view.loadState(), State::loading);
        EXPECT_EQ(view.height(), 88);
        deliverLoaderAnswers(loader);
        EXPECT_EQ(view.loadState(), expected.state);
        EXPECT_EQ(view.height(), expected.height);
        EXPECT_EQ(view.meterView()->size(), QSize(expected.meterWidth, expected.height));
        EXPECT_EQ(view.accessibleName(), QString::fromUtf8(expected.name));
    }
}

// A press, an optional move and a release on the stereo file's box (300 points for 10 s).
TEST_F(WaveformViewTest, PressingAndDraggingSeekAndPlaybackGoesOnAsItWas)
{
    const struct
    {
        const char* name;
        bool playing;
        int press;
        int release;
        double progress;
    } gestures[] = {
        {"a click at the left edge activates the file at its start, paused", false, 0, 0, 0.0},
        {"a drag past the right edge reaches the end", false, 150, boxWidth + 200, 1.0},
        {"a drag while playing goes on from the drop", true, 60, 75, 0.25},
    };
    for (const auto& gesture : gestures) {
        SCOPED_TRACE(gesture.name);
        rig.controller().stop();
        rig.settle();
        const auto view = shownView(stereoURL);
        if (gesture.playing) {
            rig.controller().togglePlayPause(stereoURL);
            rig.settle();
        }
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(gesture.press, 40));
        EXPECT_TRUE(rig.controller().isScrubbing());
        EXPECT_FALSE(rig.controller().isPlaying()); // paused while dragging
        EXPECT_EQ(rig.controller().playbackProgress(), gesture.press / double(boxWidth));
        QTest::mouseMove(view.get(), QPoint(gesture.release, 40));
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(gesture.release, 40));
        rig.settle();
        EXPECT_EQ(rig.controller().activeURL(), stereoURL);
        EXPECT_EQ(rig.controller().playbackProgress(), gesture.progress);
        EXPECT_EQ(rig.controller().isPlaying(), gesture.playing);
        EXPECT_FALSE(rig.controller().isScrubbing());
        EXPECT_EQ(view->window()->focusWidget(), view.get()); // a click gives the view the keyboard
    }

    // A box of a single point is too narrow to measure: a click there does nothing.
    rig.controller().stop();
    const auto narrow = shownView(stereoURL, 1);
    QTest::mouseClick(narrow.get(), Qt::LeftButton, {}, QPoint(0, 40));
    rig.settle();
    EXPECT_TRUE(rig.controller().activeURL().isEmpty());
}

TEST_F(WaveformViewTest, DragThatLosesItsViewStillEndsTheScrub)
{
    rig.controller().togglePlayPause(stereoURL);
    rig.settle();
    {
        const auto view = shownView(stereoURL);
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(30, 40));
        QTest::mouseMove(view.get(), QPoint(150, 40));
        ASSERT_TRUE(rig.controller().isScrubbing());
        view->hide(); // a row rebuilt or a dialog raised in the middle of a drag: no release comes
        EXPECT_FALSE(rig.controller().isScrubbing());
        rig.settle();
        EXPECT_TRUE(rig.controller().isPlaying());
        EXPECT_EQ(rig.controller().playbackProgress(), 0.5);

        view->show();
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(60, 40));
        ASSERT_TRUE(rig.controller().isScrubbing());
    } // destroyed while dragging
    EXPECT_FALSE(rig.controller().isScrubbing());
    rig.settle();
    EXPECT_TRUE(rig.controller().isPlaying());
    EXPECT_EQ(rig.controller().playbackProgress(), 0.2);
}

TEST_F(WaveformViewTest, TheGlyphIsAButtonThatPlaysAndPausesWithoutMovingThePosition)
{
    const auto view = shownView(stereoURL);
    QAbstractButton* button = view->playPauseButton();

    QTest::mouseClick(button, Qt::LeftButton);
    rig.settle();
    EXPECT_EQ(rig.controller().activeURL(), stereoURL);
    EXPECT_TRUE(rig.controller().isPlaying());
    EXPECT_EQ(rig.controller().playbackProgress(), 0.0) << "the click does not seek to where the glyph is";
    EXPECT_EQ(button->accessibleName(), QStringLiteral("暂停"));
    EXPECT_EQ(view->window()->focusWidget(), view.get()) << "the keys work on after the click";

    QTest::mouseClick(button, Qt::LeftButton);
    rig.settle();
    EXPECT_EQ(rig.controller().state(), AudioPlaybackController::State::paused);
    EXPECT_EQ(button->accessibleName(), QStringLiteral("播放"));

    // Beside the button the box still seeks.
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(button->geometry().left() - 3, 40));
    rig.settle();
    EXPECT_GT(rig.controller().playbackProgress(), 0.9);
}

// Escape stops the view's own file; for another file it is left to the window's stop command.
TEST_F(WaveformViewTest, ArrowsStepFiveSecondsHomeAndEndGoToTheEndsSpacePlaysAndEscapeStops)
{
    const auto view = shownView(stereoURL);
    QApplication::setActiveWindow(view.get());
    view->setFocus();
    int windowEscapes = 0;
    QObject::connect(new QShortcut(QKeySequence(Qt::Key_Escape), view.get()), &QShortcut::activated,
                     [&windowEscapes] { ++windowEscapes; });
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_EQ(windowEscapes, 1);
    using State = AudioPlaybackController::State;
    const struct
    {
        Qt::Key key;
        State state;
        double progress;
    } steps[] = {
        {Qt::Key_Right, State::ready, 0.5}, // an inactive file opens five seconds in
        {Qt::Key_Right, State::ready, 1.0},   {Qt::Key_Left, State::ready, 0.5},
        {Qt::Key_Home, State::ready, 0.0},    {Qt::Key_Left, State::ready, 0.0},
        {Qt::Key_End, State::ready, 1.0},     {Qt::Key_Space, State::finished, 1.0},
        {Qt::Key_Home, State::ready, 0.0},    {Qt::Key_Space, State::playing, 0.0},
        {Qt::Key_Right, State::playing, 0.5}, // playback goes on from there
        {Qt::Key_End, State::finished, 1.0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QKeySequence(step.key).toString().toStdString());
        QTest::keyClick(view.get(), step.key);
        rig.settle();
        EXPECT_EQ(rig.controller().state(), step.state);
        EXPECT_EQ(rig.controller().playbackProgress(), step.progress);
    }
    QTest::keyClick(view.get(), Qt::Key_Home);
    QTest::keyClick(view.get(), Qt::Key_Space);
    rig.settle();
    ASSERT_TRUE(rig.controller().isPlaying());
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_EQ(windowEscapes, 1);
    EXPECT_TRUE(rig.controller().activeURL().isEmpty());
}

// The playhead is drawn where the controller is; the meters move only for the active file.
TEST_F(WaveformViewTest, DrawsThePlayheadAndTheMetersOfTheActiveFile)
{
    const auto view = shownView(monoURL);
    view->setFocus(); // the focus ring does not hide a playhead resting at the left edge
    const QColor orange = test::render(*view).pixelColor(1, 32);
    EXPECT_GT(orange.red(), 200);
    EXPECT_LT(orange.blue(), 80);
    rig.controller().seek(0.5, monoURL);
    const QImage image = test::render(*view);
    EXPECT_GT(image.pixelColor(150, 32).red(), 200);
    EXPECT_LT(image.pixelColor(1, 32).red(), 200);

    rig.controller().togglePlayPause(monoURL);
    rig.settle();
    rig.engine().render(std::vector<float>(512, 0.5f), 1);
    rig.controller().meterTick();
    rig.settle();
    EXPECT_NEAR(view->meterView()->leftDBFS(), -6.02, 0.01);
    rig.controller().togglePlayPause(stereoURL); // another file takes over
    rig.settle();
    EXPECT_EQ(view->meterView()->leftDBFS(), -80);
}

} // namespace
} // namespace ferrylantern
