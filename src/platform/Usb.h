#pragma once

#include "base/Queue.h"
#include "platform/Observation.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tandem {

// Results of USB calls, in the system's terms (IOKit's returns map onto these).
enum class UsbStatus {
    success,
    notFound,        // no matching device or interface
    exclusiveAccess, // held exclusively by another process
    pipeStalled,
    timeout,
    noDevice, // the device went away
    failure,  // anything else
};

struct UsbPipeProperties {
    int direction = 0;    // 0 = out (host to device), 1 = in
    int transferType = 0; // 0 control, 1 isochronous, 2 bulk, 3 interrupt
    int number = 0;       // endpoint number 0-15
};

// One interface of a USB device, found but not necessarily open. Pipe references count from 1.
class UsbInterface {
public:
    virtual ~UsbInterface() = default;

    virtual UsbStatus open() = 0;
    virtual void close() = 0;
    virtual int numberOfEndpoints() = 0;
    virtual UsbStatus pipeProperties(int pipe, UsbPipeProperties* properties) = 0;
    // A bulk or interrupt write; `noDataTimeout` bounds a stall between bytes, `completionTimeout` the
    // whole transfer (milliseconds).
    virtual UsbStatus writePipe(int pipe, std::span<const uint8_t> bytes, uint32_t noDataTimeout,
                                uint32_t completionTimeout) = 0;
    virtual UsbStatus clearPipeStallBothEnds(int pipe) = 0;
};

// IOKit's return codes, so that every adapter prints the same numbers.
namespace IOReturn {
constexpr uint32_t success = 0;
constexpr uint32_t error = 0xe00002bc;         // kIOReturnError: anything else
constexpr uint32_t notPrivileged = 0xe00002c1; // kIOReturnNotPrivileged: no access
constexpr uint32_t noDevice = 0xe00002c0;      // kIOReturnNoDevice: gone
constexpr uint32_t exclusiveAccess = 0xe00002c5;
} // namespace IOReturn

// One object of the USB part of the I/O registry (a device, an interface, a driver, a user client),
// as read at one moment. Numbers and strings are the registry's properties by their IOKit names:
// "idVendor", "idProduct", "locationID", "USB Vendor Name", "USB Product Name", "bInterfaceNumber",
// "bInterfaceClass", "USB Interface Name", "IOUserClientCreator".
struct UsbRegistryEntry {
    using Value = std::variant<int64_t, std::string>;

    uint64_t id = 0;                      // the registry entry id: unique while the object lives
    std::string className;                // "IOUSBHostDevice", "IOUSBHostInterface", a driver's class
    std::string name;                     // the registry entry name
    std::vector<std::string> superclasses; // what it conforms to besides its own class
    std::map<std::string, Value> properties;

    bool conformsTo(const std::string& kind) const {
        if (className == kind) return true;
        for (const std::string& base : superclasses)
            if (base == kind) return true;
        return false;
    }
    std::optional<int64_t> number(const std::string& key) const {
        auto found = properties.find(key);
        if (found == properties.end() || !std::holds_alternative<int64_t>(found->second)) return std::nullopt;
        return std::get<int64_t>(found->second);
    }
    std::optional<std::string> string(const std::string& key) const {
        auto found = properties.find(key);
        if (found == properties.end() || !std::holds_alternative<std::string>(found->second))
            return std::nullopt;
        return std::get<std::string>(found->second);
    }
    bool operator==(const UsbRegistryEntry&) const = default;
};

// A matching dictionary: services conforming to a class, optionally with that vendor and product.
struct UsbMatching {
    std::string className = "IOUSBHostDevice";
    std::optional<int64_t> vendor;
    std::optional<int64_t> product;
};

// A device matched ("IOServiceFirstMatch") or terminated ("IOServiceTerminate"); a terminated
// entry carries its properties as they were.
struct UsbDeviceNotice {
    bool arrived = false;
    UsbRegistryEntry entry;
};

// The USB device interface of one device, as IOKit's plug-in gives it. Every call answers with an
// IOReturn code.
class UsbDeviceInterface {
public:
    virtual ~UsbDeviceInterface() = default;
    virtual uint32_t open() = 0;      // USBDeviceOpen: exclusiveAccess while another client holds it
    virtual uint32_t openSeize() = 0; // USBDeviceOpenSeize
    // USBDeviceReEnumerate: the device disconnects and comes back as if re-plugged.
    virtual uint32_t reEnumerate(uint32_t options) = 0;
    virtual uint32_t close() = 0;
};

// What the system asks of the platform's USB host.
class UsbHost {
public:
    virtual ~UsbHost() = default;

    // The interface with that number in that configuration of the first matching device.
    // `status` is notFound when nothing matches, failure when a match could not be reached.
    struct Found {
        std::unique_ptr<UsbInterface> interface;
        UsbStatus status = UsbStatus::notFound;
    };
    virtual Found findInterface(uint16_t vendor, uint16_t product, int configuration,
                                int interfaceNumber) = 0;

    // The registry, read-only. Entries in registry order; an absent entry gives nothing.
    virtual std::vector<UsbRegistryEntry> matchingServices(const UsbMatching& matching) = 0;
    virtual std::optional<UsbRegistryEntry> entry(uint64_t id) = 0;
    // The entry's children and parent in the "IOService" plane.
    virtual std::vector<UsbRegistryEntry> children(uint64_t id) = 0;
    virtual std::optional<UsbRegistryEntry> parent(uint64_t id) = 0;
    // USB devices ("IOUSBHostDevice") arriving and going, on `queue`, from now until the token is
    // destroyed.
    virtual ObservationToken observeDevices(std::shared_ptr<Queue> queue,
                                            std::function<void(const UsbDeviceNotice&)> handler) = 0;
    // The device interface of a device entry; nothing when the entry is no device or is gone.
    virtual std::unique_ptr<UsbDeviceInterface> deviceInterface(uint64_t id) = 0;
};

} // namespace tandem
