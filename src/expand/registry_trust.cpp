#include "expand/registry_trust.h"

#include <cstring>
#include <vector>

#include "expand/path_helpers.h"
#include "guard/held_path.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"

namespace expand {

using namespace platform;

namespace {

constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The hive of HKEY_USERS that `keyPath` lies in ("S-1-5-21-...", "S-1-5-21-..._Classes").
std::string UsersHive(const char* keyPath) {
    std::string path = keyPath != nullptr ? keyPath : "";
    return path.substr(0, path.find('\\'));
}

// The hives of HKEY_USERS that belong to the machine's own accounts, not to a person.
bool IsServiceHive(const std::string& hive) {
    static const char* const kServiceHives[] = {".DEFAULT", "S-1-5-18", "S-1-5-19", "S-1-5-20"};
    for (const char* name : kServiceHives)
        if (AnsiCompareNoCase(hive.c_str(), name) == 0) return true;
    return false;
}

std::string Normalized(Platform& os, std::string path) {
    if (path.empty()) return path;
    NormalizePath(&path[0]);
    path.resize(std::strlen(path.c_str()));
    return LongFormPath(os, path);
}

}  // namespace

KeyWriters WritersOfKey(Platform& os, RegKey root, const char* keyPath, RegKey key) {
    if (root == kHkeyCurrentUser) return KeyWriters::kOneUser;
    if (root == kHkeyUsers && !IsServiceHive(UsersHive(keyPath))) return KeyWriters::kOneUser;
    std::string owner, dacl;
    if (os.sec.GetSecurityInfo(key, kOwnerSecurityInformation | kDaclSecurityInformation, &owner, &dacl) != 0)
        return KeyWriters::kAnyone;
    const uint32_t rights = kKeySetValue | kKeyCreateSubKey | kWriteDac | kWriteOwner | kGenericWrite;
    return guard::GrantsStandardUser(owner, dacl, rights) ? KeyWriters::kAnyone : KeyWriters::kMachine;
}

std::string HiveProfile(Platform& os, RegKey root, const char* keyPath) {
    if (root == kHkeyCurrentUser) {
        std::u16string profile;
        if (!os.sys.GetEnvironmentVariable(u"USERPROFILE", profile)) return {};
        return Normalized(os, Utf16ToAnsi(profile));
    }
    if (root != kHkeyUsers) return {};
    std::string sid = UsersHive(keyPath);
    const size_t classes = sid.size() >= 8 ? sid.size() - 8 : std::string::npos;
    if (classes != std::string::npos && AnsiCompareNoCase(sid.c_str() + classes, "_Classes") == 0)
        sid.resize(classes);
    if (sid.empty()) return {};
    const std::string entry = std::string(kProfileList) + "\\" + sid;
    return Normalized(os, RegistryString(os, kHkeyLocalMachine, entry.c_str(), "ProfileImagePath"));
}

bool IsInsideFolder(Platform& os, const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    const std::string plain = Normalized(os, path);
    if (plain.size() <= folder.size() + 1 || plain[folder.size()] != '\\') return false;
    if (plain.compare(0, folder.size(), folder) != 0) return false;
    // Nothing in it may climb out again or name a stream.
    if (plain.find(':', 2) != std::string::npos) return false;
    for (const std::string& part : PathComponents(plain))
        if (part == "." || part == "..") return false;
    return true;
}

void LogKeyNotTrusted(const char* tag, const std::string& keyText) {
    engine::EngineLog(3, "%s: values of '%s' are not used: a standard user can change that key", tag,
                      keyText.c_str());
}

bool MachineWroteKey(Platform& os, RegKey root, const char* keyPath, RegKey key, const char* tag) {
    if (WritersOfKey(os, root, keyPath, key) == KeyWriters::kMachine) return true;
    const char* rootName = CanonicalRootName(root);
    std::string text = rootName != nullptr ? rootName : "";
    if (keyPath != nullptr && *keyPath != '\0') text += std::string("\\") + keyPath;
    LogKeyNotTrusted(tag, text);
    return false;
}

}  // namespace expand
