#pragma once

#include "base/Clock.h"
#include "base/Error.h"
#include "base/FileSystem.h"
#include "base/Queue.h"
#include "platform/AudioOutputs.h"
#include "platform/AudioTap.h"
#include "platform/Cameras.h"
#include "platform/Defaults.h"
#include "platform/MediaPermissions.h"
#include "platform/Microphones.h"
#include "platform/MovieFile.h"
#include "platform/Pointer.h"
#include "platform/ScreenCapture.h"
#include "platform/Screens.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/webcam/FrameRenderer.h"
#include "tandem/webcam/KoalaStutterTouch.h"
#include "tandem/webcam/StutterPeriodFinder.h"
#include "tandem/webcam/WebcamFX.h"
#include "tandem/webcam/WebcamLevel.h"
#include "tandem/webcam/WebcamOverlayPainter.h"
#include "tandem/webcam/WebcamSettings.h"
#include "tandem/webcam/WebcamSoundChain.h"
#include "tandem/webcam/WebcamWriter.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tandem {

class WebcamCamera;
class KoalaScreenCapture;
class KoalaAudioTap;
class WebcamMicrophone;
class WebcamMonitor;

// The Webcam's studio: it owns the capture sources, composes a frame every 8 ms on its own queue from
// the newest picture of each source, the layout, the effects and the card, hands each frame to the
// preview and, while recording, to the writer, and runs every sound buffer through the sound chain into
// the writer, the level and LISTEN. Portable: everything it touches comes in through `World`. Create
// it with `make` on the main queue; the window calls `start` when shown, `stop` when closed, `update`
// for every change and `startRecording`/`stopRecording` for the record button.
class WebcamStudio : public std::enable_shared_from_this<WebcamStudio> {
public:
    struct World {
        Clock& clock; // host seconds (`uptime`), the clock the sources stamp with
        Defaults& defaults;
        Workspace& workspace;
        WindowServer& windows;
        Screens& screens;
        Pointer& pointer;
        Cameras& cameras;
        ScreenCapture& screenCapture;
        AudioTaps& audioTaps;
        Microphones& microphones;
        AudioOutputs& audioOutputs;
        MediaPermissions& permissions;
        MovieFiles& movies;
        KoalaPerformanceFeed& feed;
        std::shared_ptr<Queue> main;
        std::shared_ptr<Queue> queue;       // "Tandem webcam": the compose timer
        std::shared_ptr<Queue> setupQueue;  // "Tandem webcam setup": opening and closing sources
        std::shared_ptr<Queue> cameraQueue; // "Tandem camera"
        std::shared_ptr<Queue> screenQueue; // "Tandem screen capture"
        std::shared_ptr<Queue> audioQueue;  // "Tandem audio input"
        std::shared_ptr<Queue> loaderQueue; // "Tandem webcam pads"
        FileSystem* disk = nullptr;         // the local disk when none
        // Whether this system can tap one process's sound (on a Mac, 14.2 and later).
        bool processTapAvailable = true;
        // The overlay card's loader; the saved song and the sample reader of the home folder when none.
        std::optional<WebcamOverlayPainter::Services> painter;
    };

    // One composed frame for the preview: Format_RGB32, shared with the studio's pool (read it, then let
    // go of it), and the host time it was composed at.
    struct Picture {
        QImage frame;
        double time = 0;
    };

    // Where a picture lands in a rectangle: `source` is the part of the picture shown (its pixels),
    // `target` where that part goes (inside the rectangle). Filling crops the picture to cover the
    // rectangle; fitting shows it whole, centred.
    struct Placement {
        QRectF source;
        QRectF target;
        bool operator==(const Placement&) const = default;
    };
    // Nothing for a picture without a positive width and height.
    static std::optional<Placement> place(QSizeF picture, QRectF rectangle, bool fill);
    // A layout rectangle (fractions, origin bottom-left) in pixels of a y-down frame, rounded outwards.
    static QRect pixels(const Rect& fractions, int width, int height);
    // Whether a picture in this rectangle gets the blue frame: narrower than 98 % of the frame and
    // lower than 98 % of it.
    static bool framed(const QRect& rectangle, int width, int height);
    static constexpr int frameWidth = 5;
    static constexpr double tickSeconds = 0.008;
    static constexpr double idleSeconds = 1.0 / 30;

    static std::shared_ptr<WebcamStudio> make(World world);
    ~WebcamStudio();
    WebcamStudio(const WebcamStudio&) = delete;
    WebcamStudio& operator=(const WebcamStudio&) = delete;

    // Called on the main queue with the newest composed frame; a frame not yet delivered when the next
    // one is composed is replaced by it, so a busy main queue never piles frames up.
    std::function<void(const Picture&)> onPicture;
    // Called on the main queue with the message to show, or nothing to clear it.
    std::function<void(std::optional<std::string>)> onProblem;

    void start();
    void stop();
    bool running() const { return isRunning; }

    WebcamSettings settings() const;
    // Applies a change, stores it (in the defaults too when `save`), and reopens what it touches. Fails
    // only when the record cannot be saved (the change still applies for this run).
    Result<void> update(bool save, const std::function<void(WebcamSettings&)>& change);

    // Starts a new file in the recordings folder and returns its path.
    Result<std::filesystem::path> startRecording();
    // Finishes the recording; `done` receives the file, or nothing when there was no recording, it had
    // no frame, or it could not be completed. On the main queue.
    void stopRecording(std::function<void(std::optional<std::filesystem::path>)> done);
    bool recording() const;
    std::optional<std::filesystem::path> recordingURL() const;
    // Waits up to `seconds` until every recording asked to finish (by `stop`, `stopRecording` or a new
    // `startRecording`) has been written out; false when one is still being written. For a program about
    // to end: a movie cut off while it writes its index is no movie.
    bool waitForRecordings(double seconds);

    // Every sound buffer of the active source, on that source's queue; returns the processed buffer.
    SampleBuffer handleAudio(const SampleBuffer& buffer);

    // What the window and the tests look at.
    WebcamSoundChain::Meter meter() const { return sound.meter(); }
    std::shared_ptr<KoalaStutterTouch> stutter() const { return stutterTouch; }
    // Frames composed since the studio was made (counted on the compose queue).
    uint64_t composed() const { return composedFrames; }
    bool hasCamera();
    bool hasScreen();
    bool hasTap();
    bool hasMicrophone();
    bool hasMonitor();

    // The compose tick's picture work for one frame: black, Koala's window, the framed camera, the
    // effects, the card; a pooled frame of the output size, or nothing when none can be had. On the
    // compose queue only (the tick calls it; so does the benchmark, with pictures of its own).
    std::optional<QImage> compose(const WebcamSettings& settings, const KoalaPerformanceFeed::Snapshot& feed,
                                  double now, const std::shared_ptr<const VideoFrame>& cameraFrame,
                                  const std::shared_ptr<const VideoFrame>& screenFrame);

    // The file name of a recording started at `date` (local time).
    static std::string fileName(std::chrono::system_clock::time_point date, bool vertical);

private:
    explicit WebcamStudio(World world);

    // Finishes `ending` on its movie's thread, counted until it is written; `then` gets the outcome.
    void finishInBackground(std::shared_ptr<WebcamWriter> ending, std::function<void(bool)> then = {});
    void configureSound(const WebcamSettings& settings);
    void report(std::optional<std::string> message);

    // On `setupQueue`.
    void openCamera();
    void closeCamera();
    void openAudio();
    void closeAudio();
    void restartMonitor();

    // On `queue`.
    void tick();
    void deliver(Picture picture);

    World world;
    FileSystem& disk;

    mutable std::mutex settingsLock;
    WebcamSettings stored;

    mutable std::mutex sourceLock;
    std::shared_ptr<WebcamCamera> camera;
    std::shared_ptr<KoalaScreenCapture> screen;

    // The setup queue's own.
    std::shared_ptr<WebcamMicrophone> microphone;
    std::shared_ptr<KoalaAudioTap> koalaTap;
    std::atomic<bool> tapRunning{false};
    std::atomic<bool> microphoneRunning{false};

    std::unique_ptr<Timer> timer; // main queue
    std::atomic<bool> isRunning{false};

    std::shared_ptr<WebcamOverlayPainter> painter;
    std::shared_ptr<KoalaStutterTouch> stutterTouch;
    WebcamLevel level;
    WebcamSoundChain sound;
    StutterPeriodFinder stutterLength;

    mutable std::mutex monitorLock;
    std::shared_ptr<WebcamMonitor> monitor;

    mutable std::mutex writerLock;
    std::shared_ptr<WebcamWriter> writer;
    std::optional<std::filesystem::path> lastURL;

    // Recordings being finished; shared with their completions, which may outlive the studio.
    struct Finishing {
        std::mutex lock;
        std::condition_variable done;
        int count = 0;
    };
    std::shared_ptr<Finishing> finishing = std::make_shared<Finishing>();

    // The compose queue's own.
    FrameRenderer renderer;
    WebcamFX fx;
    double lastCompose = -1e9;
    long long lastFrames = -1;
    std::map<std::string, int> lastFX;
    bool lastStutter = false;
    // Scaled source pictures, kept while their source frame and rectangle stay the same: a stutter
    // composes up to 125 times a second from 30 new camera frames.
    struct Scaled {
        std::shared_ptr<const VideoFrame> from;
        QRect into;
        int turn = 0;
        bool mirror = false;
        QImage picture; // the rectangle's pixels, Format_RGB32
        QRect target;   // where in the rectangle they go
    };
    Scaled cameraScaled;
    Scaled screenScaled;
    std::atomic<uint64_t> composedFrames{0};

    // The preview's one waiting frame.
    std::mutex pictureLock;
    std::optional<Picture> waiting;
};

} // namespace tandem
