// A run cut off at any call that changes the machine (a power loss, a process ended by a
// deployment system's time-out), then run again and the machine restarted, leaves the
// machine as one uninterrupted run and a restart leave it; every registry entry either run
// deleted is in a backup file.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/app_machine.h"
#include "app/demo_machine.h"
#include "app/scour_app.h"
#include "app/sim_snapshot.h"
#include "expand/removal_generator.h"

namespace {

using platform::sim::SimMachine;

constexpr char kBackupFolder[] = "C:\\Windows\\Logs\\SweepTool\\Backup";

// The machine of case `c`: the tool in C:\Tools beside a configuration that removes the demo
// product (cases 0 and 1: installer products, a service, processes, a layered provider) or
// a generated product (seed c - 1); every third case in safe mode with networking.
void Build(SimMachine& m, uint32_t c) {
    if (c < 2) {
        apptest::BuildDemoMachine(m);
    } else {
        apptest::InstallTool(m);
        apptest::UseWindows10(m);
        for (const char* f : removal_gen::kSystemFiles) m.files.CreateFile(f, "system");
        removal_gen::Generator gen(c - 1);
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", gen.Build(m).config);
    }
    lists_test::BindLog(m);
    m.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "LogLevel", 4);
    m.system.arguments = {"sweeptool", "--NOGUI", "--noreboot"};
    if (m.services.Find("msiserver") == nullptr) m.services.Add("msiserver");
    if (c % 3 == 1) m.system.metrics[platform::kSmCleanBoot] = 2;
    KvQmrLogging::ResetForTests(nullptr);
}

// One process of the tool from its start to its end, without a restart of its own. What a
// cut process held is let go as Windows lets it go when a process ends.
void RunTool(SimMachine& m) {
    KvQmrLogging::ResetForTests(&m.platform());
    {
        app::CScourApp application(m.platform());
        (void)application.InitInstance();
    }
    KvQmrLogging::ResetForTests(nullptr);
    (void)m.sync.AbandonOwned();
}

std::string State(SimMachine& m) { return apptest::SimSnapshot(m, {apptest::kToolLogFolder, apptest::kToolFolder}, false); }

std::multiset<std::string> Lines(const std::string& text) {
    std::multiset<std::string> out;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.insert(text.substr(at, end - at));
    }
    return out;
}

// What a cut run and the run after it may leave, given what one run leaves (`once`) and
// what two runs leave (`twice`): everything both leave, and nothing that neither leaves.
// The two differ where a key or value exists in both registry views: a run deletes it in
// the 32-bit view only, and the next run the 64-bit copy. Returns the offending lines.
std::string Unlike(const std::string& once, const std::string& twice, const std::string& found) {
    const auto a = Lines(once), b = Lines(twice), c = Lines(found);
    std::string out;
    for (const auto& line : a)
        if (b.count(line) != 0 && c.count(line) == 0) out += "- " + line + "\n";
    for (const auto& line : c)
        if (a.count(line) == 0 && b.count(line) == 0) out += "+ " + line + "\n";
    return out;
}

// Every backup file's text, upper case, without the zeros of UTF-16.
std::string Backups(SimMachine& m) {
    std::string all;
    if (!m.files.Exists(kBackupFolder)) return all;
    for (const std::string& name : m.files.List(kBackupFolder)) {
        std::string text = m.files.Contents(std::string(kBackupFolder) + "\\" + name);
        text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
        for (char& c : text)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        all += text;
    }
    return all;
}

// The keys of the 64-bit view that `before` holds and `after` lacks ("key <path>" lines).
std::vector<std::string> DeletedKeys(const std::string& before, const std::string& after) {
    std::vector<std::string> gone;
    size_t at = 0;
    while ((at = before.find("key HKEY_", at)) != std::string::npos) {
        // Names may hold blanks: the path ends where the owner begins.
        size_t end = std::min(before.find(" owner=", at), before.find('\n', at));
        std::string line = before.substr(at, end - at);
        // An empty WOW6432Node is not shown (Windows always has one), so it is never gone.
        const bool wow = line.size() > 12 && line.compare(line.size() - 12, 12, "\\WOW6432Node") == 0;
        if (!wow && after.find(line + " ") == std::string::npos && after.find(line + "\n") == std::string::npos)
            gone.push_back(line.substr(4));
        at = end;
    }
    return gone;
}

TEST(CutPropertyTest, ACutRunFinishedByASecondRunLeavesWhatOneRunLeaves) {
    int cuts = 0, seeds = 0;
    for (uint32_t seed = 0; seed <= 7; ++seed) {
        SCOPED_TRACE("case " + std::to_string(seed));
        SimMachine reference;
        Build(reference, seed);
        const std::string before = State(reference);
        RunTool(reference);
        const int changes = reference.faults.Changes();
        SimMachine twice;
        Build(twice, seed);
        RunTool(twice);
        RunTool(twice);
        reference.SimulateRestart();
        twice.SimulateRestart();
        const std::string once = State(reference), both = State(twice);
        ASSERT_GT(changes, 0);
        ++seeds;

        // Every changing call of a small run, a spread of them in a large one, and always the
        // first ones, where the run prepares what it undoes at its end.
        std::set<int> points;
        for (int k = 1; k <= std::min(changes, 12); ++k) points.insert(k);
        for (int k = 1; k <= changes; k += std::max(1, changes / 60)) points.insert(k);
        for (int k : points) {
            SCOPED_TRACE("cut at change " + std::to_string(k) + " of " + std::to_string(changes));
            SimMachine m;
            Build(m, seed);
            m.faults.CutAtChange(k);
            RunTool(m);
            m.faults.Restore();
            RunTool(m);
            m.SimulateRestart();
            const std::string state = State(m);
            EXPECT_EQ("", Unlike(once, both, state));
            const std::string saved = Backups(m);
            for (const std::string& key : DeletedKeys(before, state)) {
                std::string upper = key;
                for (char& c : upper)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            }
            ++cuts;
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(cuts, seeds * 10);
}

}  // namespace
