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

std::optional<QImage> FrameRenderer::black(int width, int height) {
    QImage* frame = take(width, height);
    if (!frame) return std::nullopt;
    FramePixels::fill(*frame, 0xFF000000);
    return *frame;
}

} // namespace tandem
