// The recording rules above the movie: the first frame starts the timeline, frames that the file would
// not place later are dropped, sound waits for the first frame, a recording without frames leaves no
// file, finish completes once, and an existing file is never replaced.
#include "tandem/webcam/WebcamWriter.h"

#include "base/ScratchFolder.h"
#include "platform/sim/SimMovieFile.h"
#include "support/ScratchHome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tandem {
namespace {

// A 4 × 2 picture whose first pixel tells frames apart.
MovieFrame frame(uint32_t first, int width = 4, int height = 2) {
    auto pixels = std::make_shared<std::vector<uint32_t>>(size_t(width * height), 0xff000000u);
    (*pixels)[0] = first;
    return MovieFrame{width, height, width * 4, reinterpret_cast<const uint8_t*>(pixels->data()), pixels};
}

SampleBuffer sound(double time) {
    return SampleBuffer::makeFloat(48000, 2, 480, true, time);
}

struct Recording {
    testing::ScratchHome home;
    SimMovieFiles movies;
    std::filesystem::path path = home.path() / "Koala_Performance 2026-12-07 at 03.30.00 16x9.mp4";
    std::unique_ptr<WebcamWriter> writer;

    Recording() {
        auto made = WebcamWriter::make(movies, path, 4, 2);
        EXPECT_TRUE(made.ok());
        if (made) writer = std::move(made).value();
    }
    SimMovieFile& movie() { return *movies.last(); }
    std::vector<double> times() {
        std::vector<double> result;
        for (const auto& written : movie().frames())
            result.push_back(written.time);
        return result;
    }
    // finish's answer, which the simulated movie gives before finish returns.
    std::optional<bool> finish() {
        std::optional<bool> answer;
        writer->finish([&](bool written) { answer = written; });
        return answer;
    }
};

TEST(WebcamWriter, TheFirstFrameStartsTheTimelineAndLaterOnesMustBePlacedLater) {
    Recording recording;
    ASSERT_TRUE(recording.writer);
    EXPECT_EQ(recording.movie().settings(), MovieSettings::recording(4, 2));
    EXPECT_FALSE(recording.writer->started());
    EXPECT_FALSE(recording.writer->appendVideo(frame(1), std::nan("")));

    const double start = 5000.25;
    EXPECT_TRUE(recording.writer->appendVideo(frame(1), start));
    EXPECT_TRUE(recording.writer->started());
    EXPECT_EQ(recording.movie().sessionStart(), start);

    EXPECT_FALSE(recording.writer->appendVideo(frame(2), start));        // the same time
    EXPECT_FALSE(recording.writer->appendVideo(frame(3), start - 0.01)); // earlier
    // Later in host time, but the same 1/90000 s tick in the file.
    EXPECT_FALSE(recording.writer->appendVideo(frame(4), start + 0.4 / 90000));
    EXPECT_TRUE(recording.writer->appendVideo(frame(5), start + 1.0 / 90000));
    EXPECT_EQ(recording.times(), (std::vector<double>{start, start + 1.0 / 90000}));
}

TEST(WebcamWriter, TicksCountFromTheSessionsStart) {
    // A start 0.3 tick past a whole host tick: a frame 0.25 tick later rounds to the next tick of host
    // time, yet to the same tick of the file as the first frame.
    Recording recording;
    const double start = 10 + 0.3 / 90000;
    const double next = start + 0.25 / 90000;
    ASSERT_GT(MovieFile::ticks(next), MovieFile::ticks(start));
    ASSERT_TRUE(recording.writer->appendVideo(frame(1), start));
    EXPECT_FALSE(recording.writer->appendVideo(frame(2), next));
    EXPECT_TRUE(recording.writer->appendVideo(frame(3), start + 0.6 / 90000));
    EXPECT_EQ(recording.times(), (std::vector<double>{start, start + 0.6 / 90000}));
}

TEST(WebcamWriter, AFrameTheMovieWasNotReadyForIsNotTheLastOne) {
    Recording recording;
    ASSERT_TRUE(recording.writer->appendVideo(frame(1), 10.0));
    recording.movie().setVideoReady(false);
    EXPECT_FALSE(recording.writer->appendVideo(frame(2), 10.1));
    recording.movie().setVideoReady(true);
    EXPECT_TRUE(recording.writer->appendVideo(frame(3), 10.1));
    // A frame of another size is not taken either, and does not block the next one.
    EXPECT_FALSE(recording.writer->appendVideo(frame(4, 6, 2), 10.2));
    EXPECT_TRUE(recording.writer->appendVideo(frame(5), 10.2));
    EXPECT_EQ(recording.times(), (std::vector<double>{10.0, 10.1, 10.2}));
}

TEST(WebcamWriter, NoSoundIsWrittenBeforeTheFirstFrameNorAfterFinish) {
    Recording recording;
    EXPECT_FALSE(recording.writer->appendAudio(sound(9.9)));

    ASSERT_TRUE(recording.writer->appendVideo(frame(1), 10.0));
    EXPECT_TRUE(recording.writer->appendAudio(sound(10.0)));
    recording.movie().setAudioReady(false);
    EXPECT_FALSE(recording.writer->appendAudio(sound(10.01)));
    recording.movie().setAudioReady(true);
    EXPECT_TRUE(recording.writer->appendAudio(sound(10.02)));
    ASSERT_EQ(recording.movie().audio().size(), 2u);

    EXPECT_EQ(recording.finish(), true);
    EXPECT_FALSE(recording.writer->appendAudio(sound(10.04)));
    EXPECT_FALSE(recording.writer->appendVideo(frame(2), 10.1));
    EXPECT_EQ(recording.movie().audio().size(), 2u);
}

TEST(WebcamWriter, FinishEndsAtTheLastFrameAndASecondFinishIsFalse) {
    Recording recording;
    ASSERT_TRUE(recording.writer->appendVideo(frame(1), 10.0));
    ASSERT_TRUE(recording.writer->appendVideo(frame(2), 10.5));
    EXPECT_EQ(recording.finish(), true);
    EXPECT_EQ(recording.movie().sessionEnd(), 10.5);

    EXPECT_EQ(recording.finish(), false);
    EXPECT_EQ(recording.movie().finishCalls(), 1);
}

TEST(WebcamWriter, NoFileIsLeftWithoutAFrameAfterAFailureOrWhenDropped) {
    Recording empty;
    EXPECT_TRUE(std::filesystem::exists(empty.path)); // the name is held while recording
    EXPECT_EQ(empty.finish(), false);
    EXPECT_TRUE(empty.movie().cancelled());
    EXPECT_FALSE(std::filesystem::exists(empty.path));

    Recording failing;
    ASSERT_TRUE(failing.writer->appendVideo(frame(1), 10.0));
    failing.movie().fail(Error{"Tandem.MovieFile", 28, "Can't write it: No space left on device"});
    EXPECT_FALSE(failing.writer->appendVideo(frame(2), 10.1));
    EXPECT_EQ(failing.finish(), false);
    EXPECT_FALSE(std::filesystem::exists(failing.path));

    Recording dropped;
    ASSERT_TRUE(dropped.writer->appendVideo(frame(1), 10.0));
    dropped.writer.reset();
    EXPECT_TRUE(dropped.movies.last()->cancelled());
    EXPECT_FALSE(std::filesystem::exists(dropped.path));
}

TEST(WebcamWriter, AnExistingFileIsKept) {
    testing::ScratchHome home;
    SimMovieFiles movies;
    // Two recordings started within the same second get the same name.
    const auto path = home.path() / "Koala_Performance 2026-12-07 at 03.30.00 16x9.mp4";
    testing::ScratchHome::write(path, "the first take");

    auto second = WebcamWriter::make(movies, path, 1920, 1080);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error(),
              (Error{"Tandem.Webcam", 1, "Can't write Koala_Performance 2026-12-07 at 03.30.00 16x9.mp4"}));
    EXPECT_EQ(testing::ScratchHome::read(path), "the first take");

    // Any other failure is the movie's own.
    const Error full{"Tandem.MovieFile", 28, "Can't write it: No space left on device"};
    movies.failNextCreate(full);
    auto failed = WebcamWriter::make(movies, home.path() / "other.mp4", 1920, 1080);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), full);
}

} // namespace
} // namespace tandem
