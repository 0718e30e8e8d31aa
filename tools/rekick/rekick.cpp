// rekick: makes the system re-enumerate one USB part of the MPC Touch (the controller, the screen or
// the MPC's internal hub), which disconnects and reconnects it as if re-plugged.

#include "tools/ToolWorld.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace tandem::rekick {

namespace {

constexpr int64_t akai = 2536, displayLink = 6121;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text(size_t(length > 0 ? length : 0), '\0');
    std::vsnprintf(text.data(), text.size() + 1, pattern, again);
    va_end(again);
    return text;
}

// The USB device a registry entry hangs below, at most six steps up.
std::optional<UsbRegistryEntry> hubAbove(UsbHost& usb, uint64_t id) {
    for (int step = 0; step < 6; ++step) {
        std::optional<UsbRegistryEntry> parent = usb.parent(id);
        if (!parent) return std::nullopt;
        if (parent->conformsTo("IOUSBHostDevice")) return parent;
        id = parent->id;
    }
    return std::nullopt;
}

uint32_t reEnumerate(UsbHost& usb, const UsbRegistryEntry& device, const std::string& label,
                     std::ostream& out) {
    std::unique_ptr<UsbDeviceInterface> interface = usb.deviceInterface(device.id);
    if (!interface) {
        out << format("%s: no device interface\n", label.c_str());
        return IOReturn::error;
    }
    const char* method = "open";
    uint32_t opened = interface->open();
    if (opened == IOReturn::exclusiveAccess) {
        // Another client holds the device: take it from them for the moment of the kick.
        method = "seize";
        opened = interface->openSeize();
    }
    if (opened != IOReturn::success) {
        out << format("%s: open failed 0x%x\n", label.c_str(), opened);
        return opened;
    }
    uint32_t result = interface->reEnumerate(0);
    out << format("%s: re-enumerate (%s) → 0x%x%s\n", label.c_str(), method, result,
                  result == 0 ? " ok" : "");
    interface->close();
    return result;
}

} // namespace

int run(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err) {
    std::string word = arguments.empty() ? "controller" : arguments[0];
    // A mistyped word must not reset the controller in the middle of a performance.
    if (word != "controller" && word != "screen" && word != "all") {
        err << "usage: rekick [screen|all]\n";
        return 1;
    }
    bool screen = word == "screen";
    UsbHost& usb = world.usb;
    std::vector<UsbRegistryEntry> found =
        usb.matchingServices({"IOUSBHostDevice", screen ? displayLink : akai, screen ? 65280 : 55});
    if (found.empty()) {
        out << format("MPC Touch %s not found on USB\n",
                      screen ? "screen (17e9:ff00)" : "controller (09e8:0037)");
        return 1;
    }
    const UsbRegistryEntry& device = found.front();
    if (word != "all")
        return reEnumerate(usb, device, screen ? "screen 17e9:ff00" : "controller 09e8:0037", out) == 0 ? 0
                                                                                                        : 1;

    std::optional<UsbRegistryEntry> hub = hubAbove(usb, device.id);
    if (!hub) {
        out << "no hub above the controller\n";
        return 1;
    }
    int64_t hubLocation = hub->number("locationID").value_or(-1);
    out << format("MPC hub @ 0x%08lx\n", long(hubLocation));
    int onHub = 0;
    bool onlyMpc = true;
    for (const UsbRegistryEntry& other : usb.matchingServices({"IOUSBHostDevice"})) {
        std::optional<UsbRegistryEntry> above = hubAbove(usb, other.id);
        if (!above || above->id != hub->id || above->number("locationID").value_or(-1) != hubLocation)
            continue;
        int64_t vendor = other.number("idVendor").value_or(-1);
        out << format("  on this hub: %04lx:%04lx @ 0x%08lx\n", long(vendor),
                      long(other.number("idProduct").value_or(-1)),
                      long(other.number("locationID").value_or(-1)));
        ++onHub;
        if (vendor != akai && vendor != displayLink) onlyMpc = false;
    }
    if (onHub == 0 || !onlyMpc) {
        out << "refusing: that hub has non-MPC devices on it\n";
        return 1;
    }
    return reEnumerate(usb, *hub, "MPC internal hub", out) == 0 ? 0 : 1;
}

} // namespace tandem::rekick

#ifndef TANDEM_TOOL_NO_MAIN
#include "tools/LinuxToolWorld.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    auto machine = tandem::LinuxToolMachine::make("rekick");
    return tandem::rekick::run(arguments, machine->world(), std::cout, std::cerr);
}
#endif
