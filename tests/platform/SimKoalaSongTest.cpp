// The simulated Koala's MIDI and song side: its settings and map taken at launch, pads and keyboard,
// mapped commands on its song, MIDI clock, recording, undo, and the five song files it saves, read
// back with Tandem's own reader.
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"
#include "tandem/integration/KoalaSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>

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

// The label Tandem's reader shows for a pad: its own label without extension, else its sample's name.
std::string shownLabel(const Song& song, const Song::Pad& pad) {
    std::string label = pad.label;
    const auto notBlank = [](char c) { return c != ' ' && c != '\t'; };
    label.erase(label.begin(), std::find_if(label.begin(), label.end(), notBlank));
    label.erase(std::find_if(label.rbegin(), label.rend(), notBlank).base(), label.end());
    const size_t slash = label.rfind('/');
    const size_t dot = label.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) label.erase(dot);
    if (!label.empty()) return label;
    if (pad.sampleID) {
        for (const auto& sample : song.samples) {
            if (sample.id == *pad.sampleID) label = std::filesystem::path(sample.path).stem().string();
        }
        if (!label.empty()) return label;
    }
    return pad.chopper ? "CHOPPER" : "";
}

// What Tandem must read from the files of `song`, built from the song's own fields.
KoalaSession expectedSession(const Song& song) {
    KoalaSession session;
    for (size_t i = 0; i < song.pads.size(); ++i) {
        const Song::Pad& from = song.pads[i];
        KoalaSession::Pad pad;
        pad.label = shownLabel(song, from);
        pad.loaded = from.loaded();
        pad.chopper = from.chopper;
        pad.vol = from.vol;
        pad.pan = from.pan;
        pad.pitch = from.pitch;
        pad.tone = from.tone;
        pad.attack = from.attack;
        pad.release = from.release;
        pad.start = from.start;
        pad.end = from.end;
        if (from.sampleID) pad.frames = song.frames(*from.sampleID);
        for (size_t band = 0; band < 3; ++band) {
            pad.eqFreq[band] = from.eq[band].freq;
            pad.eqGain[band] = from.eq[band].gain;
            pad.eqQ[band] = from.eq[band].q;
            pad.eqTypes[band] = from.eq[band].type;
        }
        pad.eqOn = from.eqOn;
        pad.choke = from.choke;
        pad.bus = from.bus;
        pad.oneShot = from.oneShot;
        pad.loop = from.loop;
        pad.reverse = from.reverse;
        pad.muted = from.muted;
        pad.sampleID = from.sampleID;
        pad.slices = from.slices;
        std::sort(pad.slices.begin(), pad.slices.end());
        pad.nextMode = from.nextMode;
        session.pads[int(i)] = pad;
    }
    session.bpm = song.bpm;
    session.swing = song.swing;
    session.sequence = song.currentSequence;
    session.quantizing = song.quantizing;
    for (const auto& sequence : song.sequences) {
        session.bars.push_back(sequence.bars);
        std::vector<KoalaSession::Note> notes;
        for (const auto& note : sequence.notes)
            notes.push_back({note.pad, note.beat, note.length, note.pitch, note.velocity, note.slice});
        std::stable_sort(notes.begin(), notes.end(), [](auto& a, auto& b) { return a.beat < b.beat; });
        session.notes.push_back(notes);
    }
    session.beatsPerBar = song.beatsPerBar;
    session.quantizeDivision = song.quantizeDivision;
    session.sequenceSnap = song.seqSnap;
    const auto chain = [](const Song::Bus& bus) {
        std::vector<std::string> names;
        for (const auto& effect : bus.chain)
            names.push_back(effect.name + (effect.bypass ? " \xC2\xB7OFF" : ""));
        return names;
    };
    for (size_t i = 0; i < 4; ++i) {
        session.busVolume[i] = song.buses[i].volume;
        session.busMute[i] = song.buses[i].mute;
        session.busSolo[i] = song.buses[i].solo;
        session.busFX[i] = chain(song.buses[i]);
    }
    session.mainVolume = song.master.volume;
    session.mainMute = song.master.mute;
    session.mainFX = chain(song.master);
    session.fx.clear();
    session.fxValues.clear();
    for (const auto& effect : song.effects) {
        session.fx.push_back(effect.name);
        session.fxValues.push_back(effect.value);
    }
    session.fxHold = song.fxHold;
    session.keyboard = song.keyboardMode;
    session.selectedPad = song.selectedPad;
    session.name = song.name;
    session.scale = song.keyboardScale;
    return session;
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
    pad.pan = 0.1;
    pad.pitch = -5;
    pad.tone = 0.25;
    pad.attack = 0.125;
    pad.release = 0.75;
    pad.start = 100;
    pad.end = 2000;
    pad.choke = 3;
    pad.bus = 2;
    pad.oneShot = false;
    pad.loop = true;
    pad.reverse = true;
    pad.muted = true;
    pad.eqOn = true;
    pad.eq[0] = {80, -3, 0.7, "highpass"};
    pad.eq[1] = {1500, 4.5, 2, "peaking"};
    pad.eq[2] = {9000, -6, 0.5, "lowpass"};
    Song::Pad& chopper = song.pads[12];
    chopper.label = "";
    chopper.vol = 0.6;
    chopper.pan = 0.7;
    chopper.pitch = 3;
    chopper.tone = -0.5;
    chopper.bus = 1;
    chopper.muted = true;
    chopper.oneShot = false;
    chopper.nextMode = true;
    chopper.eqOn = true;
    chopper.eq[1].gain = 7;
    chopper.start = 4410;
    chopper.end = 400000;
    chopper.attack = 0.2;
    song.bpm = 97.5;
    song.swing = 0.3;
    song.currentSequence = 2;
    song.quantizing = false;
    song.beatsPerBar = 3;
    song.quantizeDivision = 8;
    song.seqSnap = "2";
    song.sequences[2] = {2, {{12, 0, 0.5, 0, 80, 7}, {5, 1.75, 0.125, -2, 64, std::nullopt}}};
    song.buses[1] = {0.4, true, true, {{"DUB", true}}};
    song.buses[3].volume = 0.1;
    song.master = {0.9, true, false, {}};
    song.fxHold = true;
    song.effects[4].value = 0.9;
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
        EXPECT_EQ(*read, expectedSession(c.song));
        EXPECT_TRUE(read->pads.at(12).chopper);
    }

    // Edits made through MIDI and saved by Koala itself read back the same way.
    Bench bench;
    bench.rig.koala.seed(busySong());
    bench.mapped({{"/currPad/sample/loop/toggle", 14, "note", 18},
                  {"/currPad/volume", 14, "cc", 1},
                  {"/mixer/channels/3/mute/toggle", 14, "note", 24},
                  {"/perform/fx/tempodelay", 14, "cc", 34}});
    bench.launch();
    bench.tap(14, 18);       // the chopper (selected) loops
    bench.turn(14, 1, 100);  // and its level moves
    bench.tap(14, 24);       // bus C muted
    bench.turn(14, 34, 127); // TEMPO DELAY at full
    bench.press(1, 48 + 7);  // pad A8 selected
    bench.rig.time.advance(2);
    ASSERT_FALSE(bench.rig.koala.saves().empty());
    const Song now = bench.rig.koala.song();
    EXPECT_TRUE(now.pads[12].loop);
    EXPECT_DOUBLE_EQ(now.pads[12].vol, 100 / 127.0);
    EXPECT_TRUE(now.buses[2].mute);
    EXPECT_DOUBLE_EQ(now.effects[11].value, 1.0);
    EXPECT_EQ(now.selectedPad, 7);
    auto read = bench.saved();
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, expectedSession(now));
}

TEST(SimKoalaSettings, ChannelsOffsetAndSelectionComeFromDefaultsAtLaunch) {
    {
        SCOPED_TRACE("pads on channel 10 from note 36, keyboard on channel 5");
        Bench bench;
        bench.settings(R"({"midiInputChannel": 10, "keyboardMidiChannel": 5, "midiNoteOffset": 36})");
        bench.launch();
        bench.press(1, 38);  // the first-run channel is not listened to
        bench.press(10, 35); // below the first pad
        EXPECT_TRUE(bench.rig.koala.played().empty());
        bench.press(10, 38, 90);
        bench.release(10, 38);
        ASSERT_EQ(bench.rig.koala.played().size(), 1u);
        EXPECT_EQ(bench.rig.koala.played()[0].pad, 2);
        EXPECT_EQ(bench.rig.koala.played()[0].note, 38);
        EXPECT_EQ(bench.rig.koala.played()[0].velocity, 90);
        EXPECT_EQ(bench.rig.koala.played()[0].chop, std::nullopt);
        EXPECT_EQ(bench.rig.koala.song().selectedPad, 2);

        // The keyboard channel plays nothing while the keyboard is off.
        bench.press(5, 60);
        EXPECT_EQ(bench.rig.koala.played().size(), 1u);
    }
    {
        SCOPED_TRACE("keyboard on a chopper and on a plain pad");
        Bench bench;
        Song song = Song::standard();
        song.keyboardMode = true;
        song.selectedPad = 12; // the chopper, ten slices
        bench.rig.koala.seed(song);
        bench.settings(R"({"midiInputChannel": 10, "keyboardMidiChannel": 5, "midiNoteOffset": 36})");
        bench.launch();
        bench.press(5, 62, 70);
        bench.press(5, 69); // chop 10, the last
        bench.press(5, 70); // there is no chop 11
        bench.press(5, 59); // nor a chop 0
        auto played = bench.rig.koala.played();
        ASSERT_EQ(played.size(), 2u);
        EXPECT_EQ(played[0].pad, 12);
        EXPECT_EQ(played[0].chop, 3);
        EXPECT_EQ(played[0].velocity, 70);
        EXPECT_EQ(played[1].chop, 10);
        // Pads still play on their own channel, and a plain pad takes the keyboard chromatically.
        bench.press(10, 36 + 9);
        bench.press(5, 64);
        played = bench.rig.koala.played();
        ASSERT_EQ(played.size(), 4u);
        EXPECT_EQ(played[2].pad, 9);
        EXPECT_EQ(played[3].pad, 9);
        EXPECT_EQ(played[3].note, 64);
        EXPECT_EQ(played[3].chop, std::nullopt);
    }
    {
        SCOPED_TRACE("midiCanSelectNotes false plays without selecting");
        Bench bench;
        bench.settings(R"({"midiInputChannel": 16, "midiNoteOffset": 36, "midiCanSelectNotes": false})");
        bench.launch();
        bench.press(16, 36 + 4);
        ASSERT_EQ(bench.rig.koala.played().size(), 1u);
        EXPECT_EQ(bench.rig.koala.played()[0].pad, 4);
        EXPECT_EQ(bench.rig.koala.song().selectedPad, 0);
    }
    {
        SCOPED_TRACE("missing or mistyped values take a fresh Koala's");
        Bench bench;
        bench.settings(R"({"midiInputChannel": "10", "midiNoteOffset": 36.5, "midiCanSelectNotes": 0})");
        bench.launch();
        const auto settings = bench.rig.koala.settings();
        EXPECT_EQ(settings.padChannel, 1);
        EXPECT_EQ(settings.keyboardChannel, 1);
        EXPECT_EQ(settings.noteOffset, 48);
        EXPECT_TRUE(settings.canSelectNotes);
        EXPECT_FALSE(settings.useMapping);
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
        bench.tap(14, 3);
        EXPECT_FALSE(bench.rig.koala.song().quantizing);
        // Learned anew while Koala runs: the old key still works until Koala starts again.
        bench.mapped({{"/sequencer/recordQuantize/toggle", 14, "note", 9}});
        bench.tap(14, 9);
        EXPECT_FALSE(bench.rig.koala.song().quantizing);
        bench.tap(14, 3);
        EXPECT_TRUE(bench.rig.koala.song().quantizing);
        bench.quit();
        bench.launch();
        bench.tap(14, 3);
        EXPECT_TRUE(bench.rig.koala.song().quantizing);
        EXPECT_EQ(bench.rig.koala.commands().size(), 2u);
        bench.tap(14, 9);
        EXPECT_FALSE(bench.rig.koala.song().quantizing);
    }
    {
        SCOPED_TRACE("a key held by two addresses fires both, on the press only");
        Bench bench;
        bench.mapped({{"/currPad/sample/loop/toggle", 14, "note", 18}, {"/mute/toggle", 14, "note", 18}});
        bench.launch();
        bench.press(14, 18);
        EXPECT_TRUE(bench.rig.koala.song().pads[0].loop);
        EXPECT_TRUE(bench.rig.koala.song().pads[0].muted);
        bench.release(14, 18);
        EXPECT_TRUE(bench.rig.koala.song().pads[0].loop);
        EXPECT_EQ(bench.rig.koala.commands(),
                  (std::vector<std::string>{"/currPad/sample/loop/toggle", "/mute/toggle"}));
    }
    {
        SCOPED_TRACE("the song's map wins, a malformed key is ignored, a mapped pad note plays nothing else");
        Bench bench;
        bench.mapped({{"/metro/toggle", 14, "note", 1},
                      {"/sequencer/recordQuantize/toggle", 1, "note", 48}, // pad A1's note
                      {"/perform/hold/toggle", 17, "note", 5},
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
        EXPECT_FALSE(bench.rig.koala.song().fxHold);
        EXPECT_FALSE(bench.rig.koala.song().keyboardMode);
        bench.tap(1, 49); // unmapped: still a pad
        EXPECT_EQ(bench.rig.koala.played().size(), 1u);
    }
    {
        SCOPED_TRACE("with the map off, mapped keys are plain notes");
        Bench bench;
        bench.settings(R"({"midiInputChannel": 1, "midiNoteOffset": 48, "useMidiMapping": false})",
                       {{"/sequencer/recordQuantize/toggle", 1, "note", 48}});
        bench.launch();
        bench.tap(1, 48);
        EXPECT_TRUE(bench.rig.koala.song().quantizing);
        EXPECT_EQ(bench.rig.koala.played().size(), 1u);
    }
}

TEST(SimKoalaTransport, ClockGoesToTandemPushWhilePlaying) {
    for (double bpm : {120.0, 90.0}) {
        SCOPED_TRACE(bpm);
        Bench bench;
        Song song = Song::standard();
        song.bpm = bpm;
        bench.rig.koala.seed(song);
        std::vector<std::pair<double, uint8_t>> clock;
        MidiEndpointRef push = 0;
        ASSERT_EQ(bench.rig.midi.destinationCreate(
                      bench.tandem, "Tandem Push",
                      [&](const MidiPacketList& list, void*) {
                          list.forEach([&](const MidiPacketList::Packet& packet) {
                              for (uint8_t byte : packet.data)
                                  clock.emplace_back(bench.rig.time.now(), byte);
                          });
                      },
                      &push),
                  midiNoError);
        bench.mapped({{"/sequencer/play/toggle", 15, "note", 82}});
        bench.launch();
        bench.rig.time.advance(1);
        EXPECT_TRUE(clock.empty());
        const double start = bench.rig.time.now();
        bench.tap(15, 82);
        EXPECT_TRUE(bench.rig.koala.playing());
        bench.rig.time.advance(3);
        EXPECT_NEAR(bench.rig.koala.transportBeat(), 3 * bpm / 60, 1e-9);
        bench.tap(15, 82);
        EXPECT_FALSE(bench.rig.koala.playing());
        bench.rig.time.advance(1);

        ASSERT_GE(clock.size(), 3u);
        EXPECT_EQ(clock.front().second, 0xFA);
        EXPECT_DOUBLE_EQ(clock.front().first, start);
        EXPECT_EQ(clock.back().second, 0xFC);
        const double period = 60 / (bpm * 24);
        int inSecond = 0, ticks = 0;
        for (const auto& entry : clock) {
            if (entry.second != 0xF8) continue;
            ++ticks;
            if (entry.first >= start + 1 - period / 2 && entry.first < start + 2 - period / 2) ++inSecond;
        }
        EXPECT_EQ(inSecond, int(std::lround(bpm * 24 / 60)));
        EXPECT_NEAR(ticks, 3 * bpm * 24 / 60, 1);
    }
}

TEST(SimKoalaSaving, WaitsForAQuietSecondAndWritesOnlyChangedFilesDatedByTheVirtualClock) {
    Bench bench;
    bench.mapped({{"/currPad/volume", 14, "cc", 1}, {"/mixer/channels/2/mute/toggle", 14, "note", 23}});
    bench.rig.time.advance(100);
    bench.rig.koala.seed(Song::standard());
    const auto seedDate =
        std::chrono::duration_cast<std::chrono::nanoseconds>(bench.rig.time.date().time_since_epoch())
            .count();
    for (const auto& name : KoalaSession::files())
        EXPECT_EQ(modifiedNanoseconds(bench.files.song / name), seedDate) << name;
    bench.launch();
    bench.rig.time.advance(5);
    EXPECT_TRUE(bench.rig.koala.saves().empty()); // nothing changed, nothing written

    bench.turn(14, 1, 20);
    bench.rig.time.advance(0.9);
    bench.turn(14, 1, 30);
    bench.rig.time.advance(0.9);
    EXPECT_TRUE(bench.rig.koala.saves().empty());
    const auto sampler = bench.files.song / "sampler/sampler.json";
    const auto before = ScratchHome::read(sampler);
    bench.rig.time.advance(0.1);
    ASSERT_EQ(bench.rig.koala.saves(), (std::vector<std::vector<std::string>>{{"sampler/sampler.json"}}));
    const auto saveDate =
        std::chrono::duration_cast<std::chrono::nanoseconds>(bench.rig.time.date().time_since_epoch())
            .count();
    EXPECT_NE(ScratchHome::read(sampler), before);
    EXPECT_EQ(modifiedNanoseconds(sampler), saveDate);
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

    // saveNow does not wait.
    bench.turn(14, 1, 127);
    bench.rig.koala.saveNow();
    EXPECT_EQ(bench.rig.koala.saves().size(), 3u);
    EXPECT_DOUBLE_EQ(bench.saved()->pads.at(0).vol, 1.0);
}

TEST(SimKoalaTrims, StartKeepsTheEndOrTheLengthAsTheVersionDoes) {
    for (bool keepsEnd : {true, false}) {
        SCOPED_TRACE(keepsEnd ? "keeps the end" : "keeps the length");
        Bench bench;
        bench.rig.koala.options.startKeepsEnd = keepsEnd;
        bench.mapped({{"/currPad/sample/start", 14, "cc", 7}, {"/currPad/sample/length", 14, "cc", 8}});
        bench.launch();
        const double frames = *bench.rig.koala.frames(*Song::standard().pads[0].sampleID);
        ASSERT_EQ(frames, 44100);

        bench.turn(14, 8, 64); // LENGTH: end = start + 64/127 of the sample
        EXPECT_DOUBLE_EQ(*bench.rig.koala.song().pads[0].end, 64 / 127.0 * frames);
        bench.turn(14, 7, 32); // START
        const auto pad = bench.rig.koala.song().pads[0];
        EXPECT_DOUBLE_EQ(pad.start, 32 / 127.0 * frames);
        EXPECT_DOUBLE_EQ(*pad.end, keepsEnd ? 64 / 127.0 * frames : 96 / 127.0 * frames);

        // Past the end: the end follows the start, or the length runs into the sample's end.
        bench.turn(14, 7, 100);
        const auto late = bench.rig.koala.song().pads[0];
        EXPECT_DOUBLE_EQ(late.start, 100 / 127.0 * frames);
        EXPECT_DOUBLE_EQ(*late.end, keepsEnd ? late.start : frames);
        bench.turn(14, 8, 127);
        EXPECT_DOUBLE_EQ(*bench.rig.koala.song().pads[0].end, frames);

        // An empty pad has nothing to trim.
        bench.press(1, 48 + 40);
        EXPECT_EQ(bench.rig.koala.song().selectedPad, 40);
        bench.turn(14, 7, 50);
        bench.turn(14, 8, 50);
        EXPECT_EQ(bench.rig.koala.song().pads[40], Song::Pad{});
        bench.rig.time.advance(2);
        EXPECT_EQ(*bench.saved(), expectedSession(bench.rig.koala.song()));
    }
}

TEST(SimKoalaRecording, FromStopCountsInOnePassThenLandsQuantisedNotes) {
    Bench bench;
    Song song = Song::standard();
    song.currentSequence = 1; // empty, one bar of four beats
    bench.rig.koala.seed(song);
    bench.mapped({{"/sequencer/record/toggle", 15, "note", 73},
                  {"/sequencer/play/toggle", 15, "note", 82},
                  {"/undo", 14, "note", 2}});
    bench.launch();
    const double start = bench.rig.time.now();
    bench.tap(15, 73);
    EXPECT_TRUE(bench.rig.koala.playing());
    EXPECT_TRUE(bench.rig.koala.recording());

    // Beat 2 of the count-in: heard, not recorded.
    bench.rig.time.advance(1.0);
    bench.tap(1, 48 + 3);
    // Beat 4.52 (120 BPM): one pass in, 0.52 into the sequence, a sixteenth grid puts it on 0.5.
    bench.rig.time.advance(1.26);
    bench.press(1, 48 + 1, 90);
    bench.rig.time.advance(0.25);
    bench.release(1, 48 + 1);
    // Beat 7.9 rounds to 8, the start of the next pass.
    bench.rig.time.advance(start + 3.95 - bench.rig.time.now());
    bench.press(1, 48 + 2, 70);
    bench.rig.time.advance(0.1);
    bench.release(1, 48 + 2);
    EXPECT_EQ(bench.rig.koala.played().size(), 3u);

    const auto notes = bench.rig.koala.song().sequences[1].notes;
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].pad, 2);
    EXPECT_DOUBLE_EQ(notes[0].beat, 0);
    EXPECT_NEAR(notes[0].length, 0.2, 1.0 / 4096);
    EXPECT_EQ(notes[0].velocity, 70);
    EXPECT_EQ(notes[1].pad, 1);
    EXPECT_DOUBLE_EQ(notes[1].beat, 0.5);
    EXPECT_DOUBLE_EQ(notes[1].length, 0.5);
    EXPECT_EQ(notes[1].velocity, 90);
    EXPECT_EQ(notes[1].slice, std::nullopt);
    EXPECT_TRUE(bench.rig.koala.song().sequences[0] == Song::standard().sequences[0]);

    // Stopping ends recording; the saved pattern has both, and one undo takes the pass away.
    bench.tap(15, 82);
    EXPECT_FALSE(bench.rig.koala.recording());
    bench.rig.time.advance(2);
    auto read = bench.saved();
    ASSERT_TRUE(read);
    ASSERT_EQ(read->notes[1].size(), 2u);
    EXPECT_DOUBLE_EQ(read->notes[1][1].beat, 0.5);
    bench.tap(14, 2);
    EXPECT_TRUE(bench.rig.koala.song().sequences[1].notes.empty());
}

TEST(SimKoalaHistory, UndoAndRedoADeletedPad) {
    Bench bench;
    bench.rig.koala.seed(Song::standard());
    bench.mapped({{"/currPad/delete", 14, "note", 83},
                  {"/undo", 14, "note", 2},
                  {"/redo", 14, "note", 85},
                  {"/currPad/volume", 14, "cc", 1}});
    bench.launch();
    const Song::Pad original = Song::standard().pads[3];
    bench.tap(1, 48 + 3);
    bench.tap(14, 83);
    EXPECT_EQ(bench.rig.koala.song().pads[3], Song::Pad{});
    bench.rig.time.advance(2);
    EXPECT_FALSE(bench.saved()->pads.at(3).loaded);
    EXPECT_EQ(bench.saved()->pads.at(3).label, "");

    // A knob move is no step of its own: one undo brings the pad back as it was before the delete.
    bench.turn(14, 1, 10);
    bench.tap(14, 2);
    EXPECT_EQ(bench.rig.koala.song().pads[3], original);
    bench.tap(14, 2); // nothing further back
    EXPECT_EQ(bench.rig.koala.song().pads[3], original);
    bench.rig.time.advance(2);
    EXPECT_EQ(bench.saved()->pads.at(3).label, "Open Hat");
    EXPECT_TRUE(bench.saved()->pads.at(3).loaded);

    bench.tap(14, 85);
    EXPECT_FALSE(bench.rig.koala.song().pads[3].loaded());
    EXPECT_EQ(bench.rig.koala.song().pads[3].label, "");
    EXPECT_DOUBLE_EQ(bench.rig.koala.song().pads[3].vol, 10 / 127.0); // redo returns what undo took
    bench.tap(14, 2);
    EXPECT_EQ(bench.rig.koala.song().pads[3], original);
    // A new edit forgets what could be redone.
    bench.tap(1, 48 + 4);
    bench.tap(14, 83);
    bench.tap(14, 85);
    EXPECT_EQ(bench.rig.koala.song().pads[3], original);
    EXPECT_EQ(bench.rig.koala.song().pads[4], Song::Pad{});
}

TEST(SimKoalaCommands, EncodersButtonsAndEffectsChangeTheSong) {
    Bench bench;
    std::vector<MapEntry> map;
    const char* knobs[] = {"/currPad/pitch",
                           "/currPad/eq/band2/gain",
                           "/currPad/sample/tone",
                           "/currPad/eq/band0/freq",
                           "/currPad/sample/chokeGroup",
                           "/currPad/bus",
                           "/sequencer/beatsPerBar",
                           "/sequencer/seqSnap",
                           "/keyboard/scale",
                           "/mixer/channels/2/volume",
                           "/currPad/pan"};
    for (int i = 0; i < 11; ++i)
        map.push_back({knobs[i], 13, "cc", i});
    const char* buttons[] = {
        "/sequencer/bpm/++",        "/sequencer/bpm/--",        "/sequencer/tapTempo",
        "/currSequence/numBars/++", "/currSequence/numBars/--", "/currSequence/numBars/*2",
        "/currSequence/clear",      "/sequencer/sequences/3",   "/mixer/show",
        "/perform/hold/toggle",     "/keyboard/toggle"};
    for (int i = 0; i < 11; ++i)
        map.push_back({buttons[i], 13, "note", i});
    map.push_back({"/perform/fx/stutter", 13, "cc", 40});
    bench.mapped(map);
    bench.launch();
    auto song = [&] { return bench.rig.koala.song(); };

    struct Turn {
        int knob, value;
        std::function<double(const Song&)> read;
        double expected;
    };
    const std::vector<Turn> turns{
        {0, 0, [](const Song& s) { return s.pads[0].pitch; }, -24},
        {0, 127, [](const Song& s) { return s.pads[0].pitch; }, 24},
        {1, 127, [](const Song& s) { return s.pads[0].eq[2].gain; }, 18},
        {1, 0, [](const Song& s) { return s.pads[0].eq[2].gain; }, -18},
        {2, 0, [](const Song& s) { return s.pads[0].tone; }, -1},
        {3, 0, [](const Song& s) { return s.pads[0].eq[0].freq; }, 20},
        {3, 127, [](const Song& s) { return s.pads[0].eq[0].freq; }, 20000},
        {4, 64, [](const Song& s) { return double(s.pads[0].choke); }, 3},
        {4, 127, [](const Song& s) { return double(s.pads[0].choke); }, 6},
        {5, 0, [](const Song& s) { return double(s.pads[0].bus); }, -1},
        {5, 127, [](const Song& s) { return double(s.pads[0].bus); }, 3},
        {6, 0, [](const Song& s) { return double(s.beatsPerBar); }, 1},
        {6, 127, [](const Song& s) { return double(s.beatsPerBar); }, 16},
        {9, 127, [](const Song& s) { return s.buses[1].volume; }, 1},
        {10, 0, [](const Song& s) { return s.pads[0].pan; }, 0},
    };
    for (const Turn& t : turns) {
        bench.turn(13, t.knob, t.value);
        EXPECT_NEAR(t.read(song()), t.expected, 1e-9) << knobs[t.knob] << " at " << t.value;
    }
    bench.turn(13, 7, 64);
    EXPECT_EQ(song().seqSnap, "3");
    bench.turn(13, 8, 23);
    EXPECT_EQ(song().keyboardScale, "PENTATONIC");
    bench.turn(13, 8, 127);
    EXPECT_EQ(song().keyboardScale, "YING ZHONG");
    EXPECT_TRUE(bench.rig.koala.uiLog().empty());

    // Tempo: steps, then taps half a second apart.
    bench.tap(13, 0);
    bench.tap(13, 0);
    bench.tap(13, 1);
    EXPECT_EQ(song().bpm, 121);
    for (int i = 0; i < 3; ++i) {
        bench.tap(13, 2);
        bench.rig.time.advance(0.5);
    }
    bench.tap(13, 2);
    EXPECT_DOUBLE_EQ(*song().bpm, 120);
    bench.rig.time.advance(2.5); // a stale tap starts afresh
    bench.tap(13, 2);
    bench.rig.time.advance(0.4);
    bench.tap(13, 2);
    EXPECT_NEAR(*song().bpm, 150, 1e-9);

    // Bars of the first sequence (four bars, a beat): doubled with its notes repeated.
    const auto first = Song::standard().sequences[0];
    const double shift = 4.0 * double(song().beatsPerBar); // four bars of sixteen beats, after the knob above
    bench.tap(13, 5);
    EXPECT_EQ(song().sequences[0].bars, 8);
    ASSERT_EQ(song().sequences[0].notes.size(), 2 * first.notes.size());
    for (size_t i = 0; i < first.notes.size(); ++i) {
        EXPECT_EQ(song().sequences[0].notes[i], first.notes[i]);
        auto repeated = first.notes[i];
        repeated.beat += shift;
        EXPECT_EQ(song().sequences[0].notes[i + first.notes.size()], repeated);
    }
    bench.tap(13, 3);
    bench.tap(13, 4);
    bench.tap(13, 4);
    EXPECT_EQ(song().sequences[0].bars, 7);
    bench.tap(13, 6);
    EXPECT_TRUE(song().sequences[0].notes.empty());
    bench.tap(13, 7);
    EXPECT_EQ(song().currentSequence, 3);
    bench.tap(13, 4); // one bar cannot shrink
    EXPECT_EQ(song().sequences[3].bars, 1);

    // Switches and effects.
    bench.tap(13, 9);
    bench.tap(13, 10);
    EXPECT_TRUE(song().fxHold);
    EXPECT_TRUE(song().keyboardMode);
    EXPECT_TRUE(bench.rig.koala.keyboardOn());
    bench.turn(13, 40, 64);
    EXPECT_TRUE(song().effects[5].on);
    EXPECT_DOUBLE_EQ(song().effects[5].value, 64 / 127.0);
    bench.turn(13, 40, 0);
    EXPECT_FALSE(song().effects[5].on);
    EXPECT_DOUBLE_EQ(song().effects[5].value, 64 / 127.0);

    // Screen-only commands are logged and leave the song alone.
    const Song before = song();
    bench.tap(13, 8);
    EXPECT_EQ(bench.rig.koala.uiLog(), std::vector<std::string>{"/mixer/show"});
    EXPECT_TRUE(bench.rig.koala.mixerOpen());
    EXPECT_EQ(song(), before);
}

} // namespace
} // namespace tandem
