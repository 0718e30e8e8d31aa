#pragma once

#include "platform/Usb.h"

struct libusb_context;

namespace tandem {

// A libusb result in the system's terms. Only LIBUSB_ERROR_BUSY means another holder; a missing
// permission (LIBUSB_ERROR_ACCESS) is an ordinary failure to open.
UsbStatus libUsbStatus(int libusbResult);

// The USB host through libusb 1.0. It claims only the interface asked for and never resets or
// reconfigures a device: another program's hold on it shows as exclusiveAccess.
class LibUsbHost final : public UsbHost {
public:
    LibUsbHost();
    ~LibUsbHost() override;
    LibUsbHost(const LibUsbHost&) = delete;
    LibUsbHost& operator=(const LibUsbHost&) = delete;

    // False when libusb could not start (no USB on this machine): nothing will ever be found.
    bool available() const { return context != nullptr; }

    Found findInterface(uint16_t vendor, uint16_t product, int configuration, int interfaceNumber) override;

private:
    ::libusb_context* context = nullptr;
};

} // namespace tandem
