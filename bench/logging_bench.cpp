// The cost of a record the level filter drops (level 5 at threshold 4) and of one that is
// written, on the simulated machine. The "allocs/op" counter shows that a filtered record
// allocates nothing.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "logging/log.h"
#include "platform/sim/sim_machine.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

// Counts every allocation of the benchmark program; forwards to malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class LoggerFixture {
  public:
    LoggerFixture() {
        machine.registry.SetString(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
            "Common AppData", "C:\\ProgramData");
        KvQmrLogging::ResetForTests(&machine.platform());
        KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0);
    }
    ~LoggerFixture() { KvQmrLogging::ResetForTests(nullptr); }
    platform::sim::SimMachine machine;
};

void BM_FilteredRecord(benchmark::State& state) {
    LoggerFixture fixture;
    int i = 0;
    long before = allocations.load();
    for (auto _ : state) {
        KvQmrLogging::LogWriteA(5, "%s: MoveFileEx for '%s' was successful (%d)", "CNuke::RemovePath",
                                "C:\\Program Files\\Product\\file.dll", ++i);
    }
    state.counters["allocs/op"] = benchmark::Counter(static_cast<double>(allocations.load() - before),
                                                     benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FilteredRecord);

void BM_WrittenRecord(benchmark::State& state) {
    LoggerFixture fixture;
    int i = 0;
    long before = allocations.load();
    for (auto _ : state) {
        KvQmrLogging::LogWriteA(4, "%s: MoveFileEx for '%s' was successful (%d)", "CNuke::RemovePath",
                                "C:\\Program Files\\Product\\file.dll", ++i);
    }
    state.counters["allocs/op"] = benchmark::Counter(static_cast<double>(allocations.load() - before),
                                                     benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WrittenRecord);

}  // namespace
