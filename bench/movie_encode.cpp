// The recording's encode on its own: 300 composed 1080p BGRA frames (and their sound in 10 ms buffers)
// through the movie writer, converted to 4:2:0 and encoded with the recording's settings, as fast as
// its queue of 4 takes them. `fps` is frames written per second of wall time; `realtime` is that over
// 30. On a shared machine the wall clock measures the neighbours as much as the encoder, so the
// process's CPU time per frame (every thread: the converter, libx264's and the AAC encoder) is counted
// too, and `capacity` is what the machine's cores would encode per second doing nothing else. Each
// libx264 preset is measured; the slowest whose capacity stays above 36 frames per second (a fifth of
// the time left for the composition beside it) is printed after the table as the one to use. "ultrafast" is
// never a candidate: it gives up CABAC and the 8×8 transform, which is not H.264 High any more.
#include "base/ScratchFolder.h"
#include "base/ThreadQueue.h"
#include "platform/linux/FfmpegMovieFile.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/log.h>
}

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tandem;

constexpr int width = 1920;
constexpr int height = 1080;
constexpr int frameCount = 300;
constexpr double targetFps = 36;

// A scene larger than the frame, panned a little every frame, with grain that differs between three
// copies: motion and noise as a camera gives them, without 300 frames in memory.
struct Scene {
    static constexpr int sceneWidth = width + 480;
    static constexpr int sceneHeight = height + 120;
    std::vector<std::shared_ptr<std::vector<uint8_t>>> copies;

    Scene() {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> grain(-12, 12);
        for (int copy = 0; copy < 3; ++copy) {
            auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(sceneWidth) * sceneHeight * 4);
            for (int y = 0; y < sceneHeight; ++y) {
                for (int x = 0; x < sceneWidth; ++x) {
                    uint8_t* p = pixels->data() + (size_t(y) * sceneWidth + x) * 4;
                    const double shade = 0.5 + 0.25 * std::sin(x * 0.01) * std::cos(y * 0.013);
                    const bool block = ((x / 160) + (y / 120)) % 3 == 0;
                    for (int c = 0; c < 3; ++c) {
                        const int base = int(255 * shade * (block ? 0.6 + 0.2 * c : 1.0 - 0.15 * c));
                        p[c] = uint8_t(std::clamp(base + grain(random), 0, 255));
                    }
                    p[3] = 255;
                }
            }
            copies.push_back(std::move(pixels));
        }
    }

    MovieFrame frame(int index) const {
        const auto& pixels = copies[size_t(index) % copies.size()];
        const int x = (index * 4) % (sceneWidth - width);
        const int y = (index * 2) % (sceneHeight - height);
        return MovieFrame{width, height, ptrdiff_t(sceneWidth) * 4,
                          pixels->data() + (size_t(y) * sceneWidth + x) * 4, pixels};
    }
};

const Scene& scene() {
    static const Scene shared;
    return shared;
}

SampleBuffer tone(double time) {
    SampleBuffer buffer = SampleBuffer::makeFloat(48000, 2, 480, true, time);
    for (size_t f = 0; f < buffer.frames; ++f) {
        const float s = float(0.3 * std::sin(2 * std::numbers::pi * 440 * (time + double(f) / 48000)));
        buffer.floatAt(f, 0) = s;
        buffer.floatAt(f, 1) = s;
    }
    return buffer;
}

struct Measured {
    double fps = 0;
    double cpuPerFrame = 0; // seconds
    double capacity = 0;    // frames per second on every core
};
std::map<std::string, Measured> measured;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void waitUntil(const std::function<bool()>& ready) {
    while (!ready())
        std::this_thread::sleep_for(std::chrono::microseconds(500));
}

void encode(benchmark::State& state, const std::string& preset) {
    av_log_set_level(AV_LOG_ERROR);
    const Scene& frames = scene();
    double seconds = 0;
    double cpu = 0;
    int64_t written = 0;
    for (auto _ : state) {
        ScratchFolder folder("tandem-movie-bench");
        FfmpegMovieFiles movies(FfmpegMovieFiles::Options{preset, 4, 64, {}});
        const auto began = std::chrono::steady_clock::now();
        const double cpuBefore = cpuSeconds();
        auto made = movies.create(folder.path() / "bench.mp4", MovieSettings::recording(width, height));
        if (!made) {
            state.SkipWithError(made.error().description.c_str());
            return;
        }
        auto movie = std::move(made).value();
        movie->startSession(0);
        double audioTime = 0;
        for (int i = 0; i < frameCount; ++i) {
            const double time = i / 30.0;
            for (; audioTime <= time; audioTime += 0.01) {
                waitUntil([&] { return movie->audioReady(); });
                movie->appendAudio(tone(audioTime));
            }
            waitUntil([&] { return movie->videoReady(); });
            if (movie->appendVideo(frames.frame(i), time)) ++written;
        }
        movie->endSession((frameCount - 1) / 30.0);
        std::promise<bool> done;
        movie->finish([&done](bool ok) { done.set_value(ok); });
        if (!done.get_future().get()) state.SkipWithError("the movie was not written");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        cpu += cpuSeconds() - cpuBefore;
    }
    const double fps = seconds > 0 ? double(written) / seconds : 0;
    const double perFrame = written > 0 ? cpu / double(written) : 0;
    const double capacity = perFrame > 0 ? std::thread::hardware_concurrency() / perFrame : 0;
    measured[preset] = Measured{fps, perFrame, capacity};
    state.counters["fps"] = fps;
    state.counters["realtime"] = fps / 30;
    state.counters["cpu_ms_per_frame"] = perFrame * 1000;
    state.counters["capacity"] = capacity;
}

BENCHMARK_CAPTURE(encode, veryfast, std::string("veryfast"))
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(encode, superfast, std::string("superfast"))
    ->Unit(benchmark::kSecond)
    ->Iterations(2)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("\n%u cores, load average %.1f; 1080p30 needs %.0f frames per second to leave room for the "
                "composition\n",
                std::thread::hardware_concurrency(), load[0], targetFps);
    const char* chosen = nullptr;
    for (const char* preset : {"veryfast", "superfast"}) {
        auto found = measured.find(preset);
        if (found == measured.end()) continue;
        const Measured& m = found->second;
        std::printf("%-10s %6.1f fps on this machine now, %5.1f ms CPU a frame, capacity %5.1f fps: %s\n",
                    preset, m.fps, m.cpuPerFrame * 1000, m.capacity,
                    m.capacity >= targetFps ? "keeps up" : "too slow");
        if (!chosen && m.capacity >= targetFps) chosen = preset;
    }
    std::printf("preset to use: %s\n",
                chosen ? chosen : "none keeps up: superfast, the fastest that is still High");
    return 0;
}
