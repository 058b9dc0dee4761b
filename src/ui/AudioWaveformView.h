// The audio preview inside a transfer card: the file's waveform in a rounded box (one channel, or left
// above right), an orange playhead at the shared controller's position, a play or pause glyph, and the
// level meter beside the box.
//
// The play/pause glyph in the box's corner is a button: a click on it plays or pauses. Clicking or
// dragging anywhere else in the box moves the position and scrubs (playback pauses during the drag and
// goes on from the drop position if it ran before). With the view focused, space plays or pauses; the
// left and right arrows move five seconds back or on and Home and End to the start or the end (playback
// goes on from there if it ran); Esc stops when this file is the active one and otherwise passes on to
// the enclosing window.
//
// GUI thread only (a widget). The numbers it draws come from the plain functions in `waveform`.
//
//     auto* view = new AudioWaveformView(url, AudioPlaybackController::shared(),
//                                        AudioWaveformLoader::shared(), card);
#pragma once

#include "audio/StereoWaveformSamples.h"

#include <QAbstractButton>
#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <optional>

namespace ferrylantern {

class AudioPlaybackController;
class AudioStereoDBFSMeterView;
class AudioWaveformLoader;

namespace waveform {

inline constexpr int monoBoxHeight = 64;
inline constexpr int stereoBoxHeight = 88; // also while loading or after a failure
inline constexpr int monoShapeHeight = 52;
inline constexpr int stereoShapeHeight = 38;
inline constexpr int channelDividerHeight = 1;
inline constexpr int meterSpacing = 2;
inline constexpr qreal boxCornerRadius = 6;
inline constexpr qreal playheadWidth = 2;
inline constexpr qreal glyphPadding = 6;    // from the box's top and trailing edges to the glyph
inline constexpr qreal glyphHitMargin = 4;  // the button reaches this far around the glyph
inline constexpr double keyStepSeconds = 5; // the left and right arrows

// The four colours of the box, chosen by the appearance: box fill (and meter background), box border
// (and meter border), the line between the channels, and dimmed text in the box.
struct WaveformPalette
{
    QColor fill;
    QColor border;
    QColor channelDivider;
    QColor dimmed;
};
WaveformPalette waveformPalette(bool dark);

// The box's height for a waveform: 64 for a loaded mono one, 88 otherwise.
int boxHeight(const std::optional<StereoWaveformSamples>& samples);

// The fraction of the file at horizontal position `x` of a box measured `trackWidth` wide: x ÷ width
// clamped to 0...1 (NaN counts as 0); 0 while the width is not measured.
double progressForLocation(qreal x, qreal trackWidth);

// The playhead's centre: the progress (clamped; 0 for an inactive file) × the box width, kept within
// 1...width − 1 so it always shows.
qreal playheadX(double progress, bool isActive, qreal boxWidth);
// The playhead bar: 2 wide and max(0, height − 2) high, centred on playheadX and the box's middle.
QRectF playheadRect(double progress, bool isActive, QSizeF box);

// The play/pause glyph, `glyphSize` square, in the top-trailing corner of `box` with glyphPadding.
QRectF glyphRect(const QRectF& box, qreal glyphSize);
// The button around it: the glyph and glyphHitMargin on every side, so it is easy to hit.
QRectF glyphButtonRect(const QRectF& box, qreal glyphSize);

QString accessibilityLabel(bool isMono);
QString toolTip(bool isMono);
// The button's accessible name: "播放" while it would play, "暂停" while it would pause.
QString playPauseButtonName(bool showsPause);

} // namespace waveform

class AudioWaveformView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AudioWaveformView)

public:
    enum class LoadState
    {
        loading,
        loaded,
        failed,
    };

    AudioWaveformView(QUrl fileURL, AudioPlaybackController& playback, AudioWaveformLoader& loader,
                      QWidget* parent = nullptr);
    // Ends a drag still in progress, so the controller is not left scrubbing.
    ~AudioWaveformView() override;

    const QUrl& fileURL() const { return fileURL_; }
    LoadState loadState() const { return loadState_; }
    const std::optional<StereoWaveformSamples>& stereoSamples() const { return stereoSamples_; }
    bool isMono() const { return stereoSamples_ && stereoSamples_->isMono; }
    // The width of the box as last measured; 0 before the view has been laid out.
    qreal trackWidth() const { return trackWidth_; }
    bool isScrubbingPlayhead() const { return isScrubbingPlayhead_; }
    bool isActive() const;
    QRectF boxRect() const;
    AudioStereoDBFSMeterView* meterView() const { return meter_; }
    // The glyph's button (objectName "playPauseButton"); its accessible name says what a click does.
    QAbstractButton* playPauseButton() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void loadStateChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void startLoading();
    void cancelLoading();
    void finishLoading(std::optional<StereoWaveformSamples> samples);
    void updateLayout();
    void placeChildren(); // the meter at the trailing edge, the button in the box's corner
    void updateMeter();
    void updateTexts();
    void updatePlayPauseButton();
    void dragChanged(QPointF location);
    void dragEnded(QPointF location);
    // A drag that loses its view (hidden, destroyed, or the keyboard taken by a dialog) never sees
    // its release; it ends where the pointer was last, and playback goes on if it ran before.
    void endInterruptedDrag();
    // Whether the focused view handles this key itself rather than letting it pass on.
    bool handlesKey(const QKeyEvent& event) const;

    void paintWaveform(QPainter& painter, const QRectF& box, const waveform::WaveformPalette& colors) const;
    void paintStatus(QPainter& painter, const QRectF& box, const waveform::WaveformPalette& colors) const;

    QUrl fileURL_;
    AudioPlaybackController& playback_;
    AudioWaveformLoader& loader_;
    AudioStereoDBFSMeterView* meter_;
    class PlayPauseButton;
    PlayPauseButton* playPauseButton_;
    std::optional<StereoWaveformSamples> stereoSamples_;
    LoadState loadState_ = LoadState::loading;
    QPointer<QObject> loadTask_; // dropping it drops the answer of the load in flight
    qreal trackWidth_ = 0;
    bool isScrubbingPlayhead_ = false;
    bool isDragging_ = false;
    QPointF lastDragLocation_;
    QTimer spinnerTimer_;
    int spinnerStep_ = 0;
};

} // namespace ferrylantern
