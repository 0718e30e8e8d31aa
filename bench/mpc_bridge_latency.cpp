// End-to-end latency of the MPC bridge on real threads: from a simulated MPC's packet entering the
// MIDI system to the routed note arriving at a listener on the virtual source "Tandem". The MIDI
// system's delivery thread, the input queue and the controller queue are real ThreadQueues.
#include "base/ThreadQueue.h"
#include "mpc_controller_setup/controller_setup.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimMpcTouch.h"
#include "tandem/mpc/KoalaMIDIBridge.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using namespace tandem;
using Steady = std::chrono::steady_clock;

void BM_BridgeLatency(benchmark::State& state) {
    auto delivery = std::make_shared<ThreadQueue>("CoreMIDI");
    auto input = std::make_shared<ThreadQueue>("Tandem.MIDIInput");
    auto controller = std::make_shared<ThreadQueue>("Tandem.ControllerOutput");
    auto main = std::make_shared<ThreadQueue>("main");
    SimMidiSystem midi(delivery, SystemClock::shared());
    SimMpcTouch mpc(midi);
    KoalaPerformanceFeed feed(SystemClock::shared());
    auto bridge = KoalaMIDIBridge::create(midi, SystemClock::shared(), input, controller, main, feed);
    std::FILE* quiet = std::fopen("/dev/null", "w");
    controller_use(&midi, &SystemClock::shared(), quiet, quiet);

    std::atomic<bool> ready{false};
    if (!bridge->start([&] { ready = true; }).ok()) {
        state.SkipWithError("bridge did not start");
        return;
    }
    while (!ready)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    bridge->setRoutingEnabled(true);

    std::atomic<int64_t> arrived{0};
    MidiClientRef client = 0;
    MidiPortRef port = 0;
    midi.clientCreate("Koala", nullptr, &client);
    midi.inputPortCreate(
        client, "Koala In",
        [&](const MidiPacketList&, void*) {
            arrived = std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
                          .count();
        },
        &port);
    midi.portConnectSource(port, midi.findSource("Tandem"), nullptr);

    std::vector<double> latencies;
    latencies.reserve(100000);
    int pad = 1;
    for (auto _ : state) {
        for (int i = 0; i < 100000; ++i) {
            arrived = 0;
            auto sent = std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
                            .count();
            // Alternate press and release so that every message produces one note for Koala.
            if (i % 2 == 0) {
                mpc.pressPad(pad, 100);
            } else {
                mpc.releasePad(pad);
                pad = pad % 16 + 1;
            }
            while (arrived.load(std::memory_order_acquire) == 0) {
            }
            latencies.push_back(double(arrived - sent) / 1000.0);
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
    state.counters["max_us"] = latencies.back();
    bridge->stop();
    std::fclose(quiet);
}
BENCHMARK(BM_BridgeLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
