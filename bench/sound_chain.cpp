// The webcam's sound chain against the floor it stands on: copying the same buffers and doing nothing
// else. Stereo 48 kHz in 480-frame buffers, drive, colouring and a limiter that is working all the time;
// the counter `realtime` says how many seconds of sound one core processes per second (target at least
// 200). Then the stutter period search at its worst: three seconds of envelope, every lag a candidate
// (target at most 1 ms). The ratio to the copy is printed after the table.
#include "tandem/webcam/StutterPeriodFinder.h"
#include "tandem/webcam/WebcamSoundChain.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace tandem;

constexpr double rate = 48000;
constexpr size_t frames = 480;
constexpr size_t bufferCount = 500; // 5 s of sound, cycled

// Loud music: two tones under a slow swell that peaks well above full scale once driven.
std::vector<SampleBuffer> music() {
    std::vector<SampleBuffer> buffers;
    for (size_t b = 0; b < bufferCount; ++b) {
        SampleBuffer buffer = SampleBuffer::makeFloat(rate, 2, frames, true, double(b * frames) / rate);
        for (size_t f = 0; f < frames; ++f) {
            const double t = double(b * frames + f) / rate;
            const double swell = 0.4 + 0.6 * std::fabs(std::sin(t * 2.3));
            for (int c = 0; c < 2; ++c)
                buffer.floatAt(f, c) =
                    float(swell * (0.7 * std::sin(2 * std::numbers::pi * (110 + 55 * c) * t) +
                                   0.3 * std::sin(2 * std::numbers::pi * 2500 * t + c)));
        }
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

const std::vector<SampleBuffer>& sound() {
    static const std::vector<SampleBuffer> buffers = music();
    return buffers;
}

void BM_SoundChain(benchmark::State& state) {
    WebcamSoundChain chain;
    chain.configure(6, true, true, -6);
    const std::vector<SampleBuffer>& buffers = sound();
    size_t next = 0;
    double deepestReduction = 0;
    for (auto _ : state) {
        SampleBuffer out = chain.process(buffers[next]);
        benchmark::DoNotOptimize(out.floats.data());
        next = next + 1 == buffers.size() ? 0 : next + 1;
        deepestReduction = std::min(deepestReduction, chain.meter().reduction);
    }
    if (!(deepestReduction < -1)) state.SkipWithError("the limiter was not working");
    state.counters["realtime"] =
        benchmark::Counter(double(state.iterations()) * double(frames) / rate, benchmark::Counter::kIsRate);
    state.counters["reduction_dB"] = deepestReduction;
}

// The floor: the copy of the samples that processing makes anyway.
void BM_CopySamples(benchmark::State& state) {
    const std::vector<SampleBuffer>& buffers = sound();
    size_t next = 0;
    for (auto _ : state) {
        SampleBuffer out = buffers[next];
        benchmark::DoNotOptimize(out.floats.data());
        benchmark::ClobberMemory();
        next = next + 1 == buffers.size() ? 0 : next + 1;
    }
    state.counters["realtime"] =
        benchmark::Counter(double(state.iterations()) * double(frames) / rate, benchmark::Counter::kIsRate);
}

// Three seconds of noise: every lag from 40 ms to 0.7 s has energy and no beat narrows the candidates.
void BM_PeriodSearchWorstCase(benchmark::State& state) {
    std::vector<float> envelope(StutterPeriodFinder::ringLength);
    uint32_t seed = 1;
    for (float& v : envelope) {
        seed = seed * 1664525u + 1013904223u;
        v = float(seed >> 8) / float(1 << 24) - 0.5f;
    }
    for (auto _ : state) {
        auto found = StutterPeriodFinder::search(envelope, std::nullopt);
        benchmark::DoNotOptimize(found);
    }
}

} // namespace

BENCHMARK(BM_SoundChain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopySamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeriodSearchWorstCase)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(RatioReporter::Time::cpu);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto chain = reporter.times.find("BM_SoundChain");
    const auto copy = reporter.times.find("BM_CopySamples");
    if (chain != reporter.times.end() && copy != reporter.times.end() && copy->second > 0)
        std::printf("sound chain / copying the samples: %.1f\n", chain->second / copy->second);
    benchmark::Shutdown();
    return 0;
}
