#include "platform/linux/FfmpegMedia.h"

#include "platform/linux/FfmpegConvert.h"
#include "platform/linux/FfmpegInput.h"
#include "platform/linux/MediaClock.h"
#include "platform/linux/PulseSupport.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace tandem {

namespace {

using media::FfmpegInput;

// An FFmpeg open failure in the media ports' terms.
Error openFailure(const Error& error) {
    if (error.code == AVERROR(EBUSY)) return mediaError(MediaFailure::inUse, error.description);
    if (error.code == AVERROR(EACCES) || error.code == AVERROR(EPERM))
        return mediaError(MediaFailure::denied, error.description);
    if (error.code == AVERROR_STREAM_NOT_FOUND || error.code == AVERROR_DECODER_NOT_FOUND)
        return mediaError(MediaFailure::unreadable, error.description);
    return mediaError(MediaFailure::failed, error.description);
}

class FfmpegCamera final : public Camera {
public:
    explicit FfmpegCamera(std::unique_ptr<FfmpegInput> input)
        : input(std::move(input)) {}
    ~FfmpegCamera() override { stop(); }

    void start() override {
        if (!input) return;
        input->start(
            [this](const AVFrame& picture, int64_t stamp) {
                const double time =
                    media::hostTime(stamp, media::stampClockOf(input->format()), media::readClocks());
                auto frame = std::make_shared<const VideoFrame>(
                    converter.convert(picture, picture.width, picture.height, time));
                if (frame->width == 0) return;
                std::lock_guard guard(lock);
                newest = std::move(frame);
                ++frames;
            },
            {});
    }
    // A v4l2 device streams from its open until its close: closing it here lets the next open have it.
    void stop() override {
        if (!input) return;
        input->stop();
        input.reset();
    }
    std::shared_ptr<const VideoFrame> latest() override {
        std::lock_guard guard(lock);
        return newest;
    }
    uint64_t count() override {
        std::lock_guard guard(lock);
        return frames;
    }

private:
    std::unique_ptr<FfmpegInput> input;
    media::BgraConverter converter; // the reading thread's only
    std::mutex lock;
    std::shared_ptr<const VideoFrame> newest;
    uint64_t frames = 0;
};

} // namespace

std::vector<CameraDevice> FfmpegCameras::devices() {
    std::vector<CameraDevice> list;
    for (const auto& [name, description] : media::listSources("video4linux2"))
        list.push_back({name, description, CameraKind::external});
    return list;
}

Result<std::shared_ptr<Camera>> FfmpegCameras::open(const CameraDevice& device) {
    // 1920 × 1080 in MJPEG, else at that size in the camera's own format, else the camera's default.
    const std::vector<std::vector<std::pair<std::string, std::string>>> attempts = {
        {{"video_size", "1920x1080"}, {"input_format", "mjpeg"}}, {{"video_size", "1920x1080"}}, {}};
    std::optional<Error> first;
    for (const auto& options : attempts) {
        auto opened = FfmpegInput::open({"video4linux2", device.uniqueID, options}, AVMEDIA_TYPE_VIDEO);
        if (opened) return std::shared_ptr<Camera>(std::make_shared<FfmpegCamera>(std::move(opened.value())));
        if (!first) first = opened.error();
        // A busy, refused or missing device gives the same answer whatever is asked of it.
        const int code = opened.error().code;
        if (code == AVERROR(EBUSY) || code == AVERROR(EACCES) || code == AVERROR(EPERM) ||
            code == AVERROR(ENOENT))
            break;
    }
    return openFailure(*first);
}

// The window.

namespace {

std::string displayName() {
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

class X11GrabStream final : public ScreenStream, public std::enable_shared_from_this<X11GrabStream> {
public:
    X11GrabStream(const ScreenCaptureTarget& target, const ScreenStreamConfiguration& configuration,
                  std::shared_ptr<Queue> queue, ScreenStreamHandlers handlers)
        : target(target)
        , configuration(configuration)
        , queue(std::move(queue))
        , handlers(std::move(handlers)) {}
    ~X11GrabStream() override { stop(); }

    void start(std::function<void(std::optional<Error>)> done) override {
        if (configuration.capturesAudio) return done(Error{"Tandem.Media", 1, "x11grab captures no sound"});
        std::lock_guard guard(lock);
        auto opened = open();
        if (opened) return done(std::nullopt);
        done(opened.error());
    }
    void update(const ScreenCaptureTarget& newTarget,
                const ScreenStreamConfiguration& newConfiguration) override {
        std::lock_guard guard(lock);
        if (stopped) return;
        target = newTarget;
        configuration = newConfiguration;
        if (input) {
            input->stop();
            input.reset();
            auto reopened = open();
            if (!reopened) fail(reopened.error());
        }
    }
    void stop() override {
        std::unique_ptr<FfmpegInput> ending;
        {
            std::lock_guard guard(lock);
            stopped = true;
            ending = std::move(input);
        }
        if (ending) ending->stop();
    }

    // The grab of the configured region: offsets inside the window, in whole pixels.
    static media::InputRequest request(const ScreenCaptureTarget& target,
                                       const ScreenStreamConfiguration& configuration) {
        Rect region = configuration.sourceRect;
        if (!(region.width > 0) || !(region.height > 0))
            region = {0, 0, target.displayBounds.width, target.displayBounds.height};
        const long x = std::lround(region.x + target.displayBounds.x - target.windowBounds.x);
        const long y = std::lround(region.y + target.displayBounds.y - target.windowBounds.y);
        const long w = std::lround(region.width), h = std::lround(region.height);
        const double rate =
            configuration.minimumFrameInterval > 0 ? 1.0 / configuration.minimumFrameInterval : 30;
        return {"x11grab",
                displayName(),
                {{"window_id", std::to_string(target.window)},
                 {"grab_x", std::to_string(std::max(0L, x))},
                 {"grab_y", std::to_string(std::max(0L, y))},
                 {"video_size", std::to_string(w) + "x" + std::to_string(h)},
                 {"framerate", std::to_string(int(std::lround(rate)))},
                 {"draw_mouse", configuration.showsCursor ? "1" : "0"}}};
    }

private:
    // With the lock held.
    Result<void> open() {
        if (stopped) return Error{"Tandem.Media", 1, "stopped"};
        auto opened = FfmpegInput::open(request(target, configuration), AVMEDIA_TYPE_VIDEO);
        if (!opened) return opened.error();
        input = std::move(opened.value());
        std::weak_ptr<X11GrabStream> weak = weak_from_this();
        const int width = configuration.width, height = configuration.height;
        auto converter = std::make_shared<media::BgraConverter>();
        input->start(
            [weak, width, height, converter, queue = queue,
             onFrame = handlers.onFrame](const AVFrame& picture, int64_t stamp) {
                const double time = media::hostTime(stamp, media::StampClock::wall, media::readClocks());
                auto frame =
                    std::make_shared<const VideoFrame>(converter->convert(picture, width, height, time));
                if (frame->width == 0 || !onFrame) return;
                queue->async([weak, frame, onFrame] {
                    if (auto self = weak.lock(); self && !self->isStopped()) onFrame(frame);
                });
            },
            // Handled on the queue: the reading thread must neither wait for the lock (`update` holds it
            // while it joins that thread) nor hold the last reference (the stream would join itself).
            [weak, queue = queue, generation = ++grabs](int error) {
                queue->async([weak, generation, error] {
                    auto self = weak.lock();
                    if (!self) return;
                    std::lock_guard guard(self->lock);
                    // A grab replaced since by `update` ended on purpose.
                    if (generation == self->grabs)
                        self->fail({"Tandem.FFmpeg", error, FfmpegInput::text(error)});
                });
            });
        return {};
    }
    // With the lock held.
    void fail(const Error& error) {
        if (stopped) return;
        std::weak_ptr<X11GrabStream> weak = weak_from_this();
        queue->async([weak, error, onStop = handlers.onStop] {
            if (auto self = weak.lock(); self && !self->isStopped() && onStop) onStop(error);
        });
    }
    bool isStopped() {
        std::lock_guard guard(lock);
        return stopped;
    }

    std::mutex lock;
    ScreenCaptureTarget target;
    ScreenStreamConfiguration configuration;
    std::shared_ptr<Queue> queue;
    ScreenStreamHandlers handlers;
    std::unique_ptr<FfmpegInput> input;
    uint64_t grabs = 0; // grabs started, so that an old one's end is told apart
    bool stopped = false;
};

} // namespace

bool X11GrabCapture::contentAvailable() {
    const std::string name = displayName();
    if (name.empty()) return false;
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

std::shared_ptr<ScreenStream> X11GrabCapture::makeStream(const ScreenCaptureTarget& target,
                                                         const ScreenStreamConfiguration& configuration,
                                                         std::shared_ptr<Queue> queue,
                                                         ScreenStreamHandlers handlers) {
    return std::make_shared<X11GrabStream>(target, configuration, std::move(queue), std::move(handlers));
}

// Microphones.

namespace {

class PulseMicrophone final : public Microphone {
public:
    PulseMicrophone(std::unique_ptr<FfmpegInput> input, std::shared_ptr<Queue> queue,
                    std::function<void(const SampleBuffer&)> onAudio)
        : input(std::move(input))
        , queue(std::move(queue))
        , onAudio(std::move(onAudio)) {}
    ~PulseMicrophone() override { stop(); }

    void start() override {
        input->start(
            [this](const AVFrame& sound, int64_t stamp) {
                const double time =
                    media::hostTime(stamp, media::stampClockOf(input->format()), media::readClocks());
                SampleBuffer buffer = converter.convert(sound, time);
                if (buffer.frames == 0 || !onAudio) return;
                queue->async(
                    [buffer = std::move(buffer), onAudio = onAudio, alive = std::weak_ptr<int>(life)] {
                        if (alive.lock()) onAudio(buffer);
                    });
            },
            {});
    }
    void stop() override {
        input->stop();
        life.reset();
    }

private:
    std::unique_ptr<FfmpegInput> input;
    std::shared_ptr<Queue> queue;
    std::function<void(const SampleBuffer&)> onAudio;
    media::FloatStereoConverter converter;
    std::shared_ptr<int> life = std::make_shared<int>(0);
};

} // namespace

std::vector<AudioInputDevice> PulseMicrophones::devices() {
    auto connected = pulse::Connection::connect("Tandem");
    if (!connected) return {};
    std::vector<AudioInputDevice> list;
    for (const pulse::Source& source : connected.value()->sources()) {
        if (!source.monitor) list.push_back({source.name, source.description});
    }
    return list;
}

Result<std::shared_ptr<Microphone>> PulseMicrophones::open(const AudioInputDevice& device,
                                                           std::shared_ptr<Queue> queue,
                                                           std::function<void(const SampleBuffer&)> onAudio) {
    auto opened = FfmpegInput::open(
        {"pulse", device.uniqueID, {{"sample_rate", "48000"}, {"channels", "2"}, {"name", "Tandem"}}},
        AVMEDIA_TYPE_AUDIO);
    if (!opened) return openFailure(opened.error());
    return std::shared_ptr<Microphone>(
        std::make_shared<PulseMicrophone>(std::move(opened.value()), std::move(queue), std::move(onAudio)));
}

} // namespace tandem
