// Real movies from FFmpeg, small, decoded back with libavformat and libavcodec: H.264 High with BT.709
// colours, AAC at 48 kHz in stereo, the index before the media, key frames at most 60 frames apart,
// frames at the times they were given, and sound placed by its time stamps, trimmed to the session.
#include "platform/linux/FfmpegMovieFile.h"

#include "base/ScratchFolder.h"
#include "base/ThreadQueue.h"
#include "support/MovieDecoder.h"
#include "support/ScratchHome.h"

extern "C" {
#include <libavutil/log.h>
}

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <future>
#include <numbers>
#include <vector>

namespace tandem {
namespace {

constexpr int width = 160;
constexpr int height = 96;

// Left half pure red; right half a pattern that moves, so the encoder has something to do.
MovieFrame picture(int index) {
    auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(width * height * 4));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = pixels->data() + (y * width + x) * 4;
            if (x < width / 2) {
                p[0] = 0, p[1] = 0, p[2] = 255; // B, G, R
            } else {
                const int v = (x * 3 + y * 5 + index * 7) & 0xff;
                p[0] = uint8_t(v), p[1] = uint8_t(255 - v), p[2] = uint8_t(v / 2);
            }
            p[3] = 255;
        }
    }
    return MovieFrame{width, height, width * 4, pixels->data(), pixels};
}

// 10 ms of stereo: a 1 kHz burst where [burstStart, burstStart + 0.01) overlaps it, silence elsewhere.
SampleBuffer tenMilliseconds(double time, double sessionStart, const std::vector<double>& bursts) {
    SampleBuffer buffer = SampleBuffer::makeFloat(48000, 2, 480, true, time);
    for (size_t f = 0; f < buffer.frames; ++f) {
        const double t = time - sessionStart + double(f) / 48000;
        for (double burst : bursts) {
            if (t >= burst && t < burst + 0.01) {
                const float s = float(0.5 * std::sin(2 * std::numbers::pi * 1000 * (t - burst)));
                buffer.floatAt(f, 0) = s;
                buffer.floatAt(f, 1) = -s;
            }
        }
    }
    return buffer;
}

// The movie decoded back, with the luma in the middle of the red half of each picture.
struct Decoded : testing::DecodedMovie {
    std::vector<int> redLuma;
};

Decoded decode(const std::filesystem::path& path) {
    Decoded result;
    static_cast<testing::DecodedMovie&>(result) =
        testing::decodeMovie(path, [&](const AVFrame& frame, double) {
            result.redLuma.push_back(frame.data[0][height / 2 * frame.linesize[0] + width / 4]);
        });
    EXPECT_TRUE(result.opened) << path;
    return result;
}

// The energy-weighted middle of the sound in [from, to) seconds.
double centre(const Decoded& movie, double from, double to) {
    double weighted = 0, total = 0;
    for (size_t i = size_t(std::max(0.0, from * 48000)); i < size_t(to * 48000) && i < movie.left.size();
         ++i) {
        const double energy = double(movie.left[i]) * movie.left[i];
        weighted += energy * (movie.audioFirstPts + double(i) / 48000);
        total += energy;
    }
    return total > 0 ? weighted / total : -1;
}

double rms(const Decoded& movie, double from, double to) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = size_t(from * 48000); i < size_t(to * 48000) && i < movie.left.size(); ++i, ++count)
        sum += double(movie.left[i]) * movie.left[i];
    return count ? std::sqrt(sum / double(count)) : -1;
}

bool finishAndWait(MovieFile& movie) {
    std::promise<bool> written;
    auto answer = written.get_future();
    movie.finish([&written](bool ok) { written.set_value(ok); });
    return answer.get();
}

class FfmpegMovie : public ::testing::Test {
protected:
    void SetUp() override { av_log_set_level(AV_LOG_ERROR); }
    ScratchFolder folder{"tandem-movie"};
    // One encoder queue the test can wait on instead of sleeping.
    std::shared_ptr<ThreadQueue> encoder = std::make_shared<ThreadQueue>("Tandem movie encoder");
    FfmpegMovieFiles movies{options([this] { return encoder; })};
    // The shipped settings (preset, queue lengths), with the test's encoder queue.
    static FfmpegMovieFiles::Options options(std::function<std::shared_ptr<Queue>()> queue) {
        FfmpegMovieFiles::Options shipped;
        shipped.encoder = std::move(queue);
        return shipped;
    }
    MovieSettings settings = MovieSettings::recording(width, height);
};

TEST_F(FfmpegMovie, ARecordingDecodesBackAsWritten) {
    const auto path = folder.path() / "take.mp4";
    auto made = movies.create(path, settings);
    ASSERT_TRUE(made.ok()) << made.error().description;
    MovieFile& movie = **made;

    // 150 frames at about 30 per second with jitter, as composition delivers them; sound in 10 ms
    // buffers from before the session to past its end, with a lost stretch and a repeated buffer.
    const double start = 7200.123;
    std::vector<double> times;
    for (int i = 0; i < 150; ++i)
        times.push_back(start + i / 30.0 + (i % 3 == 1 ? 0.004 : 0) - (i % 5 == 2 ? 0.003 : 0));
    const std::vector<double> bursts = {1.0, 3.0};
    movie.startSession(start);
    size_t nextFrame = 0;
    for (double t = start - 0.3; t < times.back() + 0.5; t += 0.01) {
        while (nextFrame < times.size() && times[nextFrame] <= t) {
            if (!movie.videoReady()) encoder->sync([] {});
            ASSERT_TRUE(movie.appendVideo(picture(int(nextFrame)), times[nextFrame]));
            ++nextFrame;
        }
        if (nextFrame == times.size()) movie.endSession(times.back());
        const double offset = t - start;
        if (offset > 2.0 && offset < 2.2) continue; // lost: silence in the file
        if (!movie.audioReady()) encoder->sync([] {});
        const bool taken = movie.appendAudio(tenMilliseconds(t, start, bursts));
        EXPECT_EQ(taken, nextFrame < times.size()) << offset;
        if (offset > 2.5 && offset < 2.52) {
            ASSERT_TRUE(movie.appendAudio(tenMilliseconds(t, start, bursts)));
        }
    }
    ASSERT_TRUE(finishAndWait(movie));
    EXPECT_EQ(movie.error(), std::nullopt);

    // The index's box before the media's: a header comes before anything inside its box.
    const std::string bytes = testing::ScratchHome::read(path);
    ASSERT_NE(bytes.find("mdat"), std::string::npos);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "the index must come first";

    const Decoded decoded = decode(path);
    EXPECT_EQ(decoded.videoCodec, AV_CODEC_ID_H264);
    EXPECT_EQ(decoded.videoProfile, FF_PROFILE_H264_HIGH);
    EXPECT_EQ(decoded.primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(decoded.audioCodec, AV_CODEC_ID_AAC);
    EXPECT_EQ(decoded.sampleRate, 48000);

    // Key frames: the first, then never more than 60 frames apart.
    ASSERT_EQ(decoded.keyFrames.size(), times.size());
    ASSERT_TRUE(decoded.keyFrames.front());
    int sinceKey = 0;
    for (bool key : decoded.keyFrames) {
        sinceKey = key ? 0 : sinceKey + 1;
        EXPECT_LT(sinceKey, 60);
    }

    // Every frame, at its own time from the session's start.
    ASSERT_EQ(decoded.framePts.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_NEAR(decoded.framePts[i], times[i] - start, 1.0 / 90000) << i;
    // Pure red in video range with BT.709's weights: 16 + 219 × 0.2126 = 62.6 (BT.601 would give 81.5).
    for (int luma : decoded.redLuma)
        EXPECT_NEAR(luma, 63, 3);

    // Sound: from the session's start, ending by the picture's end, bursts where they were played
    // (the lost stretch and the repeated buffer move nothing), silence where it was lost.
    const double videoEnd = decoded.framePts.back();
    EXPECT_LE(decoded.audioEnd, videoEnd + 0.0005);
    EXPECT_NEAR(decoded.audioFirstPts, 0, 0.0005);
    for (double burst : bursts)
        EXPECT_NEAR(centre(decoded, burst - 0.1, burst + 0.1), burst + 0.005, 0.001) << burst;
    EXPECT_LT(rms(decoded, 2.05, 2.15), 0.001);
    EXPECT_GT(rms(decoded, 1.0, 1.01), 0.2);
}

TEST_F(FfmpegMovie, WhatAMovieRefuses) {
    const auto path = folder.path() / "refusals.mp4";
    auto made = movies.create(path, settings);
    ASSERT_TRUE(made.ok());
    MovieFile& movie = **made;
    movie.startSession(20.0);
    EXPECT_FALSE(movie.appendVideo(picture(0), 19.99)); // before the session
    EXPECT_FALSE(movie.appendAudio(SampleBuffer::makeFloat(0, 2, 441, true, 20.0)));
    SampleBuffer short_ = SampleBuffer::makeFloat(48000, 2, 480, true, 20.0);
    short_.floats.resize(100);
    EXPECT_FALSE(movie.appendAudio(short_));
    EXPECT_TRUE(movie.appendVideo(picture(0), 20.0));
    EXPECT_FALSE(movie.appendVideo(picture(1), 20.0));
    // Mono and 16-bit sound are taken.
    EXPECT_TRUE(movie.appendAudio(SampleBuffer::makeInt16(48000, 1, 480, false, 20.0)));
    EXPECT_TRUE(movie.appendVideo(picture(1), 20.04));
    ASSERT_TRUE(finishAndWait(movie));
    EXPECT_FALSE(movie.appendVideo(picture(2), 20.08));
    EXPECT_FALSE(finishAndWait(movie)) << "a second finish";
    movie.cancel(); // after finish: the finished file stays
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(FfmpegMovie, AnExistingFileIsNeverReplacedAndCancelRemovesTheFile) {
    const auto existing = folder.path() / "first take.mp4";
    testing::ScratchHome::write(existing, "the first take");
    auto refused = movies.create(existing, settings);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, EEXIST);
    EXPECT_EQ(testing::ScratchHome::read(existing), "the first take");

    auto missing = movies.create(folder.path() / "gone" / "take.mp4", settings);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);

    MovieSettings odd = settings;
    odd.width = width + 1;
    auto unsupported = movies.create(folder.path() / "odd.mp4", odd);
    ASSERT_FALSE(unsupported.ok());
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "odd.mp4"));

    const auto path = folder.path() / "cancelled.mp4";
    auto made = movies.create(path, settings);
    ASSERT_TRUE(made.ok());
    (*made)->startSession(1);
    EXPECT_TRUE((*made)->appendVideo(picture(0), 1));
    EXPECT_TRUE(std::filesystem::exists(path));
    (*made)->cancel();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(finishAndWait(**made));

    // A movie dropped without finish is no movie: its file goes with it.
    const auto dropped = folder.path() / "dropped.mp4";
    {
        auto abandoned = movies.create(dropped, settings);
        ASSERT_TRUE(abandoned.ok());
        (*abandoned)->startSession(1);
        EXPECT_TRUE((*abandoned)->appendVideo(picture(0), 1));
    }
    encoder->sync([] {}); // the movie goes when its last waiting frame has been encoded
    EXPECT_FALSE(std::filesystem::exists(dropped));
}

} // namespace
} // namespace tandem
