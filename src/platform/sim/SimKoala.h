#pragma once

#include "base/Clock.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimKoalaSample.h"
#include "platform/sim/SimKoalaSettings.h"
#include "platform/sim/SimKoalaSong.h"
#include "platform/sim/SimMedia.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimPointer.h"
#include "platform/sim/SimScreens.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace tandem {

// The simulated Koala, as an application: it launches after a delay, writes its settings on its first
// run, opens its "Koala Sampler" window (and two small ones the window list must filter), moves and
// goes full screen through Accessibility, and reacts to clicks on its bank, mixer, tab and keyboard
// buttons so that a test sees where a forwarded click landed. Misbehaviour on demand. Its calls
// arrive on the rig's queues; everything here is single-threaded in virtual time.
//
// It is also Koala's MIDI and song side. At each launch it reads its settings and MIDI map (a changed
// map counts from the next launch), listens to every MIDI source, plays pads and its keyboard, runs
// mapped commands on its song, sends MIDI clock to "Tandem Push" while playing, records, undoes, and
// saves its five song files after a quiet second, dated by the virtual clock. Undo steps are whole-song
// snapshots taken before a pad delete, a sequence clear, a change of bars and a recorded pass; knob
// moves, switches and selection make none, so an undo also takes back the knob moves made since.
//
// It is also seen and heard: its windows have pictures drawn from its state (page, bank, the pads
// sounding, its STUTTER), and its process sounds a tone burst per pad note heard from Tandem's
// sources. The sound system knows it only once it has sounded. While a press holds the STUTTER of its
// Perform page it repeats its last eighth of a beat.
class SimKoala final : public SimApplication,
                       public SimAccessible,
                       public SimProcessSound,
                       public SimWindowPainter {
public:
    // Accessibility elements of the application.
    static constexpr uint32_t mainWindow = 1, smallWindow = 2, fullScreenButton = 3;

    struct Options {
        std::filesystem::path location = "/Applications/koala.app";
        std::optional<std::string> version = "2.0.11";
        double launchDelay = 1.0; // opened → finished launching
        double windowDelay = 0.3; // finished launching → windows on screen
        double quitDelay = 0.2;   // accepted quit → gone
        double fullScreenTransition = 0.5;
        Size windowSize{1100, 720}; // placed centred on the main screen
        bool writesSettingsOnFirstRun = true;
        bool refusesQuit = false;
        double saveDialogSeconds = 0; // an accepted quit waits this long in a save dialog first
        bool refusesMove = false;
        bool rejectsFullScreenAttribute = false; // only its full-screen button works
        bool windowsUnreadable = false;          // "AXWindows" cannot be read
        bool windowsMistyped = false;            // "AXWindows" is not a list of elements
        bool sizeUnreadable = false;             // "AXSize" cannot be read
        bool sizeMistyped = false;               // "AXSize" is not a size
        double saveDelay = 1.0;                  // seconds without a song change before it saves
        bool startKeepsEnd = true; // moving START keeps the end; false: keeps the length (older Koalas)
    };

    using Song = SimKoalaSong;
    using Settings = SimKoalaSettings;
    using SampleShape = SimKoalaSample;

    // A note Koala sounded.
    struct Played {
        int pad = 0;             // 0-63
        int note = 0;            // the MIDI note that played it
        std::optional<int> chop; // 1-based chop of a chopper played from the keyboard
        int velocity = 0;
        double time = 0; // the clock's uptime
        std::string source; // the name of the MIDI source it came from ("Tandem", "Tandem Push", …)
        bool operator==(const Played&) const = default;
    };

    SimKoala(SimWorkspace& workspace, SimWindowServer& windows, SimAccessibility& accessibility,
             SimScreens& screens, SimPointer& pointer, SimMidiSystem& midi, Clock& clock,
             std::shared_ptr<Queue> queue);
    ~SimKoala() override;

    Options options;

    // State for tests.
    std::optional<int32_t> processIdentifier();
    bool running();
    std::optional<Rect> windowBounds(); // the main window, display coordinates
    bool fullScreen();
    int launches();
    int quitRequests();
    int shownBank(); // 0-3, the bank its pad page shows
    bool mixerOpen();
    std::string page(); // "sample", "sequence", "perform" or "settings"
    bool keyboardOn();
    struct Click {
        Point at;
        std::string hit; // "bank A" … "bank D", "mixer", "tab sample" …, "keyboard", or ""
        bool operator==(const Click&) const = default;
    };
    std::vector<Click> clicks();
    // Every "AXPosition" asked of its main window, taken or not.
    std::vector<Point> positionRequests();

    // The song. `seed` makes `song` the current state and writes all five files at once (dated by
    // the virtual clock), forgetting the undo history and any pending save; a fresh Koala holds
    // `Song::standard()` and writes nothing until its song changes.
    void seed(Song song);
    Song song();
    std::optional<double> frames(int64_t sampleID);
    // Writes the files whose content changed now; `holdSaves(true)` keeps it from saving until
    // released (a change meanwhile is saved a quiet `saveDelay` after the release).
    void saveNow();
    void holdSaves(bool hold);
    // The files each save wrote, relative to the song folder; saves that found nothing to write and
    // seeds are not listed.
    std::vector<std::vector<std::string>> saves();
    // Settings as read at the last launch.
    Settings settings();
    std::vector<Played> played();
    // Every command address run, in order, and those that only touch Koala's screen.
    std::vector<std::string> commands();
    std::vector<std::string> uiLog();
    bool playing();
    bool recording();
    // Beats since the transport started (0 when stopped).
    double transportBeat();

    // Samples. Koala keeps each one as "sampler/<id>.wav" in the song folder, written with libsndfile
    // and dated by the virtual clock. `loadSample` writes a new sample (id: one past the largest the
    // song knows), puts it into the song with its length, loads it onto `pad` (a fresh pad: start 0, end
    // the sample's length) and saves at once; nothing when the file cannot be written.
    // `rewriteSample` writes new audio into the same file (its file number stays); `replaceSample`
    // writes a new file and renames it over the old one (a new file number). Both give the sample its
    // new length, cap the starts and ends of the pads that play it at that length (dropping slices past
    // it) and save; false when the song has no such sample or the file cannot be written. No undo step.
    std::optional<int64_t> loadSample(int pad, const SampleShape& shape, const std::string& name = {});
    bool rewriteSample(int64_t sampleID, const SampleShape& shape);
    bool replaceSample(int64_t sampleID, const SampleShape& shape);
    static std::filesystem::path samplePath(int64_t sampleID);

    // Called on Koala's queue, never with its lock held, with the folder it just wrote into: the song
    // folder after every seed or save that wrote song files, its "sampler" folder after every sample
    // written or replaced. Set it before Koala writes anything.
    std::function<void(const std::filesystem::path& folder)> onFolderChanged;

    // Its sound: a burst of `burstSeconds` per pad note, at `burstFrequency(pad)`, peaking at half
    // scale × velocity / 127 and fading linearly.
    static constexpr double burstSeconds = 0.2;
    static double burstFrequency(int pad);
    // Its STUTTER control, in display coordinates, while its Perform page shows; and whether a press
    // holds it now.
    std::optional<Point> stutterPoint();
    bool stutterHeld();

    // SimProcessSound
    bool sounded(int32_t process) override;
    void render(int32_t process, SampleBuffer& buffer) override;
    // SimWindowPainter
    std::optional<VideoFrame> windowPicture(uint32_t window, int width, int height) override;

    // SimApplication
    std::string bundleIdentifier() const override { return "com.elf-audio.koala-mac"; }
    std::string name() const override { return "Koala"; }
    std::filesystem::path location() const override { return options.location; }
    std::optional<std::string> version() const override { return options.version; }
    double launchDelay() const override { return options.launchDelay; }
    void launched(int32_t processIdentifier) override;
    bool quitRequested(int32_t processIdentifier) override;
    void activated(int32_t processIdentifier) override;
    void exited(int32_t processIdentifier) override;

    // SimAccessible
    std::optional<AXValue> attribute(uint32_t element, const std::string& name) override;
    bool setAttribute(uint32_t element, const std::string& name, const AXValue& value) override;
    bool performAction(uint32_t element, const std::string& action) override;

private:
    void openWindows(int32_t process);
    void beginFullScreen(bool enter);
    void clicked(const PointerEvent& event);
    bool onStutter(Point location);
    double soundAt(const std::vector<Played>& notes, double time) const;

    // The MIDI and song side; all with the lock held.
    struct Hold {
        int64_t pad = 0;
        std::optional<int64_t> slice;
        double pitch = 0;
        double velocity = 0;
        double beat = 0; // transport beat of the press
        int64_t sequence = 0;
        bool recorded = false;
    };
    using HoldKey = std::tuple<int, int, int>; // channel, 0 note / 1 controller, number
    void startMidi();
    void stopMidi();
    void connectSources();
    void received(const MidiPacketList& list, MidiEndpointRef source);
    void message(const SimMidiMessage& message);
    void release(const HoldKey& key);
    void command(const std::string& address, int value, bool pressed, const HoldKey& key);
    bool buttonCommand(const std::string& address);
    void playPad(int pad, int note, std::optional<int> chop, double pitch, int velocity, bool select,
                 const HoldKey& key);
    void land(const Hold& hold, double endBeat);
    void finishHolds();
    void setPlaying(bool on);
    void setRecording(bool on);
    double beatNow() const;
    void reanchor();
    void tick(uint64_t transport);
    void sendClock(uint8_t byte);
    void pushUndo();
    void songChanged();
    void save();
    bool writeSample(int64_t sampleID, const SampleShape& shape, bool inPlace);
    void resized(int64_t sampleID, double length);
    void folderChanged(const std::filesystem::path& folder);

    SimWorkspace& workspace;
    SimWindowServer& windows;
    SimAccessibility& accessibility;
    SimScreens& screens;
    SimPointer& pointer;
    SimMidiSystem& midi;
    Clock& clock;
    std::shared_ptr<Queue> queue;
    int sink = 0;
    // Delayed steps and MIDI handlers hold this weakly, so none outlives Koala.
    std::shared_ptr<int> life = std::make_shared<int>(0);

    std::recursive_mutex lock;
    std::optional<int32_t> process;
    uint64_t run = 0; // guards delayed steps of an earlier run
    uint32_t mainNumber = 0, smallNumber = 0, menuNumber = 0;
    bool isFullScreen = false;
    bool transitioning = false;
    Rect savedBounds;
    int launchCount = 0;
    int quitCount = 0;
    int bank = 0;
    bool mixer = false;
    std::string currentPage = "sample";
    std::vector<Click> clickLog;
    std::vector<Point> positions;
    // STUTTER presses as (start, end) uptimes; the end is infinite while held.
    std::vector<std::pair<double, double>> stutters;

    Song current = Song::standard();
    Settings launchSettings;
    MidiClientRef client = 0;
    MidiPortRef inPort = 0, outPort = 0;
    std::vector<MidiEndpointRef> connected;
    std::string hearing; // the source of the packet list being played
    std::map<HoldKey, Hold> holds;
    std::vector<Played> playedLog;
    std::vector<std::string> commandLog, uiCommands;
    std::vector<Song> undoStack, redoStack;
    std::vector<double> taps;
    // Transport: the beat at `anchorTime`, moving at the current tempo.
    bool isPlaying = false, isRecording = false, passRecorded = false;
    double recordFrom = 0, anchorTime = 0, anchorBeat = 0, nextTick = 0;
    uint64_t transportRun = 0;
    // Saving: every change bumps the revision; a save runs when it has not moved for `saveDelay`.
    uint64_t songRevision = 0;
    bool dirty = false, savesHeld = false;
    std::vector<std::vector<std::string>> saveLog;
};

} // namespace tandem
