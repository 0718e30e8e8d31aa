#include "platform/sim/SimAudioOutputs.h"

#include <algorithm>
#include <deque>
#include <map>

namespace tandem {

struct SimAudioOutputs::Shared {
    Clock& clock;
    std::shared_ptr<Queue> queue;
    std::mutex lock;
    std::vector<AudioOutputDevice> list;
    bool stalled = false, unreadable = false;
    std::map<uint32_t, size_t> played;
    std::map<uint32_t, int> running;

    Shared(Clock& clock, std::shared_ptr<Queue> queue)
        : clock(clock)
        , queue(std::move(queue)) {}
};

namespace {

class SimAudioPlayer final : public AudioPlayer {
public:
    SimAudioPlayer(std::shared_ptr<SimAudioOutputs::Shared> shared, uint32_t device)
        : shared(std::move(shared))
        , device(device)
        , life(std::make_shared<int>(0)) {}
    ~SimAudioPlayer() override { stop(); }

    Result<void> start(double, int channels) override {
        if (channels < 1) return Error{"Tandem.Media", 1, "No channels to play"};
        stop();
        std::lock_guard guard(shared->lock);
        isRunning = true;
        ++shared->running[device];
        return {};
    }
    void schedule(const SampleBuffer& buffer, std::function<void()> played) override {
        std::lock_guard guard(shared->lock);
        if (!isRunning) {
            if (played) played();
            return;
        }
        queued.push_back({buffer.duration(), std::move(played)});
        if (queued.size() == 1) next();
    }
    void stop() override {
        std::deque<Entry> dropped;
        {
            std::lock_guard guard(shared->lock);
            if (!isRunning) return;
            isRunning = false;
            --shared->running[device];
            dropped.swap(queued);
            life = std::make_shared<int>(0); // the one being played is not finished by its timer
        }
        for (Entry& entry : dropped)
            if (entry.played) entry.played();
    }

private:
    struct Entry {
        double duration;
        std::function<void()> played;
    };
    // With the shared lock held: plays the front buffer, unless the device has stalled.
    void next() {
        if (queued.empty() || shared->stalled) return;
        std::weak_ptr<int> alive = life;
        shared->queue->after(queued.front().duration, [this, alive] {
            if (!alive.lock()) return;
            std::function<void()> played;
            {
                std::lock_guard guard(shared->lock);
                if (queued.empty()) return;
                played = std::move(queued.front().played);
                queued.pop_front();
                ++shared->played[device];
                next();
            }
            if (played) played();
        });
    }

    std::shared_ptr<SimAudioOutputs::Shared> shared;
    const uint32_t device;
    std::shared_ptr<int> life;
    bool isRunning = false;
    std::deque<Entry> queued;
};

} // namespace

SimAudioOutputs::SimAudioOutputs(Clock& clock, std::shared_ptr<Queue> queue)
    : shared(std::make_shared<Shared>(clock, std::move(queue))) {}

void SimAudioOutputs::add(const AudioOutputDevice& device) {
    std::lock_guard guard(shared->lock);
    shared->list.push_back(device);
}

void SimAudioOutputs::remove(const std::string& uid) {
    std::lock_guard guard(shared->lock);
    std::erase_if(shared->list, [&](const AudioOutputDevice& d) { return d.uid == uid; });
}

void SimAudioOutputs::setStalled(bool stalled) {
    std::lock_guard guard(shared->lock);
    shared->stalled = stalled;
}

void SimAudioOutputs::setUnreadable(bool unreadable) {
    std::lock_guard guard(shared->lock);
    shared->unreadable = unreadable;
}

size_t SimAudioOutputs::played(uint32_t device) {
    std::lock_guard guard(shared->lock);
    return shared->played[device];
}

int SimAudioOutputs::running(uint32_t device) {
    std::lock_guard guard(shared->lock);
    return shared->running[device];
}

std::vector<AudioOutputDevice> SimAudioOutputs::devices() {
    std::lock_guard guard(shared->lock);
    if (shared->unreadable) return {};
    return shared->list;
}

std::unique_ptr<AudioPlayer> SimAudioOutputs::makePlayer(std::optional<uint32_t> device) {
    return std::make_unique<SimAudioPlayer>(shared, device.value_or(0));
}

} // namespace tandem
