// The studio's compose step per frame, on the simulated Mac's ports: the tutorial shape (a 720p camera in
// its framed corner over Koala's window fitted to 1920 × 1080, a stutter running, the card) with new
// pictures from both sources on every frame, as at 30 fps, and with the same pictures again (the scaled
// sources reused, as while a stutter composes between camera frames); the same in the tall shape, with
// the camera turned; a full-frame 720p camera scaled up to 1080p on every frame. Target: one tutorial
// frame in at most 8 ms. Beside them, Qt's two ways of scaling the 720p camera to 1080p (QImage's smooth
// scaling and QPainter's smooth transform), which the studio's own scaling loop replaced. Then a second
// of recording, 300 frames composed as they go through the recording's movie (convert and encode),
// against the same frames composed beforehand and only encoded; targets: at least 36 frames a second and
// 0.8 of the encode-only rate. Last, a minute of recording in real time (see BM_RecordMinuteInRealTime).
#include "tandem/webcam/studio/SimulatedStudioWorld.h"
#include "tandem/webcam/studio/WebcamStudio.h"

#include "QtBenchMain.h"
#include "base/ScratchFolder.h"
#include "base/ThreadQueue.h"
#include "platform/linux/FfmpegMovieFile.h"
#include "platform/sim/SimAudioOutputs.h"
#include "platform/sim/SimAudioTaps.h"
#include "platform/sim/SimCameras.h"
#include "platform/sim/SimDefaults.h"
#include "platform/sim/SimMicrophones.h"
#include "platform/sim/SimMovieFile.h"
#include "platform/sim/SimRig.h"
#include "platform/sim/SimScreenCapture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <benchmark/benchmark.h>

#include <QPainter>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <numeric>
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

// The tall tutorial shape: 1080 × 1920, the camera turned, Koala's window above it.
void BM_ComposeTallTutorialNewPictures(benchmark::State& state) {
    WebcamSettings settings = tutorial();
    settings.vertical = true;
    composeEach(state, settings, true);
}
BENCHMARK(BM_ComposeTallTutorialNewPictures)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

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

// A minute of recording in real time, as on the Mac: the studio on threads of its own (ThreadQueues, the
// system clock), the simulated camera and Koala's window at 30 frames a second and Koala's sound in 10 ms
// buffers, all on real time, in the tutorial shape, into the recording's own movie. Counted: frames the
// encoder was too busy to take (target 0), the CPU the whole run used, the preset. From 1 s and up to
// one second before the end the camera flashes and Koala clicks; the decoded file gives each event's
// offset between picture and sound against when they really happened (target at most 33 ms either way)
// and how far that offset moved over the minute (target at most 5 ms). WEBCAM_RECORD_SECONDS shortens
// the minute; WEBCAM_RECORD_PRESET tries another preset.

// Koala's sound: silence but for a click (a millisecond at 0.8) at each time asked for.
class ClickingKoala final : public SimProcessSound {
public:
    static constexpr double clickSeconds = 0.001;

    explicit ClickingKoala(int32_t process)
        : process(process) {}

    void clickAt(double time) {
        std::lock_guard guard(lock);
        clicks.push_back(time);
    }

    bool sounded(int32_t asked) override { return asked == process; }
    void render(int32_t asked, SampleBuffer& buffer) override {
        if (asked != process || buffer.format != SampleBuffer::Format::float32 || buffer.rate <= 0) return;
        std::vector<double> times;
        {
            std::lock_guard guard(lock);
            times = clicks;
        }
        for (size_t f = 0; f < buffer.frames; ++f) {
            const double t = buffer.time + double(f) / buffer.rate;
            for (double click : times)
                if (t >= click && t < click + clickSeconds)
                    for (int c = 0; c < buffer.channels; ++c)
                        buffer.floatAt(f, c) += 0.8f;
        }
    }

private:
    const int32_t process;
    std::mutex lock;
    std::vector<double> clicks;
};

// What the studio's writer asked of the movie: the frames and buffers taken, and those refused because
// the encoder was still busy.
struct MovieCounts {
    std::atomic<int> framesTaken{0}, framesBusy{0}, soundTaken{0}, soundBusy{0};
};

class CountedMovie final : public MovieFile {
public:
    CountedMovie(std::shared_ptr<MovieFile> movie, MovieCounts& counts)
        : movie(std::move(movie))
        , counts(counts) {}

    void startSession(double time) override { movie->startSession(time); }
    bool videoReady() override {
        const bool ready = movie->videoReady();
        if (!ready) ++counts.framesBusy;
        return ready;
    }
    bool audioReady() override {
        const bool ready = movie->audioReady();
        if (!ready) ++counts.soundBusy;
        return ready;
    }
    bool appendVideo(const MovieFrame& frame, double time) override {
        const bool taken = movie->appendVideo(frame, time);
        if (taken) ++counts.framesTaken;
        return taken;
    }
    bool appendAudio(const SampleBuffer& buffer) override {
        const bool taken = movie->appendAudio(buffer);
        if (taken) ++counts.soundTaken;
        return taken;
    }
    void endSession(double time) override { movie->endSession(time); }
    void finish(std::function<void(bool)> done) override { movie->finish(std::move(done)); }
    void cancel() override { movie->cancel(); }
    std::optional<Error> error() override { return movie->error(); }

private:
    std::shared_ptr<MovieFile> movie;
    MovieCounts& counts;
};

class CountedMovies final : public MovieFiles {
public:
    explicit CountedMovies(FfmpegMovieFiles::Options options)
        : movies(std::move(options)) {}

    FfmpegMovieFiles movies;
    MovieCounts counts;

    Result<std::shared_ptr<MovieFile>> create(const std::filesystem::path& path,
                                              const MovieSettings& settings) override {
        auto made = movies.create(path, settings);
        if (!made) return made.error();
        return std::shared_ptr<MovieFile>(std::make_shared<CountedMovie>(*made, counts));
    }
};

// The decoded movie as the two events need it: each picture's time and mean brightness (luma), and the
// sound's first channel with the time of its first sample.
struct DecodedMovie {
    std::vector<std::pair<double, double>> brightness;
    std::vector<float> sound;
    double soundStart = 0;
    int soundRate = 0;
};

std::optional<DecodedMovie> decodeForEvents(const std::filesystem::path& file) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) return std::nullopt;
    DecodedMovie movie;
    bool ok = avformat_find_stream_info(format, nullptr) >= 0;
    const int videoIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    ok = ok && videoIndex >= 0 && audioIndex >= 0;
    AVCodecContext* decoders[2] = {nullptr, nullptr};
    const int indices[2] = {videoIndex, audioIndex};
    for (int i = 0; ok && i < 2; ++i) {
        const AVStream* stream = format->streams[indices[i]];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoders[i] = codec ? avcodec_alloc_context3(codec) : nullptr;
        ok = decoders[i] && avcodec_parameters_to_context(decoders[i], stream->codecpar) >= 0 &&
             avcodec_open2(decoders[i], codec, nullptr) >= 0;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool soundStarted = false;
    auto drain = [&](int which) {
        const double base = av_q2d(format->streams[indices[which]]->time_base);
        while (avcodec_receive_frame(decoders[which], frame) == 0) {
            const double time = double(frame->best_effort_timestamp) * base;
            if (which == 0) {
                double sum = 0;
                for (int y = 0; y < frame->height; y += 2) {
                    const uint8_t* row = frame->data[0] + ptrdiff_t(y) * frame->linesize[0];
                    for (int x = 0; x < frame->width; x += 2)
                        sum += row[x];
                }
                movie.brightness.emplace_back(
                    time, sum / (double((frame->height + 1) / 2) * ((frame->width + 1) / 2)));
            } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
                if (!soundStarted) {
                    movie.soundStart = time;
                    movie.soundRate = frame->sample_rate;
                    soundStarted = true;
                }
                const float* samples = reinterpret_cast<const float*>(frame->extended_data[0]);
                movie.sound.insert(movie.sound.end(), samples, samples + frame->nb_samples);
            }
        }
    };
    while (ok && av_read_frame(format, packet) >= 0) {
        for (int which = 0; which < 2; ++which)
            if (packet->stream_index == indices[which] && avcodec_send_packet(decoders[which], packet) == 0)
                drain(which);
        av_packet_unref(packet);
    }
    for (int which = 0; ok && which < 2; ++which) {
        avcodec_send_packet(decoders[which], nullptr);
        drain(which);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (AVCodecContext*& decoder : decoders)
        avcodec_free_context(&decoder);
    avformat_close_input(&format);
    if (!ok || movie.brightness.empty() || movie.sound.empty()) return std::nullopt;
    return movie;
}

// Where, in the file's time, the flash near `expected` and the click a tenth of a second after it are: the
// first picture clearly brighter than the median, the first sample above half the loudest one, each within a
// fifth of a second.
std::optional<std::pair<double, double>> findEvent(const DecodedMovie& movie, double expected) {
    std::vector<double> levels;
    for (const auto& [time, level] : movie.brightness)
        levels.push_back(level);
    std::nth_element(levels.begin(), levels.begin() + ptrdiff_t(levels.size() / 2), levels.end());
    const double median = levels[levels.size() / 2];
    std::optional<double> flash;
    for (const auto& [time, level] : movie.brightness)
        if (std::abs(time - expected) < 0.2 && level > median + 8) {
            flash = time;
            break;
        }
    const auto index = [&](double time) {
        return size_t(
            std::clamp((time - movie.soundStart) * movie.soundRate, 0.0, double(movie.sound.size())));
    };
    const size_t from = index(expected + 0.1 - 0.2), to = index(expected + 0.1 + 0.2);
    float loudest = 0;
    for (size_t i = from; i < to; ++i)
        loudest = std::max(loudest, std::abs(movie.sound[i]));
    std::optional<double> click;
    for (size_t i = from; loudest > 0.1f && i < to; ++i)
        if (std::abs(movie.sound[i]) > loudest / 2) {
            click = movie.soundStart + double(i) / movie.soundRate;
            break;
        }
    if (!flash || !click) return std::nullopt;
    return std::make_pair(*flash, *click);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The studio's world on real threads and the system clock: the rig gives Koala's process and windows
// (launched in its virtual time beforehand, then left alone), the capture is simulated on real time.
struct RealTimeStudio {
    explicit RealTimeStudio(FfmpegMovieFiles::Options options)
        : options(std::move(options)) {}

    ScratchFolder scratch{"webcam_record_minute"};
    SimRig rig{scratch.path() / "rig"};
    SystemClock& clock = SystemClock::shared();
    std::shared_ptr<ThreadQueue> main = std::make_shared<ThreadQueue>("Tandem main");
    std::vector<std::shared_ptr<ThreadQueue>> queues;
    SimDefaults defaults;
    FfmpegMovieFiles::Options options;
    CountedMovies movies{options};
    std::unique_ptr<KoalaPerformanceFeed> feed;
    std::unique_ptr<SimCameras> cameras;
    std::unique_ptr<SimScreenCapture> screenCapture;
    std::unique_ptr<ClickingKoala> koalaSound;
    std::unique_ptr<SimAudioTaps> audioTaps;
    std::unique_ptr<SimMicrophones> microphones;
    std::unique_ptr<SimAudioOutputs> audioOutputs;
    std::shared_ptr<WebcamStudio> studio;

    std::shared_ptr<Queue> queue(std::string label) {
        queues.push_back(std::make_shared<ThreadQueue>(std::move(label)));
        return queues.back();
    }

    bool make() {
        setenv("HOME", scratch.path().c_str(), 1);
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(1.5);
        const std::optional<int32_t> process = rig.koala.processIdentifier();
        if (!process) return false;
        feed = std::make_unique<KoalaPerformanceFeed>(clock);
        cameras = std::make_unique<SimCameras>(clock, queue("Sim camera"));
        cameras->add({{"0x8020000005ac8514", "FaceTime HD Camera", CameraKind::builtInWideAngle}, 1280, 720});
        screenCapture = std::make_unique<SimScreenCapture>(clock, rig.windows);
        screenCapture->addPainter(rig.koala);
        koalaSound = std::make_unique<ClickingKoala>(*process);
        audioTaps = std::make_unique<SimAudioTaps>(clock, queue("Sim audio tap"));
        audioTaps->addSound(*koalaSound);
        microphones = std::make_unique<SimMicrophones>(clock);
        audioOutputs = std::make_unique<SimAudioOutputs>(clock, queue("Sim audio output"));
        audioOutputs->add({1, "BuiltInSpeakerDevice", "MacBook Pro Speakers"});

        WebcamSettings settings;
        settings.tutorial = true;
        if (!settings.save(defaults)) return false;
        WebcamStudio::World world{clock,
                                  defaults,
                                  rig.workspace,
                                  rig.windows,
                                  rig.screens,
                                  rig.pointer,
                                  *cameras,
                                  *screenCapture,
                                  *audioTaps,
                                  *microphones,
                                  *audioOutputs,
                                  rig.mediaPermissions,
                                  movies,
                                  *feed,
                                  main,
                                  queue("Tandem webcam"),
                                  queue("Tandem webcam setup"),
                                  queue("Tandem camera"),
                                  queue("Tandem screen capture"),
                                  queue("Tandem audio input"),
                                  queue("Tandem webcam pads")};
        main->sync([&] {
            studio = WebcamStudio::make(world);
            studio->onPicture = [](const WebcamStudio::Picture&) {};
            studio->start();
        });
        return true;
    }

    ~RealTimeStudio() {
        if (studio) {
            main->sync([&] { studio->stop(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            main->sync([&] { studio.reset(); });
        }
        for (auto& q : queues)
            q->stop();
        main->stop();
    }
};

void sleepUntil(SystemClock& clock, double time) {
    const double left = time - clock.uptime();
    if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

void BM_RecordMinuteInRealTime(benchmark::State& state) {
    const char* asked = std::getenv("WEBCAM_RECORD_SECONDS");
    const double seconds = asked ? std::max(4.0, std::atof(asked)) : 60.0;
    for (auto _ : state) {
        // WEBCAM_RECORD_PRESET tries another libx264 preset than the shipped one.
        FfmpegMovieFiles::Options options;
        if (const char* preset = std::getenv("WEBCAM_RECORD_PRESET")) options.preset = preset;
        RealTimeStudio real(options);
        if (!real.make()) {
            state.SkipWithError("Koala did not start on the rig");
            break;
        }
        SystemClock& clock = real.clock;
        // Sources open and deliver before the take starts, as when the user presses record.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        if (!real.studio->hasCamera() || !real.studio->hasScreen() || !real.studio->hasTap()) {
            state.SkipWithError("a source did not open");
            break;
        }
        const double cpuBefore = cpuSeconds();
        const uint64_t composedBefore = real.studio->composed();
        Result<std::filesystem::path> file =
            real.main->syncValue([&] { return real.studio->startRecording(); });
        if (!file) {
            state.SkipWithError(("no recording: " + file.error().description).c_str());
            break;
        }
        const double start = clock.uptime();
        // Each event: the flash is asked for a little before its time and the click set a tenth of a
        // second after the flashed frame, so both are known before the sound reaches them. Three at each
        // end, half a second apart, so that the drift is not one tick's chance.
        struct Event {
            double flash = 0, click = 0;
        };
        std::vector<Event> events;
        for (double at : {1.0, 1.5, 2.0, seconds - 2, seconds - 1.5, seconds - 1}) {
            sleepUntil(clock, start + at - 0.04);
            const size_t before = real.cameras->flashes().size();
            real.cameras->flash();
            while (real.cameras->flashes().size() == before)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Event event;
            event.flash = real.cameras->flashes().back();
            event.click = event.flash + 0.1;
            real.koalaSound->clickAt(event.click);
            events.push_back(event);
        }
        sleepUntil(clock, start + seconds);
        std::promise<std::optional<std::filesystem::path>> saved;
        real.main->async([&] {
            real.studio->stopRecording(
                [&saved](std::optional<std::filesystem::path> written) { saved.set_value(written); });
        });
        const std::optional<std::filesystem::path> written = saved.get_future().get();
        const double wall = clock.uptime() - start;
        const double cpu = cpuSeconds() - cpuBefore;
        const uint64_t composed = real.studio->composed() - composedBefore;
        if (!written) {
            state.SkipWithError("the recording was not saved");
            break;
        }
        const std::optional<DecodedMovie> movie = decodeForEvents(*written);
        if (!movie) {
            state.SkipWithError("the movie could not be decoded");
            break;
        }
        // Each event's offset: how much later the flash is in the file than it should be beside the click
        // (positive: the picture is late). The file's time counts from its first frame, composed just
        // after start.
        std::vector<double> offsets;
        for (const Event& event : events) {
            if (const auto found = findEvent(*movie, event.flash - start))
                offsets.push_back((found->first - found->second) - (event.flash - event.click));
        }
        if (offsets.size() != events.size()) {
            state.SkipWithError("a flash or a click is missing from the movie");
            break;
        }
        const auto mean = [](auto from, auto to) {
            return std::accumulate(from, to, 0.0) / double(to - from);
        };
        const double early = mean(offsets.begin(), offsets.begin() + 3),
                     late = mean(offsets.end() - 3, offsets.end());
        double worst = 0;
        for (double offset : offsets)
            worst = std::max(worst, std::abs(offset));
        state.SetIterationTime(wall);
        const MovieCounts& counts = real.movies.counts;
        state.counters["composed"] = double(composed);
        state.counters["framesInFile"] = double(movie->brightness.size());
        state.counters["framesTaken"] = counts.framesTaken.load();
        state.counters["skippedBusy"] = counts.framesBusy.load();
        state.counters["soundTaken"] = counts.soundTaken.load();
        state.counters["soundBusy"] = counts.soundBusy.load();
        state.counters["cpuPercent"] = 100 * cpu / wall;
        state.counters["offsetAt1sMs"] = 1000 * offsets.front();
        state.counters["offsetAtEndMs"] = 1000 * offsets.back();
        state.counters["worstOffsetMs"] = 1000 * worst;
        state.counters["driftMs"] = 1000 * (late - early);
        state.SetLabel("preset " + options.preset);
    }
}
BENCHMARK(BM_RecordMinuteInRealTime)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksWithQt(argc, argv);
}
