// One Push 2 display frame: converting the 960 × 160 RGBA canvas to display pixels and building the
// masked 327,680-byte wire buffer, against a plain copy of 327,680 bytes.
#include "push2_display/push2_display.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int pixels = push2_display_width * push2_display_height;

void BM_ConvertAndEncode(benchmark::State& state) {
    std::vector<uint8_t> rgba(size_t(pixels) * 4);
    std::mt19937 random(5);
    for (auto& byte : rgba)
        byte = uint8_t(random());
    std::vector<uint16_t> frame(pixels);
    std::vector<uint8_t> wire(push2_display_frame_bytes);
    for (auto _ : state) {
        push2_convert_rgba(rgba.data(), frame.data(), pixels);
        push2_display_encode(frame.data(), wire.data());
        benchmark::DoNotOptimize(wire.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ConvertAndEncode)->Unit(benchmark::kMicrosecond);

void BM_PlainCopy(benchmark::State& state) {
    std::vector<uint8_t> from(push2_display_frame_bytes, 7), to(push2_display_frame_bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
