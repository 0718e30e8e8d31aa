// One tick of the health monitor on this machine's services (the process table, sysfs, the display
// list, the two log tails), against one bare scan of /proc in the same run. The monitor runs for days
// at one tick a second: its tick should stay near the cost of the scan it cannot avoid.

#include "base/SimTime.h"
#include "platform/linux/AlsaMidiSystem.h"
#include "platform/linux/LibUsbHost.h"
#include "platform/linux/LinuxAudioDevices.h"
#include "platform/linux/LinuxDisplays.h"
#include "platform/linux/LinuxHid.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/ProcFs.h"
#include "platform/sim/SimPower.h"
#include "platform/sim/SimSystemLog.h"
#include "tools/ToolWorld.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <ostream>
#include <streambuf>

namespace tandem::vigil {
int run(const std::vector<std::string>& arguments, ToolWorld& world, std::ostream& out, std::ostream& err);
}

namespace {

using namespace tandem;

class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_VigilTick(benchmark::State& state) {
    // The tails look under HOME: a folder of the benchmark's own.
    std::filesystem::path home = std::filesystem::temp_directory_path() / "vigil-tick-bench";
    std::filesystem::create_directories(home / "Library/Logs");
    SimTime time;
    AlsaMidiSystem midi;
    LibUsbHost usb;
    LinuxHid hid;
    LinuxDisplays displays;
    LinuxAudioDevices audio;
    SimSystemLog systemLog; // the log reader is a thread of its own, outside the tick
    SimPower power;
    LinuxProcesses processes;
    NullBuffer sink;
    std::ostream out(&sink);
    ToolWorld world{time,
                    time.makeQueue("main"),
                    time.makeQueue("syslog"),
                    midi,
                    usb,
                    hid,
                    displays,
                    audio,
                    systemLog,
                    power,
                    processes,
                    home,
                    [&] {
                        // The timer fires once a second of virtual time: one tick per advance.
                        for (auto _ : state)
                            time.advance(1);
                    },
                    [&](double seconds) { time.advance(seconds); }};
    vigil::run({}, world, out, out);
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_VigilTick)->Unit(benchmark::kMicrosecond);

void BM_ProcScan(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(procfs::list("/proc"));
}
BENCHMARK(BM_ProcScan)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
