#include "tandem/push/PushKoalaBridge.h"

#include "base/ActivityLog.h"
#include "base/Paths.h"
#include "platform/MidiPacketList.h"
#include "tandem/profiles/KoalaMap.h"
#include "tandem/profiles/KoalaPushProfile.h"

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

constexpr double renderPeriod = 0.05;
constexpr double performancePeriod = 0.005;
constexpr double filePeriod = 0.15;
constexpr double keepAlive = 0.5;     // the display blanks without a frame for a while
constexpr double waveRetry = 0.3;     // the shown pad's failed read
constexpr double preloadRetry = 1.0;  // a failed preload
constexpr double rescanPeriod = 2.0;  // preload candidates
constexpr size_t cacheLimit = 128;    // envelopes, and sample lengths

constexpr size_t framePixels = 960 * 160;

std::string milliseconds(double seconds) {
    return std::to_string(int64_t(std::llround(seconds * 1000.0)));
}

using LengthCache = std::unordered_map<KoalaAudioSignature, double, KoalaAudioSignatureHash>;

// A sample's length in frames for the song reader: from the cache while the file is the same, else
// from the file. Snapshot queue only.
std::optional<double> sampleLength(int64_t sampleID, LengthCache& lengths, FileSystem& disk) {
    auto signature = KoalaAudioSignature::of(KoalaWaveformReader::samplePath(sampleID), disk);
    if (!signature) return std::nullopt;
    if (auto known = lengths.find(*signature); known != lengths.end()) return known->second;
    auto length = KoalaWaveformReader::length(signature->path);
    if (!length) return std::nullopt;
    std::erase_if(lengths, [&](const auto& entry) { return entry.first.path == signature->path; });
    if (lengths.size() >= cacheLimit) lengths.clear();
    lengths[*signature] = *length;
    return length;
}


} // namespace

std::shared_ptr<PushKoalaBridge> PushKoalaBridge::create(Services services) {
    return std::shared_ptr<PushKoalaBridge>(new PushKoalaBridge(std::move(services)));
}

PushKoalaBridge::PushKoalaBridge(Services services)
    : services(std::move(services))
    , disk(this->services.disk ? *this->services.disk : FileSystem::local())
    , feed(this->services.feed ? *this->services.feed : KoalaPerformanceFeed::shared())
    , push(Push2Device::create(this->services.midi, this->services.clock, this->services.usb, this->services.main,
                               this->services.display)) {
    if (!this->services.decode) {
        this->services.decode = [](const KoalaAudioSignature& signature, KoalaWaveformReadToken& token,
                                   FileSystem& disk) { return KoalaWaveformReader::read(signature, token, disk); };
    }
}

PushKoalaBridge::~PushKoalaBridge() {
    stop();
}

double PushKoalaBridge::now() const {
    return services.clock.uptime();
}

void PushKoalaBridge::log(const std::string& line) {
    ActivityLog::write(line);
}

void PushKoalaBridge::status(const std::string& text) {
    if (onStatus) onStatus(text);
}

// ---- Start and stop -------------------------------------------------------------------------------

Result<void> PushKoalaBridge::start() {
    if (running) {
        if (push->connected() && onReady) onReady();
        return {};
    }
    ++generation;
    auto failed = [this](MidiStatus code) {
        if (destination) services.midi.endpointDispose(destination);
        if (source) services.midi.endpointDispose(source);
        if (client) services.midi.clientDispose(client);
        client = source = destination = 0;
        return Error{errorDomain, code, "Push MIDI setup failed (" + std::to_string(code) + ")"};
    };
    if (MidiStatus code = services.midi.clientCreate("Tandem Push", nullptr, &client)) {
        client = 0;
        return failed(code);
    }
    if (MidiStatus code = services.midi.sourceCreate(client, "Tandem Push", &source)) {
        source = 0;
        return failed(code);
    }
    // The MIDI system's thread: flatten the packets and hop to the main queue with this run's
    // generation, so a late packet of an earlier run is dropped.
    auto clockInput = [weak = weak_from_this(), main = services.main, g = generation](const MidiPacketList& list,
                                                                                      void*) {
        std::vector<uint8_t> bytes;
        list.forEach([&](const MidiPacketList::Packet& packet) {
            bytes.insert(bytes.end(), packet.data.begin(), packet.data.end());
        });
        if (bytes.empty()) return;
        main->async([weak, g, bytes = std::move(bytes)] {
            auto self = weak.lock();
            if (self && self->generation == g) self->receiveClock(bytes);
        });
    };
    if (MidiStatus code = services.midi.destinationCreate(client, "Tandem Push", clockInput, &destination)) {
        destination = 0;
        return failed(code);
    }

    running = true;
    // Each start is a new session: its first connection is reported even when the Push stayed plugged
    // in across a stop, or a restarted path would never open Koala.
    readyDelivered = false;
    std::weak_ptr<PushKoalaBridge> weak = weak_from_this();
    control = std::make_unique<KoalaController>(
        KoalaController::Services{services.clock, services.defaults,
                                  KoalaController::trimBehaviorKeyFor(services.workspace)},
        [weak](std::span<const uint8_t> bytes) {
            if (auto self = weak.lock()) self->publish(bytes);
        });
    control->onQuit = [weak] {
        auto self = weak.lock();
        if (self && self->onQuit) self->onQuit();
    };
    control->onChooseController = [weak] {
        auto self = weak.lock();
        if (self && self->onChooseController) self->onChooseController();
    };
    push->onEvent = [weak](const Push2Event& event) {
        if (auto self = weak.lock()) self->deviceEvent(event);
    };
    push->onConnectionChanged = [weak](bool connected) {
        if (auto self = weak.lock()) self->connectionChanged(connected);
    };
    push->onDisplayStateChanged = [weak](const std::string& text) {
        auto self = weak.lock();
        if (self && self->running) self->status(text);
    };

    if (services.preview) {
        services.preview->open(previewTitle);
        services.preview->show(KoalaView{});
        previewOpen = true;
    }

    updateFolderWatches();
    refreshSnapshot(true);
    push->start();
    renderTimer = services.main->timer(renderPeriod, renderPeriod, [weak] {
        if (auto self = weak.lock()) self->tickRender();
    });
    performanceTimer = services.main->timer(performancePeriod, performancePeriod, [weak] {
        auto self = weak.lock();
        if (self && self->running && self->control) self->control->tick();
    });
    fileTimer = services.main->timer(filePeriod, filePeriod, [weak] {
        if (auto self = weak.lock()) self->tickFiles();
    });
    if (!push->connected()) status(waitingText);
    return {};
}

void PushKoalaBridge::stop() {
    if (!running && !client) return;
    running = false;
    controlsReady = false;
    ++generation;
    snapshotPending = false;
    stamps.clear();
    clockPosition.clear();
    cancelWaveRead();
    waveSignature.reset();
    wavePad.reset();
    waveFailure.reset();
    waveCache.clear();
    if (preloadToken) preloadToken->stop();
    preloadToken.reset();
    preloadFailures.clear();
    waveSelectionBegan.reset();
    preloadCandidates.clear();
    preloadReported.clear();
    preloadNeedsScan = true;
    lastPreloadScan = -10;
    folderWatches.clear(); // each watch waits for its last event on the way out
    renderTimer.reset();
    performanceTimer.reset();
    fileTimer.reset();
    if (control) control->releaseAll();
    control.reset();
    push->onEvent = nullptr;
    push->onConnectionChanged = nullptr;
    push->onDisplayStateChanged = nullptr;
    push->stop();
    if (source) services.midi.endpointDispose(source);
    if (destination) services.midi.endpointDispose(destination);
    if (client) services.midi.clientDispose(client);
    client = source = destination = 0;
    if (services.preview && previewOpen) services.preview->close();
    previewOpen = false;
    shownView.reset();
}

// ---- MIDI -----------------------------------------------------------------------------------------

void PushKoalaBridge::publish(std::span<const uint8_t> bytes) {
    if (!source || bytes.empty()) return;
    std::vector<uint8_t> buffer(std::max<size_t>(bytes.size() + 64, 1024), 0);
    MidiPacketListBuilder list(buffer);
    if (list.add(0, bytes)) services.midi.received(source, list.list());
    feed.observe(bytes);
}

void PushKoalaBridge::receiveClock(const std::vector<uint8_t>& bytes) {
    if (!running) return;
    for (uint8_t byte : bytes) {
        if (byte >= 0xF8) {
            if (control) control->clock(byte, {}, now());
        } else if (byte == 0xF2) {
            clockPosition = {0xF2};
        } else if (byte >= 0x80) {
            clockPosition.clear();
        } else if (!clockPosition.empty()) {
            clockPosition.push_back(byte);
            if (clockPosition.size() == 3) {
                // The pointer counts sixteenth notes, six clocks each.
                if (control) control->ticks = (int64_t(clockPosition[1]) + 128 * int64_t(clockPosition[2])) * 6;
                clockPosition.clear();
            }
        }
    }
}

// ---- The device -----------------------------------------------------------------------------------

void PushKoalaBridge::deviceEvent(const Push2Event& event) {
    if (!running || !controlsReady || !control) return;
    const int before = control->waveformPad();
    control->handle(event);
    if (control && control->waveformPad() != before) waveSelectionBegan = now();
    refresh();
}

void PushKoalaBridge::connectionChanged(bool connected) {
    if (!running) return;
    if (!connected) {
        if (control) control->releaseAll();
        readyDelivered = false;
    }
    status(connected ? connectedText : waitingText);
    if (connected && !readyDelivered) {
        readyDelivered = true;
        if (onReady) onReady();
    }
    shownView.reset(); // a full redraw for the new connection
    refresh();
}

void PushKoalaBridge::tickRender() {
    if (!running) return;
    refresh();
    if (push->isRunning() && now() - push->lastSent() > keepAlive) push->pump();
}

void PushKoalaBridge::tickFiles() {
    if (!running) return;
    updateFolderWatches();
    refreshSnapshot(false);
    refreshWave(true);
    preloadNextWave();
}

void PushKoalaBridge::refresh() {
    if (!running || !control) return;
    refreshWave(false);
    const auto colors = control->padColors();
    for (int p = 0; p < 64; ++p)
        push->setPad(p, colors[size_t(p)]);
    for (const auto& [cc, value] : control->buttonLights())
        push->setButton(cc, value);
    KoalaView view = control->view();
    if (!push->connected()) {
        view.status = "PUSH 2 DISCONNECTED";
        view.message = "CONNECT USB AND POWER";
    }
    if (shownView && *shownView == view) return;
    shownView = view;
    if (services.preview && previewOpen) services.preview->show(view);
    std::vector<uint16_t> frame = drawing.pixels(view);
    if (frame.size() == framePixels) push->submit(std::move(frame));
}

// ---- The saved song -------------------------------------------------------------------------------

PushKoalaBridge::Stamps PushKoalaBridge::stamp() {
    Stamps dates;
    const std::filesystem::path folder = Paths::koalaSong();
    for (const std::string& name : KoalaSession::files()) {
        const std::filesystem::path path = folder / name;
        if (auto attributes = disk.attributes(path)) dates[path.string()] = attributes->modified;
    }
    return dates;
}

void PushKoalaBridge::refreshSnapshot(bool force) {
    if (!running || snapshotPending) return;
    Stamps before = stamp();
    if (!force && before == stamps) return;
    snapshotPending = true;
    std::optional<uint64_t> selection, trims;
    uint64_t commands = 0;
    if (control) {
        selection = control->selectionRevision;
        trims = control->trimRevision;
        commands = control->commandRevision;
    }
    services.snapshots->async([weak = weak_from_this(), main = services.main, g = generation, &disk = disk,
                               lengths = audioLengths, before = std::move(before), selection, trims, commands] {
        auto frames = [&](int64_t sampleID) { return sampleLength(sampleID, *lengths, disk); };
        std::optional<KoalaSession> song =
            KoalaSession::readSaved(Paths::koalaSong(), frames, Paths::koalaSettings(), disk);
        Stamps after;
        for (const std::string& name : KoalaSession::files()) {
            const std::filesystem::path path = Paths::koalaSong() / name;
            if (auto attributes = disk.attributes(path)) after[path.string()] = attributes->modified;
        }
        main->async([weak, g, song = std::move(song), before, after = std::move(after), selection, trims,
                     commands]() mutable {
            if (auto self = weak.lock())
                self->snapshotRead(g, std::move(song), std::move(before), std::move(after), selection, trims,
                                   commands);
        });
    });
}

void PushKoalaBridge::snapshotRead(uint64_t g, std::optional<KoalaSession> song, Stamps before, Stamps after,
                                   std::optional<uint64_t> selection, std::optional<uint64_t> trims,
                                   uint64_t commands) {
    if (!running || g != generation) return;
    snapshotPending = false;
    if (!song) return; // unreadable: the next file tick tries again, the stamps being unchanged
    const Stamps current = stamp();
    if (before != after || after != current) {
        refreshSnapshot(true); // a file changed during the read
        return;
    }
    stamps = after;
    if (control) {
        const std::filesystem::path folder = Paths::koalaSong();
        std::optional<KoalaController::Date> samplerSaved;
        std::map<std::string, KoalaController::Date> savedDates;
        for (const std::string& name : KoalaSession::files()) {
            auto found = after.find((folder / name).string());
            if (found == after.end()) continue;
            savedDates[name] = found->second;
            if (name == "sampler/sampler.json") samplerSaved = found->second;
        }
        const bool acceptSelection = selection && control->selectionRevision == *selection;
        control->setSession(*song, acceptSelection, samplerSaved, trims, savedDates, commands);
    }
    preloadNeedsScan = true;
    refreshWave(true);
    refresh();
    preloadNextWave();
}

void PushKoalaBridge::prepareForKoalaLaunch() {
    if (control) {
        // Read on the snapshot queue, where the sample lengths live, and wait for it.
        auto song = services.snapshots->syncValue([&disk = disk, lengths = audioLengths] {
            auto frames = [&](int64_t sampleID) { return sampleLength(sampleID, *lengths, disk); };
            return KoalaSession::readSaved(Paths::koalaSong(), frames, Paths::koalaSettings(), disk);
        });
        control->setSession(song.value_or(KoalaSession{}), true, std::nullopt, std::nullopt, {}, 0);
        const auto keyboard = KoalaPushProfile::keyboardSettings(Paths::koalaSettings());
        control->keyboardChannel = int(std::clamp<int64_t>(keyboard.channel, 1, 16));
        control->keyboardOffset = int(std::clamp<int64_t>(keyboard.offset, 0, 127));
        control->padsSelectInKoala = KoalaPushProfile::canSelectPads(Paths::koalaSettings());
    }
    controlsReady = KoalaPushProfile::settingsMatch(KoalaPushProfile::Mode::push2);
    refresh();
}

// ---- The shown pad's waveform ---------------------------------------------------------------------

void PushKoalaBridge::cancelWaveRead() {
    if (waveToken) waveToken->stop();
    waveToken.reset();
    waveRequested.reset();
    waveRequestedPad.reset();
}

void PushKoalaBridge::refreshWave(bool checkFile) {
    if (!running || !control) return;
    if (control->page != KoalaController::Page::pad) {
        cancelWaveRead();
        return;
    }
    const int pad = control->waveformPad();
    const KoalaSession::Pad info = control->padInfo(pad);
    if (!info.sampleID) {
        cancelWaveRead();
        waveSignature.reset();
        wavePad = pad;
        control->wave.reset();
        return;
    }
    const std::string path = KoalaWaveformReader::samplePath(*info.sampleID).string();
    // Every 50 ms the last signature serves; the file itself is looked at every 0.15 s.
    if (checkFile || wavePad != pad || !waveSignature || waveSignature->path != path) {
        waveSignature = KoalaAudioSignature::of(path, disk);
        wavePad = pad;
    }
    if (!waveSignature) {
        cancelWaveRead();
        control->wave.reset();
        return;
    }
    const KoalaAudioSignature signature = *waveSignature;
    const bool requested = waveRequested == signature && waveRequestedPad == pad;
    if (!requested) cancelWaveRead();
    if (auto cached = waveCache.find(signature); cached != waveCache.end()) {
        control->updateWave(cached->second, pad);
        if (waveSelectionBegan) {
            log("Push pad " + KoalaController::padID(pad) + " waveform from cache: " +
                milliseconds(now() - *waveSelectionBegan) + " ms");
            waveSelectionBegan.reset();
        }
        return;
    }
    control->wave.reset();
    if (requested) return; // already being read
    if (waveFailure && waveFailure->signature == signature && now() < waveFailure->until) return;

    // The shown pad comes first: stop both reads in flight. The preload's own completion clears it.
    if (waveToken) waveToken->stop();
    if (preloadToken) preloadToken->stop();
    Token token = std::make_shared<KoalaWaveformReadToken>();
    waveToken = token;
    waveRequested = signature;
    waveRequestedPad = pad;
    const double began = now();
    services.waveforms->async([weak = weak_from_this(), main = services.main, g = generation, token, signature,
                               pad, sampleID = info.sampleID, began, &disk = disk, decode = services.decode] {
        auto audio = decode(signature, *token, disk);
        main->async([weak, g, token, signature, pad, sampleID, began, audio = std::move(audio)]() mutable {
            if (auto self = weak.lock()) self->waveRead(g, token, signature, pad, sampleID, began, std::move(audio));
        });
    });
}

void PushKoalaBridge::waveRead(uint64_t g, Token token, KoalaAudioSignature signature, int pad,
                               std::optional<int64_t> sampleID, double began,
                               std::optional<KoalaWaveformAudio> audio) {
    if (!running || g != generation || waveToken != token) return;
    waveToken.reset();
    waveRequested.reset();
    waveRequestedPad.reset();
    if (!audio) {
        waveFailure = Failure{signature, now() + waveRetry};
        return;
    }
    cacheWave(*audio);
    waveFailure.reset();
    log("Push waveform ready: " + std::to_string(int64_t(audio->frames)) + " frames, " +
        milliseconds(now() - began) + " ms; cached");
    if (control && control->waveformPad() == pad && control->padInfo(pad).sampleID == sampleID) {
        refreshWave(true);
        refresh();
        preloadNextWave();
    }
}

void PushKoalaBridge::cacheWave(const KoalaWaveformAudio& audio) {
    std::erase_if(waveCache, [&](const auto& entry) { return entry.first.path == audio.signature.path; });
    if (waveCache.size() >= cacheLimit) waveCache.clear();
    waveCache[audio.signature] = audio;
}

// ---- Preloading the song's other samples ---------------------------------------------------------

void PushKoalaBridge::preloadNextWave() {
    if (!running || !control || preloadToken || waveToken) return;
    const double at = now();
    std::erase_if(preloadFailures, [&](const auto& entry) { return entry.second <= at; });
    if (preloadNeedsScan || at - lastPreloadScan > rescanPeriod) {
        std::vector<int64_t> ids;
        for (const auto& [k, pad] : control->session.pads) {
            if (pad.sampleID) ids.push_back(*pad.sampleID);
        }
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        preloadCandidates.clear();
        for (int64_t id : ids) {
            if (auto signature = KoalaAudioSignature::of(KoalaWaveformReader::samplePath(id), disk))
                preloadCandidates.push_back(*signature);
        }
        std::erase_if(waveCache, [&](const auto& entry) {
            return std::find(preloadCandidates.begin(), preloadCandidates.end(), entry.first) ==
                   preloadCandidates.end();
        });
        preloadNeedsScan = false;
        lastPreloadScan = at;
    }
    auto next = std::find_if(preloadCandidates.begin(), preloadCandidates.end(), [&](const auto& signature) {
        return !waveCache.count(signature) && !preloadFailures.count(signature);
    });
    if (next == preloadCandidates.end()) {
        const bool allCached = std::all_of(preloadCandidates.begin(), preloadCandidates.end(),
                                           [&](const auto& signature) { return waveCache.count(signature) > 0; });
        if (!preloadCandidates.empty() && preloadCandidates != preloadReported && allCached) {
            preloadReported = preloadCandidates;
            log("Push waveform cache warm: " + std::to_string(preloadCandidates.size()) + " saved samples ready");
        }
        return;
    }
    Token token = std::make_shared<KoalaWaveformReadToken>();
    preloadToken = token;
    services.waveforms->async(
        [weak = weak_from_this(), main = services.main, g = generation, token, signature = *next, &disk = disk,
         decode = services.decode] {
            auto audio = decode(signature, *token, disk);
            main->async([weak, g, token, signature, audio = std::move(audio)]() mutable {
                if (auto self = weak.lock()) self->preloaded(g, token, signature, std::move(audio));
            });
        });
}

void PushKoalaBridge::preloaded(uint64_t g, Token token, KoalaAudioSignature signature,
                                  std::optional<KoalaWaveformAudio> audio) {
    if (!running || g != generation || preloadToken != token) return;
    preloadToken.reset();
    if (!token->isStopped()) {
        auto fresh = KoalaAudioSignature::of(signature.path, disk);
        if (audio && fresh && *fresh == audio->signature) {
            cacheWave(*audio);
            refreshWave(false);
            refresh();
        } else {
            preloadFailures[signature] = now() + preloadRetry;
        }
    }
    preloadNextWave();
}

// ---- Folder watches -------------------------------------------------------------------------------

void PushKoalaBridge::updateFolderWatches() {
    if (!running) return;
    const std::filesystem::path song = Paths::koalaSong();
    for (const std::filesystem::path& folder : {song, song / "sampler"}) {
        const std::string key = folder.string();
        uint64_t inode = 0;
        bool known = false;
        if (disk.isDirectory(folder)) {
            if (auto attributes = disk.attributes(folder)) {
                inode = attributes->fileNumber;
                known = true;
            }
        }
        auto existing = folderWatches.find(key);
        if (existing != folderWatches.end() && known && existing->second.inode == inode) continue;
        if (existing != folderWatches.end()) folderWatches.erase(existing);
        if (!known) continue;
        auto watch = services.folders.watch(folder, services.main, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->folderChanged();
        });
        // A folder that vanished between the look and the watch is tried again at the next tick.
        if (watch) folderWatches[key] = Watch{inode, std::move(watch)};
    }
}

void PushKoalaBridge::folderChanged() {
    if (!running) return;
    preloadNeedsScan = true;
    refreshSnapshot(false);
    refreshWave(true);
    refresh();
    preloadNextWave();
}

} // namespace tandem
