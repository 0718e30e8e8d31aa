// Decode throughput of message assembly over a realistic MPC stream: pad notes with aftertouch,
// Q-Link turns, buttons, clock bytes between and inside messages, running status and long SysEx.
#include "tandem/mpc/Stream.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

std::vector<uint8_t> makeStream(size_t target) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes;
    bytes.reserve(target + 1024);
    while (bytes.size() < target) {
        switch (random() % 10) {
        case 0:
        case 1:
        case 2: { // pad hit with aftertouch and release
            uint8_t note = 36 + random() % 16;
            bytes.insert(bytes.end(), {0x99, note, uint8_t(1 + random() % 127)});
            for (int i = 0; i < 4; ++i)
                bytes.insert(bytes.end(), {0xA9, note, uint8_t(random() % 128)});
            bytes.insert(bytes.end(), {0x89, note, 0x00});
            break;
        }
        case 3:
        case 4: // Q-Link turn, running status
            bytes.insert(bytes.end(), {0xB0, uint8_t(16 + random() % 4), uint8_t(random() % 128)});
            for (int i = 0; i < 6; ++i)
                bytes.insert(bytes.end(), {uint8_t(16 + random() % 4), uint8_t(random() % 128)});
            break;
        case 5: // button with a clock byte inside the message
            bytes.insert(bytes.end(), {0x90, 0x31, 0xF8, 0x7F, 0x80, 0x31, 0x00});
            break;
        case 6:
        case 7: // clock and active sensing
            bytes.insert(bytes.end(), {0xF8, 0xF8, 0xFE});
            break;
        case 8: // channel pressure and program change
            bytes.insert(bytes.end(), {0xD9, 0x40, 0xC0, 0x02});
            break;
        default: { // a long SysEx reply
            bytes.push_back(0xF0);
            for (int i = 0; i < 600; ++i)
                bytes.push_back(uint8_t(random() % 128));
            bytes.push_back(0xF7);
        }
        }
    }
    return bytes;
}

void BM_Decode(benchmark::State& state) {
    const auto bytes = makeStream(1 << 20);
    const size_t chunk = static_cast<size_t>(state.range(0));
    tandem::Stream stream;
    std::vector<tandem::MidiMessage> out;
    out.reserve(bytes.size() / 2);
    size_t messages = 0;
    for (auto _ : state) {
        out.clear();
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            stream.decode(std::span<const uint8_t>(bytes).subspan(at, std::min(chunk, bytes.size() - at)),
                          out);
        }
        messages += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    state.counters["messages/s"] = benchmark::Counter(double(messages), benchmark::Counter::kIsRate);
}
// Whole buffers, and packet-sized chunks as CoreMIDI tends to deliver them.
BENCHMARK(BM_Decode)->Arg(1 << 20)->Arg(64)->Arg(3);

} // namespace

BENCHMARK_MAIN();
