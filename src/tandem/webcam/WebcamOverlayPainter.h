#pragma once

#include "base/Clock.h"
#include "base/FileSystem.h"
#include "base/Paths.h"
#include "base/Queue.h"
#include "tandem/audio/KoalaAudioSignature.h"
#include "tandem/audio/KoalaPerformanceFeed.h"
#include "tandem/audio/KoalaWaveform.h"
#include "tandem/integration/KoalaSession.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>

class QPainter;

namespace tandem {

// The webcam's overlay card: the last pad, chop or key played with its sample's waveform, the level and
// the effects that are on. `picture` runs on the compose queue; what the card shows of a hit (its pad's
// name and envelope, the song's tempo) is loaded on the loader queue, each newer hit stopping the read
// of the one before. Create it with std::make_shared, on the GUI thread (it takes its fonts there).
class WebcamOverlayPainter : public std::enable_shared_from_this<WebcamOverlayPainter> {
public:
    using Hit = KoalaPerformanceFeed::Hit;
    using Snapshot = KoalaPerformanceFeed::Snapshot;

    // What the loader found for one hit.
    struct PadInfo {
        Hit hit;
        std::string name;
        std::optional<KoalaWave> wave;
        std::optional<int> slice; // the chop's index, for a chop hit

        bool operator==(const PadInfo&) const = default;
    };

    // A card and where its top-left corner goes in the frame (y down, as QImage counts rows).
    struct Overlay {
        QImage card; // Format_ARGB32_Premultiplied
        QPoint at;
    };

    // Everything one drawing of the card shows.
    struct Card {
        std::string big;  // the title's big text, "–" before any hit
        std::string kind; // "PAD", "CHOP", "KEY", or "PLAY A PAD" before any hit
        std::string name; // the pad's name, "Tandem" before any hit, " " while loading
        double glow = 0;  // 1 while the hit's note is held, dying away 0.35 s after
        std::optional<KoalaWave> wave;
        std::optional<int> slice;
        std::optional<Hit> waveHit; // the hit the wave was loaded for: its play line
        bool stutter = false;
        bool cutter = false;
        double level = 0;
        double now = 0;

        bool operator==(const Card&) const = default;
    };

    struct Title {
        std::string big;
        std::string kind;
        bool operator==(const Title&) const = default;
    };

    using Read =
        std::function<std::optional<KoalaWaveformAudio>(const KoalaAudioSignature&, KoalaWaveformReadToken&)>;

    struct Services {
        Clock& clock;                  // ages the loader's copy of the song
        std::shared_ptr<Queue> loader; // serial, labelled `loaderLabel`
        std::filesystem::path song = Paths::koalaSong();
        std::filesystem::path settings = Paths::koalaSettings();
        FileSystem* disk = nullptr; // the local disk when none
        Read read;                  // KoalaWaveformReader::read when empty
    };

    static constexpr const char* loaderLabel = "Tandem webcam pads";
    static constexpr double songAge = 1.0;      // seconds a read of the song is used for
    static constexpr size_t cacheLimit = 24;    // envelopes kept
    static constexpr double glowSeconds = 0.35; // the highlight's fade after release
    static constexpr double startTempo = 120;   // until a song with a tempo has been read

    explicit WebcamOverlayPainter(Services services);
    WebcamOverlayPainter(const WebcamOverlayPainter&) = delete;
    WebcamOverlayPainter& operator=(const WebcamOverlayPainter&) = delete;

    // The card for this tick and where it goes, or nothing. `at` is the layout's card point: fractions
    // of the frame from its bottom-left corner. A hit not asked for yet is queued for loading.
    std::optional<Overlay> picture(const Snapshot& feed, double level, double now, bool vertical,
                                   QSize frameSize, QPointF at);

    // The song's tempo as last read (bpm above 20 only), 120 before.
    double tempo() const;
    std::optional<PadInfo> info() const;
    std::optional<double> requested() const;
    // How many envelopes the loader keeps (asked on the loader queue).
    size_t cachedEnvelopes();

    // The pure parts of the card.
    static Title title(const std::optional<Hit>& hit);
    static Card card(const Snapshot& feed, const std::optional<PadInfo>& info, double level, double now);
    static QSize cardSize(bool vertical, QSize frame);
    // The card's top-left corner in a y-down frame, kept inside the frame.
    static QPoint position(QSize frame, QSize card, QPointF at);
    // Draws the card over the frame.
    static void composite(QImage& frame, const Overlay& overlay);

    // The card drawn into a W × H picture; nothing for an empty size.
    std::optional<QImage> draw(const Card& card, QSize size);
    // `string` as a line of Koala's font at `size` pixels shows it within `width`: cut at the end with
    // "…" when it is too long.
    std::string cut(const std::string& string, double size, double width);

private:
    struct Text {
        QString text;
        QRectF ink; // ink bounds from the baseline's origin, y down
        double advance = 0;
        double ascent = 0;
        double descent = 0;
    };

    void load(const Hit& hit, const std::shared_ptr<KoalaWaveformReadToken>& token);
    QFont fontAt(double size);
    const Text& text(const std::string& string, double size);
    void drawText(QPainter& painter, const Text& text, QPointF baseline, const QColor& colour);

    Services services;
    FileSystem& disk;

    // Shared with the loader, under `lock`.
    mutable std::mutex lock;
    std::optional<PadInfo> padInfo;
    double bpm = startTempo;
    std::optional<double> requestedTime;
    std::shared_ptr<KoalaWaveformReadToken> token;

    // The loader's own.
    std::optional<KoalaSession> session;
    std::optional<double> sessionRead;
    std::unordered_map<KoalaAudioSignature, KoalaWaveformAudio, KoalaAudioSignatureHash> audio;

    // The compose queue's own: fonts taken on the GUI thread, laid-out texts and cut names.
    std::map<int, QFont> fonts;
    std::map<std::pair<std::string, int>, Text> texts;
    std::map<std::tuple<std::string, int, long long>, std::string> cuts;
    QImage canvas;
    QImage plate;        // the card's rounded plate and badge at the last size and glow drawn
    QRgb plateBadge = 0; // the badge's colour on `plate`
};

} // namespace tandem
