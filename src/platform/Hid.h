#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// One HID device's properties as the HID manager lists them, without opening it. Missing properties
// are empty.
struct HidDevice {
    struct UsagePair {
        int64_t usagePage = 0; // "DeviceUsagePage"
        int64_t usage = 0;     // "DeviceUsage"
        bool operator==(const UsagePair&) const = default;
    };

    std::optional<int64_t> vendorID;      // "VendorID"
    std::optional<int64_t> productID;     // "ProductID"
    std::optional<std::string> product;   // "Product"
    std::optional<std::string> transport; // "Transport": "USB", "Bluetooth", "I2C", …
    std::optional<int64_t> primaryUsagePage;
    std::optional<int64_t> primaryUsage;
    // Largest report per direction in bytes, the report-id byte included.
    std::optional<int64_t> maxInputReportSize;
    std::optional<int64_t> maxOutputReportSize;
    std::optional<int64_t> maxFeatureReportSize;
    std::vector<UsagePair> deviceUsagePairs; // "DeviceUsagePairs"

    bool operator==(const HidDevice&) const = default;
};

class Hid {
public:
    virtual ~Hid() = default;
    // The devices matching "VendorID" = `vendor`; none when there are none.
    virtual std::vector<HidDevice> devices(int64_t vendor) = 0;
};

} // namespace tandem
