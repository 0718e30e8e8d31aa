#include "tandem/push/KoalaPushCanvas.h"

#include "push2_display/push2_display.h"
#include "tandem/push/art/KoalaScreenArt.h"

#include <QPainter>

namespace tandem {

KoalaPushCanvas::KoalaPushCanvas()
    // Bytes R, G, B, A in memory, as the display's converter reads them (ARGB32 would swap red and
    // blue on the Push).
    : bitmap(push2_display_width, push2_display_height, QImage::Format_RGBA8888_Premultiplied) {}

std::vector<uint16_t> KoalaPushCanvas::pixels(const KoalaView& view) {
    {
        QPainter painter(&bitmap);
        KoalaScreenArt::draw(painter, view);
    }
    std::vector<uint16_t> frame(size_t(push2_display_width) * push2_display_height);
    // Rows are exactly 3,840 bytes, so the bitmap is one run of pixels.
    push2_convert_rgba(bitmap.constBits(), frame.data(), int(frame.size()));
    return frame;
}

} // namespace tandem
