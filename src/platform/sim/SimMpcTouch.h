#pragma once

#include "platform/sim/SimMidiSystem.h"

#include <map>
#include <mutex>
#include <vector>

namespace tandem {

// A simulated Akai MPC Touch on a SimMidiSystem: a device "MPC Touch" with the entities "Public",
// "Private" and "MIDI Port", each with one source and one destination. It plays pads, buttons,
// selectors and Q-Links as the hardware sends them, and records everything it receives so that a
// test can read its set-up messages and lights.
class SimMpcTouch {
public:
    enum class Port { publicPort, privatePort, midiPort };

    struct Received {
        Port port;
        std::vector<uint8_t> bytes;
        bool operator==(const Received&) const = default;
    };

    explicit SimMpcTouch(SimMidiSystem& midi, bool plugIn = true);
    ~SimMpcTouch();
    SimMpcTouch(const SimMpcTouch&) = delete;
    SimMpcTouch& operator=(const SimMpcTouch&) = delete;

    void plug();
    void unplug();
    bool plugged() const;
    void setOffline(bool offline);

    // Raw bytes out of one of the MPC's sources, as one packet.
    MidiStatus send(Port port, std::vector<uint8_t> bytes);
    // Pad 1-16, as the MPC sends it on channel 10 of "Public".
    void pressPad(int pad, uint8_t velocity = 100);
    void releasePad(int pad);
    void padPressure(int pad, uint8_t value);
    // A button or selector note on channel 1.
    void press(uint8_t note, Port port = Port::publicPort, uint8_t velocity = 127);
    void release(uint8_t note, Port port = Port::publicPort);
    // Q-Link 0-3: its touch note (84-87) and its controller (16-19) on channel 1.
    void touchQLink(int index, Port port = Port::publicPort);
    void releaseQLink(int index, Port port = Port::publicPort);
    void turnQLink(int index, uint8_t value, Port port = Port::publicPort);

    std::vector<Received> received() const;
    std::vector<std::vector<uint8_t>> systemExclusive() const;
    // The last value received for a controller on channel 1 of an entity, or -1.
    int light(Port port, uint8_t controller) const;
    void clearReceived();

    MidiEndpointRef source(Port port) const;
    MidiEndpointRef destination(Port port) const;

    // The MPC's pad note on channel 10 for pad 1-16.
    static uint8_t padNote(int pad);

private:
    SimMidiSystem& midi;
    SimMidiSystem::Device device;
    bool isPlugged = false;
    mutable std::mutex lock;
    std::vector<Received> log;
    std::map<std::pair<Port, uint8_t>, int> lights;
};

} // namespace tandem
