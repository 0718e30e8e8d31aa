// The Push controller's hot paths: the 5 ms tick when nothing is due, with no and with 200 live
// predictions, and encoder turns from event to MIDI out.
#include "base/SimTime.h"
#include "platform/sim/SimDefaults.h"
#include "tandem/push/KoalaController.h"

#include <benchmark/benchmark.h>

namespace {

using namespace tandem;

KoalaSession song() {
    KoalaSession saved;
    for (int k = 0; k < 64; ++k) {
        KoalaSession::Pad pad;
        pad.loaded = true;
        pad.sampleID = k;
        pad.frames = 44100;
        saved.pads[k] = pad;
    }
    saved.bpm = 120;
    return saved;
}

struct Rig {
    SimTime time;
    SimDefaults defaults;
    size_t bytes = 0;
    KoalaController controller{{time, defaults, "KoalaTrimStartKeepsEnd.2.0.11"},
                               [this](std::span<const uint8_t> sent) { bytes += sent.size(); }};
    Rig() { controller.setSession(song(), true, std::nullopt, std::nullopt, {}, 0); }
};

void BM_IdleTick(benchmark::State& state) {
    Rig rig;
    // Live predictions: knobs of many pads and the mixer, all moved and resting, none answered yet.
    for (int i = 0; i < state.range(0); ++i) {
        rig.controller.selected = i % 64;
        rig.controller.setPosition(i < 64    ? "/currPad/volume"
                                   : i < 128 ? "/currPad/pan"
                                             : "/currPad/pitch",
                                   10 + i % 100);
    }
    rig.time.advance(1);
    rig.controller.tick(); // the rest boundary: reconciled once, then nothing is due for 19 s
    for (auto _ : state)
        rig.controller.tick();
    state.counters["stamps"] = double(rig.controller.commandStamps.size());
}
BENCHMARK(BM_IdleTick)->Arg(0)->Arg(200);

void BM_EncoderToSend(benchmark::State& state) {
    Rig rig;
    int direction = 1;
    for (auto _ : state) {
        rig.controller.handle(Push2Event::encoder(0, direction * 2));
        direction = -direction;
    }
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(rig.bytes);
}
BENCHMARK(BM_EncoderToSend);

} // namespace

BENCHMARK_MAIN();
