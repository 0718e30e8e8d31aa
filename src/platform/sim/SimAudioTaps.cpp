#include "platform/sim/SimAudioTaps.h"

#include <algorithm>

namespace tandem {

struct SimAudioTaps::Shared {
    Clock& clock;
    std::shared_ptr<Queue> queue;
    std::mutex lock;
    std::vector<SimProcessSound*> sounds;
    std::vector<SampleBuffer> output;
    std::vector<int32_t> muted;
    int running = 0;

    Shared(Clock& clock, std::shared_ptr<Queue> queue)
        : clock(clock)
        , queue(std::move(queue)) {}
};

namespace {

constexpr double rate = 48000;
constexpr size_t cycleFrames = 480;
constexpr size_t keptOutput = 3000; // 30 s of cycles

class SimTapSession final : public AudioTapSession, public std::enable_shared_from_this<SimTapSession> {
public:
    SimTapSession(std::shared_ptr<SimAudioTaps::Shared> shared, AudioTapRequest request,
                  SimProcessSound& sound, bool interleaved, AudioTaps::Cycle cycle)
        : shared(std::move(shared))
        , request(std::move(request))
        , sound(sound)
        , interleaved(interleaved)
        , cycle(std::move(cycle)) {}
    ~SimTapSession() override { stop(); }

    void begin() {
        next = shared->clock.uptime();
        std::weak_ptr<SimTapSession> weak = weak_from_this();
        timer = shared->queue->timer(0.01, 0.01, [weak] {
            if (auto self = weak.lock()) self->run();
        });
        std::lock_guard guard(shared->lock);
        ++shared->running;
        if (request.listen) shared->muted.push_back(request.process);
    }
    void stop() override {
        std::unique_ptr<Timer> ending;
        {
            std::lock_guard guard(lock);
            ending = std::move(timer);
        }
        if (!ending) return;
        ending->cancel();
        std::lock_guard guard(shared->lock);
        --shared->running;
        if (request.listen) {
            auto found = std::find(shared->muted.begin(), shared->muted.end(), request.process);
            if (found != shared->muted.end()) shared->muted.erase(found);
        }
    }

private:
    void run() {
        {
            std::lock_guard guard(lock);
            if (!timer) return;
        }
        SampleBuffer tapped = SampleBuffer::makeFloat(rate, 2, cycleFrames, interleaved, next);
        next += double(cycleFrames) / rate;
        sound.render(request.process, tapped);
        std::optional<SampleBuffer> processed = cycle(tapped);
        SampleBuffer played = SampleBuffer::makeFloat(rate, 2, cycleFrames, true, tapped.time);
        if (request.listen && processed && processed->format == SampleBuffer::Format::float32 &&
            processed->channels > 0) {
            const size_t frames = std::min(cycleFrames, processed->frames);
            for (size_t f = 0; f < frames; ++f)
                for (int c = 0; c < 2; ++c)
                    played.floatAt(f, c) = processed->floatAt(f, std::min(c, processed->channels - 1));
        }
        std::lock_guard guard(shared->lock);
        shared->output.push_back(std::move(played));
        if (shared->output.size() > keptOutput) shared->output.erase(shared->output.begin());
    }

    std::shared_ptr<SimAudioTaps::Shared> shared;
    const AudioTapRequest request;
    SimProcessSound& sound;
    const bool interleaved;
    AudioTaps::Cycle cycle;
    std::mutex lock;
    std::unique_ptr<Timer> timer;
    double next = 0;
};

} // namespace

SimAudioTaps::SimAudioTaps(Clock& clock, std::shared_ptr<Queue> queue)
    : shared(std::make_shared<Shared>(clock, std::move(queue))) {}

void SimAudioTaps::addSound(SimProcessSound& sound) {
    std::lock_guard guard(shared->lock);
    shared->sounds.push_back(&sound);
}

std::vector<SampleBuffer> SimAudioTaps::output() {
    std::lock_guard guard(shared->lock);
    return shared->output;
}

std::vector<int32_t> SimAudioTaps::muted() {
    std::lock_guard guard(shared->lock);
    return shared->muted;
}

int SimAudioTaps::running() {
    std::lock_guard guard(shared->lock);
    return shared->running;
}

Result<std::shared_ptr<AudioTapSession>> SimAudioTaps::open(const AudioTapRequest& request, Cycle cycle) {
    SimProcessSound* found = nullptr;
    {
        std::lock_guard guard(shared->lock);
        for (SimProcessSound* sound : shared->sounds) {
            if (sound->sounded(request.process)) found = sound;
        }
    }
    if (!found) return audioTapError(AudioTapFailure::notPlaying, "no audio object for the process");
    if (failNext) {
        const AudioTapFailure failure = *failNext;
        failNext.reset();
        return audioTapError(failure, "simulated failure");
    }
    auto session = std::make_shared<SimTapSession>(shared, request, *found, interleaved, std::move(cycle));
    session->begin();
    return std::shared_ptr<AudioTapSession>(session);
}

} // namespace tandem
