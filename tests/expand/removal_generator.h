// Generated machines for the removal tests: products in both registry views, in the user's
// hive and in several profiles, with ignore entries, links a user planted, keys a user may
// write and entries that name protected locations, and the configuration that removes them.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "expand/lists_fixture.h"
#include "platform/sim/sim_machine.h"

namespace removal_gen {

using lists_test::Sections;
using platform::sim::SimMachine;
using platform::sim::View;

struct World {
    std::vector<std::string> products;
    std::vector<std::string> users{"Tester", "Second"};
    // What the configuration ignores, as written in it.
    std::vector<std::string> ignoreKeys, ignoreValues, ignoreFiles;
    std::string config;
    int links = 0, protectedEntries = 0, inherited = 0, steered = 0;
};

// What no run may change: system files a planted link points at, and keys that are
// protected as a whole.
const char* const kSystemFiles[] = {"C:\\Windows\\System32\\kernel32.dll",
                                    "C:\\Windows\\System32\\drivers\\etc\\hosts",
                                    "C:\\Windows\\System32\\config\\SOFTWARE"};
const char* const kVictimFolder = "C:\\Users\\Second\\Documents";
const char* const kProtectedKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class Generator {
  public:
    // `scale` widens every product's trees: up to that many times the keys, values, files
    // and folders at each level, under as many more names. 1 gives the machines the seeds
    // always gave.
    explicit Generator(uint32_t seed, int scale = 1) : rng_(seed), scale_(scale < 1 ? 1 : scale) {}

    World Build(SimMachine& m) {
        World w;
        const char* const names[] = {"Kelvaris", "KvAgent", "Kelvaris Shared", "Acme"};
        for (const char* n : names)
            if (Chance(70)) w.products.push_back(n);
        if (w.products.empty()) w.products.push_back("Kelvaris");

        Sections s;
        for (const auto& p : w.products) {
            // Registry: some products only in the 64-bit view, some in both with the same content.
            int mode = Pick(3);  // 0: 64 only, 1: both, 2: user hive
            std::string root =
                mode == 2 ? "HKEY_CURRENT_USER\\Software\\" + p : "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + p;
            std::vector<std::string> keys, values;
            BuildKeys(root, 0, keys, values);
            for (const auto& k : keys) {
                m.registry.CreatePath(k, View::K64);
                if (mode == 1) m.registry.CreatePath(k, View::K32);
            }
            for (const auto& v : values) {
                size_t cut = v.rfind('|');
                std::string key = v.substr(0, cut), name = v.substr(cut + 1);
                m.registry.SetString(key, name, "data", View::K64);
                if (mode == 1) m.registry.SetString(key, name, "data", View::K32);
            }
            if (Chance(20)) {
                const std::string& k = keys[Pick(static_cast<int>(keys.size()))];
                m.registry.SecurityOf(k, View::K64)->deniedAccess = platform::kDelete;
            }
            // A key that Users may write, whose value names what a user wants gone.
            if (mode != 2 && Chance(30)) {
                m.registry.SetString(root, "Target", Chance(50) ? kVictimFolder : kSystemFiles[Pick(3)],
                                     View::K32);
                m.registry.SecurityOf(root, View::K32)->sddl += "(A;;0x2;;;S-1-5-32-545)";
                s.file += "remove=REG_VALUE,BY_REFERENCE," + root + "\\Target\n";
                ++w.steered;
            }
            if (Chance(80)) s.regKey += "remove=REG_KEY,BY_VALUE," + root + "\n";
            for (const auto& k : keys)
                if (k != root && Chance(15)) {
                    s.regKey += "ignore=REG_KEY,BY_VALUE," + k + "\n";
                    w.ignoreKeys.push_back(k);
                }
            for (const auto& v : values) {
                size_t cut = v.rfind('|');
                std::string text = v.substr(0, cut) + "\\" + Escaped(v.substr(cut + 1));
                if (Chance(10)) {
                    s.regValue += "ignore=REG_VALUE,BY_VALUE," + text + "\n";
                    w.ignoreValues.push_back(text);
                } else if (Chance(10)) {
                    s.regValue += "remove=REG_VALUE,BY_VALUE," + text + "\n";
                }
            }

            // Files: under the program-files folder and in every profile's roaming folder.
            std::vector<std::string> paths;
            BuildFiles("C:\\Program Files (x86)\\" + p, 0, paths);
            for (const auto& u : w.users)
                BuildFiles("C:\\Users\\" + u + "\\AppData\\Roaming\\" + p, 0, paths);
            for (const auto& f : paths) {
                if (f.back() == '\\') {
                    m.files.CreateDirectories(f.substr(0, f.size() - 1));
                } else {
                    m.files.CreateFile(
                        f, "x",
                        Chance(20) ? platform::kFileAttributeReadonly : platform::kFileAttributeArchive);
                }
            }
            // Lists that children inherit from the product's folders, over lists of their own.
            for (const auto& f : paths) {
                std::string path = f.back() == '\\' ? f.substr(0, f.size() - 1) : f;
                platform::sim::SimFileSecurity* sec = m.files.SecurityOf(path);
                if (sec == nullptr || !Chance(50)) continue;
                sec->sddl = f.back() == '\\' ? "D:(A;OICI;FA;;;BU)" : "D:(A;;FR;;;WD)";
                ++w.inherited;
            }
            if (Chance(80)) s.file += "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\" + p + "\n";
            if (Chance(60)) s.file += "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\" + p + "\n";
            for (const auto& f : paths)
                if (Chance(8)) {
                    std::string path = f.back() == '\\' ? f.substr(0, f.size() - 1) : f;
                    s.file += "ignore=FILE_NAME,BY_VALUE," + path + "\n";
                    w.ignoreFiles.push_back(path);
                }
        }
        // Links planted by a user in the product's folders, pointing at the system.
        for (const auto& p : w.products) {
            if (Chance(40)) {
                m.files.CreateLink("C:\\Program Files (x86)\\" + p + "\\evil", "C:\\Windows\\System32", true);
                ++w.links;
            }
            if (Chance(40)) {
                m.files.CreateLink("C:\\Users\\" + w.users[Pick(2)] + "\\AppData\\Roaming\\" + p + "\\hosts",
                                   "C:\\Windows\\System32\\drivers\\etc\\hosts", false);
                ++w.links;
            }
        }
        // Entries that name protected locations themselves.
        static const char* const kProtectedLines[] = {
            "[file]remove=FILE_NAME,BY_VALUE,C:\\\n",
            "[file]remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\n",
            "[file]remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\n",
            "[file]remove=FILE_NAME,BY_VALUE,C:\\Windows\\System32\n",
            "[key]remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\n",
            "[key]remove=REG_KEY,BY_VALUE,HKEY_LOCAL_"
            "MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\n",
        };
        for (const char* line : kProtectedLines) {
            if (!Chance(25)) continue;
            ++w.protectedEntries;
            std::string text = line;
            if (text.rfind("[file]", 0) == 0)
                s.file += text.substr(6);
            else
                s.regKey += text.substr(5);
        }
        // Wildcards reach every product whose name fits.
        if (Chance(30)) s.regKey += "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\KV*\n";
        if (Chance(30)) s.file += "remove=FILE_NAME,BY_VALUE,C:\\Program Files (x86)\\Kelvaris*\n";
        w.config = s.Text();
        return w;
    }

  private:
    bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    static std::string Escaped(const std::string& name) {
        std::string out;
        for (char c : name) out += c == '\\' ? std::string("---") : std::string(1, c);
        return out;
    }
    std::string Name(const char* stem) { return std::string(stem) + std::to_string(Pick(6 * scale_)); }

    void BuildKeys(const std::string& key, int depth, std::vector<std::string>& keys,
                   std::vector<std::string>& values) {
        keys.push_back(key);
        int nValues = Pick(3 * scale_ + 1);
        for (int i = 0; i < nValues; ++i) {
            int kind = Pick(6);
            std::string name = kind == 0 ? "" : kind == 1 ? "Sub\\Name" + std::to_string(i) : Name("Val");
            values.push_back(key + "|" + name);
        }
        if (depth >= 3) return;
        int nKeys = Pick(3 * scale_ + 1);
        for (int i = 0; i < nKeys; ++i)
            BuildKeys(key + "\\" + Name(i % 2 ? "Key" : "Common"), depth + 1, keys, values);
    }

    void BuildFiles(const std::string& dir, int depth, std::vector<std::string>& paths) {
        paths.push_back(dir + "\\");
        int nFiles = Pick(3 * scale_ + 1);
        for (int i = 0; i < nFiles; ++i) paths.push_back(dir + "\\" + Name("file") + ".dat");
        if (depth >= 2) return;
        int nDirs = Pick(2 * scale_ + 1);
        for (int i = 0; i < nDirs; ++i)
            BuildFiles(dir + "\\" + Name(i % 2 ? "Dir" : "Common"), depth + 1, paths);
    }

    std::mt19937 rng_;
    int scale_;
};

// The SID of the standard user at `index` (0: Tester, 1: Second); no machine account.
inline std::string StandardUserSid(size_t index) { return "S-1-5-21-7-7-7-" + std::to_string(1001 + index); }

// Gives everything below `path` to the user `sid`, as Windows gives a profile to its user;
// what a link leads to stays its owner's.
inline void GiveToUser(SimMachine& m, const std::string& path, const std::string& sid) {
    if (m.files.Attributes(path) & platform::kFileAttributeReparsePoint) return;
    if (platform::sim::SimFileSecurity* sec = m.files.SecurityOf(path)) sec->ownerSid = sid;
    if ((m.files.Attributes(path) & platform::kFileAttributeDirectory) == 0) return;
    for (const auto& name : m.files.List(path)) GiveToUser(m, path + "\\" + name, sid);
}

}  // namespace removal_gen
