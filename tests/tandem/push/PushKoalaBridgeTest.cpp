// The Push bridge in virtual time on the simulated Mac: MIDI both ways, the display and its keep-alive,
// the saved song's snapshots, the waveform cache and preloader, folder watches, start and stop.
#include "base/ActivityLog.h"
#include "platform/sim/FaultyFileSystem.h"
#include "support/BridgeRig.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tandem {
namespace {

using testing::BridgeRig;
using Shape = SimKoalaSample;
namespace fs = std::filesystem;

std::string logText() {
    ActivityLog::flush();
    return testing::ScratchHome::read(ActivityLog::path());
}

std::string samplePath(int64_t id) {
    return KoalaWaveformReader::samplePath(id).string();
}

// Loads a sample onto each pad and lets the bridge read and preload them all.
std::vector<int64_t> loadSamples(BridgeRig& r, const std::vector<int>& pads) {
    std::vector<int64_t> ids;
    for (int pad : pads) {
        auto id = r.rig.koala.loadSample(pad, Shape::sine(110 * (pad + 1), 22050));
        if (!id) throw std::runtime_error("no sample");
        ids.push_back(*id);
    }
    r.run(3);
    return ids;
}

TEST(PushKoalaBridge, PadsReachKoalaAndTheFeedOnceKoalasSettingsMatch) {
    BridgeRig r;
    // Koala as it was before Tandem set it up: no map, no Push settings.
    (void)FileSystem::local().createDirectories(Paths::koalaSettings());
    (void)FileSystem::local().writeFile(Paths::koalaSettings() / "defaults.json", "{}");
    r.rig.push.plug();
    ASSERT_TRUE(r.bridge->start());
    r.run(1);
    r.bridge->prepareForKoalaLaunch();
    EXPECT_FALSE(r.bridge->areControlsReady());
    r.tapPad(5);
    EXPECT_TRUE(r.controller().heldPads.empty());
    EXPECT_FALSE(r.feed.snapshot().lastHit);

    // Set up and launched, Koala hears "Tandem Push".
    r.koala();
    r.bridge->prepareForKoalaLaunch();
    EXPECT_TRUE(r.bridge->areControlsReady());
    r.tapPad(5);
    ASSERT_FALSE(r.rig.koala.played().empty());
    EXPECT_EQ(r.rig.koala.played().back().pad, 5);
    ASSERT_TRUE(r.feed.snapshot().lastHit);
    EXPECT_EQ(r.feed.snapshot().lastHit->pad, 5);
}

TEST(PushKoalaBridge, AnUnchangedViewSendsNoFrameYetTheDisplayIsKeptAwake) {
    BridgeRig r;
    r.startAll();
    r.run(5); // every message has gone
    const uint64_t revision = r.bridge->device().frameRevision();
    const int shown = r.rig.pushDisplay.framesShown();
    r.run(0.3);
    EXPECT_EQ(r.bridge->device().frameRevision(), revision);
    r.run(2);
    EXPECT_EQ(r.bridge->device().frameRevision(), revision);
    // The same frame again at least every 0.55 s.
    EXPECT_GE(r.rig.pushDisplay.framesShown(), shown + 3);

    // A change draws a new frame at once.
    r.rig.push.button(57, true);
    r.run(0.01);
    EXPECT_GT(r.bridge->device().frameRevision(), revision);
    EXPECT_EQ(r.bridge->lastView()->message, "FULL LEVEL · VELOCITY 127");
    EXPECT_EQ(r.preview.shown, r.bridge->lastView());
}

TEST(PushKoalaBridge, SongPositionPointersSetTheTicksAcrossPackets) {
    BridgeRig r;
    r.startAll();
    r.bridge->receiveClock({0xF2, 0x10, 0x02});
    EXPECT_EQ(r.controller().ticks, 1632);
    r.controller().ticks = 0;
    r.bridge->receiveClock({0xF2, 0x10});
    r.bridge->receiveClock({0x02});
    EXPECT_EQ(r.controller().ticks, 1632);
    r.controller().ticks = 0;
    r.bridge->receiveClock({0xF2, 0x10, 0x90, 0x02}); // a status between the data bytes drops it
    EXPECT_EQ(r.controller().ticks, 0);
}

TEST(PushKoalaBridge, ASongChangedDuringItsReadIsNotAppliedAndIsReadAgainAtOnce) {
    FaultyFileSystem disk;
    BridgeRig r(&disk);
    r.startAll();
    const fs::path mixer = Paths::koalaSong() / "mixer.json";
    const std::string bytes = testing::ScratchHome::read(mixer);
    auto dateOf = [&] { return FileSystem::local().attributes(mixer)->modified; };

    // A save of the mixer, then another while the reader is on the last file of the song.
    testing::ScratchHome::write(mixer, bytes);
    const int64_t first = dateOf();
    bool rewritten = false;
    int64_t second = 0;
    disk.beforeEach = [&](FaultyFileSystem::Operation operation, const fs::path& path) {
        if (operation != FaultyFileSystem::Operation::read || path.filename() != "song.json" || rewritten)
            return;
        rewritten = true;
        do { // the clock's next tick, so the date surely moves
            testing::ScratchHome::write(mixer, bytes);
            second = dateOf();
        } while (second == first);
    };
    const int readsBefore = disk.calls(FaultyFileSystem::Operation::read);
    std::vector<int64_t> applied;
    for (int step = 0; step < 400; ++step) {
        r.run(0.001);
        const auto saved = r.controller().savedDates.find("mixer.json");
        const int64_t date = saved == r.controller().savedDates.end() ? 0 : saved->second;
        if (applied.empty() || applied.back() != date) applied.push_back(date);
    }
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(std::count(applied.begin(), applied.end(), first), 0);
    EXPECT_EQ(applied.back(), second);
    // Two whole reads (five song files each), the second straight after the first.
    EXPECT_GE(disk.calls(FaultyFileSystem::Operation::read) - readsBefore, 10);
}

TEST(PushKoalaBridge, AnUnreadableSongIsLeftAsItWasAndTriedAgainEachTick) {
    FaultyFileSystem disk;
    BridgeRig r(&disk);
    r.startAll();
    const std::string name = r.controller().session.name;
    ASSERT_FALSE(name.empty());
    testing::ScratchHome::write(Paths::koalaSong() / "song.json", "{ \"name\": \"Half");
    r.run(0.2);
    const int reads = disk.calls(FaultyFileSystem::Operation::read);
    r.run(0.15);
    EXPECT_GT(disk.calls(FaultyFileSystem::Operation::read), reads);
    EXPECT_EQ(r.controller().session.name, name);

    SimKoalaSong fixed = SimKoalaSong::standard();
    fixed.name = "Fixed";
    r.rig.koala.seed(fixed);
    r.run(0.2);
    EXPECT_EQ(r.controller().session.name, "Fixed");
}

TEST(PushKoalaBridge, ACachedPadIsDrawnInTheSameRefreshWithoutARead) {
    BridgeRig r;
    r.startAll();
    const auto ids = loadSamples(r, {0, 1, 2});
    for (int64_t id : ids)
        EXPECT_TRUE(r.bridge->isCached(*KoalaAudioSignature::of(samplePath(id))));

    const size_t decodes = r.decodes.size();
    r.rig.push.pressPad(BridgeRig::pushPadFor(2));
    r.run(0.001); // the MIDI thread hands the press over; nothing else is due yet
    ASSERT_TRUE(r.bridge->lastView());
    EXPECT_EQ(r.bridge->lastView()->pad, "A3");
    EXPECT_TRUE(r.bridge->lastView()->wave);
    EXPECT_EQ(r.decodes.size(), decodes);
    r.rig.push.releasePad(BridgeRig::pushPadFor(2));
}

TEST(PushKoalaBridge, ARewrittenOrReplacedSampleReplacesItsCacheEntry) {
    BridgeRig r;
    r.startAll();
    const auto ids = loadSamples(r, {0, 1});
    const size_t cached = r.bridge->cachedWaves();
    const auto before = *KoalaAudioSignature::of(samplePath(ids[1]));

    ASSERT_TRUE(r.rig.koala.rewriteSample(ids[1], Shape::ramp(30000)));
    r.run(2);
    const auto rewritten = *KoalaAudioSignature::of(samplePath(ids[1]));
    ASSERT_NE(rewritten, before);
    EXPECT_FALSE(r.bridge->isCached(before));
    EXPECT_TRUE(r.bridge->isCached(rewritten));

    ASSERT_TRUE(r.rig.koala.replaceSample(ids[1], Shape::constant(0.5, 20000)));
    r.run(2);
    const auto replaced = *KoalaAudioSignature::of(samplePath(ids[1]));
    EXPECT_FALSE(r.bridge->isCached(rewritten));
    EXPECT_TRUE(r.bridge->isCached(replaced));
    EXPECT_EQ(r.bridge->cachedWaves(), cached);
}

TEST(PushKoalaBridge, FailedReadsWaitBeforeTheyAreTriedAgain) {
    BridgeRig r;
    r.startAll();
    const auto ids = loadSamples(r, {0, 1});
    // Both files damaged: A1 is the shown pad, A2 only preloaded.
    for (int64_t id : ids)
        testing::ScratchHome::write(samplePath(id), "RIFF but not a wave at all");
    r.run(4);
    // The time between one failed read of a file and the next.
    auto gaps = [](const std::vector<BridgeRig::Decode>& decodes) {
        std::vector<double> between;
        std::optional<double> last;
        for (const auto& decode : decodes) {
            if (decode.decoded) continue;
            if (last) between.push_back(decode.began - *last);
            last = decode.began;
        }
        return between;
    };
    const auto shown = r.decodesOf(samplePath(ids[0]), true);
    ASSERT_GE(gaps(shown).size(), 4u);
    for (double gap : gaps(shown)) {
        EXPECT_GE(gap, 0.3 - 1e-9);
        EXPECT_LE(gap, 0.3 + 0.05 + r.decodeTime + 0.01);
    }
    EXPECT_FALSE(r.bridge->lastView()->wave);
}

TEST(PushKoalaBridge, PreloadsGoInAscendingOrderAndGiveWayToTheShownPad) {
    BridgeRig r;
    r.decodeTime = 0.2;
    r.startAll();
    std::vector<int64_t> ids;
    for (int pad : {3, 1, 2, 0}) // loaded out of order: ids ascend with the loading, not the pads
        ids.push_back(*r.rig.koala.loadSample(pad, Shape::ramp(8000)));
    // A1, the shown pad, is read first; while the preloader works on A2, show A3, not yet decoded.
    r.run(0.5);
    r.tapPad(2);
    r.run(4);
    std::vector<std::string> order;
    for (const auto& decode : r.decodes) {
        EXPECT_FALSE(decode.besideShown && !decode.stopped) << decode.path;
        if (!decode.shown && !decode.stopped && decode.decoded &&
            std::find(order.begin(), order.end(), decode.path) == order.end())
            order.push_back(decode.path);
    }
    std::vector<std::string> expected;
    for (int64_t id : ids) {
        if (std::find(order.begin(), order.end(), samplePath(id)) != order.end())
            expected.push_back(samplePath(id));
    }
    EXPECT_EQ(order, expected);
    EXPECT_GE(order.size(), 2u);
    // The shown pad's read stopped A2's preload in flight: its result was dropped and A2 read again.
    EXPECT_EQ(r.decodesOf(samplePath(ids[1]), false).size(), 2u);
    EXPECT_TRUE(
        std::any_of(r.decodes.begin(), r.decodes.end(), [](const auto& d) { return d.shown && d.decoded; }));
    for (int64_t id : ids)
        EXPECT_TRUE(r.bridge->isCached(*KoalaAudioSignature::of(samplePath(id))));
}

TEST(PushKoalaBridge, LateCompletionsAfterStopAreIgnoredAndAStartRebuildsEverything) {
    BridgeRig r;
    r.decodeTime = 0.5;
    r.startAll();
    r.rig.koala.loadSample(0, Shape::sine(220, 8000));
    r.run(0.3); // the read of A1's wave is under way
    ASSERT_FALSE(r.decodes.empty());
    r.bridge->stop();
    r.bridge->stop();
    EXPECT_FALSE(r.bridge->isRunning());
    EXPECT_FALSE(r.bridge->controller());
    EXPECT_FALSE(r.preview.isOpen);
    r.run(2);
    EXPECT_EQ(r.bridge->cachedWaves(), 0u);
    EXPECT_EQ(logText().find("Push waveform ready: "), std::string::npos);
    EXPECT_EQ(r.rig.folders.watches(), 0u);

    const int ready = r.ready;
    ASSERT_TRUE(r.bridge->start());
    r.bridge->prepareForKoalaLaunch();
    r.run(3);
    EXPECT_EQ(r.ready, ready + 1); // a new start reports its first connection again
    EXPECT_TRUE(r.preview.isOpen);
    EXPECT_EQ(r.preview.titles.back(), "Tandem · Push 2 · Saved song / local control view");
    EXPECT_EQ(r.bridge->cachedWaves(), 1u);
    EXPECT_EQ(r.rig.folders.watches(), 2u);
}

TEST(PushKoalaBridge, WaitsForThePushAndReportsEachConnectionOnce) {
    BridgeRig r;
    r.koala();
    ASSERT_TRUE(r.bridge->start());
    r.bridge->prepareForKoalaLaunch();
    r.run(1);
    ASSERT_FALSE(r.statuses.empty());
    EXPECT_EQ(r.statuses.back(), "Waiting for Push 2 · connect USB and power");
    EXPECT_EQ(r.ready, 0);
    EXPECT_EQ(r.bridge->lastView()->status, "PUSH 2 DISCONNECTED");

    r.rig.push.plug();
    r.run(1);
    EXPECT_EQ(r.ready, 1);
    EXPECT_NE(std::find(r.statuses.begin(), r.statuses.end(), "Push 2 connected · preparing Koala"),
              r.statuses.end());
    r.run(5);
    EXPECT_EQ(r.ready, 1);

    // Held pads are let go when the Push goes.
    r.rig.push.pressPad(BridgeRig::pushPadFor(1));
    r.run(0.01);
    ASSERT_FALSE(r.controller().heldPads.empty());
    r.rig.push.unplug();
    r.run(0.5);
    EXPECT_TRUE(r.controller().heldPads.empty());
    EXPECT_EQ(r.statuses.back(), "Waiting for Push 2 · connect USB and power");
    EXPECT_EQ(r.preview.shown->status, "PUSH 2 DISCONNECTED");
}

TEST(PushKoalaBridge, AReplacedSongFolderIsWatchedAgain) {
    BridgeRig r;
    r.startAll();
    const size_t made = r.rig.folders.made();
    const fs::path song = Paths::koalaSong();
    fs::rename(song, song.parent_path() / "default-old");
    fs::copy(song.parent_path() / "default-old", song, fs::copy_options::recursive);
    // Until the next look at the folders the old watches follow the folder that went away.
    SimKoalaSong early = SimKoalaSong::standard();
    early.name = "Early";
    r.rig.koala.seed(early);
    r.run(0.001);
    EXPECT_NE(r.controller().session.name, "Early");
    r.run(0.2);
    EXPECT_EQ(r.rig.folders.made(), made + 2); // the song folder and its "sampler" folder
    EXPECT_EQ(r.rig.folders.watches(), 2u);

    // The new folder's events reach the bridge: a save is read at once, before any file tick.
    SimKoalaSong renamed = SimKoalaSong::standard();
    renamed.name = "Renamed";
    r.rig.koala.seed(renamed);
    r.run(0.01);
    EXPECT_EQ(r.controller().session.name, "Renamed");
}

} // namespace
} // namespace tandem
