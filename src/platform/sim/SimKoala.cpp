#include "platform/sim/SimKoala.h"

#include "base/FileSystem.h"
#include "base/Paths.h"
#include "base/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>
#include <numbers>

namespace tandem {

namespace {

// Koala's own buttons as fractions of its window (measured on 1280 × 800), and how close a click must
// come to count.
constexpr double bankFractions[] = {579.0 / 1280, 616.0 / 1280, 653.0 / 1280, 690.0 / 1280};
constexpr double mixerFraction = 1036.0 / 1280;
constexpr double buttonRow = 769.0 / 800;
constexpr double reach = 10;

struct Tab {
    double from, to;
    const char* page;
};
constexpr Tab tabs[] = {{0.255, 0.383, "sample"},
                        {0.383, 0.533, "sequence"},
                        {0.533, 0.675, "perform"},
                        {0.675, 0.76, "settings"}};

const char* firstRunSettings = R"({
  "audioOutput": "Built-in Output",
  "builtInMidiMappingsEnabled": true,
  "keyboardMidiChannel": 1,
  "midiInputChannel": 1,
  "midiNoteOffset": 48,
  "useMidiMapping": false
}
)";

// Koala's STUTTER on its Perform page, as fractions of its window.
constexpr Rect stutterFractions{0.30, 0.55, 0.12, 0.14};

constexpr double ticksPerBeat = 4096; // Koala keeps note positions and lengths in these
constexpr size_t undoDepth = 64;

// Koala's files carry dates that Tandem compares with its own clock's; on the simulated Mac that
// clock is virtual, and a real disk date would lie in its future.
void stamp(const std::filesystem::path& file, const Clock& clock) {
    using namespace std::chrono;
    const int64_t ns = duration_cast<nanoseconds>(clock.date().time_since_epoch()).count();
    timespec times[2];
    times[0].tv_sec = time_t(ns / 1'000'000'000);
    times[0].tv_nsec = long(ns % 1'000'000'000);
    times[1] = times[0];
    (void)::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// "/pads/C5" → 36; nothing for anything else.
std::optional<int> padOfAddress(const std::string& address) {
    const std::string prefix = "/pads/";
    if (!address.starts_with(prefix) || address.size() < prefix.size() + 2) return std::nullopt;
    const char bank = address[prefix.size()];
    if (bank < 'A' || bank > 'D') return std::nullopt;
    int number = 0;
    for (size_t i = prefix.size() + 1; i < address.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(address[i])) || number > 16) return std::nullopt;
        number = number * 10 + (address[i] - '0');
    }
    if (number < 1 || number > 16) return std::nullopt;
    return (bank - 'A') * 16 + number - 1;
}

// The bus (0-3) of "/mixer/channels/1" … "4" followed by `what`.
std::optional<size_t> mixerBus(const std::string& address, const std::string& what) {
    for (size_t bus = 0; bus < 4; ++bus) {
        if (address == "/mixer/channels/" + std::to_string(bus + 1) + what) return bus;
    }
    return std::nullopt;
}

// The N of "<prefix>N" for N in 0 … limit − 1.
std::optional<int> numberAfter(const std::string& address, const std::string& prefix, int limit) {
    if (!address.starts_with(prefix) || address.size() == prefix.size() || address.size() > prefix.size() + 3)
        return std::nullopt;
    int number = 0;
    for (size_t i = prefix.size(); i < address.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(address[i]))) return std::nullopt;
        number = number * 10 + (address[i] - '0');
    }
    if (number >= limit) return std::nullopt;
    return number;
}

} // namespace

SimKoala::SimKoala(SimWorkspace& workspace, SimWindowServer& windows, SimAccessibility& accessibility,
                   SimScreens& screens, SimPointer& pointer, SimMidiSystem& midi, Clock& clock,
                   std::shared_ptr<Queue> queue)
    : workspace(workspace)
    , windows(windows)
    , accessibility(accessibility)
    , screens(screens)
    , pointer(pointer)
    , midi(midi)
    , clock(clock)
    , queue(std::move(queue)) {
    workspace.install(*this);
    sink = pointer.addSink([this](const PointerEvent& event) { clicked(event); });
}

SimKoala::~SimKoala() {
    {
        std::lock_guard guard(lock);
        life.reset();
        stopMidi();
    }
    pointer.removeSink(sink);
    if (auto running = processIdentifier()) {
        accessibility.detach(*running);
        windows.removeAll(*running);
    }
}

std::optional<int32_t> SimKoala::processIdentifier() {
    std::lock_guard guard(lock);
    return process;
}

bool SimKoala::running() {
    return processIdentifier().has_value();
}

std::optional<Rect> SimKoala::windowBounds() {
    std::lock_guard guard(lock);
    if (!process) return std::nullopt;
    return windows.bounds(mainNumber);
}

bool SimKoala::fullScreen() {
    std::lock_guard guard(lock);
    return isFullScreen;
}

int SimKoala::launches() {
    std::lock_guard guard(lock);
    return launchCount;
}

int SimKoala::quitRequests() {
    std::lock_guard guard(lock);
    return quitCount;
}

int SimKoala::shownBank() {
    std::lock_guard guard(lock);
    return bank;
}

bool SimKoala::mixerOpen() {
    std::lock_guard guard(lock);
    return mixer;
}

std::string SimKoala::page() {
    std::lock_guard guard(lock);
    return currentPage;
}

bool SimKoala::keyboardOn() {
    std::lock_guard guard(lock);
    return current.keyboardMode;
}

std::vector<SimKoala::Click> SimKoala::clicks() {
    std::lock_guard guard(lock);
    return clickLog;
}

std::vector<Point> SimKoala::positionRequests() {
    std::lock_guard guard(lock);
    return positions;
}

void SimKoala::launched(int32_t processIdentifier) {
    {
        std::lock_guard guard(lock);
        process = processIdentifier;
        ++launchCount;
        ++run;
        isFullScreen = transitioning = false;
    }
    // Koala's first run creates its settings; Tandem waits for exactly this.
    FileSystem& disk = FileSystem::local();
    const auto settings = Paths::koalaSettings() / "defaults.json";
    if (options.writesSettingsOnFirstRun && !disk.exists(settings)) {
        (void)disk.createDirectories(settings.parent_path());
        (void)disk.writeFile(settings, firstRunSettings);
    }
    {
        // Koala takes its settings and map once, as it starts.
        std::lock_guard guard(lock);
        launchSettings = Settings::read(Paths::koalaSampler());
        startMidi();
    }
    accessibility.attach(processIdentifier, this);
    uint64_t thisRun = run;
    queue->after(options.windowDelay, [this, processIdentifier, thisRun] {
        std::lock_guard guard(lock);
        if (run == thisRun && process == processIdentifier) openWindows(processIdentifier);
    });
}

void SimKoala::openWindows(int32_t owner) {
    Rect main = screens.screens().empty() ? Rect{0, 0, 1440, 900}
                                          : displayRect(screens.screens().front().frame, screens.screens());
    const Size size = options.windowSize;
    Rect bounds{main.x + (main.width - size.width) / 2, main.y + (main.height - size.height) / 2, size.width,
                size.height};
    menuNumber = windows.add(owner, {main.maxX() - 300, main.y, 24, 22}, 25); // a status item: not layer 0
    smallNumber = windows.add(owner, {bounds.x + 20, bounds.y + 20, 90, 60}); // too small to be the window
    mainNumber = windows.add(owner, bounds);
}

bool SimKoala::quitRequested(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    ++quitCount;
    if (options.refusesQuit || process != processIdentifier) return false;
    queue->after(options.saveDialogSeconds + options.quitDelay, [this, processIdentifier] {
        {
            // A quitting Koala saves what it has not saved yet.
            std::lock_guard guard(lock);
            if (process == processIdentifier && dirty) save();
        }
        workspace.exit(processIdentifier);
    });
    return true;
}

void SimKoala::activated(int32_t processIdentifier) {
    windows.bringToFront(processIdentifier);
}

void SimKoala::exited(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    if (process != processIdentifier) return;
    accessibility.detach(processIdentifier);
    windows.removeAll(processIdentifier);
    process.reset();
    ++run;
    isFullScreen = transitioning = false;
    mainNumber = smallNumber = menuNumber = 0;
    // The process is gone: no more clock, no held notes; unsaved changes stay in memory only.
    stopMidi();
    isPlaying = isRecording = false;
    ++transportRun;
    holds.clear();
    taps.clear();
}

std::optional<AXValue> SimKoala::attribute(uint32_t element, const std::string& name) {
    std::lock_guard guard(lock);
    if (!process) return std::nullopt;
    if (element == 0) {
        if (name != "AXWindows" || options.windowsUnreadable) return std::nullopt;
        if (options.windowsMistyped) return AXValue(std::string("Koala Sampler"));
        if (!mainNumber) return AXValue(std::vector<AXElement>{});
        // The small window comes first: the title decides, not the order.
        return AXValue(std::vector<AXElement>{SimAccessibility::element(*process, smallWindow),
                                              SimAccessibility::element(*process, mainWindow)});
    }
    if (element != mainWindow && element != smallWindow) return std::nullopt;
    auto bounds = windows.bounds(element == mainWindow ? mainNumber : smallNumber);
    if (!bounds) return std::nullopt;
    if (name == "AXTitle") return AXValue(std::string(element == mainWindow ? "Koala Sampler" : ""));
    if (name == "AXPosition") return AXValue(bounds->origin());
    if (name == "AXSize") {
        if (options.sizeUnreadable) return std::nullopt;
        if (options.sizeMistyped) return AXValue(bounds->origin());
        return AXValue(bounds->size());
    }
    if (element != mainWindow) return std::nullopt;
    if (name == "AXFullScreen") return AXValue(isFullScreen);
    if (name == "AXFullScreenButton") return AXValue(SimAccessibility::element(*process, fullScreenButton));
    return std::nullopt;
}

bool SimKoala::setAttribute(uint32_t element, const std::string& name, const AXValue& value) {
    std::lock_guard guard(lock);
    if (!process || element != mainWindow || !mainNumber) return false;
    if (name == "AXPosition") {
        const Point* point = std::get_if<Point>(&value);
        if (point) positions.push_back(*point);
        // A full-screen window stays where it is, as on the Mac.
        if (!point || options.refusesMove || isFullScreen || transitioning) return false;
        auto bounds = windows.bounds(mainNumber);
        windows.setBounds(mainNumber, {point->x, point->y, bounds->width, bounds->height});
        return true;
    }
    if (name == "AXFullScreen") {
        const bool* on = std::get_if<bool>(&value);
        if (!on || options.rejectsFullScreenAttribute) return false;
        if (*on != isFullScreen && !transitioning) beginFullScreen(*on);
        return true;
    }
    return false;
}

bool SimKoala::performAction(uint32_t element, const std::string& action) {
    std::lock_guard guard(lock);
    if (!process || element != fullScreenButton || action != "AXPress" || transitioning) return false;
    beginFullScreen(!isFullScreen);
    return true;
}

void SimKoala::beginFullScreen(bool enter) {
    transitioning = true;
    uint64_t thisRun = run;
    queue->after(options.fullScreenTransition, [this, enter, thisRun] {
        std::lock_guard guard(lock);
        if (run != thisRun || !mainNumber) return;
        transitioning = false;
        auto bounds = windows.bounds(mainNumber);
        if (enter) {
            savedBounds = *bounds;
            // The screen under the window's centre takes it whole.
            const auto list = screens.screens();
            Rect target = list.empty() ? *bounds : displayRect(list.front().frame, list);
            for (const Screen& screen : list) {
                Rect rect = displayRect(screen.frame, list);
                if (rect.contains({bounds->midX(), bounds->midY()})) target = rect;
            }
            windows.setBounds(mainNumber, target);
        } else {
            windows.setBounds(mainNumber, savedBounds);
        }
        isFullScreen = enter;
    });
}

void SimKoala::clicked(const PointerEvent& event) {
    std::lock_guard guard(lock);
    // STUTTER sounds while pressed: a press on it starts the repeat, the release anywhere ends it.
    if (event.type == PointerEventType::leftMouseDown && process && onStutter(event.location))
        stutters.emplace_back(clock.uptime(), std::numeric_limits<double>::infinity());
    if (event.type == PointerEventType::leftMouseUp && !stutters.empty() &&
        std::isinf(stutters.back().second))
        stutters.back().second = clock.uptime();
    if (event.type != PointerEventType::leftMouseUp || !process || !mainNumber) return;
    auto bounds = windows.bounds(mainNumber);
    if (!bounds || !bounds->contains(event.location)) return;
    const double fx = (event.location.x - bounds->x) / bounds->width;
    const double fy = (event.location.y - bounds->y) / bounds->height;
    Click click{event.location, ""};
    const double rowY = bounds->y + buttonRow * bounds->height;
    if (std::abs(event.location.y - rowY) <= reach) {
        for (int i = 0; i < 4; ++i) {
            if (std::abs(event.location.x - (bounds->x + bankFractions[i] * bounds->width)) <= reach) {
                bank = i;
                click.hit = std::string("bank ") + char('A' + i);
            }
        }
        if (std::abs(event.location.x - (bounds->x + mixerFraction * bounds->width)) <= reach) {
            mixer = !mixer;
            click.hit = "mixer";
        }
    } else if (fy < 0.13) {
        for (const Tab& tab : tabs) {
            if (fx >= tab.from && fx < tab.to) {
                currentPage = tab.page;
                click.hit = std::string("tab ") + tab.page;
            }
        }
    } else if (currentPage == "sequence" && fx >= 0.265 && fx < 0.343 && fy >= 0.465 && fy < 0.523) {
        current.keyboardMode = !current.keyboardMode;
        songChanged();
        click.hit = "keyboard";
    }
    clickLog.push_back(click);
}

// The song side, for tests.

void SimKoala::seed(Song song) {
    std::lock_guard guard(lock);
    current = std::move(song);
    undoStack.clear();
    redoStack.clear();
    holds.clear();
    taps.clear();
    dirty = false;
    ++songRevision; // a save already waiting has nothing left to do
    const auto folder = Paths::koalaSong();
    FileSystem& disk = FileSystem::local();
    const auto files = current.files();
    for (const std::string& name : Song::fileNames()) {
        const auto path = folder / name;
        (void)disk.createDirectories(path.parent_path());
        if (SafeFile::atomicWrite(path, files.at(name), disk)) stamp(path, clock);
    }
    folderChanged(folder);
}

SimKoala::Song SimKoala::song() {
    std::lock_guard guard(lock);
    return current;
}

std::optional<double> SimKoala::frames(int64_t sampleID) {
    std::lock_guard guard(lock);
    return current.frames(sampleID);
}

void SimKoala::saveNow() {
    std::lock_guard guard(lock);
    save();
}

void SimKoala::holdSaves(bool hold) {
    std::lock_guard guard(lock);
    savesHeld = hold;
    if (!hold && dirty) songChanged();
}

std::vector<std::vector<std::string>> SimKoala::saves() {
    std::lock_guard guard(lock);
    return saveLog;
}

SimKoala::Settings SimKoala::settings() {
    std::lock_guard guard(lock);
    return launchSettings;
}

std::vector<SimKoala::Played> SimKoala::played() {
    std::lock_guard guard(lock);
    return playedLog;
}

std::vector<std::string> SimKoala::commands() {
    std::lock_guard guard(lock);
    return commandLog;
}

std::vector<std::string> SimKoala::uiLog() {
    std::lock_guard guard(lock);
    return uiCommands;
}

bool SimKoala::playing() {
    std::lock_guard guard(lock);
    return isPlaying;
}

bool SimKoala::recording() {
    std::lock_guard guard(lock);
    return isRecording;
}

double SimKoala::transportBeat() {
    std::lock_guard guard(lock);
    return beatNow();
}

// MIDI in and out.

void SimKoala::startMidi() {
    stopMidi();
    std::weak_ptr<int> alive = life;
    auto notify = [this, alive] {
        auto keep = alive.lock();
        if (!keep) return;
        std::lock_guard guard(lock);
        connectSources();
    };
    if (midi.clientCreate("Koala", notify, &client) != midiNoError) {
        client = 0;
        return;
    }
    auto read = [this, alive](const MidiPacketList& list, void* connection) {
        auto keep = alive.lock();
        if (!keep) return;
        std::lock_guard guard(lock);
        received(list, MidiEndpointRef(reinterpret_cast<uintptr_t>(connection)));
    };
    if (midi.inputPortCreate(client, "Koala Input", read, &inPort) != midiNoError) inPort = 0;
    if (midi.outputPortCreate(client, "Koala Output", &outPort) != midiNoError) outPort = 0;
    connectSources();
}

void SimKoala::stopMidi() {
    if (client) midi.clientDispose(client);
    client = inPort = outPort = 0;
    connected.clear();
}

void SimKoala::connectSources() {
    if (!inPort) return;
    // Koala listens to everything there is: the Push, Tandem's virtual sources, any other device.
    std::vector<MidiEndpointRef> present;
    for (size_t i = 0; i < midi.numberOfSources(); ++i) {
        const MidiEndpointRef source = midi.source(i);
        if (!source) continue;
        present.push_back(source);
        if (std::find(connected.begin(), connected.end(), source) != connected.end()) continue;
        // The connection names its source, so what Koala plays can say where it came from.
        void* connection = reinterpret_cast<void*>(uintptr_t(source));
        if (midi.portConnectSource(inPort, source, connection) == midiNoError) connected.push_back(source);
    }
    std::erase_if(connected, [&](MidiEndpointRef source) {
        return std::find(present.begin(), present.end(), source) == present.end();
    });
}

void SimKoala::received(const MidiPacketList& list, MidiEndpointRef source) {
    if (!process) return;
    hearing.clear();
    if (midi.stringProperty(source, MidiProperty::name, &hearing) != midiNoError) hearing.clear();
    forEachChannelMessage(list, [this](const SimMidiMessage& m) { message(m); });
}

void SimKoala::message(const SimMidiMessage& m) {
    const int channel = m.channel();
    const Settings& settings = launchSettings;
    if (m.kind() == 0x90 && m.data2 > 0) {
        const HoldKey key{channel, 0, m.data1};
        if (settings.useMapping) {
            // A mapped key does its commands and nothing else.
            auto found = settings.commands.find({channel, false, m.data1});
            if (found != settings.commands.end()) {
                for (const std::string& address : found->second)
                    command(address, m.data2, true, key);
                return;
            }
        }
        // The keyboard takes its channel while it is on, even when the pads share it.
        if (current.keyboardMode && channel == settings.keyboardChannel) {
            const int pad = int(std::clamp<int64_t>(current.selectedPad, 0, 63));
            const Song::Pad& selected = current.pads[size_t(pad)];
            if (selected.chopper) {
                const int chop = m.data1 - 59; // note 60 is chop 1
                if (chop >= 1 && chop <= int(selected.slices.size()))
                    playPad(pad, m.data1, chop, 0, m.data2, false, key);
            } else {
                playPad(pad, m.data1, std::nullopt, m.data1 - 60, m.data2, false, key);
            }
        } else if (channel == settings.padChannel) {
            const int pad = m.data1 - settings.noteOffset;
            if (pad >= 0 && pad < 64)
                playPad(pad, m.data1, std::nullopt, 0, m.data2, settings.canSelectNotes, key);
        }
    } else if (m.kind() == 0x80 || m.kind() == 0x90) {
        release({channel, 0, m.data1});
    } else if (m.kind() == 0xB0) {
        const HoldKey key{channel, 1, m.data1};
        if (m.data2 == 0) release(key);
        if (!settings.useMapping) return;
        auto found = settings.commands.find({channel, true, m.data1});
        if (found == settings.commands.end()) return;
        for (const std::string& address : found->second)
            command(address, m.data2, m.data2 > 0, key);
    }
}

void SimKoala::playPad(int pad, int note, std::optional<int> chop, double pitch, int velocity, bool select,
                       const HoldKey& key) {
    if (select && current.selectedPad != pad) {
        current.selectedPad = pad;
        songChanged();
    }
    // An empty pad is selected but sounds nothing and records nothing.
    if (!current.pads[size_t(pad)].loaded()) return;
    playedLog.push_back({pad, note, chop, velocity, clock.uptime(), hearing});
    release(key); // the same key pressed again ends its earlier note
    Hold hold;
    hold.pad = pad;
    if (chop) hold.slice = *chop - 1;
    hold.pitch = pitch;
    hold.velocity = velocity;
    hold.beat = beatNow();
    hold.sequence = current.currentSequence;
    hold.recorded = isPlaying && isRecording && hold.beat >= recordFrom;
    holds[key] = hold;
}

void SimKoala::release(const HoldKey& key) {
    auto found = holds.find(key);
    if (found == holds.end()) return;
    const Hold hold = found->second;
    holds.erase(found);
    if (hold.recorded && isRecording) land(hold, beatNow());
}

void SimKoala::land(const Hold& hold, double endBeat) {
    if (hold.sequence < 0 || hold.sequence >= int64_t(current.sequences.size())) return;
    const auto& sequence = current.sequences[size_t(hold.sequence)];
    const double length =
        double(std::max<int64_t>(1, sequence.bars) * std::max<int64_t>(1, current.beatsPerBar));
    double beat = std::fmod(hold.beat, length);
    if (current.quantizing) {
        const double grid = 4.0 / double(std::max<int64_t>(1, current.quantizeDivision));
        beat = std::round(beat / grid) * grid;
        if (beat >= length) beat -= length; // rounded up past the end: the loop's first step
    }
    beat = std::max(0.0, std::round(beat * ticksPerBeat) / ticksPerBeat);
    Song::Note note;
    note.pad = hold.pad;
    note.beat = beat;
    note.length = std::max(1.0, std::round((endBeat - hold.beat) * ticksPerBeat)) / ticksPerBeat;
    note.pitch = hold.pitch;
    note.velocity = hold.velocity;
    note.slice = hold.slice;
    // A recorded pass is one step of undo: the song as it was before its first note.
    if (!passRecorded) {
        pushUndo();
        passRecorded = true;
    }
    auto& notes = current.sequences[size_t(hold.sequence)].notes;
    auto at = std::upper_bound(notes.begin(), notes.end(), note.beat,
                               [](double b, const Song::Note& n) { return b < n.beat; });
    notes.insert(at, note);
    songChanged();
}

void SimKoala::finishHolds() {
    const double now = beatNow();
    for (auto& entry : holds) {
        if (!entry.second.recorded) continue;
        land(entry.second, now);
        entry.second.recorded = false;
    }
}

// Commands.

void SimKoala::command(const std::string& address, int value, bool pressed, const HoldKey& key) {
    commandLog.push_back(address);
    if (auto pad = padOfAddress(address)) {
        if (pressed) {
            const int note = std::get<1>(key) == 0 ? std::get<2>(key) : 0;
            playPad(*pad, note, std::nullopt, 0, value, launchSettings.canSelectNotes, key);
        } else {
            release(key);
        }
        return;
    }
    const Song before = current;
    if (address.starts_with("/perform/fx/")) {
        for (auto& effect : current.effects) {
            if (Song::effectAddress(effect.name) != address) continue;
            // Zero lets go of the effect and leaves its amount where it was.
            if (value > 0) effect.value = std::clamp(value, 0, 127) / 127.0;
            effect.on = value > 0;
        }
    } else if (current.turn(address, value, options.startKeepsEnd)) {
        // knobs change the song but make no undo step
    } else if (pressed && !buttonCommand(address)) {
        uiCommands.push_back(address);
    }
    if (current != before) songChanged();
}

bool SimKoala::buttonCommand(const std::string& a) {
    Song::Pad& pad = current.pads[size_t(std::clamp<int64_t>(current.selectedPad, 0, 63))];
    // A seeded song may name a sequence it does not have; its sequence edits then do nothing.
    Song::Sequence none;
    const bool hasSequence =
        current.currentSequence >= 0 && current.currentSequence < int64_t(current.sequences.size());
    Song::Sequence& sequence = hasSequence ? current.sequences[size_t(current.currentSequence)] : none;
    // Edits are undo steps: the song before them goes on the undo stack when they change anything.
    auto edit = [&](auto&& change) {
        const Song before = current;
        change();
        if (current != before) {
            undoStack.push_back(before);
            if (undoStack.size() > undoDepth) undoStack.erase(undoStack.begin());
            redoStack.clear();
        }
    };
    auto tempo = [&](double bpm) {
        reanchor();
        current.bpm = std::max(1.0, bpm);
    };
    const double now = clock.uptime();

    if (a == "/currPad/sample/oneshot/toggle")
        pad.oneShot = !pad.oneShot;
    else if (a == "/currPad/sample/loop/toggle")
        pad.loop = !pad.loop;
    else if (a == "/currPad/sample/reverse/toggle")
        pad.reverse = !pad.reverse;
    else if (a == "/mute/toggle")
        pad.muted = !pad.muted;
    else if (a == "/solo/toggle")
        current.sampleSolo = !current.sampleSolo;
    else if (a == "/mixer/channels/main/mute/toggle")
        current.master.mute = !current.master.mute;
    else if (auto bus = mixerBus(a, "/mute/toggle"))
        current.buses[size_t(*bus)].mute = !current.buses[size_t(*bus)].mute;
    else if (auto bus = mixerBus(a, "/solo/toggle"))
        current.buses[size_t(*bus)].solo = !current.buses[size_t(*bus)].solo;
    else if (a == "/metro/toggle")
        current.metronome = !current.metronome;
    else if (a == "/sequencer/recordQuantize/toggle")
        current.quantizing = !current.quantizing;
    else if (a == "/perform/hold/toggle")
        current.fxHold = !current.fxHold;
    else if (a == "/keyboard/toggle")
        current.keyboardMode = !current.keyboardMode;
    else if (a == "/sequencer/bpm/++")
        tempo(current.bpm.value_or(120) + 1);
    else if (a == "/sequencer/bpm/--")
        tempo(current.bpm.value_or(120) - 1);
    else if (a == "/sequencer/tapTempo") {
        if (!taps.empty() && now - taps.back() > 2.0) taps.clear();
        taps.push_back(now);
        if (taps.size() > 5) taps.erase(taps.begin());
        if (taps.size() >= 2 && now > taps.front())
            tempo(double(taps.size() - 1) * 60.0 / (now - taps.front()));
    } else if (a == "/currSequence/numBars/++")
        edit([&] { ++sequence.bars; });
    else if (a == "/currSequence/numBars/--")
        edit([&] { sequence.bars = std::max<int64_t>(1, sequence.bars - 1); });
    else if (a == "/currSequence/numBars/*2") {
        edit([&] {
            const double shift = double(sequence.bars * current.beatsPerBar);
            std::vector<Song::Note> repeated = sequence.notes;
            for (Song::Note& note : repeated)
                note.beat += shift;
            sequence.notes.insert(sequence.notes.end(), repeated.begin(), repeated.end());
            sequence.bars *= 2;
        });
    } else if (a == "/currSequence/clear")
        edit([&] { sequence.notes.clear(); });
    else if (auto number = numberAfter(a, "/sequencer/sequences/", 32)) {
        // Choosing a slot past the last sequence makes empty ones up to it.
        if (size_t(*number) >= current.sequences.size()) current.sequences.resize(size_t(*number) + 1);
        current.currentSequence = *number;
    } else if (a == "/currPad/delete")
        edit([&] { pad = Song::Pad{}; });
    else if (a == "/undo" || a == "/redo") {
        auto& from = a == "/undo" ? undoStack : redoStack;
        auto& to = a == "/undo" ? redoStack : undoStack;
        if (!from.empty()) {
            to.push_back(current);
            // What only lives while Koala runs is not part of the history.
            Song restored = from.back();
            from.pop_back();
            restored.metronome = current.metronome;
            restored.sampleSolo = current.sampleSolo;
            for (size_t i = 0; i < restored.effects.size(); ++i)
                restored.effects[i].on = current.effects[i].on;
            current = std::move(restored);
        }
    } else if (a == "/sequencer/play/toggle")
        setPlaying(!isPlaying);
    else if (a == "/sequencer/record/toggle")
        setRecording(!isRecording);
    else {
        if (a == "/mixer/show") mixer = true;
        if (a == "/mixer/hide") mixer = false;
        return false;
    }
    return true;
}

// The transport.

double SimKoala::beatNow() const {
    if (!isPlaying) return 0;
    return anchorBeat + (clock.uptime() - anchorTime) * current.bpm.value_or(120) / 60.0;
}

void SimKoala::reanchor() {
    anchorBeat = beatNow();
    anchorTime = clock.uptime();
}

void SimKoala::setPlaying(bool on) {
    if (on == isPlaying) return;
    if (!on) {
        setRecording(false);
        isPlaying = false;
        ++transportRun;
        holds.clear();
        sendClock(0xFC);
        return;
    }
    isPlaying = true;
    anchorTime = nextTick = clock.uptime();
    anchorBeat = 0;
    sendClock(0xFA);
    tick(++transportRun);
}

void SimKoala::setRecording(bool on) {
    if (on == isRecording) return;
    if (!on) {
        finishHolds();
        isRecording = false;
        return;
    }
    isRecording = true;
    passRecorded = false;
    if (isPlaying) {
        recordFrom = beatNow();
        return;
    }
    // From a stop Koala counts in one pass of the current sequence.
    const auto& sequences = current.sequences;
    const int64_t bars = current.currentSequence >= 0 && current.currentSequence < int64_t(sequences.size())
                             ? sequences[size_t(current.currentSequence)].bars
                             : 1;
    recordFrom = double(std::max<int64_t>(1, bars) * std::max<int64_t>(1, current.beatsPerBar));
    setPlaying(true);
}

void SimKoala::tick(uint64_t transport) {
    if (transport != transportRun || !isPlaying) return;
    sendClock(0xF8);
    nextTick += 60.0 / (current.bpm.value_or(120) * 24.0);
    std::weak_ptr<int> alive = life;
    queue->after(std::max(0.0, nextTick - clock.uptime()), [this, alive, transport] {
        auto keep = alive.lock();
        if (!keep) return;
        std::lock_guard guard(lock);
        tick(transport);
    });
}

void SimKoala::sendClock(uint8_t byte) {
    if (!outPort) return;
    // Tandem's Push side follows Koala's transport through this one destination.
    MidiEndpointRef target = 0;
    for (size_t i = 0; i < midi.numberOfDestinations() && !target; ++i) {
        const MidiEndpointRef destination = midi.destination(i);
        std::string name;
        if (midi.stringProperty(destination, MidiProperty::name, &name) == midiNoError &&
            name == "Tandem Push")
            target = destination;
    }
    if (!target) return;
    uint8_t buffer[32];
    MidiPacketListBuilder builder(buffer);
    const uint8_t data[1] = {byte};
    builder.add(clock.hostTime(), data);
    midi.send(outPort, target, builder.list());
}

// History and saving.

void SimKoala::pushUndo() {
    undoStack.push_back(current);
    if (undoStack.size() > undoDepth) undoStack.erase(undoStack.begin());
    redoStack.clear();
}

void SimKoala::songChanged() {
    ++songRevision;
    dirty = true;
    if (savesHeld) return;
    const uint64_t revision = songRevision;
    std::weak_ptr<int> alive = life;
    queue->after(options.saveDelay, [this, alive, revision] {
        auto keep = alive.lock();
        if (!keep) return;
        std::lock_guard guard(lock);
        // Only after a quiet spell, and only a running Koala saves.
        if (revision == songRevision && dirty && !savesHeld && process) save();
    });
}

void SimKoala::save() {
    dirty = false;
    const auto folder = Paths::koalaSong();
    FileSystem& disk = FileSystem::local();
    const auto files = current.files();
    std::vector<std::string> written;
    for (const std::string& name : Song::fileNames()) {
        const auto path = folder / name;
        const std::string& bytes = files.at(name);
        auto old = disk.readFile(path);
        if (old && *old == bytes) continue;
        (void)disk.createDirectories(path.parent_path());
        if (!SafeFile::atomicWrite(path, bytes, disk)) continue;
        stamp(path, clock);
        written.push_back(name);
    }
    if (written.empty()) return;
    saveLog.push_back(std::move(written));
    folderChanged(folder);
}

void SimKoala::folderChanged(const std::filesystem::path& folder) {
    // As a file system event would, the news comes later and from elsewhere: whoever hears it may call
    // straight back into Koala.
    std::weak_ptr<int> alive = life;
    queue->async([this, alive, folder] {
        auto keep = alive.lock();
        if (keep && onFolderChanged) onFolderChanged(folder);
    });
}

// Samples.

std::filesystem::path SimKoala::samplePath(int64_t sampleID) {
    return Paths::koalaSong() / "sampler" / (std::to_string(sampleID) + ".wav");
}

bool SimKoala::writeSample(int64_t sampleID, const SampleShape& shape, bool inPlace) {
    const auto file = samplePath(sampleID);
    FileSystem& disk = FileSystem::local();
    if (!disk.createDirectories(file.parent_path())) return false;
    if (inPlace) {
        if (!shape.write(file)) return false;
    } else {
        // Written whole beside the old file, then renamed over it: a reader meets one version or the
        // other, and the new one is a new file.
        const auto partial = file.parent_path() / ("." + file.filename().string() + ".partial");
        if (!shape.write(partial) || !disk.rename(partial, file)) {
            (void)disk.remove(partial);
            return false;
        }
    }
    stamp(file, clock);
    folderChanged(file.parent_path());
    return true;
}

std::optional<int64_t> SimKoala::loadSample(int pad, const SampleShape& shape, const std::string& name) {
    std::lock_guard guard(lock);
    if (pad < 0 || pad >= int(current.pads.size())) return std::nullopt;
    int64_t id = 1;
    for (const Song::Sample& sample : current.samples)
        id = std::max(id, sample.id + 1);
    if (!writeSample(id, shape, false)) return std::nullopt;
    const std::string shown = name.empty() ? "Sample " + std::to_string(id) : name;
    const double length = double(shape.frames);
    current.samples.push_back({id, "/Users/koala/Music/Samples/" + shown + ".wav", length});
    Song::Pad fresh;
    fresh.sampleID = id;
    fresh.end = length;
    current.pads[size_t(pad)] = fresh;
    save();
    return id;
}

bool SimKoala::rewriteSample(int64_t sampleID, const SampleShape& shape) {
    std::lock_guard guard(lock);
    if (!current.frames(sampleID) || !writeSample(sampleID, shape, true)) return false;
    resized(sampleID, double(shape.frames));
    return true;
}

bool SimKoala::replaceSample(int64_t sampleID, const SampleShape& shape) {
    std::lock_guard guard(lock);
    if (!current.frames(sampleID) || !writeSample(sampleID, shape, false)) return false;
    resized(sampleID, double(shape.frames));
    return true;
}

void SimKoala::resized(int64_t sampleID, double length) {
    for (Song::Sample& sample : current.samples) {
        if (sample.id == sampleID) sample.frames = length;
    }
    for (Song::Pad& pad : current.pads) {
        if (pad.sampleID != sampleID) continue;
        pad.start = std::min(pad.start, length);
        if (pad.end) pad.end = std::min(*pad.end, length);
        std::erase_if(pad.slices, [length](double slice) { return slice >= length; });
    }
    save();
}

} // namespace tandem

namespace tandem {

// Its picture and its sound.

double SimKoala::burstFrequency(int pad) {
    return 220.0 * std::pow(2.0, double(pad % 24) / 12.0);
}

bool SimKoala::onStutter(Point location) {
    if (currentPage != "perform" || !mainNumber) return false;
    auto bounds = windows.bounds(mainNumber);
    if (!bounds) return false;
    const Rect area{bounds->x + stutterFractions.x * bounds->width,
                    bounds->y + stutterFractions.y * bounds->height, stutterFractions.width * bounds->width,
                    stutterFractions.height * bounds->height};
    return area.contains(location);
}

std::optional<Point> SimKoala::stutterPoint() {
    std::lock_guard guard(lock);
    if (currentPage != "perform" || !mainNumber) return std::nullopt;
    auto bounds = windows.bounds(mainNumber);
    if (!bounds) return std::nullopt;
    return Point{bounds->x + (stutterFractions.x + stutterFractions.width / 2) * bounds->width,
                 bounds->y + (stutterFractions.y + stutterFractions.height / 2) * bounds->height};
}

bool SimKoala::stutterHeld() {
    std::lock_guard guard(lock);
    return !stutters.empty() && std::isinf(stutters.back().second);
}

namespace {

// Pads sound when Tandem plays them, on either of its sources.
bool heardFromTandem(const SimKoala::Played& played) {
    return played.source.starts_with("Tandem");
}

} // namespace

bool SimKoala::sounded(int32_t processIdentifier) {
    std::lock_guard guard(lock);
    if (!process || *process != processIdentifier) return false;
    return std::any_of(playedLog.begin(), playedLog.end(), heardFromTandem);
}

double SimKoala::soundAt(const std::vector<Played>& notes, double time) const {
    double value = 0;
    for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
        const double age = time - it->time;
        if (age < 0) continue;
        if (age >= burstSeconds) break; // the log is in time order: older notes are over
        const double amplitude = 0.5 * std::clamp(it->velocity, 0, 127) / 127.0;
        value += amplitude * (1 - age / burstSeconds) *
                 std::sin(2 * std::numbers::pi * burstFrequency(it->pad) * age);
    }
    return value;
}

void SimKoala::render(int32_t processIdentifier, SampleBuffer& buffer) {
    if (buffer.format != SampleBuffer::Format::float32 || buffer.rate <= 0 || buffer.channels < 1) return;
    std::vector<Played> notes;
    std::vector<std::pair<double, double>> presses;
    double beat = 0.5;
    {
        std::lock_guard guard(lock);
        if (!process || *process != processIdentifier) return;
        std::copy_if(playedLog.begin(), playedLog.end(), std::back_inserter(notes), heardFromTandem);
        presses = stutters;
        beat = 60.0 / std::max(1.0, current.bpm.value_or(120));
    }
    const double eighth = beat / 2;
    for (size_t f = 0; f < buffer.frames; ++f) {
        double t = buffer.time + double(f) / buffer.rate;
        // Inside a held STUTTER the last eighth of a beat before the press plays over and over.
        for (const auto& [from, to] : presses) {
            if (t >= from && t < to) {
                t = from - eighth + std::fmod(t - from, eighth);
                break;
            }
        }
        const float v = float(soundAt(notes, t));
        for (int c = 0; c < buffer.channels; ++c)
            buffer.floatAt(f, c) += v;
    }
}

std::optional<VideoFrame> SimKoala::windowPicture(uint32_t window, int width, int height) {
    std::lock_guard guard(lock);
    if (!process || width <= 0 || height <= 0) return std::nullopt;
    if (window != mainNumber && window != smallNumber && window != menuNumber) return std::nullopt;
    VideoFrame frame = VideoFrame::make(width, height, clock.uptime());
    auto box = [&](double x, double y, double w, double h, uint32_t argb) {
        frame.fill(int(x * width), int(y * height), std::max(1, int(w * width)), std::max(1, int(h * height)),
                   argb);
    };
    if (window != mainNumber) {
        box(0, 0, 1, 1, 0xFF5A5A5A);
        return frame;
    }
    static const std::map<std::string, uint32_t> pageColours = {
        {"sample", 0xFF20242C}, {"sequence", 0xFF1D2B44}, {"perform", 0xFF2E1A47}, {"settings", 0xFF2A2A2A}};
    auto colour = pageColours.find(currentPage);
    box(0, 0, 1, 1, colour == pageColours.end() ? 0xFF202020 : colour->second);
    // The tab row, the shown page's tab lit.
    box(0, 0, 1, 0.13, 0xFF101010);
    for (const Tab& tab : tabs)
        box(tab.from + 0.005, 0.02, tab.to - tab.from - 0.01, 0.09,
            tab.page == currentPage ? 0xFFF2C14E : 0xFF3C3C3C);
    // The pads of the shown bank, lit while held.
    std::vector<bool> lit(64, false);
    for (const auto& entry : holds)
        if (entry.second.pad >= 0 && entry.second.pad < 64) lit[size_t(entry.second.pad)] = true;
    for (int i = 0; i < 16; ++i) {
        const int pad = bank * 16 + i;
        const double x = 0.55 + (i % 4) * 0.105, y = 0.18 + (3 - i / 4) * 0.18;
        box(x, y, 0.095, 0.16, lit[size_t(pad)] ? 0xFFFFD166 : 0xFF4A4E69);
    }
    // The bank buttons along the bottom row, the shown one lit.
    for (int i = 0; i < 4; ++i)
        box(bankFractions[i] - 0.012, buttonRow - 0.015, 0.024, 0.03, i == bank ? 0xFF06D6A0 : 0xFF333333);
    if (currentPage == "perform") {
        const bool held = !stutters.empty() && std::isinf(stutters.back().second);
        box(stutterFractions.x, stutterFractions.y, stutterFractions.width, stutterFractions.height,
            held ? 0xFFFFFFFF : 0xFFEF476F);
    }
    return frame;
}

} // namespace tandem
