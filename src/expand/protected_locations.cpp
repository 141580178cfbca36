// The table of protected locations. Folders are resolved once, on the first question, from
// every source this machine offers for them (shell folders, environment, registry and the
// usual defaults), so that a folder moved on one of those paths is still found on another.
#include "expand/protected_locations.h"

#include <cstring>

#include "expand/folder_macros.h"
#include "expand/path_helpers.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"
#include "platform/environment_text.h"

namespace expand {

using namespace platform;

namespace {

constexpr char kDriveRoot[] = "root of a drive";
constexpr char kWindowsFolder[] = "Windows folder";
constexpr char kSystemFolder[] = "system folder";
constexpr char kProgramFiles[] = "program files folder";
constexpr char kCommonFiles[] = "common files folder";
constexpr char kProgramData[] = "shared application data folder";
constexpr char kUsersFolder[] = "users folder";
constexpr char kProfileFolder[] = "user profile folder";
constexpr char kProfileData[] = "user profile data folder";
constexpr char kHolder[] = "holds a protected folder";
constexpr char kRegistryRoot[] = "registry root key";
constexpr char kUserHive[] = "user hive";
constexpr char kRedirectedSoftware[] = "32-bit software key";
constexpr char kSystemKey[] = "system configuration";
constexpr char kControlSet[] = "control set";
constexpr char kServicesKey[] = "service registrations";

// Keys of a SOFTWARE key, machine or user, relative to it (upper case, "" for itself).
struct KeyRow {
    const char* path;
    const char* reason;
};
constexpr KeyRow kSoftwareKeys[] = {
    {"", "software key"},
    {"CLASSES", "class registrations"},
    {"MICROSOFT", "operating system software key"},
    // Only a parent of the keys below, but deleting it would take them with it.
    {"MICROSOFT\\WINDOWS", "holds Windows settings"},
    {"MICROSOFT\\WINDOWS\\CURRENTVERSION", "Windows settings"},
    {"MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN", "start-up programs"},
    {"MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE", "start-up programs"},
    {"MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL", "installed programs"},
    {"POLICIES", "policies"},
};

// The short root names a hand-written entry may use, besides the names every entry uses.
struct RootAlias {
    const char* name;
    RegKey root;
};
constexpr RootAlias kRootAliases[] = {
    {"HKCR", kHkeyClassesRoot}, {"HKCU", kHkeyCurrentUser},   {"HKLM", kHkeyLocalMachine},
    {"HKU", kHkeyUsers},        {"HKCC", kHkeyCurrentConfig},
};

// Upper case, one "\" between components, no trailing separator, "." dropped and ".."
// taken back, so that every spelling of one folder or key meets the same table text. The
// prefixes "\\?\" and "\\.\" of long and device paths are dropped too.
std::string Canonical(const char* text, bool fileSystem = true) {
    std::string s = text != nullptr ? text : "";
    for (char& ch : s) {
        if (ch == '/') ch = '\\';
    }
    if (s.rfind("\\\\?\\", 0) == 0 || s.rfind("\\\\.\\", 0) == 0) s.erase(0, 4);
    if (!s.empty()) AnsiUpperInPlace(&s[0]);
    std::vector<std::string> parts;
    bool leading = !s.empty() && s[0] == '\\';
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find('\\', start);
        if (end == std::string::npos) end = s.size();
        std::string part = s.substr(start, end - start);
        // Windows drops trailing dots and blanks of a component.
        while (fileSystem && !part.empty() && part != "." && part != ".." &&
               (part.back() == ' ' || part.back() == '.'))
            part.pop_back();
        // Registry key names take "." and ".." literally.
        if (part.empty() || (fileSystem && part == ".")) {
        } else if (fileSystem && part == "..") {
            if (parts.size() > 1) parts.pop_back();
        } else {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out = leading ? "\\" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += '\\';
        out += parts[i];
    }
    return out;
}

bool IsDriveRoot(const std::string& canonical) {
    return canonical.size() == 2 && canonical[1] == ':' &&
           ((canonical[0] >= 'A' && canonical[0] <= 'Z') || (canonical[0] >= 'a' && canonical[0] <= 'z'));
}

std::string Environment(Platform& os, const char16_t* name) {
    std::u16string value;
    if (!os.sys.GetEnvironmentVariable(name, value)) return {};
    return Utf16ToAnsi(value);
}

// The names of the directories directly inside `folder` ("." and ".." left out). A name the
// ANSI code page cannot spell is left out too: its narrow spelling would protect another
// folder or a pattern, and no walk lists anything below such a folder.
std::vector<std::string> Subfolders(Platform& os, const std::string& folder) {
    std::vector<std::string> names;
    FindDataW found;
    FindHandle raw = 0;
    if (folder.empty() || !os.fs.FindFirstFileW(AnsiToUtf16(folder + "\\*"), found, raw)) return names;
    UniqueFind find(&os.fs, raw);
    do {
        if ((found.attributes & kFileAttributeDirectory) == 0) continue;
        if (found.name == u"." || found.name == u".." || !SurvivesAnsi(found.name)) continue;
        names.push_back(Utf16ToAnsi(found.name));
    } while (os.fs.FindNextFileW(find.get(), found));
    return names;
}

std::string Parent(const std::string& canonical) {
    size_t at = canonical.rfind('\\');
    return at == std::string::npos ? std::string() : canonical.substr(0, at);
}

}  // namespace

ProtectedLocations::ProtectedLocations(platform::Platform& os) : os_(os) {}

void ProtectedLocations::AddFolder(const std::string& path, const char* reason) {
    if (path.empty()) return;
    std::string key = Canonical(path.c_str());
    if (key.empty() || IsDriveRoot(key)) return;
    folders_.emplace(key, reason);  // the first, most specific reason stays
}

void ProtectedLocations::AddProfileFolder(const std::string& path) {
    std::string key = Canonical(path.c_str());
    if (key.empty()) return;
    AddFolder(key, kProfileFolder);
    for (const char* sub : {"APPDATA", "APPDATA\\LOCAL", "APPDATA\\LOCALLOW", "APPDATA\\ROAMING"}) {
        AddFolder(key + "\\" + sub, kProfileData);
    }
    profiles_.push_back(key);
}

// The folders the macros of FILE_NAME_EXPAND entries resolve to, resolved as their
// handlers resolve them, and for the per-user ones in every profile beside the user's.
void ProtectedLocations::AddMacroFolders() {
    std::string user;
    if (!os_.shell.GetUserName(user) || user.size() >= 128) user.clear();
    if (!user.empty()) AnsiUpperInPlace(&user[0]);

    for (size_t i = 0; i < kFolderMacroCount; ++i) {
        const FolderMacro& macro = kFolderMacros[i];
        std::vector<std::string> resolved;
        std::string folder;
        switch (macro.folder) {
            case MacroFolder::kShell:
                if (os_.shell.SHGetSpecialFolderPath(macro.csidl, folder, false)) resolved.push_back(folder);
                break;
            case MacroFolder::kSystem:
                if (os_.shell.SHGetSpecialFolderPath(macro.csidl, folder, false)) resolved.push_back(folder);
                if (os_.shell.GetSystemDirectory(folder)) resolved.push_back(folder);
                break;
            case MacroFolder::kWindows:
                if (os_.shell.GetWindowsDirectory(folder)) resolved.push_back(folder);
                break;
            case MacroFolder::kProgramFiles64: {
                char buffer[kMaxPathBuffer] = {};
                if (ReadProgramFilesDir64(os_, buffer, sizeof(buffer), false) == 0)
                    resolved.push_back(buffer);
                break;
            }
            case MacroFolder::kGoogleGadgets:
                get_google_plugin_dir(os_, folder);
                resolved.push_back(folder);
                break;
        }
        // The reason names the macro; the table's names live as long as the program.
        const char* reason = macro.name;
        for (const std::string& one : resolved) {
            std::string canonical = Canonical(one.c_str());
            if (canonical.empty()) continue;
            AddFolder(canonical, reason);
            size_t at = user.empty() ? std::string::npos : expand::FindPathComponent(canonical, user);
            if (at == std::string::npos) continue;
            std::string profiles = canonical.substr(0, at);  // ends with "\"
            std::string tail = canonical.substr(at + user.size());
            for (const std::string& name : Subfolders(os_, profiles.substr(0, profiles.size() - 1))) {
                AddFolder(profiles + name + tail, reason);
            }
        }
    }
}

void ProtectedLocations::Resolve() {
    resolved_ = true;
    std::string folder;

    // Windows and its system folders.
    std::vector<std::string> windows = {"C:\\WINDOWS", Environment(os_, u"SystemRoot"),
                                        Environment(os_, u"windir")};
    if (os_.shell.GetWindowsDirectory(folder)) windows.insert(windows.begin(), folder);
    if (os_.shell.SHGetSpecialFolderPath(kCsidlWindows, folder, false)) windows.push_back(folder);
    for (const std::string& w : windows) {
        if (w.empty()) continue;
        AddFolder(w + "\\SYSTEM32", kSystemFolder);
        AddFolder(w + "\\SYSWOW64", kSystemFolder);
        AddFolder(w + "\\SYSNATIVE", kSystemFolder);
    }
    if (os_.shell.GetSystemDirectory(folder)) AddFolder(folder, kSystemFolder);
    if (os_.shell.SHGetSpecialFolderPath(kCsidlSystem, folder, false)) AddFolder(folder, kSystemFolder);
    for (const std::string& w : windows) AddFolder(w, kWindowsFolder);

    // Both program files folders and their common files folders.
    static const char* const kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    std::vector<std::string> programFiles = {
        "C:\\PROGRAM FILES",
        "C:\\PROGRAM FILES (X86)",
        Environment(os_, u"ProgramFiles"),
        Environment(os_, u"ProgramFiles(x86)"),
        Environment(os_, u"ProgramW6432"),
        RegistryString(os_, kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir"),
        RegistryString(os_, kHkeyLocalMachine, kCurrentVersion, "ProgramFilesDir (x86)"),
    };
    if (os_.shell.SHGetSpecialFolderPath(kCsidlProgramFiles, folder, false)) programFiles.push_back(folder);
    char buffer[kMaxPathBuffer] = {};
    if (ReadProgramFilesDir64(os_, buffer, sizeof(buffer), false) == 0) programFiles.push_back(buffer);
    std::vector<std::string> commonFiles = {
        Environment(os_, u"CommonProgramFiles"),
        Environment(os_, u"CommonProgramFiles(x86)"),
        Environment(os_, u"CommonProgramW6432"),
        RegistryString(os_, kHkeyLocalMachine, kCurrentVersion, "CommonFilesDir"),
        RegistryString(os_, kHkeyLocalMachine, kCurrentVersion, "CommonFilesDir (x86)"),
    };
    for (const std::string& p : programFiles) {
        if (!p.empty()) commonFiles.push_back(p + "\\COMMON FILES");
    }
    for (const std::string& c : commonFiles) AddFolder(c, kCommonFiles);
    for (const std::string& p : programFiles) AddFolder(p, kProgramFiles);

    // The shared application data folder.
    AddFolder("C:\\PROGRAMDATA", kProgramData);
    AddFolder(Environment(os_, u"ProgramData"), kProgramData);
    AddFolder(Environment(os_, u"ALLUSERSPROFILE"), kProgramData);
    if (os_.shell.SHGetSpecialFolderPath(kCsidlCommonAppData, folder, false)) AddFolder(folder, kProgramData);

    // The users folders and every profile: those lying in them and those the registry knows.
    static const char* const kProfileList = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    std::vector<std::string> usersFolders = {
        "C:\\USERS",
        "C:\\DOCUMENTS AND SETTINGS",
        RegistryString(os_, kHkeyLocalMachine, kProfileList, "ProfilesDirectory"),
        Parent(Canonical(Environment(os_, u"USERPROFILE").c_str())),
        Parent(Canonical(Environment(os_, u"PUBLIC").c_str())),
    };
    std::string user;
    if (os_.shell.GetUserName(user) && !user.empty() && user.size() < 128 &&
        os_.shell.SHGetSpecialFolderPath(kCsidlAppData, folder, false)) {
        AnsiUpperInPlace(&user[0]);
        std::string canonical = Canonical(folder.c_str());
        size_t at = expand::FindPathComponent(canonical, user);
        if (at != std::string::npos && at > 0) usersFolders.push_back(canonical.substr(0, at - 1));
    }
    for (const std::string& u : usersFolders) {
        std::string canonical = Canonical(u.c_str());
        if (canonical.empty() || IsDriveRoot(canonical)) continue;
        AddFolder(canonical, kUsersFolder);
        for (const std::string& name : Subfolders(os_, canonical)) AddProfileFolder(canonical + "\\" + name);
    }
    RegKey raw = 0;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, kProfileList, kKeyRead | kKeyWow64_64Key, raw) == 0) {
        UniqueRegKey list(&os_.reg, raw);
        char name[kKeyNameBytes];
        for (uint32_t index = 0; index < 100000; ++index) {
            uint32_t length = sizeof(name);
            if (os_.reg.EnumKeyEx(list.get(), index, name, &length) != 0) break;
            std::string sub = std::string(kProfileList) + "\\" + name;
            std::string image = RegistryString(os_, kHkeyLocalMachine, sub.c_str(), "ProfileImagePath");
            if (!image.empty()) AddProfileFolder(image);
        }
    }
    AddProfileFolder(Environment(os_, u"USERPROFILE"));

    AddMacroFolders();

    // A folder removed whole takes the protected folders inside it along.
    std::vector<std::string> holders;
    for (const auto& entry : folders_) {
        for (std::string up = Parent(entry.first); !up.empty() && !IsDriveRoot(up); up = Parent(up))
            holders.push_back(up);
    }
    for (const std::string& h : holders) folders_.emplace(h, kHolder);
}

// `path` without the stream part of any component ("A::$INDEX_ALLOCATION" is the folder A
// itself): what is left names the object the stream belongs to.
static std::string WithoutStreams(const char* path) {
    const size_t driveColon =
        std::strncmp(path, "\\\\?\\", 4) == 0 || std::strncmp(path, "\\\\.\\", 4) == 0 ? 5 : 1;
    std::string out;
    bool inStream = false;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        const char ch = path[i];
        if (ch == '\\' || ch == '/')
            inStream = false;
        else if (ch == ':' && i != driveColon)
            inStream = true;
        if (!inStream) out += ch;
    }
    return out;
}

const char* ProtectedLocations::FolderReason(const char* path) {
    if (path == nullptr) return nullptr;
    std::string canonical = Canonical(WithoutStreams(path).c_str());
    if (IsDriveRoot(canonical)) return Refused(path, kDriveRoot);
    if (canonical.empty()) return nullptr;
    canonical = LongFormPath(os_, canonical);
    if (!resolved_) Resolve();
    auto it = folders_.find(canonical);
    return it != folders_.end() ? Refused(path, it->second.c_str()) : nullptr;
}

const char* ProtectedLocations::Refused(const char* object, const char* reason) {
    if (observer_) observer_(object, reason);
    return reason;
}

// The reason a key below a SOFTWARE key (`rest` relative to it) is protected, either view.
static const char* SoftwareKeyReason(std::string rest) {
    if (rest == "WOW6432NODE") return kRedirectedSoftware;
    if (rest.rfind("WOW6432NODE\\", 0) == 0) rest.erase(0, std::strlen("WOW6432NODE\\"));
    for (const KeyRow& row : kSoftwareKeys) {
        if (rest == row.path) return row.reason;
    }
    return nullptr;
}

// A control set: SYSTEM\CURRENTCONTROLSET or SYSTEM\CONTROLSETnnn.
static bool IsControlSet(const std::string& name) {
    if (name == "CURRENTCONTROLSET") return true;
    if (name.rfind("CONTROLSET", 0) != 0 || name.size() == std::strlen("CONTROLSET")) return false;
    for (size_t i = std::strlen("CONTROLSET"); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

const char* ProtectedLocations::KeyReason(const char* keyText) {
    const char* reason = KeyReasonOf(keyText);
    return reason != nullptr ? Refused(keyText, reason) : nullptr;
}

const char* ProtectedLocations::KeyReasonOf(const char* keyText) {
    if (keyText == nullptr) return nullptr;
    std::string canonical = Canonical(keyText, false);
    if (!canonical.empty() && canonical[0] == '\\') canonical.erase(0, 1);
    if (canonical.empty()) return nullptr;
    size_t slash = canonical.find('\\');
    std::string rootName = canonical.substr(0, slash);
    std::string rest = slash == std::string::npos ? std::string() : canonical.substr(slash + 1);
    RegKey root = RootKeyOfName(rootName.c_str());
    for (const RootAlias& alias : kRootAliases) {
        if (rootName == alias.name) root = alias.root;
    }
    if (root == 0) return nullptr;
    if (rest.empty()) return kRegistryRoot;

    auto below = [](const std::string& path, const char* head, std::string& tail) {
        size_t n = std::strlen(head);
        if (path == head) {
            tail.clear();
            return true;
        }
        if (path.size() > n && path.compare(0, n, head) == 0 && path[n] == '\\') {
            tail = path.substr(n + 1);
            return true;
        }
        return false;
    };
    std::string tail;
    switch (root) {
        case kHkeyLocalMachine: {
            if (below(rest, "SOFTWARE", tail)) return SoftwareKeyReason(tail);
            if (rest == "SYSTEM") return kSystemKey;
            if (below(rest, "SYSTEM", tail)) {
                size_t at = tail.find('\\');
                std::string set = tail.substr(0, at);
                if (!IsControlSet(set)) return nullptr;
                if (at == std::string::npos) return kControlSet;
                return tail.substr(at + 1) == "SERVICES" ? kServicesKey : nullptr;
            }
            return nullptr;
        }
        case kHkeyCurrentUser:
            return below(rest, "SOFTWARE", tail) ? SoftwareKeyReason(tail) : nullptr;
        case kHkeyUsers: {
            size_t at = rest.find('\\');
            if (at == std::string::npos) return kUserHive;
            return below(rest.substr(at + 1), "SOFTWARE", tail) ? SoftwareKeyReason(tail) : nullptr;
        }
        default:
            return nullptr;
    }
}

void LogProtectedRefusal(const char* tag, const char* entry, const char* reason) {
    engine::EngineLog(2, "%s: '%s' is a protected location (%s), not removed", tag, entry, reason);
}

}  // namespace expand
