// A performance recorded from the application, end to end on the simulated Mac in virtual time: Koala
// played from the MPC Touch, Webcam… from the menu, Koala's STUTTER learned, ARM, a pad hit starting
// the recording, the STUTTER held, STOP; the movie written by FFmpeg is decoded back and probed.
#include "platform/linux/FfmpegMovieFile.h"
#include "support/AppRig.h"
#include "support/MovieDecoder.h"
#include "tandem/shell/entry/WebcamEntries.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>
#include <vector>

namespace tandem {
namespace {

using testing::AppRig;

// The movie as its decoder sees it, with every picture (BGRA) and its time in seconds.
struct Movie : testing::DecodedMovie {
    struct Frame {
        double time = 0;
        QImage picture;
    };
    std::vector<Frame> frames;

    // The picture shown at `time`: the last one starting at or before it.
    const QImage& at(double time) const {
        size_t shown = 0;
        for (size_t i = 0; i < frames.size() && frames[i].time <= time + 1e-6; ++i)
            shown = i;
        return frames[shown].picture;
    }
};

Movie decode(const std::filesystem::path& file) {
    Movie movie;
    SwsContext* scale = nullptr;
    static_cast<testing::DecodedMovie&>(movie) =
        testing::decodeMovie(file, [&](const AVFrame& frame, double time) {
            scale = sws_getCachedContext(scale, frame.width, frame.height, AVPixelFormat(frame.format),
                                         frame.width, frame.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                         nullptr, nullptr);
            QImage picture(frame.width, frame.height, QImage::Format_RGB32);
            uint8_t* planes[4] = {picture.bits(), nullptr, nullptr, nullptr};
            const int strides[4] = {int(picture.bytesPerLine()), 0, 0, 0};
            sws_scale(scale, frame.data, frame.linesize, 0, frame.height, planes, strides);
            movie.frames.push_back({time, std::move(picture)});
        });
    sws_freeContext(scale);
    return movie;
}

// The simulated camera's frame number, read from its bit strip across the top of a full-frame camera
// shown mirrored (bit 0 rightmost); nothing where the strip is neither black nor white.
std::optional<uint64_t> cameraFrame(const QImage& picture) {
    constexpr int bits = 32;
    uint64_t number = 0;
    for (int bit = 0; bit < bits; ++bit) {
        const int x = picture.width() - 1 - (2 * bit + 1) * picture.width() / (2 * bits);
        const QRgb pixel = picture.pixel(x, 8);
        const int level = qRed(pixel) + qGreen(pixel) + qBlue(pixel);
        if (level > 3 * 200)
            number |= uint64_t(1) << bit;
        else if (level > 3 * 55)
            return std::nullopt;
    }
    return number;
}

struct WebcamRecording : ::testing::Test {
    AppRig r;
    FfmpegMovieFiles movies{[this] {
        // Encoding on the rig's timeline keeps every frame however fast virtual time runs.
        FfmpegMovieFiles::Options options;
        options.encoder = [this] { return r.rig.makeQueue("Tandem movie encoder"); };
        return options;
    }()};
    std::vector<std::filesystem::path> revealed;
    std::unique_ptr<WebcamEntries> webcam = std::make_unique<WebcamEntries>(
        [this] { return WebcamEntries::simulated(r.mac, movies); }, r.rig.main, r.rig.time,
        [this](const std::filesystem::path& file) { revealed.push_back(file); });

    void SetUp() override { webcam->install(*r.app); }
    void TearDown() override {
        webcam.reset();
        r.run(1);
    }

    void advance(double seconds, double step = 0.02) {
        for (double t = 0; t < seconds - 1e-9; t += step) {
            r.rig.time.advance(step);
            QApplication::processEvents();
        }
    }
    void click(Point at) {
        r.rig.pointer.press(at);
        advance(0.05);
        r.rig.pointer.release(at);
        advance(0.05);
    }
};

TEST_F(WebcamRecording, AnArmedPadHitRecordsTheStutteredPerformanceIntoAHighProfileMovie) {
    // Koala on the MPC Touch, one pad played so it makes sound.
    ASSERT_TRUE(r.bringUpMpcTouch()) << r.app->status();
    r.run(1);
    r.rig.mpc.pressPad(2);
    r.run(0.1);
    r.rig.mpc.releasePad(2);
    r.run(1);

    // Webcam… from the menu: the window shows the composed picture, with no problem to tell.
    ASSERT_TRUE(r.desktop.trigger("Webcam…"));
    QtWebcamWindow* window = webcam->webcam();
    ASSERT_TRUE(window);
    advance(0.5);
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_FALSE(window->preview()->frame().isNull());
    EXPECT_FALSE(window->problem()) << *window->problem();

    // LEARN KOALA'S STUTTER, then a press on Koala's STUTTER on its Perform page.
    const std::optional<Rect> koala = r.rig.koala.windowBounds();
    ASSERT_TRUE(koala);
    click({koala->x + 0.6 * koala->width, koala->y + 0.05 * koala->height});
    ASSERT_EQ(r.rig.koala.page(), "perform");
    const std::optional<Point> stutterAt = r.rig.koala.stutterPoint();
    ASSERT_TRUE(stutterAt);
    window->learnStutter()->click();
    EXPECT_EQ(window->learnStutter()->text().toStdString(), "NOW TOUCH STUTTER ON KOALA…");
    click(*stutterAt);
    EXPECT_EQ(window->learnStutter()->text().toStdString(), "KOALA'S STUTTER LEARNED ✓");
    EXPECT_TRUE(window->note()->text().split("\n\n").value(1).startsWith(
        "Touching STUTTER on Koala's Perform page stutters the video"))
        << window->note()->text().toStdString();
    ASSERT_TRUE(WebcamSettings::load(r.defaults).stutterSpot);

    // ARM: nothing records until the next pad hit, which starts it.
    window->toggleArm();
    ASSERT_TRUE(window->armed());
    advance(1);
    EXPECT_FALSE(webcam->studio()->recording());
    r.rig.mpc.pressPad(1, 120);
    advance(0.02);
    ASSERT_TRUE(r.runUntil([&] { return webcam->studio()->recording(); }, 1, 0.01));
    // The movie's time line starts with its first frame, within a tick of now.
    const double start = r.rig.time.now();
    advance(0.1);
    r.rig.mpc.releasePad(1);
    advance(1);

    // Another pad, and STUTTER held on Koala for two seconds while it sounds: Koala repeats the eighth
    // note before the press.
    ASSERT_TRUE(r.rig.koala.song().bpm);
    const double period = 60.0 / *r.rig.koala.song().bpm / 2;
    r.rig.mpc.pressPad(3, 120);
    advance(0.1);
    r.rig.pointer.press(*stutterAt);
    const double heldAt = r.rig.time.now();
    advance(0.04);
    ASSERT_TRUE(r.rig.koala.stutterHeld());
    ASSERT_TRUE(r.mac.feed.snapshot().touchStutter);
    advance(2);
    const double releasedAt = r.rig.time.now();
    r.rig.pointer.release(*stutterAt);
    r.rig.mpc.releasePad(3);
    advance(1);

    // STOP: the file is named in the note and revealed.
    window->toggleRecording();
    ASSERT_TRUE(r.runUntil([&] { return !revealed.empty(); }, 10, 0.05));
    const std::string saved = window->note()->text().split("\n\n").front().toStdString();
    EXPECT_TRUE(
        std::regex_match(saved, std::regex("Saved Koala_Performance \\d{4}-\\d{2}-\\d{2} at "
                                           "\\d{2}\\.\\d{2}\\.\\d{2} 16x9\\.mp4 in ~/Movies/Tandem\\.")))
        << saved;
    const std::filesystem::path file = revealed.front();
    EXPECT_NE(saved.find(file.filename().string()), std::string::npos);

    // Decoded back: 1080p H.264 High with AAC, 48 kHz stereo.
    const Movie movie = decode(file);
    ASSERT_TRUE(movie.opened) << file;
    EXPECT_EQ(movie.videoCodec, AV_CODEC_ID_H264);
    EXPECT_EQ(movie.videoProfile, FF_PROFILE_H264_HIGH);
    EXPECT_EQ(movie.height, 1080);
    EXPECT_EQ(movie.audioCodec, AV_CODEC_ID_AAC);
    EXPECT_GT(movie.audioPeak, 0.05f) << "Koala's pads are heard in the movie";
    EXPECT_EQ(movie.sampleRate, 48000);
    ASSERT_GT(movie.frames.size(), 30u);

    // The camera's frame numbers (30 a second), sampled a period apart: while STUTTER is held (past
    // the first half second, when Koala's period has been measured) the same frame comes back, give or
    // take the one frame the movie's own timing shifts it by, and only the frames of one period show.
    const auto ahead = [&](double t, double by = 0) -> std::optional<int64_t> {
        const auto now = cameraFrame(movie.at(t));
        const auto next = cameraFrame(movie.at(t + (by > 0 ? by : period)));
        if (!now || !next) return std::nullopt; // a dissolve between two frames
        return int64_t(*next) - int64_t(*now);
    };
    const int64_t step = std::llround(period * 30);
    int looped = 0;
    int loopRead = 0;
    // Half a period on is another part of the loop: a shorter loop (a sixteenth note) would fail here.
    int halfApart = 0;
    int halfRead = 0;
    std::set<uint64_t> shown;
    for (double t = heldAt - start + 0.6; t + period < releasedAt - start - 0.05; t += 0.01) {
        if (const auto d = ahead(t)) {
            ++loopRead;
            looped += std::abs(*d) <= 1;
            shown.insert(*cameraFrame(movie.at(t)));
        }
        if (const auto d = ahead(t, period / 2)) {
            ++halfRead;
            halfApart += std::abs(*d) >= 2;
        }
    }
    ASSERT_GT(halfRead, 20);
    EXPECT_GE(halfApart, halfRead * 8 / 10) << halfApart << " of " << halfRead;
    ASSERT_GT(loopRead, 20);
    EXPECT_GE(looped, loopRead * 9 / 10) << looped << " of " << loopRead;
    EXPECT_LE(shown.size(), size_t(step) + 2);

    window->window()->close();
    advance(0.5);
    EXPECT_FALSE(webcam->studio()->get()->running());
}

TEST_F(WebcamRecording, TheEntriesMakeOneWindowAndStudioAndThePreviewEntryShowsOnlyTheFloatingPreview) {
    r.launch();
    ASSERT_TRUE(r.desktop.trigger("Webcam Preview"));
    QtWebcamWindow* window = webcam->webcam();
    ASSERT_TRUE(window);
    const auto studio = webcam->studio();
    advance(0.3);
    ASSERT_TRUE(window->floating());
    EXPECT_TRUE(window->floating()->isVisible());
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_TRUE(studio->get()->running());

    // Both closed: the studio stops; WEBCAM SETUP opens the same window and starts it again.
    window->window()->close();
    window->floating()->close();
    advance(0.3);
    EXPECT_FALSE(studio->get()->running());
    r.desktop.choice()->pressWebcam();
    advance(0.3);
    EXPECT_EQ(webcam->webcam(), window);
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_TRUE(studio->get()->running());
}

} // namespace
} // namespace tandem

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
