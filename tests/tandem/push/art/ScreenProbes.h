#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cstdlib>
#include <functional>

// Reading pixels back out of a rendered screen.
namespace tandem::probes {

// The largest difference of any channel, alpha included.
inline int channelDistance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue()), std::abs(a.alpha() - b.alpha())});
}

inline bool near(const QColor& a, const QColor& b, int within) {
    return channelDistance(a, b) <= within;
}

// How many pixels of `area` satisfy `test`.
inline int count(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test) {
    int found = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (test(image.pixelColor(x, y))) ++found;
    return found;
}

inline int countNear(const QImage& image, const QRect& area, const QColor& colour, int within) {
    return count(image, area, [&](const QColor& pixel) { return near(pixel, colour, within); });
}

} // namespace tandem::probes
