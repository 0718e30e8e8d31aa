// The studio's compose step per frame, on the simulated Mac's ports: the tutorial shape (a 720p camera in
// its framed corner over Koala's window fitted to 1920 × 1080, a stutter running, the card) with new
// pictures from both sources on every frame, as at 30 fps, and with the same pictures again (the scaled
// sources reused, as while a stutter composes between camera frames); a full-frame 720p camera scaled up
// to 1080p on every frame. Target: one tutorial frame in at most 8 ms. Beside them, the two ways of
// scaling the 720p camera to 1080p (QImage's smooth scaling, which the studio uses, and QPainter's
// smooth transform), so that the choice stays measured. Then a second of recording, 300 frames composed as
// they go through the recording's movie (convert and encode), against the same frames composed beforehand
// and only encoded; targets: at least 36 frames a second and 0.8 of the encode-only rate.
#include "tandem/webcam/studio/SimulatedStudioWorld.h"
#include "tandem/webcam/studio/WebcamStudio.h"

#include "QtBenchMain.h"
#include "base/ScratchFolder.h"
#include "platform/linux/FfmpegMovieFile.h"
#include "platform/sim/SimCameras.h"
#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimMovieFile.h"
#include "platform/sim/SimRig.h"

#include <benchmark/benchmark.h>

#include <QPainter>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace tandem;

// A studio on the simulated Mac, never started: the benchmark calls its compose step directly.
struct Studio {
    ScratchFolder scratch{"webcam_record"};
    SimRig rig{scratch.path() / "rig"};
    SimDefaults defaults;
    SimMovieFiles movies;
    KoalaPerformanceFeed feed{rig.time};
    std::shared_ptr<WebcamStudio> studio;

    Studio() {
        setenv("HOME", scratch.path().c_str(), 1);
        studio = WebcamStudio::make(simulatedStudioWorld(rig, defaults, movies, feed));
    }
};

// Koala's window as the capture delivers a 1280 × 800 window: 1920 × 1200, with detail everywhere.
std::shared_ptr<const VideoFrame> koalaPicture(int seed) {
    auto frame = std::make_shared<VideoFrame>(VideoFrame::make(1920, 1200));
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            frame->set(x, y,
                       0xFF000000u | uint32_t((x * 7 + y + seed) & 0xFF) << 16 |
                           uint32_t((x ^ y) & 0xFF) << 8 | uint32_t((x * y) & 0xFF));
    return frame;
}

std::shared_ptr<const VideoFrame> cameraPicture(uint64_t number) {
    return std::make_shared<VideoFrame>(SimCameras::pattern(1280, 720, number, false, 0));
}

KoalaPerformanceFeed::Snapshot stuttering() {
    KoalaPerformanceFeed::Snapshot feed;
    feed.manualStutter = true;
    feed.stutterSince = 0;
    return feed;
}

WebcamSettings tutorial() {
    WebcamSettings settings;
    settings.tutorial = true;
    return settings;
}

void composeEach(benchmark::State& state, const WebcamSettings& settings, bool newPictures) {
    Studio bench;
    const auto feed = stuttering();
    const std::shared_ptr<const VideoFrame> cameras[2] = {cameraPicture(1), cameraPicture(2)};
    const std::shared_ptr<const VideoFrame> koalas[2] = {koalaPicture(0), koalaPicture(1)};
    double now = 0;
    size_t i = 0;
    for (auto _ : state) {
        const size_t which = newPictures ? i % 2 : 0;
        auto frame = bench.studio->compose(settings, feed, now, cameras[which],
                                           settings.tutorial ? koalas[which] : nullptr);
        if (!frame) state.SkipWithError("no frame");
        benchmark::DoNotOptimize(frame);
        now += 1.0 / 30;
        ++i;
    }
}

void BM_ComposeTutorialNewPictures(benchmark::State& state) {
    composeEach(state, tutorial(), true);
}
BENCHMARK(BM_ComposeTutorialNewPictures)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ComposeTutorialSamePictures(benchmark::State& state) {
    composeEach(state, tutorial(), false);
}
BENCHMARK(BM_ComposeTutorialSamePictures)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ComposeFullFrame720pCamera(benchmark::State& state) {
    composeEach(state, WebcamSettings{}, true);
}
BENCHMARK(BM_ComposeFullFrame720pCamera)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

QImage camera720p() {
    auto frame = cameraPicture(7);
    return QImage(frame->bytes.data(), frame->width, frame->height, qsizetype(frame->stride),
                  QImage::Format_RGB32)
        .copy();
}

void BM_Scale720pTo1080pQImageSmooth(benchmark::State& state) {
    const QImage camera = camera720p();
    for (auto _ : state) {
        QImage scaled = camera.scaled(1920, 1080, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(scaled);
    }
}
BENCHMARK(BM_Scale720pTo1080pQImageSmooth)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_Scale720pTo1080pQPainterSmooth(benchmark::State& state) {
    const QImage camera = camera720p();
    QImage into(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&into);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(0, 0, 1920, 1080), camera);
        painter.end();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Scale720pTo1080pQPainterSmooth)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// A second of recording: 300 frames at 30 a second through the recording's own movie (libx264 with its
// shipped preset, BT.709 conversion, its own encoder thread), composed as they go, against the same
// frames composed beforehand and only converted and encoded. Real time, both cores: what a recording of
// the tutorial shape costs beside what the encoder alone costs.
constexpr int recordedFrames = 300;

struct Recording {
    std::vector<QImage> frames; // composed beforehand: the encode-only reference
    double seconds = 0;
};

QImage composedCopy(Studio& studio, const WebcamSettings& settings,
                    const KoalaPerformanceFeed::Snapshot& feed, double now,
                    const std::shared_ptr<const VideoFrame>& camera,
                    const std::shared_ptr<const VideoFrame>& koala) {
    auto frame = studio.studio->compose(settings, feed, now, camera, koala);
    return frame ? *frame : QImage();
}

// Writes `count` frames into a new movie; `next(i)` gives frame i. Returns the wall-clock seconds from the
// first frame to the finished file, or a negative number when the movie failed.
template <typename Next> double record(const std::filesystem::path& file, int count, Next next) {
    FfmpegMovieFiles movies;
    auto created = movies.create(file, MovieSettings::recording(1920, 1080));
    if (!created) return -1;
    const std::shared_ptr<MovieFile> movie = *created;
    const auto start = std::chrono::steady_clock::now();
    movie->startSession(0);
    for (int i = 0; i < count; ++i) {
        auto picture = std::make_shared<const QImage>(next(i));
        if (picture->isNull()) return -1;
        MovieFrame frame{picture->width(), picture->height(), ptrdiff_t(picture->bytesPerLine()),
                         picture->constBits(), picture};
        // The studio would skip a frame here; the benchmark waits, so both runs encode every frame.
        while (!movie->videoReady())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!movie->appendVideo(frame, double(i) / 30)) return -1;
    }
    movie->endSession(double(count) / 30);
    std::promise<bool> finished;
    movie->finish([&finished](bool written) { finished.set_value(written); });
    if (!finished.get_future().get()) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RecordTutorial(benchmark::State& state, bool composeAsItGoes) {
    Studio bench;
    const auto settings = tutorial();
    const auto feed = stuttering();
    std::vector<std::shared_ptr<const VideoFrame>> cameras;
    for (uint64_t n = 0; n < 30; ++n)
        cameras.push_back(cameraPicture(n));
    const std::shared_ptr<const VideoFrame> koalas[2] = {koalaPicture(0), koalaPicture(1)};
    auto compose = [&](int i) {
        return composedCopy(bench, settings, feed, double(i) / 30, cameras[size_t(i) % cameras.size()],
                            koalas[(i / 15) % 2]);
    };
    std::vector<QImage> ready;
    if (!composeAsItGoes)
        for (int i = 0; i < recordedFrames; ++i)
            ready.push_back(compose(i).copy()); // owned copies: the studio's pool is small
    const std::filesystem::path folder = bench.scratch.path();
    int run = 0;
    for (auto _ : state) {
        const std::filesystem::path file = folder / ("take " + std::to_string(run++) + ".mp4");
        const double seconds = composeAsItGoes
                                   ? record(file, recordedFrames, compose)
                                   : record(file, recordedFrames, [&](int i) { return ready[size_t(i)]; });
        if (seconds <= 0) {
            state.SkipWithError("the movie could not be written");
            break;
        }
        state.SetIterationTime(seconds);
        state.counters["fps"] = recordedFrames / seconds;
        std::filesystem::remove(file);
    }
}

void BM_RecordTutorialComposeConvertEncode(benchmark::State& state) {
    BM_RecordTutorial(state, true);
}
BENCHMARK(BM_RecordTutorialComposeConvertEncode)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

void BM_RecordTutorialEncodeOnly(benchmark::State& state) {
    BM_RecordTutorial(state, false);
}
BENCHMARK(BM_RecordTutorialEncodeOnly)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksWithQt(argc, argv);
}
