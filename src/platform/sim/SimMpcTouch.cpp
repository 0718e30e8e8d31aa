#include "platform/sim/SimMpcTouch.h"

#include "platform/sim/SimAudioDevices.h"
#include "platform/sim/SimDisplays.h"
#include "platform/sim/SimHid.h"
#include "platform/sim/SimUsbHost.h"

#include <algorithm>

namespace tandem {

namespace {

constexpr uint8_t padNotes[16] = {37, 36, 42, 82, 40, 38, 46, 44, 48, 47, 45, 43, 49, 55, 51, 53};

size_t index(SimMpcTouch::Port port) {
    return static_cast<size_t>(port);
}

} // namespace

SimMpcTouch::SimMpcTouch(SimMidiSystem& midi, bool plugIn)
    : midi(midi) {
    if (plugIn) plug();
}

SimMpcTouch::~SimMpcTouch() {
    unplugMidi();
}

uint8_t SimMpcTouch::padNote(int pad) {
    return padNotes[std::clamp(pad, 1, 16) - 1];
}

void SimMpcTouch::plug() {
    plugMidi();
    if (!body) return;
    for (Part part : {Part::controller, Part::touch, Part::screen})
        plugPart(part);
}

void SimMpcTouch::unplug() {
    if (body) {
        unplugHub();
        if (body->controllerOnRootPort) unplugPart(Part::controller);
    }
    unplugMidi();
}

void SimMpcTouch::plugMidi() {
    if (isPlugged) return;
    auto entity = [](const char* name) { return SimMidiSystem::EntityPlan{name, {{name}}, {{name}}}; };
    device = midi.addDevice({"MPC Touch",
                             {entity("Public"), entity("Private"), entity("MIDI Port")},
                             "Akai Professional",
                             "MPC Touch",
                             "com.apple.AppleMIDIUSBDriver"});
    for (Port port : {Port::publicPort, Port::privatePort, Port::midiPort}) {
        midi.setReceiver(device.destinations[index(port)][0], [this, port](const MidiPacketList& list) {
            std::lock_guard guard(lock);
            list.forEach([&](const MidiPacketList::Packet& packet) {
                log.push_back({port, {packet.data.begin(), packet.data.end()}});
                if (packet.data.size() == 3 && packet.data[0] == 0xB0)
                    lights[{port, packet.data[1]}] = packet.data[2];
            });
        });
    }
    isPlugged = true;
}

void SimMpcTouch::unplugMidi() {
    if (!isPlugged) return;
    midi.removeDevice(device.ref);
    device = {};
    isPlugged = false;
}

bool SimMpcTouch::plugged() const {
    return isPlugged;
}

void SimMpcTouch::setOffline(bool offline) {
    if (isPlugged) midi.setOffline(device.ref, offline);
}

MidiEndpointRef SimMpcTouch::source(Port port) const {
    return isPlugged ? device.sources[index(port)][0] : 0;
}
MidiEndpointRef SimMpcTouch::destination(Port port) const {
    return isPlugged ? device.destinations[index(port)][0] : 0;
}

MidiStatus SimMpcTouch::send(Port port, std::vector<uint8_t> bytes) {
    if (!isPlugged) return midiUnknownEndpoint;
    return midi.deviceSend(source(port), bytes);
}

void SimMpcTouch::pressPad(int pad, uint8_t velocity) {
    send(Port::publicPort, {0x99, padNote(pad), velocity});
}
void SimMpcTouch::releasePad(int pad) {
    send(Port::publicPort, {0x89, padNote(pad), 0x00});
}
void SimMpcTouch::padPressure(int pad, uint8_t value) {
    send(Port::publicPort, {0xA9, padNote(pad), value});
}
void SimMpcTouch::press(uint8_t note, Port port, uint8_t velocity) {
    send(port, {0x90, note, velocity});
}
void SimMpcTouch::release(uint8_t note, Port port) {
    send(port, {0x80, note, 0x00});
}
void SimMpcTouch::touchQLink(int i, Port port) {
    press(static_cast<uint8_t>(84 + std::clamp(i, 0, 3)), port);
}
void SimMpcTouch::releaseQLink(int i, Port port) {
    release(static_cast<uint8_t>(84 + std::clamp(i, 0, 3)), port);
}
void SimMpcTouch::turnQLink(int i, uint8_t value, Port port) {
    send(port, {0xB0, static_cast<uint8_t>(16 + std::clamp(i, 0, 3)), value});
}

std::vector<SimMpcTouch::Received> SimMpcTouch::received() const {
    std::lock_guard guard(lock);
    return log;
}

std::vector<std::vector<uint8_t>> SimMpcTouch::systemExclusive() const {
    std::lock_guard guard(lock);
    std::vector<std::vector<uint8_t>> blocks;
    for (const Received& entry : log) {
        if (!entry.bytes.empty() && entry.bytes[0] == 0xF0) blocks.push_back(entry.bytes);
    }
    return blocks;
}

int SimMpcTouch::light(Port port, uint8_t controller) const {
    std::lock_guard guard(lock);
    auto found = lights.find({port, controller});
    return found == lights.end() ? -1 : found->second;
}

void SimMpcTouch::clearReceived() {
    std::lock_guard guard(lock);
    log.clear();
}

namespace {

using Entry = UsbRegistryEntry;

Entry deviceEntry(std::string name, int64_t vendor, int64_t product, std::string vendorName, int64_t location) {
    return {0,
            "IOUSBHostDevice",
            name,
            {"IOUSBDevice", "IOService", "IORegistryEntry"},
            {{"idVendor", vendor},
             {"idProduct", product},
             {"locationID", location},
             {"USB Vendor Name", std::move(vendorName)},
             {"USB Product Name", name}}};
}

Entry interface(int64_t number, int64_t kind, std::optional<std::string> name = std::nullopt) {
    Entry entry{0, "IOUSBHostInterface", name.value_or("IOUSBHostInterface"), {"IOService", "IORegistryEntry"},
                {{"bInterfaceNumber", number}, {"bInterfaceClass", kind}}};
    if (name) entry.properties["USB Interface Name"] = *name;
    return entry;
}

Entry service(std::string className, std::vector<std::string> superclasses = {}) {
    superclasses.push_back("IOService");
    superclasses.push_back("IORegistryEntry");
    return {0, className, className, std::move(superclasses), {}};
}

Entry userClient(std::string className, const std::string& creator) {
    Entry entry = service(std::move(className), {"IOUserClient"});
    entry.properties["IOUserClientCreator"] = creator;
    return entry;
}

// The Mac's USB controller and one of its root ports, made on first use.
uint64_t rootPort(SimUsbHost& usb, int port) {
    std::string name = "usb-drd1-port-hs" + std::to_string(port);
    for (const Entry& candidate : usb.matchingServices({"AppleUSB20XHCIPort"})) {
        if (candidate.name == name) return candidate.id;
    }
    auto controllers = usb.matchingServices({"AppleT8103USBXHCI"});
    uint64_t controller = controllers.empty()
                              ? usb.addEntry(0, service("AppleT8103USBXHCI", {"AppleUSBXHCI", "IOUSBHostController"}))
                              : controllers.front().id;
    Entry entry = service("AppleUSB20XHCIPort", {"AppleUSBHostPort"});
    entry.name = name;
    return usb.addEntry(controller, entry);
}

} // namespace

void SimMpcTouch::attachBody(Body attached) {
    body.emplace(attached);
    if (isPlugged) plug();
}

int64_t SimMpcTouch::location(Part part) const {
    switch (part) {
    case Part::controller:
        return body && body->controllerOnRootPort ? rootPortControllerLocation : controllerLocation;
    case Part::touch:
        return touchLocation;
    case Part::screen:
        return screenLocation;
    }
    return 0;
}

uint64_t SimMpcTouch::hubPort(int port) {
    SimUsbHost& usb = body->usb;
    if (!usb.deviceAt(hubLocation)) {
        uint64_t hub = usb.addEntry(rootPort(usb, 1), deviceEntry("USB2.0 Hub", 0x05e3, 0x0608, "GenesysLogic", hubLocation));
        uint64_t hubInterface = usb.addEntry(hub, interface(0, 0x09));
        uint64_t driver = usb.addEntry(hubInterface, service("AppleUSB20Hub", {"AppleUSBHub"}));
        for (int n = 1; n <= 4; ++n) {
            Entry entry = service("AppleUSB20HubPort", {"AppleUSBHostPort"});
            entry.name = "port" + std::to_string(n);
            usb.addEntry(driver, entry);
        }
    }
    for (const Entry& candidate : usb.matchingServices({"AppleUSB20HubPort"})) {
        if (candidate.name == "port" + std::to_string(port)) return candidate.id;
    }
    return 0;
}

void SimMpcTouch::plugPart(Part part) {
    if (!body || partPlugged(part)) return;
    SimUsbHost& usb = body->usb;
    switch (part) {
    case Part::controller: {
        uint64_t port = body->controllerOnRootPort ? rootPort(usb, 2) : hubPort(1);
        uint64_t id = usb.addEntry(port, deviceEntry("MPC Touch", 2536, 55, "Akai Professional", location(part)));
        uint64_t control = usb.addEntry(id, interface(0, 0x01, "MPC Touch Audio"));
        uint64_t audioDriver = usb.addEntry(control, service("AppleUSBAudioDevice", {"IOAudioDevice"}));
        uint64_t engine = usb.addEntry(audioDriver, service("AppleUSBAudioEngine", {"IOAudioEngine"}));
        uint64_t stream = usb.addEntry(engine, service("IOAudioStream"));
        usb.addEntry(stream, service("IOAudioLevelControl", {"IOAudioControl"}));
        usb.addEntry(id, interface(1, 0x01));
        uint64_t midiInterface = usb.addEntry(id, interface(2, 0x01, "MPC Touch MIDI"));
        usb.addEntry(midiInterface, userClient("IOUSBHostInterfaceUserClient", "pid 212, MIDIServer"));
        audioDevice = body->audio.add("MPC Touch Audio", 44100);
        plugMidi();
        break;
    }
    case Part::touch: {
        uint64_t id =
            usb.addEntry(hubPort(2), deviceEntry("SiS HID Touch Controller", 2536, 32769, "SiS", location(part)));
        uint64_t hidInterface = usb.addEntry(id, interface(0, 0x03, "SiS HID Touch Controller"));
        uint64_t hidDriver = usb.addEntry(hidInterface, service("AppleUserUSBHostHIDDevice", {"IOHIDDevice"}));
        usb.addEntry(hidDriver, service("IOHIDInterface"));
        hidDevice = body->hid.add({2536,
                                   32769,
                                   "SiS HID Touch Controller",
                                   "USB",
                                   0x0d,
                                   0x04,
                                   64,
                                   64,
                                   3,
                                   {{0x0d, 0x04}, {0x01, 0x02}, {0xff00, 0x01}}});
        break;
    }
    case Part::screen: {
        uint64_t id = usb.addEntry(hubPort(3), deviceEntry("MPC Touch Display", 6121, 65280, "DisplayLink", location(part)));
        usb.addEntry(id, userClient("IOUSBDeviceUserClientV2", "pid 305, DisplayLinkUserAgent"));
        uint64_t video = usb.addEntry(id, interface(0, 0xff, "DisplayLink"));
        usb.addEntry(video, userClient("IOUSBHostInterfaceUserClient", "pid 305, DisplayLinkUserAgent"));
        usb.addEntry(id, interface(1, 0xff));
        body->displays.add({displayID, {-1280, 0, 1280, 800}, false, true, true, 0x5109, 0x1211});
        break;
    }
    }
}

void SimMpcTouch::unplugPart(Part part) {
    if (!body) return;
    if (uint64_t id = usbDevice(part)) body->usb.removeEntry(id);
    switch (part) {
    case Part::controller:
        if (audioDevice) body->audio.remove(audioDevice);
        audioDevice = 0;
        unplugMidi();
        break;
    case Part::touch:
        if (hidDevice) body->hid.remove(hidDevice);
        hidDevice = 0;
        break;
    case Part::screen:
        body->displays.remove(displayID);
        break;
    }
}

void SimMpcTouch::unplugHub() {
    if (!body) return;
    // The hub's USB subtree goes in one step, as when its cable is pulled; then what hung on it.
    if (uint64_t hub = body->usb.deviceAt(hubLocation)) body->usb.removeEntry(hub);
    for (Part part : {Part::controller, Part::touch, Part::screen}) {
        if (part == Part::controller && body->controllerOnRootPort) continue;
        unplugPart(part);
    }
}

bool SimMpcTouch::partPlugged(Part part) const {
    return usbDevice(part) != 0;
}

uint64_t SimMpcTouch::usbDevice(Part part) const {
    return body ? body->usb.deviceAt(location(part)) : 0;
}

uint64_t SimMpcTouch::addUserClient(Part part, const std::string& creator) {
    uint64_t id = usbDevice(part);
    return id ? body->usb.addEntry(id, userClient("IOUSBDeviceUserClientV2", creator)) : 0;
}

uint64_t SimMpcTouch::plugForeignDevice() {
    if (!body) return 0;
    return body->usb.addEntry(hubPort(4), deviceEntry("USB Receiver", 0x046d, 0xc52b, "Logitech", foreignLocation));
}

} // namespace tandem
