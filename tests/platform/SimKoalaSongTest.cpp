// The simulated Koala's MIDI and song side: its settings and map taken at launch, pads and keyboard,
// mapped commands on its song, MIDI clock, recording, undo, the five song files it saves, read back
// with Tandem's own reader, and the sample files it writes, read back byte by byte.
#include "platform/sim/SimRig.h"
#include "support/KoalaFiles.h"
#include "tandem/integration/KoalaSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <numbers>
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

// A WAV file taken apart by hand, so that what the simulated Koala writes is checked without the
// library that wrote it.
struct WavFile {
    int format = 0; // 1: integer PCM, 3: IEEE float
    int channels = 0;
    int rate = 0;
    int bits = 0;
    std::string data;

    int64_t frames() const { return int64_t(data.size()) / (channels * bits / 8); }
    double sample(int64_t frame, int channel) const {
        const size_t width = size_t(bits / 8);
        const char* at = data.data() + (size_t(frame) * size_t(channels) + size_t(channel)) * width;
        if (format == 3) {
            float value;
            std::memcpy(&value, at, 4);
            return value;
        }
        uint64_t raw = 0;
        for (size_t i = 0; i < width; ++i)
            raw |= uint64_t(uint8_t(at[i])) << (8 * i);
        const int64_t code = int64_t(raw << (64 - 8 * width)) >> (64 - 8 * width); // sign-extended
        return double(code) / double(int64_t(1) << (bits - 1));
    }

    static std::optional<WavFile> parse(const std::string& bytes) {
        auto u32 = [&](size_t at) {
            uint32_t v = 0;
            for (size_t i = 0; i < 4; ++i)
                v |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
            return v;
        };
        auto u16 = [&](size_t at) { return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
        if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
            return std::nullopt;
        WavFile wav;
        bool haveFormat = false, haveData = false;
        for (size_t at = 12; at + 8 <= bytes.size();) {
            const std::string id = bytes.substr(at, 4);
            const size_t size = u32(at + 4);
            if (at + 8 + size > bytes.size()) return std::nullopt;
            if (id == "fmt ") {
                wav.format = u16(at + 8);
                wav.channels = u16(at + 10);
                wav.rate = int(u32(at + 12));
                wav.bits = u16(at + 22);
                haveFormat = true;
            } else if (id == "data") {
                wav.data = bytes.substr(at + 8, size);
                haveData = true;
            }
            at += 8 + size + (size & 1);
        }
        if (!haveFormat || !haveData || wav.channels < 1 || wav.bits < 8) return std::nullopt;
        return wav;
    }
};

using Shape = SimKoala::SampleShape;
using Encoding = Shape::Encoding;

TEST(SimKoalaSamples, LoadingWritesTheWaveIntoTheSongAndSaves) {
    struct Case {
        const char* name;
        Shape shape;
        int format, bits;
        std::function<double(int64_t frame, int channel)> expected;
    };
    const double pi = std::numbers::pi;
    const Case cases[] = {
        {"silence", Shape::silence(1000), 1, 16, [](int64_t, int) { return 0.0; }},
        {"a constant level, stereo, 24-bit at 48 kHz",
         Shape::constant(-0.5, 3000).stereo().as(Encoding::pcm24).at(48000), 1, 24,
         [](int64_t, int) { return -0.5; }},
        {"silent first half then full scale, 32-bit", Shape::silentThenFull(5001).as(Encoding::pcm32), 1, 32,
         [](int64_t f, int) { return f < 2500 ? 0.0 : 1.0; }},
        {"a ramp on three float channels", Shape::ramp(4410).withChannels(3).as(Encoding::float32), 3, 32,
         [](int64_t f, int) { return double(f) / 4409; }},
        {"a sine, quieter on the left", Shape::sine(1000, 22050).at(22050).stereo().withLevels({0.5, 1.0}), 1,
         16,
         [pi](int64_t f, int c) {
             return (c == 0 ? 0.5 : 1.0) * std::sin(2 * pi * 1000 * double(f) / 22050);
         }},
    };
    Bench bench;
    bench.rig.koala.seed(Song::standard());
    bench.rig.time.advance(500);
    int pad = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto id = bench.rig.koala.loadSample(pad, c.shape, std::string("Take ") + std::to_string(pad));
        ASSERT_TRUE(id);
        EXPECT_EQ(*id, 14 + (pad - 20)); // after the standard song's thirteen
        const auto file = bench.files.song / "sampler" / (std::to_string(*id) + ".wav");
        EXPECT_EQ(SimKoala::samplePath(*id), file);
        auto wav = WavFile::parse(ScratchHome::read(file));
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->format, c.format);
        EXPECT_EQ(wav->bits, c.bits);
        EXPECT_EQ(wav->channels, c.shape.channels);
        EXPECT_EQ(wav->rate, c.shape.sampleRate);
        ASSERT_EQ(wav->frames(), c.shape.frames);
        // Integers clip full scale to their largest code.
        const double step = c.format == 3 ? 1e-6 : 1.0 / double(int64_t(1) << (c.bits - 1));
        int wrong = 0;
        for (int64_t f = 0; f < wav->frames() && wrong < 3; ++f) {
            for (int ch = 0; ch < wav->channels; ++ch) {
                if (std::fabs(wav->sample(f, ch) - c.expected(f, ch)) > step) {
                    ADD_FAILURE() << "frame " << f << " channel " << ch << ": " << wav->sample(f, ch);
                    ++wrong;
                }
            }
        }
        const auto date =
            std::chrono::duration_cast<std::chrono::nanoseconds>(bench.rig.time.date().time_since_epoch())
                .count();
        EXPECT_EQ(modifiedNanoseconds(file), date);

        // In the song, on the pad, and saved.
        const Song song = bench.rig.koala.song();
        ASSERT_FALSE(song.samples.empty());
        EXPECT_EQ(song.samples.back(),
                  (Song::Sample{*id, "/Users/koala/Music/Samples/Take " + std::to_string(pad) + ".wav",
                                double(c.shape.frames)}));
        Song::Pad loaded;
        loaded.sampleID = *id;
        loaded.end = double(c.shape.frames);
        EXPECT_EQ(song.pads[size_t(pad)], loaded);
        EXPECT_EQ(bench.rig.koala.frames(*id), double(c.shape.frames));
        ASSERT_FALSE(bench.rig.koala.saves().empty());
        EXPECT_EQ(bench.rig.koala.saves().back(), std::vector<std::string>{"sampler/sampler.json"});
        auto saved = bench.saved();
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->pads.at(pad).sampleID, *id);
        EXPECT_EQ(saved->pads.at(pad).frames, double(c.shape.frames));
        EXPECT_EQ(saved->pads.at(pad).label, "Take " + std::to_string(pad));
        EXPECT_EQ(*saved, expectedSession(song));
        ++pad;
        bench.rig.time.advance(1);
    }
    EXPECT_EQ(bench.rig.koala.saves().size(), std::size(cases));
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
    auto wav = WavFile::parse(ScratchHome::read(file));
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->frames(), 2000);
    EXPECT_EQ(wav->sample(1999, 0), 0.5);
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
    wav = WavFile::parse(ScratchHome::read(file));
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->format, 3);
    EXPECT_EQ(wav->sample(999, 0), 0.0);
    EXPECT_EQ(wav->sample(1000, 0), 1.0);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{std::to_string(*id) + ".wav", "sampler.json"}));

    // The chopper's sample cut to 100000 frames: slices past the end go, the end comes in, the start
    // stays.
    Song chopped = bench.rig.koala.song();
    chopped.pads[12].start = 30000;
    bench.rig.koala.seed(chopped);
    ASSERT_TRUE(bench.rig.koala.replaceSample(13, Shape::constant(0.25, 100000)));
    const Song::Pad chopper = bench.rig.koala.song().pads[12];
    EXPECT_EQ(chopper.slices, (std::vector<double>{0, 44100, 88200}));
    EXPECT_EQ(chopper.end, 100000);
    EXPECT_EQ(chopper.start, 30000);
    EXPECT_EQ(bench.saved()->pads.at(12).slices, (std::vector<double>{0, 44100, 88200}));

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
