#pragma once

#include "platform/Panels.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <utility>
#include <vector>

class QPainter;

// The light look: a ruled, lightly textured ground with hand-drawn strokes and hand-lettered type.
// Used by the status cards, the touch overlay's panels and the artwork. Everything here runs on the
// GUI thread (the main queue); the fonts and the grain need a QGuiApplication.
namespace tandem::CardBackdrop {

namespace detail {
// An opaque colour from 0-1 components, rounded as QColor::fromRgbF does, but usable as a constant.
constexpr QColor rgb(double red, double green, double blue) {
    auto channel = [](double value) { return static_cast<ushort>(value * 0xffff + 0.5); };
    return QColor(QColor::Rgb, 0xffff, channel(red), channel(green), channel(blue));
}
} // namespace detail

inline constexpr QColor backdrop = detail::rgb(0.962, 0.948, 0.918); // the ruled ground
inline constexpr QColor face = detail::rgb(0.982, 0.970, 0.944);     // icon artwork
inline constexpr QColor ink = detail::rgb(0.095, 0.151, 0.214);      // main text, grain
inline constexpr QColor mutedInk = detail::rgb(0.330, 0.382, 0.413); // secondary text
inline constexpr QColor accent = detail::rgb(0.574, 0.240, 0.229);   // rules and highlights
inline constexpr QColor rule = detail::rgb(0.691, 0.749, 0.752);     // grid lines, drawn at alpha 0.18
inline constexpr QColor marker = detail::rgb(0.957, 0.824, 0.620);   // icon artwork
inline constexpr QColor koala = detail::rgb(1.0, 0.0, 0.6);          // icon artwork (sRGB)

// The grid's line width and opacity.
inline constexpr double gridLineWidth = 0.65;
inline constexpr double gridAlpha = 0.18;

// The grain: 1500 tiny ink squares on a 256 × 256 tile, placed by a fixed 64-bit LCG so that the
// texture is the same on every run.
inline constexpr int grainTileSize = 256;
inline constexpr int grainSquareCount = 1500;
inline constexpr double grainSquareSize = 0.7;
inline constexpr double grainAlpha = 0.018;

// The squares' top-left corners, in the order they are drawn (each coordinate 0-255).
std::vector<std::pair<int, int>> grainPositions();
// A freshly drawn tile (one pixel per point, premultiplied ARGB); `grain()` keeps one of these.
QImage makeGrainTexture();
// The grain as a tiling brush, made once per process.
const QBrush& grain();

// The grid of `background`: vertical lines at minX + k × spacing for every k that stays within the
// rectangle, the last one exactly on the right edge when the width is a multiple of the spacing
// (within rounding); horizontal lines likewise. `spacing` must be positive.
QPainterPath gridPath(const QRectF& rect, double spacing);
// Fills `rect` with the backdrop colour and the grain, then strokes the grid.
void background(QPainter& painter, const QRectF& rect, double spacing);

// The corners of a hand-drawn line from `from` to `to`: the ends plus a wobbling point about every
// 13 units; the same seed always gives the same wobble.
std::vector<QPointF> linePoints(QPointF from, QPointF to, int seed);
// Strokes those points with round caps and joins.
void line(QPainter& painter, QPointF from, QPointF to, int seed, double width, const QColor& color);

// The hand-lettered faces as Qt named them when they were registered; empty where a file was missing.
struct HandLettered {
    QString regular;
    QString bold;
    bool operator==(const HandLettered&) const = default;
};

// Registers "ScrawlHand-Regular.otf" and "ScrawlHand-Bold.otf" from `fontsFolder` with this process's
// font database, skipping a file that is missing or unreadable.
HandLettered registerHandLettered(const std::filesystem::path& fontsFolder);
// The faces from the resources' "Fonts" folder, registered on first use and kept.
const HandLettered& handLettered();

// The face families asked for when the hand-lettered face is missing ("Noteworthy-Bold" and
// "Noteworthy-Light" are its bold and light styles), and those that supply the glyphs it lacks.
inline const QString fallbackFamily = QStringLiteral("Noteworthy");
inline const QStringList symbolFamilies = {QStringLiteral("Apple Symbols"), QStringLiteral("Lucida Grande")};

struct FontChoice {
    enum class Source { handLettered, fallback, system };
    Source source = Source::system;
    QString family; // empty for the system font
    bool bold = false;
    QFont::Weight weight = QFont::Normal;
    // Pixels of the drawing surface: a size is given in drawing units, not typographic points, so a
    // font looks the same on a 96 dpi image as on a 72 dpi window. Qt takes whole pixels only.
    int pixelSize = 0;
    // For the hand-lettered face: where its missing glyphs come from, in order (Qt substitutions).
    QStringList cascade;
    bool operator==(const FontChoice&) const = default;
};

// Which face `font` uses for these faces and these installed families: the hand-lettered face when
// registered, else Noteworthy when installed, else the system font. Sizes are scaled by 1.2; bold
// means semibold or heavier.
FontChoice chooseFont(double size, FontWeight weight, const HandLettered& faces,
                      const QStringList& installed);
// The font for a choice; the system font comes from `QFontDatabase::systemFont`.
QFont makeFont(const FontChoice& choice);
// The hand-lettered font of that size and weight, with its cascade installed as substitutions.
QFont font(double size, FontWeight weight);

} // namespace tandem::CardBackdrop
