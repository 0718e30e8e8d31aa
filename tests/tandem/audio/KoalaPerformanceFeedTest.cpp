#include "tandem/audio/KoalaPerformanceFeed.h"

#include "base/SimTime.h"
#include "tandem/profiles/KoalaMap.h"

#include <gtest/gtest.h>

namespace tandem {
namespace {

using Bytes = std::vector<uint8_t>;
using Hit = KoalaPerformanceFeed::Hit;

class KoalaPerformanceFeedTest : public ::testing::Test {
protected:
    SimTime time;
    KoalaPerformanceFeed feed{time};

    void observe(Bytes bytes) { feed.observe(bytes); }
};

TEST_F(KoalaPerformanceFeedTest, PadAndKeyStrikesAndReleases) {
    time.advance(1.5);
    observe({0x9F, 36, 100});
    auto state = feed.snapshot();
    EXPECT_EQ(state.lastHit, (Hit{0, false, false, 36, 1.5}));
    EXPECT_EQ(state.held, (std::map<int, double>{{36, 1.5}}));

    time.advance(1);
    observe({0x8F, 36, 0});
    state = feed.snapshot();
    EXPECT_TRUE(state.held.empty());
    EXPECT_EQ(state.lastHit->time, 1.5); // a release is no strike
    observe({0x9F, 40, 1, 0x9F, 40, 0});
    EXPECT_TRUE(feed.snapshot().held.empty());

    observe({0x9C, 64, 90});
    EXPECT_EQ(feed.snapshot().lastHit, (Hit{64, false, true, 64, 2.5}));
    observe({0x9F, 100, 90, 0x9E, 40, 90, 0x90, 36, 90});
    EXPECT_EQ(feed.snapshot().lastHit->note, 64); // pad 64, channel 15 and channel 1 are not strikes
}

TEST_F(KoalaPerformanceFeedTest, ChopperModeOffsetsThePads) {
    feed.setChopperMode(true);
    observe({0x9F, 36, 100});
    EXPECT_FALSE(feed.snapshot().lastHit);
    EXPECT_TRUE(feed.snapshot().held.empty());
    observe({0x9F, 60, 100});
    EXPECT_EQ(feed.snapshot().lastHit, (Hit{0, true, false, 60, 0}));
    observe({0x9F, 123, 100});
    EXPECT_EQ(feed.snapshot().lastHit->pad, 63);
}

TEST_F(KoalaPerformanceFeedTest, EffectThresholdsAndSinceTimes) {
    // STUTTER is channel 14 controller 28; FILTER (centred) controller 30; CUTTER 31.
    observe({0xBD, 28, 3});
    EXPECT_FALSE(feed.snapshot().fx.count("STUTTER"));
    time.advance(1);
    observe({0xBD, 28, 4});
    EXPECT_EQ(feed.snapshot().fx.at("STUTTER"), 4);
    EXPECT_EQ(feed.snapshot().stutterSince, 1.0);
    time.advance(1);
    observe({0xBD, 28, 90});
    EXPECT_EQ(feed.snapshot().fx.at("STUTTER"), 90);
    EXPECT_EQ(feed.snapshot().stutterSince, 1.0);

    // The hold button joins and leaves while the knob is on: one start time throughout.
    feed.setManualStutter(true);
    observe({0xBD, 28, 0});
    time.advance(1);
    EXPECT_EQ(feed.snapshot().stutterSince, 1.0);
    feed.setManualStutter(false);
    EXPECT_EQ(feed.snapshot().stutterSince, std::nullopt);
    feed.setTouchStutter(true);
    EXPECT_EQ(feed.snapshot().stutterSince, 3.0);
    feed.setTouchStutter(false);

    for (uint8_t value : {58, 70}) {
        observe({0xBD, 30, value});
        EXPECT_EQ(feed.snapshot().fx.at("FILTER"), value);
    }
    for (uint8_t value : {59, 64, 69, 0}) {
        observe({0xBD, 30, 70});
        observe({0xBD, 30, value});
        EXPECT_FALSE(feed.snapshot().fx.count("FILTER")) << int(value);
    }
    observe({0xBD, 31, 127});
    EXPECT_EQ(feed.snapshot().cutterSince, 3.0);
    observe({0xBD, 31, 0});
    EXPECT_EQ(feed.snapshot().cutterSince, std::nullopt);
    observe({0xB0, 28, 127}); // not an effect key
    EXPECT_TRUE(feed.snapshot().fx.empty());
}

TEST_F(KoalaPerformanceFeedTest, TruncatedAndStrayBytesAreIgnoredButEarlierMessagesApply) {
    observe({0xF8, 0x24, 0x9F, 37, 100, 0xF8, 0x40, 0xBD});
    EXPECT_EQ(feed.snapshot().lastHit->note, 37);
    observe({0xBD, 28});
    EXPECT_TRUE(feed.snapshot().fx.empty());
    observe({0xC5, 3, 0xD0, 1, 0xE0, 0, 64, 0x9F, 38, 1});
    EXPECT_EQ(feed.snapshot().lastHit->note, 38);
    observe({});
    EXPECT_EQ(feed.snapshot().held.size(), 2u);
}

TEST_F(KoalaPerformanceFeedTest, EveryEffectIsRecognisedByItsCanonicalKey) {
    // Whatever key the canonical map gives an effect, that key switches it on and off.
    for (const std::string& name : KoalaPushProfile::fxNames()) {
        const std::string address = KoalaPushProfile::fxAddress(name);
        auto entry =
            std::find_if(KoalaPushProfile::canonicalMap().begin(), KoalaPushProfile::canonicalMap().end(),
                         [&](const KoalaMapEntry& e) { return e.first == address; });
        ASSERT_NE(entry, KoalaPushProfile::canonicalMap().end()) << name;
        auto on = entry->second.set(127), off = entry->second.set(0);
        ASSERT_TRUE(on && off) << name;
        observe(on->toVector());
        EXPECT_EQ(feed.snapshot().fx, (std::map<std::string, int>{{name, 127}})) << name;
        observe(off->toVector());
        EXPECT_TRUE(feed.snapshot().fx.empty()) << name;
    }
}

} // namespace
} // namespace tandem

#include "support/ScratchHome.h"
#include "tandem/audio/KoalaAudioSignature.h"

namespace tandem {
namespace {

TEST(KoalaAudioSignature, ChangesWithARewriteOrAReplacementAndNeedsTheFile) {
    testing::ScratchHome home;
    const auto file = home.path() / "7.wav";
    EXPECT_FALSE(KoalaAudioSignature::of(file));
    testing::ScratchHome::write(file, "RIFF one");
    auto first = KoalaAudioSignature::of(file);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path, file.string());
    EXPECT_EQ(first->size, 8u);
    EXPECT_NE(first->fileNumber, 0u);
    EXPECT_EQ(KoalaAudioSignature::of(file), first); // nothing changed, nothing differs

    // The same bytes under the same name, as a new file with the old date: only its number differs.
    testing::ScratchHome::write(home.path() / "new.wav", "RIFF one");
    std::filesystem::last_write_time(home.path() / "new.wav", std::filesystem::last_write_time(file));
    std::filesystem::rename(home.path() / "new.wav", file);
    auto replaced = KoalaAudioSignature::of(file);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->modified, first->modified);
    EXPECT_NE(replaced->fileNumber, first->fileNumber);
    EXPECT_NE(replaced, first);
    EXPECT_NE(KoalaAudioSignatureHash{}(*replaced), KoalaAudioSignatureHash{}(*first));
}

} // namespace
} // namespace tandem
