// The overlay card: its titles and names, the hit's glow, where the card goes, the effect chips; and
// the loader that reads Koala's song and the pads' envelopes behind it, in virtual time.
#include "tandem/webcam/WebcamOverlayPainter.h"

#include "base/SimTime.h"
#include "platform/sim/SimKoalaSong.h"
#include "support/KoalaFiles.h"
#include "tandem/looks/KoalaLook.h"

#include <gtest/gtest.h>

#include <QColor>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tandem {
namespace {

using Hit = KoalaPerformanceFeed::Hit;
using Snapshot = KoalaPerformanceFeed::Snapshot;
using Painter = WebcamOverlayPainter;

Hit padHit(int pad, double time) {
    return Hit{pad, false, false, 36 + pad, time};
}

Snapshot played(const Hit& hit) {
    Snapshot feed;
    feed.lastHit = hit;
    return feed;
}

// `top` at `alpha` over `bottom` at `bottomAlpha`, as QPainter composites premultiplied colours.
QColor over(const QColor& top, double alpha, const QColor& bottom, double bottomAlpha) {
    const double a = alpha + bottomAlpha * (1 - alpha);
    auto channel = [&](double t, double b) { return (t * alpha + b * bottomAlpha * (1 - alpha)) / a; };
    return QColor::fromRgbF(float(channel(top.redF(), bottom.redF())),
                            float(channel(top.greenF(), bottom.greenF())),
                            float(channel(top.blueF(), bottom.blueF())), float(a));
}

::testing::AssertionResult near(const QColor& actual, const QColor& expected, int tolerance = 2) {
    if (std::abs(actual.red() - expected.red()) <= tolerance &&
        std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance &&
        std::abs(actual.alpha() - expected.alpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "rgba(" << actual.red() << ", " << actual.green() << ", " << actual.blue() << ", "
           << actual.alpha() << ") is not rgba(" << expected.red() << ", " << expected.green() << ", "
           << expected.blue() << ", " << expected.alpha() << ")";
}

const QColor cardColour = KoalaLook::background; // at 0.86

// Koala's song in a scratch home, sample files that exist (the reader is faked), and a painter whose
// loader runs in virtual time.
struct PainterRig {
    testing::KoalaFiles files;
    SimTime time;
    std::shared_ptr<Queue> loader = time.makeQueue(Painter::loaderLabel);
    SimKoalaSong song = SimKoalaSong::standard();
    std::vector<KoalaAudioSignature> reads;
    std::function<void(KoalaWaveformReadToken&)> duringRead;
    std::shared_ptr<Painter> painter;

    PainterRig() {
        writeSong();
        for (const SimKoalaSong::Pad& pad : song.pads)
            if (pad.sampleID) writeSample(*pad.sampleID, 100);
        Painter::Services services{time,
                                   loader,
                                   files.song,
                                   files.settings,
                                   nullptr,
                                   [this](const KoalaAudioSignature& signature,
                                          KoalaWaveformReadToken& token) { return read(signature, token); }};
        painter = std::make_shared<Painter>(std::move(services));
    }

    void writeSong() {
        for (const auto& [name, bytes] : song.files())
            testing::ScratchHome::write(files.song / name, bytes);
    }
    void writeSample(int64_t id, size_t bytes) {
        testing::ScratchHome::write(files.song / "sampler" / (std::to_string(id) + ".wav"),
                                    std::string(bytes, 'x'));
    }

    // A flat envelope at half height; nothing once stopped, like the real reader.
    std::optional<KoalaWaveformAudio> read(const KoalaAudioSignature& signature,
                                           KoalaWaveformReadToken& token) {
        reads.push_back(signature);
        if (duringRead) duringRead(token);
        if (token.isStopped()) return std::nullopt;
        KoalaWaveformAudio audio;
        audio.signature = signature;
        audio.peaks.assign(KoalaWaveformAudio::bucketCount, 0.5f);
        audio.frames = 44100;
        audio.sampleRate = 44100;
        return audio;
    }

    std::optional<Painter::Overlay> show(const Snapshot& feed, double now = 0) {
        return painter->picture(feed, 0.5, now, false, QSize(1920, 1080), QPointF(0.025, 0.044));
    }
    void hit(const Hit& hit) {
        show(played(hit), hit.time);
        time.runUntilIdle();
    }
};

TEST(WebcamOverlayPainter, TitlesNamesAndTheStutterChip) {
    EXPECT_EQ(Painter::title(std::nullopt), (Painter::Title{"–", "PLAY A PAD"}));
    EXPECT_EQ(Painter::title(padHit(17, 1)), (Painter::Title{"B2", "PAD"}));
    EXPECT_EQ(Painter::title(Hit{61, false, true, 61, 1}), (Painter::Title{"C#3", "KEY"}));
    EXPECT_EQ(Painter::title(Hit{4, true, false, 64, 1}), (Painter::Title{"5", "CHOP"}));

    // The name line: "Tandem" before any hit, a blank while the hit's pad is loading, then its name.
    EXPECT_EQ(Painter::card({}, std::nullopt, 0, 0).name, "Tandem");
    const Hit hit = padHit(17, 2.0);
    EXPECT_EQ(Painter::card(played(hit), std::nullopt, 0, 2).name, " ");
    const Painter::PadInfo older{padHit(3, 1.0), "Snare", std::nullopt, std::nullopt};
    EXPECT_EQ(Painter::card(played(hit), older, 0, 2).name, " ") << "another hit's name is not this one's";
    const Painter::PadInfo loaded{hit, "Kick", std::nullopt, std::nullopt};
    EXPECT_EQ(Painter::card(played(hit), loaded, 0, 2).name, "Kick");

    // The STUTTER chip shows for the knob, the HOLD button and a touch on Koala's screen.
    EXPECT_FALSE(Painter::card({}, std::nullopt, 0, 0).stutter);
    for (const char* how : {"knob", "manual", "touch"}) {
        Snapshot stuttering;
        if (std::string(how) == "knob") stuttering.fx["STUTTER"] = 64;
        if (std::string(how) == "manual") stuttering.manualStutter = true;
        if (std::string(how) == "touch") stuttering.touchStutter = true;
        EXPECT_TRUE(Painter::card(stuttering, std::nullopt, 0, 0).stutter) << how;
    }
}

TEST(WebcamOverlayPainter, TheGlowHoldsWhileTheNoteIsDownAndDiesAwayAfter) {
    const Hit hit = padHit(5, 10.0);
    Snapshot feed = played(hit);
    feed.held[hit.note] = 10.0;
    EXPECT_EQ(Painter::card(feed, std::nullopt, 0, 12.0).glow, 1.0) << "held long after the hit";
    feed.held.clear();
    EXPECT_NEAR(Painter::card(feed, std::nullopt, 0, 10.175).glow, 0.5, 1e-9);
    EXPECT_NEAR(Painter::card(feed, std::nullopt, 0, 10.35).glow, 0.0, 1e-9);
    feed.held[hit.note + 1] = 10.0;
    EXPECT_EQ(Painter::card(feed, std::nullopt, 0, 11.0).glow, 0.0) << "another note held";

    // The badge: pink at full glow, Koala's blue at 0.35 over the card once it has died away. Probed
    // below the kind text, in the badge's middle (18 + 82 across, 4 up from its bottom edge at 182).
    PainterRig rig;
    Painter::Card card = Painter::card(feed, std::nullopt, 0, 10.0);
    card.kind.clear();
    const QImage hot = *rig.painter->draw(card, QSize(680, 200));
    EXPECT_TRUE(near(hot.pixelColor(100, 178), KoalaLook::pink));
    card.glow = 0;
    const QImage cold = *rig.painter->draw(card, QSize(680, 200));
    EXPECT_TRUE(near(cold.pixelColor(100, 178), over(KoalaLook::blue, 0.35, cardColour, 0.86)));
}

TEST(WebcamOverlayPainter, PositionsCountUpFromTheBottomAndStayInTheFrame) {
    EXPECT_EQ(Painter::position(QSize(1920, 1080), QSize(680, 200), QPointF(0.025, 0.044)), QPoint(48, 833));
    // Pushed back inside at the far edges, and never past the near ones.
    EXPECT_EQ(Painter::position(QSize(1920, 1080), QSize(680, 200), QPointF(0.9, 0.95)), QPoint(1240, 0));
    EXPECT_EQ(Painter::position(QSize(1920, 1080), QSize(680, 200), QPointF(-0.1, -0.5)), QPoint(0, 880));
    EXPECT_EQ(Painter::position(QSize(1920, 1080), QSize(680, 200), QPointF(std::nan(""), 0)),
              QPoint(0, 880));

    PainterRig rig;
    const auto wide = rig.show({});
    ASSERT_TRUE(wide);

    // Composited over a frame, at the point it names.
    QImage frame(1920, 1080, QImage::Format_RGB32);
    frame.fill(Qt::black);
    Painter::composite(frame, *wide);
    EXPECT_EQ(frame.pixelColor(47, 933), QColor(Qt::black));
    EXPECT_NE(frame.pixelColor(58, 933), QColor(Qt::black));
}

TEST(WebcamOverlayPainter, TheLoaderFindsThePadItsEnvelopeAndTheTempo) {
    PainterRig rig;
    rig.song.bpm = 96;
    rig.song.pads[3].label = "Snare";
    rig.song.selectedPad = 3;
    rig.song.pads[3].start = 11025;
    rig.song.pads[3].end = 33075;
    rig.writeSong();

    const Hit hit = padHit(3, 1.0);
    rig.show(played(hit), 1.0);
    EXPECT_EQ(rig.painter->requested(), 1.0) << "asked for at once";
    rig.time.runUntilIdle();
    const auto info = rig.painter->info();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->hit, hit);
    EXPECT_EQ(info->name, "Snare");
    ASSERT_TRUE(info->wave);
    EXPECT_EQ(info->wave->start, 0.25);
    EXPECT_EQ(info->wave->end, 0.75);
    EXPECT_EQ(rig.painter->tempo(), 96);

    // A chop or key is the selected pad's; a chop keeps its slice.
    const Hit chop{2, true, false, 62, 2.0};
    rig.time.advance(1.5);
    rig.hit(chop);
    ASSERT_TRUE(rig.painter->info());
    EXPECT_EQ(rig.painter->info()->name, "Snare");
    EXPECT_EQ(rig.painter->info()->slice, 2);
    EXPECT_EQ(rig.reads.size(), 1u) << "the envelope came from the cache";

    // A song without a selected pad: nothing to name, no wave. A tempo of 20 or less is no tempo.
    rig.song.selectedPad = -1;
    rig.song.bpm = 20;
    rig.writeSong();
    rig.time.advance(1.5);
    rig.hit(Hit{60, false, true, 60, 3.0});
    ASSERT_TRUE(rig.painter->info());
    EXPECT_EQ(rig.painter->info()->name, "");
    EXPECT_EQ(rig.painter->tempo(), 96);
}

TEST(WebcamOverlayPainter, ANewerHitStopsTheOlderRead) {
    PainterRig rig;
    const Hit older = padHit(0, 1.0), newer = padHit(1, 1.05);
    std::vector<bool> stoppedAfterNewer;
    rig.duringRead = [&](KoalaWaveformReadToken& token) {
        if (rig.reads.size() != 1) return;
        // The newer hit comes while the older one's file is being decoded.
        rig.show(played(newer), 1.05);
        stoppedAfterNewer.push_back(token.isStopped());
    };
    rig.show(played(older), 1.0);
    rig.time.runUntilIdle();
    EXPECT_EQ(stoppedAfterNewer, (std::vector<bool>{true}));
    ASSERT_EQ(rig.reads.size(), 2u);
    ASSERT_TRUE(rig.painter->info());
    EXPECT_EQ(rig.painter->info()->hit, newer) << "the older hit stored nothing";

    // Two hits within one tick's gap: the first never reads at all.
    rig.duringRead = nullptr;
    rig.reads.clear();
    rig.time.advance(2);
    rig.show(played(padHit(4, 3.0)), 3.0);
    rig.show(played(padHit(5, 3.01)), 3.01);
    rig.time.runUntilIdle();
    ASSERT_EQ(rig.reads.size(), 1u);
    EXPECT_EQ(rig.painter->info()->hit, padHit(5, 3.01));
}

TEST(WebcamOverlayPainter, TheSongIsReadAgainOnlyAfterASecond) {
    PainterRig rig;
    rig.song.pads[0].label = "First";
    rig.writeSong();
    rig.hit(padHit(0, 0.0));
    EXPECT_EQ(rig.painter->info()->name, "First");

    rig.song.pads[0].label = "Second";
    rig.writeSong();
    rig.time.advance(0.9);
    rig.hit(padHit(0, 0.9));
    EXPECT_EQ(rig.painter->info()->name, "First") << "0.9 s old: still used";
    rig.time.advance(0.2);
    rig.hit(padHit(0, 1.1));
    EXPECT_EQ(rig.painter->info()->name, "Second");

    // A song that cannot be read leaves the last good copy in use.
    std::filesystem::remove(rig.files.song / "song.json");
    rig.time.advance(1.5);
    rig.hit(padHit(0, 2.6));
    EXPECT_EQ(rig.painter->info()->name, "Second");
}

TEST(WebcamOverlayPainter, TheEnvelopeCacheNeverHoldsMoreThanTwentyFour) {
    PainterRig rig;
    const int64_t id = *rig.song.pads[0].sampleID;
    for (size_t k = 0; k < 30; ++k) {
        rig.writeSample(id, 200 + k); // a new version of the file each time
        rig.hit(padHit(0, 1.0 + double(k)));
        EXPECT_EQ(rig.painter->cachedEnvelopes(), k < 24 ? k + 1 : k - 23) << k;
    }
    // The file as it is now is cached: hitting it again reads nothing.
    rig.hit(padHit(0, 100.0));
    EXPECT_EQ(rig.reads.size(), 30u);
}

} // namespace
} // namespace tandem
