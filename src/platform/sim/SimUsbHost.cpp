#include "platform/sim/SimUsbHost.h"

#include <cstring>

namespace tandem {

namespace {

constexpr size_t lineBytes = 2048, lines = 160, width = 960, frameBytes = lineBytes * lines;
constexpr uint8_t mask[4] = {0xE7, 0xF3, 0xE7, 0xFF};
constexpr uint8_t header[16] = {0xFF, 0xCC, 0xAA, 0x88};

class SimInterface final : public UsbInterface {
public:
    explicit SimInterface(SimPush2Display& display)
        : display(display) {}
    ~SimInterface() override { close(); }

    UsbStatus open() override {
        UsbStatus status = display.open();
        isOpen = status == UsbStatus::success;
        return status;
    }
    void close() override {
        if (isOpen) display.close();
        isOpen = false;
    }
    // Endpoint 1 IN (interrupt), then endpoint 1 OUT (bulk): the open must pick the right one.
    int numberOfEndpoints() override { return 2; }
    UsbStatus pipeProperties(int pipe, UsbPipeProperties* properties) override {
        if (!isOpen || pipe < 1 || pipe > 2) return UsbStatus::failure;
        *properties = pipe == 1 ? UsbPipeProperties{1, 3, 1} : UsbPipeProperties{0, 2, 1};
        return UsbStatus::success;
    }
    UsbStatus writePipe(int pipe, std::span<const uint8_t> bytes, uint32_t, uint32_t) override {
        if (!isOpen || pipe != 2) return UsbStatus::failure;
        return display.write(bytes);
    }
    UsbStatus clearPipeStallBothEnds(int pipe) override {
        if (!isOpen || pipe != 2) return UsbStatus::failure;
        display.clearStall();
        return UsbStatus::success;
    }

private:
    SimPush2Display& display;
    bool isOpen = false;
};

} // namespace

void SimPush2Display::setMode(Mode mode) {
    std::lock_guard guard(lock);
    current = mode;
    if (mode != Mode::present) opened = false;
}

SimPush2Display::Mode SimPush2Display::mode() const {
    std::lock_guard guard(lock);
    return current;
}

void SimPush2Display::stallNextWrite() {
    std::lock_guard guard(lock);
    stallNext = true;
}

void SimPush2Display::failNextWrite(UsbStatus status) {
    std::lock_guard guard(lock);
    failNext = status;
}

int SimPush2Display::framesShown() const {
    std::lock_guard guard(lock);
    return frames;
}

std::optional<std::vector<uint16_t>> SimPush2Display::lastImage() const {
    std::lock_guard guard(lock);
    return image;
}

int SimPush2Display::malformedFrames() const {
    std::lock_guard guard(lock);
    return malformed;
}

int SimPush2Display::openCount() const {
    std::lock_guard guard(lock);
    return opens;
}

int SimPush2Display::stallsCleared() const {
    std::lock_guard guard(lock);
    return stalls;
}

bool SimPush2Display::isOpen() const {
    std::lock_guard guard(lock);
    return opened;
}

UsbStatus SimPush2Display::open() {
    std::lock_guard guard(lock);
    switch (current) {
    case Mode::heldByOther:
        return UsbStatus::exclusiveAccess;
    case Mode::absent:
        return UsbStatus::noDevice;
    case Mode::unreachable:
        return UsbStatus::failure;
    case Mode::present:
        break;
    }
    opened = true;
    ++opens;
    return UsbStatus::success;
}

void SimPush2Display::close() {
    std::lock_guard guard(lock);
    opened = false;
    pending.clear();
    inFrame = false;
}

void SimPush2Display::clearStall() {
    std::lock_guard guard(lock);
    ++stalls;
    pending.clear();
    inFrame = false;
}

UsbStatus SimPush2Display::write(std::span<const uint8_t> bytes) {
    std::lock_guard guard(lock);
    if (!opened || current != Mode::present) return UsbStatus::noDevice;
    if (stallNext) {
        stallNext = false;
        return UsbStatus::pipeStalled;
    }
    if (failNext) {
        UsbStatus status = *failNext;
        failNext.reset();
        return status;
    }
    if (bytes.size() == sizeof header && std::memcmp(bytes.data(), header, sizeof header) == 0) {
        if (inFrame) ++malformed; // the previous frame never finished
        inFrame = true;
        pending.clear();
        return UsbStatus::success;
    }
    if (!inFrame) {
        ++malformed;
        return UsbStatus::success;
    }
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    if (pending.size() < frameBytes) return UsbStatus::success;
    inFrame = false;
    if (pending.size() != frameBytes) {
        ++malformed;
        return UsbStatus::success;
    }
    std::vector<uint16_t> pixels(width * lines);
    for (size_t line = 0; line < lines; ++line) {
        const uint8_t* row = pending.data() + line * lineBytes;
        for (size_t at = width * 2; at < lineBytes; ++at) {
            if ((row[at] ^ mask[at % 4]) != 0) {
                ++malformed;
                return UsbStatus::success;
            }
        }
        for (size_t x = 0; x < width; ++x) {
            uint8_t low = row[2 * x] ^ mask[(2 * x) % 4], high = row[2 * x + 1] ^ mask[(2 * x + 1) % 4];
            pixels[line * width + x] = uint16_t(low | high << 8);
        }
    }
    image = std::move(pixels);
    ++frames;
    return UsbStatus::success;
}

UsbHost::Found SimUsbHost::findInterface(uint16_t vendor, uint16_t product, int configuration,
                                         int interfaceNumber) {
    ++searchCount;
    if (!display || vendor != 0x2982 || product != 0x1967 || configuration != 1 || interfaceNumber != 0 ||
        display->mode() == SimPush2Display::Mode::absent) {
        return {nullptr, UsbStatus::notFound};
    }
    return {std::make_unique<SimInterface>(*display), UsbStatus::success};
}

} // namespace tandem
