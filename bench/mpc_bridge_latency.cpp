// End-to-end latency of the MPC bridge on real threads, at a player's pace: from a simulated MPC's
// packet entering the MIDI system to the routed note arriving at a listener on the virtual source
// "Tandem". The MIDI system's delivery thread, the input queue and the controller queue are real
// ThreadQueues. The sender sleeps between notes and blocks while it waits, as a player's hands do: a
// spinning sender would take a whole core of a small machine away from the very queues measured.
#include "base/ThreadQueue.h"
#include "mpc_controller_setup/controller_setup.h"
#include "platform/sim/SimMidiSystem.h"
#include "platform/sim/SimMpcTouch.h"
#include "tandem/mpc/KoalaMIDIBridge.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

using namespace tandem;
using Steady = std::chrono::steady_clock;

// The bridge on its queues, the simulated MPC, and Koala's side: every note arriving on "Tandem" is
// stamped in arrival order.
class Rig {
public:
    Rig() {
        controller_use(&midi, &SystemClock::shared(), quiet, quiet);
        std::atomic<bool> ready{false};
        if (!bridge->start([&] { ready = true; }).ok()) return;
        while (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        bridge->setRoutingEnabled(true);
        midi.clientCreate("Koala", nullptr, &client);
        midi.inputPortCreate(
            client, "Koala In",
            [this](const MidiPacketList&, void*) {
                auto now = Steady::now();
                std::lock_guard guard(lock);
                arrivals.push_back(now);
                arrived.notify_all();
            },
            &port);
        midi.portConnectSource(port, midi.findSource("Tandem"), nullptr);
        started = true;
    }
    ~Rig() {
        bridge->stop();
        controller_use(nullptr, nullptr);
        std::fclose(quiet);
    }

    // Blocks until `count` notes have arrived in all (false after a second without progress).
    bool waitFor(size_t count) {
        std::unique_lock guard(lock);
        return arrived.wait_for(guard, std::chrono::seconds(1), [&] { return arrivals.size() >= count; });
    }
    std::vector<Steady::time_point> takeArrivals() {
        std::lock_guard guard(lock);
        return std::exchange(arrivals, {});
    }

    bool started = false;
    std::shared_ptr<ThreadQueue> delivery = std::make_shared<ThreadQueue>("CoreMIDI");
    std::shared_ptr<ThreadQueue> input = std::make_shared<ThreadQueue>("Tandem.MIDIInput");
    std::shared_ptr<ThreadQueue> controller = std::make_shared<ThreadQueue>("Tandem.ControllerOutput");
    std::shared_ptr<ThreadQueue> main = std::make_shared<ThreadQueue>("main");
    SimMidiSystem midi{delivery, SystemClock::shared()};
    SimMpcTouch mpc{midi};
    KoalaPerformanceFeed feed{SystemClock::shared()};
    std::shared_ptr<KoalaMIDIBridge> bridge =
        KoalaMIDIBridge::create(midi, SystemClock::shared(), input, controller, main, feed);

private:
    std::FILE* quiet = std::fopen("/dev/null", "w");
    MidiClientRef client = 0;
    MidiPortRef port = 0;
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Steady::time_point> arrivals;
};

void report(benchmark::State& state, const std::vector<Steady::time_point>& sent,
            const std::vector<Steady::time_point>& arrivals) {
    if (arrivals.size() != sent.size()) {
        state.SkipWithError("notes were lost on the way");
        return;
    }
    std::vector<double> latencies;
    latencies.reserve(sent.size());
    for (size_t i = 0; i < sent.size(); ++i)
        latencies.push_back(std::chrono::duration<double, std::micro>(arrivals[i] - sent[i]).count());
    std::sort(latencies.begin(), latencies.end());
    state.counters["messages"] = double(latencies.size());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
    state.counters["max_us"] = latencies.back();
}

// One message every 2 ms, alternating press and release so that each gives Koala one note.
void BM_SteadyStream(benchmark::State& state) {
    Rig rig;
    if (!rig.started) {
        state.SkipWithError("bridge did not start");
        return;
    }
    const int count = int(state.range(0));
    std::vector<Steady::time_point> sent;
    sent.reserve(size_t(count));
    for (auto _ : state) {
        auto next = Steady::now();
        int pad = 1;
        for (int i = 0; i < count; ++i) {
            next += std::chrono::milliseconds(2);
            std::this_thread::sleep_until(next);
            sent.push_back(Steady::now());
            if (i % 2 == 0) {
                rig.mpc.pressPad(pad, 100);
            } else {
                rig.mpc.releasePad(pad);
                pad = pad % 16 + 1;
            }
        }
        rig.waitFor(sent.size());
    }
    report(state, sent, rig.takeArrivals());
}
BENCHMARK(BM_SteadyStream)->Arg(5000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// All sixteen pads struck at once, then all released, with a short rest between bursts.
void BM_BurstOf16(benchmark::State& state) {
    Rig rig;
    if (!rig.started) {
        state.SkipWithError("bridge did not start");
        return;
    }
    const int bursts = int(state.range(0));
    std::vector<Steady::time_point> sent;
    sent.reserve(size_t(bursts) * 32);
    for (auto _ : state) {
        for (int burst = 0; burst < bursts; ++burst) {
            for (bool press : {true, false}) {
                for (int pad = 1; pad <= 16; ++pad) {
                    sent.push_back(Steady::now());
                    if (press) {
                        rig.mpc.pressPad(pad, 100);
                    } else {
                        rig.mpc.releasePad(pad);
                    }
                }
                rig.waitFor(sent.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    report(state, sent, rig.takeArrivals());
}
BENCHMARK(BM_BurstOf16)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
