#pragma once

// A measure reported by bench/run: a benchmark and its baseline, run side by
// side in the same process, reported as one line
//   BENCH name=<name> value=<value> baseline=<baseline> ratio=<ratio> goal=<goal>
// ratio is value / baseline, or baseline / value for throughput-style measures.
struct BenchPair
{
    const char *name;
    const char *valueBenchmark;
    const char *baselineBenchmark;
    const char *goal; // e.g. "<=3"
    bool invertRatio = false;
};

int registerBenchPair(const BenchPair &pair);

#define QUILLMARSH_BENCH_PAIR(name, value, baseline, goal)                                                   \
    [[maybe_unused]] static const int name##_registered = registerBenchPair({#name, #value, #baseline, goal})
