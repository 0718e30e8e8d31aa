// Reading the touch driver's log for its screen report: whatever the log's size, only its last
// 256 KB are read, so the check costs about one plain read of those bytes.
#include "base/FileSystem.h"
#include "base/Uuid.h"
#include "tandem/integration/TouchService.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using namespace tandem;
namespace fs = std::filesystem;

constexpr size_t tailBytes = 262144;

// A driver log of about `bytes` bytes: chatter, with the last start and a screen report near the end.
fs::path makeLog(size_t bytes) {
    static const fs::path folder = fs::temp_directory_path() / ("tandem-touch-log-" + Uuid::make());
    fs::create_directories(folder);
    fs::path file = folder / (std::to_string(bytes) + ".log");
    if (fs::exists(file)) return file;
    std::ofstream out(file, std::ios::binary);
    const std::string chatter = "touch 1023,511 → pointer (-257.1, 611.4) down\n";
    size_t written = 0;
    while (written + 4096 < bytes) {
        out << chatter;
        written += chatter.size();
    }
    out << "glassbridge v3 started (pid 733)\n";
    for (int i = 0; i < 40; ++i)
        out << chatter;
    out << "screen (MPC Touch): display 5066819, 1280x800\n";
    return file;
}

void BM_ScreenMapped(benchmark::State& state) {
    const fs::path log = makeLog(size_t(state.range(0)) << 20);
    for (auto _ : state) {
        auto mapped = TouchService::screenMapped(log, 5066819u);
        if (mapped != true) state.SkipWithError("the report was not found");
        benchmark::DoNotOptimize(mapped);
    }
}
BENCHMARK(BM_ScreenMapped)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

// The floor: open the file and read its last 256 KB, nothing else.
void BM_PlainTailRead(benchmark::State& state) {
    const fs::path log = makeLog(size_t(state.range(0)) << 20);
    std::string buffer(tailBytes, '\0');
    for (auto _ : state) {
        int fd = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
        off_t size = ::lseek(fd, 0, SEEK_END);
        ssize_t got = ::pread(fd, buffer.data(), tailBytes, size - off_t(tailBytes));
        ::close(fd);
        benchmark::DoNotOptimize(got);
    }
}
BENCHMARK(BM_PlainTailRead)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
