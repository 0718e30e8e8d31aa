// What the controller shows: where a saved value puts a knob and how its value reads, the display's
// view, the pads' colours and the buttons' lights.
#include "tandem/push/KoalaController.h"

#include "base/Text.h"
#include "tandem/profiles/KoalaPushProfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace tandem {

namespace {

using Kind = KoalaController::Knob::Kind;
using Position = std::optional<double>;

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

double level(double value) {
    return value * 127.0;
}
double bipolar(double value, double range) {
    return 63.5 + value / range * 63.5;
}
double hertz(double frequency) {
    return frequency > 0 ? 127.0 * std::log(frequency / 20.0) / std::log(1000.0) : 0.0;
}
// The centre of step `index` of `count`, as turning the knob to it sets it.
Position step(int64_t index, size_t count) {
    if (index < 0 || size_t(index) >= count) return std::nullopt;
    return std::min(((double(index) + 0.5) * 128.0) / double(count), 127.0);
}
Position labelled(const std::optional<std::string>& saved, const std::vector<std::string>& labels) {
    if (!saved) return std::nullopt;
    const std::string wanted = Text::uppercase(*saved);
    for (size_t i = 0; i < labels.size(); ++i) {
        if (Text::uppercase(labels[i]) == wanted) return step(int64_t(i), labels.size());
    }
    return std::nullopt; // "None" and anything else unknown
}

const std::vector<std::string>& labelsOf(const std::string& address) {
    static const std::vector<std::string> none;
    for (auto page : {KoalaController::Page::eq, KoalaController::Page::seq}) {
        for (const auto& knob : KoalaController::knobs(page)) {
            if (knob && knob->address == address) return knob->labels;
        }
    }
    return none;
}

} // namespace

std::optional<double> KoalaController::initialPosition(const std::string& address) const {
    using Read = std::function<Position(const KoalaController&)>;
    auto pad = [](double KoalaSession::Pad::*field, std::function<double(double)> scale) {
        return Read([field, scale](const KoalaController& c) -> Position {
            return scale(c.padInfo(c.selected).*field);
        });
    };
    auto eq = [](int band, bool gain) {
        return Read([band, gain](const KoalaController& c) -> Position {
            const KoalaSession::Pad info = c.padInfo(c.selected);
            return gain ? bipolar(info.eqGain[size_t(band)], 18) : hertz(info.eqFreq[size_t(band)]);
        });
    };
    auto bus = [](int index) {
        return Read([index](const KoalaController& c) -> Position {
            return level(c.session.busVolume[size_t(index)]);
        });
    };
    // One table from each knob's address to where the saved song puts it (0-127).
    static const std::map<std::string, Read> table{
        {"/currPad/volume", pad(&KoalaSession::Pad::vol, level)},
        {"/currPad/pan", pad(&KoalaSession::Pad::pan, level)},
        {"/currPad/pitch", pad(&KoalaSession::Pad::pitch, [](double v) { return bipolar(v, 24); })},
        {"/currPad/sample/tone", pad(&KoalaSession::Pad::tone, [](double v) { return bipolar(v, 1); })},
        {"/currPad/sample/ampEnvelope/attack", pad(&KoalaSession::Pad::attack, level)},
        {"/currPad/sample/ampEnvelope/release", pad(&KoalaSession::Pad::release, level)},
        {"/currPad/sample/start",
         [](const KoalaController& c) -> Position {
             const KoalaSession::Pad info = c.padInfo(c.selected);
             if (!info.frames || *info.frames <= 0) return std::nullopt;
             return info.start / *info.frames * 127.0;
         }},
        {"/currPad/sample/length",
         [](const KoalaController& c) -> Position {
             const KoalaSession::Pad info = c.padInfo(c.selected);
             if (!info.frames || *info.frames <= 0) return std::nullopt;
             return (info.end.value_or(*info.frames) - info.start) / *info.frames * 127.0;
         }},
        {"/currPad/eq/band0/freq", eq(0, false)},
        {"/currPad/eq/band0/gain", eq(0, true)},
        {"/currPad/eq/band1/freq", eq(1, false)},
        {"/currPad/eq/band1/gain", eq(1, true)},
        {"/currPad/eq/band2/freq", eq(2, false)},
        {"/currPad/eq/band2/gain", eq(2, true)},
        {"/currPad/sample/chokeGroup",
         [](const KoalaController& c) { return step(c.padInfo(c.selected).choke, 7); }},
        {"/currPad/bus", [](const KoalaController& c) { return step(c.padInfo(c.selected).bus + 1, 5); }},
        {"/mixer/channels/1/volume", bus(0)},
        {"/mixer/channels/2/volume", bus(1)},
        {"/mixer/channels/3/volume", bus(2)},
        {"/mixer/channels/4/volume", bus(3)},
        {"/mixer/channels/main/volume",
         [](const KoalaController& c) -> Position { return level(c.session.mainVolume); }},
        {"/sequencer/swing", [](const KoalaController& c) -> Position { return level(c.session.swing); }},
        {"/sequencer/beatsPerBar",
         [](const KoalaController& c) { return step(c.session.beatsPerBar - 1, 16); }},
        {"/sequencer/seqSnap",
         [](const KoalaController& c) {
             return labelled(c.session.sequenceSnap, labelsOf("/sequencer/seqSnap"));
         }},
        {"/keyboard/scale",
         [](const KoalaController& c) { return labelled(c.session.scale, labelsOf("/keyboard/scale")); }},
    };
    auto found = table.find(address);
    if (found == table.end()) return std::nullopt;
    Position value = found->second(*this);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return std::clamp(*value, 0.0, 127.0);
}

std::string KoalaController::knobText(const Knob& knob) const {
    if (knob.kind == Kind::relative) {
        if (knob.address == "bpm") {
            auto tempo = bpm();
            return tempo ? format("%.1f", *tempo) : "—";
        }
        const int sequence = currentSequence();
        int64_t bars = 1;
        if (auto preview = sequencePreviews.find(sequence); preview != sequencePreviews.end()) {
            bars = preview->second.bars;
        } else if (sequence >= 0 && size_t(sequence) < session.bars.size()) {
            bars = session.bars[size_t(sequence)];
        }
        return std::to_string(bars) + " BAR" + (bars == 1 ? "" : "S");
    }
    auto known = position(knob.address);
    if (!known) return "—";
    const double v = *known;
    const double scaled = (v - 63.5) / 63.5;
    switch (knob.kind) {
    case Kind::steps:
        return knob.labels.empty() ? "" : knob.labels[size_t(stepIndex(int(knob.labels.size()), v))];
    case Kind::level:
        return std::to_string(int(v / 127.0 * 100.0)) + "%";
    case Kind::decibels:
    case Kind::semitones: {
        const double x = scaled * knob.range;
        const char* suffix = knob.kind == Kind::decibels ? " DB" : " ST";
        return std::abs(x) >= 0.05 ? format("%+.1f", x) + suffix : std::string("0") + suffix;
    }
    case Kind::bipolar: {
        const int x = int(scaled * 100.0);
        return x == 0 ? "0" : (x > 0 ? "+" : "") + std::to_string(x);
    }
    case Kind::pan: {
        const int x = int(scaled * 100.0);
        return x == 0 ? "C" : (x < 0 ? "L" + std::to_string(-x) : "R" + std::to_string(x));
    }
    case Kind::hertz: {
        const double f = 20.0 * std::pow(1000.0, v / 127.0);
        return f >= 1000 ? format("%.1f KHZ", f / 1000.0) : std::to_string(int(f)) + " HZ";
    }
    case Kind::relative:
        break;
    }
    return "";
}

// ---- The display's view -----------------------------------------------------------------------------

namespace {

const std::vector<std::string> upperLabels{"PAD", "EQ", "FX", "MIXER", "SEQ", "KEYBOARD", "LOAD", "SETTINGS"};
constexpr int keyboardLabel = 5;
const char* const bankLetters[] = {"A", "B", "C", "D"};

uint8_t color(Push2Color c, int offset = 0) {
    return uint8_t(uint8_t(c) + std::clamp(offset, 0, 3));
}

// White-only buttons.
constexpr uint8_t whiteDim = 0x10, whiteOn = 0x7F, whiteCanMove = 0x30;

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

} // namespace

int KoalaController::waveformPad() const {
    if (keyboard.mode == Keyboard::Mode::on) return keyboard.pad;
    if (link && lastHit) return *lastHit;
    return selected;
}

void KoalaController::updateWave(const KoalaWaveformAudio& audio, int pad) {
    // A pending trim counts frames of the file it was made on: once the file has another length the
    // prediction means nothing, and the saved song is the truth again.
    if (auto trim = pendingTrims.find(pad); trim != pendingTrims.end()) {
        const KoalaSession::Pad info = padInfo(pad);
        const bool sameSample = info.sampleID && *info.sampleID == trim->second.sampleID;
        if (sameSample && std::abs(audio.frames - trim->second.frames) > 0.5) {
            clearTrim(pad);
        } else if (sameSample) {
            trim->second.signature = audio.signature;
        }
    }
    wave = audio;
    waveOwner = pad;
}

std::vector<std::string> KoalaController::lowerLabels() const {
    switch (page) {
    case Page::pad:
        return {"ONE SHOT", "LOOP",     "REVERSE", "MUTE", "SOLO", shift ? "HEADPHONES" : "MIC IN",
                "RESAMPLE", "FILE IN"};
    case Page::seq:
        return {"PLAY", "RECORD", "QUANTIZE", "PIANO ROLL", "BARS −", "BARS +", "TEMPO",
                shift ? "CLEAR SEQ" : "(SHIFT) CLEAR"};
    case Page::mixer: {
        std::vector<std::string> labels;
        for (const char* letter : bankLetters)
            labels.push_back((soloHeld ? "SOLO " : "MUTE ") + std::string(letter));
        labels.insert(labels.end(), {"MUTE MAIN", "SAMPLE", "PERFORM", "SEQUENCE"});
        return labels;
    }
    case Page::fx: {
        std::vector<std::string> labels(8);
        for (size_t i = 0; i < 8 && i < session.fx.size(); ++i)
            labels[i] = Text::uppercase(session.fx[i]);
        return labels;
    }
    case Page::eq:
        return {"LOW FLAT", "MID FLAT", "HIGH FLAT", "ALL FLAT", "ONE SHOT", "LOOP", "REVERSE", "MUTE"};
    }
    return std::vector<std::string>(8);
}

std::set<int> KoalaController::lowerOn() const {
    std::set<int> on;
    const std::string pad = std::to_string(selected);
    auto switches = [&](int first) {
        static const char* names[] = {"oneshot#", "loop#", "reverse#", "mute#"};
        for (int i = 0; i < 4; ++i) {
            if (flagState(names[i] + pad)) on.insert(first + i);
        }
    };
    switch (page) {
    case Page::pad:
        switches(0);
        if (flagState("sampleSolo")) on.insert(4);
        break;
    case Page::eq:
        switches(4);
        break;
    case Page::mixer:
        for (int bus = 0; bus < 4; ++bus) {
            if (flagState((soloHeld ? "solo." : "mute.") + std::to_string(bus + 1))) on.insert(bus);
        }
        if (flagState("mute.main")) on.insert(4);
        break;
    case Page::seq:
        if (playing()) on.insert(0);
        if (localRecording) on.insert(1);
        if (flagState("quantize")) on.insert(2);
        if (pianoRollOverride.value_or(false)) on.insert(3);
        break;
    case Page::fx:
        for (int fx = 0; fx < 8; ++fx) {
            if (fxOn.count(fx)) on.insert(fx);
        }
        break;
    }
    return on;
}

std::array<uint8_t, 64> KoalaController::padColors() const {
    std::array<uint8_t, 64> colors{};
    const bool blinkBright = int64_t(std::floor(now() * 3)) % 2 == 0;
    const KoalaSession::Pad keyboardInfo = padInfo(keyboard.pad);
    const int chops = keyboard.mode == Keyboard::Mode::on && keyboardInfo.chopper ? chopCount(keyboard.pad) : 1;
    const int shownSelection = link ? lastHit.value_or(selected) : selected;
    for (int p = 0; p < 64; ++p) {
        const int k = koalaPad(p);
        const int bank = k / 16;
        const bool held = heldPads.count(p) > 0;
        Push2Color c;
        int offset = 0;
        switch (keyboard.mode) {
        case Keyboard::Mode::off: {
            bool loaded = padInfo(k).loaded;
            if (link && koalaPage == KoalaPage::sample) {
                if (auto state = padStates.find(k); state != padStates.end() && state->second != 0)
                    loaded = state->second != 1;
            }
            if (deletedPads.count(k)) {
                c = Push2Color::koalaDimA, offset = bank;
            } else if (held) {
                c = Push2Color::hit;
            } else if (k == shownSelection) {
                c = Push2Color::selected;
            } else {
                c = loaded ? Push2Color::koalaA : Push2Color::koalaDimA, offset = bank;
            }
            break;
        }
        case Keyboard::Mode::choosing:
            if (held) {
                c = Push2Color::hit;
            } else {
                c = blinkBright ? Push2Color::koalaA : Push2Color::koalaDimA, offset = bank;
            }
            break;
        case Keyboard::Mode::on:
            if (held) {
                c = Push2Color::hit;
            } else if (keyboardInfo.chopper) {
                const int ordinal = chopPage * 64 + k;
                c = ordinal < chops ? Push2Color::koalaA : Push2Color::koalaDimA;
                offset = ((ordinal % chops) / 16) & 3;
            } else {
                const int v = octave + p - 24;
                c = v == 0 ? Push2Color::selected : v % 12 == 0 ? Push2Color::koalaA : Push2Color::koalaDimA;
            }
            break;
        }
        colors[size_t(p)] = color(c, offset);
    }
    return colors;
}

std::map<int, uint8_t> KoalaController::buttonLights() const {
    std::map<int, uint8_t> lights;
    const bool keyboardShown = keyboard.mode != Keyboard::Mode::off;
    auto white = [](bool on, uint8_t lit = whiteOn) { return on ? lit : whiteDim; };

    for (int i = 0; i < 8; ++i)
        lights[102 + i] = color(Push2Color::koalaDimA);
    lights[102 + int(page)] = color(Push2Color::selected);
    lights[102 + keyboardLabel] = color(keyboardShown ? Push2Color::koalaB : Push2Color::koalaDimA);

    auto effectLight = [&](int cc, int fx) -> uint8_t {
        if (fx < 0 || size_t(fx) >= session.fx.size()) return 0;
        if (fxPress.count(cc)) return color(Push2Color::hit);
        return color(fxOn.count(fx) ? Push2Color::koalaA : Push2Color::koalaDimA);
    };
    if (page == Page::fx) {
        for (int i = 0; i < 8; ++i)
            lights[20 + i] = effectLight(20 + i, i);
        for (int i = 0; i < 8; ++i)
            lights[43 - i] = effectLight(43 - i, i + 8);
    } else {
        const std::vector<std::string> labels = lowerLabels();
        const std::set<int> on = lowerOn();
        for (int i = 0; i < 8; ++i) {
            uint8_t value = 0;
            if (!labels[size_t(i)].empty()) {
                value = lowerDown.count(i) ? color(Push2Color::hit)
                        : on.count(i)      ? color(Push2Color::koalaB)
                                           : color(Push2Color::koalaDimB);
            }
            lights[20 + i] = value;
        }
        const int current = currentSequence();
        for (int i = 0; i < 8; ++i)
            lights[43 - i] =
                color(8 * sequenceBank + i == current ? Push2Color::koalaB : Push2Color::koalaDimB);
    }

    const bool recording =
        link ? [&] {
            auto led = leds.find(35);
            return led != leds.end() && led->second == 0x3F;
        }()
             : localRecording;
    lights[85] = color(playing() ? Push2Color::target : Push2Color::playDim);
    lights[86] = color(recording ? Push2Color::accent : Push2Color::accentDim);
    lights[60] = color(Push2Color::koalaDimD);
    if (flagState("mute#" + std::to_string(selected))) lights[60] = color(Push2Color::koalaD);
    lights[61] = color(soloHeld || flagState("sampleSolo") ? Push2Color::koalaC : Push2Color::koalaDimC);

    lights[49] = white(shift);
    lights[50] = white(keyboardShown);
    lights[118] = white(keyboard.mode == Keyboard::Mode::off && !heldPads.empty());
    lights[59] = white(now() - quitArmedAt < 3.0);
    lights[46] = white(sequenceBank < 3 && page != Page::fx, whiteCanMove);
    lights[47] = white(sequenceBank > 0 && page != Page::fx, whiteCanMove);
    lights[110] = white(page == Page::pad);
    lights[51] = white(page == Page::fx);
    lights[112] = white(page == Page::mixer);
    lights[113] = white(page == Page::seq);
    lights[9] = white(flagState("metro"));
    lights[116] = white(flagState("quantize"));

    bool down = false, up = false, chopper = false;
    if (keyboard.mode == Keyboard::Mode::on) {
        if (padInfo(keyboard.pad).chopper) {
            chopper = true;
            down = chopPage > 0;
            up = chopPage < (chopCount(keyboard.pad) > 64 ? 1 : 0);
        } else {
            const int lowest = keyboardOffset + octave;
            down = lowest - 12 >= 0;
            up = lowest + 12 + 63 <= 127;
        }
    }
    lights[54] = white(down, whiteCanMove);
    lights[55] = white(up, whiteCanMove);
    lights[62] = white(chopper && down, whiteCanMove);
    lights[63] = white(chopper && up, whiteCanMove);

    lights[57] = white(fullLevel);
    lights[56] = white(repeatEnabled);
    lights[31] = white(detailView);
    lights[89] = macroRecording ? 0x13 : macroPlaying ? 0x17 : 0x0D;
    for (int cc : {29, 28, 58, 35, 52, 53, 87, 88, 90, 119, 117, 111, 30, 44, 45, 48, 3})
        lights[cc] = whiteDim;
    return lights;
}

KoalaView KoalaController::view() const {
    KoalaView v;
    v.page = int(page);
    const bool keyboardShown = keyboard.mode != Keyboard::Mode::off;
    const int shown = waveformPad();
    const KoalaSession::Pad shownInfo = padInfo(shown);

    // The pattern of the shown sequence: a local recording or edit while there is one, else the saved.
    const int sequence = currentSequence();
    int64_t bars = 1;
    std::optional<std::vector<KoalaSession::Note>> notes;
    if (auto preview = sequencePreviews.find(sequence); preview != sequencePreviews.end()) {
        bars = preview->second.bars;
        notes = preview->second.notes;
        v.localPattern = true;
    } else if (sequence >= 0 && size_t(sequence) < session.notes.size()) {
        notes = session.notes[size_t(sequence)];
        if (size_t(sequence) < session.bars.size()) bars = session.bars[size_t(sequence)];
    }
    int64_t beatsPerBar = session.beatsPerBar;
    if (auto known = position("/sequencer/beatsPerBar")) beatsPerBar = stepIndex(16, *known) + 1;
    beatsPerBar = std::max<int64_t>(1, beatsPerBar);
    v.sequenceBeats = double(std::max<int64_t>(1, bars) * beatsPerBar);
    v.pianoRoll = pianoRollOverride.value_or(false);
    v.clockLive = now() - lastTick <= 0.5;
    const bool isPlaying = playing();
    if (isPlaying) v.playhead = std::fmod(std::max(0.0, transportBeat()), v.sequenceBeats);

    for (const auto& [p, press] : heldPadOns) {
        if (keyboard.mode == Keyboard::Mode::on) {
            v.activePads.insert(keyboard.pad);
            v.activePitches.insert(double(press.data[1]));
        } else {
            v.activePads.insert(koalaPad(p));
        }
    }

    v.upper = upperLabels;
    v.upperOn = {int(page)};
    if (keyboardShown) v.upperAlt = {keyboardLabel};
    v.lower = lowerLabels();
    v.lowerOn = lowerOn();
    if (page == Page::fx) {
        for (const auto& [cc, press] : fxPress) {
            if (cc >= 20 && cc <= 27) v.lowerHeld.insert(cc - 20);
        }
    } else {
        v.lowerHeld = lowerDown;
    }
    if (page == Page::pad && padInfo(selected).chopper) v.lowerDim.insert(0);
    if (page == Page::eq && padInfo(selected).chopper) v.lowerDim.insert(4);
    if (page == Page::mixer && soloHeld) v.lowerDim.insert(4);

    v.pad = padID(shown);
    v.padName = !shownInfo.loaded ? "EMPTY" : shownInfo.label.empty() ? "—" : shownInfo.label;
    v.bank = std::clamp(shown / 16, 0, 3);
    v.message = currentMessage();

    // The status line.
    std::vector<std::string> status;
    if (!isPlaying) {
        status.push_back("■ STOPPED");
    } else {
        const double beat = std::max(0.0, transportBeat());
        const int64_t whole = int64_t(std::floor(beat));
        const bool fromClock = transport == Transport::running && v.clockLive;
        status.push_back(std::to_string(whole / beatsPerBar + 1) + "." + std::to_string(whole % beatsPerBar + 1) +
                         (fromClock ? "" : " LOCAL"));
    }
    if (localRecording) status.push_back(transportBeat() < recordingStartsAt ? "COUNT IN" : "REC LOCAL");
    status.push_back("SEQ " + std::to_string(sequence + 1));
    if (auto tempo = bpm()) status.push_back(format("%.1f BPM", *tempo));
    status.push_back(link ? "LINK" : "SAVED / LOCAL");
    if (fullLevel) status.push_back("FULL");
    if (repeatEnabled) status.push_back("1/16");
    if (flagState("fxHold")) status.push_back("HOLD");
    if (macroRecording) status.push_back("MACRO REC");
    if (macroPlaying) status.push_back("MACRO LOOP");
    v.status = joined(status, " · ");

    // The mode line, the big text and the hint.
    if (keyboard.mode == Keyboard::Mode::choosing) {
        v.mode = "KEYBOARD · CHOOSING A PAD";
        v.big = "KEYBOARD: CHOOSING A PAD";
        v.hint = "A CHOPPER: ITS CHOPS · ANY OTHER PAD: 16 LEVELS · KEYBOARD AGAIN: CANCEL";
    } else if (keyboard.mode == Keyboard::Mode::on && padInfo(keyboard.pad).chopper) {
        const int count = chopCount(keyboard.pad);
        const int first = 64 * chopPage + 1;
        const int last = std::min(count, 64 * chopPage + 64);
        v.mode = "CHOPPER " + padID(keyboard.pad) + " · " + std::to_string(count) + " CHOPS " +
                 (chopCountOverride ? "OVERRIDE" : "SAVED") + " · PAGE " + std::to_string(chopPage + 1) +
                 " · CHOPS " + (first <= last ? std::to_string(first) + "–" + std::to_string(last) : "NONE");
    } else if (keyboard.mode == Keyboard::Mode::on) {
        const int lowest = keyboardOffset + octave;
        v.mode = "KEYBOARD · 16 LEVELS " + noteName(lowest) + "–" + noteName(lowest + 63);
        if (heldPads.empty()) v.hint = "HIT THE PAD TO PLAY";
    }
    if (v.hint.empty()) {
        const std::string koalaPadID = padID(selected);
        if (page == Page::pad) {
            v.hint = "PADS: A–D · EDITING " + v.pad +
                     (shown == selected ? " SELECTED IN KOALA"
                                        : " · * CONTROLS EDIT " + koalaPadID + " · * = KOALA'S");
        } else if (page == Page::eq) {
            v.hint = "EQ EDITS KOALA'S SELECTED PAD " + koalaPadID;
        }
    }

    // The middle: effects, the page's knobs, or the pad's waveform / the sequence's pattern.
    if (page == Page::fx) {
        auto effect = [&](int fx) {
            KoalaView::Cell cell;
            if (fx >= int(session.fx.size())) return cell;
            cell.name = std::to_string(fx + 1) + " " + Text::uppercase(session.fx[size_t(fx)]);
            cell.level = double(fxLevel(fx)) / 127.0;
            cell.on = fxOn.count(fx) > 0;
            cell.lit = fxSelected == fx;
            return cell;
        };
        for (int i = 0; i < 8; ++i) {
            v.cells.push_back(effect(i));
            v.cellsTop.push_back(effect(i + 8));
        }
    } else if (page == Page::pad && detailView) {
        v.notes.reset();
        if (shownInfo.sampleID && wave && waveOwner == shown) v.wave = tandem::wave(*wave, shownInfo);
    } else if (page == Page::seq && detailView) {
        v.notes = notes;
    } else {
        const auto& pageKnobs = knobs(page);
        const bool otherPad = shown != selected;
        for (size_t i = 0; i < pageKnobs.size(); ++i) {
            KoalaView::Cell cell;
            if (const auto& knob = pageKnobs[i]) {
                cell.name = knob->name;
                cell.value = knobText(*knob);
                // Koala's selected pad is what "/currPad/" knobs edit; mark them when another is shown.
                if (otherPad && knob->address.rfind("/currPad/", 0) == 0) cell.name += " *";
                if (knob->kind != Kind::relative) {
                    if (auto at = position(knob->address)) cell.level = std::clamp(*at / 127.0, 0.0, 1.0);
                }
                cell.centred = knob->kind == Kind::decibels || knob->kind == Kind::semitones ||
                               knob->kind == Kind::bipolar || knob->kind == Kind::pan;
                cell.on = positions.count(memoryKey(knob->address)) > 0;
                cell.lit = touched == int(i);
            }
            v.cells.push_back(std::move(cell));
        }
    }
    return v;
}

} // namespace tandem
