// Drawing the Push 2's screen: one whole 960 × 160 frame from a view (KoalaScreenArt::render), for the
// pad page with a waveform, a sequence page of 2,000 notes (pad rows and piano roll) and the FX page.
// The bridge redraws at most 20 times a second; a frame should take no more than 2 ms.
#include "tandem/push/art/KoalaScreenArt.h"

#include "QtBenchMain.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>

namespace {

using tandem::KoalaSession;
using tandem::KoalaView;
using tandem::KoalaWave;

KoalaView page(int number) {
    KoalaView view;
    view.page = number;
    view.upper = {"PAD", "EQ", "FX", "MIXER", "SEQ", "KEYBOARD", "LOAD", "SETTINGS"};
    view.upperOn = {number};
    view.pad = "B7";
    view.padName = "VOCAL CHOP LONG NAME";
    view.bank = 1;
    view.status = "3.2  SEQ 4  124.0 BPM  SAVED / LOCAL  FULL  1/16";
    view.mode = "CHOPPER B7 · 24 CHOPS SAVED · PAGE 1 · CHOPS 1-24";
    view.message = "TRIM START";
    view.hint = "PADS: A–D · EDITING B7 · * CONTROLS EDIT · * = KOALA'S";
    view.lower = {"ONE SHOT", "LOOP", "REVERSE", "MUTE", "SOLO", "MIC IN", "RESAMPLE", "FILE IN"};
    view.lowerOn = {1, 4};
    return view;
}

KoalaView padPage() {
    KoalaView view = page(0);
    KoalaWave wave;
    wave.peaks.resize(960);
    for (size_t k = 0; k < wave.peaks.size(); ++k)
        wave.peaks[k] = static_cast<float>(std::abs(std::sin(k * 0.05)) * std::exp(-k / 600.0));
    for (int i = 1; i <= 24; ++i)
        wave.slices.push_back(i / 25.0);
    wave.start = 0.02;
    wave.end = 0.97;
    wave.duration = 7.5;
    wave.frames = 330750;
    view.wave = wave;
    return view;
}

KoalaView sequencePage(bool pianoRoll) {
    KoalaView view = page(4);
    view.sequenceBeats = 64;
    view.pianoRoll = pianoRoll;
    view.playhead = 21.25;
    view.clockLive = true;
    std::mt19937 random(11);
    std::vector<KoalaSession::Note> notes;
    for (int i = 0; i < 2000; ++i) {
        double beat = (random() % 256) / 4.0;
        notes.push_back({static_cast<int64_t>(random() % 64),
                         beat,
                         (random() % 8) / 8.0,
                         static_cast<double>(36 + random() % 48),
                         100,
                         {}});
    }
    view.notes = notes;
    view.activePads = {0, 5, 17};
    view.activePitches = {60, 64, 67};
    return view;
}

KoalaView fxPage() {
    KoalaView view = page(2);
    for (int i = 0; i < 16; ++i) {
        KoalaView::Cell cell{std::to_string(i + 1) + " EFFECT", "", (i * 9 % 16) / 15.0};
        cell.on = i % 3 == 0;
        cell.lit = i == 5;
        (i < 8 ? view.cells : view.cellsTop).push_back(cell);
    }
    return view;
}

void run(benchmark::State& state, const KoalaView& view) {
    for (auto _ : state) {
        QImage image = tandem::KoalaScreenArt::render(view);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_PadPageWithWaveform(benchmark::State& state) {
    run(state, padPage());
}
BENCHMARK(BM_PadPageWithWaveform)->Unit(benchmark::kMicrosecond);

void BM_Sequence2000Notes(benchmark::State& state) {
    run(state, sequencePage(state.range(0) != 0));
}
BENCHMARK(BM_Sequence2000Notes)->ArgName("pianoRoll")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_FxPage(benchmark::State& state) {
    run(state, fxPage());
}
BENCHMARK(BM_FxPage)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksWithQt(argc, argv);
}
