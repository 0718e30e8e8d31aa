#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace tandem {

// The console's table, keeping each benchmark's time per iteration (CPU or real) so that ratios
// between them can be printed after it.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    enum class Time { cpu, real };
    explicit RatioReporter(Time time)
        : time(time) {}

    std::map<std::string, double> times;

    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& run : reports) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] =
                    time == Time::cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(reports);
    }

private:
    Time time;
};

} // namespace tandem
