// What the whole-run property tests share: building a machine, running the tool on it from
// start to end, its state as text, and the watch on registry deletions against the backups.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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

namespace apptest::harness {

using platform::sim::SimMachine;
using platform::sim::SimRegDeletion;
using platform::sim::View;
using snapshot_detail::Upper;

constexpr char kBackupFolder[] = "C:\\Windows\\Logs\\SweepTool\\Backup";

// A machine with the tool in C:\Tools beside a configuration that removes the demo product
// (`seed` < 0) or a generated product whose trees `scale` widens; `safeMode`: with networking.
inline void Build(SimMachine& m, int seed, int scale, bool safeMode) {
    if (seed < 0) {
        apptest::BuildDemoMachine(m);
    } else {
        apptest::InstallTool(m);
        apptest::UseWindows10(m);
        for (const char* f : removal_gen::kSystemFiles) m.files.CreateFile(f, "system");
        removal_gen::Generator gen(static_cast<uint32_t>(seed), scale);
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", gen.Build(m).config);
    }
    lists_test::BindLog(m);
    m.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "LogLevel", 4);
    m.system.arguments = {"sweeptool", "--NOGUI", "--noreboot"};
    if (m.services.Find("msiserver") == nullptr) m.services.Add("msiserver");
    if (safeMode) m.system.metrics[platform::kSmCleanBoot] = 2;
    KvQmrLogging::ResetForTests(nullptr);
}

// One process of the tool from its start to its end, without a restart of its own. What a
// cut process held is let go as Windows lets it go when a process ends.
// Returns the exit code the tool decided.
inline uint32_t RunTool(SimMachine& m) {
    KvQmrLogging::ResetForTests(&m.platform());
    uint32_t exitCode = 0;
    {
        app::CScourApp application(m.platform());
        (void)application.InitInstance();
        exitCode = application.exitCode;
    }
    KvQmrLogging::ResetForTests(nullptr);
    (void)m.sync.AbandonOwned();
    return exitCode;
}

inline std::string State(SimMachine& m) {
    return apptest::SimSnapshot(m, {apptest::kToolLogFolder, apptest::kToolFolder}, false);
}

inline std::multiset<std::string> Lines(const std::string& text) {
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
inline std::string Unlike(const std::string& once, const std::string& twice, const std::string& found) {
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
inline std::string Narrow(const std::string& bytes) {
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
inline std::string Backups(SimMachine& m) {
    std::string all;
    for (const std::string& name : m.files.List(kBackupFolder))
        all += Narrow(m.files.Contents(std::string(kBackupFolder) + "\\" + name));
    return all;
}

// The keys ("K") and values ("K|NAME") of the whole registry, upper case, in the 64-bit view,
// where the 32-bit copies are the keys below WOW6432Node.
inline void Entries(SimMachine& m, const std::string& key, std::set<std::string>& out) {
    out.insert(Upper(key));
    for (const std::string& v : m.registry.ValuesUnder(key, View::K64)) out.insert(Upper(key + "|" + v));
    for (const std::string& k : m.registry.KeysUnder(key, View::K64)) Entries(m, key + "\\" + k, out);
}

inline std::set<std::string> Entries(SimMachine& m) {
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
inline std::vector<std::string> DeletedKeys(const std::string& before, const std::string& after) {
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

// One machine's calls shared out among `shards` tests, which ctest runs side by side.
template <typename MachineT>
struct Shard {
    const MachineT* machine;
    int index;
};

template <typename MachineT>
void PrintTo(const Shard<MachineT>& s, std::ostream* os) {
    *os << s.machine->name << " part " << s.index + 1;
}

template <typename MachineT, size_t N>
std::vector<Shard<MachineT>> Shards(const MachineT (&machines)[N]) {
    std::vector<Shard<MachineT>> out;
    for (const MachineT& c : machines)
        for (int i = 0; i < c.shards; ++i) out.push_back(Shard<MachineT>{&c, i});
    return out;
}

template <typename MachineT>
std::string ShardName(const ::testing::TestParamInfo<Shard<MachineT>>& info) {
    const Shard<MachineT>& s = info.param;
    return std::string(s.machine->name) + (s.machine->shards > 1 ? "Part" + std::to_string(s.index + 1) : "");
}

}  // namespace apptest::harness
