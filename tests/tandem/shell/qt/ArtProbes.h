#pragma once

#include "tandem/push/art/ScreenProbes.h"

#include <QColor>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cstdlib>
#include <functional>

// Reading pixels back out of the cards, the windows and the artwork.
namespace tandem::probes {

// The smallest rectangle holding every pixel of `area` that passes `test`; empty when none does.
inline QRect box(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test) {
    QRect found;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (test(image.pixelColor(x, y))) found |= QRect(x, y, 1, 1);
    return found;
}

// Pixels within `within` of a colour on red, green and blue (the alpha of a grab is not the art's).
inline std::function<bool(const QColor&)> nearRgb(QColor colour, int within) {
    return [colour, within](const QColor& pixel) {
        return std::max({std::abs(pixel.red() - colour.red()), std::abs(pixel.green() - colour.green()),
                         std::abs(pixel.blue() - colour.blue())}) <= within;
    };
}

// The largest and the mean difference of any colour channel between two pictures of one size.
struct Difference {
    int largest = 0;
    double mean = 0;
};
inline Difference difference(const QImage& a, const QImage& b, const QRect& area) {
    Difference result;
    long long sum = 0, samples = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            for (int d : {std::abs(p.red() - q.red()), std::abs(p.green() - q.green()),
                          std::abs(p.blue() - q.blue())}) {
                result.largest = std::max(result.largest, d);
                sum += d;
                ++samples;
            }
        }
    }
    result.mean = samples ? double(sum) / double(samples) : 0;
    return result;
}
inline Difference difference(const QImage& a, const QImage& b) {
    return difference(a, b, a.rect().intersected(b.rect()));
}

} // namespace tandem::probes
