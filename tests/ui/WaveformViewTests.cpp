// The waveform box: its shape and geometry as plain numbers, and the view driven by pointer and keys
// against the playback controller on the manual engine.
#include "tests/ui/ViewTestSupport.h"
#include "ui/AudioStereoDBFSMeterView.h"
#include "ui/AudioWaveformView.h"
#include "ui/WaveformShape.h"

#include <QAbstractButton>
#include <QApplication>
#include <QShortcut>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace ferrylantern {
namespace {

using test::deliverLoaderAnswers;

TEST(WaveformShape, IsSymmetricAboutTheMiddleLineAndKeepsASliverForSilence)
{
    // A full-scale bucket reaches 46 % of the height each side of the middle, across the whole width.
    const QRectF rect(0, 10, 200, 52);
    const QRectF full = WaveformShape({0.0f, 0.3f, 1.0f, 0.6f, 0.2f}).path(rect).boundingRect();
    EXPECT_EQ(full.left(), 0);
    EXPECT_EQ(full.right(), 200);
    EXPECT_NEAR(full.center().y(), rect.center().y(), 1e-9);
    EXPECT_NEAR(full.height(), 2 * 0.46 * 52, 1e-9);

    // 512 buckets at or below the sliver draw as one thin band around the middle line.
    const QRectF thin(0, 0, 300, 38);
    const QPainterPath band = WaveformShape(std::vector<float>(512, 0.01f)).path(thin);
    EXPECT_NEAR(band.boundingRect().height(), 2 * 0.015 * 38 * 0.46, 1e-6);
    EXPECT_NEAR(band.boundingRect().center().y(), thin.center().y(), 1e-9);

    EXPECT_TRUE(WaveformShape({0.5f}).path(QRectF(0, 0, 100, 50)).isEmpty());
    EXPECT_TRUE(WaveformShape({0.5f, 0.5f}).path(QRectF(0, 0, 0, 50)).isEmpty());
    EXPECT_TRUE(WaveformShape({0.5f, 0.5f}).path(QRectF(0, 0, 100, 0)).isEmpty());
}

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
    const struct
    {
        const char* path;
        AudioWaveformView::LoadState state;
        int height;
        QSize meter;
        QString name;
    } cases[] = {
        {"/music/mono.wav", AudioWaveformView::LoadState::loaded, 64, {12, 64}, QStringLiteral("单声道波形")},
        {"/music/stereo.wav",
         AudioWaveformView::LoadState::loaded,
         88,
         {21, 88},
         QStringLiteral("立体声波形，上左下右")},
        {"/music/broken.wav",
         AudioWaveformView::LoadState::failed,
         88,
         {21, 88},
         QStringLiteral("立体声波形，上左下右")},
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.path);
        AudioWaveformView view(QUrl::fromLocalFile(QString::fromLatin1(expected.path)), rig.controller(), loader);
        view.resize(400, 88);
        view.show();
        EXPECT_EQ(view.loadState(), AudioWaveformView::LoadState::loading);
        EXPECT_EQ(view.height(), 88);
        deliverLoaderAnswers(loader);
        EXPECT_EQ(view.loadState(), expected.state);
        EXPECT_EQ(view.height(), expected.height);
        EXPECT_EQ(view.meterView()->size(), expected.meter);
        EXPECT_EQ(view.accessibleName(), expected.name);
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
        ASSERT_EQ(view->trackWidth(), boxWidth);
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

TEST_F(WaveformViewTest, ClicksBeforeTheBoxIsMeasuredDoNothing)
{
    // Never shown: no width has been measured.
    AudioWaveformView unmeasured(stereoURL, rig.controller(), loader);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&unmeasured, &press);
    EXPECT_EQ(unmeasured.trackWidth(), 0);

    // Shown, but with a box of a single point.
    const auto narrow = shownView(stereoURL, 1);
    QTest::mouseClick(narrow.get(), Qt::LeftButton, {}, QPoint(0, 40));
    rig.settle();
    EXPECT_TRUE(rig.controller().activeURL().isEmpty());
    EXPECT_FALSE(rig.controller().isScrubbing());
}

TEST_F(WaveformViewTest, TheGlyphIsAButtonThatPlaysAndPausesWithoutMovingThePosition)
{
    const auto view = shownView(stereoURL);
    QAbstractButton* button = view->playPauseButton();
    EXPECT_TRUE(view->boxRect().contains(QRectF(button->geometry())));
    EXPECT_EQ(button->accessibleName(), QStringLiteral("播放"));

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

TEST_F(WaveformViewTest, ArrowsStepFiveSecondsHomeAndEndGoToTheEndsAndSpacePlays)
{
    const auto view = shownView(stereoURL);
    view->setFocus();
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
}

TEST_F(WaveformViewTest, LeavesEscapeToTheWindowsShortcutWhenItsFileIsNotActive)
{
    QWidget window;
    auto* view = new AudioWaveformView(monoURL, rig.controller(), loader, &window);
    view->resize(400, 64);
    int windowEscapes = 0;
    auto* stopCommand = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(stopCommand, &QShortcut::activated, [&windowEscapes] { ++windowEscapes; });
    window.show();
    QApplication::setActiveWindow(&window);
    view->setFocus();

    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_EQ(windowEscapes, 1);

    rig.controller().togglePlayPause(monoURL);
    rig.settle();
    QTest::keyClick(view, Qt::Key_Escape); // the view stops its own file; the window's command stays quiet
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
