#include "platform/sim/SimCameras.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tandem {

namespace {

constexpr uint32_t grey = 0xFF404040, red = 0xFFE02020, blue = 0xFF2040E0, white = 0xFFFFFFFF,
                   black = 0xFF000000;
constexpr int bits = 32;

void fillRect(VideoFrame& frame, int x, int y, int w, int h, uint32_t argb) {
    const int x0 = std::clamp(x, 0, frame.width), x1 = std::clamp(x + w, 0, frame.width);
    const int y0 = std::clamp(y, 0, frame.height), y1 = std::clamp(y + h, 0, frame.height);
    if (x1 <= x0) return;
    for (int row = y0; row < y1; ++row) {
        auto* p = reinterpret_cast<uint32_t*>(frame.pixel(x0, row));
        std::fill(p, p + (x1 - x0), argb); // BGRA in memory is 0xAARRGGBB little-endian
    }
}

int stripHeight(int height) {
    return std::max(2, height / 24);
}

} // namespace

struct SimCameras::Shared {
    Clock& clock;
    std::shared_ptr<Queue> queue;
    std::mutex lock;
    std::vector<Device> list;
    bool flashNext = false;
    std::vector<double> flashTimes;
    int running = 0;
    // Devices opened and not yet stopped: like a video device, a camera is one opener's at a time.
    std::vector<std::string> held;

    Shared(Clock& clock, std::shared_ptr<Queue> queue)
        : clock(clock)
        , queue(std::move(queue)) {}
};

namespace {

class SimCamera final : public Camera, public std::enable_shared_from_this<SimCamera> {
public:
    SimCamera(std::shared_ptr<SimCameras::Shared> shared, std::string uniqueID, int width, int height)
        : shared(std::move(shared))
        , uniqueID(std::move(uniqueID))
        , width(width)
        , height(height) {}
    ~SimCamera() override { stop(); }

    void start() override {
        std::lock_guard guard(lock);
        if (timer || released) return;
        std::weak_ptr<SimCamera> weak = weak_from_this();
        timer = shared->queue->timer(1.0 / 30, 1.0 / 30, [weak] {
            if (auto self = weak.lock()) self->deliver();
        });
        std::lock_guard sharedGuard(shared->lock);
        ++shared->running;
    }
    // Stopping gives the device back: a stopped camera does not start again.
    void stop() override {
        std::unique_ptr<Timer> ending;
        bool releasing = false;
        {
            std::lock_guard guard(lock);
            ending = std::move(timer);
            releasing = !std::exchange(released, true);
        }
        if (ending) ending->cancel();
        std::lock_guard sharedGuard(shared->lock);
        if (ending) --shared->running;
        if (releasing) {
            auto held = std::find(shared->held.begin(), shared->held.end(), uniqueID);
            if (held != shared->held.end()) shared->held.erase(held);
        }
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
    void deliver() {
        bool flash = false;
        {
            std::lock_guard sharedGuard(shared->lock);
            flash = shared->flashNext;
        }
        uint64_t number = 0;
        {
            std::lock_guard guard(lock);
            if (!timer) return;
            number = frames;
        }
        auto frame = std::make_shared<const VideoFrame>(
            SimCameras::pattern(width, height, number, flash, shared->clock.uptime()));
        if (flash) {
            std::lock_guard sharedGuard(shared->lock);
            shared->flashNext = false;
            shared->flashTimes.push_back(frame->time);
        }
        std::lock_guard guard(lock);
        newest = std::move(frame);
        ++frames;
    }

    std::shared_ptr<SimCameras::Shared> shared;
    const std::string uniqueID;
    const int width, height;
    std::mutex lock;
    std::unique_ptr<Timer> timer;
    bool released = false;
    std::shared_ptr<const VideoFrame> newest;
    uint64_t frames = 0;
};

} // namespace

SimCameras::SimCameras(Clock& clock, std::shared_ptr<Queue> queue)
    : shared(std::make_shared<Shared>(clock, std::move(queue))) {}

void SimCameras::add(Device device) {
    std::lock_guard guard(shared->lock);
    shared->list.push_back(std::move(device));
}

void SimCameras::remove(const std::string& uniqueID) {
    std::lock_guard guard(shared->lock);
    std::erase_if(shared->list, [&](const Device& d) { return d.device.uniqueID == uniqueID; });
}

void SimCameras::setBehaviour(const std::string& uniqueID, Behaviour behaviour) {
    std::lock_guard guard(shared->lock);
    for (Device& device : shared->list) {
        if (device.device.uniqueID == uniqueID) device.behaviour = behaviour;
    }
}

void SimCameras::flash() {
    std::lock_guard guard(shared->lock);
    shared->flashNext = true;
}

std::vector<double> SimCameras::flashes() {
    std::lock_guard guard(shared->lock);
    return shared->flashTimes;
}

int SimCameras::running() {
    std::lock_guard guard(shared->lock);
    return shared->running;
}

std::vector<CameraDevice> SimCameras::devices() {
    std::lock_guard guard(shared->lock);
    std::vector<CameraDevice> list;
    for (const Device& device : shared->list)
        list.push_back(device.device);
    return list;
}

Result<std::shared_ptr<Camera>> SimCameras::open(const CameraDevice& wanted) {
    std::lock_guard guard(shared->lock);
    for (const Device& device : shared->list) {
        if (device.device.uniqueID != wanted.uniqueID) continue;
        switch (device.behaviour) {
        case Behaviour::inUse:
            return mediaError(MediaFailure::inUse, "Device or resource busy");
        case Behaviour::denied:
            return mediaError(MediaFailure::denied, "Permission denied");
        case Behaviour::unreadable:
            return mediaError(MediaFailure::unreadable, "No usable format");
        case Behaviour::ready:
            break;
        }
        if (std::ranges::find(shared->held, wanted.uniqueID) != shared->held.end())
            return mediaError(MediaFailure::inUse, "Device or resource busy");
        shared->held.push_back(wanted.uniqueID);
        return std::shared_ptr<Camera>(
            std::make_shared<SimCamera>(shared, wanted.uniqueID, device.width, device.height));
    }
    return mediaError(MediaFailure::failed, "The camera " + wanted.name + " is not connected.");
}

VideoFrame SimCameras::pattern(int width, int height, uint64_t number, bool flash, double time) {
    VideoFrame frame = VideoFrame::make(width, height, time);
    if (flash) {
        fillRect(frame, 0, 0, width, height, white);
        return frame;
    }
    fillRect(frame, 0, 0, width, height, grey);
    const int strip = stripHeight(height);
    for (int bit = 0; bit < bits; ++bit) {
        const int x0 = bit * width / bits, x1 = (bit + 1) * width / bits;
        fillRect(frame, x0, 0, x1 - x0, strip, (number >> bit) & 1 ? white : black);
    }
    fillRect(frame, width / 4 - height / 10, height / 3 - height / 10, height / 5, height / 5, red);
    fillRect(frame, 3 * width / 4 - height / 20, 3 * height / 4 - height / 20, height / 10, height / 10,
             blue);
    return frame;
}

std::optional<uint64_t> SimCameras::frameNumber(const VideoFrame& frame) {
    if (frame.width < bits || frame.height < 2) return std::nullopt;
    const int y = stripHeight(frame.height) / 2;
    uint64_t number = 0;
    for (int bit = 0; bit < bits; ++bit) {
        const int x = (2 * bit + 1) * frame.width / (2 * bits);
        const uint32_t pixel = frame.argb(x, y);
        const int level = int(pixel & 0xFF) + int((pixel >> 8) & 0xFF) + int((pixel >> 16) & 0xFF);
        if (level > 3 * 200)
            number |= uint64_t(1) << bit;
        else if (level > 3 * 55)
            return std::nullopt; // neither black nor white: no strip here
    }
    return number;
}

} // namespace tandem
