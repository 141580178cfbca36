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
#include "expand/removal_generator.h"
#include "platform/ansi.h"

namespace {

using lists_test::Sections;
using removal_gen::Generator;
using removal_gen::kProtectedKey;
using removal_gen::kSystemFiles;
using removal_gen::kVictimFolder;
using removal_gen::World;
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
