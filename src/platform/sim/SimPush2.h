#pragma once

#include "platform/sim/SimMidiSystem.h"

#include <array>
#include <map>
#include <mutex>
#include <vector>

namespace tandem {

// A simulated Ableton Push 2 on a SimMidiSystem: a device whose endpoints show as "Ableton Push 2
// Live Port" and "Ableton Push 2 User Port". It sends pads, pressure, encoders, touches, buttons and
// the strip as Universal MIDI Packets on the user port; answers palette and touch-strip queries
// (unless told to stay silent); and keeps its mode, palette, strip and LED state from what it is sent.
class SimPush2 {
public:
    struct Color {
        uint8_t r = 0, g = 0, b = 0, w = 0;
        bool operator==(const Color&) const = default;
    };

    explicit SimPush2(SimMidiSystem& midi, bool plugIn = true);
    ~SimPush2();
    SimPush2(const SimPush2&) = delete;
    SimPush2& operator=(const SimPush2&) = delete;

    void plug();
    void unplug();
    bool plugged() const { return isPlugged; }

    void setAnswersPalette(bool answers);
    void setAnswersTouchStrip(bool answers);
    // The Push echoes the mode it was set to; a silent one stands for a reply lost on the way.
    void setAnswersMidiMode(bool answers);

    // Input, as the Push sends it.
    void pressPad(int index, uint8_t velocity = 100);
    void releasePad(int index);
    void padPressure(int index, uint8_t value);
    void turnEncoder(int index, int delta);
    void touchEncoder(int index, bool down);
    void button(int cc, bool down);
    void touchStrip(bool down);
    void moveStrip(uint16_t value14);
    void channelPressure(uint8_t value);
    // Raw Universal MIDI Packet words as one packet; a time stamp of 0 means "now", as CoreMIDI has it.
    void sendWords(std::vector<uint32_t> words, uint64_t timeStamp = 1);

    // State kept from what it received.
    bool userMode() const;
    Color palette(uint8_t index) const;
    int reapplyCount() const;
    uint8_t touchStripConfiguration() const;
    int padLight(int index) const; // last velocity, -1 when never set
    int buttonLight(int cc) const; // -1 when never set
    // Every message received on the user port, in order.
    std::vector<std::vector<uint8_t>> received() const;
    void clearReceived();

    // The factory palette entry of an index.
    static Color factoryColor(uint8_t index);

private:
    void receive(const MidiPacketList& list);
    void reply(std::vector<uint8_t> body);
    void sendWord(uint32_t word);

    SimMidiSystem& midi;
    SimMidiSystem::Device device;
    bool isPlugged = false;
    MidiEndpointRef userSource = 0, userDestination = 0;

    mutable std::mutex lock;
    bool answersPalette = true, answersTouchStrip = true, answersMidiMode = true;
    bool user = false;
    std::map<uint8_t, Color> colors;
    int reapplied = 0;
    uint8_t strip = 0x68;
    std::array<int, 64> pads;
    std::map<int, int> buttons;
    std::vector<std::vector<uint8_t>> log;
};

} // namespace tandem
