#include "tandem/looks/PanelArt.h"

#include "tandem/looks/BackdropView.h"
#include "tandem/looks/CardBackdrop.h"

#include <QPainter>
#include <QPen>
#include <QString>

#include <cmath>

namespace tandem::PanelArt {

namespace {

QColor tintColor(PanelTint tint) {
    return tint == PanelTint::accent ? CardBackdrop::accent : CardBackdrop::ink;
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

} // namespace

QRectF buttonRect(const PanelPlan& plan, const PanelButton& button, QPointF topLeft) {
    const Rect& frame = button.frame;
    return {topLeft.x() + frame.x, topLeft.y() + plan.size.height - frame.maxY(), frame.width, frame.height};
}

void drawButton(QPainter& painter, const PanelPlan& plan, const PanelButton& button, QPointF topLeft) {
    QRectF frame = buttonRect(plan, button, topLeft);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(frame, CardBackdrop::face);
    // Strokes are centred on their path, so the border is inset by half its width to stay inside.
    double border = button.on ? 2.5 : 1.0;
    QColor edge = button.on ? tintColor(button.tint) : withAlpha(CardBackdrop::mutedInk, 0.55);
    if (button.on) painter.fillRect(frame, withAlpha(tintColor(button.tint), 0.22));
    painter.setPen(QPen(edge, border, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(border / 2, border / 2, -border / 2, -border / 2));
    painter.setFont(CardBackdrop::font(button.fontSize, button.weight));
    painter.setPen(CardBackdrop::ink);
    painter.drawText(frame, Qt::AlignCenter, QString::fromStdString(button.title));
    painter.restore();
}

void draw(QPainter& painter, const PanelPlan& plan, QPointF topLeft) {
    BackdropView(QSizeF(plan.size.width, plan.size.height)).paint(painter, topLeft);
    for (const PanelButton& button : plan.buttons)
        drawButton(painter, plan, button, topLeft);
}

QImage render(const PanelPlan& plan, double devicePixelRatio) {
    QImage image(static_cast<int>(std::ceil(plan.size.width * devicePixelRatio)),
                 static_cast<int>(std::ceil(plan.size.height * devicePixelRatio)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(CardBackdrop::backdrop);
    QPainter painter(&image);
    draw(painter, plan);
    painter.end();
    return image;
}

std::optional<int> buttonAt(const PanelPlan& plan, QPointF point) {
    // Half-open in the caller's y-down terms: a button owns its top and left edges.
    for (auto it = plan.buttons.rbegin(); it != plan.buttons.rend(); ++it) {
        QRectF r = buttonRect(plan, *it);
        if (point.x() >= r.left() && point.x() < r.right() && point.y() >= r.top() && point.y() < r.bottom())
            return it->tag;
    }
    return std::nullopt;
}

} // namespace tandem::PanelArt
