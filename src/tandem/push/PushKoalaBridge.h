#pragma once

#include "base/Clock.h"
#include "base/Error.h"
#include "base/FileSystem.h"
#include "base/Queue.h"
#include "platform/Defaults.h"
#include "platform/FolderWatcher.h"
#include "platform/Midi.h"
#include "platform/Usb.h"
#include "platform/Workspace.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/audio/KoalaWaveform.h"
#include "tandem/push/KoalaController.h"
#include "tandem/push/KoalaPushCanvas.h"
#include "tandem/push/Push2Device.h"
#include "tandem/push/PushPreview.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tandem {

// The Push 2 path's glue: owns the Push 2 device and the controller, publishes the controller's MIDI
// to Koala on the virtual source "Tandem Push", takes Koala's clock from the virtual destination of
// the same name, keeps the controller's picture of Koala's saved song current by watching Koala's
// files, decodes sample waveforms in the background (with a cache and a preloader), and draws the
// controller's view on the Push's display and in the preview window. Main queue only, except the
// song reads ("Tandem.Push.Snapshots") and the waveform decoding ("Tandem.Push.Waveforms"), which
// hand their results back by value with the generation they began in.
class PushKoalaBridge : public std::enable_shared_from_this<PushKoalaBridge> {
public:
    struct Services {
        MidiSystem& midi;
        Clock& clock;
        UsbHost& usb;
        Defaults& defaults;
        Workspace& workspace;
        FolderWatcher& folders;
        std::shared_ptr<Queue> main;
        std::shared_ptr<Queue> display;   // "Tandem Push 2 display"
        std::shared_ptr<Queue> snapshots; // "Tandem.Push.Snapshots"
        std::shared_ptr<Queue> waveforms; // "Tandem.Push.Waveforms"
        PushPreview* preview = nullptr;   // none: no window
        FileSystem* disk = nullptr;       // none: the local disk
        KoalaPerformanceFeed* feed = nullptr; // none: the shared feed
        // The waveform decoder, run on the waveforms queue; none: KoalaWaveformReader::read. Tests
        // wrap the real one to time and count the reads.
        std::function<std::optional<KoalaWaveformAudio>(const KoalaAudioSignature&, KoalaWaveformReadToken&,
                                                        FileSystem&)>
            decode;
    };

    static constexpr const char* errorDomain = "Tandem.Push";
    static constexpr const char* previewTitle = "Tandem · Push 2 · Saved song / local control view";
    static constexpr const char* waitingText = "Waiting for Push 2 · connect USB and power";
    static constexpr const char* connectedText = "Push 2 connected · preparing Koala";

    // Creates the device, the canvas and the preview view; starts nothing.
    static std::shared_ptr<PushKoalaBridge> create(Services services);
    ~PushKoalaBridge();

    // Callbacks, all on the main queue.
    std::function<void(const std::string&)> onStatus;
    std::function<void()> onReady; // once per connection of the Push
    std::function<void()> onChooseController;
    std::function<void()> onQuit;

    // Fails with "Push MIDI setup failed (<status>)" in "Tandem.Push" when the MIDI endpoints cannot
    // be made; the caller then stops the bridge.
    Result<void> start();
    void stop();
    // Koala is about to be shown: take its saved song and keyboard set-up, and let the controls
    // through once Koala's settings match the Push.
    void prepareForKoalaLaunch();

    // For the application, tests and benchmarks.
    bool isRunning() const { return running; }
    bool areControlsReady() const { return controlsReady; }
    KoalaController* controller() { return control.get(); }
    Push2Device& device() { return *push; }
    KoalaPushCanvas& canvas() { return drawing; }
    const std::optional<KoalaView>& lastView() const { return shownView; }
    size_t cachedWaves() const { return waveCache.size(); }
    bool isCached(const KoalaAudioSignature& signature) const { return waveCache.count(signature) > 0; }
    // The reads in flight: the shown pad's and the preload's (none: no such read).
    const KoalaWaveformReadToken* shownPadRead() const { return waveToken.get(); }
    const KoalaWaveformReadToken* preloadRead() const { return preloadToken.get(); }
    // One refresh: lights, view, and a new frame for the display when the view changed.
    void refresh();
    // MIDI from Koala's side, as the destination delivers it (main queue).
    void receiveClock(const std::vector<uint8_t>& bytes);

private:
    using Stamps = std::map<std::string, int64_t>;
    struct Failure {
        KoalaAudioSignature signature;
        double until = 0;
    };
    struct Watch {
        uint64_t inode = 0;
        std::unique_ptr<FolderWatch> watch;
    };
    using Token = std::shared_ptr<KoalaWaveformReadToken>;
    using LengthCache = std::unordered_map<KoalaAudioSignature, double, KoalaAudioSignatureHash>;

    explicit PushKoalaBridge(Services services);

    void publish(std::span<const uint8_t> bytes);
    void deviceEvent(const Push2Event& event);
    void connectionChanged(bool connected);
    void tickRender();
    void tickFiles();
    Stamps stamp();
    void refreshSnapshot(bool force);
    void snapshotRead(uint64_t generation, std::optional<KoalaSession> song, Stamps before, Stamps after,
                      std::optional<uint64_t> selection, std::optional<uint64_t> trims, uint64_t commands);
    void refreshWave(bool checkFile);
    void cancelWaveRead();
    void waveRead(uint64_t generation, Token token, KoalaAudioSignature signature, int pad,
                  std::optional<int64_t> sampleID, double began, std::optional<KoalaWaveformAudio> audio);
    void cacheWave(const KoalaWaveformAudio& audio);
    void preloadNextWave();
    void preloaded(uint64_t generation, Token token, KoalaAudioSignature signature,
                     std::optional<KoalaWaveformAudio> audio);
    void updateFolderWatches();
    void folderChanged();
    double now() const;
    void log(const std::string& line);
    void status(const std::string& text);

    Services services;
    FileSystem& disk;
    KoalaPerformanceFeed& feed;
    std::shared_ptr<Push2Device> push;
    KoalaPushCanvas drawing;

    MidiClientRef client = 0;
    MidiEndpointRef source = 0, destination = 0;
    std::unique_ptr<Timer> renderTimer, fileTimer, performanceTimer;
    std::unique_ptr<KoalaController> control;
    std::optional<KoalaView> shownView;
    bool running = false;
    bool readyDelivered = false;
    bool controlsReady = false;
    Stamps stamps;
    bool snapshotPending = false;
    uint64_t generation = 0;
    // Sample lengths for the song reader: touched on the snapshot queue only.
    std::shared_ptr<LengthCache> audioLengths = std::make_shared<LengthCache>();
    std::unordered_map<KoalaAudioSignature, KoalaWaveformAudio, KoalaAudioSignatureHash> waveCache;
    Token waveToken;
    std::optional<KoalaAudioSignature> waveRequested;
    std::optional<int> waveRequestedPad;
    std::optional<KoalaAudioSignature> waveSignature;
    std::optional<int> wavePad;
    std::optional<Failure> waveFailure;
    Token preloadToken;
    std::unordered_map<KoalaAudioSignature, double, KoalaAudioSignatureHash> preloadFailures;
    std::vector<KoalaAudioSignature> preloadCandidates;
    std::vector<KoalaAudioSignature> preloadReported;
    bool preloadNeedsScan = true;
    double lastPreloadScan = -10;
    std::map<std::string, Watch> folderWatches;
    std::optional<double> waveSelectionBegan;
    bool previewOpen = false;
    std::vector<uint8_t> clockPosition;
};

} // namespace tandem
