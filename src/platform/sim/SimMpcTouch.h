#pragma once

#include "platform/sim/SimMidiSystem.h"

#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace tandem {

class SimAudioDevices;
class SimDisplays;
class SimHid;
class SimUsbHost;

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

    // The rest of the MPC beyond its MIDI: behind its internal USB hub the controller (MIDI, the audio
    // device "MPC Touch Audio"), the touch chip (the SiS HID device) and the DisplayLink screen (a
    // display of vendor 0x5109, model 0x1211), each a USB device with its interfaces, drivers and the
    // user clients the Mac's own services hold. Once a body is attached, plug and unplug take it
    // whole; the parts can also come and go one by one.
    struct Body {
        SimUsbHost& usb;
        SimHid& hid;
        SimAudioDevices& audio;
        SimDisplays& displays;
        // The controller on one of the Mac's root ports instead of behind the hub.
        bool controllerOnRootPort = false;
    };
    enum class Part { controller, touch, screen };

    void attachBody(Body body);
    // A part plugs the hub in first when it is not; unplugging the hub takes every part with it.
    void plugPart(Part part);
    void unplugPart(Part part);
    void unplugHub();
    bool partPlugged(Part part) const;
    // A part's USB device entry, or 0 when it is not plugged.
    uint64_t usbDevice(Part part) const;
    // A user client ("IOUserClientCreator" = `creator`, as "pid 512, MPC Touch") on a part's device;
    // 0 when the part is not plugged.
    uint64_t addUserClient(Part part, const std::string& creator);
    // Someone else's USB device on the hub's fourth port: its entry.
    uint64_t plugForeignDevice();

    // USB locations of the parts (the Mac's "locationID": bus 1, hub on root port 1).
    static constexpr int64_t hubLocation = 0x01100000;
    static constexpr int64_t controllerLocation = 0x01110000;
    static constexpr int64_t touchLocation = 0x01120000;
    static constexpr int64_t screenLocation = 0x01130000;
    static constexpr int64_t foreignLocation = 0x01140000;
    static constexpr int64_t rootPortControllerLocation = 0x01200000;
    static constexpr uint32_t displayID = 5;

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
    void plugMidi();
    void unplugMidi();
    uint64_t hubPort(int port);
    int64_t location(Part part) const;

    SimMidiSystem& midi;
    std::optional<Body> body;
    uint32_t audioDevice = 0;
    int hidDevice = 0;
    SimMidiSystem::Device device;
    bool isPlugged = false;
    mutable std::mutex lock;
    std::vector<Received> log;
    std::map<std::pair<Port, uint8_t>, int> lights;
};

} // namespace tandem
