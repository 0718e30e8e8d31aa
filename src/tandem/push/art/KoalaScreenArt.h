#pragma once

#include "tandem/push/KoalaView.h"

#include <QColor>
#include <QImage>
#include <QRectF>

#include <string>

class QPainter;

// The picture on the Push 2's 960 × 160 display, drawn from one KoalaView in Koala's look. The bridge
// draws it into the display's bitmap and the preview window draws the same view scaled, so both show
// the same thing. The layout is written in screen units with the origin at the bottom-left and y up;
// `place` turns those into the y-down painter's rectangles, so text is never drawn through a mirrored
// painter. Used on the GUI thread; laid-out lines and rounded boxes are kept between frames.
namespace tandem::KoalaScreenArt {

inline constexpr double width = 960;
inline constexpr double height = 160;
inline constexpr double columnWidth = 120; // one column per encoder and button pair

// A rectangle of the screen (origin bottom-left, y up, 960 × 160 units) in a y-down painter where
// the screen fills `frame`.
QRectF place(const QRectF& frame, const QRectF& screen);

enum class Align { left, centre, right };

// One line of `string` centred vertically in `rect`, `size` pixels high, cut at the tail with an
// ellipsis when too long; an empty string draws nothing.
void text(QPainter& painter, const std::string& string, const QRectF& rect, double size, const QColor& colour,
          Align align);
// Fills `rect`, with corners rounded to `radius` when it is positive.
void fill(QPainter& painter, const QRectF& rect, double radius, const QColor& colour);

// What the middle of the screen (between the two grey rules) shows: large text when `big` is set;
// the FX page's two rows of effects; the waveform on the pad page and the pattern on the sequence page
// when the view carries them (the controller hands them over in its detail view); otherwise the
// encoder cells, if any.
enum class Middle { nothing, big, cells, effects, waveform, pattern };
Middle middle(const KoalaView& view);

// The whole screen for `view`, into `frame` of a y-down painter.
void draw(QPainter& painter, const KoalaView& view, const QRectF& frame = QRectF(0, 0, width, height));
// The screen alone: 960 × 160 pixels with the bytes R, G, B, A in memory, as the display's
// conversion reads them.
QImage render(const KoalaView& view);

} // namespace tandem::KoalaScreenArt
