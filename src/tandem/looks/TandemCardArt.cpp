#include "tandem/looks/TandemCardArt.h"

#include "tandem/looks/CardBackdrop.h"

#include <QPaintDevice>
#include <QPainter>
#include <QString>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <deque>

namespace tandem::TandemCardArt {

namespace {

constexpr double gridSpacing = 32;
constexpr double sideMargin = 40;
constexpr double lineHeightFactor = 1.8;

void text(QPainter& painter, const QRectF& bounds, const TextLine& line, const std::string& string,
          const QColor& colour) {
    if (string.empty()) return;
    const double s = scale(bounds.size());
    painter.setFont(CardBackdrop::font(line.size * s, line.bold ? FontWeight::bold : FontWeight::regular));
    painter.setPen(colour);
    painter.drawText(textRect(bounds, line), Qt::AlignCenter | Qt::TextSingleLine,
                     QString::fromStdString(string));
}

// The card's ground for a size and pixel ratio, kept: every status change redraws every card, and the
// ground is the costly part that never changes. A few sizes are kept (a card per screen, the render).
const QImage& ground(QSize size, qreal devicePixelRatio) {
    struct Kept {
        QSize size;
        qreal ratio;
        QImage image;
    };
    static std::deque<Kept> kept;
    for (const Kept& entry : kept)
        if (entry.size == size && entry.ratio == devicePixelRatio) return entry.image;
    QImage image(size * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(CardBackdrop::backdrop);
    QPainter painter(&image);
    CardBackdrop::background(painter, QRectF(QPointF(0, 0), QSizeF(size)), gridSpacing);
    painter.end();
    if (kept.size() == 4) kept.pop_front();
    kept.push_back({size, devicePixelRatio, std::move(image)});
    return kept.back().image;
}

// Whether the kept ground is the very picture drawing it afresh would give: the painter only moves
// (at the device's own pixel ratio) and `bounds` lands on whole device pixels.
bool keptGroundFits(const QPainter& painter, const QRectF& bounds, qreal ratio) {
    const QTransform& device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale || device.m11() != ratio || device.m22() != ratio) return false;
    auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-9; };
    const QPointF corner = device.map(bounds.topLeft());
    return whole(corner.x()) && whole(corner.y()) && whole(bounds.width() * ratio) &&
           whole(bounds.height() * ratio) && whole(bounds.width()) && whole(bounds.height());
}

} // namespace

double scale(const QSizeF& size) {
    return std::min(size.width() / designWidth, size.height() / designHeight);
}

QRectF place(const QRectF& bounds, double x, double y, double width, double height) {
    return {bounds.left() + x, bounds.bottom() - y - height, width, height};
}

QRectF textRect(const QRectF& bounds, const TextLine& line) {
    const double s = scale(bounds.size());
    return place(bounds, sideMargin * s, line.designY * s, bounds.width() - 2 * sideMargin * s,
                 line.size * lineHeightFactor * s);
}

void draw(QPainter& painter, const QRectF& bounds, const std::string& status) {
    const double s = scale(bounds.size());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatio() : 1.0;
    if (!bounds.isEmpty() && ratio > 0 && keptGroundFits(painter, bounds, ratio)) {
        painter.drawImage(bounds.topLeft(), ground(bounds.size().toSize(), ratio));
    } else {
        CardBackdrop::background(painter, bounds, gridSpacing);
    }

    text(painter, bounds, titleLine, title, CardBackdrop::ink);
    const double centre = bounds.width() / 2;
    const QPointF from = place(bounds, centre - ruleHalfLength * s, ruleFromY * s, 0, 0).topLeft();
    const QPointF to = place(bounds, centre + ruleHalfLength * s, ruleToY * s, 0, 0).topLeft();
    CardBackdrop::line(painter, from, to, ruleSeed, ruleWidth * s, CardBackdrop::accent);
    text(painter, bounds, subtitleLine, subtitle, CardBackdrop::mutedInk);
    text(painter, bounds, statusLine, status, CardBackdrop::mutedInk);
    painter.restore();
}

QImage render(QSize size, const std::string& status) {
    if (size.isEmpty()) return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image; // too large to allocate
    image.fill(CardBackdrop::backdrop);
    QPainter painter(&image);
    draw(painter, QRectF(QPointF(0, 0), QSizeF(size)), status);
    painter.end();
    return image;
}

} // namespace tandem::TandemCardArt
