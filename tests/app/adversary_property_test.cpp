// A standard user acting at any point of a whole run (and between the run and the restart)
// with what such a user may do: swap a folder for a junction, hold a folder open unshared,
// plant files where it may write, link a victim's file into a listed folder, rename a listed
// folder away, start a program named like a conflicting product. Whatever it does, the run
// deletes, queues, creates and rewrites nothing outside what the same run without the user
// does, starts no program of the user's, deletes no registry entry before a backup on the
// disk holds it, and ends as that run ends or with a refusal whose log names what the user did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/run_harness.h"

namespace {

using namespace apptest::harness;
using apptest::kToolFolder;
using apptest::kToolLogFolder;
using removal_gen::kSystemFiles;
using removal_gen::kVictimFolder;

const std::string kVictimDoc = std::string(kVictimFolder) + "\\letter.doc";
const char* const kProfiles[] = {"Tester", "Second", "Other"};

// Folders a user made before the run, or that are weaker than Windows makes them.
enum Weak : int {
    kUserToolFolder = 1,   // C:\Windows\Logs\SweepTool, made first by a user
    kWeakWindowsLogs = 2,  // users may create in C:\Windows\Logs
    kUserLogFolder = 4,    // C:\ProgramData\Kelvaris (the log folder's), made first by a user
    kUserToolsDir = 8,     // the folder the tool is started from
    kOpenProduct = 16,     // users may create in the demo product's folder; one made Cache there
};

constexpr char kProductCache[] = "C:\\Program Files (x86)\\Kelvaris Demo\\Cache";

// `spread` 0: the user acts before every call of the run; else before that many calls
// spread evenly over it (the first calls, where the run takes its locks, among them). `shards` tests share
// the calls out.
struct Machine {
    const char* name;
    int seed;  // < 0: the demo product
    int scale;
    bool safeMode;
    int weak;
    int spread;
    int shards;
};

const Machine kMachines[] = {
    {"Demo", -1, 1, false, 0, 150, 2},
    {"DemoWeakFolders", -1, 1, false, kUserToolFolder | kUserLogFolder | kUserToolsDir, 150, 2},
    {"DemoWeakWindowsLogs", -1, 1, true, kWeakWindowsLogs | kOpenProduct, 100, 1},
    {"Seed1", 1, 1, false, 0, 200, 2},
    {"Seed2WeakFolders", 2, 1, false, kUserToolFolder | kUserLogFolder, 200, 2},
    {"Seed3SafeMode", 3, 1, true, kWeakWindowsLogs, 200, 2},
    {"Large7", 7, 2, false, kUserToolFolder, 80, 2},
};

using Shard = apptest::harness::Shard<Machine>;

std::string Sid(const std::string& path) {
    for (size_t i = 0; i < 3; ++i)
        if (Upper(path).rfind(Upper(std::string("C:\\Users\\") + kProfiles[i] + "\\"), 0) == 0)
            return removal_gen::StandardUserSid(i);
    return removal_gen::StandardUserSid(0);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

bool IsUserSid(const std::string& sid) { return sid.rfind("S-1-5-21-7-7-7-", 0) == 0; }

void Prepare(SimMachine& m, const Machine& c) {
    Build(m, c.seed, c.scale, c.safeMode);
    for (const char* f : kSystemFiles)
        if (!m.files.Exists(f)) m.files.CreateFile(f, "system");
    m.files.CreateDirectories("C:\\Windows\\Logs");
    m.files.CreateFile(kVictimDoc, "victim");
    for (const char* p : kProfiles)
        if (m.files.Exists(std::string("C:\\Users\\") + p))
            removal_gen::GiveToUser(m, std::string("C:\\Users\\") + p,
                                    Sid(std::string("C:\\Users\\") + p + "\\"));
    const std::string sid = removal_gen::StandardUserSid(0);
    const auto made = [&](const std::string& folder) {
        m.files.CreateDirectories(folder);
        m.files.SecurityOf(folder)->ownerSid = sid;
    };
    if (c.weak & kUserToolFolder) made(kToolFolder);
    if (c.weak & kWeakWindowsLogs) m.files.openToUsers.push_back("C:\\Windows\\Logs");
    if (c.weak & kUserLogFolder) made("C:\\ProgramData\\Kelvaris");
    if (c.weak & kUserToolsDir) m.files.SecurityOf("C:\\Tools")->ownerSid = sid;
    if (c.weak & kOpenProduct) {
        // Lists as Windows gives them, which let users read (and create in the product's folder)
        // and nothing more; no list at all would let everybody change everything.
        const std::string product =
            std::string(kProductCache).substr(0, std::string(kProductCache).rfind('\\'));
        for (const std::string& path : {std::string("C:\\"), std::string("C:\\Program Files (x86)"), product,
                                        std::string(kSystemFiles[0])})
            m.files.SecurityOf(path)->sddl = path == product
                                                 ? "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200af;;;BU)"
                                                 : "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
        m.files.openToUsers.push_back(product);
        (void)m.files.UserCreateDirectory(sid, kProductCache);
        for (const char* name : {"kernel32.dll", "letter.doc"})
            (void)m.files.UserCreateFile(sid, Join(kProductCache, name), "mine");
    }
}

// The snapshot's lines by object ("F path", "K path", "V path|name"; other lines by themselves).
std::map<std::string, std::string> Objects(const std::string& state) {
    std::map<std::string, std::string> out;
    for (const std::string& line : Lines(state)) {
        std::string id = "O " + line;
        if (line.rfind("file ", 0) == 0)
            id = "F " + Upper(line.substr(5, line.find(" attributes=") - 5));
        else if (line.rfind("key ", 0) == 0)
            id = "K " + Upper(line.substr(4, std::min(line.find(" owner="), line.size()) - 4));
        else if (line.rfind("process ", 0) == 0)  // ids follow the order programs started in
            id = "P " + line.substr(line.find(' ', 8) + 1);
        else if (line.rfind("  value ", 0) == 0)
            id = "V " + Upper(line.substr(8, line.find("] type=") + 1 - 8));
        out[id] = line;
    }
    return out;
}

// The folders the run touches: those of every object the run without the user changes,
// the log and tool folders, profiles and the system drive's root.
std::vector<std::string> Touched(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
    std::set<std::string> folders{std::string("C:\\"),
                                  "C:\\WINDOWS\\LOGS",
                                  Upper(kToolFolder),
                                  "C:\\PROGRAMDATA\\KELVARIS",
                                  Upper(kToolLogFolder),
                                  Upper(kToolLogFolder) + "\\TOOL",
                                  "C:\\TOOLS",
                                  "C:\\USERS\\TESTER",
                                  "C:\\USERS\\TESTER\\APPDATA\\ROAMING"};
    for (const auto& [id, line] : before) {
        if (id[0] != 'F') continue;
        auto it = after.find(id);
        if (it != after.end() && it->second == line) continue;
        const std::string path = id.substr(2);
        if (line.find(" contents=") == std::string::npos) folders.insert(path);
        folders.insert(path.substr(0, path.rfind('\\')));
    }
    return {folders.begin(), folders.end()};
}

// The moves: those the generator picks from, then those made where the run is known to be
// open to them.
enum Move : int {
    kAnyMove = -1,
    kMenu = 8,     // the generated moves
    kCacheDecoy,   // the decoy with the user's Cache folder in the open product folder
    kRootProgram,  // a program named like a bare start= name at the system drive's root
    kLogJunction,  // the log's folder, a junction from the deepest folder the user can rename
};

// The user: one move, generated from the call it acts before, and what that move set up to
// finish later (a folder it holds, swapped for a junction once the run has queued a name in it).
class User {
  public:
    User(SimMachine& m, const std::vector<std::string>& folders) : m_(m), folders_(folders) {}

    std::string Act(uint32_t seed, int move) {
        std::mt19937 rng(seed);
        const std::string folder = folders_[rng() % folders_.size()];
        const std::string sid = Sid(folder + "\\");
        const std::string target = rng() % 2 ? "C:\\Windows\\System32" : kVictimFolder;
        const std::string tester = removal_gen::StandardUserSid(0);
        platform::FileHandle held = 0;
        switch (move == kAnyMove ? static_cast<int>(rng() % kMenu) : move) {
            case 0:  // a junction where the folder was
                if (Rename(sid, folder, folder + ".old")) Link(sid, folder, target);
                return "junction " + folder + " -> " + target;
            case 1:
                if (m_.files.UserOpen(sid, folder, platform::kFileListDirectory, 0, held) == 0)
                    acted_.push_back(Upper(folder));
                return "hold " + folder;
            case 2: {
                const char* const names[] = {"planted.txt", "instkvps_x64.exe", "kvafter.exe",
                                             "sweeptool.log"};
                const std::string name = Join(folder, names[rng() % 4]);
                if (m_.files.UserCreateFile(sid, name, "MZ") == 0) Mine(name);
                return "plant " + name;
            }
            case 3: {
                const std::string victim = rng() % 2 ? kVictimDoc : kSystemFiles[0];
                const std::string name = Join(folder, victim.substr(victim.rfind('\\') + 1));
                if (m_.files.UserCreateHardLink(sid, name, victim) == 0) Mine(name);
                return "hard link " + name + " -> " + victim;
            }
            case 4:
                Rename(sid, folder, folder + ".away");
                return "rename away " + folder;
            case 5: {
                const std::string image = "C:\\Users\\Tester\\Downloads\\kvsshaa.exe";
                (void)m_.files.UserCreateDirectory(removal_gen::StandardUserSid(0),
                                                   "C:\\Users\\Tester\\Downloads");
                (void)m_.files.UserCreateFile(removal_gen::StandardUserSid(0), image, "MZ");
                m_.processes.Add("kvsshaa.exe").imagePath = image;
                acted_.push_back(Upper(image));
                return "start " + image;
            }
            case 6:  // its own folder, held, beside a look-alike, swapped once a name in it is queued
                return Decoy(sid, folder + "\\Cache", target);
            case kCacheDecoy:
                return Decoy(tester, kProductCache, "C:\\Windows\\System32");
            case kRootProgram:
                if (m_.files.UserCreateFile(tester, "C:\\kvafter.exe", "MZ") == 0) Mine("C:\\kvafter.exe");
                return "plant C:\\kvafter.exe";
            case kLogJunction:
                return LogJunction(tester, target);
            default:
                return ToolRecords(sid, rng());
        }
    }

    // Finishes what a move set up, once the run has queued a name below the held folder.
    void FollowUp() {
        if (armed_.empty()) return;
        for (const auto& op : m_.files.PendingOperations())
            for (auto it = armed_.begin(); it != armed_.end(); ++it)
                if (Upper(op.from).rfind(Upper(it->folder) + "\\", 0) == 0 ||
                    Upper(op.from) == Upper(it->folder)) {
                    const Armed a = *it;
                    armed_.erase(it);
                    if (a.handle != 0) m_.files.CloseHandle(a.handle);
                    if (Rename(a.sid, a.folder, a.folder + ".old", false)) Link(a.sid, a.folder, a.target);
                    return;
                }
    }

    // Whether the object at `upperPath` is the user's: what it made, moved or linked.
    bool Owns(const std::string& upperPath) const {
        for (const std::string& p : mine_)
            if (upperPath == p || upperPath.rfind(p + "\\", 0) == 0) return true;
        return false;
    }
    // Everything the user acted on, for the log to name.
    std::vector<std::string> Acted() const {
        std::vector<std::string> all = acted_;
        all.insert(all.end(), mine_.begin(), mine_.end());
        return all;
    }
    // Whether the user `sid` renamed a folder below `upperFolder` as a move.
    bool MovedBelow(const std::string& sid, const std::string& upperFolder) const {
        for (const auto& [by, from] : movedBy_)
            if (by == sid && from.rfind(upperFolder + "\\", 0) == 0) return true;
        return false;
    }
    // Folders the user renamed before the run reached what they hold: old name, new name.
    std::vector<std::pair<std::string, std::string>> renamed;

  private:
    struct Armed {
        std::string sid, folder, target;
        platform::FileHandle handle;
    };

    void Mine(const std::string& path) { mine_.push_back(Upper(path)); }
    // `early`: as a move, before the run reached what the folder holds; not once it queued a name in it.
    bool Rename(const std::string& sid, const std::string& from, const std::string& to, bool early = true) {
        if (m_.files.UserRename(sid, from, to) != 0) return false;
        Mine(from);
        Mine(to);
        if (early) renamed.emplace_back(Upper(from), Upper(to));
        if (early) movedBy_.emplace_back(sid, Upper(from));
        return true;
    }
    void Link(const std::string& sid, const std::string& at, const std::string& target) {
        (void)m_.files.UserCreateLink(sid, at, target, true);
    }

    // The user's folder `own` (made now, or made before the run and listed by it) held
    // unshared, so that the run cannot hold the chain whole; beside it, names of what `own`
    // holds that lead to the victims: a folder held only partly finds those in its place.
    std::string Decoy(const std::string& sid, const std::string& own, const std::string& target) {
        const uint32_t made = m_.files.UserCreateDirectory(sid, own);
        const auto* sec = m_.files.SecurityOf(own);
        if (made != 0 && (made != platform::kErrorAlreadyExists || sec == nullptr || sec->ownerSid != sid))
            return "decoy refused " + own;
        Mine(own);
        const std::string parent = own.substr(0, own.rfind('\\'));
        for (const std::string& victim : {kVictimDoc, std::string(kSystemFiles[0])}) {
            const std::string name = victim.substr(victim.rfind('\\') + 1);
            (void)m_.files.UserCreateFile(sid, Join(own, name), "mine");
            if (m_.files.UserCreateHardLink(sid, Join(parent, name), victim) == 0) Mine(Join(parent, name));
        }
        platform::FileHandle held = 0;
        (void)m_.files.UserOpen(sid, own, platform::kFileListDirectory, 0, held);
        armed_.push_back({sid, own, target, held});
        return "decoy " + own + " -> " + target;
    }

    // The log's folder swapped for a junction: the deepest folder of its path the user can
    // rename goes away, and the user's own folders lead from there to a junction in its place.
    std::string LogJunction(const std::string& sid, const std::string& target) {
        const std::string log = Join(kToolLogFolder, "tool");
        for (std::string at = log; at.size() > std::strlen("C:\\ProgramData\\");
             at = at.substr(0, at.rfind('\\'))) {
            if (!Rename(sid, at, at + ".old")) continue;
            for (size_t end = log.find('\\', at.size()); end != std::string::npos;
                 end = log.find('\\', end + 1))
                if (m_.files.UserCreateDirectory(sid, log.substr(0, end)) == 0) Mine(log.substr(0, end));
            Link(sid, log, target);
            Mine(log);
            return "junction " + at + " ... " + log + " -> " + target;
        }
        return "log junction refused " + log;
    }

    // Where a user may write in the tool's folder: a staging record naming a staging folder
    // of its own (swapped for a junction once queued), and a resume list naming a victim.
    std::string ToolRecords(const std::string& sid, uint32_t pick) {
        const std::string staging = "C:\\$SweepTool.Staging.0123456789abcdef0123456789ABCDEF";
        (void)m_.files.UserCreateDirectory(sid, staging);
        (void)m_.files.UserCreateFile(sid, staging + "\\letter.doc", "mine");
        Mine(staging);
        platform::FileHandle h = 0;
        std::string identity;
        if (m_.files.UserOpen(sid, staging, platform::kFileListDirectory, 7, h) == 0) {
            (void)m_.files.GetFileIdentity(h, identity);
            m_.files.CloseHandle(h);
        }
        armed_.push_back({sid, staging, kVictimFolder, 0});
        const std::string folder = kToolFolder;
        const std::string records[] = {
            "SweepTool staging folders 1\r\n" + staging + " " + identity + "\r\nend\r\n",
            "SweepTool resume list 1\r\n[file]\r\n" + kVictimDoc + "\r\n" + kSystemFiles[1] +
                "\r\n[registry key]\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Victim\r\nend\r\n"};
        const char* const names[] = {"sweeptool.staging.txt", "sweeptool.resume.txt"};
        std::string done;
        for (int i = 0; i < 2; ++i) {
            if (pick % 3 == static_cast<uint32_t>(1 - i)) continue;  // one, the other or both
            const std::string path = folder + "\\" + names[i];
            (void)m_.files.UserDelete(sid, path);
            if (m_.files.UserCreateFile(sid, path, records[i]) == 0) done += std::string(" ") + names[i];
        }
        return "tool records" + (done.empty() ? std::string(" refused") : done);
    }

    SimMachine& m_;
    const std::vector<std::string>& folders_;
    std::vector<std::string> mine_, acted_;
    std::vector<std::pair<std::string, std::string>> movedBy_;  // who, and the folder's old name
    std::vector<Armed> armed_;
};

// Every log file's text, upper case, UTF-16 narrowed.
std::string LogText(SimMachine& m, const std::string& folder) {
    std::string text;
    for (const std::string& name : m.files.List(folder)) {
        const std::string path = folder + "\\" + name;
        if (m.files.Attributes(path) & platform::kFileAttributeReparsePoint) continue;
        if (m.files.Attributes(path) & platform::kFileAttributeDirectory) {
            text += LogText(m, path);
            continue;
        }
        for (char ch : m.files.Contents(path))
            if (ch != '\0') text += ch;
    }
    return Upper(text);
}

// A snapshot line short enough to read: a log's contents run to thousands of digits.
std::string Short(const std::string& line) { return line.size() <= 300 ? line : line.substr(0, 300) + "..."; }

// What the user's run left that the run without it did not: one line for each fault.
std::string Faults(SimMachine& m, const User& user, const std::map<std::string, std::string>& before,
                   const std::map<std::string, std::string>& plan) {
    const auto after = Objects(State(m));
    std::string out;
    const auto inPlan = [&](const std::string& id) {
        auto b = before.find(id), p = plan.find(id);
        return b == before.end() || p == plan.end() || b->second != p->second;
    };
    const auto usersOwn = [&](const std::string& id) { return id[0] != 'O' && user.Owns(id.substr(2)); };
    const auto ownerOf = [](const std::string& line) {
        const size_t at = line.find(" owner=");
        return at == std::string::npos ? std::string() : line.substr(at + 7, line.find(' ', at + 7) - at - 7);
    };
    for (const auto& [id, line] : before) {
        auto it = after.find(id);
        if ((it != after.end() && it->second == line) || inPlan(id) || usersOwn(id)) continue;
        // A listed folder the run kept only for what it held where the configuration ignores
        // it: once its owner moved that away before the listing, it is removed as listed (or
        // opened up for that, and kept for what else its owner put in it).
        if (id[0] == 'F' && line.find(" contents=") == std::string::npos &&
            user.MovedBelow(ownerOf(line), id.substr(2)))
            continue;
        out += (it == after.end() ? "deleted: " : "changed: ") + Short(line) + "\n";
    }
    for (const auto& [id, line] : after) {
        if (before.count(id) != 0 || plan.count(id) != 0 || usersOwn(id)) continue;
        if (line.find(" link") != std::string::npos || Upper(line).find("KVSSHAA") != std::string::npos)
            continue;
        if (IsUserSid(ownerOf(line))) continue;  // made by the user, through a link of its own
        out += "created: " + Short(line) + "\n";
    }
    // Programs the run started from a file a user made.
    std::vector<std::string> images = m.processes.started;
    for (const auto& s : m.processes.startedHidden) images.push_back(s.imagePath);
    for (const std::string& image : images) {
        const auto* sec = m.files.SecurityOf(image);
        if (sec != nullptr && IsUserSid(sec->ownerSid)) out += "started the user's " + image + "\n";
    }
    return out;
}

class AdversaryPropertyTest : public ::testing::TestWithParam<Shard> {};

TEST_P(AdversaryPropertyTest, AStandardUserActingBeforeAnyCallGainsNothing) {
    const Machine& c = *GetParam().machine;
    SimMachine reference;
    Prepare(reference, c);
    const auto before = Objects(State(reference));
    const std::set<std::string> built = Entries(reference);
    // The call before which the file step first took a listed file away: a folder renamed
    // away from then on holds files the run had listed.
    std::vector<std::string> listedFiles;
    for (const auto& [id, line] : before)
        if (id[0] == 'F' && line.find(" contents=") != std::string::npos) listedFiles.push_back(id.substr(2));
    // Where the run is open to a move whatever the moment: the file step's first call, after
    // the pause before it, and the log's opens by name, which follow the checks of its folders.
    int calls = 0, fileStep = 0, filesBegin = 0;
    std::vector<int> logOpens;
    std::string last;
    reference.faults.SetHook([&](const std::string& name) {
        ++calls;
        // Only the file step counts: a file gone earlier (the log's rotation while the lists are
        // still being read) says nothing of what the run had listed when a folder moved.
        for (size_t i = 0; fileStep == 0 && filesBegin > 0 && i < listedFiles.size(); ++i)
            if (!reference.files.Exists(listedFiles[i])) fileStep = calls;
        const auto& sleeps = reference.system.sleeps;
        if (filesBegin == 0 && std::find(sleeps.begin(), sleeps.end(), 1500u) != sleeps.end())
            filesBegin = calls;
        if (name == "CreateFileW" && last == "GetFileAttributesW") logOpens.push_back(calls);
        last = name;
    });
    const uint32_t expected = RunTool(reference);
    reference.faults.SetHook(nullptr);
    reference.SimulateRestart();
    const auto plan = Objects(State(reference));
    const std::vector<std::string> folders = Touched(before, plan);
    ASSERT_GT(calls, 0);

    // The calls and the moves made before them: first the targeted ones, so that a shard that
    // stops at its first failure reaches them, then the first calls and an even spread with
    // generated moves, as many fewer as there are targeted ones.
    std::vector<std::pair<int, int>> points;
    if (filesBegin > 0 && (c.weak & kOpenProduct)) points.emplace_back(filesBegin, kCacheDecoy);
    if (filesBegin > 0 && c.seed < 0) points.emplace_back(filesBegin, kRootProgram);
    if (c.weak & kUserLogFolder)
        for (int k : logOpens) points.emplace_back(k, kLogJunction);
    std::set<int> spread;
    for (int k = 1; k <= std::min(calls, 12); ++k) spread.insert(k);
    const int even = std::max(1, (c.spread == 0 ? calls : c.spread) - static_cast<int>(points.size()));
    for (int i = 0; i < even; ++i) spread.insert(1 + static_cast<int>(int64_t{i} * calls / even));
    for (int k : spread) points.emplace_back(k, kAnyMove);
    int index = 0, acted = 0;
    for (const auto& [k, kind] : points) {
        if (index++ % c.shards != GetParam().index) continue;
        const uint32_t seed = static_cast<uint32_t>(k * 7919 + c.seed * 104729);
        SimMachine m;
        Prepare(m, c);
        User user(m, folders);
        BackupWatch watch(m, built);
        std::string move, call;
        int n = 0;
        m.faults.SetHook([&](const std::string& name) {
            if (++n == k) move = user.Act(seed, kind), call = name;
            user.FollowUp();
        });
        const uint32_t code = RunTool(m);
        m.faults.SetHook(nullptr);
        user.FollowUp();
        m.SimulateRestart();
        SCOPED_TRACE("before call " + std::to_string(k) + " of " + std::to_string(calls) + " (" + call +
                     "): " + move);
        acted += user.Acted().empty() ? 0 : 1;
        EXPECT_EQ("", Faults(m, user, before, plan));
        EXPECT_EQ("", watch.Unsaved());
        // A plan object the user moved away, still there, is not removed: its record says it is
        // no longer where it was listed, or, where a junction took the folder's place, that the
        // junction was not followed.
        std::vector<std::pair<std::string, std::string>> kept;  // the object, the folder moved
        for (const auto& [from, to] : user.renamed)
            for (const auto& [id, line] : before)
                if (id[0] == 'F' && id.compare(2, from.size() + 1, from + "\\") == 0 && plan.count(id) == 0 &&
                    m.files.Exists(to + id.substr(2 + from.size())))
                    kept.emplace_back(id.substr(2), from);
        if (code == expected && k >= fileStep && fileStep > 0) {
            const std::string log = Upper(LogText(m, kToolLogFolder));
            for (const auto& [path, from] : kept)
                EXPECT_TRUE(log.find("'" + path + "' IS NO LONGER WHERE IT WAS LISTED") !=
                                std::string::npos ||
                            log.find("'" + from + "' IS A LINK, NOT FOLLOWED") != std::string::npos)
                    << "counted as removed, though the user moved it away: " << path;
        } else if (code != expected) {
            EXPECT_NE(1618u, code) << "a silent 1618";
            const std::string log = LogText(m, kToolLogFolder);
            bool named = false;
            for (const std::string& p : user.Acted()) named = named || log.find(p) != std::string::npos;
            EXPECT_TRUE(named) << "exit " << code << " (without the user " << expected
                               << "), and no log record names what the user did";
        }
        if (HasFailure()) return;
    }
    EXPECT_GT(acted, 0);
}

INSTANTIATE_TEST_SUITE_P(Machines, AdversaryPropertyTest, ::testing::ValuesIn(Shards(kMachines)),
                         ShardName<Machine>);

}  // namespace
