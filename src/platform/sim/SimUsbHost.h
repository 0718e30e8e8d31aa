#pragma once

#include "platform/Usb.h"
#include "platform/sim/SimNotices.h"

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

// A USB host holding at most one simulated Push 2 display, and a registry of USB objects that tests
// and simulated devices build: entries hang below their parents as in IOKit's "IOService" plane, and
// every device entry ("IOUSBHostDevice") added or removed is announced. A re-enumerated device leaves
// with its subtree and comes back with new entry ids.
class SimUsbHost final : public UsbHost {
public:
    explicit SimUsbHost(SimPush2Display* display = nullptr);
    ~SimUsbHost() override;
    Found findInterface(uint16_t vendor, uint16_t product, int configuration, int interfaceNumber) override;
    // How often the host was asked to find an interface.
    int searches() const { return searchCount; }

    // Adds an entry below `parent` (0: at the root) and gives its new id (the entry's own is ignored).
    uint64_t addEntry(uint64_t parent, UsbRegistryEntry entry);
    // Removes an entry with everything below it, the deepest first; false when there is none.
    bool removeEntry(uint64_t id);
    // The device entry ("IOUSBHostDevice") at that "locationID", or 0.
    uint64_t deviceAt(int64_t locationID);

    // How a device answers through its device interface. A mode stays with the device's location
    // across re-enumerations.
    struct DeviceBehaviour {
        bool noInterface = false;       // the plug-in cannot be made
        bool heldExclusively = false;   // another client has it open: open answers exclusiveAccess
        uint32_t openStatus = 0;        // forced answer of open and openSeize
        uint32_t reEnumerateStatus = 0; // forced answer of reEnumerate (the device stays)
    };
    void setBehaviour(int64_t locationID, DeviceBehaviour behaviour);

    struct ReEnumeration {
        int64_t locationID = 0;
        std::string name;
        bool seized = false;
        bool operator==(const ReEnumeration&) const = default;
    };
    // Every successful re-enumeration, in order.
    std::vector<ReEnumeration> reEnumerations() const;

    std::vector<UsbRegistryEntry> matchingServices(const UsbMatching& matching) override;
    std::optional<UsbRegistryEntry> entry(uint64_t id) override;
    std::vector<UsbRegistryEntry> children(uint64_t id) override;
    std::optional<UsbRegistryEntry> parent(uint64_t id) override;
    ObservationToken observeDevices(std::shared_ptr<Queue> queue,
                                    std::function<void(const UsbDeviceNotice&)> handler) override;
    std::unique_ptr<UsbDeviceInterface> deviceInterface(uint64_t id) override;

    struct Registry;

private:
    SimPush2Display* display;
    int searchCount = 0;
    std::shared_ptr<Registry> registry;
};

} // namespace tandem
