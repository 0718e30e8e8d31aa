#include "tandem/webcam/WebcamDBMeter.h"

#include "tandem/looks/KoalaLook.h"

#include <QFont>
#include <QFontDatabase>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tandem {

namespace {

constexpr double inset = 6;
constexpr double gap = 3;
constexpr double labelWidth = 18;
constexpr double valueWidth = 40;

// Ten pixels of the drawing are ten points of the window at scale 1. Qt 6.4 has no switch for
// tabular figures, so a fixed-pitch face keeps the digits from dancing instead.
QFont valueFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(10);
    return font;
}

} // namespace

double WebcamDBMeter::position(double dB) {
    if (std::isnan(dB)) return 0;
    return std::clamp((dB - floorDB) / -floorDB, 0.0, 1.0);
}

QColor WebcamDBMeter::colour(double dB) {
    if (dB >= warningFromDB) return warning;
    if (dB >= yellowFromDB) return yellow;
    return KoalaLook::blue;
}

QString WebcamDBMeter::valueText(double dB) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", dB);
    return QString::fromLatin1(text);
}

WebcamDBMeter::Layout WebcamDBMeter::layout(const QRectF& rect) {
    Layout result;
    const double rowHeight = std::max(0.0, (rect.height() - 2 * inset - 2 * gap) / 3);
    const double left = rect.left() + inset + labelWidth;
    const double valueLeft = rect.right() - inset - valueWidth;
    const double trackWidth = std::max(0.0, valueLeft - 4 - left);
    for (size_t row = 0; row < 3; ++row) {
        const double top = rect.top() + inset + double(row) * (rowHeight + gap);
        result.tracks[row] = QRectF(left, top, trackWidth, rowHeight);
        result.values[row] = QRectF(valueLeft, top, valueWidth, rowHeight);
    }
    return result;
}

void WebcamDBMeter::draw(QPainter& painter, const QRectF& rect, const WebcamSoundChain::Meter& reading) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath outline;
    outline.addRoundedRect(rect, 6, 6);
    painter.fillPath(outline, plate);
    painter.setRenderHint(QPainter::Antialiasing, false);

    const Layout rows = layout(rect);
    const QFont font = valueFont();
    painter.setFont(font);
    QColor track = KoalaLook::foreground;
    track.setAlphaF(0.1f);
    QColor label = KoalaLook::foreground;
    label.setAlphaF(0.6f);
    static const char* const names[3] = {"L", "R", "GR"};

    for (size_t row = 0; row < 3; ++row) {
        const QRectF& bar = rows.tracks[row];
        painter.fillRect(bar, track);
        double value = 0;
        if (row < 2) {
            const double rms = reading.rms[row];
            const double peak = reading.peak[row];
            painter.fillRect(QRectF(bar.left(), bar.top(), bar.width() * position(rms), bar.height()),
                             colour(rms));
            if (position(peak) > 0) {
                const double x = bar.left() + bar.width() * position(peak);
                painter.fillRect(QRectF(std::min(x, bar.right() - 2), bar.top(), 2, bar.height()),
                                 colour(peak));
            }
            value = peak;
        } else {
            const double amount = std::clamp(-reading.reduction / reductionRangeDB, 0.0, 1.0);
            const double width = bar.width() * (std::isnan(amount) ? 0 : amount);
            painter.fillRect(QRectF(bar.right() - width, bar.top(), width, bar.height()), KoalaLook::pink);
            value = reading.reduction;
        }
        painter.setPen(label);
        painter.drawText(QRectF(rect.left() + inset, bar.top(), labelWidth, bar.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(names[row]));
        painter.setPen(KoalaLook::foreground);
        painter.drawText(rows.values[row], Qt::AlignRight | Qt::AlignVCenter, valueText(value));
    }
    painter.restore();
}

} // namespace tandem
