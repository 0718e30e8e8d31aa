#include "tandem/webcam/WebcamOverlayPainter.h"

#include "tandem/looks/KoalaLook.h"

#include <QColor>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace tandem {

namespace {

namespace Look = KoalaLook;

QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

// Per sRGB component, alpha included.
QColor blend(const QColor& from, const QColor& to, double t) {
    auto mix = [t](float a, float b) { return a + (b - a) * static_cast<float>(t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()), mix(from.alphaF(), to.alphaF()));
}

// x / 255 for x up to 255 × 255 in each 16-bit lane, rounded as QPainter rounds it.
uint32_t byteMul(uint32_t word, uint32_t factor) {
    constexpr uint32_t lanes = 0x00FF00FF;
    uint32_t low = (word & lanes) * factor + 0x00800080;
    low = ((low + ((low >> 8) & lanes)) >> 8) & lanes;
    uint32_t high = ((word >> 8) & lanes) * factor + 0x00800080;
    high = ((high + ((high >> 8) & lanes)) >> 8) & lanes;
    return low | (high << 8);
}

// An upright rectangle with fractional edges filled over the premultiplied card, each pixel covered by
// the rectangle's share of its area, as QPainter's antialiasing covers it. Done here rather than with
// QPainter: its raster engine hands any fill of more than about a hundred spans (a bar of the wave is
// one) to its thread pool and waits, which costs more than the fill.
void fillArea(QImage& card, const QRectF& rect, const QColor& colour) {
    const QRectF cut = rect & QRectF(card.rect());
    if (!(cut.width() > 0) || !(cut.height() > 0)) return;
    const uint32_t premultiplied = qPremultiply(colour.rgba());
    const int left = int(std::floor(cut.left())), right = int(std::ceil(cut.right()));
    const int top = int(std::floor(cut.top())), bottom = int(std::ceil(cut.bottom()));
    auto share = [](double from, double to, int pixel) {
        return std::max(0.0, std::min(to, pixel + 1.0) - std::max(from, double(pixel)));
    };
    std::vector<double> across(size_t(right - left));
    for (int x = left; x < right; ++x)
        across[size_t(x - left)] = share(cut.left(), cut.right(), x) * 255;
    for (int y = top; y < bottom; ++y) {
        const double down = share(cut.top(), cut.bottom(), y);
        auto* line = reinterpret_cast<uint32_t*>(card.scanLine(y)) + left;
        for (size_t x = 0; x < across.size(); ++x) {
            const auto coverage = uint32_t(down * across[x] + 0.5);
            const uint32_t source = coverage >= 255 ? premultiplied : byteMul(premultiplied, coverage);
            line[x] = source + byteMul(line[x], 255 - (source >> 24));
        }
    }
}

void fill(QPainter& painter, const QRectF& rect, double radius, const QColor& colour) {
    if (!(rect.width() > 0) || !(rect.height() > 0)) return;
    if (radius <= 0) {
        // The painter draws on the card, a premultiplied image of its own.
        fillArea(*static_cast<QImage*>(painter.device()), rect, colour);
        return;
    }
    const double r = std::min(radius, std::min(rect.width(), rect.height()) / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(rect, r, r);
}

double finite(double value, double otherwise = 0) {
    return std::isfinite(value) ? value : otherwise;
}

// The bars of a sample's envelope in `area` (y down), the pad's region (or the chop's slice) bright and
// the rest dimmed, with the play line while the hit sounds.
void drawWave(QPainter& painter, const QRectF& area, const KoalaWave& wave, std::optional<int> slice,
              const std::optional<KoalaPerformanceFeed::Hit>& hit, double now) {
    const int n = std::max(static_cast<int>(area.width() / 3), 1);
    double lo = finite(wave.start), hi = std::max(lo, finite(wave.end, 1));
    if (slice && !wave.slices.empty()) {
        std::vector<double> bounds;
        bounds.reserve(wave.slices.size() + 2);
        bounds.push_back(wave.start);
        bounds.insert(bounds.end(), wave.slices.begin(), wave.slices.end());
        bounds.push_back(wave.end);
        const int spans = std::max(static_cast<int>(bounds.size()), 2) - 1;
        const int j = ((*slice % spans) + spans) % spans;
        if (static_cast<size_t>(j + 1) < bounds.size()) {
            lo = bounds[size_t(j)];
            hi = bounds[size_t(j) + 1];
        }
    }
    const size_t length = wave.peaks.size();
    std::vector<QRectF> bright, dim;
    bright.reserve(size_t(n));
    const double barWidth = std::max(area.width() / n - 1, 1.0);
    for (int i = 0; i < n; ++i) {
        const double f = double(i) / n;
        double value = 0;
        if (length > 0) {
            const size_t index = std::min(length - 1, static_cast<size_t>(f * double(length)));
            value = std::clamp(finite(wave.peaks[index]), 0.0, 1.0);
        }
        const double height = std::max(area.height() * value, 2.0);
        const QRectF bar(area.left() + area.width() * i / n, area.center().y() - height / 2, barWidth,
                         height);
        (f < lo || f > hi ? dim : bright).push_back(bar);
    }
    for (const QRectF& bar : bright)
        fill(painter, bar, 0, Look::blue);
    const QColor dimmed = withAlpha(Look::blue, 0.3);
    for (const QRectF& bar : dim)
        fill(painter, bar, 0, dimmed);

    if (hit && wave.duration > 0 && std::isfinite(wave.duration)) {
        const double position = lo + (now - hit->time) / wave.duration;
        if (position <= hi)
            fill(painter, QRectF(area.left() + position * area.width() - 1.5, area.top(), 3, area.height()),
                 0, Look::pink);
    }
}

} // namespace

WebcamOverlayPainter::WebcamOverlayPainter(Services services)
    : services(std::move(services))
    , disk(this->services.disk ? *this->services.disk : FileSystem::local()) {
    // Koala's font is looked up on the GUI thread, where its caches live; the card draws on the compose
    // queue with these copies. Both card shapes' sizes: 200 and 250 pixels high.
    for (double unit : {1.0, 1.25})
        for (double size : {64.0, 26.0, 18.0, 16.0})
            fonts.emplace(std::max(1, static_cast<int>(std::lround(size * unit))), Look::font(size * unit));
}

double WebcamOverlayPainter::tempo() const {
    std::lock_guard guard(lock);
    return bpm;
}

std::optional<WebcamOverlayPainter::PadInfo> WebcamOverlayPainter::info() const {
    std::lock_guard guard(lock);
    return padInfo;
}

std::optional<double> WebcamOverlayPainter::requested() const {
    std::lock_guard guard(lock);
    return requestedTime;
}

size_t WebcamOverlayPainter::cachedEnvelopes() {
    return services.loader->syncValue([this] { return audio.size(); });
}

WebcamOverlayPainter::Title WebcamOverlayPainter::title(const std::optional<Hit>& hit) {
    if (!hit) return {"–", "PLAY A PAD"};
    if (hit->keys) {
        static const std::array<const char*, 12> names = {"C",  "C#", "D",  "D#", "E",  "F",
                                                          "F#", "G",  "G#", "A",  "A#", "B"};
        const int note = hit->note;
        return {std::string(names[size_t(((note % 12) + 12) % 12)]) + std::to_string(note / 12 - 2), "KEY"};
    }
    if (hit->chop) return {std::to_string(hit->pad + 1), "CHOP"};
    const int bank = std::clamp(hit->pad / 16, 0, 3);
    return {std::string(1, char('A' + bank)) + std::to_string(hit->pad % 16 + 1), "PAD"};
}

WebcamOverlayPainter::Card WebcamOverlayPainter::card(const Snapshot& feed,
                                                      const std::optional<PadInfo>& info, double level,
                                                      double now) {
    Card card;
    const Title named = title(feed.lastHit);
    card.big = named.big;
    card.kind = named.kind;
    if (!feed.lastHit) {
        card.name = "Tandem";
    } else {
        const Hit& hit = *feed.lastHit;
        card.name = info && info->hit.time == hit.time ? info->name : " ";
        card.glow = feed.held.count(hit.note) ? 1.0 : std::max(0.0, 1 - (now - hit.time) / glowSeconds);
    }
    if (info) {
        card.wave = info->wave;
        card.slice = info->slice;
        card.waveHit = info->hit;
    }
    card.stutter = feed.fx.count("STUTTER") || feed.manualStutter || feed.touchStutter;
    card.cutter = feed.fx.count("CUTTER") > 0;
    card.level = level;
    card.now = now;
    return card;
}

QSize WebcamOverlayPainter::cardSize(bool vertical, QSize frame) {
    if (vertical) return {frame.width() - 2 * static_cast<int>(frame.width() * 0.025), 250};
    return {680, 200};
}

QPoint WebcamOverlayPainter::position(QSize frame, QSize card, QPointF at) {
    auto place = [](int length, int cardLength, double fraction) {
        const double wanted = finite(double(length) * fraction);
        const int from = static_cast<int>(std::clamp(wanted, -1e9, 1e9));
        return std::max(std::min(from, length - cardLength), 0);
    };
    const int x = place(frame.width(), card.width(), at.x());
    const int fromBottom = place(frame.height(), card.height(), at.y());
    // The card point counts up from the bottom; image rows count down from the top.
    return {x, frame.height() - fromBottom - card.height()};
}

void WebcamOverlayPainter::composite(QImage& frame, const Overlay& overlay) {
    QPainter painter(&frame);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(overlay.at, overlay.card);
}

std::optional<WebcamOverlayPainter::Overlay> WebcamOverlayPainter::picture(const Snapshot& feed, double level,
                                                                           double now, bool vertical,
                                                                           QSize frameSize, QPointF at) {
    std::optional<PadInfo> copied;
    std::optional<std::pair<Hit, std::shared_ptr<KoalaWaveformReadToken>>> load;
    {
        std::lock_guard guard(lock);
        // Asked for here rather than on the loader, so that each hit is queued once and a newer hit
        // stops the read in flight at once.
        if (feed.lastHit && requestedTime != feed.lastHit->time) {
            requestedTime = feed.lastHit->time;
            if (token) token->stop();
            token = std::make_shared<KoalaWaveformReadToken>();
            load.emplace(*feed.lastHit, token);
        }
        copied = padInfo;
    }
    if (load) {
        std::weak_ptr<WebcamOverlayPainter> weak = weak_from_this();
        services.loader->async([weak, hit = load->first, token = load->second] {
            if (auto self = weak.lock()) self->load(hit, token);
        });
    }

    const QSize size = cardSize(vertical, frameSize);
    std::optional<QImage> drawn = draw(card(feed, copied, level, now), size);
    if (!drawn) return std::nullopt;
    return Overlay{std::move(*drawn), position(frameSize, size, at)};
}

void WebcamOverlayPainter::load(const Hit& hit, const std::shared_ptr<KoalaWaveformReadToken>& token) {
    if (token->isStopped()) return;
    const double now = services.clock.uptime();
    if (!session || !sessionRead || now - *sessionRead > songAge) {
        if (auto read = KoalaSession::readSaved(services.song, {}, services.settings, disk)) {
            session = std::move(*read);
        } else if (!session) {
            session = KoalaSession();
        }
        sessionRead = now;
    }

    std::optional<int64_t> padIndex;
    if (hit.chop || hit.keys) {
        padIndex = session->selectedPad;
    } else {
        padIndex = hit.pad;
    }
    PadInfo found{hit, "", std::nullopt, hit.chop ? std::optional<int>(hit.pad) : std::nullopt};
    const KoalaSession::Pad* pad = nullptr;
    if (padIndex) {
        if (auto entry = session->pads.find(static_cast<int>(*padIndex)); entry != session->pads.end())
            pad = &entry->second;
    }
    if (pad) {
        found.name = pad->label;
        if (pad->sampleID) {
            const auto file = services.song / "sampler" / (std::to_string(*pad->sampleID) + ".wav");
            if (auto signature = KoalaAudioSignature::of(file, disk)) {
                std::optional<KoalaWaveformAudio> envelope;
                if (auto cached = audio.find(*signature); cached != audio.end()) {
                    envelope = cached->second;
                } else {
                    envelope = services.read ? services.read(*signature, *token)
                                             : KoalaWaveformReader::read(*signature, *token, disk);
                    if (envelope) {
                        if (audio.size() + 1 > cacheLimit) audio.clear();
                        audio.emplace(*signature, *envelope);
                    }
                }
                if (envelope) found.wave = wave(*envelope, *pad);
            }
        }
    }

    std::lock_guard guard(lock);
    // A newer hit has stopped this one: what it found is no longer wanted.
    if (token->isStopped()) return;
    padInfo = std::move(found);
    if (session->bpm && *session->bpm > 20 && std::isfinite(*session->bpm)) bpm = *session->bpm;
}

QFont WebcamOverlayPainter::fontAt(double size) {
    const int pixels = std::max(1, static_cast<int>(std::lround(size)));
    auto found = fonts.find(pixels);
    if (found == fonts.end()) found = fonts.emplace(pixels, Look::font(size)).first;
    return found->second;
}

const WebcamOverlayPainter::Text& WebcamOverlayPainter::text(const std::string& string, double size) {
    QFont font = fontAt(size);
    const auto key = std::make_pair(string, font.pixelSize());
    if (auto found = texts.find(key); found != texts.end()) return found->second;
    // Names come and go with the pads played; only the recent ones are kept.
    if (texts.size() >= 128) texts.clear();
    const QString shown = QString::fromStdString(string);
    const QFontMetricsF metrics(font);
    Text laid;
    laid.text = shown;
    // The outline's bounds are the ink itself; the font metrics' tight rectangle reaches down to the
    // baseline for a dash, which would centre it 6 pixels too high.
    QPainterPath outline;
    outline.addText(0, 0, font, shown);
    laid.ink = outline.isEmpty() ? metrics.tightBoundingRect(shown) : outline.boundingRect();
    laid.advance = metrics.horizontalAdvance(shown);
    laid.ascent = metrics.ascent();
    laid.descent = metrics.descent();
    return texts.emplace(key, std::move(laid)).first->second;
}

std::string WebcamOverlayPainter::cut(const std::string& string, double size, double width) {
    const auto key = std::make_tuple(string, fontAt(size).pixelSize(), std::llround(width * 64));
    if (auto found = cuts.find(key); found != cuts.end()) return found->second;
    if (cuts.size() >= 128) cuts.clear();
    std::string result = string;
    if (text(string, size).advance > width) {
        // The longest start of the name (whole characters) that fits with the ellipsis after it.
        const std::u32string whole = QString::fromStdString(string).toStdU32String();
        auto with = [&](size_t count) {
            return QString::fromStdU32String(whole.substr(0, count)).toStdString() + "…";
        };
        size_t low = 0, high = whole.size();
        while (low < high) {
            const size_t middle = (low + high + 1) / 2;
            if (text(with(middle), size).advance <= width) {
                low = middle;
            } else {
                high = middle - 1;
            }
        }
        result = with(low);
    }
    return cuts.emplace(key, result).first->second;
}

void WebcamOverlayPainter::drawText(QPainter& painter, const Text& laid, QPointF baseline,
                                    const QColor& colour) {
    if (laid.text.isEmpty()) return;
    painter.setPen(colour);
    // Drawn at its baseline, where the ink bounds were measured from.
    painter.drawText(baseline, laid.text);
}

std::optional<QImage> WebcamOverlayPainter::draw(const Card& card, QSize size) {
    if (size.width() <= 0 || size.height() <= 0) return std::nullopt;
    // The card last handed out is drawn over again once nobody holds it any more.
    if (canvas.size() != size || !canvas.isDetached()) {
        canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
        if (canvas.isNull()) return std::nullopt;
    }

    // The card is laid out with y up from its bottom-left corner; `at` and `y` turn that into rows.
    const double W = size.width(), H = size.height();
    const double u = H / 200, m = 18 * u, s = H - 2 * m;
    auto at = [H](double x, double y, double w, double h) { return QRectF(x, H - y - h, w, h); };
    auto y = [H](double up) { return H - up; };

    // The card's plate and its badge change only with the size and the glow: drawn once for them, then
    // copied under each drawing. (Filling the large rounded shapes each time would also hand them to
    // QPainter's thread pool.)
    const QColor badge = blend(withAlpha(Look::blue, 0.35), Look::pink, card.glow);
    if (plate.size() != size || plateBadge != badge.rgba()) {
        plate = QImage(size, QImage::Format_ARGB32_Premultiplied);
        if (plate.isNull()) return std::nullopt;
        plate.fill(Qt::transparent);
        QPainter painter(&plate);
        painter.setRenderHint(QPainter::Antialiasing);
        fill(painter, at(0, 0, W, H), 22 * u, withAlpha(Look::background, 0.86));
        fill(painter, at(m, m, s, s), 16 * u, badge);
        plateBadge = badge.rgba();
    }
    std::memcpy(canvas.bits(), plate.constBits(), size_t(plate.sizeInBytes()));

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // Ink, not line boxes, is centred: a dash or a short name sits where the eye expects it.
    auto centred = [&](const std::string& string, double fontSize, double x, double yUp,
                       const QColor& colour) {
        if (string.empty()) return;
        painter.setFont(fontAt(fontSize));
        const Text& laid = text(string, fontSize);
        const QPointF centre = laid.ink.center();
        drawText(painter, laid, QPointF(x - centre.x(), y(yUp) - centre.y()), colour);
    };
    centred(card.big, 64 * u, m + s / 2, m + s / 2 + 10 * u, Look::foreground);
    centred(card.kind, 18 * u, m + s / 2, m + 22 * u, withAlpha(Look::foreground, 0.8));

    const double x0 = m + s + m, wr = W - m - x0;
    if (!card.name.empty() && wr > 0) {
        const std::string shown = cut(card.name, 26 * u, wr);
        painter.setFont(fontAt(26 * u));
        const Text& laid = text(shown, 26 * u);
        // The line stands on H - m - 26u.
        drawText(painter, laid, QPointF(x0, y(H - m - 26 * u) - laid.descent), Look::foreground);
    }

    const QRectF area = at(x0, m + 42 * u, wr, s - 78 * u);
    if (card.wave && wr > 0) {
        drawWave(painter, area, *card.wave, card.slice, card.waveHit, card.now);
    } else {
        fill(painter, at(x0, m + 42 * u + (s - 78 * u) / 2 - u, wr, 2 * u), 0, withAlpha(Look::blue, 0.25));
    }

    double chipX = x0;
    auto chip = [&](const std::string& label, const QColor& colour) {
        const Text& laid = text(label, 16 * u);
        fill(painter, at(chipX, m + 12 * u, 20 * u + laid.advance, 26 * u), 8 * u, colour);
        painter.setFont(fontAt(16 * u));
        // Like the name line, the inset point is the bottom of the text's line box.
        drawText(painter, laid, QPointF(chipX + 10 * u, y(m + 12 * u + 7 * u) - laid.descent),
                 Look::foreground);
        chipX += 20 * u + laid.advance;
    };
    if (card.stutter) {
        chip("STUTTER", Look::pink);
        chipX += 8 * u;
    }
    if (card.cutter && !(chipX > W - m - 60 * u)) chip("CUTTER", Look::blue);

    fill(painter, at(x0, m, wr, 5 * u), 0, withAlpha(Look::foreground, 0.12));
    const double level = std::clamp(finite(card.level), 0.0, 1.0);
    fill(painter, at(x0, m, wr * level, 5 * u), 0, Look::blue);
    painter.end();
    return canvas;
}

} // namespace tandem
