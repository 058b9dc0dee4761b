#include "ui/AudioWaveformView.h"

#include "audio/AudioPlaybackController.h"
#include "audio/AudioWaveformLoader.h"
#include "ui/AppAppearanceSettings.h"
#include "ui/AudioStereoDBFSMeterView.h"
#include "ui/SymbolIcon.h"
#include "ui/ViewStyle.h"
#include "ui/WaveformShape.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ferrylantern {

namespace waveform {

namespace {

constexpr qreal boxBorderWidth = 1;
constexpr qreal outlineWidth = 0.5;
constexpr qreal focusRingWidth = 2;
constexpr qreal focusRingOpacity = 0.85;
constexpr qreal glyphFontShare = 0.8; // of the caption font's height
constexpr int spinnerSteps = 12;
constexpr std::chrono::milliseconds spinnerInterval{80};
constexpr int minimumBoxWidth = 40;
constexpr int preferredBoxWidth = 320;

const QColor fillBottom = QColor::fromRgbF(0.2f, 0.45f, 0.95f);
const QColor fillTop = QColor::fromRgbF(0.35f, 0.62f, 1.0f);
const QColor outline = QColor::fromRgbF(0.45f, 0.68f, 1.0f, 0.5f);

QColor gray(int level, qreal opacity)
{
    QColor color(level, level, level);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

} // namespace

WaveformPalette waveformPalette(bool dark)
{
    if (dark) {
        return {Qt::black, gray(255, 0.12), gray(255, 0.12), gray(255, 0.55)};
    }
    return {Qt::white, gray(0, 0.08), gray(0, 0.12), gray(0, 0.45)};
}

int boxHeight(const std::optional<StereoWaveformSamples>& samples)
{
    return samples && samples->isMono ? monoBoxHeight : stereoBoxHeight;
}

double progressForLocation(qreal x, qreal trackWidth)
{
    if (!(trackWidth > 0)) {
        return 0;
    }
    const double progress = x / trackWidth;
    return std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
}

qreal playheadX(double progress, bool isActive, qreal boxWidth)
{
    const double clamped = isActive && !std::isnan(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0;
    return std::max<qreal>(std::min<qreal>(clamped * boxWidth, boxWidth - 1), 1);
}

QRectF playheadRect(double progress, bool isActive, QSizeF box)
{
    const qreal x = playheadX(progress, isActive, box.width());
    const qreal height = std::max<qreal>(0, box.height() - 2);
    return {x - playheadWidth / 2, box.height() / 2 - height / 2, playheadWidth, height};
}

QRectF glyphRect(const QRectF& box, qreal glyphSize)
{
    return {box.right() - glyphPadding - glyphSize, box.top() + glyphPadding, glyphSize, glyphSize};
}

QRectF glyphButtonRect(const QRectF& box, qreal glyphSize)
{
    return glyphRect(box, glyphSize).adjusted(-glyphHitMargin, -glyphHitMargin, glyphHitMargin, glyphHitMargin);
}

QString playPauseButtonName(bool showsPause)
{
    return showsPause ? QStringLiteral("暂停") : QStringLiteral("播放");
}

QString accessibilityLabel(bool isMono)
{
    return isMono ? QStringLiteral("单声道波形") : QStringLiteral("立体声波形，上左下右");
}

QString toolTip(bool isMono)
{
    return isMono ? QStringLiteral("拖动或点击定位播放位置，可拖到最左/最右；空格播放/暂停，Esc 停止（单声道）。")
                  : QStringLiteral(
                        "拖动或点击定位播放位置，可拖到最左/最右；空格播放/暂停，Esc 停止。上为左声道，下为右声道。");
}

} // namespace waveform

using namespace waveform;

// The glyph as a button: "pause.fill" while its file plays, else "play.fill", over a faint round backdrop
// while the pointer is on it. It takes no keyboard focus: the keys belong to the waveform view.
class AudioWaveformView::PlayPauseButton final : public QAbstractButton
{
public:
    explicit PlayPauseButton(QWidget* parent)
        : QAbstractButton(parent)
    {
        setObjectName(QStringLiteral("playPauseButton"));
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
        setAttribute(Qt::WA_Hover);
        setShowsPause(false);
    }

    bool showsPause() const { return showsPause_; }
    void setShowsPause(bool showsPause)
    {
        showsPause_ = showsPause;
        setAccessibleName(playPauseButtonName(showsPause));
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (underMouse() || isDown()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(waveformPalette(isDarkPalette(palette())).border);
            painter.drawEllipse(QRectF(rect()));
        }
        const QRectF glyph = QRectF(rect()).adjusted(glyphHitMargin, glyphHitMargin, -glyphHitMargin, -glyphHitMargin);
        paintSymbol(painter, showsPause_ ? Symbol::pauseFill : Symbol::playFill, glyph,
                    palette().color(QPalette::WindowText));
    }

private:
    bool showsPause_ = false;
};

AudioWaveformView::AudioWaveformView(QUrl fileURL, AudioPlaybackController& playback, AudioWaveformLoader& loader,
                                     QWidget* parent)
    : QWidget(parent)
    , fileURL_(std::move(fileURL))
    , playback_(playback)
    , loader_(loader)
    , meter_(new AudioStereoDBFSMeterView(this))
    , playPauseButton_(new PlayPauseButton(this))
{
    setObjectName(QStringLiteral("waveformView"));
    // The focus ring is drawn by the view itself.
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    spinnerTimer_.setInterval(spinnerInterval);
    connect(&spinnerTimer_, &QTimer::timeout, this, [this] {
        spinnerStep_ = (spinnerStep_ + 1) % spinnerSteps;
        update(boxRect().toAlignedRect());
    });

    connect(playPauseButton_, &QAbstractButton::clicked, this, [this] {
        setFocus(Qt::MouseFocusReason); // the keys work on from here
        playback_.togglePlayPause(fileURL_);
    });
    connect(&playback_, &AudioPlaybackController::activeURLChanged, this, [this] {
        updateMeter();
        updatePlayPauseButton();
        update();
    });
    connect(&playback_, &AudioPlaybackController::isPlayingChanged, this, &AudioWaveformView::updatePlayPauseButton);
    connect(&playback_, &AudioPlaybackController::playbackProgressChanged, this, [this] {
        if (isActive()) {
            update();
        }
    });
    connect(&playback_, &AudioPlaybackController::meterLevelsChanged, this, &AudioWaveformView::updateMeter);

    updateTexts();
    updateLayout();
    updateMeter();
    updatePlayPauseButton();
}

AudioWaveformView::~AudioWaveformView()
{
    endInterruptedDrag();
}

QAbstractButton* AudioWaveformView::playPauseButton() const
{
    return playPauseButton_;
}

bool AudioWaveformView::isActive() const
{
    return !fileURL_.isEmpty() && playback_.activeURL() == fileURL_;
}

QRectF AudioWaveformView::boxRect() const
{
    const qreal width = std::max(0, this->width() - meterSpacing - meter_->width());
    return {0, 0, width, static_cast<qreal>(boxHeight(stereoSamples_))};
}

QSize AudioWaveformView::sizeHint() const
{
    return {preferredBoxWidth + meterSpacing + meter_->width(), boxHeight(stereoSamples_)};
}

QSize AudioWaveformView::minimumSizeHint() const
{
    return {minimumBoxWidth + meterSpacing + meter_->width(), boxHeight(stereoSamples_)};
}

void AudioWaveformView::startLoading()
{
    cancelLoading();
    stereoSamples_.reset();
    loadState_ = LoadState::loading;
    updateTexts();
    updateLayout();
    spinnerTimer_.start();
    auto* task = new QObject(this);
    loadTask_ = task;
    loader_.loadStereoSamples(fileURL_, task, [this, task](std::optional<StereoWaveformSamples> samples) {
        task->deleteLater();
        finishLoading(std::move(samples));
    });
    emit loadStateChanged();
    update();
}

void AudioWaveformView::cancelLoading()
{
    delete loadTask_.data();
    spinnerTimer_.stop();
}

void AudioWaveformView::finishLoading(std::optional<StereoWaveformSamples> samples)
{
    spinnerTimer_.stop();
    loadState_ = samples ? LoadState::loaded : LoadState::failed;
    stereoSamples_ = std::move(samples);
    updateTexts();
    updateLayout();
    emit loadStateChanged();
    update();
}

void AudioWaveformView::updateLayout()
{
    const int height = boxHeight(stereoSamples_);
    meter_->setMono(isMono());
    meter_->setMeterHeight(height);
    setFixedHeight(height);
    placeChildren();
    updateGeometry();
}

void AudioWaveformView::placeChildren()
{
    meter_->move(width() - meter_->width(), 0);
    const qreal glyphSize = QFontMetricsF(captionFont(font())).height() * glyphFontShare;
    playPauseButton_->setGeometry(glyphButtonRect(boxRect(), glyphSize).toAlignedRect());
}

void AudioWaveformView::updatePlayPauseButton()
{
    playPauseButton_->setShowsPause(isActive() && playback_.isPlaying());
}

void AudioWaveformView::updateMeter()
{
    const WaveformPalette colors = waveformPalette(isDarkPalette(palette()));
    meter_->setColors(colors.border, colors.fill);
    if (isActive()) {
        const AudioMeterLevels levels = playback_.meterLevels();
        meter_->setLevels(levels.leftPeakDBFS, levels.rightPeakDBFS);
    } else {
        meter_->setLevels(meterFloorDBFS, meterFloorDBFS);
    }
}

void AudioWaveformView::updateTexts()
{
    setAccessibleName(accessibilityLabel(isMono()));
    setToolTip(waveform::toolTip(isMono()));
}

bool AudioWaveformView::handlesKey(const QKeyEvent& event) const
{
    if (event.modifiers() & ~Qt::KeypadModifier) {
        return false;
    }
    switch (event.key()) {
    case Qt::Key_Space:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    case Qt::Key_Escape:
        return isActive();
    default:
        return false;
    }
}

bool AudioWaveformView::event(QEvent* event)
{
    // Claim space, and Esc while this file is active, before the window's shortcuts see them; an Esc on
    // an inactive row stays free for the window's own Esc command.
    if (event->type() == QEvent::ShortcutOverride && handlesKey(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void AudioWaveformView::keyPressEvent(QKeyEvent* event)
{
    if (!handlesKey(*event)) {
        event->ignore(); // passes on to the enclosing views
        return;
    }
    event->accept();
    if (isDragging_) {
        return; // the pointer has the position until the drag ends
    }
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        // Held down, the arrows go on stepping.
        playback_.jumpBy(event->key() == Qt::Key_Left ? -keyStepSeconds : keyStepSeconds, fileURL_);
        return;
    case Qt::Key_Home:
        playback_.jumpTo(0, fileURL_);
        return;
    case Qt::Key_End:
        playback_.jumpTo(1, fileURL_);
        return;
    default:
        break;
    }
    if (event->isAutoRepeat()) {
        return; // holding space or Esc down acts once
    }
    if (event->key() == Qt::Key_Space) {
        playback_.togglePlayPause(fileURL_);
    } else {
        playback_.stop();
    }
}

void AudioWaveformView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !boxRect().contains(event->position())) {
        event->ignore();
        return;
    }
    isDragging_ = true;
    dragChanged(event->position());
}

void AudioWaveformView::endInterruptedDrag()
{
    if (isDragging_) {
        isDragging_ = false;
        dragEnded(lastDragLocation_);
    }
}

void AudioWaveformView::mouseMoveEvent(QMouseEvent* event)
{
    if (isDragging_) {
        dragChanged(event->position());
    }
}

void AudioWaveformView::mouseReleaseEvent(QMouseEvent* event)
{
    if (isDragging_ && event->button() == Qt::LeftButton) {
        isDragging_ = false;
        dragEnded(event->position());
    }
}

void AudioWaveformView::dragChanged(QPointF location)
{
    lastDragLocation_ = location;
    setFocus(Qt::MouseFocusReason);
    if (trackWidth_ > 1) {
        if (!isScrubbingPlayhead_) {
            isScrubbingPlayhead_ = true;
            playback_.beginScrub(fileURL_);
        }
        playback_.seek(progressForLocation(location.x(), trackWidth_), fileURL_);
    }
}

void AudioWaveformView::dragEnded(QPointF location)
{
    if (trackWidth_ > 1) {
        playback_.endScrub(progressForLocation(location.x(), trackWidth_), fileURL_);
        isScrubbingPlayhead_ = false;
    }
}

void AudioWaveformView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeChildren();
    const qreal measured = boxRect().width();
    if (measured > 0 && std::abs(measured - trackWidth_) > 0.5) {
        trackWidth_ = measured;
    }
}

void AudioWaveformView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        startLoading();
    }
}

void AudioWaveformView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    endInterruptedDrag();
    if (!event->spontaneous()) {
        cancelLoading();
    }
}

void AudioWaveformView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        updateMeter();
        update();
    } else if (event->type() == QEvent::FontChange) {
        placeChildren();
    }
}

void AudioWaveformView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update();
}

void AudioWaveformView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    endInterruptedDrag();
    update();
}

void AudioWaveformView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const WaveformPalette colors = waveformPalette(isDarkPalette(palette()));
    const QRectF box = boxRect();
    if (box.width() <= 0) {
        return;
    }
    QPainterPath boxPath;
    boxPath.addRoundedRect(box, boxCornerRadius, boxCornerRadius);
    painter.fillPath(boxPath, colors.fill);

    painter.save();
    painter.setClipPath(boxPath);
    if (loadState_ == LoadState::loaded) {
        paintWaveform(painter, box, colors);
    } else {
        paintStatus(painter, box, colors);
    }
    painter.restore();

    const qreal borderInset = boxBorderWidth / 2;
    painter.setPen(QPen(colors.border, boxBorderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(borderInset, borderInset, -borderInset, -borderInset),
                            boxCornerRadius - borderInset, boxCornerRadius - borderInset);
    if (hasFocus()) {
        QColor ring = accentColor(palette());
        ring.setAlphaF(static_cast<float>(focusRingOpacity));
        const qreal ringInset = focusRingWidth / 2;
        painter.setPen(QPen(ring, focusRingWidth));
        painter.drawRoundedRect(box.adjusted(ringInset, ringInset, -ringInset, -ringInset), boxCornerRadius - ringInset,
                                boxCornerRadius - ringInset);
    }

    // The playhead goes over the ring, so a playhead resting at the left edge still shows while the view
    // has focus. The play/pause button, a child, is drawn over everything.
    painter.setClipPath(boxPath);
    painter.fillRect(playheadRect(playback_.playbackProgress(), isActive(), box.size()), systemOrange(palette()));
}

void AudioWaveformView::paintWaveform(QPainter& painter, const QRectF& box, const WaveformPalette& colors) const
{
    const auto drawChannel = [&painter](const std::vector<float>& samples, qreal top, qreal width, qreal height) {
        const QRectF shapeRect(0, 0, width, height);
        const QPainterPath path = WaveformShape(samples).path(shapeRect);
        QLinearGradient gradient(shapeRect.bottomLeft(), shapeRect.topLeft());
        gradient.setColorAt(0, fillBottom);
        gradient.setColorAt(1, fillTop);
        painter.save();
        painter.translate(0, top);
        painter.fillPath(path, gradient);
        painter.setPen(QPen(outline, outlineWidth));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.restore();
    };
    if (isMono()) {
        // Centred in the box, on whole units so the shape's edges stay sharp.
        const qreal top = std::floor(box.top() + (box.height() - monoShapeHeight) / 2);
        drawChannel(stereoSamples_->left, top, box.width(), monoShapeHeight);
        return;
    }
    const qreal contentHeight = 2 * stereoShapeHeight + channelDividerHeight;
    const qreal top = std::floor(box.top() + (box.height() - contentHeight) / 2);
    drawChannel(stereoSamples_->left, top, box.width(), stereoShapeHeight);
    painter.fillRect(QRectF(box.left(), top + stereoShapeHeight, box.width(), channelDividerHeight),
                     colors.channelDivider);
    drawChannel(stereoSamples_->right, top + stereoShapeHeight + channelDividerHeight, box.width(), stereoShapeHeight);
}

void AudioWaveformView::paintStatus(QPainter& painter, const QRectF& box, const WaveformPalette& colors) const
{
    const QFont font = captionFont(this->font());
    const QFontMetricsF metrics(font);
    const bool loading = loadState_ == LoadState::loading;
    const QString text = loading ? QStringLiteral("加载中...") : QStringLiteral("无法生成波形");
    const qreal spinnerSize = loading ? metrics.height() : 0;
    const qreal gap = loading ? metrics.height() / 2 : 0;
    const qreal contentWidth = spinnerSize + gap + metrics.horizontalAdvance(text);
    const qreal left = box.center().x() - contentWidth / 2;
    const qreal middle = box.center().y();

    if (loading) {
        // A ring of fading spokes that turns one step per tick.
        const QPointF centre(left + spinnerSize / 2, middle);
        const qreal outer = spinnerSize / 2;
        const qreal inner = outer * 0.45;
        for (int spoke = 0; spoke < spinnerSteps; ++spoke) {
            const int age = (spinnerStep_ - spoke + spinnerSteps) % spinnerSteps;
            QColor color = colors.dimmed;
            color.setAlphaF(static_cast<float>(color.alphaF() * (1.0 - 0.75 * age / (spinnerSteps - 1))));
            const qreal angle = 2 * std::numbers::pi * spoke / spinnerSteps;
            const QPointF direction(std::sin(angle), -std::cos(angle));
            painter.setPen(QPen(color, std::max<qreal>(1.2, spinnerSize / 9), Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(centre + direction * inner, centre + direction * outer);
        }
    }
    painter.setPen(colors.dimmed);
    painter.setFont(font);
    painter.drawText(QRectF(left + spinnerSize + gap, middle - metrics.height() / 2,
                            metrics.horizontalAdvance(text) + 1, metrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}

} // namespace ferrylantern
