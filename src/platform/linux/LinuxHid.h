#pragma once

#include "platform/Hid.h"

#include <filesystem>
#include <span>

namespace tandem {

// What the HID manager derives from a report descriptor: the usage pair of each top-level collection
// (the first is the primary usage) and the largest report per direction in bytes, its report-id byte
// included.
struct HidReportSummary {
    std::vector<HidDevice::UsagePair> topLevel;
    int64_t maxInput = 0;
    int64_t maxOutput = 0;
    int64_t maxFeature = 0;
};
HidReportSummary parseReportDescriptor(std::span<const uint8_t> descriptor);

// HID devices from sysfs (/sys/bus/hid/devices, named "BUS:VENDOR:PRODUCT.N"): the product is the USB
// device's product string when the device sits on USB, else the kernel's HID name; the transport
// comes from the bus number; usages and report sizes from the report descriptor. Nothing is opened
// but sysfs files.
class LinuxHid final : public Hid {
public:
    explicit LinuxHid(std::filesystem::path sys = "/sys")
        : sys(std::move(sys)) {}

    std::vector<HidDevice> devices(int64_t vendor) override;

private:
    std::filesystem::path sys;
};

} // namespace tandem
