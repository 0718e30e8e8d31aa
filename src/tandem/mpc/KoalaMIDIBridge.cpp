#include "tandem/mpc/KoalaMIDIBridge.h"

#include "base/ActivityLog.h"
#include "base/Json.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "mpc_controller_setup/controller_setup.h"
#include "tandem/integration/KoalaValues.h"

#include <algorithm>
#include <array>
#include <set>

namespace tandem {

namespace {

constexpr const char* connectedStatus = "MPC Touch connected (Public and Private)";
constexpr const char* disconnectedStatus = "MPC Touch disconnected; waiting to reconnect";
constexpr const char* setupSentStatus = "MPC controller setup sent";
constexpr const char* setupFailedStatus = "MPC MIDI setup failed; retrying";

std::string bankLetter(int bank) {
    return std::string(1, char('A' + std::clamp(bank, 0, 3)));
}

Error midiError(const char* call, MidiStatus status) {
    return Error{"Tandem.MIDI", status, std::string(call) + " failed (" + std::to_string(status) + ")"};
}

} // namespace

ChunkList KoalaMIDIBridge::messages(const MidiPacketList& list) {
    ChunkList chunks;
    list.forEach([&](const MidiPacketList::Packet& packet) { chunks.append(packet.data); });
    return chunks;
}

bool KoalaMIDIBridge::packetSelfCheck() {
    std::array<uint8_t, 2048> buffer{};
    MidiPacketListBuilder builder(buffer);
    std::vector<uint8_t> sysEx(602, 0x47);
    sysEx.front() = 0xF0;
    sysEx.back() = 0xF7;
    const std::vector<uint8_t> notes{0x99, 0x25, 0x64, 0x89, 0x25, 0x00};
    if (!builder.add(1, sysEx) || !builder.add(2, notes)) return false;

    ChunkList chunks = messages(builder.list());
    if (chunks.size() != 2) return false;
    auto same = [](std::span<const uint8_t> a, const std::vector<uint8_t>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    };
    return same(chunks[0], sysEx) && same(chunks[1], notes);
}

std::shared_ptr<KoalaMIDIBridge> KoalaMIDIBridge::create(MidiSystem& midi, Clock& clock,
                                                         std::shared_ptr<Queue> queue,
                                                         std::shared_ptr<Queue> controllerQueue,
                                                         std::shared_ptr<Queue> mainQueue,
                                                         KoalaPerformanceFeed& feed, std::FILE* transcript,
                                                         std::FILE* complaints) {
    return std::shared_ptr<KoalaMIDIBridge>(new KoalaMIDIBridge(midi, clock, std::move(queue),
                                                                std::move(controllerQueue), std::move(mainQueue),
                                                                feed, transcript, complaints));
}

KoalaMIDIBridge::KoalaMIDIBridge(MidiSystem& midi, Clock& clock, std::shared_ptr<Queue> queue,
                                 std::shared_ptr<Queue> controllerQueue, std::shared_ptr<Queue> mainQueue,
                                 KoalaPerformanceFeed& feed, std::FILE* transcript, std::FILE* complaints)
    : midi(midi)
    , queue(std::move(queue))
    , controllerQueue(std::move(controllerQueue))
    , mainQueue(std::move(mainQueue))
    , feed(feed) {
    // The controller module is ours to configure: it speaks through the same MIDI system and clock.
    controller_use(&midi, &clock, transcript, complaints);
}

KoalaMIDIBridge::~KoalaMIDIBridge() {
    stop();
}

void KoalaMIDIBridge::onMain(std::function<void()> task) {
    mainQueue->async(std::move(task));
}

void KoalaMIDIBridge::report(const std::string& status) {
    onMain([weak = weak_from_this(), status] {
        auto self = weak.lock();
        if (self && self->onStatus) self->onStatus(status);
    });
}

Result<void> KoalaMIDIBridge::start(std::function<void()> onReady) {
    if (!KoalaPadMapper::offlineSelfCheck() || !KoalaControlRouter::offlineSelfCheck()) {
        return Error{"Tandem.MIDI", -1, "The offline MPC bank decoder check failed"};
    }
    Result<void> result;
    queue->sync([&] { result = startOnQueue(std::move(onReady)); });
    return result;
}

Result<void> KoalaMIDIBridge::startOnQueue(std::function<void()> onReady) {
    if (onReady) {
        if (controllerReady) {
            onMain(std::move(onReady));
        } else {
            readyHandlers.push_back(std::move(onReady));
        }
    }
    if (isStarted) return {};

    auto dispose = [this] {
        if (inputPort) midi.portDispose(inputPort);
        if (client) midi.clientDispose(client);
        inputPort = client = 0;
    };
    if (MidiStatus status = midi.clientCreate("Tandem", nullptr, &client)) {
        client = 0;
        return midiError("MIDIClientCreate", status);
    }
    // Runs on the MIDI system's thread: copy the packets out and hop to the input queue. The
    // connection reference is only compared, never followed, so a late packet is harmless.
    auto input = [weak = weak_from_this(), queue = queue](const MidiPacketList& list, void* connection) {
        if (!connection || weak.expired()) return;
        ChunkList chunks = messages(list);
        queue->async([weak, connection, chunks = std::move(chunks)]() mutable {
            if (auto self = weak.lock())
                self->received(reinterpret_cast<uintptr_t>(connection), std::move(chunks));
        });
    };
    if (MidiStatus status = midi.inputPortCreate(client, "Tandem Input", input, &inputPort)) {
        inputPort = 0;
        dispose();
        return midiError("MIDIInputPortCreate", status);
    }
    if (MidiStatus status = midi.sourceCreate(client, "Tandem", &virtualSource)) {
        virtualSource = 0;
        dispose();
        return midiError("MIDISourceCreate", status);
    }
    isStarted = true;
    refreshConnections();
    reconnectTimer = queue->timer(1.0, 1.0, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->refreshConnections();
    });
    return {};
}

void KoalaMIDIBridge::stop() {
    bool wasStarted = false;
    queue->sync([&] {
        wasStarted = isStarted;
        stopOnQueue();
    });
    if (wasStarted) controllerQueue->sync([] { controller_shutdown(); });
}

void KoalaMIDIBridge::stopOnQueue() {
    if (!isStarted) return;
    KoalaControlRouter::Events released = router.releaseHeld();
    router.streams.clear();
    handle(released);
    reconnectTimer.reset();
    retireConnections();
    readyHandlers.clear();
    controllerReady = controllerSetupPending = ledRefreshPending = false;
    ++setupGeneration;
    routingEnabled = false;
    isStarted = false;
    if (virtualSource) midi.endpointDispose(virtualSource);
    if (inputPort) midi.portDispose(inputPort);
    if (client) midi.clientDispose(client);
    virtualSource = inputPort = client = 0;
    retiredConnections.clear();
}

void KoalaMIDIBridge::retireConnections() {
    for (auto& connection : connections) {
        midi.portDisconnectSource(inputPort, connection->endpoint);
        connection->owner.reset();
        retiredConnections.push_back(connection);
    }
    connections.clear();
}

void KoalaMIDIBridge::received(uintptr_t reference, ChunkList chunks) {
    if (!isStarted || chunks.empty()) return;
    auto found = std::find_if(connections.begin(), connections.end(),
                              [&](const std::shared_ptr<Connection>& connection) {
                                  return reinterpret_cast<uintptr_t>(connection.get()) == reference;
                              });
    if (found == connections.end()) return; // a retired connection, or one of another run
    const Connection connection = **found;
    const std::string origin = connection.role == Role::privateSelector ? "Private MIDI" : "Public MIDI";
    KoalaControlRouter::Events events;
    for (size_t i = 0; i < chunks.size(); ++i) {
        events.clear();
        router.consume(chunks[i], connection.endpoint, connection.role, routingEnabled, events);
        handle(events, origin);
    }
    for (uint8_t note : std::exchange(router.newHolds, {})) {
        // Only the timer of the latest press counts: a press, a release and a new press within the
        // hold time must not solo early on the first press's timer.
        uint64_t serial = ++holdSerials[note & 0x7F];
        queue->after(0.3, [weak = weak_from_this(), note, serial, generation = setupGeneration] {
            auto self = weak.lock();
            if (!self || !self->isStarted || self->setupGeneration != generation) return;
            if (self->holdSerials[note & 0x7F] != serial) return;
            self->handle(self->router.holdElapsed(note));
        });
    }
}

std::vector<std::pair<MidiEndpointRef, Role>> KoalaMIDIBridge::touchSources() {
    std::vector<std::pair<MidiEndpointRef, Role>> sources;
    auto name = [&](MidiObjectRef object) {
        std::string text;
        return midi.stringProperty(object, MidiProperty::name, &text) == midiNoError ? text : std::string();
    };
    auto flag = [&](MidiObjectRef object, MidiProperty property) {
        int32_t value = 0;
        return midi.integerProperty(object, property, &value) == midiNoError && value == 1;
    };
    auto isTouch = [&](MidiDeviceRef device) {
        return Text::containsIgnoringCase(name(device), "MPC Touch") && !flag(device, MidiProperty::offline);
    };
    auto add = [&](MidiEndpointRef endpoint, MidiEntityRef entity) {
        const std::string entityName = name(entity);
        if (Text::containsIgnoringCase(entityName, "MIDI Port"))
            return; // the MPC's third port carries nothing of ours
        bool isPrivate = flag(entity, MidiProperty::isPrivate) || flag(endpoint, MidiProperty::isPrivate) ||
                         Text::containsIgnoringCase(entityName, "Private");
        bool isPublic = Text::containsIgnoringCase(entityName, "Public") ||
                        Text::containsIgnoringCase(name(endpoint), "Public");
        if (!isPrivate && !isPublic) return;
        if (std::any_of(sources.begin(), sources.end(),
                        [&](auto& listed) { return listed.first == endpoint; }))
            return;
        sources.emplace_back(endpoint, isPrivate ? Role::privateSelector : Role::publicControl);
    };
    for (size_t i = 0, count = midi.numberOfSources(); i < count; ++i) {
        MidiEndpointRef endpoint = midi.source(i);
        MidiEntityRef entity = 0;
        MidiDeviceRef device = 0;
        if (midi.endpointEntity(endpoint, &entity) != midiNoError || !entity) continue;
        if (midi.entityDevice(entity, &device) != midiNoError || !device) continue;
        if (isTouch(device)) add(endpoint, entity);
    }
    for (size_t d = 0, devices = midi.numberOfDevices(); d < devices; ++d) {
        MidiDeviceRef device = midi.device(d);
        if (!isTouch(device)) continue;
        for (size_t e = 0, entities = midi.numberOfEntities(device); e < entities; ++e) {
            MidiEntityRef entity = midi.entity(device, e);
            for (size_t s = 0, count = midi.numberOfSources(entity); s < count; ++s)
                add(midi.source(entity, s), entity);
        }
    }
    return sources;
}

void KoalaMIDIBridge::refreshConnections() {
    if (!isStarted) return;
    auto sources = touchSources();
    std::set<MidiEndpointRef> found, connected;
    for (auto& [endpoint, _] : sources)
        found.insert(endpoint);
    for (auto& connection : connections)
        connected.insert(connection->endpoint);
    if (found != connected) {
        // Koala must not keep sounding notes whose release can no longer arrive.
        KoalaControlRouter::Events released = router.releaseHeld();
        router.streams.clear();
        handle(released);
        retireConnections();
        for (auto& [endpoint, role] : sources) {
            auto connection = std::make_shared<Connection>(Connection{weak_from_this(), endpoint, role});
            if (midi.portConnectSource(inputPort, endpoint, connection.get()) == midiNoError) {
                connections.push_back(connection);
            }
        }
        ++setupGeneration;
        controllerReady = controllerSetupPending = ledRefreshPending = false;
        report(connections.empty() ? disconnectedStatus : connectedStatus);
    }
    if (!connections.empty() && !controllerReady && !controllerSetupPending) {
        controllerSetupPending = true;
        controllerQueue->after(0.4, [weak = weak_from_this(), generation = setupGeneration] {
            if (auto self = weak.lock()) self->runControllerSetup(generation);
        });
    }
}

std::optional<KoalaMIDIBridge::LightState> KoalaMIDIBridge::lightSnapshot(uint64_t generation) {
    return queue->syncValue([&]() -> std::optional<LightState> {
        if (!isStarted || setupGeneration != generation || connections.empty()) return std::nullopt;
        return LightState{router.padBank, router.qlinkBank, router.chopperMode, router.fullLevel};
    });
}

void KoalaMIDIBridge::runControllerSetup(uint64_t generation) {
    auto snapshot = lightSnapshot(generation);
    if (!snapshot) return;
    bool ok = controller_initialize(unsigned(snapshot->padBank), unsigned(snapshot->qlinkBank)) == 0;
    if (ok) {
        controller_set_button_light(40, snapshot->chopperMode ? 2 : 0);
        controller_set_button_light(39, snapshot->fullLevel ? 2 : 0);
    }
    queue->async([weak = weak_from_this(), generation, ok, sent = *snapshot] {
        auto self = weak.lock();
        if (!self || !self->isStarted || self->setupGeneration != generation) return;
        self->controllerReady = ok;
        self->controllerSetupPending = false;
        self->report(ok ? setupSentStatus : setupFailedStatus);
        if (!ok) return;
        for (auto& handler : std::exchange(self->readyHandlers, {}))
            self->onMain(std::move(handler));
        const auto& router = self->router;
        if (LightState{router.padBank, router.qlinkBank, router.chopperMode, router.fullLevel} != sent) {
            self->updateBankLEDs();
        }
    });
}

void KoalaMIDIBridge::updateBankLEDs() {
    if (!controllerReady || ledRefreshPending) return;
    ledRefreshPending = true;
    controllerQueue->async([weak = weak_from_this(), generation = setupGeneration] {
        auto self = weak.lock();
        if (!self) return;
        auto snapshot = self->lightSnapshot(generation);
        if (!snapshot) return;
        controller_refresh_banks(unsigned(snapshot->padBank), unsigned(snapshot->qlinkBank));
        controller_set_button_light(40, snapshot->chopperMode ? 2 : 0);
        controller_set_button_light(39, snapshot->fullLevel ? 2 : 0);
        self->queue->async([weak, generation, sent = *snapshot] {
            auto self = weak.lock();
            if (!self || !self->isStarted || self->setupGeneration != generation) return;
            self->ledRefreshPending = false;
            const auto& router = self->router;
            if (LightState{router.padBank, router.qlinkBank, router.chopperMode, router.fullLevel} != sent) {
                self->updateBankLEDs();
            }
        });
    });
}

void KoalaMIDIBridge::handle(const KoalaControlRouter::Events& events,
                             const std::optional<std::string>& origin) {
    using Kind = KoalaControlRouter::Event::Kind;
    for (const auto& event : events) {
        switch (event.kind) {
        case Kind::midi: {
            std::span<const uint8_t> bytes = event.message.bytes();
            if (virtualSource && !bytes.empty()) {
                std::array<uint8_t, 512> buffer{};
                MidiPacketListBuilder list(buffer);
                if (list.add(0, bytes)) midi.received(virtualSource, list.list());
                feed.observe(bytes);
            }
            onMain([weak = weak_from_this(), bytes = event.message.toVector()] {
                auto self = weak.lock();
                if (self && self->onForward) self->onForward(bytes);
            });
            break;
        }
        case Kind::padBank: {
            int bank = event.value;
            updateBankLEDs();
            int first = (router.chopperMode ? 60 : 36) + 16 * bank;
            ActivityLog::write("MPC pad bank " + bankLetter(bank) + " · " +
                               (router.chopperMode ? "Chopper" : "Samples") + ", Ch16 notes " +
                               std::to_string(first) + "–" + std::to_string(first + 15));
            if (routingEnabled) {
                onMain([weak = weak_from_this(), bank] {
                    auto self = weak.lock();
                    if (self && self->onPadBankChanged) self->onPadBankChanged(bank);
                });
            }
            break;
        }
        case Kind::qlinkBank: {
            int bank = event.value;
            updateBankLEDs();
            ActivityLog::write("MPC Q-Link bank " + bankLetter(bank) + " · Ch15 CC" +
                               std::to_string(4 * bank + 1) + "–" + std::to_string(4 * bank + 4));
            break;
        }
        case Kind::chopperMode: {
            bool on = event.value != 0;
            feed.setChopperMode(on);
            if (origin)
                ActivityLog::write(std::string("Keyboard mode ") + (on ? "on" : "off") +
                                   " · source: " + *origin);
            updateBankLEDs();
            report(on ? "16 Levels · Chopper · banks A–D play chops 1–64, MIDI notes 60–123"
                      : "16 Levels off · sample pads restored");
            if (routingEnabled) {
                onMain([weak = weak_from_this(), on] {
                    auto self = weak.lock();
                    if (self && self->onChopperModeChanged) self->onChopperModeChanged(on);
                });
            }
            break;
        }
        case Kind::fullLevel: {
            bool on = event.value != 0;
            updateBankLEDs();
            report(on ? "FULL LEVEL on · pad velocity 127" : "FULL LEVEL off · natural pad velocity");
            ActivityLog::write(std::string("FULL LEVEL ") +
                               (on ? "on · velocity 127" : "off · natural velocity"));
            break;
        }
        }
    }
}

void KoalaMIDIBridge::setRoutingEnabled(bool enabled) {
    queue->sync([&] {
        if (!enabled && routingEnabled) handle(router.releaseHeld());
        routingEnabled = enabled;
    });
}

void KoalaMIDIBridge::selectPadBank(int bank) {
    queue->async([weak = weak_from_this(), bank] {
        auto self = weak.lock();
        if (!self || !self->isStarted || !self->routingEnabled || bank < 0 || bank > 3) return;
        self->router.padBank = bank;
        if (!self->router.chopperMode) self->router.sampleBank = bank;
        self->handle({KoalaControlRouter::Event::padBank(bank)});
    });
}

void KoalaMIDIBridge::keyboardToggledOnScreen() {
    queue->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || !self->isStarted || !self->routingEnabled) return;
        auto& router = self->router;
        router.chopperMode = !router.chopperMode;
        router.padBank = router.chopperMode ? 0 : router.sampleBank;
        self->handle({KoalaControlRouter::Event::chopperMode(router.chopperMode),
                      KoalaControlRouter::Event::padBank(router.padBank)},
                     "native keyboard click");
    });
}

void KoalaMIDIBridge::prepareForKoalaLaunch() {
    // Read by the song reader's own rules: a hand-edited "true" or "20" means what it says there.
    bool keyboardMode = false;
    int64_t selectedPad = 0;
    if (auto song = Json::readFile(Paths::koalaSong() / "song.json")) {
        keyboardMode = KoalaValues::flagOn(*song, "keyboardMode");
        selectedPad = KoalaValues::integer(KoalaValues::number(*song, "selectedPad")).value_or(0);
    }
    int bank = selectedPad >= 48 ? 3 : int(std::max<int64_t>(0, selectedPad / 16));
    queue->sync([&] {
        if (!isStarted || routingEnabled) return;
        router.sampleBank = bank;
        router.chopperMode = keyboardMode;
        router.padBank = keyboardMode ? 0 : bank;
        handle({KoalaControlRouter::Event::chopperMode(keyboardMode),
                KoalaControlRouter::Event::padBank(router.padBank)},
               "restored song");
    });
}

int KoalaMIDIBridge::currentPadBank() {
    return queue->syncValue([&] { return router.padBank; });
}

bool KoalaMIDIBridge::currentChopperMode() {
    return queue->syncValue([&] { return router.chopperMode; });
}

} // namespace tandem
