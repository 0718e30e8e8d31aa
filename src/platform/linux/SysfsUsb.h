#pragma once

#include "platform/Usb.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// The Mac's "locationID" for a Linux USB device name: the bus in the top byte, then one hub port per
// nibble from the top ("1-1.2" → 0x01120000). Nothing for a name that is no device ("usb1", an
// interface "1-1:1.0") or that a location cannot hold (more than six ports, a port above 15).
std::optional<int64_t> usbLocationID(const std::string& name);

// Where the USB registry is read from; tests point these at a fixture tree.
struct UsbRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
    std::filesystem::path proc = "/proc";
};

// The USB part of a Mac's I/O registry, read from sysfs at each question:
// - devices ("1-1.2") are "IOUSBHostDevice"; root hubs ("usb1") are not, so a device on a root port
//   has no hub above it; the host controller is the root hub's parent and has none;
// - a device's children are its interfaces ("IOUSBHostInterface") and the processes holding its
//   /dev/bus/usb/BBB/DDD node open ("UsbDevFsUserClient", creator "pid N, name"); an interface's
//   child is its bound driver; a hub driver's children are the devices on the hub's ports, so a
//   device's parent is its hub's driver, then the hub's interface, then the hub;
// - entry ids are handed out on first sight and kept while the object lives; a device that comes
//   back under a new address (re-enumerated, re-plugged) is a new object with a new id.
class SysfsUsbRegistry {
public:
    explicit SysfsUsbRegistry(UsbRoots roots = {});

    std::vector<UsbRegistryEntry> matchingServices(const UsbMatching& matching);
    std::optional<UsbRegistryEntry> entry(uint64_t id);
    std::vector<UsbRegistryEntry> children(uint64_t id);
    std::optional<UsbRegistryEntry> parent(uint64_t id);

    // Every device now, by a key that changes when the device is re-enumerated.
    std::map<std::string, UsbRegistryEntry> devices();

    // A device entry's sysfs folder and its node under /dev/bus/usb; nothing for other entries and
    // for a device that is gone.
    struct DeviceNode {
        std::filesystem::path folder;
        std::filesystem::path node;
        int bus = 0;
        int address = 0;
    };
    std::optional<DeviceNode> deviceNode(uint64_t id);

    const UsbRoots& roots() const { return where; }

    struct Key {
        enum class Kind { device, rootHub, host, interface, driver, userClient } kind;
        std::string name; // the sysfs name: "1-1.2", "usb1", "1-1.2:1.0", the host's folder
        int address = 0;  // a device's (or its interface's device's) devnum
        std::string driver;
        int32_t pid = 0;
        bool operator<(const Key& other) const;
    };

private:
    std::filesystem::path devicesFolder() const { return where.sys / "bus/usb/devices"; }
    uint64_t idFor(const Key& key);
    std::optional<Key> keyFor(uint64_t id);
    std::optional<UsbRegistryEntry> build(const Key& key);
    std::optional<UsbRegistryEntry> buildDevice(const std::string& name, bool checkAddress, int address);
    std::vector<std::string> interfacesOf(const std::string& device);
    std::vector<std::string> devicesOnHub(const std::string& hub);
    int addressOf(const std::string& device);

    UsbRoots where;
    std::mutex lock;
    std::map<Key, uint64_t> ids;
    std::map<uint64_t, Key> keys;
    uint64_t nextId = 0x100000500;
};

// What a failed sysfs write or libusb call means in IOReturn's terms.
uint32_t ioReturnForErrno(int error);
uint32_t ioReturnForLibUsb(int result);

} // namespace tandem
