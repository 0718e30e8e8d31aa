#pragma once

#include "base/Clock.h"
#include "base/MidiMessage.h"
#include "platform/Defaults.h"
#include "platform/Workspace.h"
#include "tandem/audio/KoalaAudioSignature.h"
#include "tandem/integration/KoalaSession.h"
#include "tandem/profiles/KoalaKey.h"
#include "tandem/push/KoalaView.h"
#include "tandem/push/Push2Protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tandem {

// The logic that lets a musician play and edit Koala from a Push 2: every Push2Event comes in through
// `handle`, every MIDI message for Koala goes out through `send`. Koala answers nothing, so the
// controller predicts the effect of its own commands and reconciles them with the song Koala saves.
// Main queue only; no input or output beyond its callbacks, the log, the clock and the defaults.
class KoalaController {
public:
    // Wall-clock dates as files carry them: nanoseconds since 1970.
    using Date = int64_t;
    using Bytes = std::vector<uint8_t>;

    enum class Page { pad, eq, fx, mixer, seq };
    static constexpr int pageCount = 5;
    enum class KoalaPage { sample, sequence, perform };

    struct Keyboard {
        enum class Mode { off, on, choosing };
        Mode mode = Mode::off;
        int pad = 0; // the Koala pad it plays, when on
        bool operator==(const Keyboard&) const = default;
    };

    struct Knob {
        enum class Kind { steps, relative, decibels, semitones, level, bipolar, pan, hertz };
        std::string name;
        std::string address;
        Kind kind = Kind::level;
        std::vector<std::string> labels; // steps
        std::string up, down;            // relative
        double range = 0;                // decibels, semitones
    };

    enum class FXPress { turnedOn, selectedOnly, wasSelectedOn };
    enum class Transport { unknown, running, stopped };

    struct MacroPoint {
        double time = 0; // seconds from the start of capture
        std::array<uint8_t, 3> bytes{};
    };

    struct RecordedHold {
        KoalaSession::Note note; // beat and length filled in as the hold ends
        int sequence = 0;
        double started = 0; // transport beat
    };
    struct SequencePreview {
        int64_t bars = 1;
        std::vector<KoalaSession::Note> notes;
        bool recording = false;
        bool operator==(const SequencePreview&) const = default;
    };
    struct EditPreview {
        enum class Kind { pad, sequence };
        Kind kind = Kind::pad;
        int number = 0; // Koala pad or sequence
        KoalaSession::Pad pad;
        SequencePreview sequence;
    };
    struct StartGesture {
        double start = 0, end = 0; // frames when the gesture began
        double commandedStart = 0;
        bool eligible = false;
    };
    struct PendingTrim {
        int64_t sampleID = 0;
        double frames = 0;
        std::optional<KoalaAudioSignature> signature;
        double start = 0, end = 0; // predicted, in frames
        uint64_t revision = 0;
        Date sentAt = 0;
        double movedAt = 0;
        std::optional<Date> previousSave;
        std::optional<StartGesture> startGesture;
    };
    struct CommandStamp {
        uint64_t revision = 0;
        Date sentAt = 0;
        std::optional<Date> previousSave;
        double movedAt = 0;
        std::string file;
    };

    struct Services {
        Clock& clock;
        Defaults& defaults;
        // "KoalaTrimStartKeepsEnd." + Koala's version: where the learnt trim behaviour is kept.
        std::string trimBehaviorKey;
    };

    using Send = std::function<void(std::span<const uint8_t>)>;
    KoalaController(Services services, Send send);

    // "KoalaTrimStartKeepsEnd." + the version of the Koala the workspace finds (else the one at the
    // usual place); "unknown" when no version can be read.
    static std::string trimBehaviorKeyFor(Workspace& workspace,
                                          const std::filesystem::path& usual = "/Applications/koala.app");

    // Outputs and callbacks, all on the main queue.
    Send send;
    std::function<void()> onQuit;
    std::function<void()> onChooseController;
    Send sendLink; // Koala's feedback channel, when it has one
    bool link = false;

    // Koala's keyboard set-up, from its settings.
    int keyboardChannel = 16;
    int keyboardOffset = 36;
    bool padsSelectInKoala = false;

    void handle(const Push2Event& event);
    // Every 5 ms: reconciliation when something is due, note repeat, macro playback.
    void tick();
    // MIDI clock and transport bytes from Koala.
    void clock(uint8_t byte, std::span<const uint8_t> data, double at);
    // Releases everything held (Push disconnected, Stop Clip).
    void releaseAll();

    // A freshly read song (see the tracking rules in KoalaControllerTracking.cpp).
    void setSession(const KoalaSession& saved, bool acceptSelection, std::optional<Date> samplerSavedAt,
                    std::optional<uint64_t> readTrimRevision, const std::map<std::string, Date>& savedDates,
                    uint64_t readCommandRevision);

    // Commands and previews.
    void tap(const std::string& address, const std::string& label = "");
    void setPosition(const std::string& address, double value);
    void markCommand(const std::string& key);
    bool commandAcknowledged(const std::string& key) const;
    static std::string commandFile(const std::string& key);

    // Pure helpers.
    static int koalaPad(int pushPad);
    static std::string padID(int pad);
    static std::string noteName(int note);
    static int chopNote(int ordinal, int count);
    static int stepIndex(int count, double value);
    static const std::map<std::string, KoalaKey>& table();
    static const std::array<std::optional<Knob>, 8>& knobs(Page page);
    static const Knob& masterKnob();
    static const Knob& swingKnob();

    // What the Push shows (KoalaControllerView.cpp): all derived from the state below, none of it
    // changes anything.
    KoalaView view() const;
    std::array<uint8_t, 64> padColors() const;   // by Push pad index
    std::map<int, uint8_t> buttonLights() const; // CC → palette index or white level
    std::vector<std::string> lowerLabels() const;
    std::set<int> lowerOn() const;
    // The Koala pad whose waveform the display shows.
    int waveformPad() const;
    // A decoded envelope for `pad`'s sample; the view maps it onto the pad's trim at every call.
    void updateWave(const KoalaWaveformAudio& audio, int pad);
    std::string knobText(const Knob& knob) const;
    std::string currentMessage() const; // empty once it has expired
    KoalaSession::Pad padInfo(int pad) const;
    std::optional<double> bpm() const;
    bool playing() const;
    double transportBeat() const;
    int currentSequence() const;
    // The position a knob stands at: what was sent, else what the saved song says (none: unknown).
    std::optional<double> position(const std::string& address) const;
    std::optional<double> initialPosition(const std::string& address) const;

    // State, read by the bridge, the view and tests.
    KoalaSession session;
    bool sessionRead = false;
    std::map<std::string, Date> savedDates;
    Page page = Page::pad;
    int selected = 0;
    uint64_t selectionRevision = 0;
    int sequenceBank = 0;
    bool detailView = true;
    std::optional<int> touched;
    Keyboard keyboard;
    int octave = 0;
    int chopPage = 0;
    std::optional<int> chopCountOverride;
    bool fullLevel = false;
    bool repeatEnabled = false;
    bool shift = false;
    bool soloHeld = false;
    std::optional<int> auditionPad;
    std::optional<int> lastHit;
    std::optional<int> koalaBank;
    KoalaPage koalaPage = KoalaPage::sample;
    Transport transport = Transport::unknown;
    int64_t ticks = 0;
    bool localPlaying = false;
    bool localRecording = false;
    std::optional<bool> transportCommand;
    std::optional<double> localBPM;
    double recordingStartsAt = 0;
    std::optional<int> sequencePicked;
    std::map<int, SequencePreview> sequencePreviews;
    std::map<std::string, double> positions;
    std::map<std::string, int> lastSent;
    std::map<std::string, int> remainder;
    std::map<std::string, bool> flipped;
    std::map<int, int> fxOn;
    std::optional<int> fxSelected;
    std::map<int, double> fxAmount;
    std::set<int> fxDirty, ownedFX;
    std::vector<MacroPoint> macro;
    bool macroRecording = false;
    bool macroPlaying = false;
    std::map<int, MidiMessage> heldPads, heldPadOns; // Push pad → release / press
    std::map<int, MidiMessage> heldButtons;
    std::set<int> pressedButtons, lowerDown;
    uint64_t commandRevision = 0;
    std::map<std::string, CommandStamp> commandStamps;
    uint64_t readCommandRevision = 0;
    std::set<int> deletedPads;
    std::map<int, KoalaSession::Pad> restoredPads; // brought back by an undo Koala has not saved yet
    std::optional<EditPreview> undoPreview, redoPreview;
    std::optional<bool> pianoRollOverride;
    std::map<int, PendingTrim> pendingTrims;
    uint64_t trimRevision = 0;
    std::optional<Date> samplerSavedAt;
    uint64_t samplerReadTrimRevision = 0;
    std::string trimBehaviorKey;
    bool trimStartKeepsEnd = true;
    std::string message;
    double messageUntil = 0;
    std::optional<KoalaWaveformAudio> wave;
    std::optional<int> waveOwner;
    // Koala's own report of its pads and LEDs, when it has a feedback channel (link mode).
    std::map<int, int> padStates, leds;

private:
    struct FXHold {
        int fx = 0;
        double at = 0;
        FXPress kind = FXPress::turnedOn;
    };

    double now() const;
    Date date() const;
    void show(const std::string& text, double seconds = 2.5);
    void output(std::span<const uint8_t> bytes);
    void sendMessage(const MidiMessage& message);
    std::string memoryKey(const std::string& address) const;

    // Input (KoalaController.cpp).
    void padPressed(int pad, int velocity);
    void hold(int pad, const std::string& address, int velocity);
    void holdNote(int pad, int note, int velocity);
    void holdMessages(int pad, const MidiMessage& press, const MidiMessage& release);
    void releasePad(int pad);
    void encoder(int index, int delta);
    void encoderTouch(int index, bool down);
    void turn(const Knob& knob, int delta);
    void stripTouch(bool down);
    void strip(double value);
    void repeat();
    void setPlaying(bool on);
    void linkEdit(int parameter, int pad, int value);
    int chopCount(int pad) const;

    // Buttons, pages and modes (KoalaControllerButtons.cpp). Each button's action is data: a tap (a
    // second with Shift), a page with a touched encoder and a message, or an operation.
    struct ButtonAction {
        std::string address, label, shiftAddress, shiftLabel;
        std::optional<Page> page;
        std::optional<int> touched;
        std::string message;
        double seconds = 2.5;
        std::function<void(KoalaController&)> operation;
    };
    static const std::map<int, ButtonAction>& buttonTable();
    // The messages that move Koala's own screen to a page in link mode, by what it shows now.
    struct PageLink {
        std::vector<Bytes> messages;
        KoalaPage after;
    };
    static std::optional<PageLink> pageLink(Page target, KoalaPage from);
    void button(int cc, bool down);
    void show(Page target);
    void lower(int index, bool down);
    void scene(int index, bool down);
    void effectPressed(int cc, int fx);
    void effectReleased(int cc);
    int fxLevel(int fx) const;
    void fxSend(int fx, int amount);
    void keyboardPressed(bool sendToggle);
    void moveOctave(int direction);
    void movePage(int direction);
    void moveChopPage(int direction);
    void toggleRecord();
    void deletePressed();
    void toggleMacro();
    void macroTick();
    void flip(const std::string& address, const std::string& key, bool current, const std::string& label);
    bool flagState(const std::string& key) const;
    void padSwitch(int which, bool onEQPage);

    // Command tracking (KoalaControllerTracking.cpp).
    void reconcileCommands();
    void dropPrediction(const std::string& key);
    void previewCommand(const std::string& address);
    void recordTrim(const std::string& address, double value);
    void clearTrim(int pad);
    void reconcileTrims(double at);
    void beginRecording(int pad, int velocity);
    void finishRecording(int pad);
    void finishAllRecordings();
    void validateEditHistory(const KoalaSession& before, const KoalaSession& after);
    void scheduleReconcile(double at);
    SequencePreview& sequencePreview(int number);
    std::optional<bool> savedFlag(const std::string& key) const;

    Services services;
    double nextRepeat = 0;
    double lastTick = -1e9;
    std::vector<double> tickTimes;
    double localBeatStart = 0;
    double localBeatOffset = 0;
    std::vector<double> tempoTaps;
    std::map<int, RecordedHold> recordedHolds;
    std::map<int, FXHold> fxPress;
    bool stripHeld = false;
    std::optional<Knob> stripTarget;
    std::optional<double> stripAnchor;
    double stripStart = 0;
    bool applyingMacro = false;
    double macroStarted = 0;
    double macroLength = 0;
    size_t macroCursor = 0;
    int macroPad = 0;
    double quitArmedAt = -10;
    bool reconcileDue = false;
    double nextReconcileAt = 1e300;
};

} // namespace tandem
