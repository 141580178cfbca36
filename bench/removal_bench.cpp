// Expansion and cleanup of a product with N files and N registry keys on the simulated
// machine: the working lists are built (subtrees walked, ignore entries subtracted), then
// the files are queued and the values and keys deleted. The fitted complexity shows the
// growth; "lists_heap_MB" is the heap the working lists hold once expanded, and
// "peak_rss_MB" the process's peak so far (the sizes run in ascending order).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <memory>
#include <string>

#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/sim/sim_machine.h"

namespace {

using platform::sim::SimMachine;
using platform::sim::View;

constexpr int kPerFolder = 100;

std::unique_ptr<SimMachine> BuildProduct(int n) {
    auto m = std::make_unique<SimMachine>();
    m->registry.SetString(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        "Common AppData", "C:\\ProgramData");
    for (int i = 0; i < n; ++i) {
        std::string folder = std::to_string(i / kPerFolder);
        std::string item = std::to_string(i % kPerFolder);
        m->files.CreateFile("C:\\Program Files (x86)\\Kelvaris\\F" + folder + "\\file" + item + ".dll", "x");
        std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\K" + folder + "\\Key" + item;
        m->registry.SetString(key, "Value", "data", View::K64);
    }
    // Something to keep: the subtraction and its whole-tree rule run over every object.
    m->files.CreateFile("C:\\Program Files (x86)\\Kelvaris\\Keep\\license.key", "x");
    m->registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Keep", View::K64);
    return m;
}

double MegaBytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void BM_ExpandAndCleanup(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double listsHeap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<SimMachine> m = BuildProduct(n);
        KvQmrLogging::ResetForTests(&m->platform());
        KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0);
        auto nuke = std::make_unique<engine::CNuke>(m->platform());
        (void)nuke->removeFileList.Insert("C:\\PROGRAM FILES (X86)\\KELVARIS");
        (void)nuke->removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS");
        (void)nuke->ignoreFileList.Insert("C:\\PROGRAM FILES (X86)\\KELVARIS\\KEEP");
        (void)nuke->ignoreRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP");
        const size_t heapBefore = mallinfo2().uordblks;
        state.ResumeTiming();

        benchmark::DoNotOptimize(nuke->ExpandLists());
        // The lists are at their largest here; the cleanup only frees the sim's objects.
        listsHeap = MegaBytes(mallinfo2().uordblks) - MegaBytes(heapBefore);
        benchmark::DoNotOptimize(nuke->CleanupFiles());
        benchmark::DoNotOptimize(nuke->CleanupRegValues());
        benchmark::DoNotOptimize(nuke->CleanupRegKeys());

        state.PauseTiming();
        if (nuke->fileList.Count() < static_cast<uint32_t>(n))
            state.SkipWithError("files were not all listed");
        nuke.reset();
        KvQmrLogging::ResetForTests(nullptr);
        m.reset();
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["objects"] = 2.0 * n;
    state.counters["lists_heap_MB"] = listsHeap;
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.SetItemsProcessed(state.iterations() * 2 * n);
    state.SetComplexityN(n);
}
BENCHMARK(BM_ExpandAndCleanup)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Complexity(benchmark::oN);

}  // namespace
