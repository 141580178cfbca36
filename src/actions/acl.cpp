#include "actions/acl.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "guard/held_path.h"
#include "platform/acl_text.h"
#include "platform/ansi.h"
#include "platform/registry_links.h"

namespace actions {

namespace {

using platform::kErrorAccessDenied;
using platform::kErrorSuccess;

constexpr uint32_t kErrorInvalidAcl = 1336;
constexpr uint32_t kFullControlAcl =
    platform::kDaclSecurityInformation | platform::kProtectedDaclSecurityInformation;

// The user name and SID of the account the tool runs as: 0, 1 when the name cannot be read.
uint32_t CurrentUserSid(platform::Platform& os, std::string& sid) {
    std::string user;
    if (!os.sec.GetUserNameA(user)) return 1;
    return GetAccountSid(os, &sid, user.c_str());
}

}  // namespace

uint32_t GetAccountSid(platform::Platform& os, std::string* sid, const char* account) {
    if (sid == nullptr) return platform::kErrorInvalidParameter;
    sid->clear();
    if (account == nullptr) return platform::kErrorInvalidParameter;
    uint32_t sidSize = 0, domainSize = 0, use = 0;
    if (os.sec.LookupAccountNameA(account, nullptr, sidSize, nullptr, domainSize, use)) {
        // Success without buffers names no SID; it must not pass for one.
        uint32_t error = os.sys.GetLastError();
        return error != kErrorSuccess ? error : platform::kErrorNoneMapped;
    }
    uint32_t error = os.sys.GetLastError();
    if (error != platform::kErrorInsufficientBuffer)
        return error != kErrorSuccess ? error : platform::kErrorNoneMapped;
    std::string found, domain;
    if (!os.sec.LookupAccountNameA(account, &found, sidSize, &domain, domainSize, use)) {
        error = os.sys.GetLastError();
        return error != kErrorSuccess ? error : platform::kErrorNoneMapped;
    }
    *sid = found;
    return kErrorSuccess;
}

uint32_t FormatRegKeyObjectName(platform::RegKey root, const char* keyPath, char* out, size_t outSize) {
    if (out == nullptr || outSize == 0) return platform::kErrorInvalidParameter;
    const char* name = nullptr;
    switch (root) {
        case platform::kHkeyClassesRoot:
            name = "CLASSES_ROOT";
            break;
        case platform::kHkeyCurrentUser:
            name = "CURRENT_USER";
            break;
        case platform::kHkeyLocalMachine:
            name = "MACHINE";
            break;
        case platform::kHkeyUsers:
            name = "USERS";
            break;
        default:
            return platform::kErrorFileNotFound;
    }
    int n = std::snprintf(out, outSize, "%s\\%s", name, keyPath != nullptr ? keyPath : "");
    if (n < 0 || static_cast<size_t>(n) >= outSize) {
        out[0] = '\0';
        return platform::kErrorInsufficientBuffer;
    }
    return kErrorSuccess;
}

uint32_t BuildAccountDacl(std::string* newDacl, const std::string* oldDacl, const char* sid, uint32_t mask,
                          bool replace, bool addThisObject, bool addInheritable) {
    if (newDacl == nullptr || sid == nullptr || (!addThisObject && !addInheritable))
        return platform::kErrorInvalidParameter;
    newDacl->clear();
    std::string account = platform::CanonicalSid(sid);
    if (account.empty()) return 1337;  // ERROR_INVALID_SID

    std::vector<platform::AceText> aces;
    if (!replace && oldDacl != nullptr && !oldDacl->empty()) {
        std::vector<platform::AceText> old;
        if (!platform::ParseDaclText(*oldDacl, old)) return kErrorInvalidAcl;
        // The account's own entries go: the new ones say all there is to say about it.
        for (const platform::AceText& ace : old)
            if (ace.sid != account) aces.push_back(ace);
    }

    // Windows reads explicit denied entries first, then explicit allowed, then inherited
    // ones; the new allowed entries join at the head of the allowed ones.
    size_t at = aces.size();
    for (size_t i = 0; i < aces.size(); ++i) {
        if ((aces[i].flags & platform::kInheritedAce) || aces[i].type == platform::kAccessAllowedAceType) {
            at = i;
            break;
        }
    }
    const uint8_t inheritable =
        platform::kObjectInheritAce | platform::kContainerInheritAce | platform::kInheritOnlyAce;
    if (addThisObject) {
        aces.insert(aces.begin() + static_cast<std::ptrdiff_t>(at),
                    platform::AceText{platform::kAccessAllowedAceType, 0, mask, account});
        ++at;
    }
    if (addInheritable)
        aces.insert(aces.begin() + static_cast<std::ptrdiff_t>(at),
                    platform::AceText{platform::kAccessAllowedAceType, inheritable, mask, account});
    *newDacl = platform::FormatDaclText(aces);
    return kErrorSuccess;
}

namespace {

// Opens `keyPath` below `root` as itself, never through a link: the access list and owner
// rewritten are those of the key the run meant, whatever a user planted on the way.
uint32_t OpenKeyItself(platform::Platform& os, platform::RegKey root, const char* keyPath, uint32_t access,
                       platform::RegKey& out) {
    return platform::OpenKeyWithoutFollowing(os.reg, root, keyPath != nullptr ? keyPath : "", access, out);
}

uint32_t DropRegKeyAclIn(platform::Platform& os, platform::RegKey root, const char* keyPath, uint32_t view) {
    std::string sid;
    if (uint32_t rc = CurrentUserSid(os, sid)) return rc;
    bool owned = false;
    auto takeOwnership = [&]() {
        guard::TakeOwnershipPrivilege privilege(os.sys);
        platform::RegKey h = 0;
        if (OpenKeyItself(os, root, keyPath, platform::kWriteOwner | view, h) != kErrorSuccess) return false;
        platform::UniqueRegKey key(&os.reg, h);
        owned = os.sec.RegSetKeySecurity(key.get(), platform::kOwnerSecurityInformation, sid.c_str(),
                                         nullptr) == kErrorSuccess;
        return owned;
    };

    const uint32_t access = platform::kReadControl | platform::kWriteDac | view;
    platform::RegKey h = 0;
    uint32_t rc = OpenKeyItself(os, root, keyPath, access, h);
    if (rc == kErrorAccessDenied && takeOwnership()) rc = OpenKeyItself(os, root, keyPath, access, h);
    if (rc != kErrorSuccess) return rc;
    platform::UniqueRegKey key(&os.reg, h);

    std::string oldDacl;
    if (uint32_t err =
            os.sec.GetSecurityInfo(key.get(), platform::kDaclSecurityInformation, nullptr, &oldDacl))
        return err;
    // The grant is for this key alone, and the list is written to this key alone: the keys
    // below keep theirs (each listed one gets its own grant when its turn comes), and no
    // inheritable entry of the old list, a user's among them, travels down to them.
    std::string newDacl;
    if (uint32_t err =
            BuildAccountDacl(&newDacl, &oldDacl, sid.c_str(), platform::kGenericAll, false, true, false))
        return err;
    rc = os.sec.RegSetKeySecurity(key.get(), kFullControlAcl, nullptr, newDacl.c_str());
    if (rc == kErrorAccessDenied && !owned && takeOwnership())
        rc = os.sec.RegSetKeySecurity(key.get(), kFullControlAcl, nullptr, newDacl.c_str());
    return rc;
}

}  // namespace

uint32_t DropRegKeyAcl(platform::Platform& os, platform::RegKey root, const char* keyPath) {
    // Only the roots an access-control name exists for, as before.
    char name[kObjectNameBuffer];
    if (uint32_t rc = FormatRegKeyObjectName(root, keyPath, name, sizeof name)) return rc;
    return DropRegKeyAclIn(os, root, keyPath, 0);
}

uint32_t DropRegKeyAcl64bit(platform::Platform& os, platform::RegKey root, const char* keyPath) {
    return DropRegKeyAclIn(os, root, keyPath, platform::kKeyWow64_64Key);
}

uint32_t OpenWithoutFollowing(platform::Platform& os, const char* path, uint32_t access,
                              platform::UniqueFile& out) {
    out.reset();
    if (path == nullptr) return platform::kErrorInvalidParameter;
    std::u16string wide;
    if (!platform::AnsiToUtf16(path, std::strlen(path), wide)) return platform::kErrorInvalidParameter;
    platform::FileHandle raw = 0;
    const uint32_t share = platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete;
    if (!os.fs.CreateFileW(wide, access, share, nullptr, platform::kOpenExisting,
                           platform::kFileFlagOpenReparsePoint | platform::kFileFlagBackupSemantics, raw)) {
        uint32_t error = os.sys.GetLastError();
        return error != kErrorSuccess ? error : platform::kErrorInvalidFunction;
    }
    platform::UniqueFile file(&os.fs, raw);
    uint32_t attributes = 0;
    if (!os.fs.GetFileInformationByHandle(file.get(), attributes)) {
        uint32_t error = os.sys.GetLastError();
        return error != kErrorSuccess ? error : platform::kErrorInvalidFunction;
    }
    if (attributes & platform::kFileAttributeReparsePoint) return guard::kErrorStoppedOnSymlink;
    out = std::move(file);
    return kErrorSuccess;
}

std::string FindLinkOnPath(platform::Platform& os, const char* path) {
    if (path == nullptr) return std::string();
    const std::string full = path;
    // The directories on the way, from the first below the drive's root.
    size_t from = full.size() > 3 && full[1] == ':' ? 3 : 0;
    for (size_t at = full.find('\\', from); at != std::string::npos; at = full.find('\\', at + 1)) {
        std::string directory = full.substr(0, at);
        uint32_t attributes = os.fs.GetFileAttributesA(directory);
        if (attributes != platform::kInvalidFileAttributes &&
            (attributes & platform::kFileAttributeReparsePoint))
            return directory;
    }
    platform::UniqueFile file;
    uint32_t rc = OpenWithoutFollowing(os, path, platform::kFileReadAttributes, file);
    if (rc == guard::kErrorStoppedOnSymlink) return full;
    if (rc != kErrorSuccess) {
        uint32_t attributes = os.fs.GetFileAttributesA(full);
        if (attributes != platform::kInvalidFileAttributes &&
            (attributes & platform::kFileAttributeReparsePoint))
            return full;
    }
    return std::string();
}

}  // namespace actions
