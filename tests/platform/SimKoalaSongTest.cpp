// The simulated Koala's MIDI and song side: its settings and map taken at launch, the song files it
// saves, read back with Tandem's own reader, and the sample files it writes, rewrites and replaces.
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"
#include "tandem/integration/KoalaSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

namespace tandem {
namespace {

using testing::KoalaFiles;
using testing::ScratchHome;
using Song = SimKoala::Song;

struct MapEntry {
    std::string address;
    int channel;
    std::string type;
    int value;
};

std::string mapJson(const std::vector<MapEntry>& entries) {
    std::string text = R"({"type": "midiMap", "mappings": [)";
    for (size_t i = 0; i < entries.size(); ++i) {
        const MapEntry& e = entries[i];
        text += (i ? ", " : "") + std::string(R"({"address": ")") + e.address + R"(", "key": {"channel": )" +
                std::to_string(e.channel) + R"(, "type": ")" + e.type + R"(", "value": )" +
                std::to_string(e.value) + "}}";
    }
    return text + "]}";
}

int64_t modifiedNanoseconds(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return -1;
    return int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

// A scratch home with the rig, a "Tandem" source to play Koala from and helpers to run Koala.
struct Bench {
    KoalaFiles files;
    SimRig rig{files.home.path() / "rig"};
    MidiClientRef tandem = 0;
    MidiEndpointRef source = 0;

    Bench() {
        rig.midi.clientCreate("Tandem", {}, &tandem);
        rig.midi.sourceCreate(tandem, "Tandem", &source);
    }

    void settings(const std::string& defaults, const std::vector<MapEntry>& map = {}) {
        files.writeSettings(defaults, mapJson(map));
    }
    // The usual set-up: pads on channel 1 from note 48, the map on, these keys.
    void mapped(const std::vector<MapEntry>& map) {
        settings(R"({"midiInputChannel": 1, "keyboardMidiChannel": 2, "midiNoteOffset": 48,
                     "useMidiMapping": true})",
                 map);
    }
    void launch() {
        rig.workspace.openApplication(rig.koala.location(), [](auto, auto) {});
        rig.time.advance(1.5);
        ASSERT_TRUE(rig.koala.running());
    }
    void quit() {
        rig.workspace.terminate(*rig.koala.processIdentifier());
        rig.time.advance(1);
        ASSERT_FALSE(rig.koala.running());
    }
    void send(std::vector<uint8_t> bytes) {
        std::vector<uint8_t> buffer(64 + bytes.size());
        MidiPacketListBuilder builder(buffer);
        builder.add(rig.time.hostTime(), bytes);
        rig.midi.received(source, builder.list());
        rig.time.runUntilIdle();
    }
    void press(int channel, int note, int velocity = 100) {
        send({uint8_t(0x90 | (channel - 1)), uint8_t(note), uint8_t(velocity)});
    }
    void release(int channel, int note) { send({uint8_t(0x80 | (channel - 1)), uint8_t(note), 0}); }
    void tap(int channel, int note) {
        press(channel, note);
        release(channel, note);
    }
    void turn(int channel, int controller, int value) {
        send({uint8_t(0xB0 | (channel - 1)), uint8_t(controller), uint8_t(value)});
    }
    std::optional<KoalaSession> saved() {
        return KoalaSession::readSaved(files.song, [this](int64_t id) { return rig.koala.frames(id); });
    }
};

// A song with every saved value away from its default, so a value left out or misplaced shows.
Song busySong() {
    Song song = Song::standard();
    Song::Pad& pad = song.pads[5];
    pad.label = "Lead.wav ";
    pad.vol = 0.3;
    pad.pitch = -5;
    pad.end = 2000;
    pad.choke = 3;
    pad.bus = 2;
    pad.loop = true;
    pad.muted = true;
    pad.eqOn = true;
    pad.eq[2] = {9000, -6, 0.5, "lowpass"};
    Song::Pad& chopper = song.pads[12];
    chopper.label = "";
    chopper.nextMode = true;
    chopper.start = 4410;
    song.bpm = 97.5;
    song.currentSequence = 2;
    song.quantizeDivision = 8;
    song.sequences[2] = {2, {{12, 0, 0.5, 0, 80, 7}, {5, 1.75, 0.125, -2, 64, std::nullopt}}};
    song.buses[1] = {0.4, true, true, {{"DUB", true}}};
    song.master = {0.9, true, false, {}};
    song.effects[15].value = 0.05;
    song.keyboardMode = true;
    song.selectedPad = 12;
    song.name = "Busy";
    song.keyboardScale = "MINOR";
    return song;
}

TEST(SimKoalaSong, SavedFilesReadBackAsItsOwnState) {
    struct Case {
        const char* name;
        Song song;
    };
    Song noTempo = Song::standard();
    noTempo.bpm.reset();
    for (const Case& c :
         {Case{"standard song", Song::standard()}, Case{"busy song with a chopper", busySong()},
          Case{"song without a tempo", noTempo}}) {
        SCOPED_TRACE(c.name);
        Bench bench;
        bench.rig.koala.seed(c.song);
        EXPECT_EQ(bench.rig.koala.song(), c.song);
        auto read = bench.saved();
        ASSERT_TRUE(read);
        EXPECT_EQ(read->bpm, c.song.bpm);
        EXPECT_EQ(read->name, c.song.name);
        EXPECT_EQ(read->selectedPad, c.song.selectedPad);
        EXPECT_DOUBLE_EQ(read->pads.at(5).vol, c.song.pads[5].vol);
        EXPECT_TRUE(read->pads.at(12).chopper);
        EXPECT_EQ(read->busMute[1], c.song.buses[1].mute);
        EXPECT_EQ(read->keyboard, c.song.keyboardMode);
        if (c.song.name == "Busy") { // trimmed, without its extension; a bypassed effect marked
            EXPECT_EQ(read->pads.at(5).label, "Lead");
            EXPECT_EQ(read->busFX[1], std::vector<std::string>{"DUB \xC2\xB7OFF"});
        }
    }
}

TEST(SimKoalaSettings, ChannelsOffsetAndSelectionComeFromDefaultsAtLaunch) {
    {
        SCOPED_TRACE("pads on channel 10 from note 36, keyboard on channel 5");
        Bench bench;
        bench.settings(R"({"midiInputChannel": 10, "keyboardMidiChannel": 5, "midiNoteOffset": 36})");
        bench.launch();
        bench.press(1, 38);  // the first-run channel is not listened to
        bench.press(10, 35); // below the first pad
        bench.press(5, 60);  // the keyboard channel plays nothing while the keyboard is off
        EXPECT_TRUE(bench.rig.koala.played().empty());
        bench.press(10, 38, 90);
        ASSERT_EQ(bench.rig.koala.played().size(), 1u);
        EXPECT_EQ(bench.rig.koala.played()[0].pad, 2);
        EXPECT_EQ(bench.rig.koala.played()[0].velocity, 90);
        EXPECT_EQ(bench.rig.koala.song().selectedPad, 2);
    }
    {
        SCOPED_TRACE("a changed channel counts from the next launch");
        Bench bench;
        bench.settings(R"({"midiInputChannel": 3, "midiNoteOffset": 36})");
        bench.launch();
        bench.settings(R"({"midiInputChannel": 4, "midiNoteOffset": 36})");
        bench.press(4, 36);
        EXPECT_TRUE(bench.rig.koala.played().empty());
        bench.quit();
        bench.launch();
        bench.press(4, 36);
        EXPECT_EQ(bench.rig.koala.played().size(), 1u);
    }
}

TEST(SimKoalaMap, MappedKeysRunTheirCommandsAndNothingElse) {
    {
        SCOPED_TRACE("a re-learned key moves the command at the next launch");
        Bench bench;
        bench.mapped({{"/sequencer/recordQuantize/toggle", 14, "note", 3}});
        bench.launch();
        // Learned anew while Koala runs: the old key still works until Koala starts again.
        bench.mapped({{"/sequencer/recordQuantize/toggle", 14, "note", 9}});
        bench.tap(14, 9);
        EXPECT_TRUE(bench.rig.koala.song().quantizing);
        bench.tap(14, 3);
        EXPECT_FALSE(bench.rig.koala.song().quantizing);
        bench.quit();
        bench.launch();
        bench.tap(14, 3);
        EXPECT_FALSE(bench.rig.koala.song().quantizing);
        bench.tap(14, 9);
        EXPECT_TRUE(bench.rig.koala.song().quantizing);
    }
    {
        SCOPED_TRACE("the song's map wins, a malformed key is ignored, a mapped pad note plays nothing else");
        Bench bench;
        bench.mapped({{"/metro/toggle", 14, "note", 1},
                      {"/sequencer/recordQuantize/toggle", 1, "note", 48}, // pad A1's note
                      {"/keyboard/toggle", 14, "pitch", 6}});
        ScratchHome::write(bench.files.song / "midiMapping.json",
                           mapJson({{"/metro/toggle", 14, "note", 2}}));
        bench.launch();
        bench.tap(14, 1);
        EXPECT_FALSE(bench.rig.koala.song().metronome);
        bench.tap(14, 2);
        EXPECT_TRUE(bench.rig.koala.song().metronome);
        bench.tap(1, 48);
        EXPECT_FALSE(bench.rig.koala.song().quantizing);
        EXPECT_TRUE(bench.rig.koala.played().empty());
        bench.tap(14, 6);
        EXPECT_FALSE(bench.rig.koala.song().keyboardMode);
    }
}

TEST(SimKoalaSaving, WaitsForAQuietSecondAndWritesOnlyChangedFilesDatedByTheVirtualClock) {
    Bench bench;
    bench.mapped({{"/currPad/volume", 14, "cc", 1}, {"/mixer/channels/2/mute/toggle", 14, "note", 23}});
    bench.rig.time.advance(100);
    bench.rig.koala.seed(Song::standard());
    const auto nanoseconds = [&] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(bench.rig.time.date().time_since_epoch())
            .count();
    };
    const auto seedDate = nanoseconds();
    bench.launch();
    bench.rig.time.advance(5);
    EXPECT_TRUE(bench.rig.koala.saves().empty()); // nothing changed, nothing written

    bench.turn(14, 1, 20);
    bench.rig.time.advance(0.9);
    bench.turn(14, 1, 30);
    bench.rig.time.advance(0.9);
    EXPECT_TRUE(bench.rig.koala.saves().empty());
    bench.rig.time.advance(0.1);
    ASSERT_EQ(bench.rig.koala.saves(), (std::vector<std::vector<std::string>>{{"sampler/sampler.json"}}));
    EXPECT_EQ(modifiedNanoseconds(bench.files.song / "sampler/sampler.json"), nanoseconds());
    EXPECT_EQ(modifiedNanoseconds(bench.files.song / "mixer.json"), seedDate);
    EXPECT_DOUBLE_EQ(bench.saved()->pads.at(0).vol, 30 / 127.0);

    // Held, Koala writes nothing however long it waits; released, it saves after a quiet second.
    bench.rig.koala.holdSaves(true);
    bench.tap(14, 23);
    bench.rig.time.advance(5);
    EXPECT_EQ(bench.rig.koala.saves().size(), 1u);
    bench.rig.koala.holdSaves(false);
    bench.rig.time.advance(0.9);
    EXPECT_EQ(bench.rig.koala.saves().size(), 1u);
    bench.rig.time.advance(0.2);
    ASSERT_EQ(bench.rig.koala.saves().size(), 2u);
    EXPECT_EQ(bench.rig.koala.saves()[1], std::vector<std::string>{"mixer.json"});
    EXPECT_TRUE(bench.saved()->busMute[1]);

    // A change undone before the save leaves the files as they are.
    bench.tap(14, 23);
    bench.tap(14, 23);
    bench.rig.time.advance(2);
    EXPECT_EQ(bench.rig.koala.saves().size(), 2u);
}

using Shape = SimKoala::SampleShape;
using Encoding = Shape::Encoding;

TEST(SimKoalaSamples, LoadingWritesTheSampleIntoTheSongAndSaves) {
    Bench bench;
    bench.rig.koala.seed(Song::standard());
    bench.rig.time.advance(500);
    auto id =
        bench.rig.koala.loadSample(20, Shape::constant(-0.5, 3000).stereo().as(Encoding::pcm24), "Take");
    ASSERT_TRUE(id);
    EXPECT_EQ(*id, 14); // after the standard song's thirteen
    const auto file = bench.files.song / "sampler" / (std::to_string(*id) + ".wav");
    EXPECT_EQ(SimKoala::samplePath(*id), file);
    EXPECT_TRUE(std::filesystem::exists(file));
    ASSERT_FALSE(bench.rig.koala.saves().empty());
    EXPECT_EQ(bench.rig.koala.saves().back(), std::vector<std::string>{"sampler/sampler.json"});
    auto saved = bench.saved();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->pads.at(20).label, "Take");
    EXPECT_TRUE(saved->pads.at(20).loaded);
    EXPECT_EQ(saved->pads.at(20).end, 3000);
    EXPECT_FALSE(bench.rig.koala.loadSample(64, Shape::silence(10)));
    EXPECT_FALSE(bench.rig.koala.loadSample(-1, Shape::silence(10)));
}

TEST(SimKoalaSamples, RewritingKeepsTheFileAndReplacingMakesANewOne) {
    Bench bench;
    bench.rig.koala.seed(Song::standard());
    bench.rig.time.advance(100);
    const auto id = bench.rig.koala.loadSample(20, Shape::ramp(4410));
    ASSERT_TRUE(id);
    const auto file = SimKoala::samplePath(*id);
    struct stat first {};
    ASSERT_EQ(::stat(file.c_str(), &first), 0);
    const auto nanoseconds = [&] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(bench.rig.time.date().time_since_epoch())
            .count();
    };

    // In place and shorter: the same file, new bytes and date; the pad's end follows the sample.
    bench.rig.time.advance(1);
    ASSERT_TRUE(bench.rig.koala.rewriteSample(*id, Shape::constant(0.5, 2000)));
    struct stat rewritten {};
    ASSERT_EQ(::stat(file.c_str(), &rewritten), 0);
    EXPECT_EQ(rewritten.st_ino, first.st_ino);
    EXPECT_LT(rewritten.st_size, first.st_size);
    EXPECT_EQ(modifiedNanoseconds(file), nanoseconds());
    EXPECT_EQ(bench.rig.koala.frames(*id), 2000);
    EXPECT_EQ(bench.rig.koala.song().pads[20].end, 2000);
    EXPECT_EQ(bench.saved()->pads.at(20).end, 2000);

    // Replaced: a new file under the same name, nothing left beside it.
    bench.rig.time.advance(1);
    ASSERT_TRUE(bench.rig.koala.replaceSample(*id, Shape::silentThenFull(2000).as(Encoding::float32)));
    struct stat replaced {};
    ASSERT_EQ(::stat(file.c_str(), &replaced), 0);
    EXPECT_NE(replaced.st_ino, rewritten.st_ino);
    EXPECT_EQ(modifiedNanoseconds(file), nanoseconds());
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{std::to_string(*id) + ".wav", "sampler.json"}));

    // A sample the song does not have is neither rewritten nor replaced.
    EXPECT_FALSE(bench.rig.koala.rewriteSample(999, Shape::silence(10)));
    EXPECT_FALSE(bench.rig.koala.replaceSample(999, Shape::silence(10)));
    EXPECT_FALSE(std::filesystem::exists(SimKoala::samplePath(999)));
}

TEST(SimKoalaSamples, FolderChangesAreToldOnKoalasQueueOutsideItsLock) {
    Bench bench;
    bench.mapped({{"/currPad/volume", 14, "cc", 1}});
    const auto song = bench.files.song;
    const auto sampler = song / "sampler";
    std::vector<std::filesystem::path> told;
    // Threads that asked for Koala's song from inside the hook; joined before the rig goes, even when
    // one had to wait for the hook to return.
    struct Askers {
        std::vector<std::thread> threads;
        ~Askers() {
            for (auto& thread : threads)
                thread.join();
        }
    } askers;
    bench.rig.koala.onFolderChanged = [&](const std::filesystem::path& folder) {
        EXPECT_TRUE(bench.rig.system->isCurrent());
        // Another thread can take Koala's lock meanwhile: the hook is not called with it held.
        std::promise<void> asked;
        auto answered = asked.get_future();
        askers.threads.emplace_back([&bench, asked = std::move(asked)]() mutable {
            (void)bench.rig.koala.song();
            asked.set_value();
        });
        EXPECT_EQ(answered.wait_for(std::chrono::seconds(2)), std::future_status::ready)
            << "the hook was called with Koala's lock held";
        told.push_back(folder);
    };
    using Paths = std::vector<std::filesystem::path>;

    bench.rig.koala.seed(Song::standard());
    EXPECT_TRUE(told.empty()); // later, not from inside the write
    bench.rig.time.runUntilIdle();
    EXPECT_EQ(told, Paths{song});

    told.clear();
    const auto id = bench.rig.koala.loadSample(30, Shape::sine(220, 8000));
    ASSERT_TRUE(id);
    EXPECT_TRUE(told.empty());
    bench.rig.time.runUntilIdle();
    EXPECT_EQ(told, (Paths{sampler, song}));

    // Same length: the song files stay as they are, only the sample folder changed.
    told.clear();
    ASSERT_TRUE(bench.rig.koala.rewriteSample(*id, Shape::constant(0.1, 8000)));
    bench.rig.time.runUntilIdle();
    EXPECT_EQ(told, Paths{sampler});

    told.clear();
    ASSERT_TRUE(bench.rig.koala.replaceSample(*id, Shape::constant(0.1, 4000)));
    bench.rig.time.runUntilIdle();
    EXPECT_EQ(told, (Paths{sampler, song}));

    // Koala's own save after a knob move, and none when a save finds nothing to write.
    told.clear();
    bench.launch();
    bench.turn(14, 1, 90);
    bench.rig.time.advance(2);
    EXPECT_EQ(told, Paths{song});
    told.clear();
    bench.rig.koala.saveNow();
    bench.rig.time.runUntilIdle();
    EXPECT_TRUE(told.empty());
}

} // namespace
} // namespace tandem
