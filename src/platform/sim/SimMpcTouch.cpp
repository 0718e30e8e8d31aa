#include "platform/sim/SimMpcTouch.h"

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
    unplug();
}

uint8_t SimMpcTouch::padNote(int pad) {
    return padNotes[std::clamp(pad, 1, 16) - 1];
}

void SimMpcTouch::plug() {
    if (isPlugged) return;
    auto entity = [](const char* name) { return SimMidiSystem::EntitySpec{name, {{name}}, {{name}}}; };
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

void SimMpcTouch::unplug() {
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

} // namespace tandem
