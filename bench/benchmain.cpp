#include "benchpairs.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<BenchPair> &pairs()
{
    static std::vector<BenchPair> registered;
    return registered;
}

// Keeps each benchmark's time per iteration (nanoseconds) besides printing it.
class CollectingReporter : public benchmark::ConsoleReporter
{
public:
    // No colour: its escape codes would stand before the first BENCH line.
    CollectingReporter() : ConsoleReporter(OO_Tabular) {}

    std::map<std::string, double> nanoseconds;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const double perIteration = run.GetAdjustedRealTime() *
                                        benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                        benchmark::GetTimeUnitMultiplier(run.time_unit);
            nanoseconds[run.benchmark_name()] = perIteration;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string readable(double ns)
{
    char text[64];
    if (ns >= 1e9)
        std::snprintf(text, sizeof text, "%.3fs", ns / 1e9);
    else if (ns >= 1e6)
        std::snprintf(text, sizeof text, "%.3fms", ns / 1e6);
    else if (ns >= 1e3)
        std::snprintf(text, sizeof text, "%.3fus", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.1fns", ns);
    return text;
}

} // namespace

int registerBenchPair(const BenchPair &pair)
{
    pairs().push_back(pair);
    return int(pairs().size());
}

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    int missing = 0;
    for (const BenchPair &pair : pairs()) {
        const auto value = reporter.nanoseconds.find(pair.valueBenchmark);
        const auto baseline = reporter.nanoseconds.find(pair.baselineBenchmark);
        if (value == reporter.nanoseconds.end() || baseline == reporter.nanoseconds.end()) {
            ++missing;
            continue;
        }
        const double ratio =
            pair.invertRatio ? baseline->second / value->second : value->second / baseline->second;
        std::printf("BENCH name=%s value=%s baseline=%s ratio=%.2f goal=%s\n", pair.name,
                    readable(value->second).c_str(), readable(baseline->second).c_str(), ratio, pair.goal);
    }
    return missing == 0 ? 0 : 1;
}
