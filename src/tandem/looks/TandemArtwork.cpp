#include "tandem/looks/TandemArtwork.h"

#include "tandem/looks/CardBackdrop.h"

#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <QString>

namespace tandem::TandemArtwork {

namespace {

namespace CB = CardBackdrop;

QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(static_cast<float>(alpha));
    return colour;
}

constexpr double padSize = 250;
constexpr double padGap = 44;
constexpr double padRadius = 46;
constexpr QPointF padOrigin{240, 204};

QPainterPath rounded(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A soft shadow under the body: a few widening, faint layers, so it needs no blur.
void bodyShadow(QPainter& painter) {
    painter.setPen(Qt::NoPen);
    for (int layer = 0; layer < 6; ++layer) {
        const double grow = 4.0 * layer;
        QRectF rect = iconBody.adjusted(-grow, -grow, grow, grow).translated(0, 14);
        painter.setBrush(withAlpha(CB::ink, 0.05));
        painter.drawPath(rounded(rect, iconBodyRadius + grow));
    }
}

// The pad's outline as four hand-drawn strokes, each its own wobble, rounded at the corners by the
// caps; thick enough to stay visible at 32 pixels.
void handDrawnOutline(QPainter& painter, const QRectF& rect, int seed, double width) {
    const double inset = padRadius * 0.42;
    const QPointF corners[] = {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
    for (int side = 0; side < 4; ++side) {
        QPointF from = corners[side], to = corners[(side + 1) % 4];
        const QPointF along = (to - from) / QLineF(from, to).length();
        CB::line(painter, from + along * inset, to - along * inset, seed + side, width, CB::ink);
    }
    QPen corner(CB::ink, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(corner);
    painter.setBrush(Qt::NoBrush);
    const double d = inset * 2;
    painter.drawArc(QRectF(rect.left(), rect.top(), d, d), 90 * 16, 90 * 16);
    painter.drawArc(QRectF(rect.right() - d, rect.top(), d, d), 0, 90 * 16);
    painter.drawArc(QRectF(rect.right() - d, rect.bottom() - d, d, d), 270 * 16, 90 * 16);
    painter.drawArc(QRectF(rect.left(), rect.bottom() - d, d, d), 180 * 16, 90 * 16);
}

} // namespace

QRectF iconPad(int index) {
    const int column = index % 2, row = index / 2;
    return {padOrigin.x() + column * (padSize + padGap), padOrigin.y() + row * (padSize + padGap), padSize,
            padSize};
}

void drawIcon(QPainter& painter, double pixels) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / iconCanvas, pixels / iconCanvas);

    bodyShadow(painter);
    const QPainterPath body = rounded(iconBody, iconBodyRadius);
    painter.fillPath(body, CB::face);

    // The card's ruled ground, coarser and a little stronger so that it survives the small sizes.
    painter.save();
    painter.setClipPath(body);
    QPen rules(withAlpha(CB::rule, 0.45), 4);
    painter.strokePath(CB::gridPath(iconBody, 64), rules);
    painter.restore();

    // Four pads, the first one being hit, the last one marked; each outlined by hand in ink.
    const QColor fills[] = {CB::koala, CB::face, CB::face, CB::marker};
    for (int index = 0; index < 4; ++index) {
        const QRectF pad = iconPad(index);
        painter.fillPath(rounded(pad, padRadius), fills[index]);
        handDrawnOutline(painter, pad, 5 * index + 1, 18);
    }
    // The hit: three short strokes flying off the pink pad's corner.
    const QRectF hit = iconPad(0);
    CB::line(painter, hit.topLeft() + QPointF(-18, 30), hit.topLeft() + QPointF(-70, 4), 7, 14, CB::accent);
    CB::line(painter, hit.topLeft() + QPointF(8, -16), hit.topLeft() + QPointF(-40, -56), 8, 14, CB::accent);
    CB::line(painter, hit.topLeft() + QPointF(44, -22), hit.topLeft() + QPointF(34, -72), 9, 14, CB::accent);

    // The rule that underlines the title on the cards, under the pads.
    const double ruleY = iconPad(3).bottom() + 56;
    CB::line(painter, QPointF(268, ruleY), QPointF(756, ruleY + 3), 3, 22, CB::accent);
    painter.restore();
}

QImage icon(int pixels) {
    if (pixels < 1) return {};
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawIcon(painter, pixels);
    painter.end();
    return image;
}

QIcon applicationIcon() {
    QIcon set;
    for (int pixels : {16, 32, 64, 128, 256, 512})
        set.addPixmap(QPixmap::fromImage(icon(pixels)));
    return set;
}

void drawInstallerBackground(QPainter& painter, Appearance appearance) {
    const bool dark = appearance == Appearance::dark;
    const QRectF bounds(QPointF(0, 0), QSizeF(installerSize));
    const double width = bounds.width();
    const QColor text = dark ? CB::face : CB::ink;
    const QColor quiet = dark ? withAlpha(CB::face, 0.68) : CB::mutedInk;
    const QColor stroke = dark ? CB::marker : CB::accent;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (dark) {
        painter.fillRect(bounds, nightBackdrop);
        QPen rules(withAlpha(CB::face, 0.07), CB::gridLineWidth);
        painter.strokePath(CB::gridPath(bounds, 32), rules);
    } else {
        CB::background(painter, bounds, 32);
    }

    painter.setPen(text);
    painter.setFont(CB::font(40, FontWeight::bold));
    painter.drawText(QRectF(0, 26, width, 62), Qt::AlignCenter, QStringLiteral("TANDEM"));
    CB::line(painter, QPointF(width / 2 - 96, 90), QPointF(width / 2 + 96, 91), 3, 2.4, stroke);
    painter.setPen(quiet);
    painter.setFont(CB::font(15, FontWeight::regular));
    painter.drawText(QRectF(0, 100, width, 30), Qt::AlignCenter,
                     QStringLiteral("Koala Sampler from the MPC Touch and the Push 2"));

    // A hand-drawn arrow between where the two icons sit.
    const double y = installerApplication.y();
    const QPointF tail(installerApplication.x() + 86, y), head(installerApplications.x() - 86, y + 2);
    CB::line(painter, tail, head, 11, 4, stroke);
    CB::line(painter, head, head + QPointF(-22, -15), 12, 4, stroke);
    CB::line(painter, head, head + QPointF(-21, 16), 13, 4, stroke);

    painter.setPen(quiet);
    painter.setFont(CB::font(16, FontWeight::regular));
    painter.drawText(QRectF(0, 320, width, 34), Qt::AlignCenter,
                     QStringLiteral("Drag Tandem into Applications"));
    painter.restore();
}

QImage installerBackground(Appearance appearance) {
    QImage image(installerSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(appearance == Appearance::dark ? nightBackdrop : CB::backdrop);
    QPainter painter(&image);
    drawInstallerBackground(painter, appearance);
    painter.end();
    return image;
}

} // namespace tandem::TandemArtwork
