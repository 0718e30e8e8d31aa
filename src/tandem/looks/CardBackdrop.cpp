#include "tandem/looks/CardBackdrop.h"

#include "base/Paths.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPen>
#include <QSet>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tandem::CardBackdrop {

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

// The grid coordinates from `min` through `max`. Multiplying instead of accumulating keeps the error to
// one rounding, and a last line within a hair of the edge is put on it, so that 0 + 3 × 0.1 still
// rules the edge at 0.3.
std::vector<double> gridStops(double min, double max, double spacing) {
    std::vector<double> stops;
    double span = max - min;
    if (!(spacing > 0) || !(span >= 0) || !std::isfinite(span)) return stops;
    double tolerance = spacing * 1e-9;
    auto count = static_cast<long long>(std::floor((span + tolerance) / spacing));
    stops.reserve(static_cast<size_t>(count) + 1);
    for (long long k = 0; k <= count; ++k)
        stops.push_back(min + static_cast<double>(k) * spacing);
    if (std::abs(stops.back() - max) <= tolerance) stops.back() = max;
    return stops;
}

} // namespace

std::vector<std::pair<int, int>> grainPositions() {
    std::vector<std::pair<int, int>> positions;
    positions.reserve(grainSquareCount);
    uint64_t state = 0xE24B97D63A518C2FULL;
    for (int i = 0; i < grainSquareCount; ++i) {
        state = state * 6364136223846793005ULL + 1; // wraps modulo 2^64, as unsigned arithmetic does
        positions.emplace_back(static_cast<int>((state >> 24) & 0xff),
                               static_cast<int>((state >> 40) & 0xff));
    }
    return positions;
}

QImage makeGrainTexture() {
    QImage tile(grainTileSize, grainTileSize, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor grainInk = withAlpha(ink, grainAlpha);
    for (auto [x, y] : grainPositions())
        painter.fillRect(QRectF(x, y, grainSquareSize, grainSquareSize), grainInk);
    painter.end();
    return tile;
}

const QBrush& grain() {
    static const QBrush brush(makeGrainTexture());
    return brush;
}

QPainterPath gridPath(const QRectF& rect, double spacing) {
    QPainterPath path;
    QRectF r = rect.normalized();
    for (double x : gridStops(r.left(), r.right(), spacing)) {
        path.moveTo(x, r.top());
        path.lineTo(x, r.bottom());
    }
    for (double y : gridStops(r.top(), r.bottom(), spacing)) {
        path.moveTo(r.left(), y);
        path.lineTo(r.right(), y);
    }
    return path;
}

void background(QPainter& painter, const QRectF& rect, double spacing) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect, backdrop);
    // The grain starts at the rectangle's corner, so a card looks the same wherever it is drawn.
    QBrush texture = grain();
    texture.setTransform(QTransform::fromTranslate(rect.left(), rect.top()));
    painter.fillRect(rect, texture);
    QPen pen(withAlpha(rule, gridAlpha), gridLineWidth);
    pen.setCapStyle(Qt::FlatCap);
    painter.strokePath(gridPath(rect, spacing), pen);
    painter.restore();
}

std::vector<QPointF> linePoints(QPointF from, QPointF to, int seed) {
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    const double d = std::max(std::hypot(dx, dy), 1.0);
    const int n = std::max(2, static_cast<int>(std::floor(d / 13)));
    std::vector<QPointF> points;
    points.reserve(static_cast<size_t>(n) + 1);
    points.push_back(from);
    for (int i = 1; i < n; ++i) {
        double t = static_cast<double>(i) / n;
        double offset = std::sin(17.0 * i + 11.0 * seed) * 0.65;
        points.emplace_back(from.x() + dx * t - (dy / d) * offset, from.y() + dy * t + (dx / d) * offset);
    }
    points.push_back(to);
    return points;
}

void line(QPainter& painter, QPointF from, QPointF to, int seed, double width, const QColor& color) {
    std::vector<QPointF> points = linePoints(from, to, seed);
    QPainterPath path(points.front());
    for (size_t i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(path, pen);
    painter.restore();
}

HandLettered registerHandLettered(const std::filesystem::path& fontsFolder) {
    auto add = [&](const char* file) -> QString {
        std::filesystem::path path = fontsFolder / file;
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) return {};
        int id = QFontDatabase::addApplicationFont(QString::fromStdString(path.string()));
        if (id < 0) return {};
        QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QString() : families.front();
    };
    HandLettered faces;
    faces.regular = add("ScrawlHand-Regular.otf");
    faces.bold = add("ScrawlHand-Bold.otf");
    return faces;
}

const HandLettered& handLettered() {
    static const HandLettered faces = registerHandLettered(Paths::resources() / "Fonts");
    return faces;
}

FontChoice chooseFont(double size, FontWeight weight, const HandLettered& faces,
                      const QStringList& installed) {
    FontChoice choice;
    choice.bold = weight >= FontWeight::semibold;
    choice.pixelSize = std::max(1, static_cast<int>(std::lround(size * 1.2)));
    const QString& primary = choice.bold ? faces.bold : faces.regular;
    if (!primary.isEmpty()) {
        choice.source = FontChoice::Source::handLettered;
        choice.family = primary;
        choice.weight = choice.bold ? QFont::Bold : QFont::Normal;
        // Substitutions are kept per family, so the fallback is named by family; the font's own
        // weight then picks Noteworthy's bold or light style, as it does for the face itself.
        choice.cascade = QStringList{fallbackFamily} + symbolFamilies;
    } else if (installed.contains(fallbackFamily)) {
        choice.source = FontChoice::Source::fallback;
        choice.family = fallbackFamily;
        choice.weight = choice.bold ? QFont::Bold : QFont::Light;
    } else {
        choice.source = FontChoice::Source::system;
        static constexpr QFont::Weight systemWeights[] = {QFont::Normal, QFont::Medium, QFont::DemiBold,
                                                          QFont::Bold};
        choice.weight = systemWeights[static_cast<int>(weight)];
    }
    return choice;
}

QFont makeFont(const FontChoice& choice) {
    QFont font = choice.family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                                         : QFont(choice.family);
    font.setPixelSize(choice.pixelSize);
    font.setWeight(choice.weight);
    return font;
}

QFont font(double size, FontWeight weight) {
    static const QStringList installed = QFontDatabase::families();
    FontChoice choice = chooseFont(size, weight, handLettered(), installed);
    if (!choice.cascade.isEmpty()) {
        static QSet<QString> cascaded;
        if (!cascaded.contains(choice.family)) {
            QFont::insertSubstitutions(choice.family, choice.cascade);
            cascaded.insert(choice.family);
        }
    }
    return makeFont(choice);
}

} // namespace tandem::CardBackdrop
