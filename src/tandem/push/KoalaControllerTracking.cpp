// Command tracking: every command Tandem sends is a prediction until Koala's saved song confirms it,
// or until it has rested 20 s unconfirmed; the saved song wins afterwards.
#include "tandem/push/KoalaController.h"

#include "base/ActivityLog.h"
#include "tandem/profiles/KoalaMap.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

constexpr double expiry = 20.0;
constexpr double rest = 0.5;
constexpr double trimTolerance = 1.0;
constexpr double gestureThreshold = 2.0;

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A pad id ("A1" … "D16") back to its Koala pad.
std::optional<int> padFromID(const std::string& id) {
    if (id.size() < 2 || id[0] < 'A' || id[0] > 'D') return std::nullopt;
    int number = 0;
    for (size_t i = 1; i < id.size(); ++i) {
        if (id[i] < '0' || id[i] > '9') return std::nullopt;
        number = number * 10 + (id[i] - '0');
    }
    if (number < 1 || number > 16) return std::nullopt;
    return (id[0] - 'A') * 16 + number - 1;
}

} // namespace

// ---- Which file answers for a command ---------------------------------------------------------------

std::string KoalaController::commandFile(const std::string& key) {
    struct Rule {
        bool (*matches)(const std::string&);
        const char* file;
    };
    static const Rule rules[] = {
        {[](const std::string& k) {
             return k.find("/keyboard/scale") != std::string::npos || k == "selection";
         },
         "song.json"},
        {[](const std::string& k) { return startsWith(k, "pad:"); }, "sampler/sampler.json"},
        {[](const std::string& k) {
             return k.find("/currPad/") != std::string::npos || k.find('#') != std::string::npos;
         },
         "sampler/sampler.json"},
        {[](const std::string& k) { return startsWith(k, "fx:") || k == "flag:fxHold"; }, "fx.json"},
        {[](const std::string& k) {
             return k.find("/mixer/") != std::string::npos || startsWith(k, "flag:mute.") ||
                    startsWith(k, "flag:solo.");
         },
         "mixer.json"},
    };
    for (const Rule& rule : rules) {
        if (rule.matches(key)) return rule.file;
    }
    return "sequence.json";
}

// ---- Stamps ---------------------------------------------------------------------------------------

void KoalaController::markCommand(const std::string& key) {
    ++commandRevision;
    const std::string file = commandFile(key);
    std::optional<Date> previous;
    if (auto saved = savedDates.find(file); saved != savedDates.end()) previous = saved->second;
    commandStamps[key] = CommandStamp{commandRevision, date(), previous, now(), file};
    scheduleReconcile(now() + rest);
}

bool KoalaController::commandAcknowledged(const std::string& key) const {
    auto stamp = commandStamps.find(key);
    if (stamp == commandStamps.end()) return false;
    auto saved = savedDates.find(stamp->second.file);
    if (saved == savedDates.end()) return false;
    const CommandStamp& command = stamp->second;
    // Only a read that began after the command, of a save made after it, can answer for it: an
    // older save, or a read already under way, still holds the value from before.
    const bool savedSince = !command.previousSave || saved->second > *command.previousSave;
    const bool fresh = saved->second > command.sentAt && readCommandRevision >= command.revision;
    return savedSince && fresh && now() - command.movedAt >= rest;
}

void KoalaController::scheduleReconcile(double at) {
    nextReconcileAt = std::min(nextReconcileAt, at);
}

void KoalaController::reconcileCommands() {
    const double t = now();
    nextReconcileAt = 1e300;
    for (auto it = commandStamps.begin(); it != commandStamps.end();) {
        const std::string key = it->first;
        const CommandStamp& stamp = it->second;
        const bool expired = t - stamp.movedAt > expiry;
        if (expired) {
            auto concerns = [&](const std::optional<EditPreview>& preview) {
                if (!preview) return false;
                return preview->kind == EditPreview::Kind::pad
                           ? key == "pad:" + padID(preview->number)
                           : key == "sequence:" + std::to_string(preview->number);
            };
            if (concerns(undoPreview)) undoPreview.reset();
            if (concerns(redoPreview)) redoPreview.reset();
        }
        if (expired || commandAcknowledged(key)) {
            it = commandStamps.erase(it);
            dropPrediction(key);
            continue;
        }
        scheduleReconcile(stamp.movedAt + expiry + 1e-6);
        if (t - stamp.movedAt < rest) scheduleReconcile(stamp.movedAt + rest);
        ++it;
    }
    for (const auto& [pad, trim] : pendingTrims) {
        scheduleReconcile(trim.movedAt + expiry + 1e-6);
        if (t - trim.movedAt < rest) scheduleReconcile(trim.movedAt + rest);
    }
}

void KoalaController::dropPrediction(const std::string& key) {
    if (startsWith(key, "position:")) {
        const std::string memory = key.substr(9);
        positions.erase(memory);
        lastSent.erase(memory);
    } else if (startsWith(key, "flag:")) {
        flipped.erase(key.substr(5));
    } else if (startsWith(key, "fx:")) {
        const int fx = std::stoi(key.substr(3));
        const bool held =
            std::any_of(fxPress.begin(), fxPress.end(), [&](const auto& p) { return p.second.fx == fx; });
        if (!held) {
            fxOn.erase(fx);
            fxAmount.erase(fx);
            fxDirty.erase(fx);
        }
    } else if (key == "sequenceSelection") {
        sequencePicked.reset();
    } else if (key == "bpm") {
        if (localBPM) localBeatOffset = transportBeat(), localBeatStart = now();
        localBPM.reset();
    } else if (startsWith(key, "sequence:")) {
        const int number = std::stoi(key.substr(9));
        bool recording = false;
        for (const auto& [pad, hold] : recordedHolds)
            recording |= hold.sequence == number;
        if (!recording) sequencePreviews.erase(number);
    } else if (startsWith(key, "pad:")) {
        if (auto pad = padFromID(key.substr(4))) deletedPads.erase(*pad);
    }
}

// ---- Reading Koala's save ---------------------------------------------------------------------------

void KoalaController::setSession(const KoalaSession& saved, bool acceptSelection,
                                 std::optional<Date> samplerDate, std::optional<uint64_t> readTrimRevision,
                                 const std::map<std::string, Date>& dates, uint64_t readRevision) {
    const KoalaSession before = session;
    const bool first = !sessionRead;
    session = saved;
    savedDates = dates;
    readCommandRevision = readRevision;
    samplerSavedAt = samplerDate;
    samplerReadTrimRevision = readTrimRevision.value_or(0);
    if (first) {
        // The first song read is the truth: nothing predicted before it counts.
        positions.clear();
        lastSent.clear();
        remainder.clear();
        flipped.clear();
        pendingTrims.clear();
        fxOn.clear();
        fxAmount.clear();
        fxDirty.clear();
        ownedFX.clear();
        fxSelected.reset();
        deletedPads.clear();
        restoredPads.clear();
        undoPreview.reset();
        redoPreview.reset();
        pianoRollOverride.reset();
        sequencePreviews.clear();
        sequencePicked.reset();
        commandStamps.clear();
        localBPM.reset();
        localPlaying = localRecording = false;
        transportCommand.reset();
        chopPage = 0;
        chopCountOverride.reset();
        macroRecording = macroPlaying = false;
        sessionRead = true;
    } else {
        for (auto it = flipped.begin(); it != flipped.end();) {
            auto savedValue = savedFlag(it->first);
            if ((savedValue && *savedValue == it->second) || commandAcknowledged("flag:" + it->first)) {
                it = flipped.erase(it);
            } else {
                ++it;
            }
        }
        validateEditHistory(before, saved);
        reconcileTrims(now());
        reconcileCommands();
    }
    if (acceptSelection && saved.selectedPad) {
        selected = int(std::clamp<int64_t>(*saved.selectedPad, 0, 63));
        auditionPad.reset();
        chopPage = 0;
        chopCountOverride.reset();
    }
    // Koala's keyboard follows its saved flag, except while the musician is choosing a pad for it.
    const bool changed = first ? saved.keyboard : saved.keyboard != before.keyboard;
    if (changed && keyboard.mode != Keyboard::Mode::choosing) {
        if (saved.keyboard) {
            keyboard = {Keyboard::Mode::on, selected};
            octave = 0;
        } else {
            keyboard = {Keyboard::Mode::off, 0};
        }
    }
    reconcileDue = true;
}

std::optional<bool> KoalaController::savedFlag(const std::string& key) const {
    auto hash = key.find('#');
    if (hash != std::string::npos) {
        const std::string name = key.substr(0, hash);
        int pad = 0;
        try {
            pad = std::stoi(key.substr(hash + 1));
        } catch (...) {
            return std::nullopt;
        }
        auto found = session.pads.find(pad);
        const KoalaSession::Pad info = found == session.pads.end() ? KoalaSession::Pad{} : found->second;
        if (name == "oneshot") return info.oneShot;
        if (name == "loop") return info.loop;
        if (name == "reverse") return info.reverse;
        if (name == "mute") return info.muted;
        return std::nullopt;
    }
    if (key.size() == 6 && (startsWith(key, "mute.") || startsWith(key, "solo.")) && key[5] >= '1' &&
        key[5] <= '4') {
        const size_t bus = size_t(key[5] - '1');
        return startsWith(key, "mute.") ? session.busMute[bus] : session.busSolo[bus];
    }
    if (key == "mute.main") return session.mainMute;
    if (key == "quantize") return session.quantizing;
    if (key == "fxHold") return session.fxHold;
    return std::nullopt;
}

void KoalaController::validateEditHistory(const KoalaSession& before, const KoalaSession& after) {
    auto padOf = [](const KoalaSession& song, int k) {
        auto found = song.pads.find(k);
        return found == song.pads.end() ? KoalaSession::Pad{} : found->second;
    };
    for (auto it = deletedPads.begin(); it != deletedPads.end();) {
        if (commandAcknowledged("pad:" + padID(*it))) {
            it = deletedPads.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = restoredPads.begin(); it != restoredPads.end();) {
        const int k = it->first;
        if (padOf(after, k).loaded && !deletedPads.count(k)) {
            // Koala has the pad back: an undo that restored it needs no preview any more.
            if (undoPreview && undoPreview->kind == EditPreview::Kind::pad && undoPreview->number == k)
                undoPreview.reset();
            it = restoredPads.erase(it);
        } else {
            ++it;
        }
    }
    // A deletion or a changed sequence seen in the save prepares what Undo would bring back.
    for (int k = 0; k < 64; ++k) {
        const KoalaSession::Pad old = padOf(before, k), now = padOf(after, k);
        if (old.loaded && !now.loaded && !deletedPads.count(k)) {
            undoPreview = EditPreview{EditPreview::Kind::pad, k, old, {}};
            redoPreview.reset();
        }
    }
    const size_t count = std::min(before.notes.size(), after.notes.size());
    for (size_t n = 0; n < count && n < before.bars.size() && n < after.bars.size(); ++n) {
        if (before.notes[n] != after.notes[n] || before.bars[n] != after.bars[n]) {
            undoPreview = EditPreview{
                EditPreview::Kind::sequence, int(n), {}, {before.bars[n], before.notes[n], false}};
            redoPreview.reset();
        }
    }
}

KoalaSession::Pad KoalaController::padInfo(int k) const {
    KoalaSession::Pad pad;
    if (auto found = session.pads.find(k); found != session.pads.end()) pad = found->second;
    if (deletedPads.count(k)) {
        KoalaSession::Pad empty;
        empty.label = "";
        return empty;
    }
    if (auto restored = restoredPads.find(k); restored != restoredPads.end() && !pad.loaded)
        pad = restored->second;
    if (auto trim = pendingTrims.find(k); trim != pendingTrims.end()) {
        pad.start = trim->second.start;
        pad.end = trim->second.end;
    }
    const std::string suffix = "#" + std::to_string(k);
    auto flag = [&](const char* name, bool& value) {
        if (auto found = flipped.find(name + suffix); found != flipped.end()) value = found->second;
    };
    flag("oneshot", pad.oneShot);
    flag("loop", pad.loop);
    flag("reverse", pad.reverse);
    flag("mute", pad.muted);
    return pad;
}

// ---- Previews of what a command will do -------------------------------------------------------------

KoalaController::SequencePreview& KoalaController::sequencePreview(int number) {
    auto found = sequencePreviews.find(number);
    if (found != sequencePreviews.end()) return found->second;
    SequencePreview preview;
    if (number >= 0 && size_t(number) < session.bars.size()) preview.bars = session.bars[size_t(number)];
    if (number >= 0 && size_t(number) < session.notes.size()) preview.notes = session.notes[size_t(number)];
    return sequencePreviews.emplace(number, std::move(preview)).first->second;
}

void KoalaController::previewCommand(const std::string& address) {
    const double t = now();
    auto continueBeat = [&] {
        localBeatOffset = transportBeat();
        localBeatStart = t;
    };
    if (address == "/sequencer/bpm/++" || address == "/sequencer/bpm/--") {
        const double tempo = bpm().value_or(120.0) + (address == "/sequencer/bpm/++" ? 1 : -1);
        continueBeat();
        localBPM = std::max(1.0, tempo);
        markCommand("bpm");
    } else if (address == "/sequencer/tapTempo") {
        if (!tempoTaps.empty() && t - tempoTaps.back() > 2.0) tempoTaps.clear();
        tempoTaps.push_back(t);
        if (tempoTaps.size() > 5) tempoTaps.erase(tempoTaps.begin());
        if (tempoTaps.size() >= 2 && t > tempoTaps.front()) {
            continueBeat();
            localBPM = double(tempoTaps.size() - 1) * 60.0 / (t - tempoTaps.front());
            markCommand("bpm");
        }
    } else if (address == "/metro/toggle" || address == "/solo/toggle" || address == "/perform/hold/toggle") {
        const std::string key = address == "/metro/toggle"  ? "metro"
                                : address == "/solo/toggle" ? "sampleSolo"
                                                            : "fxHold";
        flipped[key] = !flagState(key);
        if (key == "fxHold") markCommand("flag:fxHold");
    } else if (address == "/currSequence/numBars/++" || address == "/currSequence/numBars/--" ||
               address == "/currSequence/clear" || address == "/currSequence/numBars/*2") {
        const int number = currentSequence();
        SequencePreview& preview = sequencePreview(number);
        if (address == "/currSequence/numBars/++") {
            ++preview.bars;
        } else if (address == "/currSequence/numBars/--") {
            preview.bars = std::max<int64_t>(1, preview.bars - 1);
        } else if (address == "/currSequence/clear") {
            preview.notes.clear();
        } else {
            // Doubling repeats the pattern in the new half.
            const double length = double(preview.bars * std::max<int64_t>(1, session.beatsPerBar));
            const size_t count = preview.notes.size();
            for (size_t i = 0; i < count; ++i) {
                KoalaSession::Note copy = preview.notes[i];
                copy.beat += length;
                preview.notes.push_back(copy);
            }
            preview.bars *= 2;
        }
        markCommand("sequence:" + std::to_string(number));
    } else if (address == "/pianoroll/toggle") {
        pianoRollOverride = !pianoRollOverride.value_or(false);
    } else if (address == "/undo" || address == "/redo") {
        std::optional<EditPreview>& from = address == "/undo" ? undoPreview : redoPreview;
        std::optional<EditPreview>& to = address == "/undo" ? redoPreview : undoPreview;
        if (!from) return;
        const EditPreview edit = *from;
        from.reset();
        if (edit.kind == EditPreview::Kind::pad) {
            if (address == "/undo") {
                deletedPads.erase(edit.number);
                restoredPads[edit.number] = edit.pad;
            } else {
                deletedPads.insert(edit.number);
            }
            to = edit;
            markCommand("pad:" + padID(edit.number));
        } else {
            SequencePreview current = sequencePreview(edit.number);
            sequencePreviews[edit.number] = edit.sequence;
            to = EditPreview{EditPreview::Kind::sequence, edit.number, {}, current};
            markCommand("sequence:" + std::to_string(edit.number));
        }
    }
}

// ---- Trims ----------------------------------------------------------------------------------------

void KoalaController::recordTrim(const std::string& address, double value) {
    const int pad = selected;
    const KoalaSession::Pad info = padInfo(pad);
    if (!info.sampleID || !info.frames || *info.frames <= 0) return; // nothing to predict from
    const double frames = *info.frames;
    auto found = pendingTrims.find(pad);
    if (found == pendingTrims.end()) {
        PendingTrim fresh;
        fresh.sampleID = *info.sampleID;
        fresh.frames = frames;
        fresh.start = info.start;
        fresh.end = info.end.value_or(frames);
        found = pendingTrims.emplace(pad, fresh).first;
    }
    PendingTrim& trim = found->second;
    if (address == "/currPad/sample/start") {
        const double start = value / 127.0 * frames;
        if (!trim.startGesture) trim.startGesture = StartGesture{trim.start, trim.end, start, false};
        StartGesture& gesture = *trim.startGesture;
        const double keptEnd = gesture.end;
        const double keptLength = std::min(frames, start + (gesture.end - gesture.start));
        trim.end = trimStartKeepsEnd ? std::max(keptEnd, start) : keptLength;
        trim.start = start;
        gesture.commandedStart = start;
        // Only a gesture whose two possible outcomes differ can teach which one Koala follows.
        gesture.eligible = std::abs(start - gesture.start) > gestureThreshold &&
                           std::abs(keptEnd - keptLength) > gestureThreshold;
    } else {
        trim.end = std::min(frames, trim.start + value / 127.0 * frames);
        if (trim.startGesture) trim.startGesture->eligible = false;
    }
    ++trimRevision;
    trim.revision = trimRevision;
    trim.sentAt = date();
    trim.movedAt = now();
    trim.previousSave = samplerSavedAt;
    scheduleReconcile(now() + rest);
}

void KoalaController::clearTrim(int pad) {
    pendingTrims.erase(pad);
    for (const char* address : {"/currPad/sample/start#", "/currPad/sample/length#"}) {
        positions.erase(address + std::to_string(pad));
        lastSent.erase(address + std::to_string(pad));
    }
}

void KoalaController::reconcileTrims(double at) {
    for (auto it = pendingTrims.begin(); it != pendingTrims.end();) {
        const int pad = it->first;
        const PendingTrim trim = it->second;
        ++it;
        if (at - trim.movedAt > expiry) {
            clearTrim(pad);
            continue;
        }
        const bool savedSince =
            samplerSavedAt && (!trim.previousSave || *samplerSavedAt > *trim.previousSave);
        const bool fresh = savedSince && *samplerSavedAt > trim.sentAt &&
                           samplerReadTrimRevision >= trim.revision && at - trim.movedAt >= rest;
        if (!fresh) continue;
        auto found = session.pads.find(pad);
        if (found == session.pads.end()) {
            clearTrim(pad);
            continue;
        }
        const double savedStart = found->second.start;
        const double savedEnd = found->second.end.value_or(trim.frames);
        if (trim.startGesture && trim.startGesture->eligible) {
            const StartGesture& gesture = *trim.startGesture;
            std::optional<bool> keepsEnd;
            // Keeping the length moves the end with the start, up to the sample's end.
            const double keptLength = std::min(trim.frames, savedStart + (gesture.end - gesture.start));
            if (std::abs(savedEnd - gesture.end) <= trimTolerance) {
                keepsEnd = true;
            } else if (std::abs(savedEnd - keptLength) <= trimTolerance) {
                keepsEnd = false;
            }
            if (keepsEnd) {
                trimStartKeepsEnd = *keepsEnd;
                services.defaults.setBoolean(Defaults::tandemSuite, trimBehaviorKey, *keepsEnd);
                ActivityLog::write(std::string("Koala START behavior learned from fresh save: ") +
                                   (*keepsEnd ? "end stays fixed" : "length stays fixed"));
            }
        }
        // Confirmed within a frame or not, the fresh save is what Koala has now.
        clearTrim(pad);
    }
}

// ---- Recording preview ----------------------------------------------------------------------------

void KoalaController::beginRecording(int p, int velocity) {
    if (!localRecording || transportBeat() < recordingStartsAt) return;
    KoalaSession::Note note;
    note.velocity = velocity;
    auto press = heldPadOns.find(p);
    if (keyboard.mode == Keyboard::Mode::on && press != heldPadOns.end()) {
        note.pad = keyboard.pad;
        const int number = press->second.data[1];
        if (padInfo(keyboard.pad).chopper) {
            note.slice = number - 60;
        } else {
            note.pitch = number - 60;
        }
    } else {
        note.pad = koalaPad(p);
    }
    recordedHolds[p] = RecordedHold{note, currentSequence(), transportBeat()};
}

void KoalaController::finishRecording(int p) {
    auto found = recordedHolds.find(p);
    if (found == recordedHolds.end()) return;
    RecordedHold hold = found->second;
    recordedHolds.erase(found);
    SequencePreview& preview = sequencePreview(hold.sequence);
    const double length = double(preview.bars) * double(std::max<int64_t>(1, session.beatsPerBar));
    double beat = length > 0 ? std::fmod(hold.started, length) : hold.started;
    if (flagState("quantize")) {
        const double grid = 4.0 / double(std::max<int64_t>(1, session.quantizeDivision));
        beat = std::round(beat / grid) * grid;
        if (length > 0 && beat >= length) beat -= length;
    }
    hold.note.beat = beat;
    hold.note.length = std::max(transportBeat() - hold.started, 1.0 / 4096);
    auto at = std::upper_bound(preview.notes.begin(), preview.notes.end(), beat,
                               [](double b, const KoalaSession::Note& n) { return b < n.beat; });
    preview.notes.insert(at, hold.note);
    preview.recording = true;
    markCommand("sequence:" + std::to_string(hold.sequence));
}

void KoalaController::finishAllRecordings() {
    std::vector<int> pads;
    for (const auto& [pad, hold] : recordedHolds)
        pads.push_back(pad);
    for (int pad : pads)
        finishRecording(pad);
}

} // namespace tandem
