#include "platform/sim/SimMicrophones.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tandem {

struct SimMicrophones::Shared {
    Clock& clock;
    std::mutex lock;
    std::vector<std::pair<AudioInputDevice, Behaviour>> list;
    int running = 0;

    explicit Shared(Clock& clock)
        : clock(clock) {}
};

namespace {

class SimMicrophone final : public Microphone, public std::enable_shared_from_this<SimMicrophone> {
public:
    SimMicrophone(std::shared_ptr<SimMicrophones::Shared> shared, std::shared_ptr<Queue> queue,
                  std::function<void(const SampleBuffer&)> onAudio)
        : shared(std::move(shared))
        , queue(std::move(queue))
        , onAudio(std::move(onAudio)) {}
    ~SimMicrophone() override { stop(); }

    void start() override {
        std::lock_guard guard(lock);
        if (timer) return;
        next = shared->clock.uptime();
        std::weak_ptr<SimMicrophone> weak = weak_from_this();
        timer = queue->timer(0.01, 0.01, [weak] {
            if (auto self = weak.lock()) self->deliver();
        });
        std::lock_guard sharedGuard(shared->lock);
        ++shared->running;
    }
    void stop() override {
        std::unique_ptr<Timer> ending;
        {
            std::lock_guard guard(lock);
            ending = std::move(timer);
        }
        if (!ending) return;
        ending->cancel();
        std::lock_guard sharedGuard(shared->lock);
        --shared->running;
    }

private:
    void deliver() {
        SampleBuffer buffer;
        {
            std::lock_guard guard(lock);
            if (!timer) return;
            buffer = SampleBuffer::makeFloat(48000, 2, 480, true, next);
            for (size_t f = 0; f < buffer.frames; ++f) {
                const double t = next + double(f) / 48000;
                const float v = float(0.25 * std::sin(2 * std::numbers::pi * 440 * t));
                buffer.floatAt(f, 0) = v;
                buffer.floatAt(f, 1) = v;
            }
            next += 0.01;
        }
        if (onAudio) onAudio(buffer);
    }

    std::shared_ptr<SimMicrophones::Shared> shared;
    std::shared_ptr<Queue> queue;
    std::function<void(const SampleBuffer&)> onAudio;
    std::mutex lock;
    std::unique_ptr<Timer> timer;
    double next = 0;
};

} // namespace

SimMicrophones::SimMicrophones(Clock& clock)
    : shared(std::make_shared<Shared>(clock)) {}

void SimMicrophones::add(const AudioInputDevice& device, Behaviour behaviour) {
    std::lock_guard guard(shared->lock);
    shared->list.emplace_back(device, behaviour);
}

void SimMicrophones::remove(const std::string& uniqueID) {
    std::lock_guard guard(shared->lock);
    std::erase_if(shared->list, [&](const auto& entry) { return entry.first.uniqueID == uniqueID; });
}

int SimMicrophones::running() {
    std::lock_guard guard(shared->lock);
    return shared->running;
}

std::vector<AudioInputDevice> SimMicrophones::devices() {
    std::lock_guard guard(shared->lock);
    std::vector<AudioInputDevice> list;
    for (const auto& entry : shared->list)
        list.push_back(entry.first);
    return list;
}

Result<std::shared_ptr<Microphone>> SimMicrophones::open(const AudioInputDevice& device,
                                                         std::shared_ptr<Queue> queue,
                                                         std::function<void(const SampleBuffer&)> onAudio) {
    std::lock_guard guard(shared->lock);
    for (const auto& [known, behaviour] : shared->list) {
        if (known.uniqueID != device.uniqueID) continue;
        switch (behaviour) {
        case Behaviour::inUse:
            return mediaError(MediaFailure::inUse, "Device or resource busy");
        case Behaviour::denied:
            return mediaError(MediaFailure::denied, "Permission denied");
        case Behaviour::unreadable:
            return mediaError(MediaFailure::unreadable, "No usable format");
        case Behaviour::ready:
            break;
        }
        return std::shared_ptr<Microphone>(
            std::make_shared<SimMicrophone>(shared, std::move(queue), std::move(onAudio)));
    }
    return mediaError(MediaFailure::failed, "The sound input " + device.name + " is not connected.");
}

} // namespace tandem
