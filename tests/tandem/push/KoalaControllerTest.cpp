#include "tandem/push/KoalaController.h"

#include "support/ControllerBench.h"
#include "tandem/profiles/KoalaMap.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using namespace tandem::testing;
using Page = KoalaController::Page;
using Mode = KoalaController::Keyboard::Mode;

TEST(KoalaController, HelpersFollowTheirRules) {
    EXPECT_EQ(KoalaController::koalaPad(4), 16); // bottom-right block is bank B
    EXPECT_EQ(KoalaController::padID(200), "D9");
    EXPECT_EQ(KoalaController::chopNote(70, 10), 120);
    EXPECT_EQ(KoalaController::chopNote(127, 10), 127);
    EXPECT_EQ(KoalaController::chopNote(200, 128), 59);
    EXPECT_EQ(KoalaController::chopNote(-3, 10), 60);
    EXPECT_EQ(KoalaController::commandFile("position:/currPad/volume#3"), "sampler/sampler.json");
    EXPECT_EQ(KoalaController::commandFile("flag:fxHold"), "fx.json");
}

TEST(KoalaController, PadsPlayKoalasPadsByQuadrantAndTheKeyboardPlaysNotes) {
    Bench bench;
    bench.c.handle(Push2Event::pad(0, 0, true));
    bench.c.handle(Push2Event::pad(56, 90, true));
    bench.c.handle(Push2Event::pad(63, 90, true));
    EXPECT_EQ(bench.sent, (std::vector<Bytes>{{0x9F, 36, 1}, {0x9F, 80, 90}, {0x9F, 99, 90}}));
    EXPECT_EQ(bench.c.selected, 63);
    EXPECT_EQ(bench.c.currentMessage(), "D16 · EMPTY");
    bench.c.handle(Push2Event::pad(0, 0, false));
    EXPECT_EQ(bench.sent.back(), (Bytes{0x8F, 36, 0}));

    // The keyboard on a normal pad: 64 consecutive notes.
    bench.c.selected = 1;
    bench.button(50);
    ASSERT_EQ(bench.c.keyboard.mode, Mode::on);
    bench.sent.clear();
    bench.c.handle(Push2Event::pad(10, 80, true));
    EXPECT_EQ(bench.sent.back(), (Bytes{0x9F, 46, 80}));

    // Two pads on one note (the top clamps): the note ends with the last of them.
    Bench high;
    high.c.keyboardOffset = 100;
    high.c.selected = 1;
    high.button(50);
    high.sent.clear();
    high.c.handle(Push2Event::pad(30, 80, true));
    high.c.handle(Push2Event::pad(31, 80, true));
    high.c.handle(Push2Event::pad(30, 0, false));
    EXPECT_EQ(high.sent.size(), 2u);
    high.c.handle(Push2Event::pad(31, 0, false));
    EXPECT_EQ(high.sent.back(), (Bytes{0x8F, 127, 0}));

    // A chopper plays its chops from MIDI note 60.
    Bench chops;
    chops.c.selected = 9;
    chops.button(50);
    chops.sent.clear();
    chops.c.handle(Push2Event::pad(0, 64, true));
    EXPECT_EQ(chops.sent.back(), (Bytes{0x9F, 60, 64}));
    EXPECT_EQ(chops.c.currentMessage(), "CHOPS · A10 · MIDI 60 = CHOP 1");
}

TEST(KoalaController, RepeatRetriggersHeldPadsInOrderEverySixteenth) {
    Bench bench;
    bench.c.handle(Push2Event::pad(5, 100, true));
    bench.c.handle(Push2Event::pad(2, 90, true));
    bench.button(56);
    bench.sent.clear();
    bench.run(0.01);
    // Due at once: Push pad 2 (Koala A3) then Push pad 5 (Koala B2), each released and struck again.
    EXPECT_EQ(bench.sent,
              (std::vector<Bytes>{{0x8F, 38, 0}, {0x9F, 38, 90}, {0x8F, 53, 0}, {0x9F, 53, 100}}));
    bench.sent.clear();
    bench.run(0.11);
    EXPECT_TRUE(bench.sent.empty());
    bench.run(0.01);
    EXPECT_EQ(bench.sent.size(), 4u); // 0.125 s later at 120 bpm
}

TEST(KoalaController, EncodersStepTurnAndTapAsTheirKnobsSay) {
    Bench bench;
    bench.c.page = Page::eq;
    bench.c.handle(Push2Event::encoder(6, 5)); // CHOKE: a step is 6 detents
    EXPECT_TRUE(bench.sent.empty());
    bench.c.handle(Push2Event::encoder(6, 1));
    ASSERT_EQ(bench.sent.size(), 1u);
    EXPECT_EQ(bench.sent[0], KoalaController::table().at("/currPad/sample/chokeGroup").set(27)->toVector());

    // The tempo encoder taps at most 8 times; the BPM knob taps once per 6 detents.
    bench.sent.clear();
    bench.c.handle(Push2Event::encoder(8, -12));
    EXPECT_EQ(bench.sent.size(), 16u);
    EXPECT_EQ(bench.sent[0], Bench::keyPress("/sequencer/bpm/--"));
    bench.sent.clear();
    bench.c.page = Page::seq;
    bench.c.handle(Push2Event::encoder(2, 12));
    EXPECT_EQ(bench.sent, (std::vector<Bytes>{
                              Bench::keyPress("/sequencer/bpm/++"), Bench::keyRelease("/sequencer/bpm/++"),
                              Bench::keyPress("/sequencer/bpm/++"), Bench::keyRelease("/sequencer/bpm/++")}));

    // VOLUME starts where the saved song puts it (0.5 → 63.5); a move within the same integer is silent.
    bench.c.page = Page::pad;
    bench.sent.clear();
    bench.c.handle(Push2Event::encoder(0, 1));
    bench.c.handle(Push2Event::encoder(0, 1));
    bench.c.handle(Push2Event::encoder(0, 1));
    EXPECT_EQ(bench.sent, (std::vector<Bytes>{{0xBE, 3, 64}, {0xBE, 3, 65}}));
    EXPECT_EQ(bench.c.knobText(*KoalaController::knobs(Page::pad)[0]), "51%");
}

TEST(KoalaController, ButtonsTapShowAndSayWhatTheyDo) {
    struct Case {
        int cc;
        bool shift;
        std::vector<std::string> taps; // addresses tapped, in order
        std::string message;
        Page page = Page::pad;
        std::optional<int> touched;
    };
    const Case cases[] = {
        {3, false, {"/sequencer/tapTempo"}, "TAP TEMPO"},
        {119, true, {"/redo"}, "REDO"},
        {117, false, {"/currSequence/numBars/*2"}, "SEQUENCE ×2"},
        {28, false, {"/mixer/show"}, "MASTER VOLUME · MASTER ENCODER", Page::mixer, 4},
        {52, false, {}, "PERFORM · 16 EFFECTS · TOUCH STRIP SETS AMOUNT", Page::fx},
        {58, false, {}, "SCALE · ENCODER 4 · SHIFT FOR FINE", Page::seq, 3},
        {51, true, {"/perform/hold/toggle"}, "FX HOLD", Page::fx},
        {87, false, {"/sequencer/sequences/1"}, "EMPTY SEQUENCE 2", Page::seq},
        {85, false, {"/sequencer/play/toggle"}, "PLAY"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.cc);
        Bench bench;
        bench.c.touched = 6; // a page change clears it; some buttons set it again after
        bench.button(test.cc, test.shift);
        std::vector<Bytes> expected;
        for (const auto& address : test.taps) {
            auto tapped = bench.tapOf(address);
            expected.insert(expected.end(), tapped.begin(), tapped.end());
        }
        EXPECT_EQ(bench.sent, expected);
        EXPECT_EQ(bench.c.currentMessage(), test.message);
        EXPECT_EQ(bench.c.page, test.page);
        if (test.page != Page::pad) {
            EXPECT_EQ(bench.c.touched, test.touched);
        }
    }
    // No auto-repeat: a second press without a release does nothing.
    Bench bench;
    bench.c.handle(Push2Event::button(3, true));
    bench.c.handle(Push2Event::button(3, true));
    EXPECT_EQ(bench.sent.size(), 2u);
    bench.c.handle(Push2Event::button(200, true)); // no such button
    EXPECT_EQ(bench.sent.size(), 2u);
}

TEST(KoalaController, QuitNeedsShiftUserTwiceWithinThreeSeconds) {
    Bench bench;
    int quits = 0, choices = 0;
    bench.c.onQuit = [&] { ++quits; };
    bench.c.onChooseController = [&] { ++choices; };
    bench.button(59);
    EXPECT_EQ(choices, 1);
    bench.button(59, true);
    EXPECT_EQ(bench.c.currentMessage(), "SHIFT + USER AGAIN TO QUIT KOALA");
    bench.run(2);
    bench.button(59, true);
    EXPECT_EQ(quits, 1);
    bench.button(59, true);
    bench.run(4);
    bench.button(59, true); // too late: armed again, no quit
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(bench.c.currentMessage(), "SHIFT + USER AGAIN TO QUIT KOALA");
}

TEST(KoalaController, DeleteRefusesInOrderThenDeletesTheHeldSelectedPad) {
    Bench bench;
    bench.c.keyboard = {Mode::on, 0};
    bench.button(118);
    EXPECT_EQ(bench.c.currentMessage(), "TURN KEYBOARD OFF TO CLEAR A PAD");
    bench.c.keyboard = {};
    bench.button(118);
    EXPECT_EQ(bench.c.currentMessage(), "HOLD A PAD, THEN PRESS DELETE TO CLEAR IT");
    bench.c.handle(Push2Event::pad(0, 100, true));
    bench.c.handle(Push2Event::pad(1, 100, true));
    bench.button(118);
    EXPECT_EQ(bench.c.currentMessage(), "HOLD JUST ONE SAMPLE PAD TO DELETE IT");
    bench.c.handle(Push2Event::pad(0, 0, false));
    bench.c.padsSelectInKoala = false;
    bench.c.selected = 0;
    bench.button(118);
    EXPECT_EQ(bench.c.currentMessage(), "SELECT A2 IN KOALA FIRST · THEN HOLD IT + DELETE");
    bench.c.handle(Push2Event::pad(1, 0, false));
    bench.c.padsSelectInKoala = true;
    bench.c.handle(Push2Event::pad(4, 100, true)); // Koala B1: empty
    bench.button(118);
    EXPECT_EQ(bench.c.currentMessage(), "B1 IS ALREADY EMPTY");
    bench.c.handle(Push2Event::pad(4, 0, false));
    bench.c.handle(Push2Event::pad(1, 100, true));
    bench.sent.clear();
    bench.button(118);
    EXPECT_EQ(bench.sent, bench.tapOf("/currPad/delete"));
    EXPECT_EQ(bench.c.currentMessage(), "DELETE A2 · CONFIRM IN KOALA IF ASKED · UNDO TO RESTORE");
    EXPECT_FALSE(bench.c.padInfo(1).loaded);
}

TEST(KoalaController, TheCCMacroCapturesThirtySecondsOrFourThousandPointsAndLoops) {
    Bench bench;
    bench.button(89);
    EXPECT_TRUE(bench.c.macroRecording);
    for (int i = 0; i < 20; ++i) {
        bench.c.handle(Push2Event::encoder(0, 2));
        bench.run(0.1);
    }
    bench.button(89);
    EXPECT_TRUE(bench.c.macroPlaying);
    EXPECT_EQ(bench.c.macro.size(), 20u);
    EXPECT_EQ(bench.c.currentMessage(), "CC MACRO LOOP · AUTOMATE STOPS · SHIFT CLEARS");
    bench.sent.clear();
    bench.run(1.95);
    EXPECT_EQ(bench.sent.size(), 20u);
    bench.run(2.0);
    EXPECT_EQ(bench.sent.size(), 40u);             // the loop again
    bench.c.handle(Push2Event::pad(1, 100, true)); // another pad selected: playback stops
    bench.run(0.1);
    EXPECT_FALSE(bench.c.macroPlaying);
    EXPECT_EQ(bench.c.currentMessage(), "CC MACRO STOPPED · SELECTED PAD CHANGED");

    Bench limits;
    limits.button(89);
    for (int i = 0; i < 5000; ++i)
        limits.c.setPosition("/mixer/channels/1/volume", i % 2 ? 10 : 20);
    EXPECT_EQ(limits.c.macro.size(), 4000u);
    limits.button(89, true);
    EXPECT_EQ(limits.c.currentMessage(), "CC MACRO CLEARED");
    limits.button(89);
    limits.run(31);
    EXPECT_FALSE(limits.c.macroRecording); // stopped by itself at 30 s
    limits.c.setPosition("/mixer/channels/2/volume", 33);
    EXPECT_TRUE(limits.c.macro.empty());
}

TEST(KoalaController, InLinkModePagesMoveKoalasOwnScreen) {
    Bench bench;
    bench.c.link = true;
    bench.c.page = Page::eq;
    bench.c.koalaPage = KoalaController::KoalaPage::perform;
    bench.button(102);
    EXPECT_EQ(bench.linked,
              (std::vector<Bytes>{{0x0D, 0x00, 0x00, 0x20, 0x3F}, {0x0D, 0x00, 0x00, 0x20, 0x00}}));
    EXPECT_EQ(bench.c.koalaPage, KoalaController::KoalaPage::sample);
    bench.linked.clear();
    bench.button(104);
    EXPECT_EQ(bench.linked,
              (std::vector<Bytes>{{0x0D, 0x00, 0x00, 0x30, 0x3F}, {0x0D, 0x00, 0x00, 0x30, 0x00}}));
    bench.linked.clear();
    bench.c.page = Page::pad;
    bench.c.handle(Push2Event::encoder(0, 4)); // VOLUME goes as a pad edit
    EXPECT_EQ(bench.linked, (std::vector<Bytes>{{6, 0, 0, 65}}));
}

TEST(KoalaController, ShiftNoteChoosesTheKeyboardsPadWithTheNextPress) {
    Bench bench;
    bench.button(50, true);
    EXPECT_EQ(bench.c.keyboard.mode, KoalaController::Keyboard::Mode::choosing);
    EXPECT_EQ(bench.sent, bench.tapOf("/keyboard/toggle")); // Koala's keyboard goes on as with Note
    bench.c.handle(Push2Event::pad(8, 90, true));           // Koala pad A5 (p 8 → k 4)
    EXPECT_EQ(bench.c.keyboard, (KoalaController::Keyboard{KoalaController::Keyboard::Mode::on, 4}));
    EXPECT_EQ(bench.c.selected, 4);
    EXPECT_EQ(bench.c.currentMessage(), "A5: 16 LEVELS · OCTAVE ▲▼");
    bench.button(50); // Note: off again
    EXPECT_EQ(bench.c.keyboard.mode, KoalaController::Keyboard::Mode::off);
    bench.button(50, true);
    bench.c.handle(Push2Event::pad(17, 90, true)); // p 17 → k 9, the chopper
    EXPECT_EQ(bench.c.currentMessage(), "A10: ITS 10 CHOPS ON THE PADS");
}

} // namespace
} // namespace tandem
