// Routing throughput: a realistic MPC stream (pads with aftertouch, Q-Link turns, buttons, bank
// changes) through KoalaControlRouter::consume, chunk by chunk as the MIDI thread delivers it.
#include "tandem/mpc/KoalaControlRouter.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

struct Chunk {
    std::vector<uint8_t> bytes;
    uint32_t source;
    tandem::Role role;
};

std::vector<Chunk> makeStream(size_t messages, size_t& count) {
    std::mt19937 random(3);
    std::vector<Chunk> chunks;
    count = 0;
    while (count < messages) {
        Chunk chunk{{}, 1, tandem::Role::publicControl};
        switch (random() % 8) {
        case 0:
        case 1:
        case 2: { // a pad hit with pressure and release
            uint8_t note = tandem::KoalaPadMapper::physicalPadOrder[random() % 16];
            chunk.bytes = {0x99, note, uint8_t(1 + random() % 127)};
            for (int i = 0; i < 6; ++i)
                chunk.bytes.insert(chunk.bytes.end(), {0xA9, note, uint8_t(random() % 128)});
            chunk.bytes.insert(chunk.bytes.end(), {0x89, note, 0x00});
            count += 8;
            break;
        }
        case 3:
        case 4:
        case 5: // Q-Link turns in running status
            chunk.bytes = {0xB0, uint8_t(16 + random() % 4), uint8_t(random() % 128)};
            for (int i = 0; i < 5; ++i)
                chunk.bytes.insert(chunk.bytes.end(), {uint8_t(16 + random() % 4), uint8_t(random() % 128)});
            count += 6;
            break;
        case 6: // a shared button
            chunk.bytes = {0x90, 0x49, 0x7F, 0x80, 0x49, 0x00};
            count += 2;
            break;
        default: // a bank change on Private
            chunk = {{0x90, uint8_t(35 + random() % 4), 0x7F, 0x80, uint8_t(35 + random() % 4), 0x00},
                     2,
                     tandem::Role::privateSelector};
            count += 2;
        }
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

void BM_Consume(benchmark::State& state) {
    size_t perPass = 0;
    const auto chunks = makeStream(200000, perPass);
    tandem::KoalaControlRouter router;
    tandem::KoalaControlRouter::Events events;
    events.reserve(64);
    size_t produced = 0;
    for (auto _ : state) {
        for (const Chunk& chunk : chunks) {
            events.clear();
            router.consume(chunk.bytes, chunk.source, chunk.role, true, events);
            produced += events.size();
        }
        router.newHolds.clear();
        benchmark::DoNotOptimize(produced);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(perPass));
    state.counters["messages/s"] =
        benchmark::Counter(double(state.iterations()) * double(perPass), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Consume)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
