#pragma once

#include "base/Clock.h"
#include "base/Error.h"
#include "base/Queue.h"
#include "platform/Midi.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/mpc/ChunkList.h"
#include "tandem/mpc/KoalaControlRouter.h"

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tandem {

// The MPC Touch's MIDI front end: finds and connects the MPC's "Public" and "Private" sources,
// routes what they send, publishes what Koala must hear on the virtual source "Tandem", and keeps
// the MPC's controller set-up and lights in step through the controller set-up module.
class KoalaMIDIBridge : public std::enable_shared_from_this<KoalaMIDIBridge> {
public:
    struct Connection {
        std::weak_ptr<KoalaMIDIBridge> owner; // cleared when retired
        MidiEndpointRef endpoint = 0;
        Role role = Role::publicControl;
    };

    // `queue` is "Tandem.MIDIInput" (all bridge and router state), `controllerQueue`
    // "Tandem.ControllerOutput" (every controller set-up call), `mainQueue` the main thread's. The
    // controller set-up writes its transcript and complaints to the two streams.
    static std::shared_ptr<KoalaMIDIBridge>
    create(MidiSystem& midi, Clock& clock, std::shared_ptr<Queue> queue,
           std::shared_ptr<Queue> controllerQueue, std::shared_ptr<Queue> mainQueue,
           KoalaPerformanceFeed& feed = KoalaPerformanceFeed::shared(), std::FILE* transcript = stdout,
           std::FILE* complaints = stderr);
    ~KoalaMIDIBridge();

    // Callbacks, all called on the main queue. Set them before `start`.
    std::function<void(const std::string&)> onStatus;
    std::function<void(int)> onPadBankChanged;
    std::function<void(bool)> onChopperModeChanged;
    std::function<void(const std::vector<uint8_t>&)> onForward;

    // Starts the client, the input port, the virtual source and the 1 s reconnect timer. `onReady`
    // runs on the main queue once the MPC has taken its controller set-up. A second start only
    // registers (or, when ready, runs) its `onReady`.
    Result<void> start(std::function<void()> onReady = {});
    // Releases everything held, disconnects and disposes; waits for the controller module to shut
    // down. Stopping a stopped bridge does nothing.
    void stop();

    void setRoutingEnabled(bool enabled);
    void selectPadBank(int bank);
    void keyboardToggledOnScreen();
    // Takes the pad bank and keyboard mode of Koala's saved song before Koala starts.
    void prepareForKoalaLaunch();
    int currentPadBank();
    bool currentChopperMode();

    static ChunkList messages(const MidiPacketList& list);
    static bool packetSelfCheck();

private:
    KoalaMIDIBridge(MidiSystem& midi, Clock& clock, std::shared_ptr<Queue> queue,
                    std::shared_ptr<Queue> controllerQueue, std::shared_ptr<Queue> mainQueue,
                    KoalaPerformanceFeed& feed, std::FILE* transcript, std::FILE* complaints);

    struct LightState {
        int padBank, qlinkBank;
        bool chopperMode, fullLevel;
        bool operator==(const LightState&) const = default;
    };

    Result<void> startOnQueue(std::function<void()> onReady);
    void stopOnQueue();
    void received(uintptr_t connection, ChunkList chunks);
    std::vector<std::pair<MidiEndpointRef, Role>> touchSources();
    void refreshConnections();
    void retireConnections();
    void runControllerSetup(uint64_t generation);
    std::optional<LightState> lightSnapshot(uint64_t generation);
    void updateBankLEDs();
    void handle(const KoalaControlRouter::Events& events,
                const std::optional<std::string>& origin = std::nullopt);
    void report(const std::string& status);
    void onMain(std::function<void()> task);

    MidiSystem& midi;
    std::shared_ptr<Queue> queue;
    std::shared_ptr<Queue> controllerQueue;
    std::shared_ptr<Queue> mainQueue;
    KoalaPerformanceFeed& feed;

    MidiClientRef client = 0;
    MidiPortRef inputPort = 0;
    MidiEndpointRef virtualSource = 0;
    std::unique_ptr<Timer> reconnectTimer;
    std::vector<std::shared_ptr<Connection>> connections;
    std::vector<std::shared_ptr<Connection>> retiredConnections;
    KoalaControlRouter router;
    bool isStarted = false;
    uint64_t setupGeneration = 0;
    bool controllerReady = false;
    bool controllerSetupPending = false;
    bool ledRefreshPending = false;
    std::vector<std::function<void()>> readyHandlers;
    bool routingEnabled = false;
    std::array<uint64_t, 128> holdSerials{}; // the latest hold timer of each selector note
};

} // namespace tandem
