#pragma once

#include "base/Clock.h"
#include "base/Queue.h"
#include "platform/Midi.h"
#include "platform/Usb.h"
#include "tandem/push/Push2Protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// Tandem's connection to an Ableton Push 2: its user-port MIDI (user mode, Tandem's palette, the
// touch strip, input events, pad and button lights) and its display over USB. Everything but the
// MIDI thread's packet conversion and the display transfers runs on the main queue.
class Push2Device : public std::enable_shared_from_this<Push2Device> {
public:
    // `mainQueue` is the main thread's; `displayQueue` is "Tandem Push 2 display", where every
    // display transport call runs. The device hands `usb` to the display module on that queue at
    // start and takes it back there in stop (and so in its destructor): `usb` must outlive the device.
    static std::shared_ptr<Push2Device> create(MidiSystem& midi, Clock& clock, UsbHost& usb,
                                               std::shared_ptr<Queue> mainQueue,
                                               std::shared_ptr<Queue> displayQueue);
    ~Push2Device();

    // Callbacks, all on the main queue.
    std::function<void(const Push2Event&)> onEvent;
    std::function<void(bool)> onConnectionChanged;
    std::function<void(const std::string&)> onDisplayStateChanged;

    // Main queue only, as everything below.
    void start();
    void stop();
    void setPad(int index, uint8_t color);
    void setButton(int cc, uint8_t value);

    // Frame submission: the newest frame wins; at most one is in flight.
    void submit(std::vector<uint16_t> frame);
    void pump();

    bool connected() const { return isConnected; }
    // Between start and stop.
    bool isRunning();
    const std::string& displayState() const { return state; }
    // The time of the message being delivered (seconds; host-clock ticks).
    double eventTime() const { return currentEventTime; }
    uint64_t eventHostTime() const { return currentEventHostTime; }
    double lastSent() const { return lastSentAt; }
    uint64_t frameRevision() const { return revision; }

    // One message as the MIDI thread hands it over: its bytes, its time in seconds (none when the
    // packet had no time stamp) and the raw host-clock time stamp.
    struct Incoming {
        std::vector<uint8_t> bytes;
        std::optional<double> time;
        uint64_t host;
        bool operator==(const Incoming&) const = default;
    };
    // Universal MIDI Packets to messages: channel voice (type 2) and 7-bit SysEx pieces (type 3, with
    // F0 in front of complete and start pieces, F7 after complete and end pieces); every other type
    // is skipped by its word count.
    static std::vector<Incoming> convert(const MidiEventList& list, double hostTimeScale);

private:
    Push2Device(MidiSystem& midi, Clock& clock, UsbHost& usb, std::shared_ptr<Queue> mainQueue,
                std::shared_ptr<Queue> displayQueue);

    using Continuation = std::function<void()>;

    void refreshEndpoints();
    void midiModeStep(uint64_t generation, Continuation then);
    void touchStripStep(uint64_t generation, Continuation then);
    void paletteStep(uint64_t generation);
    void paletteNext(uint64_t generation, std::shared_ptr<std::vector<uint8_t>> work);
    void paletteFinish(uint64_t generation);
    void received(uint64_t run, std::vector<Incoming> messages);
    void handleSysEx(const std::vector<uint8_t>& message);
    void send(std::span<const uint8_t> bytes);
    void setDisplayState(const std::string& text);
    bool current(uint64_t generation);  // running and still in that generation
    bool inRun(uint64_t runGeneration); // running and still in that run

    MidiSystem& midi;
    Clock& clock;
    UsbHost& usb;
    std::shared_ptr<Queue> mainQueue;
    std::shared_ptr<Queue> displayQueue;

    bool isConnected = false;
    std::string state = "DISPLAY: NOT OPEN";
    double currentEventTime = 0;
    uint64_t currentEventHostTime = 0;

    MidiClientRef client = 0;
    MidiPortRef inPort = 0, outPort = 0;
    MidiEndpointRef source = 0, destination = 0;
    std::unique_ptr<Timer> watch;

    std::array<std::optional<uint8_t>, 64> padColors;
    std::map<int, uint8_t> buttonValues;

    std::map<uint8_t, Push2RGB> originalPalette;
    std::map<uint8_t, std::pair<uint64_t, Continuation>> paletteWaiting;
    std::optional<uint8_t> originalTouchStripConfiguration;
    std::optional<std::pair<uint64_t, Continuation>> touchStripWaiting;
    // The Push may drop a reply to a query sent straight after another, so each query waits for the
    // answer to the one before it.
    std::optional<std::pair<uint64_t, Continuation>> midiModeWaiting;

    // Guards running, generation and runGeneration, which the display queue reads too.
    std::mutex lifecycleLock;
    uint64_t generation = 0;
    uint64_t runGeneration = 0;
    bool running = false;

    std::vector<uint8_t> sysexBuffer;
    bool inSysex = false;

    bool sending = false;
    std::optional<std::vector<uint16_t>> lastFrame;
    uint64_t revision = 0;
    double lastSentAt = 0;
    double lastOpenAttempt = -1e9;
};

} // namespace tandem
