#include "platform/sim/SimScreenCapture.h"

#include <algorithm>
#include <cmath>

namespace tandem {

struct SimScreenCapture::Shared {
    Clock& clock;
    SimWindowServer& windows;
    std::mutex lock;
    std::vector<SimWindowPainter*> painters;
    std::vector<SimProcessSound*> sounds;
    std::vector<std::weak_ptr<ScreenStream>> made;
    std::vector<SimScreenCapture::Record> records; // one per stream made, kept after it is gone

    Shared(Clock& clock, SimWindowServer& windows)
        : clock(clock)
        , windows(windows) {}
};

namespace {

class SimScreenStream final : public ScreenStream, public std::enable_shared_from_this<SimScreenStream> {
public:
    SimScreenStream(SimScreenCapture& owner, const std::shared_ptr<SimScreenCapture::Shared>& shared,
                    size_t index, std::shared_ptr<Queue> queue, ScreenStreamHandlers handlers,
                    double startDelay, std::optional<Error> startFailure)
        : owner(owner)
        , shared(shared)
        , queue(std::move(queue))
        , handlers(std::move(handlers))
        , startDelay(startDelay)
        , startFailure(std::move(startFailure))
        , index(index) {}
    ~SimScreenStream() override { halt(); }

    void start(std::function<void(std::optional<Error>)> done) override {
        std::weak_ptr<SimScreenStream> weak = weak_from_this();
        queue->after(startDelay, [weak, done] {
            auto self = weak.lock();
            if (!self) return;
            if (self->startFailure) return done(self->startFailure);
            {
                std::lock_guard guard(self->shared->lock);
                if (self->state().stopped) return;
                self->state().running = true;
                self->schedule();
            }
            done(std::nullopt);
        });
    }
    void update(const ScreenCaptureTarget& target, const ScreenStreamConfiguration& configuration) override {
        std::lock_guard guard(shared->lock);
        state().target = target;
        state().configuration = configuration;
        ++state().updates;
        if (state().running) schedule();
    }
    void stop() override {
        {
            std::lock_guard guard(shared->lock);
            state().stopped = true;
        }
        halt();
    }
    void fail(const Error& error) {
        {
            std::lock_guard guard(shared->lock);
            if (!state().running) return;
        }
        halt();
        if (handlers.onStop) handlers.onStop(error);
    }
    SimScreenCapture::Record record() {
        std::lock_guard guard(shared->lock);
        return state();
    }

private:
    // With the lock held.
    void schedule() {
        std::weak_ptr<SimScreenStream> weak = weak_from_this();
        const double interval = std::max(state().configuration.minimumFrameInterval, 1.0 / 120);
        frames = queue->timer(interval, interval, [weak] {
            if (auto self = weak.lock()) self->frame();
        });
        if (state().configuration.capturesAudio && !sound) {
            nextAudio = shared->clock.uptime();
            sound = queue->timer(0.01, 0.01, [weak] {
                if (auto self = weak.lock()) self->audio();
            });
        } else if (!state().configuration.capturesAudio) {
            sound.reset();
        }
    }
    void halt() {
        std::unique_ptr<Timer> a, b;
        {
            std::lock_guard guard(shared->lock);
            state().running = false;
            a = std::move(frames);
            b = std::move(sound);
        }
    }
    void frame() {
        SimScreenCapture::Record now = record();
        if (!now.running) return;
        auto picture = std::make_shared<const VideoFrame>(owner.paint(now.target, now.configuration));
        if (handlers.onFrame) handlers.onFrame(std::move(picture));
    }
    void audio() {
        SimScreenCapture::Record now = record();
        if (!now.running) return;
        const int rate = now.configuration.sampleRate, channels = now.configuration.channelCount;
        const size_t count = size_t(rate / 100);
        SampleBuffer buffer = SampleBuffer::makeFloat(rate, channels, count, true, nextAudio);
        nextAudio += double(count) / rate;
        std::vector<SimProcessSound*> sounds;
        {
            std::lock_guard guard(shared->lock);
            sounds = shared->sounds;
        }
        for (SimProcessSound* s : sounds) {
            if (s->sounded(now.target.process)) s->render(now.target.process, buffer);
        }
        if (handlers.onAudio) handlers.onAudio(buffer);
    }

    SimScreenCapture& owner;
    std::shared_ptr<SimScreenCapture::Shared> shared;
    std::shared_ptr<Queue> queue;
    ScreenStreamHandlers handlers;
    const double startDelay;
    const std::optional<Error> startFailure;
    // With the shared lock held.
    SimScreenCapture::Record& state() { return shared->records[index]; }
    const size_t index;
    std::unique_ptr<Timer> frames, sound;
    double nextAudio = 0;
};

} // namespace

SimScreenCapture::SimScreenCapture(Clock& clock, SimWindowServer& windows)
    : shared(std::make_shared<Shared>(clock, windows)) {}

void SimScreenCapture::addPainter(SimWindowPainter& painter) {
    std::lock_guard guard(shared->lock);
    shared->painters.push_back(&painter);
}

void SimScreenCapture::addSound(SimProcessSound& sound) {
    std::lock_guard guard(shared->lock);
    shared->sounds.push_back(&sound);
}

bool SimScreenCapture::contentAvailable() {
    return permitted;
}

std::shared_ptr<ScreenStream> SimScreenCapture::makeStream(const ScreenCaptureTarget& target,
                                                           const ScreenStreamConfiguration& configuration,
                                                           std::shared_ptr<Queue> queue,
                                                           ScreenStreamHandlers handlers) {
    Record record;
    record.target = target;
    record.configuration = configuration;
    size_t index = 0;
    {
        std::lock_guard guard(shared->lock);
        index = shared->records.size();
        shared->records.push_back(record);
    }
    auto stream = std::make_shared<SimScreenStream>(*this, shared, index, std::move(queue),
                                                    std::move(handlers), startDelay, startFailure);
    std::lock_guard guard(shared->lock);
    shared->made.push_back(stream);
    return stream;
}

std::vector<SimScreenCapture::Record> SimScreenCapture::streams() {
    std::lock_guard guard(shared->lock);
    return shared->records;
}

void SimScreenCapture::failRunning(const Error& error) {
    std::vector<std::weak_ptr<ScreenStream>> made;
    {
        std::lock_guard guard(shared->lock);
        made = shared->made;
    }
    for (auto& weak : made) {
        if (auto stream = weak.lock()) static_cast<SimScreenStream&>(*stream).fail(error);
    }
}

VideoFrame SimScreenCapture::paint(const ScreenCaptureTarget& target,
                                   const ScreenStreamConfiguration& configuration) {
    VideoFrame out = VideoFrame::make(configuration.width, configuration.height, shared->clock.uptime());
    for (size_t i = 3; i < out.bytes.size(); i += 4)
        out.bytes[i] = 0xFF; // opaque black where no window is
    Rect region = configuration.sourceRect;
    if (!(region.width > 0) || !(region.height > 0))
        region = {0, 0, target.displayBounds.width, target.displayBounds.height};
    if (!(region.width > 0) || !(region.height > 0) || out.width == 0 || out.height == 0) return out;
    const double sx = out.width / region.width, sy = out.height / region.height;
    std::vector<SimWindowPainter*> painters;
    {
        std::lock_guard guard(shared->lock);
        painters = shared->painters;
    }
    auto windows = shared->windows.onScreenWindows();
    // Back to front, so the front window ends on top.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (it->ownerProcessIdentifier != target.process || !it->bounds) continue;
        const Rect b = *it->bounds;
        const double left = (b.x - target.displayBounds.x - region.x) * sx;
        const double top = (b.y - target.displayBounds.y - region.y) * sy;
        const int w = int(std::lround(b.width * sx)), h = int(std::lround(b.height * sy));
        if (w <= 0 || h <= 0) continue;
        std::optional<VideoFrame> picture;
        for (SimWindowPainter* painter : painters) {
            if ((picture = painter->windowPicture(it->number, w, h))) break;
        }
        if (!picture || picture->width != w || picture->height != h) continue;
        const int x0 = int(std::lround(left)), y0 = int(std::lround(top));
        for (int y = std::max(0, y0); y < std::min(out.height, y0 + h); ++y) {
            const int from = std::max(0, x0), to = std::min(out.width, x0 + w);
            if (to <= from) continue;
            std::copy_n(picture->pixel(from - x0, y - y0), size_t(to - from) * 4, out.pixel(from, y));
        }
    }
    return out;
}

} // namespace tandem
