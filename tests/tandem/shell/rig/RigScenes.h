#pragma once

// The simulated Mac brought to where the rig's pictures and window have something to show, and
// reading those pictures back.
#include "support/AppRig.h"

#include <QColor>
#include <QImage>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

// Colours in failure messages as their names.
inline void PrintTo(const QColor& color, std::ostream* out) {
    *out << color.name().toStdString();
}

namespace tandem::testing {

inline QColor pixel(const QImage& image, QPointF at) {
    return image.pixelColor(int(std::floor(at.x())), int(std::floor(at.y())));
}

inline int distance(const QColor& a, const QColor& b) {
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

} // namespace tandem::testing
