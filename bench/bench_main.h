// A benchmark main that tunes the allocator as the converter does at start.
#pragma once

#include <benchmark/benchmark.h>

#include "runtime/allocator.h"

#define REVIZEVOZ_BENCHMARK_MAIN()                                                                                     \
    int main(int argc, char** argv) {                                                                                  \
        rv::keepModelMemoryForReuse();                                                                                 \
        benchmark::Initialize(&argc, argv);                                                                            \
        if (benchmark::ReportUnrecognizedArguments(argc, argv))                                                        \
            return 1;                                                                                                  \
        benchmark::RunSpecifiedBenchmarks();                                                                           \
        benchmark::Shutdown();                                                                                         \
        return 0;                                                                                                      \
    }
