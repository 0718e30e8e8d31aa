// Sample files turned into peak envelopes: every bucket checked against a frame-by-frame model of the
// file, every way the file can change or break under the reader, and the mapping onto a pad.
#include "tandem/audio/KoalaWaveform.h"

#include "platform/sim/SimKoalaSample.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <limits>
#include <numbers>
#include <thread>

namespace tandem {
namespace {

using testing::ScratchHome;
using Shape = SimKoalaSample;
using Encoding = SimKoalaSample::Encoding;
namespace fs = std::filesystem;

constexpr size_t buckets = KoalaWaveformAudio::bucketCount;

// What a sample reads back as after its encoding: integers are full scale at 2^(bits-1) and clip one
// code below it.
double quantised(double v, Encoding encoding) {
    auto integer = [v](double scale) {
        const double code = std::clamp(std::nearbyint(v * scale), -scale, scale - 1);
        return code / scale;
    };
    switch (encoding) {
    case Encoding::pcm16:
    case Encoding::flac16:
        return integer(32768.0);
    case Encoding::pcm24:
        return integer(8388608.0);
    case Encoding::pcm32:
        return float(integer(2147483648.0));
    case Encoding::float32:
        return float(v);
    }
    return v;
}

double tolerance(Encoding encoding) {
    return encoding == Encoding::pcm16 || encoding == Encoding::flac16 ? 1e-4 : 1e-6;
}

// The envelope by its definition, one frame at a time with integer bucket arithmetic: frame f belongs
// to bucket f × 960 ÷ frames, the bucket keeps the loudest channel capped at 1, then the largest bucket
// scales to 1.
std::vector<double> modelPeaks(const Shape& shape) {
    std::vector<double> peaks(buckets, 0.0);
    for (int64_t f = 0; f < shape.frames; ++f) {
        const size_t b = std::min<size_t>(size_t(f * int64_t(buckets) / shape.frames), buckets - 1);
        for (int c = 0; c < shape.channels; ++c) {
            const double v = std::min(std::fabs(quantised(shape.value(f, c), shape.encoding)), 1.0);
            peaks[b] = std::max(peaks[b], v);
        }
    }
    const double largest = *std::max_element(peaks.begin(), peaks.end());
    if (largest > 0) {
        for (double& p : peaks)
            p /= largest;
    }
    return peaks;
}

void expectPeaks(const std::vector<float>& actual, const std::vector<double>& expected, double within) {
    ASSERT_EQ(actual.size(), expected.size());
    int wrong = 0;
    for (size_t b = 0; b < actual.size() && wrong < 5; ++b) {
        if (std::fabs(actual[b] - expected[b]) > within) {
            ADD_FAILURE() << "bucket " << b << ": " << actual[b] << ", expected " << expected[b];
            ++wrong;
        }
    }
}

void setModified(const fs::path& file, int64_t seconds) {
    timespec times[2];
    times[0] = {time_t(seconds), 0};
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// The local disk, with a hook on every attribute query: the reader's signature checks are the moments
// a test changes the file under it.
class WatchedDisk final : public FileSystem {
public:
    std::function<void(int call)> onAttributes;
    int attributeCalls = 0;

    Result<std::string> readFile(const fs::path& path) override { return disk.readFile(path); }
    Result<void> readTail(const fs::path& path, size_t maxBytes, std::string& bytes) override {
        return disk.readTail(path, maxBytes, bytes);
    }
    bool exists(const fs::path& path) override { return disk.exists(path); }
    bool isDirectory(const fs::path& path) override { return disk.isDirectory(path); }
    Result<void> createDirectories(const fs::path& path) override { return disk.createDirectories(path); }
    Result<void> writeFile(const fs::path& path, std::string_view bytes) override {
        return disk.writeFile(path, bytes);
    }
    Result<void> rename(const fs::path& from, const fs::path& to) override { return disk.rename(from, to); }
    Result<void> remove(const fs::path& path) override { return disk.remove(path); }
    Result<void> removeAll(const fs::path& path) override { return disk.removeAll(path); }
    std::vector<std::string> list(const fs::path& folder) override { return disk.list(folder); }
    Result<fs::path> resolveLinks(const fs::path& path) override { return disk.resolveLinks(path); }
    std::optional<uint32_t> permissions(const fs::path& path) override { return disk.permissions(path); }
    Result<void> setPermissions(const fs::path& path, uint32_t mode) override {
        return disk.setPermissions(path, mode);
    }
    Result<void> syncFolder(const fs::path& folder) override { return disk.syncFolder(folder); }
    std::optional<FileAttributes> attributes(const fs::path& path) override {
        ++attributeCalls;
        if (onAttributes) onAttributes(attributeCalls);
        return disk.attributes(path);
    }

private:
    FileSystem& disk = FileSystem::local();
};

// Runs a read that must end however broken the file is; a hang ends the whole test program rather than
// leaving CTest to time it out.
std::optional<KoalaWaveformAudio> readEnding(const KoalaAudioSignature& signature) {
    auto token = std::make_shared<KoalaWaveformReadToken>();
    std::packaged_task<std::optional<KoalaWaveformAudio>()> task(
        [signature, token] { return KoalaWaveformReader::read(signature, *token); });
    auto result = task.get_future();
    std::thread(std::move(task)).detach();
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "reading %s did not end\n", signature.path.c_str());
        std::abort();
    }
    return result.get();
}

class KoalaWaveformRead : public ::testing::Test {
protected:
    ScratchHome home;
    fs::path folder = home.path() / "samples";

    KoalaWaveformRead() { fs::create_directories(folder); }

    fs::path write(const std::string& name, const Shape& shape) {
        const fs::path file = folder / name;
        auto written = shape.write(file);
        EXPECT_TRUE(written.ok()) << (written.ok() ? "" : written.error().description);
        return file;
    }
    static KoalaAudioSignature signatureOf(const fs::path& file) {
        auto signature = KoalaAudioSignature::of(file);
        EXPECT_TRUE(signature) << file;
        return signature.value_or(KoalaAudioSignature{file.string()});
    }
    static std::optional<KoalaWaveformAudio> read(const fs::path& file) {
        KoalaWaveformReadToken token;
        return KoalaWaveformReader::read(signatureOf(file), token);
    }
};

TEST_F(KoalaWaveformRead, LengthComesFromTheHeaderAlone) {
    EXPECT_EQ(KoalaWaveformReader::length(write("short.wav", Shape::ramp(1234).stereo())), 1234);
    // A compressed file cut short still says how long it was meant to be: only its header is read.
    const fs::path flac = write("whole.flac", Shape::sine(300, 100000).as(Encoding::flac16));
    const std::string bytes = ScratchHome::read(flac);
    ScratchHome::write(folder / "cut.flac", bytes.substr(0, bytes.size() / 2));
    EXPECT_EQ(KoalaWaveformReader::length(folder / "cut.flac"), 100000);
    // Nothing for no frames, no file, or no audio.
    EXPECT_FALSE(KoalaWaveformReader::length(write("empty.wav", Shape::silence(0))));
    EXPECT_FALSE(KoalaWaveformReader::length(folder / "missing.wav"));
    ScratchHome::write(folder / "words.wav", "not a sample");
    EXPECT_FALSE(KoalaWaveformReader::length(folder / "words.wav"));
}

TEST(KoalaPeakEnvelope, PeakIsTheLargestMagnitudeOfAnyLength) {
    // The loudest sample at each position in turn, negative: every lane and the tail count.
    for (size_t count : {0u, 1u, 7u, 17u, 33u, 65u}) {
        for (size_t at = 0; at < count; ++at) {
            std::vector<float> quiet(count, 0.125f);
            quiet[at] = -0.75f;
            ASSERT_EQ(KoalaPeakEnvelope::peak(quiet.data(), count), 0.75f) << count << " at " << at;
        }
    }
    EXPECT_EQ(KoalaPeakEnvelope::peak(nullptr, 0), 0.0f);
    // NaN never wins and never hides what came before or after it.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (size_t at = 0; at < 64; ++at) {
        std::vector<float> values(200, 0.1f);
        values[at] = -0.9f;
        for (size_t after = at + 8; after < 200; after += 8)
            values[after] = nan;
        ASSERT_EQ(KoalaPeakEnvelope::peak(values.data(), values.size()), 0.9f) << "at " << at;
    }
}

TEST(KoalaPeakEnvelope, BucketsKeepTheLoudestChannelCappedWhateverTheBlocks) {
    // Stereo, 9600 frames (ten per bucket): left 0.5 and right 0.25 in bucket 3, right 0.75 in bucket
    // 4, 2.5 (capped) in bucket 7.
    const size_t frames = 9600;
    std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
    for (size_t i = 30; i < 40; ++i) {
        left[i] = i % 2 ? 0.5f : -0.2f;
        right[i] = -0.25f;
    }
    right[45] = 0.75f;
    left[72] = -2.5f;
    std::vector<float> expected(buckets, 0.0f);
    expected[3] = 0.5f;
    expected[4] = 0.75f;
    expected[7] = 1.0f;

    std::vector<float> interleaved;
    for (size_t i = 0; i < frames; ++i)
        interleaved.insert(interleaved.end(), {left[i], right[i]});
    for (size_t block : {size_t(frames), size_t(1), size_t(7)}) {
        SCOPED_TRACE(block);
        KoalaPeakEnvelope envelope{double(frames)};
        for (size_t at = 0; at < frames; at += block) {
            const size_t count = std::min(block, frames - at);
            envelope.add(interleaved.data() + 2 * at, 2, int64_t(at), count);
        }
        EXPECT_EQ(envelope.peaks(), expected);
    }
}

TEST_F(KoalaWaveformRead, EnvelopeMatchesTheFileFrameByFrame) {
    struct Case {
        const char* name;
        Shape shape;
    };
    const Case cases[] = {
        {"silent first half, then full scale", Shape::silentThenFull(96000)},
        {"a 24-bit ramp over four chunks", Shape::ramp(100003).as(Encoding::pcm24).at(48000)},
        {"a stereo sine at 441 Hz, louder on the right",
         Shape::sine(441, 44101).stereo().withLevels({0.3, 0.8})},
        {"three channels, each loudest in turn",
         Shape::made(50000,
                     [](int64_t f, int c) {
                         return (0.3 + 0.2 * c) * std::sin(2 * std::numbers::pi * (c + 1) * f / 20000.0 + c);
                     })
             .withChannels(3)
             .as(Encoding::float32)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = write("sample.wav", c.shape);
        const auto signature = signatureOf(file);
        KoalaWaveformReadToken token;
        auto audio = KoalaWaveformReader::read(signature, token);
        ASSERT_TRUE(audio);
        EXPECT_EQ(audio->signature, signature);
        EXPECT_EQ(audio->frames, double(c.shape.frames));
        EXPECT_EQ(audio->sampleRate, double(c.shape.sampleRate));
        expectPeaks(audio->peaks, modelPeaks(c.shape), tolerance(c.shape.encoding));
        EXPECT_EQ(*std::max_element(audio->peaks.begin(), audio->peaks.end()), 1.0f);
    }
}

TEST_F(KoalaWaveformRead, SilenceAndShortFilesLeaveBucketsAtZero) {
    auto silent = read(write("silent.wav", Shape::silence(44100)));
    ASSERT_TRUE(silent);
    EXPECT_EQ(silent->peaks, std::vector<float>(buckets, 0.0f));

    // 100 frames at a constant level: exactly the 100 buckets its frames fall in, at 1 after scaling.
    auto tiny = read(write("tiny.wav", Shape::constant(-0.5, 100)));
    ASSERT_TRUE(tiny);
    std::vector<float> expected(buckets, 0.0f);
    for (int f = 0; f < 100; ++f)
        expected[size_t(f * 960 / 100)] = 1.0f;
    EXPECT_EQ(tiny->peaks, expected);
}

TEST_F(KoalaWaveformRead, StoppedTokenGivesNothing) {
    const fs::path file = write("valid.wav", Shape::ramp(80000));
    const auto signature = signatureOf(file);

    // Stopped before the read: it does not even look at the file.
    KoalaWaveformReadToken stopped;
    stopped.stop();
    WatchedDisk untouched;
    EXPECT_FALSE(KoalaWaveformReader::read(signature, stopped, untouched));
    EXPECT_EQ(untouched.attributeCalls, 0);

    // Stopped after the first look at the file, before any chunk is decoded.
    KoalaWaveformReadToken token;
    WatchedDisk disk;
    disk.onAttributes = [&token](int call) {
        if (call == 1) token.stop();
    };
    EXPECT_FALSE(KoalaWaveformReader::read(signature, token, disk));
    EXPECT_EQ(disk.attributeCalls, 1); // it gave up at once, before looking again (a read looks twice)
}

TEST_F(KoalaWaveformRead, FileChangedBeforeTheReadGivesNothing) {
    const Shape original = Shape::ramp(44100);
    struct Case {
        const char* name;
        std::function<void(const fs::path& file)> change;
        Shape now;
    };
    const Case cases[] = {
        {"rewritten in place, same size, a second later",
         [](const fs::path& file) {
             ASSERT_TRUE(Shape::silentThenFull(44100).write(file).ok());
             setModified(file, 1'000'000'001);
         },
         Shape::silentThenFull(44100)},
        {"replaced by a copy of itself",
         [](const fs::path& file) {
             const fs::path copy = file.parent_path() / "copy.wav";
             fs::copy_file(file, copy);
             setModified(copy, 1'000'000'000);
             fs::rename(copy, file);
         },
         original},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = write("changing.wav", original);
        setModified(file, 1'000'000'000);
        const auto before = signatureOf(file);
        c.change(file);
        KoalaWaveformReadToken token;
        EXPECT_FALSE(KoalaWaveformReader::read(before, token));
        // The file as it is now reads under its own signature.
        auto now = read(file);
        ASSERT_TRUE(now);
        EXPECT_NE(now->signature, before);
        expectPeaks(now->peaks, modelPeaks(c.now), 1e-4);
        fs::remove(file);
    }

    // Gone: the old signature gives nothing, and so does one made up for a file never there.
    const fs::path gone = write("gone.wav", original);
    const auto signature = signatureOf(gone);
    fs::remove(gone);
    KoalaWaveformReadToken token;
    EXPECT_FALSE(KoalaWaveformReader::read(signature, token));
    EXPECT_FALSE(KoalaWaveformReader::read({(folder / "never.wav").string(), 0, 0, 0}, token));
}

TEST_F(KoalaWaveformRead, FileChangedDuringTheReadGivesNothing) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& file)> change;
    };
    const Case cases[] = {
        {"rewritten, same size, with a later date",
         [](const fs::path& file) {
             ASSERT_TRUE(Shape::sine(100, 70000).write(file).ok());
             setModified(file, 1'000'000'005);
         }},
        {"removed", [](const fs::path& file) { fs::remove(file); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = write("moving.wav", Shape::ramp(70000));
        setModified(file, 1'000'000'000);
        const auto signature = signatureOf(file);
        WatchedDisk disk;
        // The first look comes before the file is opened; the second after its last chunk.
        disk.onAttributes = [&](int call) {
            if (call == 2) c.change(file);
        };
        KoalaWaveformReadToken token;
        EXPECT_FALSE(KoalaWaveformReader::read(signature, token, disk));
        EXPECT_EQ(disk.attributeCalls, 2);
    }

    // Left alone, the same file reads.
    const fs::path file = write("moving.wav", Shape::ramp(70000));
    WatchedDisk disk;
    KoalaWaveformReadToken token;
    EXPECT_TRUE(KoalaWaveformReader::read(signatureOf(file), token, disk));
}

TEST_F(KoalaWaveformRead, DamagedFilesDecodeWhatIsThereOrFailButAlwaysEnd) {
    const Shape ramp = Shape::ramp(100000).stereo().as(Encoding::float32);
    const fs::path whole = write("whole.wav", ramp);
    const std::string bytes = ScratchHome::read(whole);
    const size_t dataBytes = size_t(ramp.frames) * 2 * 4;
    ASSERT_GT(bytes.size(), dataBytes);
    const size_t header = bytes.find("data") + 8;
    ASSERT_LT(header, bytes.size());

    struct Case {
        const char* name;
        size_t keep;           // bytes of the file kept
        int64_t presentFrames; // whole frames left after the cut
    };
    const Case cases[] = {
        {"cut in half", header + dataBytes / 2, ramp.frames / 2},
        {"only the header left", header, 0},
        {"cut inside the header", header / 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path cut = folder / "cut.wav";
        ScratchHome::write(cut, bytes.substr(0, c.keep));
        auto audio = readEnding(signatureOf(cut));
        if (!audio) continue; // failing is allowed; inventing frames is not
        ASSERT_GT(c.presentFrames, 0);
        EXPECT_EQ(audio->frames, double(c.presentFrames));
        Shape present = ramp;
        present.frames = c.presentFrames;
        present.custom = [ramp](int64_t f, int ch) { return ramp.value(f, ch); };
        present.wave = Shape::Wave::custom;
        expectPeaks(audio->peaks, modelPeaks(present), 1e-6);
    }

    // A compressed file cut short still promises all its frames; decoding runs dry after the first
    // chunk. Counting the rest as silence would draw a wave that is not there.
    const Shape noisy = Shape::made(100000, [](int64_t f, int) {
                            return ((f * 7919) % 2001) / 2000.0 - 0.5;
                        }).as(Encoding::flac16);
    const std::string flac = ScratchHome::read(write("whole.flac", noisy));
    auto uncut = readEnding(signatureOf(folder / "whole.flac"));
    ASSERT_TRUE(uncut);
    expectPeaks(uncut->peaks, modelPeaks(noisy), 1e-4);
    ScratchHome::write(folder / "cut.flac", flac.substr(0, flac.size() / 2));
    EXPECT_FALSE(readEnding(signatureOf(folder / "cut.flac")));

    const fs::path empty = folder / "empty.wav";
    ScratchHome::write(empty, "");
    EXPECT_FALSE(readEnding(signatureOf(empty)));
    // A valid file of no frames.
    EXPECT_FALSE(readEnding(signatureOf(write("none.wav", Shape::silence(0)))));
}

// A named pipe carrying a WAV header that promises a million frames, then 1000 frames: nothing tells
// the decoder the length is wrong until the data stops coming.
class PromisingStream {
public:
    PromisingStream(const fs::path& folder, const Shape& shape, int64_t framesSent)
        : fifo(folder / "stream.wav") {
        const fs::path full = folder / "full.wav";
        EXPECT_TRUE(shape.write(full).ok());
        const std::string bytes = ScratchHome::read(full);
        const size_t header = bytes.find("data") + 8;
        sent = bytes.substr(0, header + size_t(framesSent) * 2);
        fs::remove(full);
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        // A reader that goes away leaves the writer's writes failing, not the test program killed.
        ::signal(SIGPIPE, SIG_IGN);
    }
    ~PromisingStream() {
        finish();
        fs::remove(fifo);
    }

    // The writer opens the pipe (once a reader does), sends everything and closes it.
    void start() {
        writer = std::thread([this] {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) return;
            for (size_t at = 0; at < sent.size();) {
                const ssize_t n = ::write(fd, sent.data() + at, sent.size() - at);
                if (n <= 0) break;
                at += size_t(n);
            }
            ::close(fd);
        });
    }
    void finish() {
        if (!writer.joinable()) return;
        // A writer still waiting for a reader is let go by one that opens and leaves.
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        writer.join();
        if (fd >= 0) ::close(fd);
    }

    fs::path fifo;

private:
    std::string sent;
    std::thread writer;
};

TEST_F(KoalaWaveformRead, AStreamThatStopsShortEndsTheRead) {
    // The data ends after 1000 frames: the reader must give up, not wait for ever on frames that never
    // come.
    PromisingStream stream(folder, Shape::ramp(1'000'000), 1000);
    const auto signature = signatureOf(stream.fifo);
    stream.start();
    EXPECT_FALSE(readEnding(signature));
}

TEST(KoalaWave, MapsTheTrimAndSlicesOntoTheWholeFile) {
    KoalaWaveformAudio audio;
    audio.frames = 88200;
    audio.sampleRate = 44100;
    audio.peaks.assign(buckets, 0.0f);
    audio.peaks[3] = 0.5f;

    KoalaSession::Pad pad;
    pad.start = 22050;
    pad.end = 66150;
    pad.slices = {0, 8820, 44100};
    KoalaWave shown = wave(audio, pad);
    EXPECT_EQ(shown.peaks, audio.peaks);
    EXPECT_EQ(shown.slices, (std::vector<double>{0, 0.1, 0.5}));
    EXPECT_DOUBLE_EQ(shown.start, 0.25);
    EXPECT_DOUBLE_EQ(shown.end, 0.75);
    EXPECT_DOUBLE_EQ(shown.duration, 2.0);
    EXPECT_EQ(shown.frames, 88200);

    // No end is the file's end; a trim beyond the file is not brought back into it.
    EXPECT_DOUBLE_EQ(wave(audio, KoalaSession::Pad{}).end, 1.0);
    KoalaSession::Pad trimmed;
    trimmed.start = 132300;
    trimmed.end = 176400;
    EXPECT_DOUBLE_EQ(wave(audio, trimmed).start, 1.5);
    EXPECT_DOUBLE_EQ(wave(audio, trimmed).end, 1.0);
    EXPECT_TRUE(wave(audio, trimmed).slices.empty());
}

} // namespace
} // namespace tandem
