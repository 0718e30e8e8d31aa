#include "tandem/looks/BackdropView.h"

#include "tandem/looks/CardBackdrop.h"

#include <QPainter>

#include <cmath>

namespace tandem {

void BackdropView::paint(QPainter& painter, QPointF topLeft) const {
    CardBackdrop::background(painter, QRectF(topLeft, extent), gridSpacing);
}

QImage BackdropView::render(double devicePixelRatio) const {
    QImage image(static_cast<int>(std::ceil(extent.width() * devicePixelRatio)),
                 static_cast<int>(std::ceil(extent.height() * devicePixelRatio)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(CardBackdrop::backdrop);
    QPainter painter(&image);
    paint(painter);
    painter.end();
    return image;
}

} // namespace tandem
