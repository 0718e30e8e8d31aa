#include "tandem/push/KoalaController.h"

#include "base/ActivityLog.h"
#include "tandem/profiles/KoalaMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tandem {

namespace {

using Kind = KoalaController::Knob::Kind;
using Knob = KoalaController::Knob;

constexpr double unknownPosition = 63.5;
constexpr int detentsPerStep = 6;
constexpr int maxSteps = 8;

Knob knob(std::string name, std::string address, Kind kind, double range = 0) {
    return Knob{std::move(name), std::move(address), kind, {}, {}, {}, range};
}
Knob steps(std::string name, std::string address, std::vector<std::string> labels) {
    return Knob{std::move(name), std::move(address), Kind::steps, std::move(labels), {}, {}, 0};
}
Knob relative(std::string name, std::string address, std::string up, std::string down) {
    return Knob{std::move(name), std::move(address), Kind::relative, {}, std::move(up), std::move(down), 0};
}

std::vector<std::string> numbered(int from, int to) {
    std::vector<std::string> labels;
    for (int i = from; i <= to; ++i)
        labels.push_back(std::to_string(i));
    return labels;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

} // namespace

// ---- Tables ---------------------------------------------------------------------------------------

const std::map<std::string, KoalaKey>& KoalaController::table() {
    static const std::map<std::string, KoalaKey> keys = [] {
        std::map<std::string, KoalaKey> made;
        for (const auto& [address, key] : KoalaPushProfile::canonicalMap())
            made.emplace(address, key);
        return made;
    }();
    return keys;
}

const std::array<std::optional<KoalaController::Knob>, 8>& KoalaController::knobs(Page page) {
    static const std::array<std::optional<Knob>, 8> pad{
        knob("VOLUME", "/currPad/volume", Kind::level),
        knob("PAN", "/currPad/pan", Kind::pan),
        knob("PITCH", "/currPad/pitch", Kind::semitones, 24),
        knob("TONE", "/currPad/sample/tone", Kind::bipolar),
        knob("ATTACK", "/currPad/sample/ampEnvelope/attack", Kind::level),
        knob("RELEASE", "/currPad/sample/ampEnvelope/release", Kind::level),
        knob("START", "/currPad/sample/start", Kind::level),
        knob("LENGTH", "/currPad/sample/length", Kind::level),
    };
    static const std::array<std::optional<Knob>, 8> eq{
        knob("LOW FREQ", "/currPad/eq/band0/freq", Kind::hertz),
        knob("LOW GAIN", "/currPad/eq/band0/gain", Kind::decibels, 18),
        knob("MID FREQ", "/currPad/eq/band1/freq", Kind::hertz),
        knob("MID GAIN", "/currPad/eq/band1/gain", Kind::decibels, 18),
        knob("HIGH FREQ", "/currPad/eq/band2/freq", Kind::hertz),
        knob("HIGH GAIN", "/currPad/eq/band2/gain", Kind::decibels, 18),
        steps("CHOKE", "/currPad/sample/chokeGroup", {"OFF", "1", "2", "3", "4", "5", "6"}),
        steps("BUS", "/currPad/bus", {"OFF", "A", "B", "C", "D"}),
    };
    static const std::array<std::optional<Knob>, 8> mixer{
        knob("BUS A", "/mixer/channels/1/volume", Kind::level),
        knob("BUS B", "/mixer/channels/2/volume", Kind::level),
        knob("BUS C", "/mixer/channels/3/volume", Kind::level),
        knob("BUS D", "/mixer/channels/4/volume", Kind::level),
        knob("MAIN", "/mixer/channels/main/volume", Kind::level),
        std::nullopt,
        std::nullopt,
        std::nullopt,
    };
    static const std::array<std::optional<Knob>, 8> seq{
        knob("SWING", "/sequencer/swing", Kind::level),
        relative("BARS", "bars", "/currSequence/numBars/++", "/currSequence/numBars/--"),
        relative("BPM", "bpm", "/sequencer/bpm/++", "/sequencer/bpm/--"),
        steps("SCALE", "/keyboard/scale",
              {"CHROMATIC", "PENTATONIC", "MAJOR", "MINOR", "HARM MINOR", "WHOLE TONE", "DIMINISHED",
               "HEXATONIC", "JAPANESE", "PELOG", "YING ZHONG"}),
        steps("BEATS/BAR", "/sequencer/beatsPerBar", numbered(1, 16)),
        steps("SNAP", "/sequencer/seqSnap", {"1", "2", "3", "4"}),
        std::nullopt,
        std::nullopt,
    };
    static const std::array<std::optional<Knob>, 8> none{};
    switch (page) {
    case Page::pad:
        return pad;
    case Page::eq:
        return eq;
    case Page::mixer:
        return mixer;
    case Page::seq:
        return seq;
    case Page::fx:
        break;
    }
    return none;
}

const KoalaController::Knob& KoalaController::masterKnob() {
    return *knobs(Page::mixer)[4];
}

const KoalaController::Knob& KoalaController::swingKnob() {
    return *knobs(Page::seq)[0];
}

namespace {

// The pad parameters that go over Koala's feedback channel in link mode, by their parameter number.
const std::map<std::string, int>& linkKnobs() {
    static const std::map<std::string, int> numbers{{"/currPad/volume", 6},
                                                    {"/currPad/pitch", 7},
                                                    {"/currPad/pan", 8},
                                                    {"/currPad/sample/ampEnvelope/attack", 9},
                                                    {"/currPad/sample/ampEnvelope/release", 10},
                                                    {"/currPad/sample/tone", 11}};
    return numbers;
}

} // namespace

// ---- Pure helpers ---------------------------------------------------------------------------------

int KoalaController::koalaPad(int p) {
    const int row = p / 8, column = p % 8;
    const int bank = (row / 4) * 2 + column / 4;
    return bank * 16 + (row % 4) * 4 + column % 4;
}

std::string KoalaController::padID(int pad) {
    const int bank = std::clamp(pad / 16, 0, 3);
    return std::string(1, char('A' + bank)) + std::to_string(((pad % 16) + 16) % 16 + 1);
}

std::string KoalaController::noteName(int note) {
    static const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    const int octave = (note >= 0 ? note / 12 : (note - 11) / 12) - 2;
    return names[((note % 12) + 12) % 12] + std::to_string(octave);
}

int KoalaController::chopNote(int ordinal, int count) {
    count = std::clamp(count, 1, 128);
    if (ordinal < 0) return 60;
    if (ordinal < 68) return ordinal + 60;
    int note = ordinal >= 127 ? 187 : ordinal + 60;
    while (note > 127)
        note -= count;
    return note;
}

int KoalaController::stepIndex(int count, double value) {
    if (count < 1) return 0;
    return std::clamp(int(std::trunc(double(count) * value / 128.0)), 0, count - 1);
}

// ---- Basics ---------------------------------------------------------------------------------------

std::string KoalaController::trimBehaviorKeyFor(Workspace& workspace, const std::filesystem::path& usual) {
    auto location = workspace.urlForApplication(koalaBundleIdentifier).value_or(usual);
    return "KoalaTrimStartKeepsEnd." + workspace.applicationVersion(location).value_or("unknown");
}

KoalaController::KoalaController(Services services, Send send)
    : send(std::move(send))
    , trimBehaviorKey(services.trimBehaviorKey)
    , services(std::move(services)) {
    trimStartKeepsEnd =
        this->services.defaults.boolean(Defaults::tandemSuite, trimBehaviorKey).value_or(true);
}

double KoalaController::now() const {
    return services.clock.uptime();
}

KoalaController::Date KoalaController::date() const {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(services.clock.date().time_since_epoch()).count();
}

void KoalaController::show(const std::string& text, double seconds) {
    message = text;
    messageUntil = now() + seconds;
}

std::string KoalaController::currentMessage() const {
    return now() < messageUntil ? message : "";
}

void KoalaController::sendMessage(const MidiMessage& midi) {
    if (send && midi.size) send(midi.bytes());
}

void KoalaController::output(std::span<const uint8_t> bytes) {
    if (send && !bytes.empty()) send(bytes);
    // A capture keeps the knob and strip moves, never the macro's own playback.
    if (macroRecording && !applyingMacro && bytes.size() == 3 && (bytes[0] & 0xF0) == 0xB0 &&
        macro.size() < 4000 && now() - macroStarted < 30.0) {
        macro.push_back({now() - macroStarted, {bytes[0], bytes[1], bytes[2]}});
    }
}

std::string KoalaController::memoryKey(const std::string& address) const {
    if (address.rfind("/currPad/", 0) == 0) return address + "#" + std::to_string(selected);
    return address;
}

void KoalaController::tap(const std::string& address, const std::string& label) {
    auto key = table().find(address);
    if (key == table().end()) return;
    if (auto down = key->second.press(true, 1)) sendMessage(*down);
    if (auto up = key->second.press(false, 127)) sendMessage(*up);
    previewCommand(address);
    if (!label.empty()) show(label);
}

int KoalaController::chopCount(int pad) const {
    if (chopCountOverride) return std::clamp(*chopCountOverride, 1, 128);
    return std::clamp(int(padInfo(pad).slices.size()), 1, 128);
}

// ---- Events ---------------------------------------------------------------------------------------

void KoalaController::handle(const Push2Event& event) {
    using EventKind = Push2Event::Kind;
    switch (event.kind) {
    case EventKind::pad:
        if (event.index < 0 || event.index > 63) return;
        if (event.down) {
            int velocity = std::max(1, event.value);
            if (fullLevel) velocity = 127;
            padPressed(event.index, velocity);
        } else {
            releasePad(event.index);
        }
        return;
    case EventKind::pressure: {
        auto held = heldPads.find(event.index);
        if (held == heldPads.end()) return;
        const MidiMessage& release = held->second;
        sendMessage(MidiMessage{uint8_t(0xA0 | (release.data[0] & 0x0F)), release.data[1],
                                uint8_t(std::clamp(event.value, 0, 127))});
        return;
    }
    case EventKind::channelPressure: {
        std::set<uint8_t> channels;
        for (const auto& [pad, release] : heldPads)
            channels.insert(release.data[0] & 0x0F);
        for (uint8_t channel : channels)
            sendMessage(MidiMessage{uint8_t(0xD0 | channel), uint8_t(std::clamp(event.value, 0, 127))});
        return;
    }
    case EventKind::encoder:
        encoder(event.index, event.value);
        return;
    case EventKind::encoderTouch:
        encoderTouch(event.index, event.down);
        return;
    case EventKind::button:
        button(event.index, event.down);
        return;
    case EventKind::strip:
        strip(event.position);
        return;
    case EventKind::stripTouch:
        stripTouch(event.down);
        return;
    }
}

void KoalaController::padPressed(int p, int velocity) {
    const int k = koalaPad(p);
    switch (keyboard.mode) {
    case Keyboard::Mode::off: {
        auditionPad = k;
        hold(p, KoalaPushProfile::padAddress(k), velocity);
        if (padsSelectInKoala) {
            selected = k;
            ++selectionRevision;
            markCommand("selection");
            chopPage = 0;
            chopCountOverride.reset();
        }
        if (link) {
            lastHit = k;
            if (koalaBank != k / 16) {
                const uint8_t bank[] = {0x10, uint8_t(k / 16)};
                if (sendLink) sendLink(bank);
                koalaBank = k / 16;
            }
        }
        const KoalaSession::Pad info = padInfo(k);
        show(padID(k) + " · " + (!info.loaded ? "EMPTY" : info.label.empty() ? "—" : info.label), 1.5);
        break;
    }
    case Keyboard::Mode::choosing: {
        hold(p, KoalaPushProfile::padAddress(k), velocity);
        keyboard = {Keyboard::Mode::on, k};
        selected = k;
        auditionPad = k;
        lastHit = k;
        chopCountOverride.reset();
        octave = 0;
        chopPage = 0;
        ++selectionRevision;
        markCommand("selection");
        const KoalaSession::Pad info = padInfo(k);
        show(info.chopper ? padID(k) + ": ITS " + std::to_string(chopCount(k)) + " CHOPS ON THE PADS"
                          : padID(k) + ": 16 LEVELS · OCTAVE ▲▼",
             4.0);
        break;
    }
    case Keyboard::Mode::on: {
        int note;
        if (padInfo(keyboard.pad).chopper) {
            note = chopNote(k + chopPage * 64, chopCount(keyboard.pad));
        } else {
            note = keyboardOffset + octave + p;
        }
        holdNote(p, note, velocity);
        break;
    }
    }
    if (heldPads.count(p)) beginRecording(p, velocity);
}

void KoalaController::hold(int p, const std::string& address, int velocity) {
    auto key = table().find(address);
    if (key == table().end()) return;
    auto press = key->second.press(true, velocity);
    auto release = key->second.press(false, 127);
    if (press && release) holdMessages(p, *press, *release);
}

void KoalaController::holdNote(int p, int note, int velocity) {
    const uint8_t channel = uint8_t(std::clamp(keyboardChannel, 1, 16) - 1);
    const uint8_t number = uint8_t(std::clamp(note, 0, 127));
    holdMessages(p, MidiMessage{uint8_t(0x90 | channel), number, uint8_t(std::clamp(velocity, 1, 127))},
                 MidiMessage{uint8_t(0x80 | channel), number, 0});
}

void KoalaController::holdMessages(int p, const MidiMessage& press, const MidiMessage& release) {
    if (heldPads.count(p)) releasePad(p);
    sendMessage(press);
    heldPads[p] = release;
    heldPadOns[p] = press;
}

void KoalaController::releasePad(int p) {
    finishRecording(p);
    auto held = heldPads.find(p);
    if (held == heldPads.end()) return;
    const MidiMessage release = held->second;
    heldPads.erase(held);
    heldPadOns.erase(p);
    // A note two pads sound goes on until the last of them lets go.
    for (const auto& [other, message] : heldPads) {
        if (message == release) return;
    }
    sendMessage(release);
}

void KoalaController::releaseAll() {
    finishAllRecordings();
    for (const auto& [pad, release] : heldPads)
        sendMessage(release);
    for (const auto& [cc, release] : heldButtons)
        sendMessage(release);
    heldPads.clear();
    heldPadOns.clear();
    heldButtons.clear();
    pressedButtons.clear();
    lowerDown.clear();
    shift = soloHeld = false;
    fxPress.clear();
    stripHeld = false;
    stripTarget.reset();
    stripAnchor.reset();
    macroRecording = macroPlaying = false;
    for (int fx : std::vector<int>(ownedFX.begin(), ownedFX.end())) {
        if (fxOn.count(fx)) fxSend(fx, 0);
    }
}

// ---- Encoders -------------------------------------------------------------------------------------

void KoalaController::encoderTouch(int index, bool down) {
    if (index >= 0 && index <= 7) {
        if (down) {
            touched = index;
        } else if (touched == index) {
            touched.reset();
        }
        return;
    }
    if (!down) return;
    if (index == 8) {
        auto tempo = bpm();
        show("TEMPO · " + (tempo ? format("%.1f BPM", *tempo) : std::string("UNKNOWN")));
    } else if (index == 10) {
        show("MASTER · " + knobText(masterKnob()));
    } else if (index == 9) {
        show("SWING · " + knobText(swingKnob()));
    }
}

void KoalaController::encoder(int index, int delta) {
    if (index == 8) {
        const std::string& address = delta > 0 ? "/sequencer/bpm/++" : "/sequencer/bpm/--";
        for (int i = 0; i < std::min(std::abs(delta), maxSteps); ++i)
            tap(address);
        return;
    }
    if (index == 9) {
        double step = shift ? 0.1 : 0.5;
        setPosition("/sequencer/swing",
                    position("/sequencer/swing").value_or(unknownPosition) + delta * step);
        return;
    }
    if (index == 10) {
        turn(masterKnob(), delta);
        return;
    }
    if (index < 0 || index > 7) return;
    if (page == Page::fx) {
        const int fx = shift ? index + 8 : index;
        fxSelected = fx;
        fxAmount[fx] = std::clamp(fxLevel(fx) + delta * 0.5, 1.0, 127.0);
        if (fxOn.count(fx)) fxSend(fx, int(fxAmount[fx]));
        return;
    }
    if (shift && index == 6 && keyboard.mode == Keyboard::Mode::on && padInfo(keyboard.pad).chopper) {
        const int count = std::clamp(chopCount(keyboard.pad) + delta, 1, 128);
        chopCountOverride = count;
        chopPage = std::min(chopPage, count > 64 ? 1 : 0);
        show("CHOP COUNT OVERRIDE " + std::to_string(count) + " · MATCH KOALA'S COUNT");
        return;
    }
    if (const auto& knob = knobs(page)[size_t(index)]) turn(*knob, delta);
}

void KoalaController::turn(const Knob& knob, int delta) {
    if (knob.kind == Kind::steps || knob.kind == Kind::relative) {
        int& rest = remainder[knob.address];
        rest += delta;
        const int whole = rest / detentsPerStep; // toward zero, the sign kept in the rest
        rest -= whole * detentsPerStep;
        if (whole == 0) return;
        if (knob.kind == Kind::relative) {
            const std::string& address = whole > 0 ? knob.up : knob.down;
            for (int i = 0; i < std::min(std::abs(whole), maxSteps); ++i)
                tap(address);
            return;
        }
        const int count = int(knob.labels.size());
        int index;
        if (auto current = position(knob.address)) {
            index = std::clamp(stepIndex(count, *current) + whole, 0, count - 1);
        } else {
            index = whole < 0 ? count - 1 : 0;
        }
        setPosition(knob.address, std::min(((index + 0.5) * 128.0) / count, 127.0));
        return;
    }
    const double step = shift ? 0.1 : 0.5;
    setPosition(knob.address, position(knob.address).value_or(unknownPosition) + delta * step);
}

void KoalaController::setPosition(const std::string& address, double value) {
    value = std::clamp(value, 0.0, 127.0);
    const std::string key = memoryKey(address);
    positions[key] = value;
    const int integer = int(value);
    if (auto sent = lastSent.find(key); sent != lastSent.end() && sent->second == integer) return;
    undoPreview.reset();
    redoPreview.reset();
    if (link) {
        if (auto parameter = linkKnobs().find(address); parameter != linkKnobs().end()) {
            lastSent[key] = integer;
            linkEdit(parameter->second, lastHit.value_or(selected), integer);
            markCommand("position:" + key);
            return;
        }
    }
    auto found = table().find(address);
    if (found == table().end()) return;
    auto midi = found->second.set(integer);
    if (!midi) return;
    lastSent[key] = integer;
    output(midi->bytes());
    if (address == "/currPad/sample/start" || address == "/currPad/sample/length") {
        recordTrim(address, value);
    } else {
        markCommand("position:" + key);
    }
}

void KoalaController::linkEdit(int parameter, int pad, int value) {
    const uint8_t bytes[] = {uint8_t(parameter), uint8_t(std::min(pad / 16, 3)), uint8_t(pad % 16),
                             uint8_t(value & 0x7F)};
    if (sendLink) sendLink(bytes);
}

std::optional<double> KoalaController::position(const std::string& address) const {
    if (auto found = positions.find(memoryKey(address)); found != positions.end()) return found->second;
    return initialPosition(address);
}

// ---- Touch strip ----------------------------------------------------------------------------------

void KoalaController::stripTouch(bool down) {
    if (!down) {
        stripHeld = false;
        stripAnchor.reset();
        stripTarget.reset();
        return;
    }
    stripHeld = true;
    stripAnchor.reset();
    stripTarget.reset();
    if (page == Page::fx) return; // the strip sets the selected effect's amount, no knob
    std::optional<Knob> target;
    if (touched) {
        target = knobs(page)[size_t(*touched)];
    } else {
        switch (page) {
        case Page::pad:
            target = knobs(Page::pad)[keyboard.mode == Keyboard::Mode::off ? 0 : 2];
            break;
        case Page::eq:
            target = knobs(Page::eq)[3];
            break;
        case Page::mixer:
            target = masterKnob();
            break;
        case Page::seq:
            target = swingKnob();
            break;
        case Page::fx:
            break;
        }
    }
    if (!target) return;
    if (target->kind == Kind::steps || target->kind == Kind::relative) {
        show("TOUCH STRIP: HOLD A CONTINUOUS ENCODER");
        return;
    }
    auto start = position(target->address);
    if (!start) {
        show("STRIP TARGET UNKNOWN: TURN ITS ENCODER FIRST");
        return;
    }
    stripTarget = target;
    stripStart = *start;
    show(target->name + " · RELATIVE TO TOUCH START");
}

void KoalaController::strip(double value) {
    if (!stripHeld) return;
    if (!stripTarget) {
        if (page == Page::fx && fxSelected) {
            const int fx = *fxSelected;
            const int amount = std::clamp(int(value * 127), 1, 127);
            fxAmount[fx] = amount;
            if (auto on = fxOn.find(fx); on != fxOn.end() && on->second != amount) fxSend(fx, amount);
        }
        return;
    }
    if (!stripAnchor) {
        stripAnchor = value;
        return;
    }
    setPosition(stripTarget->address, stripStart + (value - *stripAnchor) * 127);
}

// ---- Time: repeat, tempo, transport ---------------------------------------------------------------

void KoalaController::tick() {
    const double t = now();
    if (reconcileDue || t >= nextReconcileAt) {
        reconcileDue = false;
        reconcileTrims(t);
        reconcileCommands();
    }
    if (repeatEnabled && t >= nextRepeat) repeat();
    if (macroRecording || macroPlaying) macroTick();
}

void KoalaController::repeat() {
    const double t = now();
    const double tempo = bpm() ? std::max(20.0, *bpm()) : 120.0;
    const double interval = (60.0 / tempo) * 0.25;
    nextRepeat = std::max(nextRepeat + interval, t + 0.002);
    const int expected = keyboard.mode == Keyboard::Mode::off ? 16 : std::clamp(keyboardChannel, 1, 16);
    std::vector<MidiMessage> retriggered; // two pads on one note sound it once a pass
    for (auto& [p, press] : heldPadOns) {
        if ((press.data[0] & 0x0F) + 1 != expected) continue;
        if (std::find(retriggered.begin(), retriggered.end(), press) != retriggered.end()) continue;
        retriggered.push_back(press);
        sendMessage(heldPads[p]);
        sendMessage(press);
        finishRecording(p);
        beginRecording(p, press.data[2]);
        if (keyboard.mode == Keyboard::Mode::off && padsSelectInKoala) {
            const int k = koalaPad(p);
            selected = k;
            auditionPad = k;
            ++selectionRevision;
            markCommand("selection");
        }
    }
}

void KoalaController::clock(uint8_t byte, std::span<const uint8_t> data, double at) {
    switch (byte) {
    case 0xF2:
        if (data.size() >= 2) ticks = (int64_t(data[0]) + 128 * int64_t(data[1])) * 6;
        return;
    case 0xF8:
        if (transport != Transport::stopped) ++ticks;
        lastTick = at;
        tickTimes.push_back(at);
        if (tickTimes.size() > 49) tickTimes.erase(tickTimes.begin());
        return;
    case 0xFA:
        transport = Transport::running;
        ticks = 0;
        tickTimes.clear();
        localPlaying = true;
        transportCommand.reset();
        return;
    case 0xFB:
        transport = Transport::running;
        localPlaying = true;
        transportCommand.reset();
        return;
    case 0xFC:
        finishAllRecordings();
        transport = Transport::stopped;
        localPlaying = localRecording = false;
        transportCommand.reset();
        return;
    default:
        return;
    }
}

std::optional<double> KoalaController::bpm() const {
    if (localBPM) return localBPM;
    if (now() - lastTick <= 0.5 && tickTimes.size() >= 25) {
        const double perTick = (tickTimes.back() - tickTimes.front()) / double(tickTimes.size() - 1);
        if (perTick > 0) return 60.0 / (perTick * 24);
    }
    return session.bpm;
}

bool KoalaController::playing() const {
    if (transportCommand) return *transportCommand;
    switch (transport) {
    case Transport::stopped:
        return false;
    case Transport::unknown:
        return localPlaying;
    case Transport::running:
        return now() - lastTick <= 0.5;
    }
    return false;
}

double KoalaController::transportBeat() const {
    if (transport == Transport::running && now() - lastTick <= 0.5) return double(ticks) / 24.0;
    double beat = localBeatOffset;
    if (localPlaying) beat += std::max(0.0, now() - localBeatStart) * bpm().value_or(120.0) / 60.0;
    return beat;
}

void KoalaController::setPlaying(bool on) {
    const bool was = playing();
    if (on && !was) {
        localBeatOffset = 0;
        recordingStartsAt = 0;
        localBeatStart = now();
    } else if (!on && was) {
        localBeatOffset = transportBeat();
        finishAllRecordings();
    }
    localPlaying = on;
    if (!on) localRecording = false;
    transportCommand = on;
}

int KoalaController::currentSequence() const {
    return sequencePicked.value_or(int(session.sequence));
}

} // namespace tandem
