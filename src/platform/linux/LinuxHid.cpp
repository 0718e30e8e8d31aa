#include "platform/linux/LinuxHid.h"

#include "platform/linux/ProcFs.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace tandem {

namespace fs = std::filesystem;

HidReportSummary parseReportDescriptor(std::span<const uint8_t> descriptor) {
    struct Globals {
        uint32_t usagePage = 0, reportSize = 0, reportCount = 0, reportId = 0;
    };
    struct Usage {
        uint32_t value;
        bool extended; // four bytes: the page in the top half
    };
    HidReportSummary summary;
    Globals globals;
    std::vector<Globals> stack;
    std::vector<Usage> usages;
    int depth = 0;
    std::map<uint32_t, uint64_t> bits[3]; // input, output, feature: bits per report id

    size_t at = 0;
    while (at < descriptor.size()) {
        uint8_t prefix = descriptor[at];
        if (prefix == 0xFE) { // a long item: its size, its tag, its data
            if (at + 1 >= descriptor.size()) break;
            at += 3 + descriptor[at + 1];
            continue;
        }
        size_t size = prefix & 3;
        if (size == 3) size = 4;
        if (at + 1 + size > descriptor.size()) break;
        uint32_t data = 0;
        for (size_t i = 0; i < size; ++i)
            data |= uint32_t(descriptor[at + 1 + i]) << (8 * i);
        at += 1 + size;
        uint8_t type = (prefix >> 2) & 3, tag = prefix >> 4;

        if (type == 0) { // main
            switch (tag) {
            case 0x8:
            case 0x9:
            case 0xB: {
                int direction = tag == 0x8 ? 0 : tag == 0x9 ? 1 : 2;
                bits[direction][globals.reportId] += uint64_t(globals.reportSize) * globals.reportCount;
                break;
            }
            case 0xA:
                if (depth == 0) {
                    uint32_t page = globals.usagePage, usage = 0;
                    if (!usages.empty()) {
                        usage = usages.front().value & 0xFFFF;
                        if (usages.front().extended) page = usages.front().value >> 16;
                    }
                    summary.topLevel.push_back({int64_t(page), int64_t(usage)});
                }
                ++depth;
                break;
            case 0xC:
                if (depth > 0) --depth;
                break;
            }
            usages.clear();
        } else if (type == 1) { // global
            switch (tag) {
            case 0x0:
                globals.usagePage = data;
                break;
            case 0x7:
                globals.reportSize = data;
                break;
            case 0x8:
                globals.reportId = data;
                break;
            case 0x9:
                globals.reportCount = data;
                break;
            case 0xA:
                stack.push_back(globals);
                break;
            case 0xB:
                if (!stack.empty()) {
                    globals = stack.back();
                    stack.pop_back();
                }
                break;
            }
        } else if (type == 2 && tag == 0x0) { // local usage
            usages.push_back({data, size == 4});
        }
    }

    int64_t* largest[3] = {&summary.maxInput, &summary.maxOutput, &summary.maxFeature};
    for (int direction = 0; direction < 3; ++direction) {
        for (const auto& [id, count] : bits[direction]) {
            int64_t bytes = int64_t((count + 7) / 8) + (id != 0 ? 1 : 0);
            *largest[direction] = std::max(*largest[direction], bytes);
        }
    }
    return summary;
}

namespace {

std::string transportOf(unsigned bus) {
    switch (bus) {
    case 0x03:
        return "USB";
    case 0x05:
        return "Bluetooth";
    case 0x06:
        return "Virtual";
    case 0x18:
        return "I2C";
    case 0x1C:
        return "SPI";
    default:
        return "";
    }
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::vector<HidDevice> LinuxHid::devices(int64_t vendor) {
    std::vector<std::pair<std::string, HidDevice>> found;
    std::error_code error;
    for (fs::directory_iterator it(sys / "bus/hid/devices", error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        unsigned bus = 0, vendorId = 0, productId = 0, instance = 0;
        if (std::sscanf(name.c_str(), "%x:%x:%x.%x", &bus, &vendorId, &productId, &instance) != 4) continue;
        if (int64_t(vendorId) != vendor) continue;

        HidDevice device;
        device.vendorID = vendorId;
        device.productID = productId;
        device.transport = transportOf(bus);
        // On USB the device folder sits in the interface's, which sits in the USB device's.
        std::error_code ignored;
        fs::path real = fs::canonical(it->path(), ignored);
        if (!ignored && bus == 0x03) {
            if (auto product = procfs::readSmall(real.parent_path().parent_path() / "product", 512))
                device.product = trimmed(*product);
        }
        if (!device.product) {
            if (auto uevent = procfs::readSmall(it->path() / "uevent")) {
                size_t start = uevent->find("HID_NAME=");
                if (start != std::string::npos) {
                    start += 9;
                    device.product = uevent->substr(start, uevent->find('\n', start) - start);
                }
            }
        }
        if (auto bytes = procfs::readSmall(it->path() / "report_descriptor", 65536)) {
            auto summary = parseReportDescriptor(
                std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
            if (!summary.topLevel.empty()) {
                device.primaryUsagePage = summary.topLevel.front().usagePage;
                device.primaryUsage = summary.topLevel.front().usage;
            }
            device.maxInputReportSize = summary.maxInput;
            device.maxOutputReportSize = summary.maxOutput;
            device.maxFeatureReportSize = summary.maxFeature;
            device.deviceUsagePairs = std::move(summary.topLevel);
        }
        found.emplace_back(name, std::move(device));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HidDevice> devices;
    for (auto& [name, device] : found)
        devices.push_back(std::move(device));
    return devices;
}

} // namespace tandem
