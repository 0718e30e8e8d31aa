#include "tandem/push/art/KoalaScreenArt.h"

#include "tandem/looks/KoalaLook.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QStaticText>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

namespace tandem::KoalaScreenArt {

namespace {

namespace Look = KoalaLook;

QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

std::optional<double> finiteLevel(const std::optional<double>& level) {
    if (!level || !std::isfinite(*level)) return std::nullopt;
    return std::clamp(*level, 0.0, 1.0);
}

// A cell with nothing to show is skipped whole: no box, no bar, no highlight.
bool blank(const KoalaView::Cell& cell) {
    return cell.name.empty() && cell.value.empty() && !finiteLevel(cell.level);
}

bool anyCell(const std::vector<KoalaView::Cell>& cells) {
    return std::any_of(cells.begin(), cells.end(), [](const KoalaView::Cell& cell) { return !blank(cell); });
}

template <typename T> bool holds(const std::set<T>& set, T value) {
    return set.find(value) != set.end();
}

// Rounded boxes of a few sizes and colours recur on every frame, and an antialiased rounded outline
// costs more than all its text; each is drawn once into a small image and stamped from then on. Only
// boxes on whole pixels are stamped, so a stamp is never resampled.
struct PillKey {
    int width, height, radius, line; // sizes in 1/8 pixels
    QRgb inside, edge;
    QImage::Format format;
    auto tied() const { return std::tie(width, height, radius, line, inside, edge, format); }
    bool operator<(const PillKey& other) const { return tied() < other.tied(); }
};

void paintPill(QPainter& painter, const QRectF& rect, double radius, const QColor& inside, const QColor& edge,
               double line) {
    if (inside.alpha() > 0) fill(painter, rect, radius, inside);
    if (edge.alpha() == 0 || !(line > 0)) return;
    const double inset = line / 2;
    const QRectF path = rect.adjusted(inset, inset, -inset, -inset);
    if (path.isEmpty()) return;
    const double r = std::clamp(radius - inset, 0.0, std::min(path.width(), path.height()) / 2);
    painter.save();
    painter.setPen(QPen(edge, line));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(path, r, r);
    painter.restore();
}

const QImage& pillStamp(const PillKey& key, const QSize& size, double radius, const QColor& inside,
                        const QColor& edge, double line) {
    static std::map<PillKey, QImage> stamps;
    if (auto found = stamps.find(key); found != stamps.end()) return found->second;
    if (stamps.size() >= 256) stamps.clear();
    QImage stamp(size, key.format);
    stamp.fill(Qt::transparent);
    QPainter painter(&stamp);
    painter.setRenderHint(QPainter::Antialiasing);
    paintPill(painter, QRectF(QPointF(0, 0), QSizeF(size)), radius, inside, edge, line);
    painter.end();
    return stamps.emplace(key, std::move(stamp)).first->second;
}

// One line of text laid out once: its glyphs placed, cut to its width, and measured.
struct Line {
    QStaticText text;
    double width = 0;
    double height = 0;
};

const Line& layOut(const QString& string, const QFont& font, double width, const QPaintDevice* device) {
    using Key = std::tuple<QString, QString, int, long long>;
    static std::map<Key, Line> lines;
    Key key{string, font.family(), font.pixelSize(), std::llround(width * 64)};
    if (auto found = lines.find(key); found != lines.end()) return found->second;
    // Status and message lines change all the time; a bounded cache keeps only the recent ones.
    if (lines.size() >= 512) lines.clear();
    const QFontMetricsF metrics(font, device);
    QString flat = string;
    for (QChar& c : flat)
        if (c == u'\n' || c == u'\r' || c == u'\t') c = u' ';
    Line line;
    line.text = QStaticText(metrics.elidedText(flat, Qt::ElideRight, width));
    line.text.setTextFormat(Qt::PlainText);
    line.text.setPerformanceHint(QStaticText::AggressiveCaching);
    line.text.prepare(QTransform(), font);
    line.width = metrics.horizontalAdvance(line.text.text());
    line.height = metrics.height();
    return lines.emplace(std::move(key), std::move(line)).first->second;
}

// The screen's units placed into the painter's frame; every drawing below goes through it, so the
// layout can be read in the screen's own bottom-up terms.
struct Canvas {
    QPainter& painter;
    QRectF frame;
    double sx = frame.width() / width;
    double sy = frame.height() / height;

    QRectF at(double x, double y, double w, double h) const { return place(frame, QRectF(x, y, w, h)); }
    QPointF point(double x, double y) const {
        return {frame.left() + x * sx, frame.top() + (height - y) * sy};
    }
    double length(double units) const { return units * std::min(sx, sy); }

    void fill(double x, double y, double w, double h, double radius, const QColor& colour) const {
        KoalaScreenArt::fill(painter, at(x, y, w, h), length(radius), colour);
    }
    // A rounded box filled with `inside` and bordered with `edge` (either may be transparent); the
    // border lies inside the box, so it never spills into the next column.
    void pill(double x, double y, double w, double h, double radius, const QColor& inside, const QColor& edge,
              double line) const {
        const QRectF rect = at(x, y, w, h);
        const QRect whole = rect.toRect();
        const QPaintDevice* device = painter.device();
        const QImage* image =
            device && device->devType() == QInternal::Image ? static_cast<const QImage*>(device) : nullptr;
        const bool aligned = image && QRectF(whole) == rect && painter.transform().isIdentity() &&
                             (image->format() == QImage::Format_RGBA8888_Premultiplied ||
                              image->format() == QImage::Format_ARGB32_Premultiplied);
        if (!aligned) {
            paintPill(painter, rect, length(radius), inside, edge, length(line));
            return;
        }
        auto eighths = [](double value) { return static_cast<int>(std::lround(value * 8)); };
        const PillKey key{whole.width(), whole.height(), eighths(length(radius)), eighths(length(line)),
                          inside.rgba(), edge.rgba(),    image->format()};
        painter.drawImage(whole.topLeft(),
                          pillStamp(key, whole.size(), length(radius), inside, edge, length(line)));
    }
    // A thin vertical rule centred on x, put on whole device pixels so that it stays crisp rather than
    // smeared over two columns at half strength.
    void rule(double x, double y, double w, double h, const QColor& colour) const {
        QRectF rect = at(x - w / 2, y, w, h);
        rect.moveLeft(std::round(rect.left()));
        rect.setWidth(std::max(1.0, std::round(rect.width())));
        KoalaScreenArt::fill(painter, rect, 0, colour);
    }
    void text(const std::string& string, double x, double y, double w, double h, double size,
              const QColor& colour, Align align) const {
        KoalaScreenArt::text(painter, string, at(x, y, w, h), size * sy, colour, align);
    }
};

void drawUpperRow(const Canvas& canvas, const KoalaView& view) {
    for (int i = 0; i < 8; ++i) {
        const std::string label = static_cast<size_t>(i) < view.upper.size() ? view.upper[i] : std::string();
        const bool on = holds(view.upperOn, i);
        if (label.empty() && !on) continue;
        const bool alt = holds(view.upperAlt, i);
        const double x = columnWidth * i + 4;
        const QColor inside = on ? Look::blue : alt ? withAlpha(Look::pink, 0.25) : QColor(Qt::transparent);
        const QColor edge = alt ? Look::pink : on ? QColor(Qt::transparent) : Look::grey;
        canvas.pill(x, 139, 112, 20, 10, inside, edge, alt ? 2 : 1);
        canvas.text(label, x, 138, 112, 20, 15, on ? Look::background : Look::foreground, Align::centre);
    }
}

void drawHeader(const Canvas& canvas, const KoalaView& view) {
    canvas.text(view.pad, 10, 108, 60, 30, 24, Look::bank(view.bank), Align::left);
    canvas.text(view.padName, 70, 110, 470, 26, 19, Look::foreground, Align::left);
    canvas.text(view.status, 540, 112, 410, 22, 16, Look::foreground, Align::right);
    canvas.text(view.mode, 10, 92, 610, 18, 13, Look::blue, Align::left);
    canvas.text(view.message, 625, 92, 325, 18, 13, Look::pink, Align::right);
}

void drawCells(const Canvas& canvas, const KoalaView& view) {
    const size_t count = std::min<size_t>(8, view.cells.size());
    for (size_t i = 0; i < count; ++i) {
        const KoalaView::Cell& cell = view.cells[i];
        if (blank(cell)) continue;
        const double x = columnWidth * static_cast<double>(i);
        if (cell.lit) canvas.fill(x + 2, 30, 116, 56, 4, Look::grey);
        canvas.text(cell.name, x + 8, 66, 104, 18, 13, cell.on ? Look::foreground : Look::muted, Align::left);
        canvas.text(cell.value, x + 8, 40, 104, 26, 20, Look::foreground, Align::left);
        std::optional<double> level = finiteLevel(cell.level);
        if (!level) continue;
        // On a lit cell the grey track would vanish into the grey highlight.
        canvas.fill(x + 8, 34, 104, 4, 0, cell.lit ? Look::background : Look::grey);
        if (cell.centred) {
            const double centre = x + 8 + 52, to = x + 8 + 104 * *level;
            // A centred bar at its centre would be empty; a 2-unit tick still shows where it sits.
            if (std::abs(to - centre) < 1) {
                canvas.fill(centre - 1, 34, 2, 4, 0, Look::blue);
            } else {
                canvas.fill(std::min(centre, to), 34, std::abs(to - centre), 4, 0, Look::blue);
            }
        } else {
            canvas.fill(x + 8, 34, 104 * *level, 4, 0, Look::blue);
        }
    }
}

void drawEffects(const Canvas& canvas, const KoalaView& view) {
    const std::vector<KoalaView::Cell>* rows[] = {&view.cells, &view.cellsTop};
    for (int row = 0; row < 2; ++row) {
        const std::vector<KoalaView::Cell>& cells = *rows[row];
        const size_t count = std::min<size_t>(8, cells.size());
        for (size_t i = 0; i < count; ++i) {
            const KoalaView::Cell& cell = cells[i];
            if (blank(cell)) continue;
            const double x = columnWidth * static_cast<double>(i) + 6, y = 30 + row * 28;
            canvas.pill(x, y, 108, 24, 5, cell.on ? Look::blue : QColor(Qt::transparent),
                        cell.lit ? Look::pink : QColor(Qt::transparent), 1.5);
            const QColor ink = cell.on ? Look::background : Look::foreground;
            const double nameWidth = cell.value.empty() ? 92 : 60;
            canvas.text(cell.name, x + 8, y + 6, nameWidth, 16, 12, ink, Align::left);
            canvas.text(cell.value, x + 8 + nameWidth, y + 6, 92 - nameWidth, 16, 12, ink, Align::right);
            if (std::optional<double> level = finiteLevel(cell.level)) {
                canvas.fill(x + 8, y + 3, 92, 2, 0, cell.on ? withAlpha(Look::background, 0.35) : Look::grey);
                canvas.fill(x + 8, y + 3, 92 * *level, 2, 0, cell.on ? Look::background : Look::blue);
            }
        }
    }
}

std::string caption(const KoalaWave& wave) {
    std::string text;
    char buffer[64];
    if (wave.duration > 0 && std::isfinite(wave.duration)) {
        const double whole = wave.duration;
        const double trimmed = whole * std::clamp(wave.end - wave.start, 0.0, 1.0);
        std::snprintf(buffer, sizeof buffer, "%.2f S", trimmed);
        text = buffer;
        if (std::abs(trimmed - whole) >= 0.005) {
            std::snprintf(buffer, sizeof buffer, " OF %.2f S", whole);
            text += buffer;
        }
    }
    if (!wave.slices.empty()) {
        if (!text.empty()) text += " · ";
        text += std::to_string(wave.slices.size()) + (wave.slices.size() == 1 ? " CHOP" : " CHOPS");
    }
    return text;
}

void drawWaveform(const Canvas& canvas, const KoalaView& view) {
    const KoalaWave& wave = *view.wave;
    constexpr double left = 8, bottom = 52, w = 944, h = 34, top = bottom + h;
    canvas.fill(left, bottom, w, h, 3, withAlpha(Look::bank(view.bank), 0.35));

    const double start = std::clamp(std::isfinite(wave.start) ? wave.start : 0.0, 0.0, 1.0);
    const double end = std::clamp(std::isfinite(wave.end) ? wave.end : 1.0, 0.0, 1.0);
    if (end > start)
        canvas.fill(left + w * start, bottom, w * (end - start), h, 3, withAlpha(Look::pink, 0.2));

    if (!wave.peaks.empty()) {
        // Each peak sits at the middle of its bucket; the first and last are carried to the panel's
        // edges so the line spans it whatever the bucket count.
        const size_t n = wave.peaks.size();
        auto level = [&](size_t k) {
            float peak = wave.peaks[k];
            return bottom + 1 +
                   (std::isfinite(peak) ? std::clamp(static_cast<double>(peak), 0.0, 1.0) : 0.0) * (h - 2);
        };
        std::vector<QPointF> points;
        points.reserve(n + 2);
        points.push_back(canvas.point(left, level(0)));
        for (size_t k = 0; k < n; ++k)
            points.push_back(
                canvas.point(left + w * (static_cast<double>(k) + 0.5) / static_cast<double>(n), level(k)));
        points.push_back(canvas.point(left + w, level(n - 1)));
        QPen pen(Look::foreground, canvas.length(1));
        pen.setJoinStyle(Qt::RoundJoin);
        canvas.painter.save();
        canvas.painter.setPen(pen);
        canvas.painter.drawPolyline(points.data(), static_cast<int>(points.size()));
        canvas.painter.restore();
    }

    const bool numbered = wave.slices.size() <= 32;
    for (size_t i = 0; i < wave.slices.size(); ++i) {
        const double slice = wave.slices[i];
        if (!std::isfinite(slice) || slice < 0 || slice > 1) continue;
        const double x = left + w * slice;
        canvas.rule(x, bottom, 1, h, Look::pink);
        if (numbered)
            canvas.text(std::to_string(i + 1), x + 2, top - 12, 22, 12, 9, Look::foreground, Align::left);
    }
    canvas.text(caption(wave), 610, 70, 340, 14, 10, Look::muted, Align::right);
}

void drawPattern(const Canvas& canvas, const KoalaView& view) {
    constexpr double left = 8, bottom = 32, w = 944, h = 52, right = left + w;
    canvas.fill(left, bottom, w, h, 3, withAlpha(Look::blue, 0.25));
    for (int i = 0; i <= 32; ++i)
        canvas.rule(left + w * i / 32, bottom, 1, h, Look::grey);

    const double beats = view.sequenceBeats;
    if (!(beats > 0) || !std::isfinite(beats)) return;
    if (view.notes) {
        std::vector<const KoalaSession::Note*> within;
        within.reserve(view.notes->size());
        for (const KoalaSession::Note& note : *view.notes) {
            if (note.beat >= 0 && note.beat < beats && std::isfinite(note.length) &&
                std::isfinite(note.pitch))
                within.push_back(&note);
        }
        // The piano roll spans the notes actually drawn, at least an octave, centred on them.
        double low = 0, high = 12;
        if (view.pianoRoll && !within.empty()) {
            auto [lowest, highest] = std::minmax_element(
                within.begin(), within.end(), [](auto* a, auto* b) { return a->pitch < b->pitch; });
            low = (*lowest)->pitch;
            high = (*highest)->pitch;
            if (high - low < 12) {
                const double middle = (low + high) / 2;
                low = middle - 6;
                high = middle + 6;
            }
        }
        // Sounding notes are drawn after the others, so they stay on top where notes overlap.
        std::vector<QRectF> sounding;
        for (const KoalaSession::Note* note : within) {
            const double x = left + w * note->beat / beats;
            const double length = std::max(3.0, w * std::max(note->length, 0.0) / beats);
            const double span = std::min(x + length, right) - x;
            if (span <= 0) continue;
            double y, barHeight;
            bool bright;
            if (view.pianoRoll) {
                barHeight = 3.5;
                y = bottom + (note->pitch - low) / (high - low) * (h - barHeight);
                bright = holds(view.activePitches, note->pitch);
            } else {
                const double row = static_cast<double>(((note->pad % 16) + 16) % 16), rowHeight = h / 16;
                barHeight = 2.5;
                y = bottom + row * rowHeight + (rowHeight - barHeight) / 2;
                bright = holds(view.activePads, static_cast<int>(note->pad));
            }
            const int bank = static_cast<int>(std::clamp<int64_t>(note->pad / 16, 0, 3));
            if (bright) {
                sounding.push_back(canvas.at(x, y, span, barHeight));
            } else {
                canvas.fill(x, y, span, barHeight, 0, Look::bank(bank));
            }
        }
        for (const QRectF& bar : sounding)
            fill(canvas.painter, bar, 0, Look::foreground);
    }
    if (view.playhead && std::isfinite(*view.playhead)) {
        const double x = left + w * std::clamp(*view.playhead / beats, 0.0, 1.0);
        // Koala's own clock shows in the accent; a local estimate in white.
        canvas.rule(std::clamp(x, left + 1, right - 1), bottom, 2, h,
                    view.clockLive ? Look::pink : Look::foreground);
    }
}

void drawLowerRow(const Canvas& canvas, const KoalaView& view) {
    const size_t count = std::min<size_t>(8, view.lower.size());
    for (size_t i = 0; i < count; ++i) {
        const std::string& label = view.lower[i];
        if (label.empty()) continue;
        const int index = static_cast<int>(i);
        const bool held = holds(view.lowerHeld, index), on = holds(view.lowerOn, index);
        const double x = columnWidth * static_cast<double>(i) + 4;
        QColor ink = holds(view.lowerDim, index) ? Look::muted : Look::foreground;
        if (held) ink = Look::background;
        const QColor inside = held ? Look::blue : on ? Look::grey : QColor(Qt::transparent);
        const QColor edge = held || on ? QColor(Qt::transparent) : withAlpha(Look::grey, 0.7);
        canvas.pill(x, 1, 112, 20, 10, inside, edge, 1);
        canvas.text(label, x, 0, 112, 20, 12, ink, Align::centre);
    }
}

} // namespace

QRectF place(const QRectF& frame, const QRectF& screen) {
    const double sx = frame.width() / width, sy = frame.height() / height;
    return {frame.left() + screen.x() * sx, frame.top() + (height - screen.y() - screen.height()) * sy,
            screen.width() * sx, screen.height() * sy};
}

void text(QPainter& painter, const std::string& string, const QRectF& rect, double size, const QColor& colour,
          Align align) {
    if (string.empty() || !(rect.width() > 0) || !(rect.height() > 0)) return;
    QFont font = KoalaLook::font(size);
    // The picture goes to another device than the monitor whose subpixel order fontconfig describes.
    font.setStyleStrategy(QFont::NoSubpixelAntialias);
    const Line& line = layOut(QString::fromStdString(string), font, rect.width(), painter.device());
    if (line.text.text().isEmpty()) return;
    const double left = align == Align::left    ? rect.left()
                        : align == Align::right ? rect.right() - line.width
                                                : rect.center().x() - line.width / 2;
    painter.save();
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawStaticText(QPointF(left, rect.center().y() - line.height / 2), line.text);
    painter.restore();
}

void fill(QPainter& painter, const QRectF& rect, double radius, const QColor& colour) {
    if (!(rect.width() > 0) || !(rect.height() > 0)) return;
    if (radius <= 0) {
        painter.fillRect(rect, colour);
        return;
    }
    const double r = std::min(radius, std::min(rect.width(), rect.height()) / 2);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(rect, r, r);
    painter.restore();
}

Middle middle(const KoalaView& view) {
    if (!view.big.empty()) return Middle::big;
    if (view.page == 2)
        return anyCell(view.cells) || anyCell(view.cellsTop) ? Middle::effects : Middle::nothing;
    if (view.page == 0 && view.wave) return Middle::waveform;
    if (view.page == 4 && view.notes) return Middle::pattern;
    return anyCell(view.cells) ? Middle::cells : Middle::nothing;
}

void draw(QPainter& painter, const KoalaView& view, const QRectF& frame) {
    painter.save();
    const Canvas canvas{painter, frame};
    // The ground is filled before antialiasing is on: Qt spreads large antialiased fills over its
    // thread pool, which costs more than the whole fill.
    painter.setRenderHint(QPainter::Antialiasing, false);
    canvas.fill(0, 0, width, height, 0, KoalaLook::background);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    drawUpperRow(canvas, view);
    drawHeader(canvas, view);
    canvas.fill(0, 88, width, 1, 0, KoalaLook::grey);
    canvas.fill(0, 25, width, 1, 0, KoalaLook::grey);

    const Middle shown = middle(view);
    switch (shown) {
    case Middle::big:
        canvas.text(view.big, 0, 50, width, 34, 28, KoalaLook::foreground, Align::centre);
        break;
    case Middle::cells:
        drawCells(canvas, view);
        break;
    case Middle::effects:
        drawEffects(canvas, view);
        break;
    case Middle::waveform:
        drawWaveform(canvas, view);
        break;
    case Middle::pattern:
        drawPattern(canvas, view);
        break;
    case Middle::nothing:
        break;
    }
    // The hint's line (y 30-48) is free unless cells or the pattern fill it.
    if (shown == Middle::nothing || shown == Middle::big || shown == Middle::waveform)
        canvas.text(view.hint, 0, 30, width, 18, 14, KoalaLook::muted, Align::centre);
    drawLowerRow(canvas, view);
    painter.restore();
}

QImage render(const KoalaView& view) {
    // Bytes R, G, B, A in memory, as push2_convert_rgba reads them; ARGB32 would swap red and blue.
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888_Premultiplied);
    QPainter painter(&image);
    draw(painter, view);
    painter.end();
    return image;
}

} // namespace tandem::KoalaScreenArt
