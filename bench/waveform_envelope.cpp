// A sample's peak envelope against the floor it stands on: decoding the same file to float with
// libsndfile and doing nothing else. One minute of stereo at 44.1 kHz, as 16-bit and as float WAV; the
// envelope should cost at most 1.2 times the plain decode. The ratios are printed after the table.
#include "base/Uuid.h"
#include "platform/sim/SimKoalaSample.h"
#include "tandem/audio/KoalaWaveform.h"

#include "RatioReporter.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace tandem;
namespace fs = std::filesystem;

constexpr int64_t minuteOfFrames = 60 * 44100;

fs::path folder;
std::map<std::string, fs::path> files; // "pcm16", "float" → file

void writeFiles() {
    folder = fs::temp_directory_path() / ("tandem-waveform-" + Uuid::make());
    fs::create_directories(folder);
    // A sine with a slow swell, so that every bucket differs.
    auto music = [](SimKoalaSample::Encoding encoding) {
        SimKoalaSample sample = SimKoalaSample::made(minuteOfFrames, [](int64_t f, int c) {
            const double t = double(f) / 44100;
            return (0.2 + 0.7 * std::fabs(std::sin(t * 0.5 + c))) * std::sin(2 * std::numbers::pi * 220 * t);
        });
        return sample.stereo().as(encoding);
    };
    for (auto [name, encoding] : {std::pair{"pcm16", SimKoalaSample::Encoding::pcm16},
                                  std::pair{"float", SimKoalaSample::Encoding::float32}}) {
        const fs::path file = folder / (std::string(name) + ".wav");
        if (!music(encoding).write(file)) {
            std::fprintf(stderr, "could not write %s\n", file.c_str());
            std::exit(1);
        }
        files[name] = file;
    }
}

void BM_Envelope(benchmark::State& state, const char* name) {
    const auto signature = KoalaAudioSignature::of(files.at(name));
    for (auto _ : state) {
        KoalaWaveformReadToken token;
        auto audio = KoalaWaveformReader::read(*signature, token);
        if (!audio) state.SkipWithError("the envelope could not be read");
        benchmark::DoNotOptimize(audio);
    }
    state.SetItemsProcessed(state.iterations() * minuteOfFrames);
}

// The floor: open, decode every frame to interleaved float in 32768-frame chunks, close.
void BM_PlainDecode(benchmark::State& state, const char* name) {
    const fs::path file = files.at(name);
    std::vector<float> buffer(32768 * 2);
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
        if (!sound) {
            state.SkipWithError("the file could not be opened");
            break;
        }
        sf_count_t total = 0, got = 0;
        while ((got = sf_readf_float(sound, buffer.data(), 32768)) > 0)
            total += got;
        sf_close(sound);
        benchmark::DoNotOptimize(total);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * minuteOfFrames);
}

// The envelope's own work on audio already decoded.
void BM_FoldOnly(benchmark::State& state) {
    std::vector<float> frames(2 * size_t(minuteOfFrames));
    for (int64_t i = 0; i < minuteOfFrames; ++i) {
        frames[2 * size_t(i)] = float(std::sin(double(i) * 0.031));
        frames[2 * size_t(i) + 1] = float(std::cos(double(i) * 0.017));
    }
    for (auto _ : state) {
        KoalaPeakEnvelope envelope{double(minuteOfFrames)};
        for (int64_t at = 0; at < minuteOfFrames; at += 32768) {
            const size_t count = size_t(std::min<int64_t>(32768, minuteOfFrames - at));
            envelope.add(frames.data() + 2 * at, 2, at, count);
        }
        benchmark::DoNotOptimize(envelope.peaks().data());
    }
    state.SetItemsProcessed(state.iterations() * minuteOfFrames);
}

} // namespace

int main(int argc, char** argv) {
    writeFiles();
    for (const char* name : {"pcm16", "float"}) {
        benchmark::RegisterBenchmark((std::string("BM_Envelope/") + name).c_str(), BM_Envelope, name)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_PlainDecode/") + name).c_str(), BM_PlainDecode, name)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_FoldOnly", BM_FoldOnly)->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(RatioReporter::Time::real);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"pcm16", "float"}) {
        const auto envelope = reporter.times.find(std::string("BM_Envelope/") + name);
        const auto plain = reporter.times.find(std::string("BM_PlainDecode/") + name);
        if (envelope == reporter.times.end() || plain == reporter.times.end() || plain->second <= 0) continue;
        std::printf("envelope / plain decode, %s: %.3f (target at most 1.2)\n", name,
                    envelope->second / plain->second);
    }
    benchmark::Shutdown();
    std::error_code error;
    fs::remove_all(folder, error);
    return 0;
}
