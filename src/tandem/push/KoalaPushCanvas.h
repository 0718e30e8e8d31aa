#pragma once

#include "tandem/push/KoalaView.h"

#include <QImage>

#include <cstdint>
#include <vector>

namespace tandem {

// The Push 2 display's drawing surface: one 960 × 160 RGBA bitmap, reused for every frame, drawn
// with the screen art and converted to the display's 16-bit pixels.
class KoalaPushCanvas {
public:
    KoalaPushCanvas();

    // 153,600 pixels (960 × 160) for `view`, as the display transport sends them.
    std::vector<uint16_t> pixels(const KoalaView& view);

    // The last picture drawn (bytes R, G, B, A).
    const QImage& image() const { return bitmap; }

private:
    QImage bitmap;
};

} // namespace tandem
