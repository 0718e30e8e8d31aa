#include "tandem/integration/KoalaSession.h"

#include "support/KoalaFiles.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tandem {
namespace {

using nlohmann::json;
using testing::KoalaFiles;
using testing::ScratchHome;

// A small but complete song, as Koala saves it.
struct Song {
    json sampler = json::parse(R"({
        "samples": [{"id": 7, "metadata": {"originalPath": "/Users/me/Samples/Kick Hard.wav"}},
                    {"id": 8, "metadata": {"originalPath": "loops/break.aif"}}],
        "pads": [{"pad": 0, "sampleId": 7, "label": "", "vol": 0.8, "pan": 0.25, "start": 0.1, "end": 0.9,
                  "looping": true, "oneshot": "true", "chokeGroup": 2.7, "bus": 1,
                  "eq": {"enabled": 1, "mid": {"freq": 1500, "gain": -3, "q": 0.7, "type": "notch"}}},
                 {"pad": "12", "sampleId": 8, "synth": "chopper",
                  "synthParams": {"TRIGGER MODE": 1, "ONE SHOT": 0,
                                  "padParams": {"label": "Break.wav ", "vol": 0.5, "bus": 2, "muted": true}},
                  "chops": {"slices": [{"start": 0.5}, {"start": 0.1}, {"nostart": 1}]}}]})");
    json sequence = json::parse(R"({
        "bpm": "92.5", "swing": 0.2, "currSequenceId": 1, "quantizing": true, "beatsPerBar": 3,
        "quantizeDivision": 8, "seqSnap": "Bar",
        "sequences": [{"noteSequence": {"pattern": {"numBars": 2, "notes": [
                          {"num": 3, "timeOffset": 8192, "length": 2048, "vel": 90},
                          {"num": 1, "timeOffset": 6144},
                          {"num": 2, "timeOffset": 6144, "length": 0, "subPad": -1},
                          {"num": 5, "timeOffset": 0, "subPad": 4, "pitch": 2},
                          {"num": 64, "timeOffset": 0}, {"timeOffset": 0}, {"num": 1}]}}},
                      {"noteSequence": {}}]})");
    json mixer = json::parse(R"({
        "buses": [{"volume": 0.7, "mute": true, "solo": "false",
                   "chain": [{"name": "REVERB", "bypass": true}, {"name": "DUB"}, {"bypass": false}]},
                  {"volume": 0.3, "solo": 1}],
        "master": {"volume": 0.9, "mute": false, "chain": [{"name": "COMPRESSOR", "bypass": "true"}]}})");
    json fx = [] {
        json effects = json::array();
        int i = 0;
        for (const char* name : {"crush", "pitch", "comb", "ring", "reverb", "stutter", "gate", "filter"}) {
            effects.push_back({{"name", name}, {"value", 0.1 * i++}});
        }
        json more = json::array();
        for (const char* name :
             {"CUTTER", "REVERSE", "DUB", "TEMPO DELAY", "TALKBOX", "VIBROFLANGE", "DIRTY", "COMPRESSOR"}) {
            more.push_back({{"name", name}, {"value", 0.1 * i++}});
        }
        return json{{"hold", "true"}, {"buses", {{"vanilla", effects}, {"strawberry", more}}}};
    }();
    json song = json::parse(
        R"({"keyboardMode": "true", "selectedPad": 17.9, "name": "Demo", "keyboardScale": "Minor"})");

    void save(const KoalaFiles& koala) const {
        ScratchHome::write(koala.song / "sampler/sampler.json", sampler.dump());
        ScratchHome::write(koala.song / "sequence.json", sequence.dump());
        ScratchHome::write(koala.song / "mixer.json", mixer.dump());
        ScratchHome::write(koala.song / "fx.json", fx.dump());
        ScratchHome::write(koala.song / "song.json", song.dump());
    }
};

std::optional<KoalaSession> readBack(const KoalaFiles& koala, KoalaSession::FrameLookup frames = {}) {
    return KoalaSession::readSaved(koala.song, frames, koala.settings);
}

TEST(KoalaSession, ReadsEverySectionByTheValueRules) {
    KoalaFiles koala;
    Song().save(koala);
    ScratchHome::write(koala.settings / "defaults.json", R"({"countInBars": 2})");
    auto session =
        readBack(koala, [](int64_t id) { return id == 7 ? std::optional(44100.0) : std::nullopt; });
    ASSERT_TRUE(session);

    ASSERT_EQ(session->pads.size(), 2u);
    const auto& kick = session->pads.at(0);
    EXPECT_EQ(kick.label, "Kick Hard");
    EXPECT_TRUE(kick.loaded);
    EXPECT_EQ(kick.frames, 44100.0);
    EXPECT_TRUE(kick.oneShot);
    EXPECT_EQ(kick.choke, 2);
    EXPECT_EQ(kick.eqFreq, (std::array<double, 3>{100, 1500, 8000}));

    const auto& chop = session->pads.at(12);
    EXPECT_TRUE(chop.chopper);
    EXPECT_EQ(chop.label, "Break");
    EXPECT_TRUE(chop.muted);
    EXPECT_EQ(chop.slices, (std::vector<double>{0.1, 0.5}));
    EXPECT_TRUE(chop.nextMode);
    EXPECT_EQ(chop.frames, std::nullopt);

    EXPECT_EQ(session->bpm, 92.5);
    EXPECT_EQ(session->bars, (std::vector<int64_t>{2, 1}));
    ASSERT_EQ(session->notes.size(), 2u);
    EXPECT_TRUE(session->notes[1].empty());
    using Note = KoalaSession::Note;
    EXPECT_EQ(session->notes[0], (std::vector<Note>{{5, 0, 0.25, 2, 100, 4},
                                                    {1, 1.5, 0.25, 0, 100, std::nullopt},
                                                    {2, 1.5, 1.0 / 4096, 0, 100, std::nullopt},
                                                    {3, 2, 0.5, 0, 90, std::nullopt}}));
    EXPECT_EQ(session->countInBars, 2);

    EXPECT_EQ(session->busVolume, (std::array<double, 4>{0.7, 0.3, 0, 0}));
    EXPECT_EQ(session->busFX[0], (std::vector<std::string>{"REVERB ·OFF", "DUB"}));

    EXPECT_EQ(session->fx[11], "TEMPO DELAY");
    EXPECT_TRUE(session->fxHold);
    EXPECT_TRUE(session->keyboard);
    EXPECT_EQ(session->selectedPad, 17);
}

TEST(KoalaSession, AllOrNothingOverTheFiveFilesButNotTheSettings) {
    for (const std::string& file : KoalaSession::files()) {
        for (const char* bad : {"", "[]", "{\"a\":", "42", "\"text\""}) {
            KoalaFiles koala;
            Song().save(koala);
            if (*bad) {
                ScratchHome::write(koala.song / file, bad);
            } else {
                std::filesystem::remove(koala.song / file);
            }
            EXPECT_FALSE(readBack(koala)) << file << " as '" << bad << "'";
        }
    }
    KoalaFiles koala;
    Song().save(koala);
    ScratchHome::write(koala.settings / "defaults.json", "not json");
    auto session = readBack(koala);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->countInBars, 0);
}

TEST(KoalaSession, EntriesAndListsThatBreakTheRulesArePassedOver) {
    struct Case {
        const char* name;
        std::function<void(Song&)> change;
        std::function<void(const KoalaSession&)> check;
    };
    const std::vector<Case> cases = {
        {"a non-object pad empties the pad list only", [](Song& s) { s.sampler["pads"].push_back(3); },
         [](const KoalaSession& k) {
             EXPECT_TRUE(k.pads.empty());
             EXPECT_EQ(k.bpm, 92.5);
         }},
        {"pad indices",
         [](Song& s) {
             s.sampler["pads"] =
                 json::parse(R"([{"pad": 64}, {"pad": -1}, {"pad": " 12"}, {"pad": "12"}, {"pad": 1e300},
                                                {"pad": "nan"}, {"pad": "0x10"}, {"pad": 5, "synth": "Sine", "type": "synth"}])");
         },
         [](const KoalaSession& k) {
             ASSERT_EQ(k.pads.size(), 2u);
             EXPECT_EQ(k.pads.at(12).label, "");
             EXPECT_EQ(k.pads.at(5).label, "Sine");
             EXPECT_TRUE(k.pads.at(5).loaded);
         }},
        {"chopper without padParams reads the pad itself and is one-shot",
         [](Song& s) {
             s.sampler["pads"] =
                 json::parse(R"([{"pad": 3, "synth": "CHOPPER", "synthParams": {}, "label": "  \t ",
                                                "vol": 0.4, "muted": "true", "bus": 3}])");
         },
         [](const KoalaSession& k) {
             const auto& pad = k.pads.at(3);
             EXPECT_EQ(pad.label, "CHOPPER");
             EXPECT_TRUE(pad.muted);
             EXPECT_TRUE(pad.oneShot);
         }},
        {"a blank label falls back to the sample name",
         [](Song& s) { s.sampler["pads"] = json::parse(R"([{"pad": 1, "label": " ", "sampleId": 8}])"); },
         [](const KoalaSession& k) { EXPECT_EQ(k.pads.at(1).label, "break"); }},
        {"counts are clamped",
         [](Song& s) {
             s.sequence["beatsPerBar"] = 0;
             s.sequence["quantizeDivision"] = -4;
             s.sequence["sequences"][0]["noteSequence"]["pattern"]["numBars"] = 0;
         },
         [](const KoalaSession& k) {
             EXPECT_EQ(k.beatsPerBar, 1);
             EXPECT_EQ(k.quantizeDivision, 1);
             EXPECT_EQ(k.bars[0], 1);
         }},
        {"an effect without a name takes no value, so values stay beside their names",
         [](Song& s) {
             auto& vanilla = s.fx["buses"]["vanilla"];
             vanilla.insert(vanilla.begin() + 2, json::object({{"value", 9.0}}));
         },
         [](const KoalaSession& k) {
             ASSERT_EQ(k.fxValues.size(), 16u);
             EXPECT_EQ(k.fx[2], "COMB");
             EXPECT_NEAR(k.fxValues[2], 0.2, 1e-9);
             EXPECT_NEAR(k.fxValues[15], 1.5, 1e-9);
         }},
        {"number strings: decimal literals only, a vanishing one is zero",
         [](Song& s) {
             s.sampler["pads"] =
                 json::parse(R"([{"pad": 1, "vol": "1e-400", "pan": "1e400", "pitch": "+2.5", "tone": "0x10",
                                                "attack": " 1", "release": "1.", "start": ".5", "end": "inf"}])");
         },
         [](const KoalaSession& k) {
             const auto& pad = k.pads.at(1);
             EXPECT_EQ(pad.vol, 0.0);
             EXPECT_EQ(pad.pan, 0.5);
             EXPECT_EQ(pad.tone, 0);
             EXPECT_EQ(pad.attack, 0);
             EXPECT_EQ(pad.start, 0.5);
             EXPECT_EQ(pad.end, std::nullopt);
         }},
        {"wrong kinds everywhere keep defaults",
         [](Song& s) {
             s.sequence = json::parse(R"({"bpm": [1], "swing": {}, "seqSnap": 3, "sequences": {"a": 1}})");
             s.mixer = json::parse(R"({"buses": "x", "master": [1]})");
             s.song = json::parse(R"({"name": 5, "selectedPad": "x", "keyboardScale": null})");
         },
         [](const KoalaSession& k) {
             EXPECT_EQ(k.bpm, std::nullopt);
             EXPECT_EQ(k.sequenceSnap, "None");
             EXPECT_TRUE(k.bars.empty());
             EXPECT_EQ(k.busVolume, KoalaSession().busVolume);
             EXPECT_EQ(k.name, "");
             EXPECT_EQ(k.selectedPad, std::nullopt);
             EXPECT_EQ(k.scale, std::nullopt);
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        KoalaFiles koala;
        Song song;
        test.change(song);
        song.save(koala);
        auto session = readBack(koala);
        ASSERT_TRUE(session);
        test.check(*session);
    }
}

TEST(KoalaSession, MalformedInputNeverCrashesAndNeverGivesAPartialSong) {
    // (Wrong kinds of value in readable JSON are the table above's; random bytes are the fuzzer's.)
    KoalaFiles koala;
    const Song base;
    // A number beyond a double's range is not readable JSON (as for Koala's own reader).
    base.save(koala);
    ScratchHome::write(koala.song / "song.json", R"({"selectedPad": 1e999})");
    EXPECT_FALSE(readBack(koala));
    // Deep nesting.
    base.save(koala);
    ScratchHome::write(koala.song / "song.json",
                       "{\"name\":" + std::string(100000, '[') + std::string(100000, ']') + "}");
    auto deep = readBack(koala);
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->name, "");
    ScratchHome::write(koala.song / "song.json", "{\"name\":" + std::string(100000, '['));
    EXPECT_FALSE(readBack(koala));
}

} // namespace
} // namespace tandem
