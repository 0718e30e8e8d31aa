#pragma once

// Koala and the Push controller on the simulated Mac, with a stand-in for the bridge that joins them:
// the controller's MIDI goes out on the virtual source "Tandem Push" (and into a performance feed),
// Koala's clock comes back on the virtual destination "Tandem Push", and every save of Koala's song
// is read with Tandem's song reader and handed to the controller with the files' dates.
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "platform/MidiPacketList.h"
#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimRig.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/profiles/KoalaPushProfile.h"
#include "tandem/push/KoalaController.h"

#include <array>
#include <memory>

namespace tandem::testing {

class PushRig {
public:
    PushRig(const std::filesystem::path& scratch, Defaults* defaults = nullptr)
        : rig(scratch)
        , defaults(defaults ? *defaults : ownDefaults) {}
    ~PushRig() {
        tickTimer.reset();
        fileTimer.reset();
        controller.reset();
        if (client) rig.midi.clientDispose(client);
    }

    // Koala set up for the Push (settings and map written while it is closed), seeded with `song`,
    // launched; the stand-in bridge and its controller started.
    void start(const SimKoalaSong& song = SimKoalaSong::standard()) {
        (void)FileSystem::local().createDirectories(Paths::koalaSettings());
        (void)FileSystem::local().writeFile(Paths::koalaSettings() / "defaults.json", "{}");
        auto prepared = KoalaPushProfile::prepare(KoalaPushProfile::Mode::push2, rig.workspace);
        if (!prepared) throw std::runtime_error(prepared.error().description);
        rig.koala.seed(song);
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(2);
        connect();
        rig.time.advance(0.2); // Koala finds the new source and the first file check passes
    }

    // A new controller on the same bridge (a restart of Tandem's Push path).
    void connect() {
        tickTimer.reset();
        fileTimer.reset();
        if (!client) {
            rig.midi.clientCreate("Tandem Push", nullptr, &client);
            rig.midi.sourceCreate(client, "Tandem Push", &source);
            rig.midi.destinationCreate(
                client, "Tandem Push",
                [this](const MidiPacketList& list, void*) {
                    std::vector<uint8_t> bytes;
                    list.forEach([&](auto& packet) {
                        bytes.insert(bytes.end(), packet.data.begin(), packet.data.end());
                    });
                    rig.main->async([this, bytes] {
                        for (uint8_t byte : bytes) {
                            if (byte >= 0xF8 && controller) controller->clock(byte, {}, rig.time.now());
                        }
                    });
                },
                &destination);
        }
        controller = std::make_unique<KoalaController>(
            KoalaController::Services{rig.time, defaults, KoalaController::trimBehaviorKeyFor(rig.workspace)},
            [this](std::span<const uint8_t> bytes) { publish(bytes); });
        auto keyboard = KoalaPushProfile::keyboardSettings(Paths::koalaSettings());
        controller->keyboardChannel = int(keyboard.channel);
        controller->keyboardOffset = int(keyboard.offset);
        controller->padsSelectInKoala = KoalaPushProfile::canSelectPads(Paths::koalaSettings());
        stamps.clear();
        readIfSaved();
        tickTimer = rig.main->timer(0.005, 0.005, [this] { controller->tick(); });
        fileTimer = rig.main->timer(0.15, 0.15, [this] { readIfSaved(); });
    }

    void press(int pushPad, int velocity = 100) {
        controller->handle(Push2Event::pad(pushPad, velocity, true));
    }
    void release(int pushPad) { controller->handle(Push2Event::pad(pushPad, 0, false)); }
    void button(int cc) {
        controller->handle(Push2Event::button(cc, true));
        controller->handle(Push2Event::button(cc, false));
    }
    void run(double seconds) { rig.time.advance(seconds); }
    int reads() const { return readCount; }

    SimRig rig;
    SimDefaults ownDefaults;
    Defaults& defaults;
    KoalaPerformanceFeed feed{rig.time};
    std::unique_ptr<KoalaController> controller;

private:
    void publish(std::span<const uint8_t> bytes) {
        std::array<uint8_t, 1024> buffer{};
        MidiPacketListBuilder list(buffer);
        if (list.add(0, bytes)) rig.midi.received(source, list.list());
        feed.observe(bytes);
    }

    // The song folder's five files by their dates; a change is read whole and handed over.
    void readIfSaved() {
        std::map<std::string, int64_t> now;
        for (const std::string& file : KoalaSession::files()) {
            if (auto attributes = FileSystem::local().attributes(Paths::koalaSong() / file))
                now[file] = attributes->modified;
        }
        if (now == stamps) return;
        const uint64_t selection = controller->selectionRevision, trims = controller->trimRevision,
                       commands = controller->commandRevision;
        auto saved =
            KoalaSession::readSaved(Paths::koalaSong(), [this](int64_t id) { return rig.koala.frames(id); });
        if (!saved) return;
        stamps = now;
        ++readCount;
        std::optional<int64_t> sampler;
        if (auto found = now.find("sampler/sampler.json"); found != now.end()) sampler = found->second;
        controller->setSession(*saved, controller->selectionRevision == selection, sampler, trims, now,
                               commands);
    }

    MidiClientRef client = 0;
    MidiEndpointRef source = 0, destination = 0;
    std::unique_ptr<Timer> tickTimer, fileTimer;
    std::map<std::string, int64_t> stamps;
    int readCount = 0;
};

} // namespace tandem::testing
