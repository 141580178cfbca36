// A run cut off at any call that changes the machine (a power loss, a process ended by a
// deployment system's time-out), then run again and the machine restarted, leaves the
// machine as one uninterrupted run and a restart leave it; every registry key and value
// either run deleted was, at the moment it went, complete in a backup file on the disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <ostream>
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
using platform::sim::SimRegDeletion;
using platform::sim::View;
using apptest::snapshot_detail::Upper;

constexpr char kBackupFolder[] = "C:\\Windows\\Logs\\SweepTool\\Backup";

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

struct Shard {
    const Machine* machine;
    int index;
};

void PrintTo(const Shard& s, std::ostream* os) { *os << s.machine->name << " part " << s.index + 1; }

void Build(SimMachine& m, const Machine& c) {
    if (c.seed < 0) {
        apptest::BuildDemoMachine(m);
    } else {
        apptest::InstallTool(m);
        apptest::UseWindows10(m);
        for (const char* f : removal_gen::kSystemFiles) m.files.CreateFile(f, "system");
        removal_gen::Generator gen(static_cast<uint32_t>(c.seed), c.scale);
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", gen.Build(m).config);
    }
    lists_test::BindLog(m);
    m.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "LogLevel", 4);
    m.system.arguments = {"sweeptool", "--NOGUI", "--noreboot"};
    if (m.services.Find("msiserver") == nullptr) m.services.Add("msiserver");
    if (c.safeMode) m.system.metrics[platform::kSmCleanBoot] = 2;
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

std::string State(SimMachine& m) {
    return apptest::SimSnapshot(m, {apptest::kToolLogFolder, apptest::kToolFolder}, false);
}

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

// A backup file's text, upper case, one character for each UTF-16 unit ('?' beyond ASCII),
// so that a count of bytes on the disk halves to a place in it.
std::string Narrow(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                         << 8;
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return Upper(text);
}

// Every backup file's text.
std::string Backups(SimMachine& m) {
    std::string all;
    for (const std::string& name : m.files.List(kBackupFolder))
        all += Narrow(m.files.Contents(std::string(kBackupFolder) + "\\" + name));
    return all;
}

// The keys ("K") and values ("K|NAME") of the whole registry, upper case, in the 64-bit view,
// where the 32-bit copies are the keys below WOW6432Node.
void Entries(SimMachine& m, const std::string& key, std::set<std::string>& out) {
    out.insert(Upper(key));
    for (const std::string& v : m.registry.ValuesUnder(key, View::K64)) out.insert(Upper(key + "|" + v));
    for (const std::string& k : m.registry.KeysUnder(key, View::K64)) Entries(m, key + "\\" + k, out);
}

std::set<std::string> Entries(SimMachine& m) {
    std::set<std::string> out;
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"}) Entries(m, root, out);
    return out;
}

// Watches the deletions of the entries a machine was built with. At each, it notes how many
// bytes every backup file had on the disk; afterwards it finds each entry in what was there
// then: the section of its key, closed by its blank line, holding the value's line.
class BackupWatch {
  public:
    BackupWatch(SimMachine& m, const std::set<std::string>& built) : m_(m), built_(built) {
        m_.registry.onDelete = [this](const SimRegDeletion& d) { Seen(d); };
    }
    ~BackupWatch() { m_.registry.onDelete = nullptr; }
    BackupWatch(const BackupWatch&) = delete;
    BackupWatch& operator=(const BackupWatch&) = delete;

    // The installer's own deletions in an uninstall are the installer's to undo.
    bool ByService(const std::string& key) const { return service_.count(Upper(key)) != 0; }
    int Deletions() const { return static_cast<int>(seen_.size()); }

    // One line for each entry that went before a backup held it.
    std::string Unsaved() const {
        std::map<std::string, std::string> texts;
        for (const std::string& name : m_.files.List(kBackupFolder))
            texts[name] = Narrow(m_.files.Contents(std::string(kBackupFolder) + "\\" + name));
        std::string out;
        for (const Deletion& d : seen_) {
            if (d.wholeKey && !Saved(texts, d, nullptr)) out += "key " + d.key + "\n";
            for (const std::string& v : d.values)
                if (!Saved(texts, d, &v)) out += "value " + d.key + " [" + v + "]\n";
        }
        return out;
    }

  private:
    struct Deletion {
        std::string key;
        bool wholeKey;
        std::vector<std::string> values;
        std::map<std::string, uint64_t> onDisk;  // bytes of each backup file
    };

    void Seen(const SimRegDeletion& d) {
        const std::string key = Upper(d.key);
        if (d.byService) {
            service_.insert(key);
            return;
        }
        Deletion e{key, d.wholeKey && built_.count(key) != 0, {}, {}};
        for (const std::string& v : d.values)
            if (built_.count(key + "|" + Upper(v)) != 0) e.values.push_back(Upper(v));
        if (!e.wholeKey && e.values.empty()) return;
        for (const std::string& name : m_.files.List(kBackupFolder))
            e.onDisk[name] = m_.files.Size(std::string(kBackupFolder) + "\\" + name);
        seen_.push_back(std::move(e));
    }

    static bool Saved(const std::map<std::string, std::string>& texts, const Deletion& d,
                      const std::string* value) {
        std::vector<std::string> headers{"[" + d.key + "]\r\n"};
        const std::string classes = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\";
        if (d.key.compare(0, classes.size(), classes) == 0)
            headers.push_back("[HKEY_CLASSES_ROOT\\" + d.key.substr(classes.size()) + "]\r\n");
        std::string line;
        if (value != nullptr) {
            line = value->empty() ? "\r\n@=" : "\r\n\"";
            for (char c : *value) line += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
            if (!value->empty()) line += "\"=";
        }
        for (const auto& [name, bytes] : d.onDisk) {
            auto it = texts.find(name);
            if (it == texts.end()) continue;
            const std::string& text = it->second;
            const size_t end = std::min<size_t>(bytes / 2, text.size());
            for (const std::string& header : headers) {
                for (size_t at = text.find(header); at != std::string::npos && at + header.size() <= end;
                     at = text.find(header, at + 1)) {
                    const size_t close = text.find("\r\n\r\n", at + header.size() - 2);
                    if (close == std::string::npos || close + 4 > end) continue;
                    if (value == nullptr) return true;
                    const size_t found = text.find(line, at + header.size() - 2);
                    if (found != std::string::npos && found < close + 2) return true;
                }
            }
        }
        return false;
    }

    SimMachine& m_;
    const std::set<std::string>& built_;
    std::vector<Deletion> seen_;
    std::set<std::string> service_;
};

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
        if (!wow && after.find(line + " ") == std::string::npos &&
            after.find(line + "\n") == std::string::npos)
            gone.push_back(line.substr(4));
        at = end;
    }
    return gone;
}

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

std::vector<Shard> Shards() {
    std::vector<Shard> out;
    for (const Machine& c : kMachines)
        for (int i = 0; i < c.shards; ++i) out.push_back(Shard{&c, i});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Machines, CutPropertyTest, ::testing::ValuesIn(Shards()),
                         [](const ::testing::TestParamInfo<Shard>& info) {
                             const Shard& s = info.param;
                             return std::string(s.machine->name) +
                                    (s.machine->shards > 1 ? "Part" + std::to_string(s.index + 1) : "");
                         });

}  // namespace
