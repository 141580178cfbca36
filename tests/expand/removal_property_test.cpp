// Over many generated machines and configurations: the run deletes or queues only what its
// working lists hold; nothing an ignore entry covers, no directory kept because it holds
// such an object, nothing reached through a link a user planted, and no protected location
// is listed whole, deleted, queued or has its access list changed; nothing a value of a key a
// standard user can write names is touched.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "actions/registry_backup.h"
#include "expand/lists_fixture.h"
#include "platform/ansi.h"

namespace {

using lists_test::Sections;
using platform::sim::SimMachine;
using platform::sim::View;

std::string Upper(std::string s) {
    if (!s.empty()) platform::AnsiUpperInPlace(&s[0]);
    return s;
}

bool Covers(const std::vector<std::string>& ignore, const std::string& text) {
    std::string u = Upper(text);
    for (const auto& e : ignore)
        if (u.find(Upper(e)) != std::string::npos) return true;
    return false;
}

// Every object of the generated part of a machine, as the product writes its text, with
// the view it lives in ("32", "64" or "" where both views are one).
struct Snapshot {
    std::set<std::string> keys;                // view + "|" + key text
    std::set<std::string> values;              // view + "|" + value text
    std::map<std::string, std::string> files;  // upper path -> access list
};

void WalkKeys(const SimMachine& m, const std::string& path, View view, const std::string& tag,
              Snapshot& out) {
    if (!m.registry.Exists(path, view)) return;
    out.keys.insert(tag + "|" + Upper(path));
    // A link's one value is where it points, not data of the product.
    const platform::sim::SimRegValue* target = m.registry.GetValue(path, "SymbolicLinkValue", view);
    if (target != nullptr && target->type == platform::kRegLink) return;
    for (const auto& name : m.registry.ValuesUnder(path, view)) {
        std::string escaped;
        for (char c : Upper(name)) escaped += c == '\\' ? std::string("---") : std::string(1, c);
        out.values.insert(tag + "|" + Upper(path) + "\\" + escaped);
    }
    for (const auto& sub : m.registry.KeysUnder(path, view)) WalkKeys(m, path + "\\" + sub, view, tag, out);
}

void WalkFiles(SimMachine& m, const std::string& path, Snapshot& out) {
    if (!m.files.Exists(path)) return;
    const platform::sim::SimFileSecurity* sec = m.files.SecurityOf(path);
    // The list as Windows reports it, inherited entries included.
    std::string dacl;
    (void)m.security.GetNamedSecurityInfoA(path, platform::kSeFileObject, platform::kDaclSecurityInformation,
                                           nullptr, &dacl);
    out.files[Upper(path)] = sec != nullptr ? dacl + "/" + std::to_string(sec->deniedAccess) : "";
    if ((m.files.Attributes(path) & platform::kFileAttributeDirectory) == 0) return;
    for (const auto& name : m.files.List(path)) WalkFiles(m, path + "\\" + name, out);
}

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
    explicit Generator(uint32_t seed) : rng_(seed) {}

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
                m.registry.SetString(root, "Target", Chance(50) ? kVictimFolder : kSystemFiles[Pick(3)], View::K32);
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
    std::string Name(const char* stem) { return std::string(stem) + std::to_string(Pick(6)); }

    void BuildKeys(const std::string& key, int depth, std::vector<std::string>& keys,
                   std::vector<std::string>& values) {
        keys.push_back(key);
        int nValues = Pick(4);
        for (int i = 0; i < nValues; ++i) {
            int kind = Pick(6);
            std::string name = kind == 0 ? "" : kind == 1 ? "Sub\\Name" + std::to_string(i) : Name("Val");
            values.push_back(key + "|" + name);
        }
        if (depth >= 3) return;
        int nKeys = Pick(4);
        for (int i = 0; i < nKeys; ++i)
            BuildKeys(key + "\\" + Name(i % 2 ? "Key" : "Common"), depth + 1, keys, values);
    }

    void BuildFiles(const std::string& dir, int depth, std::vector<std::string>& paths) {
        paths.push_back(dir + "\\");
        int nFiles = Pick(4);
        for (int i = 0; i < nFiles; ++i) paths.push_back(dir + "\\" + Name("file") + ".dat");
        if (depth >= 2) return;
        int nDirs = Pick(3);
        for (int i = 0; i < nDirs; ++i)
            BuildFiles(dir + "\\" + Name(i % 2 ? "Dir" : "Common"), depth + 1, paths);
    }

    std::mt19937 rng_;
};

Snapshot Take(SimMachine& m, const World& w) {
    Snapshot s;
    for (const auto& p : w.products) {
        WalkKeys(m, "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + p, View::K64, "64", s);
        WalkKeys(m, "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + p, View::K32, "32", s);
        WalkKeys(m, "HKEY_CURRENT_USER\\Software\\" + p, View::K64, "", s);
        WalkFiles(m, "C:\\Program Files (x86)\\" + p, s);
        for (const auto& u : w.users) WalkFiles(m, "C:\\Users\\" + u + "\\AppData\\Roaming\\" + p, s);
    }
    return s;
}

std::string TextOf(const std::string& tagged) { return tagged.substr(tagged.find('|') + 1); }

// The key part of a value text.
std::string KeyOf(const std::string& value) { return value.substr(0, value.rfind('\\')); }

// True when `list` holds `text` or a key or directory above it.
bool ListedWithHolders(engine::TSet& list, const std::string& text) {
    if (list.Contains(text.c_str())) return true;
    for (size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at + 1))
        if (list.Contains(text.substr(0, at).c_str())) return true;
    return false;
}

// Gives everything in a profile to its user, as Windows does.
void GiveToUser(SimMachine& m, const std::string& path, const std::string& sid) {
    if (m.files.Attributes(path) & platform::kFileAttributeReparsePoint)
        return;  // the link's target is not theirs
    if (platform::sim::SimFileSecurity* sec = m.files.SecurityOf(path)) sec->ownerSid = sid;
    if ((m.files.Attributes(path) & platform::kFileAttributeDirectory) == 0) return;
    for (const auto& name : m.files.List(path)) GiveToUser(m, path + "\\" + name, sid);
}

std::string UserSid(size_t i) { return "S-1-5-21-7-7-7-" + std::to_string(1001 + i); }

// A standard user acting on what it owns, at one point of the run or after it: a folder of its
// product renamed and a junction to the system left in its place, a file held open without
// delete sharing, a hard link to a system file, a file of its own planted among the product's.
struct Attacker {
    SimMachine& m;
    const World& w;
    std::mt19937 rng;
    int attacks = 0;
    std::vector<std::string> moved;  // what the user took away itself, upper case

    bool Moved(const std::string& upperPath) const {
        for (const std::string& f : moved)
            if (upperPath == f || upperPath.rfind(f + "\\", 0) == 0) return true;
        return false;
    }

    std::string RandomUserFolder() {
        const size_t u = rng() % w.users.size();
        std::string folder =
            "C:\\Users\\" + w.users[u] + "\\AppData\\Roaming\\" + w.products[rng() % w.products.size()];
        while ((m.files.Attributes(folder) & platform::kFileAttributeDirectory) && rng() % 2) {
            std::vector<std::string> names = m.files.List(folder);
            if (names.empty()) break;
            folder += "\\" + names[rng() % names.size()];
        }
        return folder;
    }
    void Act() {
        const std::string target = RandomUserFolder();
        const std::string sid = UserSid(target.find("\\Second\\") != std::string::npos ? 1 : 0);
        switch (rng() % 4) {
            case 0:
                if (m.files.UserRename(sid, target, target + ".old") == 0) {
                    ++attacks;
                    moved.push_back(Upper(target));
                    (void)m.files.UserCreateLink(sid, target,
                                                 rng() % 2 ? "C:\\Windows\\System32" : kVictimFolder, true);
                }
                break;
            case 1: {
                platform::FileHandle held = 0;
                if (m.files.UserOpen(sid, target, platform::kGenericRead, platform::kFileShareRead, held) ==
                    0)
                    ++attacks;
                break;
            }
            case 2:
                // A second name for a system file, whose list and owner every name shares.
                if (m.files.UserCreateHardLink(sid, target + "\\kernel32.dll", kSystemFiles[0]) == 0)
                    ++attacks;
                break;
            default:
                if (m.files.UserCreateFile(sid, target + "\\mine.txt", "mine") == 0) ++attacks;
        }
    }
};

// Registry links a user plants below the product's keys, before and during the run, pointing
// outside the plan. Nothing reached through them is deleted, backed up or rewritten.
class KeyLinkPlanter {
  public:
    KeyLinkPlanter(SimMachine& m, const World& w, uint32_t seed) : m_(m), w_(w), rng_(seed) {
        m_.registry.SetString(kVictim, "Data", "victim", View::K64);
        m_.registry.SetString(std::string(kVictim) + "\\Deep", "More", "victim", View::K64);
        m_.registry.SetString(kUserVictim, "Data", "victim");
        m_.registry.SecurityOf(kVictim, View::K64)->deniedAccess = platform::kDelete;
        for (const char* t : kTargets) before_[t] = State(t);
    }

    void Plant() {
        const std::string& p = w_.products[rng_() % w_.products.size()];
        const bool user = rng_() % 3 == 0;
        std::string key = (user ? "HKEY_CURRENT_USER\\Software\\" : "HKEY_LOCAL_MACHINE\\SOFTWARE\\") + p;
        const View view = user ? View::K32 : View::K64;
        for (std::vector<std::string> subs; !(subs = m_.registry.KeysUnder(key, view)).empty() && rng_() % 2;)
            key += "\\" + subs[rng_() % subs.size()];
        if (!m_.registry.Exists(key, view)) return;
        const char* target = kTargets[rng_() % (sizeof kTargets / sizeof *kTargets)];
        if (m_.registry.UserCreateLinkKey(key + "\\Evil", target, view) == 0) ++planted;
    }

    void Check(engine::CNuke& nuke) {
        for (const char* t : kTargets) EXPECT_EQ(before_[t], State(t)) << t;
        if (!nuke.registryBackup || nuke.registryBackup->path().empty()) return;
        std::string saved = m_.files.Contents(nuke.registryBackup->path());  // UTF-16: drop the zeros
        saved = Upper(saved.erase(std::remove(saved.begin(), saved.end(), '\0') - saved.begin()));
        for (const char* name : {"LINKVICTIM", "CURRENTVERSION\\RUN]"})
            EXPECT_EQ(std::string::npos, saved.find(name));
    }

    int planted = 0;

  private:
    static constexpr const char* kVictim = "HKEY_LOCAL_MACHINE\\SOFTWARE\\LinkVictim";
    static constexpr const char* kUserVictim = "HKEY_USERS\\.DEFAULT\\Software\\LinkVictim";
    static constexpr const char* kTargets[] = {kVictim, kUserVictim, kProtectedKey};

    std::string State(const std::string& target) {
        Snapshot s;
        WalkKeys(m_, target, View::K64, "", s);
        std::string state;
        for (const std::string& k : s.keys) {
            const platform::sim::SimKeySecurity* sec = m_.registry.SecurityOf(TextOf(k), View::K64);
            state += k + sec->ownerSid + sec->sddl + std::to_string(sec->deniedAccess) + ";";
        }
        for (const std::string& v : s.values) state += v + ";";
        return state;
    }

    SimMachine& m_;
    const World& w_;
    std::mt19937 rng_;
    std::map<std::string, std::string> before_;
};

TEST(RemovalPropertyTest, RunTouchesOnlyListedObjectsAndNothingIgnored) {
    int deletedKeys = 0, deletedValues = 0, queued = 0, protectedObjects = 0, links = 0, protectedEntries = 0,
        inherited = 0, attacks = 0, steered = 0, keyLinkCount = 0;
    for (uint32_t seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        SimMachine m;
        lists_test::ScopedLog log(m);
        m.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "LogLevel", 4);
        for (const char* f : kSystemFiles) m.files.CreateFile(f, "system");
        m.files.SecurityOf("C:\\Windows\\System32")->sddl = "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;GR;;;BU)";
        m.registry.SetString(kProtectedKey, "Shell", "explorer.exe", View::K64);
        m.registry.SetString(kProtectedKey, "Shell", "explorer.exe", View::K32);
        Generator gen(seed);
        World w = gen.Build(m);
        links += w.links;
        protectedEntries += w.protectedEntries;
        inherited += w.inherited;
        steered += w.steered;
        std::map<std::string, std::string> systemBefore;
        for (const std::string& p : {std::string("C:\\Windows\\System32"), std::string(kSystemFiles[0]),
                                     std::string(kSystemFiles[1]), std::string(kSystemFiles[2])})
            systemBefore[p] = m.files.SecurityOf(p)->sddl + "/" + m.files.SecurityOf(p)->ownerSid;
        m.files.CreateFile(lists_test::kConfigPath, w.config);
        m.files.CreateFile(std::string(kVictimFolder) + "\\letter.doc", "victim");
        for (size_t u = 0; u < w.users.size(); ++u) GiveToUser(m, "C:\\Users\\" + w.users[u], UserSid(u));
        for (const std::string& f : {std::string(kVictimFolder), std::string(kVictimFolder) + "\\letter.doc"})
            systemBefore[f] = m.files.SecurityOf(f)->sddl + "/" + m.files.SecurityOf(f)->ownerSid;
        KeyLinkPlanter keyLinks(m, w, seed * 104729);
        for (int i = 0; i < 2; ++i) keyLinks.Plant();
        Snapshot before = Take(m, w);
        Attacker attacker{m, w, std::mt19937(seed * 7919), 0, {}};
        const int attackAt = 1 + static_cast<int>(attacker.rng() % 4000);
        const int linkAt = 1 + static_cast<int>(attacker.rng() % 4000);
        int calls = 0;
        m.faults.SetHook([&](const std::string&) {
            if (++calls == attackAt) attacker.Act();
            if (calls == linkAt) keyLinks.Plant();
        });

        detect::CDetector detector(m.platform());
        engine::CNuke nuke(m.platform());
        nuke.SetDetector(&detector);
        ASSERT_EQ(0u, nuke.InitializeLists(0, 1));
        ASSERT_EQ(0u, nuke.ExpandLists());

        // What an ignore entry covers is neither listed nor held by a listed key or directory.
        for (const auto& k : before.keys) {
            if (!Covers(w.ignoreKeys, TextOf(k))) continue;
            ++protectedObjects;
            EXPECT_FALSE(ListedWithHolders(nuke.regKeyList, TextOf(k))) << k;
        }
        for (const auto& v : before.values) {
            std::string text = TextOf(v);
            if (!Covers(w.ignoreValues, text) && !Covers(w.ignoreKeys, KeyOf(text))) continue;
            ++protectedObjects;
            EXPECT_FALSE(nuke.regValueList.Contains(text.c_str())) << v;
            EXPECT_FALSE(ListedWithHolders(nuke.regKeyList, KeyOf(text))) << v;
        }
        for (const auto& [path, acl] : before.files) {
            if (!Covers(w.ignoreFiles, path)) continue;
            ++protectedObjects;
            EXPECT_FALSE(ListedWithHolders(nuke.fileList, path)) << path;
        }

        EXPECT_EQ(0u, nuke.CleanupFiles());
        EXPECT_EQ(0u, nuke.CleanupRegValues());
        EXPECT_EQ(0u, nuke.CleanupRegKeys());
        m.faults.SetHook(nullptr);
        // Between the run and the restart.
        for (int i = 0; i < 3; ++i) attacker.Act();
        attacks += attacker.attacks;
        // The restart deletes names only inside the run's staging folder, and that folder.
        const std::vector<std::string> pending = m.files.PendingDeletes();
        for (const auto& p : pending) {
            ++queued;
            EXPECT_EQ(0u, p.rfind(pending.back(), 0)) << p;
            EXPECT_EQ(0u, p.rfind("C:\\$SweepTool.Staging.", 0)) << p;
            // Nothing of the system is reached, and no protected folder goes whole.
            EXPECT_NE(Upper(p).rfind("C:\\WINDOWS", 0), 0u) << p;
            for (const char* folder : {"C:\\", "C:", "C:\\PROGRAM FILES (X86)", "C:\\USERS",
                                       "C:\\USERS\\TESTER", "C:\\USERS\\TESTER\\APPDATA\\ROAMING"})
                EXPECT_NE(Upper(p), folder);
        }
        m.files.SimulateRestart();
        keyLinks.Check(nuke);
        keyLinkCount += keyLinks.planted;
        Snapshot after = Take(m, w);
        for (const auto& [path, acl] : systemBefore) {
            ASSERT_TRUE(m.files.Exists(path)) << path;
            EXPECT_EQ(acl, m.files.SecurityOf(path)->sddl + "/" + m.files.SecurityOf(path)->ownerSid) << path;
        }
        EXPECT_TRUE(m.registry.ValueExists(kProtectedKey, "Shell", View::K64));
        EXPECT_TRUE(m.registry.ValueExists(kProtectedKey, "Shell", View::K32));

        for (const auto& k : before.keys) {
            bool gone = after.keys.count(k) == 0;
            if (gone) {
                ++deletedKeys;
                EXPECT_TRUE(ListedWithHolders(nuke.regKeyList, TextOf(k))) << k;
            }
            if (Covers(w.ignoreKeys, TextOf(k))) {
                EXPECT_FALSE(gone) << k;
            }
        }
        for (const auto& v : before.values) {
            std::string text = TextOf(v);
            bool gone = after.values.count(v) == 0;
            if (gone) {
                ++deletedValues;
                EXPECT_TRUE(nuke.regValueList.Contains(text.c_str()) ||
                            ListedWithHolders(nuke.regKeyList, KeyOf(text)))
                    << v;
            }
            if (Covers(w.ignoreValues, text) || Covers(w.ignoreKeys, KeyOf(text))) {
                EXPECT_FALSE(gone) << v;
            }
        }
        // Ignored objects, and the directories kept because they hold one, keep their lists.
        for (const auto& [path, acl] : before.files) {
            bool holder = false;
            for (const auto& f : w.ignoreFiles) holder = holder || Upper(f).rfind(path + "\\", 0) == 0;
            if ((!Covers(w.ignoreFiles, path) && !holder) || attacker.Moved(path)) continue;
            auto it = after.files.find(path);
            ASSERT_NE(after.files.end(), it) << path;
            EXPECT_EQ(acl, it->second) << path;
        }
    }
    // The generator must reach the cases the property is about.
    EXPECT_GT(protectedObjects, 100);
    EXPECT_GT(queued, 100);
    EXPECT_GT(links, 50);
    EXPECT_GT(protectedEntries, 50);
    EXPECT_GT(inherited, 500);
    EXPECT_GT(attacks, 150);
    EXPECT_GT(steered, 50);
    EXPECT_GT(keyLinkCount, 150);
    RecordProperty("deletedKeys", deletedKeys);
    RecordProperty("deletedValues", deletedValues);
}

}  // namespace
