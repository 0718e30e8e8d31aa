// The Push controller playing the simulated Koala through the bridge, in virtual time: what the
// controller predicts is what Koala does and saves.
#include "platform/linux/JsonFileDefaults.h"
#include "support/BridgeRig.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using testing::BridgeRig;

// Push pad p for Koala pad k of bank A: row k ÷ 4, column k mod 4.
int pushPadFor(int k) {
    return (k / 4) * 8 + k % 4;
}

TEST(PushControllerScenario, APadPlaysAndSelectsInKoalaAndTheSaveAnswersTheSelection) {
    BridgeRig push;
    push.startAll();
    ASSERT_EQ(push.controller().selected, 0); // A1 is Koala's selection to begin with
    push.press(pushPadFor(5));
    push.release(pushPadFor(5));
    push.run(0.01);
    ASSERT_FALSE(push.rig.koala.played().empty());
    EXPECT_EQ(push.rig.koala.played().back().pad, 5);
    EXPECT_EQ(push.rig.koala.song().selectedPad, 5);
    EXPECT_TRUE(push.controller().commandStamps.count("selection"));
    push.run(2); // Koala saves after a quiet second; the next file check reads it
    EXPECT_FALSE(push.controller().commandStamps.count("selection"));
    EXPECT_EQ(push.controller().session.selectedPad, 5);
}

TEST(PushControllerScenario, VolumeIsSavedThenThePredictionGoesAndTheKnobStays) {
    BridgeRig push;
    push.startAll();
    push.turn(0, -20); // A1's volume from 127 down by 10
    push.run(0.01);
    const int sent = push.controller().lastSent.at("/currPad/volume#0");
    EXPECT_EQ(sent, 117);
    EXPECT_NEAR(push.rig.koala.song().pads[0].vol, 117.0 / 127, 1e-9);
    push.run(2);
    EXPECT_TRUE(push.controller().commandStamps.empty());
    EXPECT_FALSE(push.controller().positions.count("/currPad/volume#0"));
    EXPECT_EQ(int(*push.controller().position("/currPad/volume")), sent); // from the save, the same
}

TEST(PushControllerScenario, DeleteAndUndoShowAtOnceAndKoalaAgrees) {
    BridgeRig push;
    push.startAll();
    const int pad = pushPadFor(2); // A3, loaded
    push.press(pad);
    push.button(118);
    push.release(pad);
    push.run(0.01);
    EXPECT_FALSE(push.controller().padInfo(2).loaded);
    EXPECT_FALSE(push.rig.koala.song().pads[2].loaded());
    push.run(2);
    EXPECT_FALSE(push.controller().session.pads.at(2).loaded);

    push.button(119);                                 // Undo
    EXPECT_TRUE(push.controller().padInfo(2).loaded); // before Koala has saved it
    push.run(0.01);
    EXPECT_TRUE(push.rig.koala.song().pads[2].loaded());
    push.run(2);
    EXPECT_EQ(push.controller().padInfo(2).label, "Hat Closed");
}

TEST(PushControllerScenario, ARecordingFromAStopIsSavedWhereThePreviewPutIt) {
    SimKoalaSong song = SimKoalaSong::standard();
    song.sequences[0] = {1, {}}; // one empty bar of four beats: the count-in is 2 s at 120 bpm
    song.quantizing = false;
    BridgeRig push;
    push.startAll(song);
    push.button(86);
    push.run(0.01);
    EXPECT_TRUE(push.rig.koala.recording());
    push.run(2.7); // past the count-in, into beat 1.4 of the recorded pass
    push.press(pushPadFor(1));
    push.run(0.3);
    push.release(pushPadFor(1));
    push.run(0.01);
    auto preview = push.controller().sequencePreviews.at(0).notes;
    ASSERT_EQ(preview.size(), 1u);
    push.button(86); // record off
    push.button(85); // stop
    push.run(2);
    const auto& saved = push.controller().session.notes.at(0);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].pad, 1);
    EXPECT_NEAR(saved[0].beat, preview[0].beat, 0.05); // Koala's clock and the preview agree
    EXPECT_NEAR(saved[0].length, preview[0].length, 0.05);
    EXPECT_FALSE(push.controller().sequencePreviews.count(0)); // the save took over
}

// A Koala that keeps the length (the default assumes it keeps the end).
TEST(PushControllerScenario, TrimBehaviourIsLearntFromKoalaAndKeptAcrossARestart) {
    JsonFileDefaults defaults;
    SimKoalaSong song = SimKoalaSong::standard();
    song.pads[1].end = 60000; // Snare: 88,200 frames, its end well before the sample's
    BridgeRig push(nullptr, &defaults);
    // Its audio, where the bridge learns the sample's length (in the rig's home folder).
    (void)FileSystem::local().createDirectories(SimKoala::samplePath(2).parent_path());
    ASSERT_TRUE(SimKoalaSample::silence(88200).write(SimKoala::samplePath(2)));
    push.rig.koala.options.startKeepsEnd = false;
    push.startAll(song);
    push.press(pushPadFor(1));
    push.release(pushPadFor(1));
    push.turn(6, 40); // START up by 20 of 127
    push.run(0.01);
    EXPECT_GT(push.rig.koala.song().pads[1].start, 10000);
    push.run(2.5);
    EXPECT_TRUE(push.controller().pendingTrims.empty());
    EXPECT_FALSE(push.controller().trimStartKeepsEnd);
    EXPECT_NEAR(*push.controller().padInfo(1).end, push.rig.koala.song().pads[1].end.value_or(88200), 1.0);

    // Tandem starts again: the behaviour comes back from the defaults on disk.
    JsonFileDefaults reread;
    KoalaController restarted(
        {push.rig.time, reread, KoalaController::trimBehaviorKeyFor(push.rig.workspace)},
        [](std::span<const uint8_t>) {});
    EXPECT_FALSE(restarted.trimStartKeepsEnd);
}

} // namespace
} // namespace tandem
