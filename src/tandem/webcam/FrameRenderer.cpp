#include "tandem/webcam/FrameRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tandem {

namespace {

// On x86-64 Linux the row loops also get an AVX2 version, chosen once at start-up when the processor
// has it; elsewhere the compiler's baseline vectors serve.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define TANDEM_ROW_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define TANDEM_ROW_LOOP
#endif

// Blue and red in the low lane of a word, green and alpha in the high lane, each with 8 spare bits:
// sums of up to 257 channel values fit without carrying into the next channel.
constexpr uint32_t lanes = 0x00FF00FF;

bool words(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return true;
    default:
        return false;
    }
}

// Any other format is converted once; composed frames never need it.
QImage asWords(const QImage& picture) {
    return words(picture) ? picture : picture.convertToFormat(QImage::Format_RGB32);
}

const uint32_t* row(const QImage& image, int y) {
    return reinterpret_cast<const uint32_t*>(image.constScanLine(y));
}

uint32_t* row(QImage& image, int y) {
    return reinterpret_cast<uint32_t*>(image.scanLine(y));
}

TANDEM_ROW_LOOP void halveRows(const uint32_t* __restrict top, const uint32_t* __restrict bottom,
                               uint32_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t a = top[2 * x], b = top[2 * x + 1], c = bottom[2 * x], d = bottom[2 * x + 1];
        const uint32_t low = (a & lanes) + (b & lanes) + (c & lanes) + (d & lanes) + 0x00020002;
        const uint32_t high =
            ((a >> 8) & lanes) + ((b >> 8) & lanes) + ((c >> 8) & lanes) + ((d >> 8) & lanes) + 0x00020002;
        out[x] = ((low >> 2) & lanes) | (((high >> 2) & lanes) << 8);
    }
}

// One source row widened to twice its width in lanes: 3 × nearer + farther neighbour (at most 1020 per
// channel). `padded` holds the row with its first and last word repeated once on either side.
TANDEM_ROW_LOOP void widenRow(const uint32_t* __restrict padded, uint32_t* __restrict low,
                              uint32_t* __restrict high, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t left = padded[x], centre = padded[x + 1], right = padded[x + 2];
        low[2 * x] = 3 * (centre & lanes) + (left & lanes);
        low[2 * x + 1] = 3 * (centre & lanes) + (right & lanes);
        high[2 * x] = 3 * ((centre >> 8) & lanes) + ((left >> 8) & lanes);
        high[2 * x + 1] = 3 * ((centre >> 8) & lanes) + ((right >> 8) & lanes);
    }
}

// 3 × nearer + farther widened row, divided by 16 with rounding: the bilinear weights 9, 3, 3, 1.
TANDEM_ROW_LOOP void blendRows(const uint32_t* __restrict nearLow, const uint32_t* __restrict nearHigh,
                               const uint32_t* __restrict farLow, const uint32_t* __restrict farHigh,
                               uint32_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t low = ((3 * nearLow[x] + farLow[x] + 0x00080008) >> 4) & lanes;
        const uint32_t high = ((3 * nearHigh[x] + farHigh[x] + 0x00080008) >> 4) & lanes;
        out[x] = low | (high << 8);
    }
}

TANDEM_ROW_LOOP void dissolveRow(const uint32_t* __restrict from, const uint32_t* __restrict to,
                                 uint32_t* __restrict out, uint32_t keep, uint32_t take, int width) {
    for (int x = 0; x < width; ++x) {
        const uint32_t a = from[x], b = to[x];
        const uint32_t low = (((a & lanes) * keep + (b & lanes) * take + 0x00800080) >> 8) & lanes;
        const uint32_t high =
            ((((a >> 8) & lanes) * keep + ((b >> 8) & lanes) * take + 0x00800080) >> 8) & lanes;
        out[x] = low | (high << 8);
    }
}

void fillRow(uint32_t* __restrict out, uint32_t word, int width) {
    for (int x = 0; x < width; ++x)
        out[x] = word;
}

// Each output pixel between the source pixels `first` and `first` + 1 of `line` (read as one pair), the
// second weighing `weight` 256ths (0…256).
TANDEM_ROW_LOOP void lerpColumns(const uint32_t* __restrict line, const int32_t* __restrict first,
                                 const uint32_t* __restrict weight, uint32_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) {
        uint64_t pair;
        std::memcpy(&pair, line + first[x], sizeof pair);
        const uint32_t a = uint32_t(pair), b = uint32_t(pair >> 32), take = weight[x], keep = 256 - take;
        const uint32_t low = (((a & lanes) * keep + (b & lanes) * take + 0x00800080) >> 8) & lanes;
        const uint32_t high =
            ((((a >> 8) & lanes) * keep + ((b >> 8) & lanes) * take + 0x00800080) >> 8) & lanes;
        out[x] = low | (high << 8);
    }
}

// Where each of `count` output pixels samples along one axis: the source pixel at or before its centre
// and the weight of the one after it in 256ths (0…256), both pixels within [low, high]. A single pixel
// (low == high) has no pair: its taps are all `low`, weighing nothing, and the caller reads it twice.
struct Taps {
    std::vector<int32_t> first;
    std::vector<uint32_t> weight;
};

Taps taps(double start, double length, int count, int low, int high) {
    Taps taps;
    taps.first.resize(size_t(count));
    taps.weight.resize(size_t(count));
    const double step = length / count;
    for (int i = 0; i < count; ++i) {
        const double at = std::clamp(start + (i + 0.5) * step - 0.5, double(low), double(high));
        const int first = std::min(int(std::floor(at)), std::max(high - 1, low));
        taps.first[size_t(i)] = first;
        taps.weight[size_t(i)] = high > low ? uint32_t(std::lround((at - first) * 256)) : 0;
    }
    return taps;
}

} // namespace

namespace FramePixels {

void halve(const QImage& whole, QImage& half) {
    const int width = std::min(half.width(), whole.width() / 2);
    const int height = std::min(half.height(), whole.height() / 2);
    for (int y = 0; y < height; ++y)
        halveRows(row(whole, 2 * y), row(whole, 2 * y + 1), row(half, y), width);
}

void twice(const QImage& half, QImage& whole) {
    const int w = half.width(), h = half.height();
    const int width = whole.width(), height = whole.height();
    if (w <= 0 || h <= 0 || width <= 0 || height <= 0) return;
    // Widened rows are made once per source row; each output row blends the nearer and the farther.
    const int wide = 2 * w;
    std::vector<uint32_t> padded(size_t(w) + 2);
    std::vector<uint32_t> widened(size_t(4) * size_t(wide));
    int held[2] = {-1, -1}; // which source rows the two widened slots hold
    auto widen = [&](int source) -> int {
        for (int slot = 0; slot < 2; ++slot)
            if (held[slot] == source) return slot;
        // Rows come in ascending order: the slot of the lower row is the one to reuse.
        const int slot = held[0] < held[1] ? 0 : 1;
        const uint32_t* line = row(half, source);
        padded[0] = line[0];
        std::memcpy(padded.data() + 1, line, size_t(w) * sizeof(uint32_t));
        padded[size_t(w) + 1] = line[w - 1];
        uint32_t* low = widened.data() + size_t(2 * slot) * size_t(wide);
        widenRow(padded.data(), low, low + wide, w);
        held[slot] = source;
        return slot;
    };
    const int covered = std::min(width, wide);
    for (int y = 0; y < height; ++y) {
        // Rows past twice the source repeat its last.
        const int source = std::min(y, 2 * h - 1);
        const int nearer = source / 2;
        const int farther = std::clamp(source % 2 == 0 ? nearer - 1 : nearer + 1, 0, h - 1);
        const int a = widen(std::min(nearer, farther));
        const int b = widen(std::max(nearer, farther));
        const int nearSlot = nearer <= farther ? a : b, farSlot = nearer <= farther ? b : a;
        const uint32_t* nearLow = widened.data() + size_t(2 * nearSlot) * size_t(wide);
        const uint32_t* farLow = widened.data() + size_t(2 * farSlot) * size_t(wide);
        uint32_t* out = row(whole, y);
        blendRows(nearLow, nearLow + wide, farLow, farLow + wide, out, covered);
        if (covered < width) fillRow(out + covered, out[covered - 1], width - covered);
    }
}

void dissolve(const QImage& from, const QImage& to, double t, QImage& into) {
    const uint32_t take =
        static_cast<uint32_t>(std::lround(std::clamp(std::isfinite(t) ? t : 0.0, 0.0, 1.0) * 256));
    const int width = std::min({from.width(), to.width(), into.width()});
    const int height = std::min({from.height(), to.height(), into.height()});
    for (int y = 0; y < height; ++y)
        dissolveRow(row(from, y), row(to, y), row(into, y), 256 - take, take, width);
}

void fill(QImage& image, uint32_t word) {
    for (int y = 0; y < image.height(); ++y)
        fillRow(row(image, y), word, image.width());
}

void copy(const QImage& picture, QImage& into) {
    const int width = std::min(picture.width(), into.width());
    const int height = std::min(picture.height(), into.height());
    for (int y = 0; y < into.height(); ++y) {
        uint32_t* out = row(into, y);
        int done = 0;
        if (y < height && width > 0) {
            std::memcpy(out, row(picture, y), size_t(width) * sizeof(uint32_t));
            done = width;
        }
        fillRow(out + done, 0xFF000000, into.width() - done);
    }
}

void paste(const QImage& picture, QImage& into, QPoint at) {
    const QRect area = QRect(at, picture.size()) & into.rect();
    if (area.isEmpty()) return;
    const QImage words = asWords(picture);
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(row(into, y) + area.left(), row(words, y - at.y()) + (area.left() - at.x()),
                    size_t(area.width()) * sizeof(uint32_t));
}

void fill(QImage& image, const QRect& area, uint32_t word) {
    const QRect cut = area & image.rect();
    for (int y = cut.top(); y <= cut.bottom(); ++y)
        fillRow(row(image, y) + cut.left(), word, cut.width());
}

void fillAround(QImage& image, const QRect& keep, uint32_t word) {
    const QRect cut = keep & image.rect();
    if (cut.isEmpty()) return fill(image, word);
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        uint32_t* line = row(image, y);
        if (y < cut.top() || y > cut.bottom()) {
            fillRow(line, word, width);
        } else {
            fillRow(line, word, cut.left());
            fillRow(line + cut.right() + 1, word, width - cut.right() - 1);
        }
    }
}

void scale(const QImage& picture, const QRectF& source, QImage& into, bool mirror,
           const std::function<void(int)>& rowDone) {
    const int width = into.width(), height = into.height();
    if (width <= 0 || height <= 0 || picture.isNull() || !(source.width() > 0) || !(source.height() > 0))
        return;
    // Mirrored, the shown part is the picture's part on the other side, sampled right to left.
    const QRectF part =
        mirror ? QRectF(picture.width() - source.right(), source.y(), source.width(), source.height())
               : source;
    // The whole pixels the part touches, inside the picture.
    const QRect touched = part.toAlignedRect() & picture.rect();
    if (touched.isEmpty()) return;
    const QImage words = asWords(picture);
    Taps across = taps(part.x(), part.width(), width, touched.left(), touched.right());
    if (mirror) {
        std::reverse(across.first.begin(), across.first.end());
        std::reverse(across.weight.begin(), across.weight.end());
    }
    const Taps down = taps(part.y(), part.height(), height, touched.top(), touched.bottom());
    // A one-pixel-wide part is read from a copy of that pixel twice, so that every tap has a pair.
    uint32_t single[2] = {0, 0};
    if (touched.width() == 1) std::fill(across.first.begin(), across.first.end(), 0);
    auto sourceLine = [&](int y) -> const uint32_t* {
        if (touched.width() > 1) return row(words, y);
        single[0] = single[1] = row(words, y)[touched.left()];
        return single;
    };
    // Source rows are scaled across once each, into two slots; rows come in ascending order.
    std::vector<uint32_t> lines(size_t(2) * size_t(width));
    int held[2] = {-1, -1};
    auto line = [&](int wanted, int keep) -> const uint32_t* {
        int slot = held[0] == wanted ? 0 : held[1] == wanted ? 1 : -1;
        if (slot < 0) {
            slot = held[0] == keep ? 1 : 0;
            lerpColumns(sourceLine(wanted), across.first.data(), across.weight.data(),
                        lines.data() + size_t(slot) * size_t(width), width);
            held[slot] = wanted;
        }
        return lines.data() + size_t(slot) * size_t(width);
    };
    for (int y = 0; y < height; ++y) {
        const int a = down.first[size_t(y)];
        const uint32_t take = down.weight[size_t(y)];
        const uint32_t* upper = line(a, a + 1);
        uint32_t* out = row(into, y);
        if (take == 0) {
            std::memcpy(out, upper, size_t(width) * sizeof(uint32_t));
        } else if (take == 256) {
            std::memcpy(out, line(a + 1, a), size_t(width) * sizeof(uint32_t));
        } else {
            dissolveRow(upper, line(a + 1, a), out, 256 - take, take, width);
        }
        if (rowDone) rowDone(y);
    }
}

} // namespace FramePixels

QImage* FrameRenderer::take(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    const QSize wanted(width, height);
    if (wanted != size || pool.empty()) {
        pool.clear();
        size = wanted;
        for (size_t i = 0; i < minimumPool; ++i) {
            QImage image(wanted, QImage::Format_RGB32);
            if (image.isNull()) return nullptr;
            pool.push_back(std::move(image));
        }
    }
    for (QImage& image : pool)
        if (image.isDetached()) return &image;
    QImage image(wanted, QImage::Format_RGB32);
    if (image.isNull()) return nullptr;
    pool.push_back(std::move(image));
    return &pool.back();
}

std::optional<QImage> FrameRenderer::render(const QImage& picture, int width, int height) {
    if (picture.isNull()) return std::nullopt;
    QImage* frame = take(width, height);
    if (!frame) return std::nullopt;
    FramePixels::copy(asWords(picture), *frame);
    return *frame;
}

std::optional<QImage> FrameRenderer::half(const QImage& picture) {
    if (picture.isNull()) return std::nullopt;
    QImage* frame = take(picture.width() / 2, picture.height() / 2);
    if (!frame) return std::nullopt;
    FramePixels::halve(asWords(picture), *frame);
    return *frame;
}

std::optional<QImage> FrameRenderer::twice(const QImage& half, int width, int height) {
    if (half.isNull()) return std::nullopt;
    QImage* frame = take(width, height);
    if (!frame) return std::nullopt;
    FramePixels::twice(asWords(half), *frame);
    return *frame;
}

std::optional<QImage> FrameRenderer::dissolve(const QImage& from, const QImage& to, double t) {
    if (from.isNull() || from.size() != to.size()) return std::nullopt;
    QImage* frame = take(from.width(), from.height());
    if (!frame) return std::nullopt;
    FramePixels::dissolve(asWords(from), asWords(to), t, *frame);
    return *frame;
}

std::optional<QImage> FrameRenderer::frame(int width, int height) {
    QImage* frame = take(width, height);
    if (!frame) return std::nullopt;
    return *frame;
}

std::optional<QImage> FrameRenderer::black(int width, int height) {
    QImage* frame = take(width, height);
    if (!frame) return std::nullopt;
    FramePixels::fill(*frame, 0xFF000000);
    return *frame;
}

} // namespace tandem
