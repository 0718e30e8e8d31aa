#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <string>

class QPainter;

// The status card: the light look's ground, Tandem's name with a hand-drawn rule under it, what it
// plays, and one status line. The card windows on both screens and "--render-card" draw it through
// this one function. The layout is written for 1280 × 800 with y running up from the card's bottom
// edge, as the card was designed; `place` turns that into the y-down painter's rectangles, so text
// is never drawn through a mirrored painter. Used on the GUI thread.
namespace tandem::TandemCardArt {

inline constexpr double designWidth = 1280;
inline constexpr double designHeight = 800;

inline constexpr const char* title = "TANDEM";
inline constexpr const char* subtitle = "Koala Sampler on the MPC Touch";

// One of the card's three texts: its bottom edge in design units (y up) and its size before scaling.
struct TextLine {
    double designY;
    double size;
    bool bold;
};
inline constexpr TextLine titleLine{470, 64, true};
inline constexpr TextLine subtitleLine{380, 24, false};
inline constexpr TextLine statusLine{250, 20, false};

// The hand-drawn rule under the title: half its length either side of the centre, its two heights
// (design units, y up), seed and width.
inline constexpr double ruleHalfLength = 190;
inline constexpr double ruleFromY = 462;
inline constexpr double ruleToY = 463;
inline constexpr int ruleSeed = 3;
inline constexpr double ruleWidth = 2.4;

// The card's scale: the smaller of width ÷ 1280 and height ÷ 800, so the design always fits.
double scale(const QSizeF& size);
// A rectangle given from the bottom-left of `bounds` (y up, already scaled) in the y-down painter.
QRectF place(const QRectF& bounds, double x, double y, double width, double height);
// Where a text line is centred when the card fills `bounds`: x = 40 s, y = design y × s up from the
// bottom, the bounds' width less 80 s, and 1.8 × size × s high.
QRectF textRect(const QRectF& bounds, const TextLine& line);

// The whole card filling `bounds` of a y-down painter. An empty status draws no status text.
void draw(QPainter& painter, const QRectF& bounds, const std::string& status);
// The card alone, one pixel per point; a null image when no bitmap of that size can be made.
QImage render(QSize size, const std::string& status);

} // namespace tandem::TandemCardArt
