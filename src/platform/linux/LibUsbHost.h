#pragma once

#include "platform/Usb.h"
#include "platform/linux/SysfsUsb.h"

#include <memory>

struct libusb_context;

namespace tandem {

// A libusb result in the system's terms. Only LIBUSB_ERROR_BUSY means another holder; a missing
// permission (LIBUSB_ERROR_ACCESS) is an ordinary failure to open.
UsbStatus libUsbStatus(int libusbResult);

// The USB host through libusb 1.0. It claims only the interface asked for and never resets or
// reconfigures a device: another program's hold on it shows as exclusiveAccess.
//
// The registry is read from sysfs (`SysfsUsbRegistry`). Arrivals and removals are sysfs compared with
// what was there before, at each libusb hotplug event, or every second when libusb has no hotplug.
// A device interface re-enumerates a device as a re-plug would: it de-authorizes and re-authorizes
// it through sysfs ("authorized" 0 then 1), which drops and rebuilds the device with a new address.
// Without the right to do that it falls back to a libusb reset, which re-enumerates only a device
// whose descriptors changed (libusb then reports it not found, which is success here) and otherwise
// resets the port. `open` answers exclusiveAccess while another process holds the device's node.
class LibUsbHost final : public UsbHost {
public:
    LibUsbHost();
    // `hotplugNotices` false: notices always by the 1 s comparison (a fixture tree sends no events).
    explicit LibUsbHost(UsbRoots roots, bool hotplugNotices = true);
    ~LibUsbHost() override;
    LibUsbHost(const LibUsbHost&) = delete;
    LibUsbHost& operator=(const LibUsbHost&) = delete;

    // False when libusb could not start (no USB on this machine): nothing will ever be found.
    bool available() const { return context != nullptr; }

    Found findInterface(uint16_t vendor, uint16_t product, int configuration, int interfaceNumber) override;

    std::vector<UsbRegistryEntry> matchingServices(const UsbMatching& matching) override;
    std::optional<UsbRegistryEntry> entry(uint64_t id) override;
    std::vector<UsbRegistryEntry> children(uint64_t id) override;
    std::optional<UsbRegistryEntry> parent(uint64_t id) override;
    ObservationToken observeDevices(std::shared_ptr<Queue> queue,
                                    std::function<void(const UsbDeviceNotice&)> handler) override;
    std::unique_ptr<UsbDeviceInterface> deviceInterface(uint64_t id) override;

private:
    ::libusb_context* context = nullptr;
    std::shared_ptr<SysfsUsbRegistry> registry;
    bool hotplugNotices = true;
};

} // namespace tandem
