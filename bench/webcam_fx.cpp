// The webcam's picture work per 1080p frame, each against copying one 1080p frame in the same run: the
// effects idle (the half-size store only), a stutter dissolving into its next repetition (store, dissolve,
// scale back up), the cutter's black; the overlay card drawn and composited, wide and tall; and a
// stutter with the card, the compose tick's whole picture work. Targets: effects at most 5 × the copy,
// the card at most 1.5 ms, together at most 6 ms. The ratios (of CPU times) are printed after the table.
#include "tandem/webcam/WebcamFX.h"
#include "tandem/webcam/WebcamOverlayPainter.h"

#include "base/SimTime.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tandem;

const QSize wide(1920, 1080);
const QSize tall(1080, 1920);

// A composed frame with detail everywhere, so that nothing is cheaper than a real picture.
QImage composed(QSize size) {
    QImage frame(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(frame.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = 0xFF000000u | uint32_t((x * 7 + y) & 0xFF) << 16 | uint32_t((x ^ y) & 0xFF) << 8 |
                     uint32_t((x * y) & 0xFF);
    }
    return frame;
}

void BM_CopyFrame(benchmark::State& state) {
    const QImage frame = composed(wide);
    QImage into(wide, QImage::Format_RGB32);
    for (auto _ : state) {
        std::memcpy(into.bits(), frame.constBits(), size_t(frame.sizeInBytes()));
        benchmark::ClobberMemory();
    }
}

// One compose tick every 1/120 s of virtual time.
constexpr double tick = 1.0 / 120;

void BM_FXIdle(benchmark::State& state) {
    WebcamFX fx;
    const QImage frame = composed(wide);
    double now = 0;
    for (auto _ : state) {
        QImage out = fx.process(frame, now, {}, wide);
        benchmark::DoNotOptimize(out.constBits());
        now += tick;
    }
}

// Every tick lands at the middle of a repetition's fade: the store, the dissolve and the scaling up.
void BM_FXStutterDissolve(benchmark::State& state) {
    WebcamFX fx;
    const QImage frame = composed(wide);
    const double period = 0.25, fade = 0.05;
    double now = 0;
    for (int k = 0; k < 60; ++k, now += tick)
        (void)fx.process(frame, now, {}, wide);
    const WebcamEffectState stutter{period, now, 0, 0};
    (void)fx.process(frame, now + period * 0.5, stutter, wide); // the first repetition: its loop picture
    double repetition = 1;
    for (auto _ : state) {
        QImage out = fx.process(frame, stutter.stutterStart + period * repetition + fade / 2, stutter, wide);
        benchmark::DoNotOptimize(out.constBits());
        repetition += 1;
    }
}

void BM_FXCutter(benchmark::State& state) {
    WebcamFX fx;
    const QImage frame = composed(wide);
    const WebcamEffectState cutter{0, 0, 0.25, 0};
    double repetition = 0;
    for (auto _ : state) {
        QImage out = fx.process(frame, cutter.cutterPeriod * (repetition + 0.75), cutter, wide);
        benchmark::DoNotOptimize(out.constBits());
        repetition += 1;
    }
}

struct CardBench {
    SimTime time;
    std::shared_ptr<WebcamOverlayPainter> painter = std::make_shared<WebcamOverlayPainter>(
        WebcamOverlayPainter::Services{time, time.makeQueue(WebcamOverlayPainter::loaderLabel)});
    WebcamOverlayPainter::Card card;

    CardBench() {
        KoalaPerformanceFeed::Snapshot feed;
        const KoalaPerformanceFeed::Hit hit{5, false, false, 41, 10.0};
        feed.lastHit = hit;
        feed.fx["STUTTER"] = 64;
        feed.fx["CUTTER"] = 100;
        KoalaWave wave;
        wave.peaks.resize(960);
        for (size_t i = 0; i < wave.peaks.size(); ++i)
            wave.peaks[i] =
                float(std::exp(-double(i) / 300) * (0.5 + 0.5 * std::fabs(std::sin(double(i) * 0.3))));
        wave.start = 0.1;
        wave.end = 0.8;
        wave.duration = 2;
        const WebcamOverlayPainter::PadInfo info{hit, "A sample with a long name that has to be cut short",
                                                 wave, std::nullopt};
        card = WebcamOverlayPainter::card(feed, info, 0.6, 10.4);
    }

    // Drawn and composited; the frame's pixels under the card are overwritten each time, which costs
    // what compositing onto a fresh frame costs.
    void once(QImage& frame, bool vertical) {
        const QSize size = WebcamOverlayPainter::cardSize(vertical, frame.size());
        std::optional<QImage> drawn = painter->draw(card, size);
        const WebcamOverlayPainter::Overlay overlay{
            std::move(*drawn), WebcamOverlayPainter::position(frame.size(), size, {0.025, 0.044})};
        WebcamOverlayPainter::composite(frame, overlay);
        card.now += tick; // the play line moves
    }
};

void cardBenchmark(benchmark::State& state, QSize size, bool vertical) {
    CardBench bench;
    QImage frame = composed(size);
    for (auto _ : state) {
        bench.once(frame, vertical);
        benchmark::DoNotOptimize(frame.constBits());
    }
}

void BM_CardWide(benchmark::State& state) {
    cardBenchmark(state, wide, false);
}

void BM_CardTall(benchmark::State& state) {
    cardBenchmark(state, tall, true);
}

// The stutter's dissolve and the card on its result: the compose tick's picture work together.
void BM_StutterAndCard(benchmark::State& state) {
    WebcamFX fx;
    CardBench bench;
    const QImage frame = composed(wide);
    const double period = 0.25, fade = 0.05;
    double now = 0;
    for (int k = 0; k < 60; ++k, now += tick)
        (void)fx.process(frame, now, {}, wide);
    const WebcamEffectState stutter{period, now, 0, 0};
    (void)fx.process(frame, now + period * 0.5, stutter, wide);
    double repetition = 1;
    for (auto _ : state) {
        QImage out = fx.process(frame, stutter.stutterStart + period * repetition + fade / 2, stutter, wide);
        out.detach(); // the effects' frame belongs to their pool; the card is drawn on the studio's copy
        bench.once(out, false);
        benchmark::DoNotOptimize(out.constBits());
        repetition += 1;
    }
}

} // namespace

BENCHMARK(BM_CopyFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FXIdle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FXStutterDissolve)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FXCutter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CardWide)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CardTall)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StutterAndCard)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    // The card's text needs a Qt application; offscreen draws the same everywhere.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    QGuiApplication application(argc, argv);
    // CPU time: on a shared machine the wall clock also counts other programs.
    RatioReporter reporter(RatioReporter::Time::cpu);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto copy = reporter.times.find("BM_CopyFrame");
    if (copy != reporter.times.end() && copy->second > 0) {
        for (const char* name : {"BM_FXIdle", "BM_FXStutterDissolve", "BM_FXCutter", "BM_CardWide",
                                 "BM_CardTall", "BM_StutterAndCard"}) {
            const auto found = reporter.times.find(name);
            if (found != reporter.times.end())
                std::printf("%s / copying one 1080p frame: %.2f (%.3f ms CPU)\n", name,
                            found->second / copy->second, found->second / 1000);
        }
    }
    benchmark::Shutdown();
    return 0;
}
