// Predictions against Koala's saves, in virtual time.
#include "tandem/push/KoalaController.h"

#include "platform/sim/SimWorkspace.h"
#include "support/ControllerBench.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using namespace tandem::testing;

const std::string volume0 = "position:/currPad/volume#0";

TEST(KoalaControllerTracking, AMovingKnobKeepsItsPredictionAndTwentyQuietSecondsGiveItBack) {
    Bench bench;
    for (int i = 0; i < 30; ++i) {
        bench.c.handle(Push2Event::encoder(0, i % 2 ? 2 : -2)); // to and fro, never the same value long
        bench.run(1);
    }
    EXPECT_TRUE(bench.c.commandStamps.count(volume0));
    bench.run(18.5); // the last move was 19.5 s ago
    bench.run(1);
    EXPECT_FALSE(bench.c.commandStamps.count(volume0));
    EXPECT_EQ(bench.c.position("/currPad/volume"), 63.5); // the saved 0.5 shows again
}

TEST(KoalaControllerTracking, EachCommandWaitsForItsOwnFileAndAFreshRestedSave) {
    Bench bench;
    bench.c.page = KoalaController::Page::mixer;
    bench.c.handle(Push2Event::button(21, true)); // bus B mute
    bench.c.handle(Push2Event::button(21, false));
    bench.c.selected = 3;
    bench.c.page = KoalaController::Page::pad;
    bench.c.handle(Push2Event::encoder(0, 4));
    ASSERT_TRUE(bench.c.commandStamps.count("flag:mute.2"));
    ASSERT_TRUE(bench.c.commandStamps.count("position:/currPad/volume#3"));
    bench.run(1);

    // Only mixer.json was saved since: it answers for the mute, not for pad 4's volume.
    auto dates = bench.c.savedDates;
    dates["mixer.json"] = Bench::dateAt(bench.time.now());
    KoalaSession saved = song();
    saved.busMute[1] = true;
    bench.readDated(saved, dates);
    bench.run(0.01);
    EXPECT_FALSE(bench.c.commandStamps.count("flag:mute.2"));
    EXPECT_FALSE(bench.c.flipped.count("mute.2"));
    EXPECT_TRUE(bench.c.commandStamps.count("position:/currPad/volume#3"));

    // A file never saved before is answered by its first save, once the value has rested 0.5 s.
    Bench fresh;
    fresh.c.savedDates.erase("fx.json");
    std::map<std::string, int64_t> none = fresh.c.savedDates;
    fresh.readDated(song(), none);
    fresh.button(51, true); // FX HOLD
    ASSERT_TRUE(fresh.c.commandStamps.count("flag:fxHold"));
    fresh.run(0.2);
    none["fx.json"] = Bench::dateAt(fresh.time.now());
    fresh.readDated(song(), none);
    EXPECT_TRUE(fresh.c.commandStamps.count("flag:fxHold")); // not rested yet
    fresh.run(0.4);
    EXPECT_FALSE(fresh.c.commandStamps.count("flag:fxHold"));
}

TEST(KoalaControllerTracking, AReadBegunBeforeACommandOrASaveMadeBeforeItAnswersNothing) {
    Bench bench;
    const uint64_t readBegan = bench.c.commandRevision; // a read starts …
    bench.c.handle(Push2Event::encoder(0, 4));          // … the knob moves …
    bench.run(1);
    // … and the read comes back with a save dated after the move: it still began before it.
    bench.read(song(), bench.time.now(), readBegan);
    bench.run(0.1);
    EXPECT_TRUE(bench.c.commandStamps.count(volume0));
    EXPECT_EQ(bench.c.position("/currPad/volume"), 65.5); // the knob does not jump back

    // A read begun after the move but of a save made before it answers nothing either.
    bench.read(song(), bench.time.now() - 2);
    bench.run(0.1);
    EXPECT_TRUE(bench.c.commandStamps.count(volume0));

    // A read begun after the move, of a save after it: acknowledged, and the saved value shows.
    KoalaSession saved = song();
    saved.pads[0].vol = 65.0 / 127.0;
    bench.read(saved, bench.time.now());
    bench.run(0.1);
    EXPECT_FALSE(bench.c.commandStamps.count(volume0));
    EXPECT_NEAR(*bench.c.position("/currPad/volume"), 65.0, 1e-9);
}

TEST(KoalaControllerTracking, SelectionKeyboardAndTheFirstReadFollowTheSavedSong) {
    Bench bench;
    bench.c.handle(Push2Event::pad(2, 100, true)); // select A3 locally while a read is in flight
    KoalaSession saved = song();
    saved.selectedPad = 5;
    bench.read(saved, bench.time.now(), std::nullopt, false);
    EXPECT_EQ(bench.c.selected, 2);
    bench.read(saved, bench.time.now());
    EXPECT_EQ(bench.c.selected, 5);

    saved.keyboard = true;
    bench.read(saved, bench.time.now());
    EXPECT_EQ(bench.c.keyboard.mode, KoalaController::Keyboard::Mode::on);
    EXPECT_EQ(bench.c.keyboard.pad, 5);
    saved.keyboard = false;
    bench.c.keyboard = {KoalaController::Keyboard::Mode::choosing, 0};
    bench.read(saved, bench.time.now());
    EXPECT_EQ(bench.c.keyboard.mode, KoalaController::Keyboard::Mode::choosing); // choosing ignores it

    // Predictions made before the first read do not survive it.
    ScratchHome home;
    SimTime time;
    SimDefaults defaults;
    KoalaController early({time, defaults, "k"}, [](std::span<const uint8_t>) {});
    early.setPosition("/mixer/channels/1/volume", 100);
    early.handle(Push2Event::encoder(0, 3));
    EXPECT_FALSE(early.positions.empty());
    early.setSession(song(), true, std::nullopt, std::nullopt, {}, early.commandRevision);
    EXPECT_TRUE(early.positions.empty());
    EXPECT_TRUE(early.commandStamps.empty());
    EXPECT_TRUE(early.sessionRead);
}

TEST(KoalaControllerTracking, TrimsConfirmWithinAFrameAndTeachKoalasStartBehaviour) {
    auto withEnd = [](double end) {
        KoalaSession saved = song();
        saved.pads[0].end = end;
        return saved;
    };
    {
        SCOPED_TRACE("LENGTH confirmed by a save within a frame");
        Bench bench(withEnd(30000));
        bench.c.setPosition("/currPad/sample/length", 63.5); // end = 22050
        ASSERT_EQ(bench.c.pendingTrims.count(0), 1u);
        EXPECT_DOUBLE_EQ(bench.c.padInfo(0).end.value_or(0), 22050);
        bench.run(1);
        KoalaSession saved = withEnd(22050.6);
        bench.read(saved, bench.time.now());
        EXPECT_TRUE(bench.c.pendingTrims.empty());
        EXPECT_DOUBLE_EQ(bench.c.padInfo(0).end.value_or(0), 22050.6);
    }
    for (bool keepsEnd : {false, true}) {
        SCOPED_TRACE(keepsEnd ? "Koala keeps the end" : "Koala keeps the length");
        Bench bench(withEnd(30000));
        ASSERT_TRUE(bench.c.trimStartKeepsEnd);                      // until learnt
        bench.c.setPosition("/currPad/sample/start", 63.5);          // start 22050
        EXPECT_DOUBLE_EQ(bench.c.padInfo(0).end.value_or(0), 30000); // predicted with the default
        bench.run(1);
        KoalaSession saved = withEnd(keepsEnd ? 30000 : 44100);
        saved.pads[0].start = 22050;
        bench.read(saved, bench.time.now());
        EXPECT_EQ(bench.c.trimStartKeepsEnd, keepsEnd);
        EXPECT_EQ(bench.defaults.boolean("Tandem", "KoalaTrimStartKeepsEnd.2.0.11"), keepsEnd);
    }
    {
        SCOPED_TRACE("a gesture whose two outcomes agree teaches nothing");
        Bench bench(withEnd(44100));
        bench.c.setPosition("/currPad/sample/start", 63.5);
        bench.run(1);
        KoalaSession saved = song();
        saved.pads[0].start = 22050;
        bench.read(saved, bench.time.now());
        EXPECT_FALSE(bench.defaults.boolean("Tandem", "KoalaTrimStartKeepsEnd.2.0.11"));
    }
}

TEST(KoalaControllerTracking, PreviewsShowTempoBarsAndRecordingsBeforeKoalaSaves) {
    Bench bench;
    bench.c.page = KoalaController::Page::seq;
    bench.c.handle(Push2Event::encoder(2, 6)); // BPM +1
    EXPECT_EQ(bench.c.bpm(), 121.0);
    bench.c.handle(Push2Event::encoder(1, 12)); // BARS +2
    EXPECT_EQ(bench.c.knobText(*KoalaController::knobs(KoalaController::Page::seq)[1]), "3 BARS");
    bench.button(117); // ×2: bars and notes doubled
    EXPECT_EQ(bench.c.sequencePreviews[0].bars, 6);
    EXPECT_EQ(bench.c.sequencePreviews[0].notes.size(), 2u);
    EXPECT_DOUBLE_EQ(bench.c.sequencePreviews[0].notes[1].beat, 12.0);

    // Record from a stop: one pass counted in (1 bar of 4 beats at 120 bpm = 2 s), then the pad
    // lands at its beat.
    Bench record;
    record.button(86);
    record.run(1.0);
    record.c.handle(Push2Event::pad(1, 100, true)); // during the count-in: not recorded
    record.c.handle(Push2Event::pad(1, 0, false));
    record.run(1.75); // beat 5.5 of a 4-beat sequence: beat 1.5
    record.c.handle(Push2Event::pad(1, 100, true));
    record.run(0.25);
    record.c.handle(Push2Event::pad(1, 0, false));
    const auto& notes = record.c.sequencePreviews[0].notes;
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NEAR(notes[1].beat, 1.5, 0.02);
    EXPECT_EQ(notes[1].pad, 1);
    EXPECT_NEAR(notes[1].length, 0.5, 0.02);
    EXPECT_TRUE(record.c.commandStamps.count("sequence:0"));
}

TEST(KoalaControllerTracking, TheTrimBehaviourIsKeptPerKoalaVersion) {
    SimWorkspace workspace;
    EXPECT_EQ(KoalaController::trimBehaviorKeyFor(workspace), "KoalaTrimStartKeepsEnd.unknown");
    struct Koala final : SimApplication {
        std::string bundleIdentifier() const override { return "com.elf-audio.koala-mac"; }
        std::string name() const override { return "Koala"; }
        std::filesystem::path location() const override { return "/Applications/koala.app"; }
        std::optional<std::string> version() const override { return "2.0.11"; }
        bool quitRequested(int32_t) override { return true; }
    } koala;
    workspace.install(koala, false); // not registered: found at its usual place
    EXPECT_EQ(KoalaController::trimBehaviorKeyFor(workspace), "KoalaTrimStartKeepsEnd.2.0.11");
}

} // namespace
} // namespace tandem
