#include "tandem/shell/qt/RenderJobs.h"

#include "base/SimTime.h"
#include "platform/sim/SimDefaults.h"
#include "tandem/integration/TandemOverlay.h"
#include "tandem/looks/TandemArtwork.h"
#include "tandem/looks/TandemCardArt.h"
#include "tandem/push/KoalaController.h"
#include "tandem/push/art/KoalaScreenArt.h"

#include <QString>

#include <cmath>
#include <system_error>

namespace tandem::RenderJobs {

namespace {

// The name a user knows a path by: its last part, even when written with a trailing slash.
std::string shownName(const std::filesystem::path& path) {
    std::filesystem::path trimmed = path;
    if (!trimmed.empty() && trimmed.filename().empty()) trimmed = trimmed.parent_path();
    std::string name = trimmed.filename().string();
    return name.empty() ? path.string() : name;
}

// Cocoa's "file write unknown" error, as a save that could not be made reads on a Mac.
Error notSaved(const std::filesystem::path& file) {
    return {"NSCocoaErrorDomain", 512, "The file “" + shownName(file) + "” couldn’t be saved."};
}

constexpr double sampleRate = 44100;
constexpr double breakFrames = 4 * sampleRate;
constexpr int breakSlices = 8;

// A four-second drum break: a hit every eighth of a bar at 94 bpm, the downbeats loudest, each dying
// away quickly with a ragged edge, over a low rumble. Computed, not decoded, so the preview is the same
// everywhere.
KoalaWaveformAudio breakWaveform() {
    KoalaWaveformAudio audio;
    audio.signature = {"/Koala/sampler/drum-break.wav", 0, static_cast<uint64_t>(breakFrames * 2), 0};
    audio.frames = breakFrames;
    audio.sampleRate = sampleRate;
    audio.peaks.resize(KoalaWaveformAudio::bucketCount);
    const double seconds = breakFrames / sampleRate;
    const double step = 60.0 / 94 / 2;
    for (size_t k = 0; k < audio.peaks.size(); ++k) {
        const double t = seconds * static_cast<double>(k) / static_cast<double>(audio.peaks.size());
        const int hit = static_cast<int>(std::floor(t / step));
        const double since = t - hit * step;
        const double loudness = hit % 4 == 0 ? 0.95 : hit % 2 == 0 ? 0.7 : 0.45 + 0.1 * std::sin(hit * 1.7);
        // A fixed hash stands in for the grain of real drums, so the envelope is not a smooth curve.
        const double grain = std::abs(std::sin(static_cast<double>(k) * 12.9898) * 43758.5453);
        const double jitter = 0.72 + 0.28 * (grain - std::floor(grain));
        const double body = loudness * std::exp(-since / 0.07) * jitter;
        const double rumble = (0.06 + 0.03 * std::sin(t * 23.0) * std::sin(t * 3.1)) * jitter;
        audio.peaks[k] = static_cast<float>(std::clamp(body + rumble, 0.0, 1.0));
    }
    return audio;
}

KoalaSession::Pad loadedPad(const std::string& label, int64_t sampleID, double frames) {
    KoalaSession::Pad pad;
    pad.loaded = true;
    pad.label = label;
    pad.sampleID = sampleID;
    pad.frames = frames;
    pad.end = frames;
    return pad;
}

// A small song as a musician might have it open: a chopped break on A1, a kit on the rest of bank A,
// a bass and a vocal on bank B, four sequences and a two-bar pattern in the first.
KoalaSession previewSession() {
    KoalaSession song;
    KoalaSession::Pad drumBreak = loadedPad("DRUM BREAK", 1, breakFrames);
    drumBreak.chopper = true;
    for (int i = 0; i < breakSlices; ++i)
        drumBreak.slices.push_back(breakFrames * i / breakSlices);
    drumBreak.start = breakFrames * 0.01;
    drumBreak.end = breakFrames * 0.985;
    drumBreak.vol = 0.8;
    song.pads[0] = drumBreak;

    const char* kit[] = {"KICK", "SNARE", "HAT CLOSED", "HAT OPEN", "CLAP", "RIM", "TOM LOW", "TOM HIGH"};
    for (int i = 0; i < 8; ++i) {
        KoalaSession::Pad pad = loadedPad(kit[i], 10 + i, 22050 + 2205.0 * i);
        pad.vol = 0.55 + 0.05 * i;
        pad.pan = 0.5 + (i % 3 - 1) * 0.2;
        pad.bus = i < 4 ? 0 : 1;
        song.pads[1 + i] = pad;
    }
    song.pads[26] = loadedPad("SUB BASS", 30, 88200);
    song.pads[29] = loadedPad("VOCAL CHOP", 31, 132300);
    song.pads[29].pitch = 2;
    song.pads[29].eqGain = {-2, 3, 1.5};
    song.pads[29].eqOn = true;

    song.bpm = 94;
    song.swing = 0.2;
    song.bars = {2, 1, 4, 1};
    song.notes.resize(song.bars.size());
    std::vector<KoalaSession::Note>& pattern = song.notes[0];
    auto note = [&](int64_t pad, double beat, double length, double velocity,
                    std::optional<int64_t> slice = {}) {
        pattern.push_back({pad, beat, length, 0, velocity, slice});
    };
    for (int beat = 0; beat < 8; ++beat) {
        note(1, beat + (beat % 4 == 3 ? 0.5 : 0.0), 0.25, 110);         // kick, pushed on the fourth beat
        if (beat % 2 == 1) note(2, beat, 0.25, 100);                    // snare
        if (beat % 4 == 3) note(5, beat + 0.25, 0.25, 80);              // clap flam
        note(3, beat, 0.125, 90);                                       // closed hat
        note(beat % 2 ? 4 : 3, beat + 0.5, beat % 2 ? 0.4 : 0.125, 60); // and its off-beat
    }
    for (int hit = 0; hit < 4; ++hit)
        note(hit < 2 ? 7 : 8, 7 + hit * 0.25, 0.2, 90); // a tom fill into the next pass
    for (int chop = 0; chop < 4; ++chop)
        note(0, chop * 2.0, 1.5, 100, int64_t(chop * 2));
    note(26, 0, 3.5, 100);
    note(26, 4, 2.5, 100);
    note(26, 6.5, 1.0, 90);
    note(29, 2, 1, 100);
    note(29, 5.5, 1.5, 100);
    song.sequence = 0;
    song.selectedPad = 0;
    for (size_t i = 0; i < song.fxValues.size(); ++i)
        song.fxValues[i] = 0.15 + 0.05 * static_cast<double>((i * 7) % 16);
    song.busVolume = {0.8, 0.7, 0.6, 0.75};
    song.mainVolume = 0.85;
    song.name = "PREVIEW";
    return song;
}

} // namespace

Result<void> writePng(const QImage& image, const std::filesystem::path& file) {
    if (image.isNull() || !image.save(QString::fromStdString(file.string()), "PNG")) return notSaved(file);
    return {};
}

Result<void> makeFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error))
        return Error{"NSCocoaErrorDomain", 512,
                     "The folder “" + shownName(folder) + "” couldn’t be created."};
    return {};
}

Result<void> renderCard(const std::filesystem::path& file) {
    return writePng(TandemCardArt::render(cardSize, cardStatus), file);
}

Result<void> renderIcons(const std::filesystem::path& folder) {
    if (auto made = makeFolder(folder); !made) return made;
    for (const TandemArtwork::IconSize& entry : TandemArtwork::iconSet) {
        const std::string name = "icon_" + std::string(entry.name) + ".png";
        if (auto written = writePng(TandemArtwork::icon(entry.pixels), folder / name); !written)
            return written;
    }
    return {};
}

Result<void> renderInstallerArt(const std::filesystem::path& folder) {
    if (auto made = makeFolder(folder); !made) return made;
    using TandemArtwork::Appearance;
    if (auto light =
            writePng(TandemArtwork::installerBackground(Appearance::light), folder / "background.png");
        !light)
        return light;
    return writePng(TandemArtwork::installerBackground(Appearance::dark), folder / "background-dark.png");
}

Result<void> renderControls(const std::filesystem::path& file) {
    return TandemOverlay::writePreview(file);
}

std::vector<PushPage> pushPages() {
    // The controller on a clock and defaults of its own: a preview touches nothing of the user's.
    SimTime time;
    SimDefaults defaults;
    KoalaController controller({time, defaults, "KoalaTrimStartKeepsEnd.preview"},
                               [](std::span<const uint8_t>) {});
    controller.setSession(previewSession(), true, std::nullopt, controller.trimRevision, {},
                          controller.commandRevision);
    controller.updateWave(breakWaveform(), controller.waveformPad());

    using Page = KoalaController::Page;
    using Mode = KoalaController::Keyboard::Mode;
    std::vector<PushPage> pages;
    auto take = [&](std::string file, Page page) {
        controller.page = page;
        pages.push_back({std::move(file), controller.view()});
    };
    take("push-pad.png", Page::pad);
    take("push-eq.png", Page::eq);
    take("push-fx.png", Page::fx);
    take("push-mixer.png", Page::mixer);
    take("push-sequence.png", Page::seq);
    controller.keyboard = {Mode::choosing, 0};
    take("push-keyboard.png", Page::pad);
    return pages;
}

Result<void> renderPush(const std::filesystem::path& folder) {
    if (auto made = makeFolder(folder); !made) return made;
    for (const PushPage& page : pushPages()) {
        if (auto written = writePng(KoalaScreenArt::render(page.view), folder / page.file); !written)
            return written;
    }
    return {};
}

} // namespace tandem::RenderJobs
