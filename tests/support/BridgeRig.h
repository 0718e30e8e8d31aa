#pragma once

// The Push bridge on the simulated Mac: a Push 2 with its display, Koala with its files, and the
// bridge's queues on one virtual timeline. Every waveform decode goes through the real reader, timed
// on the virtual clock and listed.
#include "base/Paths.h"
#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimRig.h"
#include "support/ScratchHome.h"
#include "tandem/profiles/KoalaPushProfile.h"
#include "tandem/push/PushKoalaBridge.h"

#include <memory>
#include <string>
#include <vector>

namespace tandem::testing {

// The preview window as the bridge drives it.
class RecordingPreview final : public PushPreview {
public:
    void open(const std::string& title) override {
        titles.push_back(title);
        isOpen = true;
    }
    void show(const KoalaView& view) override { shown = view; }
    void close() override { isOpen = false; }

    std::vector<std::string> titles;
    bool isOpen = false;
    std::optional<KoalaView> shown;
};

struct BridgeRig {
    // One decode: which file, when it began and whether it was stopped by the time it ended.
    struct Decode {
        std::string path;
        double began = 0;
        bool shown = false;       // the shown pad's read, else a preload
        bool besideShown = false; // a preload begun while a shown-pad read was in flight
        bool stopped = false;
        bool decoded = false;
    };

    ScratchHome home;
    SimRig rig{home.path() / "rig"};
    SimDefaults ownDefaults;
    Defaults* defaults = &ownDefaults;
    KoalaPerformanceFeed feed{rig.time};
    RecordingPreview preview;
    std::shared_ptr<Queue> display = rig.makeQueue("Tandem Push 2 display");
    std::shared_ptr<Queue> snapshots = rig.makeQueue("Tandem.Push.Snapshots");
    std::shared_ptr<Queue> waveforms = rig.makeQueue("Tandem.Push.Waveforms");
    FileSystem* disk = &FileSystem::local();
    // How long a decode takes on the virtual clock.
    double decodeTime = 0.02;
    std::vector<Decode> decodes;
    std::vector<std::string> statuses;
    int ready = 0;
    std::shared_ptr<PushKoalaBridge> bridge;

    explicit BridgeRig(FileSystem* fileSystem = nullptr, Defaults* userDefaults = nullptr) {
        if (fileSystem) disk = fileSystem;
        if (userDefaults) defaults = userDefaults;
        make();
    }
    ~BridgeRig() {
        if (bridge) bridge->stop();
        bridge.reset();
    }

    void make() {
        PushKoalaBridge::Services services{rig.midi, rig.time,  rig.usb,   *defaults, rig.workspace, rig.folders,
                                           rig.main, display,   snapshots, waveforms, &preview,      disk,
                                           &feed,    nullptr};
        services.decode = [this](const KoalaAudioSignature& signature, KoalaWaveformReadToken& token,
                                 FileSystem& files) {
            const bool shown = bridge->shownPadRead() == &token;
            decodes.push_back({signature.path, rig.time.now(), shown, !shown && bridge->shownPadRead() != nullptr});
            const size_t index = decodes.size() - 1;
            if (decodeTime > 0) rig.time.sleep(decodeTime);
            auto audio = KoalaWaveformReader::read(signature, token, files);
            decodes[index].stopped = token.isStopped();
            decodes[index].decoded = audio.has_value();
            return audio;
        };
        bridge = PushKoalaBridge::create(std::move(services));
        bridge->onStatus = [this](const std::string& text) { statuses.push_back(text); };
        bridge->onReady = [this] { ++ready; };
    }

    // Koala's settings made right for the Push while it is closed, `song` seeded, Koala launched.
    void koala(const SimKoalaSong& song = SimKoalaSong::standard()) {
        (void)FileSystem::local().createDirectories(Paths::koalaSettings());
        (void)FileSystem::local().writeFile(Paths::koalaSettings() / "defaults.json", "{}");
        auto prepared = KoalaPushProfile::prepare(KoalaPushProfile::Mode::push2, rig.workspace);
        if (!prepared) throw std::runtime_error(prepared.error().description);
        rig.koala.seed(song);
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(2);
    }

    // Koala set up, the Push plugged in, the bridge started and prepared, everything settled.
    void startAll(const SimKoalaSong& song = SimKoalaSong::standard()) {
        koala(song);
        rig.push.plug();
        auto started = bridge->start();
        if (!started) throw std::runtime_error(started.error().description);
        run(1);
        bridge->prepareForKoalaLaunch();
        run(0.5);
    }

    void run(double seconds) { rig.time.advance(seconds); }
    KoalaController& controller() { return *bridge->controller(); }

    // Push pad p playing Koala pad k of bank A: row k ÷ 4, column k mod 4.
    static int pushPadFor(int k) { return (k / 4) * 8 + k % 4; }
    void tapPad(int k) {
        rig.push.pressPad(pushPadFor(k));
        run(0.01);
        rig.push.releasePad(pushPadFor(k));
        run(0.01);
    }
    // The Push's own input, handed over by its MIDI thread.
    void press(int pushPad, uint8_t velocity = 100) {
        rig.push.pressPad(pushPad, velocity);
        run(0.001);
    }
    void release(int pushPad) {
        rig.push.releasePad(pushPad);
        run(0.001);
    }
    void turn(int encoder, int delta) {
        rig.push.turnEncoder(encoder, delta);
        run(0.001);
    }
    void button(int cc) {
        rig.push.button(cc, true);
        rig.push.button(cc, false);
        run(0.001);
    }

    std::vector<Decode> decodesOf(const std::string& path, bool shown) const {
        std::vector<Decode> found;
        for (const Decode& decode : decodes) {
            if (decode.path == path && decode.shown == shown) found.push_back(decode);
        }
        return found;
    }
};

} // namespace tandem::testing
