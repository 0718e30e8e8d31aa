#pragma once

#include "platform/Panels.h"

#include <QImage>
#include <QPointF>
#include <QRectF>

#include <optional>

class QPainter;

// How a floating panel of buttons looks, for the panel windows and for off-screen previews. Button
// frames are in the panel's own coordinates with the origin at the bottom-left (y up); the painters
// here run y down, so frames are flipped against the panel's height. Used on the GUI thread.
namespace tandem::PanelArt {

// A button's frame in a y-down painter where the panel's top-left corner is at `topLeft`.
QRectF buttonRect(const PanelPlan& plan, const PanelButton& button, QPointF topLeft = {});
// A square-bezel button: a "face" fill with a thin ink-grey border, or, when on, a fill and a heavier
// border in its tint; the title centred in ink, in the hand-lettered font.
void drawButton(QPainter& painter, const PanelPlan& plan, const PanelButton& button, QPointF topLeft = {});
// The panel's backdrop, then every button.
void draw(QPainter& painter, const PanelPlan& plan, QPointF topLeft = {});
// The panel alone, `devicePixelRatio` pixels per point.
QImage render(const PanelPlan& plan, double devicePixelRatio = 1);
// The tag of the button under a point given from the panel's top-left corner (y down); the last
// button drawn wins where buttons overlap.
std::optional<int> buttonAt(const PanelPlan& plan, QPointF point);

} // namespace tandem::PanelArt
