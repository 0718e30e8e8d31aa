// census: prints once what the machine sees of the MPC Touch: its USB devices with their driver
// subtrees, its HID devices, its MIDI devices with every endpoint, the flat list of MIDI destinations,
// and the displays. It opens nothing and changes nothing.

#include "tools/ToolWorld.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace tandem::census {

namespace {

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

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void children(UsbHost& usb, uint64_t id, int level, std::ostream& out) {
    for (const UsbRegistryEntry& child : usb.children(id)) {
        std::string line(size_t(level) * 2, ' ');
        line += "- " + child.className;
        if (int64_t number = child.number("bInterfaceNumber").value_or(-1); number >= 0)
            line += format("  if#%ld class=0x%02lx", long(number),
                           long(child.number("bInterfaceClass").value_or(-1)));
        if (auto name = child.string("USB Interface Name")) line += format("  \"%s\"", name->c_str());
        out << line << '\n';
        // Deeper than four levels is the drivers' own business.
        if (level < 4) children(usb, child.id, level + 1, out);
    }
}

void usbSection(ToolWorld& world, std::ostream& out) {
    out << "== USB (Akai 09e8, DisplayLink 17e9) ==\n";
    int listed = 0;
    for (const UsbRegistryEntry& device : world.usb.matchingServices({"IOUSBHostDevice"})) {
        int64_t vendor = device.number("idVendor").value_or(-1);
        if (vendor != 6121 && vendor != 2536) continue;
        ++listed;
        out << format("%04lx:%04lx  %s / %s  location=0x%08lx\n", long(vendor),
                      long(device.number("idProduct").value_or(-1)),
                      device.string("USB Vendor Name").value_or("").c_str(),
                      device.string("USB Product Name").value_or("").c_str(),
                      long(device.number("locationID").value_or(-1)));
        children(world.usb, device.id, 1, out);
    }
    if (listed == 0) out << "(none)\n";
}

void hidSection(ToolWorld& world, std::ostream& out) {
    out << "\n== HID devices from Akai (IOHIDManager, not opened) ==\n";
    std::vector<HidDevice> devices = world.hid.devices(2536);
    if (devices.size() > 64) devices.resize(64);
    for (const HidDevice& device : devices) {
        out << format("%04lx:%04lx \"%s\" %s  primary %02lx:%02lx  in=%ld out=%ld feat=%ld\n",
                      long(device.vendorID.value_or(-1)), long(device.productID.value_or(-1)),
                      device.product.value_or("").c_str(), device.transport.value_or("").c_str(),
                      long(device.primaryUsagePage.value_or(-1)), long(device.primaryUsage.value_or(-1)),
                      long(device.maxInputReportSize.value_or(-1)),
                      long(device.maxOutputReportSize.value_or(-1)),
                      long(device.maxFeatureReportSize.value_or(-1)));
        for (const HidDevice::UsagePair& pair : device.deviceUsagePairs)
            out << format("    usage pair %02lx:%02lx\n", long(pair.usagePage), long(pair.usage));
    }
    if (devices.empty()) out << "(none — SiS absent, asleep, or seized by a raw-USB reader)\n";
}

std::string text(MidiSystem& midi, MidiObjectRef object, MidiProperty property) {
    std::string value;
    if (midi.stringProperty(object, property, &value) != midiNoError) value.clear();
    return value;
}

int number(MidiSystem& midi, MidiObjectRef object, MidiProperty property) {
    int32_t value = 0;
    if (midi.integerProperty(object, property, &value) != midiNoError) value = 0;
    return value;
}

void endpoint(MidiSystem& midi, MidiEndpointRef ref, const char* tag, std::ostream& out) {
    out << format("      %s name=\"%s\" display=\"%s\" manufacturer=\"%s\" private=%d offline=%d\n", tag,
                  text(midi, ref, MidiProperty::name).c_str(),
                  text(midi, ref, MidiProperty::displayName).c_str(),
                  text(midi, ref, MidiProperty::manufacturer).c_str(),
                  number(midi, ref, MidiProperty::isPrivate), number(midi, ref, MidiProperty::offline));
}

void midiSection(ToolWorld& world, std::ostream& out) {
    out << "\n== CoreMIDI devices (incl. hidden endpoints) ==\n";
    MidiSystem& midi = world.midi;
    MidiClientRef client = 0;
    MidiStatus status = midi.clientCreate(
        "census", [] {}, &client);
    if (status != midiNoError) {
        out << format("MIDIClientCreate failed: %d\n", int(status));
        return;
    }
    // The MIDI server hands a new client its set-up a moment later.
    world.runFor(0.5);
    int listed = 0;
    for (size_t d = 0, devices = midi.numberOfDevices(); d < devices; ++d) {
        MidiDeviceRef device = midi.device(d);
        std::string name = text(midi, device, MidiProperty::name);
        std::string maker = text(midi, device, MidiProperty::manufacturer);
        std::string model = text(midi, device, MidiProperty::model);
        if (lower(maker).find("akai") == std::string::npos && lower(name).find("mpc") == std::string::npos &&
            lower(model).find("mpc") == std::string::npos)
            continue;
        ++listed;
        out << format("device \"%s\" manufacturer=\"%s\" model=\"%s\" driver=\"%s\" offline=%d\n",
                      name.c_str(), maker.c_str(), model.c_str(),
                      text(midi, device, MidiProperty::driverOwner).c_str(),
                      number(midi, device, MidiProperty::offline));
        for (size_t e = 0, entities = midi.numberOfEntities(device); e < entities; ++e) {
            MidiEntityRef entity = midi.entity(device, e);
            out << format("    entity \"%s\" private=%d\n", text(midi, entity, MidiProperty::name).c_str(),
                          number(midi, entity, MidiProperty::isPrivate));
            for (size_t s = 0, sources = midi.numberOfSources(entity); s < sources; ++s)
                endpoint(midi, midi.source(entity, s), "src ", out);
            for (size_t s = 0, destinations = midi.numberOfDestinations(entity); s < destinations; ++s)
                endpoint(midi, midi.destination(entity, s), "dest", out);
        }
    }
    if (listed == 0) out << "(no Akai/MPC device in the CoreMIDI setup)\n";
    out << "-- flat destination list (what v1/v2 search) --\n";
    for (size_t i = 0, count = midi.numberOfDestinations(); i < count; ++i) {
        MidiEndpointRef destination = midi.destination(i);
        out << format("  [%lu] name=\"%s\" manufacturer=\"%s\"\n", static_cast<unsigned long>(i),
                      text(midi, destination, MidiProperty::name).c_str(),
                      text(midi, destination, MidiProperty::manufacturer).c_str());
    }
    midi.clientDispose(client);
}

void displaySection(ToolWorld& world, std::ostream& out) {
    out << "\n== Displays ==\n";
    int shown = 0;
    for (const DisplayInfo& display : world.displays.displays()) {
        if (!display.active) continue;
        if (++shown > 16) break;
        out << format("display %u  %.0fx%.0f @ %.0f,%.0f%s  vendor=0x%x model=0x%x\n", display.id,
                      double(display.bounds.width), double(display.bounds.height), double(display.bounds.x),
                      double(display.bounds.y), display.main ? "  (main)" : "", display.vendorNumber,
                      display.modelNumber);
    }
}

} // namespace

int run(const std::vector<std::string>&, ToolWorld& world, std::ostream& out, std::ostream&) {
    usbSection(world, out);
    hidSection(world, out);
    midiSection(world, out);
    displaySection(world, out);
    out.flush();
    return 0;
}

} // namespace tandem::census

#ifndef TANDEM_TOOL_NO_MAIN
#include "tools/LinuxToolWorld.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    auto machine = tandem::LinuxToolMachine::make("census");
    return tandem::census::run(arguments, machine->world(), std::cout, std::cerr);
}
#endif
