// One whole refresh of the Push bridge per frame: the controller's view, its comparison with the last
// one, the screen drawn and converted, and the frame handed to the simulated Push display (its USB
// transfer included). The bridge refreshes every 50 ms; a frame should take no more than 3 ms. Also
// the refresh that finds the view unchanged, as most of them do.
#include "base/Paths.h"
#include "base/ScratchFolder.h"
#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimRig.h"
#include "tandem/profiles/KoalaPushProfile.h"
#include "tandem/push/PushKoalaBridge.h"

#include "QtBenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>

namespace {

using namespace tandem;

// The simulated Mac with Koala set up for the Push, a sample on A1, the bridge started and prepared.
struct Setup {
    ScratchFolder scratch{"tandem-bench-refresh"};
    SimRig rig;
    SimDefaults defaults;
    KoalaPerformanceFeed feed{rig.time};
    std::shared_ptr<PushKoalaBridge> bridge;

    static const std::filesystem::path& home(const ScratchFolder& scratch) {
        // Never the real home folder.
        setenv("HOME", (scratch.path() / "home").c_str(), 1);
        return scratch.path();
    }

    Setup()
        : rig(home(scratch) / "rig") {
        (void)FileSystem::local().createDirectories(Paths::koalaSettings());
        (void)FileSystem::local().writeFile(Paths::koalaSettings() / "defaults.json", "{}");
        if (!KoalaPushProfile::prepare(KoalaPushProfile::Mode::push2, rig.workspace))
            throw std::runtime_error("Koala could not be set up");
        rig.koala.seed(SimKoalaSong::standard());
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(2);
        rig.koala.loadSample(0, SimKoalaSample::sine(220, 88200).stereo());
        rig.push.plug();
        bridge = PushKoalaBridge::create({rig.midi, rig.time, rig.usb, defaults, rig.workspace, rig.folders, rig.main,
                                          rig.makeQueue("Tandem Push 2 display"),
                                          rig.makeQueue("Tandem.Push.Snapshots"),
                                          rig.makeQueue("Tandem.Push.Waveforms"), nullptr, nullptr, &feed, nullptr});
        if (!bridge->start()) throw std::runtime_error("the bridge did not start");
        rig.time.advance(1);
        bridge->prepareForKoalaLaunch();
        rig.time.advance(3);
        if (!bridge->lastView() || !bridge->lastView()->wave) throw std::runtime_error("no waveform shown");
    }
    ~Setup() { bridge->stop(); }
};

void BM_RefreshWithANewFrame(benchmark::State& state) {
    Setup setup;
    KoalaController& controller = *setup.bridge->controller();
    const int before = setup.rig.pushDisplay.framesShown();
    for (auto _ : state) {
        controller.fullLevel = !controller.fullLevel; // the status line changes: a new frame
        setup.bridge->refresh();
        setup.rig.time.runUntilIdle(); // the display queue sends it
    }
    const int frames = setup.rig.pushDisplay.framesShown() - before;
    state.counters["frames shown per refresh"] = double(frames) / double(state.iterations());
}
BENCHMARK(BM_RefreshWithANewFrame)->Unit(benchmark::kMicrosecond);

void BM_RefreshUnchanged(benchmark::State& state) {
    Setup setup;
    for (auto _ : state) {
        setup.bridge->refresh();
        setup.rig.time.runUntilIdle();
    }
}
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksWithQt(argc, argv);
}
