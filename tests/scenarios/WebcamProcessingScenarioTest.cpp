// The webcam's processing on the simulated Mac, in virtual time: a pad struck on the MPC Touch and
// Koala's STUTTER held on screen reach the performance feed; Koala's sound, looping every 0.125 s while
// it stutters, goes through the sound chain and into the period finder; synthetic 1080p frames go
// through the picture effects and the card and come out looping at Koala's period.
#include "tandem/webcam/KoalaStutterTouch.h"
#include "tandem/webcam/StutterPeriodFinder.h"
#include "tandem/webcam/WebcamEffectState.h"
#include "tandem/webcam/WebcamFX.h"
#include "tandem/webcam/WebcamLevel.h"
#include "tandem/webcam/WebcamOverlayPainter.h"
#include "tandem/webcam/WebcamSoundChain.h"

#include "mpc_controller_setup/controller_setup.h"
#include "platform/sim/SimRig.h"
#include "support/ScratchHome.h"
#include "tandem/looks/KoalaLook.h"
#include "tandem/mpc/KoalaMIDIBridge.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tandem {
namespace {

constexpr double rate = 48000;
constexpr size_t bufferFrames = 480;
constexpr double tick = 1.0 / 64; // compose ticks on binary fractions, so that times compare exactly
const QSize wide(1920, 1080);

// Deterministic noise in -1…1.
float noiseAt(uint64_t n) {
    uint32_t x = uint32_t(n * 2654435761u) ^ 0x9E3779B9u;
    x ^= x >> 15;
    x *= 0x2C1B3C6Du;
    x ^= x >> 12;
    x *= 0x297A2D39u;
    x ^= x >> 15;
    return float(x >> 8) / float(1 << 23) - 1.0f;
}

// Koala's sound: noise that never repeats until the stutter starts at frame `loopFrom`, then a grain of
// 0.125 s (6000 frames) repeated, as Koala's STUTTER repeats what it just played.
struct KoalaSound {
    std::optional<uint64_t> loopFrom;
    float at(uint64_t n, int channel) const {
        const uint64_t source = loopFrom && n >= *loopFrom ? *loopFrom + (n - *loopFrom) % 6000 : n;
        const float decay = float(std::exp(-double(source % 6000) / 2000.0));
        return 0.9f * decay * noiseAt(source * 2 + uint64_t(channel));
    }
};

// A synthetic camera frame: its top half one colour that encodes its number, a bar moving along the
// bottom half so that the strip shows motion.
QImage cameraFrame(int k) {
    QImage frame(wide, QImage::Format_RGB32);
    frame.fill(qRgb(k & 0xFF, (k >> 8) & 0xFF, 90));
    QPainter painter(&frame);
    painter.fillRect(QRect(0, 540, 1920, 540), QColor(30, 30, 30));
    painter.fillRect(QRect((k * 37) % 1800, 600, 120, 420), QColor(240, 240, 240));
    return frame;
}

// The number of the camera frame a composed frame shows, read where neither card nor bar reaches;
// -1 for anything else (black, a dissolve).
int frameNumber(const QImage& out) {
    const QRgb pixel = out.pixel(1800, 100);
    if (qBlue(pixel) != 90 || out.pixel(100, 100) != pixel) return -1;
    return qRed(pixel) | (qGreen(pixel) << 8);
}

class WebcamProcessingScenario : public ::testing::Test {
protected:
    testing::ScratchHome home;
    SimRig rig{home.path() / "rig"};
    KoalaPerformanceFeed feed{rig.time};
    std::shared_ptr<Queue> input = rig.time.makeQueue("Tandem.MIDIInput");
    std::shared_ptr<Queue> controller = rig.time.makeQueue("Tandem.ControllerOutput");
    std::shared_ptr<Queue> loader = rig.time.makeQueue(WebcamOverlayPainter::loaderLabel);
    std::FILE* transcript = std::tmpfile();
    std::shared_ptr<KoalaMIDIBridge> bridge;

    WebcamSoundChain sound;
    StutterPeriodFinder stutterLength{rig.time};
    WebcamLevel level{rig.time};
    WebcamFX fx;
    std::shared_ptr<WebcamOverlayPainter> painter;
    std::shared_ptr<KoalaStutterTouch> stutterTouch;

    KoalaSound koalaSound;
    uint64_t audioFrames = 0; // frames of Koala's sound delivered so far, from host time 0

    void SetUp() override {
        controller_use(&rig.midi, &rig.time, transcript, transcript);
        bridge = KoalaMIDIBridge::create(rig.midi, rig.time, input, controller, rig.main, feed, transcript,
                                         transcript);
        painter = std::make_shared<WebcamOverlayPainter>(WebcamOverlayPainter::Services{rig.time, loader});
        stutterTouch = std::make_shared<KoalaStutterTouch>(
            KoalaStutterTouch::Services{rig.workspace, rig.windows, rig.pointer, feed, rig.main});
        sound.configure(0, true, true, -3);
    }

    void TearDown() override {
        stutterTouch->stop();
        bridge->stop();
        std::fclose(transcript);
    }

    // The studio's audio path for everything Koala played up to now: the finder hears Koala's own
    // sound, the chain processes it, the level meter takes the processed buffer.
    void deliverSound() {
        const uint64_t due = uint64_t(std::floor(rig.time.now() * rate));
        while (audioFrames + bufferFrames <= due) {
            SampleBuffer buffer =
                SampleBuffer::makeFloat(rate, 2, bufferFrames, true, double(audioFrames) / rate);
            for (size_t f = 0; f < bufferFrames; ++f) {
                buffer.floatAt(f, 0) = koalaSound.at(audioFrames + f, 0);
                buffer.floatAt(f, 1) = koalaSound.at(audioFrames + f, 1);
            }
            stutterLength.add(buffer);
            const SampleBuffer processed = sound.process(buffer);
            ASSERT_EQ(processed.frames, bufferFrames);
            level.add(processed);
            audioFrames += bufferFrames;
        }
    }

    struct Composed {
        QImage frame;
        WebcamEffectState state;
    };

    // One compose tick: effects from the feed's snapshot, then the card over them.
    Composed compose(int k) {
        const double now = rig.time.now();
        const KoalaPerformanceFeed::Snapshot snapshot = feed.snapshot();
        const double bpm = painter->tempo();
        std::optional<double> measured;
        if (auto since = WebcamEffectState::measuringSince(snapshot))
            measured = stutterLength.period(*since, 60 / bpm);
        const WebcamEffectState state = WebcamEffectState::make(snapshot, bpm, now, measured);
        QImage picture = fx.process(cameraFrame(k), now, state, wide);
        if (auto overlay =
                painter->picture(snapshot, level.value(), now, false, wide, QPointF(0.025, 0.044))) {
            picture = picture.copy(); // the effects' frame belongs to their pool
            WebcamOverlayPainter::composite(picture, *overlay);
        }
        return {picture, state};
    }

    // Runs ticks k = first … last - 1 at k × tick.
    std::vector<Composed> run(int first, int last) {
        std::vector<Composed> frames;
        for (int k = first; k < last; ++k) {
            rig.time.advance(k * tick - rig.time.now());
            deliverSound();
            frames.push_back(compose(k));
        }
        return frames;
    }
};

TEST_F(WebcamProcessingScenario, APadHitAndAHeldStutterLoopThePictureAtKoalasOwnPeriod) {
    // Koala with a song at 80 bpm: a 0.125 s loop is a sixth of its beat, while its sixteenth note (the
    // fallback without a measurement) would be 0.1875 s.
    SimKoalaSong song = SimKoalaSong::standard();
    song.bpm = 80;
    rig.koala.seed(song);
    rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
    rig.time.advance(2);
    const std::optional<Rect> window = rig.koala.windowBounds();
    ASSERT_TRUE(window);
    ASSERT_TRUE(rig.koala.loadSample(0, SimKoalaSample::sine(60, 44100), "Kick"));
    rig.time.advance(1);

    // The MPC Touch plugged in and set up; pad A1 struck.
    rig.mpc.plug();
    ASSERT_TRUE(bridge->start().ok());
    rig.time.advance(2);
    bridge->setRoutingEnabled(true);
    stutterTouch->start();
    rig.mpc.pressPad(1, 110);
    rig.time.advance(0.01);
    rig.mpc.releasePad(1);
    rig.time.advance(0.01);
    const auto hit = feed.snapshot().lastHit;
    ASSERT_TRUE(hit);

    // The card loads the pad and the song's tempo.
    run(int(std::ceil(rig.time.now() / tick)), int(std::ceil(rig.time.now() / tick)) + 8);
    EXPECT_EQ(painter->tempo(), 80);
    ASSERT_TRUE(painter->info());
    EXPECT_EQ(painter->info()->hit, *hit);
    EXPECT_EQ(painter->info()->name, "Kick");
    ASSERT_TRUE(painter->info()->wave) << "the sample's envelope";

    // Koala's Perform page (the overlay reports it to the feed), and its STUTTER learned.
    auto click = [&](Point at) {
        rig.pointer.press(at);
        rig.time.runUntilIdle();
        rig.pointer.release(at);
        rig.time.runUntilIdle();
    };
    click({window->x + 0.6 * window->width, window->y + 0.05 * window->height});
    ASSERT_EQ(rig.koala.page(), "perform");
    feed.setPage("perform");
    const std::optional<Point> stutterAt = rig.koala.stutterPoint();
    ASSERT_TRUE(stutterAt);
    std::optional<Point> learned;
    stutterTouch->onLearned = [&](Point point) { learned = point; };
    stutterTouch->learning = true;
    click(*stutterAt);
    ASSERT_TRUE(learned);

    // Up to the stutter: the live picture.
    const int start = int(std::ceil(rig.time.now() / tick)) + 32;
    for (const Composed& composed : run(start - 32, start))
        EXPECT_EQ(composed.state, WebcamEffectState{});

    // STUTTER held from tick `start`: the feed has it, and Koala starts repeating its last 0.125 s.
    rig.time.advance(start * tick - rig.time.now());
    rig.pointer.press(*stutterAt);
    rig.time.runUntilIdle();
    ASSERT_TRUE(rig.koala.stutterHeld());
    ASSERT_EQ(feed.snapshot().stutterSince, start * tick);
    koalaSound.loopFrom = uint64_t(std::llround(start * tick * rate));

    // Until the finder has 0.15 s of the loop the picture stutters at the sixteenth note; then at
    // Koala's 0.125 s.
    const std::vector<Composed> early = run(start, start + 8);
    EXPECT_EQ(early.front().state.stutterPeriod, 0.1875);
    const std::vector<Composed> looped = run(start + 8, start + 96);
    const std::vector<Composed> settled(looped.begin() + 24, looped.end()); // from 0.5 s on
    // Every 8 ticks (0.125 s) the same frame; with a fade of 2 ticks, the other 6 show the frames taken
    // in the loop's first 0.125 s, in order.
    int checked = 0;
    for (size_t i = 0; i < settled.size(); ++i) {
        ASSERT_EQ(settled[i].state.stutterPeriod, 0.125) << i;
        const int k = start + 8 + 24 + int(i);
        const int phase = (k - start) % 8;
        const int shown = frameNumber(settled[i].frame);
        if (phase == 0) {
            // The dissolve begins on the picture the last repetition ended with.
            EXPECT_EQ(shown, start + 7) << "tick " << k;
            continue;
        }
        if (phase == 1) continue; // half way through the dissolve

        EXPECT_EQ(shown, start + phase) << "tick " << k;
        ++checked;
    }
    EXPECT_EQ(checked, 48);

    // The card rides on top, never stuttered: the level bar and STUTTER chip are live.
    const QImage& last = settled.back().frame;
    EXPECT_EQ(QColor(last.pixel(48 + 205, 833 + 179)), KoalaLook::blue) << "the level bar";
    EXPECT_EQ(QColor(last.pixel(48 + 202, 833 + 157)), KoalaLook::pink) << "the STUTTER chip";
    EXPECT_LE(sound.meter().peak[0], -1.0 + 0.01);

    // Let go: the loop ends at the next tick.
    rig.pointer.release(*stutterAt);
    rig.time.runUntilIdle();
    EXPECT_FALSE(feed.snapshot().touchStutter);
    const int after = start + 96;
    const std::vector<Composed> live = run(after, after + 4);
    for (size_t i = 0; i < live.size(); ++i)
        EXPECT_EQ(frameNumber(live[i].frame), after + int(i));
    EXPECT_FALSE(fx.loopFrom());
}

} // namespace
} // namespace tandem
