// Drawing a status card: one 1280 × 800 card into a QImage (TandemCardArt::render), the first time in
// the process and every time after. The first pays for what is made once per process (the grain's
// tile, the hand-lettered faces and Qt's font database); a later one should take no more than a third
// of that and at most 15 ms, since every status change redraws every card. The grain's tile alone is
// measured too.
#include "tandem/looks/CardBackdrop.h"
#include "tandem/looks/TandemCardArt.h"

#include "QtBenchMain.h"

#include <benchmark/benchmark.h>

namespace {

const std::string status = "MPC touch ready · starting its controls…";

void render(benchmark::State& state) {
    for (auto _ : state) {
        QImage card = tandem::TandemCardArt::render({1280, 800}, status);
        benchmark::DoNotOptimize(card.constBits());
    }
}

// Registered first and run once, so it is the process's first card.
void BM_FirstCard(benchmark::State& state) {
    render(state);
}
BENCHMARK(BM_FirstCard)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

void BM_LaterCard(benchmark::State& state) {
    render(state);
}
BENCHMARK(BM_LaterCard)->Unit(benchmark::kMillisecond);

void BM_GrainTile(benchmark::State& state) {
    for (auto _ : state) {
        QImage tile = tandem::CardBackdrop::makeGrainTexture();
        benchmark::DoNotOptimize(tile.constBits());
    }
}
BENCHMARK(BM_GrainTile)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return runBenchmarksWithQt(argc, argv);
}
