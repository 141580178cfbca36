// The entry point of the benchmark program; the benchmarks live in the other files here.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
