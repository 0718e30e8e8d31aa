#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandem {

// One picture from a capture source: 32-bit pixels, B, G, R, A in memory, rows `stride` bytes apart,
// stamped with the host time it was captured at. Sources hand out the newest one as a shared,
// immutable value, so a reader never sees it change and nothing is copied per reader.
struct VideoFrame {
    int width = 0;
    int height = 0;
    size_t stride = 0;
    std::vector<uint8_t> bytes;
    double time = 0; // host seconds

    static VideoFrame make(int width, int height, double time = 0) {
        VideoFrame frame;
        frame.width = width > 0 ? width : 0;
        frame.height = height > 0 ? height : 0;
        frame.stride = size_t(frame.width) * 4;
        frame.bytes.assign(frame.stride * size_t(frame.height), 0);
        frame.time = time;
        return frame;
    }

    uint8_t* pixel(int x, int y) { return bytes.data() + size_t(y) * stride + size_t(x) * 4; }
    const uint8_t* pixel(int x, int y) const { return bytes.data() + size_t(y) * stride + size_t(x) * 4; }
    // Packed as 0xAARRGGBB.
    uint32_t argb(int x, int y) const {
        const uint8_t* p = pixel(x, y);
        return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[0]);
    }
    void set(int x, int y, uint32_t argb) {
        uint8_t* p = pixel(x, y);
        p[0] = uint8_t(argb);
        p[1] = uint8_t(argb >> 8);
        p[2] = uint8_t(argb >> 16);
        p[3] = uint8_t(argb >> 24);
    }
    void fill(int x, int y, int w, int h, uint32_t argb) {
        for (int row = y < 0 ? 0 : y; row < y + h && row < height; ++row)
            for (int column = x < 0 ? 0 : x; column < x + w && column < width; ++column)
                set(column, row, argb);
    }

    bool operator==(const VideoFrame&) const = default;
};

} // namespace tandem
