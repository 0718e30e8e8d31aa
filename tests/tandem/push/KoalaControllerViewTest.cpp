#include "tandem/push/KoalaController.h"

#include "base/Text.h"
#include "support/ControllerBench.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using namespace tandem::testing;

uint8_t color(Push2Color c, int offset = 0) {
    return uint8_t(uint8_t(c) + offset);
}

// The Push pad that plays Koala pad k.
int pushPad(int k) {
    for (int p = 0; p < 64; ++p) {
        if (KoalaController::koalaPad(p) == k) return p;
    }
    return -1;
}

void press(Bench& bench, int p) {
    bench.c.handle(Push2Event::pad(p, 100, true));
}
void release(Bench& bench, int p) {
    bench.c.handle(Push2Event::pad(p, 0, false));
}

TEST(KoalaControllerView, PadColoursWithTheKeyboardOff) {
    Bench bench;
    const auto colors = bench.c.padColors();
    EXPECT_EQ(colors[size_t(pushPad(0))], color(Push2Color::selected));
    EXPECT_EQ(colors[size_t(pushPad(12))], color(Push2Color::koalaDimA)); // A13 holds nothing
    EXPECT_EQ(colors[size_t(pushPad(35))], color(Push2Color::koalaDimC)); // bank C, empty

    press(bench, pushPad(3));
    EXPECT_EQ(bench.c.padColors()[size_t(pushPad(3))], color(Push2Color::hit));
    release(bench, pushPad(3));

    // A pad deleted here reads as empty before Koala saves it.
    bench.c.deletedPads.insert(2);
    EXPECT_EQ(bench.c.padColors()[size_t(pushPad(2))], color(Push2Color::koalaDimA));

    // Linked to Koala's sample page, Koala's own pad states win over the saved song.
    bench.c.link = true;
    bench.c.lastHit = 1;
    bench.c.padStates = {{4, 1}, {20, 5}};
    const auto linked = bench.c.padColors();
    EXPECT_EQ(linked[size_t(pushPad(4))], color(Push2Color::koalaDimA));
    EXPECT_EQ(linked[size_t(pushPad(20))], color(Push2Color::koalaB));
    bench.c.koalaPage = KoalaController::KoalaPage::perform;
    EXPECT_EQ(bench.c.padColors()[size_t(pushPad(4))], color(Push2Color::koalaA));
}

TEST(KoalaControllerView, PadColoursWithTheKeyboardOn) {
    Bench bench;
    bench.c.keyboard = {Mode::on, 0};
    auto colors = bench.c.padColors();
    EXPECT_EQ(colors[24], color(Push2Color::selected)); // plays note 60 at offset 36
    // A chopper of 20 chops: the chops colour by groups of 16, the pads past them dim.
    KoalaSession saved = song();
    for (int i = 10; i < 20; ++i)
        saved.pads[9].slices.push_back(i * 1000.0);
    bench.read(saved, 1);
    bench.c.keyboard = {Mode::on, 9};
    colors = bench.c.padColors();
    EXPECT_EQ(colors[size_t(pushPad(19))], color(Push2Color::koalaB));
    EXPECT_EQ(colors[size_t(pushPad(20))], color(Push2Color::koalaDimA));
    EXPECT_EQ(colors[size_t(pushPad(35))], color(Push2Color::koalaDimA)); // 35 mod 20 = 15
    EXPECT_EQ(colors[size_t(pushPad(36))], color(Push2Color::koalaDimB)); // 36 mod 20 = 16
}

TEST(KoalaControllerView, ButtonLightsFollowTheirRows) {
    Bench bench;
    auto light = [&](int cc) { return int(bench.c.buttonLights().at(cc)); };
    // Held and switched.
    bench.c.handle(Push2Event::button(49, true));
    bench.c.handle(Push2Event::button(61, true));
    bench.c.handle(Push2Event::button(20, true));
    EXPECT_EQ(light(49), 0x7F);
    EXPECT_EQ(light(61), color(Push2Color::koalaC));
    EXPECT_EQ(light(20), color(Push2Color::hit));
    bench.c.handle(Push2Event::button(20, false));
    bench.c.handle(Push2Event::button(61, false));
    bench.c.handle(Push2Event::button(49, false));
    EXPECT_EQ(light(20), color(Push2Color::koalaB)); // ONE SHOT went on
    bench.button(59, true);                          // Shift + User arms quitting for three seconds
    EXPECT_EQ(light(59), 0x7F);
    bench.time.advance(3.01);
    EXPECT_EQ(light(59), 0x10);
    // The keyboard's octave keys light only while the range can still move.
    bench.c.keyboard = {Mode::on, 0};
    bench.c.octave = 0;
    EXPECT_EQ(light(107), color(Push2Color::koalaB));
    EXPECT_EQ(light(50), 0x7F);
    EXPECT_EQ(light(54), 0x30); // lowest note 36 can go down to 24
    EXPECT_EQ(light(55), 0x30); // highest note 99 can go up to 111
    bench.c.octave = 28;        // lowest 64, highest 127
    EXPECT_EQ(light(55), 0x10);
    bench.c.octave = -36;
    EXPECT_EQ(light(54), 0x10);
}

TEST(KoalaControllerView, EffectLightsAndCells) {
    KoalaSession saved = song();
    saved.fx.resize(10);
    Bench bench(saved);
    bench.button(51); // Session: the FX page
    bench.c.handle(Push2Event::button(22, true));
    KoalaView view = bench.c.view();
    EXPECT_EQ(view.lowerHeld, std::set<int>{2});
    bench.c.handle(Push2Event::button(22, false));
    EXPECT_EQ(bench.c.buttonLights().at(22), color(Push2Color::koalaA));

    view = bench.c.view();
    ASSERT_EQ(view.cells.size(), 8u);
    ASSERT_EQ(view.cellsTop.size(), 8u);
    EXPECT_EQ(view.cells[2].name, "3 " + Text::uppercase(saved.fx[2]));
    EXPECT_TRUE(view.cells[2].on);
    EXPECT_FALSE(view.cells[3].on);
    ASSERT_TRUE(view.cells[3].level);
    EXPECT_NEAR(*view.cells[3].level, 100.0 / 127.0, 1e-9);
    EXPECT_FALSE(view.cellsTop[2].level); // effect 11 does not exist
    EXPECT_EQ(view.lowerOn, std::set<int>{2});
}

TEST(KoalaControllerView, RelativeKnobsReadTheirTarget) {
    Bench bench;
    const auto& bars = *KoalaController::knobs(Page::seq)[1];
    const auto& tempo = *KoalaController::knobs(Page::seq)[2];
    EXPECT_EQ(bench.c.knobText(bars), "1 BAR");
    EXPECT_EQ(bench.c.knobText(tempo), "120.0");
    KoalaSession saved = song();
    saved.bars[0] = 4;
    bench.read(saved, 2);
    EXPECT_EQ(bench.c.knobText(bars), "4 BARS");
}

TEST(KoalaControllerView, LowerLabelsAndTheirStatesByPage) {
    Bench bench;
    EXPECT_EQ(bench.c.lowerLabels()[5], "MIC IN");
    bench.c.handle(Push2Event::button(49, true));
    EXPECT_EQ(bench.c.lowerLabels()[5], "HEADPHONES");
    bench.c.handle(Push2Event::button(49, false));

    bench.c.page = Page::mixer;
    bench.button(21);
    EXPECT_EQ(bench.c.lowerOn(), std::set<int>{1});
    bench.c.handle(Push2Event::button(61, true));
    EXPECT_EQ(bench.c.lowerLabels()[1], "SOLO B");
    EXPECT_TRUE(bench.c.lowerOn().empty());        // solos now, and none is on
    EXPECT_TRUE(bench.c.view().lowerDim.count(4)); // the main bus has no solo
    bench.c.handle(Push2Event::button(61, false));

    bench.c.page = Page::seq;
    EXPECT_EQ(bench.c.lowerLabels()[7], "(SHIFT) CLEAR");
    bench.c.shift = true;
    EXPECT_EQ(bench.c.lowerLabels()[7], "CLEAR SEQ");
}

TEST(KoalaControllerView, StatusModeAndHints) {
    Bench bench;
    KoalaView view = bench.c.view();
    EXPECT_EQ(view.status, "■ STOPPED · SEQ 1 · 120.0 BPM · SAVED / LOCAL");
    EXPECT_EQ(view.padName, "KICK 1");
    EXPECT_EQ(view.hint, "PADS: A–D · EDITING A1 SELECTED IN KOALA");

    // Recording from a stop counts a bar in, then records; the transport is the local estimate.
    bench.button(86);
    bench.run(0.6);
    view = bench.c.view();
    EXPECT_EQ(view.status.rfind("1.2 LOCAL · COUNT IN · SEQ 1", 0), 0u) << view.status;
    bench.run(1.5);
    view = bench.c.view();
    ASSERT_TRUE(view.playhead);
    EXPECT_NEAR(*view.playhead, 0.2, 0.05); // 2.1 s at 120 bpm = 4.2 beats, in a 4-beat sequence

    // The keyboard on a normal pad, on a chopper, and while choosing.
    bench.c.keyboard = {Mode::on, 0};
    view = bench.c.view();
    EXPECT_EQ(view.mode, "KEYBOARD · 16 LEVELS C1–D#6");
    EXPECT_EQ(view.hint, "HIT THE PAD TO PLAY");
    bench.c.keyboard = {Mode::on, 9};
    view = bench.c.view();
    EXPECT_EQ(view.mode, "CHOPPER A10 · 10 CHOPS SAVED · PAGE 1 · CHOPS 1–10");
    bench.c.chopCountOverride = 12;
    EXPECT_EQ(bench.c.view().mode, "CHOPPER A10 · 12 CHOPS OVERRIDE · PAGE 1 · CHOPS 1–12");
    bench.c.keyboard = {Mode::choosing, 0};
    view = bench.c.view();
    EXPECT_EQ(view.big, "KEYBOARD: CHOOSING A PAD");
    EXPECT_EQ(view.hint, "A CHOPPER: ITS CHOPS · ANY OTHER PAD: 16 LEVELS · KEYBOARD AGAIN: CANCEL");

    bench.c.keyboard = {Mode::off, 0};
    bench.c.page = Page::eq;
    bench.c.selected = 20;
    EXPECT_EQ(bench.c.view().hint, "EQ EDITS KOALA'S SELECTED PAD B5");
    EXPECT_EQ(bench.c.view().padName, "EMPTY");
}

TEST(KoalaControllerView, MessagesExpireAndTheViewIsStableMeanwhile) {
    Bench bench;
    bench.button(57);
    const KoalaView shown = bench.c.view();
    EXPECT_EQ(shown.message, "FULL LEVEL · VELOCITY 127");
    bench.time.advance(1.0);
    EXPECT_EQ(bench.c.view(), shown);
    bench.time.advance(2.0);
    EXPECT_EQ(bench.c.view().message, "");
}

KoalaWaveformAudio envelope(double frames) {
    KoalaWaveformAudio audio;
    audio.signature = {KoalaWaveformReader::samplePath(100).string(), 1, 2, 3};
    audio.peaks.assign(KoalaWaveformAudio::bucketCount, 0.5f);
    audio.frames = frames;
    audio.sampleRate = 44100;
    return audio;
}

TEST(KoalaControllerView, TheWaveFollowsThePadAndItsPendingTrim) {
    Bench bench;
    EXPECT_FALSE(bench.c.view().wave); // nothing decoded yet
    bench.c.updateWave(envelope(44100), 0);
    KoalaView view = bench.c.view();
    ASSERT_TRUE(view.wave);
    EXPECT_EQ(view.wave->start, 0);
    EXPECT_EQ(view.wave->end, 1);

    // Turning START shows at once, before Koala saves.
    bench.c.setPosition("/currPad/sample/start", 63.5);
    view = bench.c.view();
    ASSERT_TRUE(view.wave);
    EXPECT_NEAR(view.wave->start, 0.5, 1e-6);

    // Another pad shown: the envelope belongs to A1, so no wave until the bridge brings one.
    bench.c.selected = 1;
    EXPECT_FALSE(bench.c.view().wave);

    // The sample changed length under the pending trim: the prediction is dropped.
    bench.c.selected = 0;
    ASSERT_TRUE(bench.c.pendingTrims.count(0));
    bench.c.updateWave(envelope(44100), 0);
    EXPECT_TRUE(bench.c.pendingTrims.count(0));
    bench.c.updateWave(envelope(22050), 0);
    EXPECT_FALSE(bench.c.pendingTrims.count(0));
    ASSERT_TRUE(bench.c.view().wave);
    EXPECT_EQ(bench.c.view().wave->start, 0);
}

} // namespace
} // namespace tandem
