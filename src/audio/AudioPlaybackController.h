// Plays one received audio file at a time for every audio row of the window: play and pause, seeking and
// scrubbing by the waveform, a time text and stereo peak levels for the meters.
//
// The controller is in exactly one `State`; one transition function decides every change of it, and the
// properties the views read (isPlaying, isScrubbing, activeURL, the time text) are derived from the state
// and the open file, so they cannot disagree. Each operation announces the properties it changed once,
// after it is complete.
//
// A file plays to the real end of its stream. Its length starts as the container states it and follows
// what decoding finds once known (an estimated length of a variable-bit-rate MP3 is corrected, and
// remembered for the file's version); a stream cut short stops where it broke off, the playhead there.
// The meters show the level of the 256-frame blocks being heard, not of those just handed to the output.
//
// GUI thread only: every public function, every property and both timers. Calls into the output
// engine run on the audio node queue; what they find out comes back to the GUI thread by queued
// invocation. A generation counter, raised by every operation that supersedes earlier scheduled work,
// tells a stale completion (or a stale answer from the queue) from a current one.
//
//     auto& playback = AudioPlaybackController::shared();
//     playback.togglePlayPause(QUrl::fromLocalFile(path)); // plays from the start
//     playback.seek(0.5, url);                             // the position moves; playback does not start
#pragma once

#include "audio/AudioContainer.h"
#include "audio/AudioMeter.h"
#include "audio/AudioNodeQueue.h"
#include "audio/AudioOutputEngine.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace ferrylantern {

struct AudioNode;

class AudioPlaybackController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QUrl activeURL READ activeURL NOTIFY activeURLChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(double playbackProgress READ playbackProgress NOTIFY playbackProgressChanged)
    Q_PROPERTY(double durationSeconds READ durationSeconds NOTIFY durationSecondsChanged)
    Q_PROPERTY(QString timeDisplayText READ timeDisplayText NOTIFY timeDisplayTextChanged)
    Q_PROPERTY(ferrylantern::AudioMeterLevels meterLevels READ meterLevels NOTIFY meterLevelsChanged)
    Q_PROPERTY(bool isScrubbing READ isScrubbing NOTIFY isScrubbingChanged)

public:
    enum class State
    {
        idle,    // no file open
        ready,   // a file open; the player holds nothing, play schedules from the start frame
        playing, // the segment plays and the timers publish its progress and levels
        paused,  // the player holds the segment paused at the start frame; play continues it
        // The segment ended: at the end of the stream (progress 1), or where a damaged stream broke off
        // (the playhead stays there). Play schedules it again.
        finished,
        scrubbingFromPlaying, // a drag of the playhead that began while playing: the drop plays on
        scrubbingFromPaused,  // a drag that began otherwise: the drop leaves the file ready
    };
    Q_ENUM(State)

    static constexpr std::chrono::milliseconds progressInterval{1000 / 30}; // 1/30 s
    static constexpr std::chrono::milliseconds meterInterval{1000 / 120};   // 1/120 s
    static const QString noTimeText;                                        // "--:--.--"
    static const QString noTimeDisplayText;                                 // "--:--.-- / --:--.--"

    // The process-wide controller on the real output engine; create it on the GUI thread. It is
    // destroyed with the application object.
    static AudioPlaybackController& shared();

    // How a file is opened for playback: its rate, channels and length in frames. Tests give lengths
    // no real test file has.
    using FileFormatReader = std::function<std::optional<AudioFileFormat>(const std::filesystem::path&)>;

    AudioPlaybackController(std::unique_ptr<AudioOutputEngine> engine, std::unique_ptr<AudioNodeQueue> queue,
                            FileFormatReader readFileFormat = readAudioFileFormat, QObject* parent = nullptr);
    ~AudioPlaybackController() override; // runs the queued engine work, then ends the queue
    Q_DISABLE_COPY_MOVE(AudioPlaybackController)

    // The play/pause button and the space key of a row: pauses `url` when it plays, else plays it
    // (another file is opened first and plays from its start; a paused one continues). During a drag
    // it changes whether the drop plays on.
    void togglePlayPause(const QUrl& url);
    // Back to idle: nothing open, nothing playing.
    void stop();
    // Moves the position of `url` (opened first when it is not the active file) to `progress`, a fraction
    // clamped to 0...1 (NaN counts as 0). Does not start playback; a seek to another frame while playing
    // stops it.
    void seek(double progress, const QUrl& url);
    // A drag on the waveform: playback pauses while it lasts and resumes at the drop position if it ran
    // when the drag began. endScrub without beginScrub is a plain seek.
    void beginScrub(const QUrl& url);
    void endScrub(double progress, const QUrl& url);
    // A drag that begins and ends at once, for the keys of a row: jumpTo moves `url` (opened first when
    // it is not the active file) to `progress`, jumpBy moves it by `seconds` within the file; playback goes
    // on from the new position when it ran, and the position just moves when it did not.
    void jumpTo(double progress, const QUrl& url);
    void jumpBy(double seconds, const QUrl& url);

    State state() const { return state_; }
    QUrl activeURL() const; // empty when absent
    bool isPlaying() const { return state_ == State::playing; }
    bool isScrubbing() const { return state_ == State::scrubbingFromPlaying || state_ == State::scrubbingFromPaused; }
    double playbackProgress() const { return playbackProgress_; }
    double durationSeconds() const;
    // "mm:ss.hh / mm:ss.hh", position and duration; noTimeDisplayText without a file.
    QString timeDisplayText() const;
    AudioMeterLevels meterLevels() const { return meterLevels_; }

    // The timers' work, public so tests can tick without waiting: ask the player for what is being
    // heard and publish its levels to meterLevels while playing; ask it for its position (and the length
    // of the stream once decoding has reached its end) and publish them.
    void meterTick();
    void progressTick();
    bool areTimersRunning() const { return progressTimer_.isActive() || meterTimer_.isActive(); }

    // The frame the next segment is (or the current one was) scheduled from, for tests.
    std::int64_t segmentStartFrame() const { return segmentStartFrame_; }

    // "mm:ss.hh" with truncated hundredths and minutes that never wrap into hours ("75:00.00");
    // "--:--.--" for a time that is not finite or is negative.
    static QString formatTime(double seconds);
    // ⌊lengthFrames × progress⌋.
    static std::int64_t frameForProgress(double progress, std::int64_t lengthFrames);

signals:
    void stateChanged();
    void activeURLChanged();
    void isPlayingChanged();
    void playbackProgressChanged();
    void durationSecondsChanged();
    void timeDisplayTextChanged();
    void meterLevelsChanged();
    void isScrubbingChanged();

private:
    // What happened, as far as the state is concerned.
    enum class Event
    {
        opened, // a file was opened after the previous one was closed
        stop,
        togglePlayPause,
        seekKeepingStartFrame, // the position moved within the frame the player holds
        seekMovingStartFrame,  // the position moved to another frame: what the player holds is no use
        beginScrub,
        endScrub,
        reachedEnd, // the segment has been played, or nothing was left to play
    };
    enum class ActivationError
    {
        unsupportedFormat,
    };
    enum class Restart
    {
        no,  // pause the player before scheduling
        yes, // stop it, discarding what it had
    };
    struct OpenAudioFile
    {
        QUrl url;
        std::filesystem::path path;
        AudioFileFormat format; // lengthFrames: as stated, then as decoding found it
        bool isLengthDecoded = false;
    };
    class ChangeAnnouncement;

    static State nextState(State state, Event event);
    void transition(Event event);
    void enter(State state, State from);

    bool isActive(const QUrl& url) const;
    void activate(const QUrl& url);
    void movePosition(double progress, const QUrl& url);
    void jump(const QUrl& url, const std::function<double()>& target);
    void finishSegment(std::int64_t originFrame, SegmentEnd end);
    void adoptDecodedLength(std::int64_t lengthFrames);
    void publishPosition(std::int64_t frame, std::optional<std::int64_t> streamLength);
    [[nodiscard]] bool scheduleAndPlay(Restart restart);
    void continuePausedSegment();
    void pausePlayer();
    void startTimers();
    void stopTimers();
    void resetMeters();
    SegmentCompletion completionFor(std::uint64_t generation, std::int64_t originFrame);

    template <typename Work>
    void onAudioQueue(Work&& work);
    template <typename Work>
    void onGuiThread(Work&& work);

    State state_ = State::idle;
    std::optional<OpenAudioFile> audioFile_; // present in every state but idle
    double playbackProgress_ = 0;
    AudioMeterLevels meterLevels_;
    std::int64_t segmentStartFrame_ = 0;
    std::int64_t scheduledOriginFrame_ = 0; // start frame of the segment last scheduled: its sample time's zero
    std::uint64_t scheduleGeneration_ = 0;
    QHash<QString, std::int64_t> decodedLengths_; // frames, by file version (path, modification time, size)

    FileFormatReader readFileFormat_;
    AudioNode* node_; // owned; touched only on the audio node queue
    std::unique_ptr<AudioNodeQueue> queue_;
    QTimer progressTimer_;
    QTimer meterTimer_;
};

} // namespace ferrylantern
