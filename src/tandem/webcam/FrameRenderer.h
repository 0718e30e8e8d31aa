#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tandem {

// The per-pixel work on composed frames: loops over scan lines of 32-bit words (B, G, R, A in memory,
// as Format_RGB32 and the premultiplied ARGB32 formats keep them), each channel handled in 16-bit lanes
// of a word so that the compiler vectorises the loops. Every picture must be a 32-bit format; the
// destination is never one of the sources.
namespace FramePixels {

// The rounded mean of each 2 × 2 block: `half` is (width / 2) × (height / 2) of `whole`, truncated.
void halve(const QImage& whole, QImage& half);
// `half` scaled up by 2 with bilinear filtering (pixel centres, edges clamped) into `whole`, which may be
// smaller than twice `half` (cropped) or larger (its last row and column repeated).
void twice(const QImage& half, QImage& whole);
// `from` × (1 - t) + `to` × t per channel, t at 256ths; the three pictures are the same size.
void dissolve(const QImage& from, const QImage& to, double t, QImage& into);
// Every pixel set to `word` (0xFF000000 is opaque black).
void fill(QImage& image, uint32_t word);
// `picture` copied into `into` from the top-left corner: cropped, and black where it does not reach.
void copy(const QImage& picture, QImage& into);
// `picture` copied into `into` with its top-left corner at `at`, cut to `into`; nothing else written.
void paste(const QImage& picture, QImage& into, QPoint at);
// Every pixel of `area` (cut to the image) set to `word`.
void fill(QImage& image, const QRect& area, uint32_t word);
// Every pixel outside `keep` set to `word`: the frame around a picture that covers `keep`.
void fillAround(QImage& image, const QRect& keep, uint32_t word);
// The part `source` of `picture` (mirrored left to right first when `mirror`) scaled bilinearly onto the
// whole of `into`: each pixel centre of `into` maps into `source`, and samples are clamped to the whole
// pixels `source` touches. `rowDone`, when given, is told each finished row of `into` while it is still
// in the processor's cache.
void scale(const QImage& picture, const QRectF& source, QImage& into, bool mirror = false,
           const std::function<void(int y)>& rowDone = {});

} // namespace FramePixels

// Frames of one size in Format_RGB32 from a pool, so that a steady stream of frames allocates nothing.
// The pool is made (at least `minimumPool` images) when the size changes and grows when every image is
// still in use; an image is reused only once nobody else holds it (QImage::isDetached). What a render
// hands out is shared with the pool: its holders only read it, and drop it to give it back. One owner
// and one thread at a time.
class FrameRenderer {
public:
    static constexpr size_t minimumPool = 4;

    // `picture` drawn into a pooled width × height frame over (0, 0, width, height), top-left aligned;
    // nothing for an empty size or a picture that is no image.
    std::optional<QImage> render(const QImage& picture, int width, int height);
    // `picture` scaled by 0.5 into a pooled frame of half its size (truncated).
    std::optional<QImage> half(const QImage& picture);
    // `half` scaled by 2.0 (bilinear) into a pooled width × height frame.
    std::optional<QImage> twice(const QImage& half, int width, int height);
    // The dissolve from `from` to `to` at time t (0…1) into a pooled frame of their size.
    std::optional<QImage> dissolve(const QImage& from, const QImage& to, double t);
    // An opaque black frame.
    std::optional<QImage> black(int width, int height);
    // A frame whose pixels are left as they were: for a caller that writes every one of them.
    std::optional<QImage> frame(int width, int height);

    QSize poolSize() const { return size; }
    size_t poolCount() const { return pool.size(); }

private:
    // A pooled image of the size that nobody else holds; written in place, then handed out.
    QImage* take(int width, int height);

    std::vector<QImage> pool;
    QSize size;
};

} // namespace tandem
