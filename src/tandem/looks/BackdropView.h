#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QPainter;

namespace tandem {

// An opaque card of the ruled, grained ground. It is a drawable rather than a widget so that windows
// and off-screen images (previews, tests) paint it the same way. Used on the GUI thread.
class BackdropView {
public:
    static constexpr double gridSpacing = 32;

    explicit BackdropView(QSizeF size)
        : extent(size) {}

    QSizeF size() const { return extent; }
    QRectF bounds() const { return {QPointF(0, 0), extent}; }

    // Paints the card with its top-left corner at `topLeft` of a y-down painter.
    void paint(QPainter& painter, QPointF topLeft = {}) const;
    // The card alone, `devicePixelRatio` pixels per point.
    QImage render(double devicePixelRatio = 1) const;

private:
    QSizeF extent;
};

} // namespace tandem
