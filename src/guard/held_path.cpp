#include "guard/held_path.h"

#include <cctype>
#include <cstdio>

#include "platform/acl_text.h"
#include "platform/ansi.h"

namespace guard {

namespace {

using platform::kErrorSuccess;

constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kFullControlAcl =
    platform::kDaclSecurityInformation | platform::kProtectedDaclSecurityInformation;
using platform::kErrorAccessDenied;
constexpr uint32_t kFileDeleteChild = 0x40;
constexpr uint32_t kFileWriteData = 0x2;
constexpr uint32_t kFileAppendData = 0x4;
constexpr char kTrustedInstallerSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kCreatorOwnerSid[] = "S-1-3-0";

std::string Folded(std::string s) {
    if (!s.empty()) platform::AnsiUpperInPlace(&s[0]);
    return s;
}

// "C:\A\B\X" as "C:\", "A", "B" and the leaf "X"; false for anything else.
bool SplitFullPath(const std::string& path, std::vector<std::string>& folders, std::string& leaf) {
    folders.clear();
    if (path.size() < 4 || path[1] != ':' || path[2] != '\\' ||
        !std::isalpha(static_cast<unsigned char>(path[0])))
        return false;
    folders.push_back(path.substr(0, 3));
    size_t start = 3;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty() || part == "." || part == ".." || part.find_first_of(":/") != std::string::npos)
            return false;
        if (end == std::string::npos) {
            leaf = part;
            return true;
        }
        folders.push_back(part);
        start = end + 1;
    }
}

uint32_t LastErrorOr(platform::Platform& os, uint32_t fallback) {
    uint32_t error = os.sys.GetLastError();
    return error != kErrorSuccess ? error : fallback;
}

// What `object` holds must be no link: 0, 681 for a link, or the error of asking; its
// attributes in `attributes` (may be null).
uint32_t NotALink(platform::Platform& os, platform::FileHandle object, uint32_t* attributes = nullptr) {
    uint32_t found = 0;
    if (!os.fs.GetFileInformationByHandle(object, found))
        return LastErrorOr(os, platform::kErrorInvalidFunction);
    if (attributes != nullptr) *attributes = found;
    return (found & platform::kFileAttributeReparsePoint) != 0 ? kErrorStoppedOnSymlink : kErrorSuccess;
}

// The descriptor of the one object the handle holds. A folder's inheritable entries are not
// carried down to what it holds: a hard link a user made there is another object's name,
// and whatever lies below gets a list of its own when its own turn comes.
uint32_t SetOwnSecurity(platform::Platform& os, platform::FileHandle object, uint32_t info, const char* owner,
                        const char* dacl) {
    return os.sec.SetKernelObjectSecurity(object, info, owner, dacl)
               ? kErrorSuccess
               : LastErrorOr(os, platform::kErrorInvalidFunction);
}

}  // namespace

void HeldPath::Release() {
    while (!held_.empty()) held_.pop_back();  // innermost first
    names_.clear();
    leaf_.clear();
    userFrom_ = kNoUserFolder;
}

uint32_t HeldPath::HoldParentsOf(const std::string& path, std::string* link) {
    std::vector<std::string> folders;
    std::string leaf;
    missingUnderUser_ = false;
    if (!SplitFullPath(path, folders, leaf)) {
        Release();
        return kErrorInvalidName;
    }
    uint32_t rc = Hold(folders, link, false, nullptr, 0);
    if (rc == kErrorSuccess) leaf_ = leaf;
    return rc;
}

uint32_t HeldPath::HoldFolder(const std::string& path, bool create, const char* sddl, size_t keepDefault) {
    std::vector<std::string> folders;
    std::string leaf;
    missingUnderUser_ = false;
    if (!SplitFullPath(path + "\\x", folders, leaf)) {
        Release();
        return kErrorInvalidName;
    }
    return Hold(folders, nullptr, create, sddl, keepDefault);
}

uint32_t HeldPath::Hold(const std::vector<std::string>& folders, std::string* link, bool create,
                        const char* sddl, size_t keepDefault) {
    size_t keep = 0;
    while (keep < names_.size() && keep < folders.size() && Folded(names_[keep]) == Folded(folders[keep]))
        ++keep;
    while (held_.size() > keep) held_.pop_back();
    names_.resize(keep);
    leaf_.clear();
    if (userFrom_ >= keep) userFrom_ = kNoUserFolder;
    std::string walked;
    for (size_t i = 0; i < folders.size(); ++i) {
        walked += i == 0 ? folders[0] : (i == 1 ? "" : "\\") + folders[i];
        if (i < keep) continue;
        const bool underUser = userFrom_ < i;
        const platform::FileHandle parent = i == 0 ? 0 : held_.back().get();
        const std::u16string name = platform::AnsiToUtf16(folders[i]);
        const uint32_t disposition = create && i > 0 ? platform::kOpenAlways : platform::kOpenExisting;
        const char* security = i > keepDefault ? sddl : nullptr;
        platform::FileHandle raw = 0;
        // Below a folder a user can change, the folder is held against renaming at once.
        uint32_t rc = underUser
                          ? os_.fs.OpenRelative(parent, name, kHeldFolderAccess, kHeldFolderShare,
                                                disposition, platform::kOpenDirectoryOnly, security, raw)
                          : platform::kErrorSharingViolation;
        if (rc == platform::kErrorSharingViolation)
            rc = os_.fs.OpenRelative(parent, name, kLightFolderAccess, kShareAll, disposition,
                                     platform::kOpenDirectoryOnly, security, raw);
        if (rc != kErrorSuccess) {
            missingUnderUser_ =
                (rc == platform::kErrorFileNotFound || rc == platform::kErrorPathNotFound) && underUser;
            Release();
            return rc;
        }
        platform::UniqueFile folder(&os_.fs, raw);
        if (i > 0 && (rc = NotALink(os_, folder.get())) != kErrorSuccess) {
            if (rc == kErrorStoppedOnSymlink && link != nullptr) *link = walked;
            Release();
            return rc;
        }
        if (!underUser && UserCanChange(os_, folder.get(), false)) {
            userFrom_ = i;
            platform::FileHandle pinned = 0;
            if (os_.fs.OpenRelative(parent, name, kHeldFolderAccess, kHeldFolderShare,
                                    platform::kOpenExisting, platform::kOpenDirectoryOnly, nullptr,
                                    pinned) == kErrorSuccess) {
                // What the name leads to now, pinned; a link put in its place is not taken.
                platform::UniqueFile second(&os_.fs, pinned);
                if (NotALink(os_, second.get()) == kErrorSuccess) folder = std::move(second);
            }
        }
        held_.push_back(std::move(folder));
        names_.push_back(folders[i]);
    }
    return kErrorSuccess;
}

uint32_t HeldPath::Open(uint32_t access, platform::UniqueFile& out, uint32_t* attributes) {
    out.reset();
    if (held_.empty() || leaf_.empty()) return platform::kErrorInvalidHandle;
    platform::FileHandle raw = 0;
    const uint32_t share = platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete;
    uint32_t rc =
        os_.fs.OpenRelative(Parent(), platform::AnsiToUtf16(leaf_), access | platform::kFileReadAttributes,
                            share, platform::kOpenExisting, platform::kOpenAnyObject, nullptr, raw);
    if (rc != kErrorSuccess) return rc;
    platform::UniqueFile object(&os_.fs, raw);
    if ((rc = NotALink(os_, object.get(), attributes)) != kErrorSuccess) return rc;
    out = std::move(object);
    return kErrorSuccess;
}

bool IsMachineAccount(const std::string& sid) {
    return platform::EqualSidText(sid, platform::kAdministratorsSid) ||
           platform::EqualSidText(sid, "S-1-5-18") || platform::EqualSidText(sid, kTrustedInstallerSid);
}

bool GrantsStandardUser(const std::string& owner, const std::string& dacl, uint32_t rights) {
    if (!IsMachineAccount(owner)) return true;
    std::vector<platform::AceText> aces;
    if (dacl.empty() || !platform::ParseDaclText(dacl, aces)) return true;  // no list lets everybody in
    rights |= platform::kGenericAll;
    for (const platform::AceText& ace : aces) {
        if (ace.type != platform::kAccessAllowedAceType || (ace.flags & platform::kInheritOnlyAce)) continue;
        if (IsMachineAccount(ace.sid) || platform::EqualSidText(ace.sid, kCreatorOwnerSid)) continue;
        if (ace.mask & rights) return true;
    }
    return false;
}

bool UserCanChange(platform::Platform& os, platform::FileHandle object, bool isTarget) {
    std::string owner, dacl;
    if (os.sec.GetFileSecurityInfo(object,
                                   platform::kOwnerSecurityInformation | platform::kDaclSecurityInformation,
                                   &owner, &dacl) != kErrorSuccess)
        return true;
    uint32_t risky = platform::kDeleteAccess | platform::kWriteDac | platform::kWriteOwner | kFileDeleteChild;
    if (isTarget) risky |= platform::kGenericWrite | kFileWriteData | kFileAppendData;
    return GrantsStandardUser(owner, dacl, risky);
}

bool OwnedByMachineAccount(platform::Platform& os, const std::string& path) {
    HeldPath held(os);
    platform::UniqueFile object;
    std::string owner;
    return held.HoldParentsOf(path) == kErrorSuccess &&
           held.Open(platform::kReadControl, object) == kErrorSuccess &&
           os.sec.GetFileSecurityInfo(object.get(), platform::kOwnerSecurityInformation, &owner, nullptr) ==
               kErrorSuccess &&
           IsMachineAccount(owner);
}

bool StandardUserCanChange(platform::Platform& os, const std::string& path) {
    HeldPath held(os);
    platform::UniqueFile object;
    return held.HoldParentsOf(path) != kErrorSuccess || held.UserCanChangeFolders() ||
           held.Open(platform::kReadControl, object) != kErrorSuccess ||
           UserCanChange(os, object.get(), true);
}

uint32_t MakeAdministratorsFolder(platform::Platform& os, platform::FileHandle parent,
                                  const std::string& name, bool fresh, uint32_t access,
                                  platform::UniqueFile& out, bool* tookOver) {
    out.reset();
    if (tookOver != nullptr) *tookOver = false;
    const uint32_t want = kLightFolderAccess | platform::kWriteDac | platform::kWriteOwner | access;
    // Another's folder may refuse WRITE_OWNER to all but its owner; the privilege overrides that.
    TakeOwnershipPrivilege privilege(os.sys);
    platform::FileHandle raw = 0;
    // A folder made now is held against renaming, whoever may delete in the folder above: no
    // other handle can be on it yet. One taken over is held in a way no handle a user kept on
    // it can refuse; from now on its list keeps users out.
    uint32_t rc =
        os.fs.OpenRelative(parent, platform::AnsiToUtf16(name), want | kHeldFolderAccess, kHeldFolderShare,
                           platform::kCreateNew, platform::kOpenDirectoryOnly, kAdministratorsOnlySddl, raw);
    if (rc == platform::kErrorAlreadyExists && !fresh)
        rc = os.fs.OpenRelative(parent, platform::AnsiToUtf16(name), want, kShareAll, platform::kOpenExisting,
                                platform::kOpenDirectoryOnly, nullptr, raw);
    if (rc != kErrorSuccess) return rc;
    platform::UniqueFile folder(&os.fs, raw);
    if ((rc = NotALink(os, folder.get())) != kErrorSuccess) return rc;
    if (tookOver != nullptr) *tookOver = UserCanChange(os, folder.get(), true);
    // Set again through the handle: a folder taken over needs it, and not every file system
    // keeps the descriptor given at creation.
    const char* list = kAdministratorsOnlySddl + 4;  // the "D:" part
    if ((rc = SetOwnSecurity(os, folder.get(), platform::kOwnerSecurityInformation,
                             platform::kAdministratorsSid, nullptr)) != kErrorSuccess ||
        (rc = SetOwnSecurity(os, folder.get(),
                             platform::kDaclSecurityInformation | platform::kProtectedDaclSecurityInformation,
                             nullptr, list)) != kErrorSuccess)
        return rc;
    out = std::move(folder);
    return kErrorSuccess;
}

uint32_t MakeFreshAdministratorsFolder(platform::Platform& os, platform::FileHandle parent,
                                       const std::string& prefix, uint32_t access, platform::UniqueFile& out,
                                       std::string& name) {
    constexpr int kNameTries = 8;
    uint32_t rc = kErrorSuccess;
    for (int i = 0; i < kNameTries; ++i) {
        uint8_t guid[16] = {};
        if (int32_t hr = os.sys.CoCreateGuid(guid); hr < 0) return static_cast<uint32_t>(hr);
        char hex[33] = {};
        for (int b = 0; b < 16; ++b) std::snprintf(hex + 2 * b, 3, "%02X", guid[b]);
        // Never a folder that was there before: whoever made it may hold it, or may have
        // made it to be used.
        rc = MakeAdministratorsFolder(os, parent, prefix + hex, true, access, out);
        if (rc == kErrorSuccess) name = prefix + hex;
        if (rc != platform::kErrorAlreadyExists) break;
    }
    return rc;
}

TakeOwnershipPrivilege::TakeOwnershipPrivilege(platform::ISystem& sys) : sys_(sys) {
    platform::TokenHandle token = 0;
    if (!sys_.OpenProcessToken(platform::kTokenAdjustPrivileges | platform::kTokenQuery, token)) return;
    token_.reset(&sys_, token);
    if (!sys_.LookupPrivilegeValue(platform::kSeTakeOwnershipName, luid_)) return;
    uint32_t previous = 0;
    switchOff_ = sys_.AdjustTokenPrivilege(token, luid_, platform::kSePrivilegeEnabled, &previous) &&
                 sys_.GetLastError() == kErrorSuccess && (previous & platform::kSePrivilegeEnabled) == 0;
}

TakeOwnershipPrivilege::~TakeOwnershipPrivilege() {
    if (switchOff_) (void)sys_.AdjustTokenPrivilege(token_.get(), luid_, 0);
}

uint32_t CheckSingleName(platform::Platform& os, platform::FileHandle file) {
    uint32_t links = 0;
    if (!os.fs.GetFileLinkCount(file, links)) {
        uint32_t error = os.sys.GetLastError();
        return error != kErrorSuccess ? error : platform::kErrorInvalidFunction;
    }
    return links > 1 ? kErrorHardLinked : kErrorSuccess;
}

namespace {

// Rewrites the list of the object `path` names through its own handle, opened inside its
// held folders; with `takeOwner`, or when the list may not be rewritten otherwise,
// Administrators are made the owner first. An object with other names is left as it is,
// whichever handle finds that out first.
uint32_t RewriteHeld(platform::Platform& os, const char* path, const char* dacl, bool takeOwner,
                     HeldPath* given) {
    if (path == nullptr || dacl == nullptr) return platform::kErrorInvalidParameter;
    HeldPath own(os);
    HeldPath& held = given != nullptr ? *given : own;
    if (uint32_t rc = held.HoldParentsOf(path)) return rc;
    platform::UniqueFile file;
    if (!takeOwner) {
        uint32_t rc = held.Open(platform::kReadControl | platform::kWriteDac, file);
        if (rc == kErrorSuccess && (rc = CheckSingleName(os, file.get())) == kErrorSuccess)
            rc = SetOwnSecurity(os, file.get(), kFullControlAcl, nullptr, dacl);
        if (rc != kErrorAccessDenied) return rc;
        file.reset();
    }
    {
        platform::UniqueFile probe;
        if (uint32_t rc = held.Open(0, probe)) return rc;
        if (uint32_t rc = CheckSingleName(os, probe.get())) return rc;
    }
    // The owner may always rewrite the access list.
    {
        TakeOwnershipPrivilege privilege(os.sys);
        platform::UniqueFile owner;
        if (uint32_t err = held.Open(platform::kWriteOwner, owner)) return err;
        if (uint32_t err = SetOwnSecurity(os, owner.get(), platform::kOwnerSecurityInformation,
                                          platform::kAdministratorsSid, nullptr))
            return err;
    }
    if (uint32_t err = held.Open(platform::kReadControl | platform::kWriteDac, file)) return err;
    return SetOwnSecurity(os, file.get(), kFullControlAcl, nullptr, dacl);
}

}  // namespace

uint32_t SetFileDaclWithoutFollowing(platform::Platform& os, const char* path, const char* dacl,
                                     HeldPath* held) {
    return RewriteHeld(os, path, dacl, false, held);
}

uint32_t SetFileOwnerAndDaclWithoutFollowing(platform::Platform& os, const char* path, const char* dacl,
                                             HeldPath* held) {
    return RewriteHeld(os, path, dacl, true, held);
}

}  // namespace guard
