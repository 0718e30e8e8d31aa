// The Push 2's buttons: pages, the rows over and under the display, the scene column, effects, the
// keyboard modes, recording, deletion and the CC macro.
#include "tandem/push/KoalaController.h"

#include "tandem/profiles/KoalaMap.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

constexpr double effectHoldTime = 0.35;
constexpr double quitWindow = 3.0;
constexpr double macroLimit = 30.0;
const char* const busLetters[] = {"A", "B", "C", "D"};

} // namespace

const std::map<int, KoalaController::ButtonAction>& KoalaController::buttonTable() {
    using C = KoalaController;
    auto tapping = [](std::string address, std::string label, std::string shiftAddress = "",
                      std::string shiftLabel = "") {
        ButtonAction action;
        action.address = std::move(address);
        action.label = std::move(label);
        action.shiftAddress = std::move(shiftAddress);
        action.shiftLabel = std::move(shiftLabel);
        return action;
    };
    auto showing = [](Page page, std::optional<int> touched = std::nullopt, std::string message = "",
                      double seconds = 2.5) {
        ButtonAction action;
        action.page = page;
        action.touched = touched;
        action.message = std::move(message);
        action.seconds = seconds;
        return action;
    };
    auto doing = [](std::function<void(C&)> operation) {
        ButtonAction action;
        action.operation = std::move(operation);
        return action;
    };
    static const std::map<int, ButtonAction> table{
        {3, tapping("/sequencer/tapTempo", "TAP TEMPO", "/sequencer/bpmMenu/toggle", "TEMPO")},
        {9, tapping("/metro/toggle", "METRONOME")},
        {28, showing(Page::mixer, 4, "MASTER VOLUME · MASTER ENCODER")},
        {29, doing([](C& c) {
             if (c.playing()) c.tap("/sequencer/play/toggle", "STOP");
             c.setPlaying(false);
             c.releaseAll();
             c.macroPlaying = false;
         })},
        {30, tapping("/settings/toggle", "SETTINGS")},
        {31, doing([](C& c) {
             c.detailView = !c.detailView;
             c.show(c.detailView ? "DETAIL VIEW · WAVEFORM / PATTERN" : "EIGHT ENCODER VIEW");
         })},
        {35, doing([](C& c) {
             c.show(Page::pad);
             c.detailView = true;
             c.show("WAVE / CHOP VIEW · SET CHOPS IN KOALA · NOTE: KEYBOARD", 6.0);
         })},
        {44, doing([](C& c) { c.show(Page((int(c.page) + pageCount - 1) % pageCount)); })},
        {45, doing([](C& c) { c.show(Page((int(c.page) + 1) % pageCount)); })},
        {46, doing([](C& c) {
             if (c.page == Page::fx) c.show(Page::seq);
             c.sequenceBank = std::min(c.sequenceBank + 1, 3);
             c.show("SEQUENCES " + std::to_string(8 * c.sequenceBank + 1) + "–" +
                    std::to_string(8 * c.sequenceBank + 8));
         })},
        {47, doing([](C& c) {
             if (c.page == Page::fx) c.show(Page::seq);
             c.sequenceBank = std::max(c.sequenceBank - 1, 0);
             c.show("SEQUENCES " + std::to_string(8 * c.sequenceBank + 1) + "–" +
                    std::to_string(8 * c.sequenceBank + 8));
         })},
        {48, tapping("/edit", "EDIT", "/escape", "BACK")},
        {50, doing([](C& c) { c.keyboardPressed(true); })},
        {51, doing([](C& c) {
             c.show(Page::fx);
             if (c.shift) c.tap("/perform/hold/toggle", "FX HOLD");
         })},
        {52, showing(Page::fx, std::nullopt, "PERFORM · 16 EFFECTS · TOUCH STRIP SETS AMOUNT")},
        {53, showing(Page::mixer, std::nullopt, "MIXER · BUSES A–D · HOLD SOLO FOR SOLO KEYS")},
        {54, doing([](C& c) { c.moveOctave(-1); })},
        {55, doing([](C& c) { c.moveOctave(+1); })},
        {56, doing([](C& c) {
             c.repeatEnabled = !c.repeatEnabled;
             c.nextRepeat = c.now();
             c.show(c.repeatEnabled ? "REPEAT · HELD PADS · 1/16" : "REPEAT OFF");
         })},
        {57, doing([](C& c) {
             c.fullLevel = !c.fullLevel;
             c.show(c.fullLevel ? "FULL LEVEL · VELOCITY 127" : "NATURAL PAD VELOCITY");
         })},
        {58, showing(Page::seq, 3, "SCALE · ENCODER 4 · SHIFT FOR FINE")},
        {59, doing([](C& c) {
             if (!c.shift) {
                 if (c.onChooseController) c.onChooseController();
                 return;
             }
             if (c.now() - c.quitArmedAt >= quitWindow) {
                 c.quitArmedAt = c.now();
                 c.show("SHIFT + USER AGAIN TO QUIT KOALA");
                 return;
             }
             c.quitArmedAt = -10;
             if (c.onQuit) c.onQuit();
         })},
        {60, doing([](C& c) { c.padSwitch(3, false); })},
        {62, doing([](C& c) { c.movePage(-1); })},
        {63, doing([](C& c) { c.movePage(+1); })},
        {85, doing([](C& c) {
             const bool on = c.playing();
             c.tap("/sequencer/play/toggle", on ? "STOP" : "PLAY");
             c.setPlaying(!on);
         })},
        {86, doing([](C& c) { c.toggleRecord(); })},
        {87, doing([](C& c) {
             for (size_t n = 0; n < c.session.notes.size(); ++n) {
                 if (!c.session.notes[n].empty()) continue;
                 c.tap(KoalaPushProfile::sequenceAddress(int(n)), "EMPTY SEQUENCE " + std::to_string(n + 1));
                 c.sequencePicked = int(n);
                 c.markCommand("sequenceSelection");
                 c.show(Page::seq);
                 return;
             }
             c.show(Page::seq);
             c.show("NO SAVED EMPTY SEQUENCE · SHIFT + LOWER 8 CLEARS CURRENT");
         })},
        {88, doing([](C& c) {
             c.tap("/currSequence/numBars/*2", "SEQUENCE ×2");
             c.show(Page::seq);
         })},
        {89, doing([](C& c) { c.toggleMacro(); })},
        {90, showing(Page::seq, 1, "RECORD LENGTH · ENCODER 2 SETS BARS")},
        {102, showing(Page::pad)},
        {103, showing(Page::eq)},
        {104, showing(Page::fx)},
        {105, showing(Page::mixer)},
        {106, showing(Page::seq)},
        {107, doing([](C& c) { c.keyboardPressed(true); })},
        {108, tapping("/load/toggle", "LOAD")},
        {109, tapping("/settings/toggle", "SETTINGS")},
        {110, showing(Page::pad)},
        {111, tapping("/load/toggle", "LOAD", "/export/toggle", "EXPORT")},
        {112, showing(Page::mixer)},
        {113, showing(Page::seq)},
        {116, doing([](C& c) {
             c.flip("/sequencer/recordQuantize/toggle", "quantize", c.flagState("quantize"), "QUANTIZE");
         })},
        {117, tapping("/currSequence/numBars/*2", "SEQUENCE ×2", "/currSequence/numBars/--", "BARS −")},
        {118, doing([](C& c) {
             if (c.shift) {
                 c.tap("/delete", "DELETE");
             } else {
                 c.deletePressed();
             }
         })},
        {119, tapping("/undo", "UNDO", "/redo", "REDO")},
    };
    return table;
}

void KoalaController::button(int cc, bool down) {
    if (down) {
        if (pressedButtons.count(cc)) return; // no auto-repeat
        pressedButtons.insert(cc);
    } else {
        pressedButtons.erase(cc);
        if (fxPress.count(cc)) effectReleased(cc);
        if (auto held = heldButtons.find(cc); held != heldButtons.end()) {
            sendMessage(held->second);
            heldButtons.erase(held);
        }
    }
    if (cc >= 20 && cc <= 27) return lower(cc - 20, down);
    if (cc >= 36 && cc <= 43) return scene(43 - cc, down);
    if (cc == 49) {
        shift = down;
        return;
    }
    if (cc == 61) {
        soloHeld = down;
        if (down && page != Page::mixer) tap("/solo/toggle", "SOLO");
        return;
    }
    if (!down) return;
    auto found = buttonTable().find(cc);
    if (found == buttonTable().end()) return;
    const ButtonAction& action = found->second;
    if (action.operation) {
        action.operation(*this);
    } else if (action.page) {
        show(*action.page);
        if (action.touched) touched = action.touched;
        if (!action.message.empty()) show(action.message, action.seconds);
    } else if (shift && !action.shiftAddress.empty()) {
        tap(action.shiftAddress, action.shiftLabel);
    } else {
        tap(action.address, action.label);
    }
}

std::optional<KoalaController::PageLink> KoalaController::pageLink(Page target, KoalaPage from) {
    const Bytes padPage{0x0D, 0x00, 0x00, 0x20, 0x00}, padRelease{0x0D, 0x00, 0x00, 0x20, 0x3F};
    const Bytes fxPress{0x0D, 0x00, 0x00, 0x30, 0x3F}, fxRelease{0x0D, 0x00, 0x00, 0x30, 0x00};
    struct Row {
        Page target;
        KoalaPage from;
        std::vector<Bytes> messages;
        KoalaPage after;
    };
    static const std::vector<Row> rows{
        {Page::pad, KoalaPage::sample, {}, KoalaPage::sample},
        {Page::pad, KoalaPage::sequence, {padPage}, KoalaPage::sample},
        {Page::pad, KoalaPage::perform, {padRelease, padPage}, KoalaPage::sample},
        {Page::fx, KoalaPage::sample, {fxPress, fxRelease}, KoalaPage::perform},
        {Page::fx, KoalaPage::sequence, {fxPress, fxRelease}, KoalaPage::perform},
        {Page::fx, KoalaPage::perform, {}, KoalaPage::perform},
        {Page::seq, KoalaPage::sample, {padRelease}, KoalaPage::sequence},
        {Page::seq, KoalaPage::perform, {padRelease}, KoalaPage::sequence},
        {Page::seq, KoalaPage::sequence, {}, KoalaPage::sequence},
    };
    for (const Row& row : rows) {
        if (row.target == target && row.from == from) return PageLink{row.messages, row.after};
    }
    return std::nullopt; // EQ and mixer leave Koala's screen as it is
}

void KoalaController::show(Page target) {
    if (page == target) return;
    if (page == Page::mixer) tap("/mixer/hide");
    if (target == Page::mixer) tap("/mixer/show");
    page = target;
    touched.reset();
    if (!link) return;
    if (auto moves = pageLink(target, koalaPage)) {
        for (const Bytes& bytes : moves->messages) {
            if (sendLink) sendLink(bytes);
        }
        koalaPage = moves->after;
    }
}

// ---- Switches -------------------------------------------------------------------------------------

bool KoalaController::flagState(const std::string& key) const {
    if (auto found = flipped.find(key); found != flipped.end()) return found->second;
    return savedFlag(key).value_or(false);
}

void KoalaController::flip(const std::string& address, const std::string& key, bool current,
                           const std::string& label) {
    tap(address);
    flipped[key] = !current;
    undoPreview.reset();
    redoPreview.reset();
    markCommand("flag:" + key);
    show(label + (current ? " OFF" : " ON"));
}

// The four switches of the selected pad: 0 ONE SHOT, 1 LOOP, 2 REVERSE, 3 MUTE.
void KoalaController::padSwitch(int which, bool onEQPage) {
    static const char* addresses[] = {"/currPad/sample/oneshot/toggle", "/currPad/sample/loop/toggle",
                                      "/currPad/sample/reverse/toggle", "/mute/toggle"};
    static const char* names[] = {"oneshot#", "loop#", "reverse#", "mute#"};
    static const char* labels[] = {"ONE SHOT", "LOOP", "REVERSE", "MUTE"};
    if (which == 0 && padInfo(selected).chopper) {
        show(onEQPage ? "CHOPPER ONE SHOT: SET IN KOALA"
                      : "A CHOPPER'S ONE SHOT IS ON KOALA'S SCREEN (KOALA HAS NO MIDI FOR IT)");
        return;
    }
    const std::string key = names[which] + std::to_string(selected);
    flip(addresses[which], key, flagState(key), labels[which]);
}

// ---- Rows under the display and the scene column --------------------------------------------------

void KoalaController::lower(int i, bool down) {
    if (page == Page::fx) {
        if (down) {
            effectPressed(20 + i, i);
        }
        return;
    }
    if (!down) {
        lowerDown.erase(i);
        return;
    }
    lowerDown.insert(i);
    switch (page) {
    case Page::pad:
        if (i <= 3) return padSwitch(i, false);
        if (i == 4) return tap("/solo/toggle", "SOLO");
        if (i == 5) {
            if (shift) return tap("/sample/headphone_monitoring", "HEADPHONE MONITORING");
            tap("/sample/input/mic");
            return show("INPUT: MIC · HOLD AN EMPTY PAD ON KOALA TO RECORD");
        }
        if (i == 6) {
            tap("/sample/input/resample");
            return show("INPUT: RESAMPLE · HOLD AN EMPTY PAD ON KOALA TO RECORD");
        }
        return tap("/sample/input/file", "INPUT: FILE");
    case Page::eq: {
        static const char* bands[] = {"LOW", "MID", "HIGH"};
        if (i <= 2) {
            setPosition("/currPad/eq/band" + std::to_string(i) + "/gain", 63.5);
            return show(std::string(bands[i]) + " GAIN FLAT");
        }
        if (i == 3) {
            for (int band = 0; band < 3; ++band)
                setPosition("/currPad/eq/band" + std::to_string(band) + "/gain", 63.5);
            return show("ALL EQ GAINS FLAT");
        }
        return padSwitch(i - 4, true);
    }
    case Page::mixer: {
        if (i <= 3) {
            const std::string bus = std::to_string(i + 1);
            const std::string kind = soloHeld ? "solo" : "mute";
            const std::string key = kind + "." + bus;
            return flip("/mixer/channels/" + bus + "/" + kind + "/toggle", key, flagState(key),
                        (soloHeld ? "SOLO " : "MUTE ") + std::string(busLetters[i]));
        }
        if (i == 4) {
            if (soloHeld) return show("MAIN HAS NO SOLO; LOWER 1–4 SOLO THE BUSES");
            return flip("/mixer/channels/main/mute/toggle", "mute.main", flagState("mute.main"), "MUTE MAIN");
        }
        static const Page pages[] = {Page::pad, Page::fx, Page::seq};
        return show(pages[i - 5]);
    }
    case Page::seq:
        switch (i) {
        case 0: {
            const bool on = playing();
            tap("/sequencer/play/toggle", on ? "STOP" : "PLAY");
            return setPlaying(!on);
        }
        case 1:
            return toggleRecord();
        case 2:
            return flip("/sequencer/recordQuantize/toggle", "quantize", flagState("quantize"), "QUANTIZE");
        case 3:
            return tap("/pianoroll/toggle", "PIANO ROLL");
        case 4:
            return tap("/currSequence/numBars/--", "BARS −");
        case 5:
            return tap("/currSequence/numBars/++", "BARS +");
        case 6:
            return tap("/sequencer/bpmMenu/toggle", "TEMPO");
        default:
            if (!shift) return show("HOLD SHIFT TO CLEAR THE SEQUENCE");
            return tap("/currSequence/clear", "SEQUENCE " + std::to_string(currentSequence() + 1) +
                                                  " CLEARED · UNDO BRINGS IT BACK");
        }
    case Page::fx:
        return;
    }
}

void KoalaController::scene(int i, bool down) {
    if (page == Page::fx) {
        if (down) effectPressed(36 + (7 - i), i + 8);
        return;
    }
    if (!down) return;
    const int n = i + 8 * sequenceBank;
    tap(KoalaPushProfile::sequenceAddress(n), "SEQUENCE " + std::to_string(n + 1));
    sequencePicked = n;
    markCommand("sequenceSelection");
}

// ---- Effects --------------------------------------------------------------------------------------

int KoalaController::fxLevel(int fx) const {
    if (auto amount = fxAmount.find(fx); amount != fxAmount.end()) return int(amount->second);
    if (fx >= 0 && size_t(fx) < session.fxValues.size() && session.fxValues[size_t(fx)] > 0.02)
        return std::clamp(int(session.fxValues[size_t(fx)] * 127), 1, 127);
    return 100;
}

void KoalaController::fxSend(int fx, int amount) {
    if (fx < 0 || size_t(fx) >= session.fx.size()) return;
    amount = std::clamp(amount, 0, 127);
    auto key = table().find(KoalaPushProfile::fxAddress(session.fx[size_t(fx)]));
    if (key != table().end()) {
        std::optional<MidiMessage> midi =
            key->second.type == "cc" ? key->second.set(amount) : key->second.press(amount > 0, amount);
        if (midi) output(midi->bytes());
    }
    if (amount > 0) {
        fxOn[fx] = amount;
    } else {
        fxOn.erase(fx);
    }
    fxDirty.insert(fx);
    ownedFX.insert(fx);
    undoPreview.reset();
    redoPreview.reset();
    markCommand("fx:" + std::to_string(fx));
}

void KoalaController::effectPressed(int cc, int fx) {
    if (fx < 0 || size_t(fx) >= session.fx.size()) return;
    FXPress kind;
    if (!fxOn.count(fx)) {
        fxSend(fx, fxLevel(fx));
        kind = FXPress::turnedOn;
    } else {
        kind = fxSelected == fx ? FXPress::wasSelectedOn : FXPress::selectedOnly;
    }
    fxSelected = fx;
    fxPress[cc] = {fx, now(), kind};
    show(session.fx[size_t(fx)] + (fxOn.count(fx) ? " · THE STRIP SETS IT" : ""));
}

void KoalaController::effectReleased(int cc) {
    auto found = fxPress.find(cc);
    if (found == fxPress.end()) return;
    const FXHold press = found->second;
    fxPress.erase(found);
    const double held = now() - press.at;
    // Held, an effect is momentary; tapped, it latches; a tap on the running selected one stops it.
    if ((press.kind == FXPress::turnedOn && held >= effectHoldTime) ||
        (press.kind == FXPress::wasSelectedOn && held < effectHoldTime)) {
        fxSend(press.fx, 0);
    }
}

// ---- Keyboard -------------------------------------------------------------------------------------

void KoalaController::keyboardPressed(bool sendToggle) {
    if (sendToggle) tap("/keyboard/toggle");
    if (keyboard.mode == Keyboard::Mode::off && shift) {
        // Shift + Note: the next pad pressed becomes the keyboard's pad; Note alone cancels.
        keyboard = {Keyboard::Mode::choosing, 0};
        show(Page::pad);
        return;
    }
    if (keyboard.mode == Keyboard::Mode::off) {
        keyboard = {Keyboard::Mode::on, selected};
        octave = 0;
        chopPage = 0;
        show(Page::pad);
        show(padInfo(selected).chopper ? "CHOPS · " + padID(selected) + " · MIDI 60 = CHOP 1"
                                       : "KEYBOARD · KOALA'S SELECTED PAD " + padID(selected),
             6.0);
    } else {
        keyboard = {Keyboard::Mode::off, 0};
        show("KEYBOARD OFF · THE PADS ARE PADS");
    }
}

void KoalaController::moveOctave(int d) {
    if (keyboard.mode != Keyboard::Mode::on) {
        show("NOTE: PLAY KOALA’S SELECTED PAD AS KEYS / CHOPS");
        return;
    }
    if (padInfo(keyboard.pad).chopper) return moveChopPage(d);
    octave = std::clamp(octave + 12 * d, -keyboardOffset, 64 - keyboardOffset);
    show(noteName(keyboardOffset + octave) + "–" + noteName(keyboardOffset + octave + 63));
}

void KoalaController::movePage(int d) {
    if (keyboard.mode == Keyboard::Mode::on && padInfo(keyboard.pad).chopper) return moveChopPage(d);
    show(Page(((int(page) + d) % pageCount + pageCount) % pageCount));
}

void KoalaController::moveChopPage(int d) {
    if (keyboard.mode != Keyboard::Mode::on || !padInfo(keyboard.pad).chopper) return;
    const int count = chopCount(keyboard.pad);
    const int last = count > 64 ? 1 : 0;
    chopPage = std::clamp(chopPage + d, 0, last);
    const int first = 64 * chopPage + 1;
    const int lastChop = std::min(count, 64 * chopPage + 64);
    show("CHOPS " + std::to_string(first) + "–" + std::to_string(lastChop) + " · " +
         (chopCountOverride ? "COUNT OVERRIDE" : "SAVED COUNT"));
}

// ---- Record, delete, macro ------------------------------------------------------------------------

void KoalaController::toggleRecord() {
    if (localRecording) {
        tap("/sequencer/record/toggle", "RECORD OFF");
        finishAllRecordings();
        localRecording = false;
        return;
    }
    tap("/sequencer/record/toggle", "RECORD · LOCAL PREVIEW");
    if (!playing()) {
        setPlaying(true);
        // From a stop, Koala counts one pass of the sequence in before it records.
        const int sequence = currentSequence();
        int64_t bars = 1;
        if (auto preview = sequencePreviews.find(sequence); preview != sequencePreviews.end()) {
            bars = preview->second.bars;
        } else if (sequence >= 0 && size_t(sequence) < session.bars.size()) {
            bars = session.bars[size_t(sequence)];
        }
        int64_t beatsPerBar = session.beatsPerBar;
        if (auto known = position("/sequencer/beatsPerBar")) beatsPerBar = stepIndex(16, *known) + 1;
        recordingStartsAt = double(bars * beatsPerBar);
    } else {
        recordingStartsAt = 0;
    }
    localRecording = true;
}

void KoalaController::deletePressed() {
    if (keyboard.mode != Keyboard::Mode::off) return show("TURN KEYBOARD OFF TO CLEAR A PAD");
    if (heldPads.empty()) return show("HOLD A PAD, THEN PRESS DELETE TO CLEAR IT");
    if (heldPads.size() > 1) return show("HOLD JUST ONE SAMPLE PAD TO DELETE IT");
    const int k = koalaPad(heldPads.begin()->first);
    if (!padInfo(k).loaded) return show(padID(k) + " IS ALREADY EMPTY");
    if (link) {
        if (koalaPage != KoalaPage::sample) return show("OPEN KOALA'S SAMPLE PAGE TO DELETE A SAMPLE");
        const uint8_t bytes[] = {0x0C, uint8_t(k / 16), uint8_t(k % 16)};
        if (sendLink) sendLink(bytes);
        return;
    }
    if (selected != k || !padsSelectInKoala)
        return show("SELECT " + padID(k) + " IN KOALA FIRST · THEN HOLD IT + DELETE");
    const KoalaSession::Pad before = padInfo(k);
    tap("/currPad/delete");
    markCommand("pad:" + padID(k));
    clearTrim(k);
    const std::string suffix = "#" + std::to_string(k);
    auto perPad = [&](const std::string& key) {
        return key.size() > suffix.size() &&
               key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    std::erase_if(positions, [&](const auto& entry) { return perPad(entry.first); });
    std::erase_if(lastSent, [&](const auto& entry) { return perPad(entry.first); });
    std::erase_if(flipped, [&](const auto& entry) { return perPad(entry.first); });
    deletedPads.insert(k);
    undoPreview = EditPreview{EditPreview::Kind::pad, k, before, {}};
    redoPreview.reset();
    show("DELETE " + padID(k) + " · CONFIRM IN KOALA IF ASKED · UNDO TO RESTORE");
}

void KoalaController::toggleMacro() {
    if (shift) {
        macroRecording = macroPlaying = false;
        macro.clear();
        return show("CC MACRO CLEARED");
    }
    if (macroRecording) {
        macroRecording = false;
        macroLength = std::clamp(now() - macroStarted, 0.1, macroLimit);
        if (macro.empty()) return show("NO KNOB / STRIP MOVEMENT CAPTURED");
        macroPlaying = true;
        macroCursor = 0;
        macroStarted = now();
        return show("CC MACRO LOOP · AUTOMATE STOPS · SHIFT CLEARS");
    }
    if (macroPlaying) {
        macroPlaying = false;
        return show("CC MACRO STOPPED");
    }
    macro.clear();
    macroRecording = true;
    macroStarted = now();
    macroPad = selected;
    show("CAPTURING CC MACRO · TURN KNOBS / STRIP · AUTOMATE LOOPS");
}

void KoalaController::macroTick() {
    const double t = now();
    if (macroRecording) {
        if (t - macroStarted >= macroLimit) {
            // Capture stops by itself; what was taken loops as if Automate had been pressed.
            macroRecording = false;
            macroLength = macroLimit;
            if (!macro.empty()) {
                macroPlaying = true;
                macroCursor = 0;
                macroStarted = t;
            }
        }
        return;
    }
    if (!macroPlaying) return;
    if (selected != macroPad) {
        macroPlaying = false;
        return show("CC MACRO STOPPED · SELECTED PAD CHANGED");
    }
    while (true) {
        if (macroCursor >= macro.size()) {
            if (t - macroStarted < macroLength) return;
            macroStarted += macroLength; // the next loop
            macroCursor = 0;
            continue;
        }
        const MacroPoint& point = macro[macroCursor];
        if (t - macroStarted < point.time) return;
        applyingMacro = true;
        output(point.bytes);
        // The knob shows where the macro put it.
        for (const auto& [address, key] : table()) {
            if (key.type == "cc" && key.channel == (point.bytes[0] & 0x0F) + 1 &&
                key.value == point.bytes[1]) {
                positions[memoryKey(address)] = point.bytes[2];
                lastSent[memoryKey(address)] = point.bytes[2];
            }
        }
        applyingMacro = false;
        ++macroCursor;
    }
}

} // namespace tandem
