// How many platform calls each phase of the removal makes per object, on the simulated
// machine: the number that decides a phase's cost on a real one, where every call that
// reaches the kernel (or Wine's server) costs far more than the bookkeeping around it.
// Printed once as a table (calls of a phase per listed object, the larger ones only).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/sim/sim_machine.h"

namespace {

using platform::sim::SimMachine;
using platform::sim::View;

void BM_CallsPerObject(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        SimMachine m;
        m.registry.SetString(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
            "Common AppData", "C:\\ProgramData");
        for (int i = 0; i < n; ++i) {
            const std::string folder = std::to_string(i / 100), item = std::to_string(i % 100);
            m.files.CreateFile("C:\\Program Files (x86)\\KvBench\\d" + folder + "\\f" + item + ".dat", "x");
            m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\KvBench\\k" + folder + "\\k" + item, "Data", "x",
                                 View::K64);
        }
        KvQmrLogging::ResetForTests(&m.platform());
        KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0);
        engine::CNuke nuke(m.platform());
        (void)nuke.removeFileList.Insert("C:\\PROGRAM FILES (X86)\\KVBENCH");
        (void)nuke.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KVBENCH");
        std::map<std::string, long> counts;
        m.faults.SetHook([&](const std::string& call) { ++counts[call]; });
        auto phase = [&](const char* name, uint32_t (engine::CNuke::*run)()) {
            counts.clear();
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize((nuke.*run)());
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::printf("%s (%.0f ms on the simulated machine)\n", name, ms);
            for (const auto& [call, count] : counts)
                if (count * 10 >= n) std::printf("  %-32s %8.2f\n", call.c_str(), double(count) / n);
        };
        phase("lists", &engine::CNuke::ExpandLists);
        phase("files", &engine::CNuke::CleanupFiles);
        phase("values", &engine::CNuke::CleanupRegValues);
        phase("keys", &engine::CNuke::CleanupRegKeys);
        m.faults.SetHook(nullptr);
        KvQmrLogging::ResetForTests(nullptr);
    }
}
BENCHMARK(BM_CallsPerObject)->Arg(1000)->Arg(4000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
