#pragma once

#include "platform/Usb.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace tandem {

// The Push 2's display interface as a simulated USB device: it decodes every frame it is sent
// (header check, un-masking, filler check) into the RGB565 image a test can read, and can be
// absent, held by another app, stall once or fail.
class SimPush2Display {
public:
    enum class Mode { present, absent, heldByOther, unreachable };

    void setMode(Mode mode);
    Mode mode() const;
    // The next write stalls (the transfer fails with a stalled pipe) / fails outright.
    void stallNextWrite();
    void failNextWrite(UsbStatus status = UsbStatus::noDevice);

    // Frames decoded in full; the last one as 960 × 160 pixels.
    int framesShown() const;
    std::optional<std::vector<uint16_t>> lastImage() const;
    // Transfers that broke the frame format (a bad header, a wrong filler, a short frame).
    int malformedFrames() const;
    int openCount() const;
    int stallsCleared() const;
    bool isOpen() const;

    // Called by the simulated interface.
    UsbStatus open();
    void close();
    UsbStatus write(std::span<const uint8_t> bytes);
    void clearStall();

private:
    mutable std::mutex lock;
    Mode current = Mode::present;
    bool opened = false;
    bool stallNext = false;
    std::optional<UsbStatus> failNext;
    std::vector<uint8_t> pending;
    bool inFrame = false;
    std::optional<std::vector<uint16_t>> image;
    int frames = 0, malformed = 0, opens = 0, stalls = 0;
};

// A USB host holding at most one simulated Push 2 display.
class SimUsbHost final : public UsbHost {
public:
    explicit SimUsbHost(SimPush2Display* display = nullptr)
        : display(display) {}
    Found findInterface(uint16_t vendor, uint16_t product, int configuration, int interfaceNumber) override;
    // How often the host was asked to find an interface.
    int searches() const { return searchCount; }

private:
    SimPush2Display* display;
    int searchCount = 0;
};

} // namespace tandem
