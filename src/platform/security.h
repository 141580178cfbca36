// Security descriptors, SIDs, access lists and ownership of files and registry keys (advapi32).
//
// SIDs travel in their string form ("S-1-5-32-544"). An access list (DACL) travels as the
// DACL part of a security descriptor string, every entry with a full SID and a hex mask:
// "D:(A;OICI;0x10000000;;;S-1-1-0)" (see platform/acl_text.h). The empty string stands for
// "no DACL" (a null DACL: no protection at all); "D:" is an empty DACL, which grants nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common.h"
#include "platform/filesystem.h"
#include "platform/registry.h"

namespace platform {

enum : uint32_t {
    // SE_OBJECT_TYPE.
    kSeFileObject = 1,
    kSeRegistryKey = 4,

    // SECURITY_INFORMATION.
    kOwnerSecurityInformation = 0x1,
    kGroupSecurityInformation = 0x2,
    kDaclSecurityInformation = 0x4,
    kProtectedDaclSecurityInformation = 0x80000000,

    // ACCESS_MODE of an EXPLICIT_ACCESS entry.
    kGrantAccess = 1,
    kSetAccess = 2,
    kDenyAccess = 3,
    kRevokeAccess = 4,

    // Inheritance of an EXPLICIT_ACCESS entry (the ACE flags it becomes).
    kNoInheritance = 0,
    kSubContainersAndObjectsInherit = 3,

    // TRUSTEE_FORM and TRUSTEE_TYPE.
    kTrusteeIsSid = 0,
    kTrusteeIsUser = 1,
    kTrusteeIsGroup = 2,
    kTrusteeIsWellKnownGroup = 5,

    // SID_NAME_USE.
    kSidTypeUser = 1,
    kSidTypeGroup = 2,
    kSidTypeAlias = 4,
    kSidTypeWellKnownGroup = 5,
};

constexpr char kSeTakeOwnershipName[] = "SeTakeOwnershipPrivilege";

// EXPLICIT_ACCESS with a trustee built by BuildTrusteeWithSid.
struct ExplicitAccess {
    uint32_t permissions = 0;
    uint32_t mode = kSetAccess;
    uint32_t inheritance = kNoInheritance;
    uint32_t trusteeForm = kTrusteeIsSid;
    uint32_t trusteeType = kTrusteeIsUser;
    std::string sid;
};

// Every call returns what the Win32 call of the same name returns: a bool is its BOOL
// (false: ISystem::GetLastError says why), a uint32_t its Windows error code.
class ISecurity {
  public:
    ISecurity() = default;
    ISecurity(const ISecurity&) = delete;
    ISecurity& operator=(const ISecurity&) = delete;
    virtual ~ISecurity() = default;

    // GetUserNameA: the name of the user the thread runs as.
    virtual bool GetUserNameA(std::string& name) = 0;

    // LookupAccountNameA (null system name: this machine). `sidSize` and `domainSize` are the
    // sizes of the caller's buffers on entry (the SID in bytes as Windows stores it, the
    // domain in characters with its terminator); a null `sid` or `domain`, or a size too
    // small, fails with 122 (ERROR_INSUFFICIENT_BUFFER) and both sizes set to what is needed.
    // 1332 (ERROR_NONE_MAPPED) for an unknown account.
    virtual bool LookupAccountNameA(const std::string& account, std::string* sid, uint32_t& sidSize,
                                    std::string* domain, uint32_t& domainSize, uint32_t& use) = 0;

    // AllocateAndInitializeSid: the SID of the identifier authority (6 bytes, most
    // significant first) and 1 to 8 sub-authorities. FreeSid has nothing to free here.
    virtual bool AllocateAndInitializeSid(const uint8_t (&authority)[6],
                                          const std::vector<uint32_t>& subAuthorities, std::string& sid) = 0;

    // SetEntriesInAclW: a new DACL made of `entries` merged into `oldDacl` (empty: none).
    virtual uint32_t SetEntriesInAclW(const std::vector<ExplicitAccess>& entries, const std::string& oldDacl,
                                      std::string& newDacl) = 0;

    // GetNamedSecurityInfoA / SetNamedSecurityInfoA. Registry object names are written
    // "MACHINE\SOFTWARE\X" (also CLASSES_ROOT, CURRENT_USER, USERS) and name the key in the
    // process's default view: under WOW64 the 32-bit one. Outputs not asked for by
    // `info` are left alone; an absent DACL comes back as "". For the set, `owner` is used
    // with kOwnerSecurityInformation and `dacl` with kDaclSecurityInformation.
    virtual uint32_t GetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType, uint32_t info,
                                           std::string* owner, std::string* dacl) = 0;
    virtual uint32_t SetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType, uint32_t info,
                                           const char* owner, const char* dacl) = 0;

    // GetSecurityInfo / SetSecurityInfo of an open registry key (SE_REGISTRY_KEY): the way to
    // reach the 64-bit view, through a key opened with KEY_WOW64_64KEY. Reading needs the
    // key opened with READ_CONTROL; the DACL needs WRITE_DAC, the owner WRITE_OWNER.
    virtual uint32_t GetSecurityInfo(RegKey key, uint32_t info, std::string* owner, std::string* dacl) = 0;
    virtual uint32_t SetSecurityInfo(RegKey key, uint32_t info, const char* owner, const char* dacl) = 0;

    // GetSecurityInfo / SetSecurityInfo (SE_FILE_OBJECT) of a file or directory opened with
    // IFileSystem::CreateFileW: the object the handle holds, whatever its name leads to now.
    // Reading needs READ_CONTROL; the DACL needs WRITE_DAC, the owner WRITE_OWNER.
    virtual uint32_t GetFileSecurityInfo(FileHandle file, uint32_t info, std::string* owner,
                                         std::string* dacl) = 0;
    virtual uint32_t SetFileSecurityInfo(FileHandle file, uint32_t info, const char* owner,
                                         const char* dacl) = 0;

    // SetSecurityInfo and SetNamedSecurityInfoA, given a DACL with inheritable entries for a
    // directory or a key, carry them down to everything below it: they rewrite the inherited
    // entries of every object there whose list is not protected, hard links and what a user
    // made included. The two calls below write the descriptor of the one object they are
    // given and change nothing below it. Both take the same `info`, `owner` and `dacl` as
    // SetFileSecurityInfo; a protected list is marked so in the descriptor, and the list is
    // stored as given, its inherited entries too.

    // SetKernelObjectSecurity of a file or directory opened with IFileSystem::CreateFileW
    // (WRITE_DAC for the DACL, WRITE_OWNER for the owner).
    virtual bool SetKernelObjectSecurity(FileHandle file, uint32_t info, const char* owner,
                                         const char* dacl) = 0;
    // RegSetKeySecurity of an open key (WRITE_DAC, WRITE_OWNER as above); reaches the 64-bit
    // view through a key opened with KEY_WOW64_64KEY.
    virtual uint32_t RegSetKeySecurity(RegKey key, uint32_t info, const char* owner, const char* dacl) = 0;
};

}  // namespace platform
