#pragma once

#include "tandem/webcam/WebcamSoundChain.h"

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <array>

namespace tandem {

// The sound chain's readings as the Webcam window shows them: on a rounded near-black plate, one row
// per channel (a bar of the RMS level with a mark at the peak, from −48 dB to 0 dB, and the peak's
// value) and a row for the limiter's gain reduction, growing leftwards from its right end.
// QtGui only; text needs a QGuiApplication.
class WebcamDBMeter {
public:
    WebcamSoundChain::Meter reading;

    static constexpr double floorDB = -48;
    static constexpr double yellowFromDB = -12;
    static constexpr double warningFromDB = -3;
    // The reduction row's full length.
    static constexpr double reductionRangeDB = 12;

    static constexpr QColor plate{16, 14, 14};
    static constexpr QColor yellow{255, 214, 10};
    static constexpr QColor warning{255, 59, 48};

    // Where the rows go inside `rect`: left channel, right channel, reduction.
    struct Layout {
        std::array<QRectF, 3> tracks;
        std::array<QRectF, 3> values;
    };
    static Layout layout(const QRectF& rect);

    // How far along a level bar reaches, 0…1.
    static double position(double dB);
    // A level bar's colour: Koala's blue below −12 dB, yellow from −12 dB, the warning colour from −3 dB.
    static QColor colour(double dB);
    // A reading as the meter prints it ("%.1f").
    static QString valueText(double dB);

    static void draw(QPainter& painter, const QRectF& rect, const WebcamSoundChain::Meter& reading);
    void draw(QPainter& painter, const QRectF& rect) const { draw(painter, rect, reading); }
};

} // namespace tandem
