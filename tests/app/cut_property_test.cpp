// A run cut off at any call that changes the machine (a power loss, a process ended by a
// deployment system's time-out), then run again and the machine restarted, leaves the
// machine as one uninterrupted run and a restart leave it; every registry key and value
// either run deleted was, at the moment it went, complete in a backup file on the disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/run_harness.h"

namespace {

using namespace apptest::harness;

// One machine of the property: the tool in C:\Tools beside a configuration that removes the
// demo product (installer products, a service, processes, a layered provider) or a
// generated product, whose trees `scale` widens. A small run is cut at every changing call;
// a large one at its first calls, where the run prepares what it undoes at its end, and at
// `spread` calls spread evenly over the rest (`offset`: half a step on, so that the normal
// and the safe-mode demo are cut at different places). `shards` tests share the cuts out,
// and ctest runs them side by side.
struct Machine {
    const char* name;
    int seed;  // of the generated product; < 0: the demo product
    int scale;
    bool safeMode;  // with networking
    int spread;     // 0: every changing call
    bool offset;
    int shards;
};

const Machine kMachines[] = {
    {"Demo", -1, 1, false, 100, false, 1},      {"DemoSafeMode", -1, 1, true, 100, true, 1},
    {"Seed1", 1, 1, false, 0, false, 1},        {"Seed2", 2, 1, false, 0, false, 2},
    {"Seed3SafeMode", 3, 1, true, 0, false, 1}, {"Seed4", 4, 1, false, 0, false, 1},
    {"Seed5", 5, 1, false, 0, false, 1},        {"Seed6SafeMode", 6, 1, true, 0, false, 1},
    {"Large7", 7, 2, false, 240, false, 2},     {"Large8SafeMode", 8, 2, true, 240, false, 2},
};

using Shard = apptest::harness::Shard<Machine>;

void Build(SimMachine& m, const Machine& c) { apptest::harness::Build(m, c.seed, c.scale, c.safeMode); }

std::vector<int> CutPoints(const Machine& c, int changes, int index) {
    std::set<int> points;
    if (c.spread == 0) {
        for (int k = 1; k <= changes; ++k) points.insert(k);
    } else {
        for (int k = 1; k <= std::min(changes, 12); ++k) points.insert(k);
        for (int64_t i = 0; i < c.spread; ++i)
            points.insert(1 +
                          static_cast<int>((2 * i + (c.offset ? 1 : 0)) * (changes - 1) / (2 * c.spread)));
        points.insert(changes);
    }
    std::vector<int> mine;
    int i = 0;
    for (int k : points)
        if (i++ % c.shards == index) mine.push_back(k);
    return mine;
}

class CutPropertyTest : public ::testing::TestWithParam<Shard> {};

TEST_P(CutPropertyTest, ACutRunFinishedByASecondRunLeavesWhatOneRunLeaves) {
    const Machine& c = *GetParam().machine;
    SimMachine reference;
    Build(reference, c);
    const std::string before = State(reference);
    const std::set<std::string> built = Entries(reference);
    RunTool(reference);
    const int changes = reference.faults.Changes();
    SimMachine twice;
    Build(twice, c);
    RunTool(twice);
    RunTool(twice);
    reference.SimulateRestart();
    twice.SimulateRestart();
    const std::string once = State(reference), both = State(twice);
    ASSERT_GT(changes, 0);

    const std::vector<int> points = CutPoints(c, changes, GetParam().index);
    int deletions = 0;
    for (int k : points) {
        SCOPED_TRACE("cut at change " + std::to_string(k) + " of " + std::to_string(changes));
        SimMachine m;
        Build(m, c);
        BackupWatch watch(m, built);
        m.faults.CutAtChange(k);
        RunTool(m);
        m.faults.Restore();
        RunTool(m);
        m.SimulateRestart();
        const std::string state = State(m);
        EXPECT_EQ("", Unlike(once, both, state));
        EXPECT_EQ("", watch.Unsaved());
        const std::string saved = Backups(m);
        for (const std::string& key : DeletedKeys(before, state)) {
            if (watch.ByService(key)) continue;
            EXPECT_NE(saved.find("[" + Upper(key) + "]\r\n"), std::string::npos) << "not saved: " << key;
        }
        deletions += watch.Deletions();
        if (HasFailure()) return;
    }
    // The shards share the points out one by one: the last ones may have one fewer.
    EXPECT_GE(points.size() * c.shards + c.shards - 1,
              static_cast<size_t>(std::min(changes, c.spread == 0 ? changes : c.spread)));
    EXPECT_GT(deletions, 0);
}

INSTANTIATE_TEST_SUITE_P(Machines, CutPropertyTest, ::testing::ValuesIn(Shards(kMachines)),
                         ShardName<Machine>);

}  // namespace
