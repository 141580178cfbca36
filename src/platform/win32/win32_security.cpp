#include "platform/win32/win32_security.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <memory>
#include <type_traits>
#include <vector>

#include "platform/acl_text.h"

namespace platform::win32 {

namespace {

struct LocalDeleter {
    void operator()(void* p) const { ::LocalFree(p); }
};
template <typename T>
using UniqueLocal = std::unique_ptr<std::remove_pointer_t<T>, LocalDeleter>;

struct SidDeleter {
    void operator()(void* p) const { ::FreeSid(p); }
};
using UniqueAllocatedSid = std::unique_ptr<void, SidDeleter>;

constexpr uint32_t kErrorInvalidAcl = 1336;

uint32_t LastError() { return static_cast<uint32_t>(::GetLastError()); }

bool SidToText(PSID sid, std::string& out) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) return false;
    UniqueLocal<char*> owned(text);
    out = text;
    return true;
}

// The seam's DACL text of a binary ACL: full SIDs and hex masks, never the aliases that
// ConvertSecurityDescriptorToStringSecurityDescriptor writes, so that SIDs compare as text.
uint32_t AclToText(const ACL* acl, bool isProtected, std::string& out) {
    if (acl == nullptr) {
        out.clear();
        return kErrorSuccess;
    }
    std::vector<AceText> aces;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(const_cast<ACL*>(acl), i, &raw)) return LastError();
        const auto* header = static_cast<const ACE_HEADER*>(raw);
        // Allowed and denied entries share one layout; other kinds are not ours to rewrite.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE)
            return kErrorInvalidAcl;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        AceText text;
        text.type = header->AceType;
        text.flags = header->AceFlags;
        text.mask = ace->Mask;
        if (!SidToText(const_cast<DWORD*>(&ace->SidStart), text.sid)) return LastError();
        aces.push_back(text);
    }
    out = FormatDaclText(aces, isProtected);
    return kErrorSuccess;
}

// A security descriptor made from the seam's DACL text; `dacl` points into it. An empty
// text gives a null DACL.
uint32_t DaclFromText(const char* text, UniqueLocal<PSECURITY_DESCRIPTOR>& holder, PACL& dacl) {
    dacl = nullptr;
    if (text == nullptr || *text == '\0') return kErrorSuccess;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &sd, nullptr))
        return LastError();
    holder.reset(sd);
    BOOL present = FALSE, defaulted = FALSE;
    if (!::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return LastError();
    if (!present) dacl = nullptr;
    return kErrorSuccess;
}

uint32_t SidFromText(const char* text, UniqueLocal<PSID>& holder) {
    PSID sid = nullptr;
    if (text == nullptr || !::ConvertStringSidToSidA(text, &sid)) return text == nullptr ? 1337 : LastError();
    holder.reset(sid);
    return kErrorSuccess;
}

uint32_t ReadDescriptor(PSECURITY_DESCRIPTOR sd, PSID ownerSid, PACL dacl, uint32_t info, std::string* owner,
                        std::string* daclText) {
    if ((info & kOwnerSecurityInformation) && owner != nullptr) {
        if (ownerSid == nullptr)
            owner->clear();
        else if (!SidToText(ownerSid, *owner))
            return LastError();
    }
    if ((info & kDaclSecurityInformation) && daclText != nullptr) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (!::GetSecurityDescriptorControl(sd, &control, &revision)) return LastError();
        return AclToText(dacl, (control & SE_DACL_PROTECTED) != 0, *daclText);
    }
    return kErrorSuccess;
}

HKEY Hk(RegKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

bool Win32Security::GetUserNameA(std::string& name) {
    char buffer[4096];
    DWORD size = sizeof buffer;
    if (!::GetUserNameA(buffer, &size)) return false;
    name = buffer;
    return true;
}

bool Win32Security::LookupAccountNameA(const std::string& account, std::string* sid, uint32_t& sidSize,
                                       std::string* domain, uint32_t& domainSize, uint32_t& use) {
    DWORD cbSid = sid != nullptr ? sidSize : 0;
    DWORD cchDomain = domain != nullptr ? domainSize : 0;
    std::vector<BYTE> sidBuffer(cbSid != 0 ? cbSid : 1);
    std::vector<char> domainBuffer(cchDomain != 0 ? cchDomain : 1);
    SID_NAME_USE nameUse = SidTypeUnknown;
    BOOL ok = ::LookupAccountNameA(nullptr, account.c_str(), cbSid != 0 ? sidBuffer.data() : nullptr, &cbSid,
                                   cchDomain != 0 ? domainBuffer.data() : nullptr, &cchDomain, &nameUse);
    sidSize = cbSid;
    domainSize = cchDomain;
    if (!ok) return false;
    std::string text;
    if (!SidToText(sidBuffer.data(), text)) return false;
    *sid = text;
    *domain = domainBuffer.data();
    use = static_cast<uint32_t>(nameUse);
    return true;
}

bool Win32Security::AllocateAndInitializeSid(const uint8_t (&authority)[6],
                                             const std::vector<uint32_t>& subAuthorities, std::string& sid) {
    if (subAuthorities.empty() || subAuthorities.size() > 8) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SID_IDENTIFIER_AUTHORITY id;
    for (int i = 0; i < 6; ++i) id.Value[i] = authority[i];
    DWORD sub[8] = {};
    for (size_t i = 0; i < subAuthorities.size(); ++i) sub[i] = subAuthorities[i];
    PSID raw = nullptr;
    if (!::AllocateAndInitializeSid(&id, static_cast<BYTE>(subAuthorities.size()), sub[0], sub[1], sub[2],
                                    sub[3], sub[4], sub[5], sub[6], sub[7], &raw))
        return false;
    UniqueAllocatedSid owned(raw);
    return SidToText(raw, sid);
}

uint32_t Win32Security::SetEntriesInAclW(const std::vector<ExplicitAccess>& entries,
                                         const std::string& oldDacl, std::string& newDacl) {
    std::vector<UniqueLocal<PSID>> sids;
    std::vector<EXPLICIT_ACCESS_W> list(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const ExplicitAccess& e = entries[i];
        if (e.trusteeForm != kTrusteeIsSid) return ERROR_INVALID_PARAMETER;
        sids.emplace_back();
        if (uint32_t rc = SidFromText(e.sid.c_str(), sids.back())) return rc;
        EXPLICIT_ACCESS_W& ea = list[i];
        ea.grfAccessPermissions = e.permissions;
        ea.grfAccessMode = static_cast<ACCESS_MODE>(e.mode);
        ea.grfInheritance = e.inheritance;
        ::BuildTrusteeWithSidW(&ea.Trustee, sids.back().get());
        ea.Trustee.TrusteeType = static_cast<TRUSTEE_TYPE>(e.trusteeType);
    }
    UniqueLocal<PSECURITY_DESCRIPTOR> oldHolder;
    PACL old = nullptr;
    if (uint32_t rc = DaclFromText(oldDacl.c_str(), oldHolder, old)) return rc;
    PACL made = nullptr;
    DWORD rc = ::SetEntriesInAclW(static_cast<ULONG>(list.size()), list.data(), old, &made);
    if (rc != ERROR_SUCCESS) return rc;
    UniqueLocal<PACL> owned(made);
    return AclToText(made, false, newDacl);
}

uint32_t Win32Security::GetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType,
                                              uint32_t info, std::string* owner, std::string* dacl) {
    PSID ownerSid = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD rc = ::GetNamedSecurityInfoA(objectName.c_str(), static_cast<SE_OBJECT_TYPE>(objectType), info,
                                       &ownerSid, nullptr, &acl, nullptr, &sd);
    if (rc != ERROR_SUCCESS) return rc;
    UniqueLocal<PSECURITY_DESCRIPTOR> owned(sd);
    return ReadDescriptor(sd, ownerSid, acl, info, owner, dacl);
}

namespace {
// The owner and access list a Set...SecurityInfo call is to write, from their text forms.
struct SecurityToWrite {
    UniqueLocal<PSID> owner;
    UniqueLocal<PSECURITY_DESCRIPTOR> daclHolder;
    PACL acl = nullptr;
};

uint32_t ToWrite(uint32_t info, const char* owner, const char* dacl, SecurityToWrite& out) {
    if ((info & kOwnerSecurityInformation) != 0)
        if (uint32_t rc = SidFromText(owner, out.owner)) return rc;
    if ((info & kDaclSecurityInformation) != 0)
        if (uint32_t rc = DaclFromText(dacl, out.daclHolder, out.acl)) return rc;
    return 0;
}
}  // namespace

uint32_t Win32Security::SetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType,
                                              uint32_t info, const char* owner, const char* dacl) {
    SecurityToWrite parts;
    if (uint32_t rc = ToWrite(info, owner, dacl, parts)) return rc;
    std::string name = objectName;  // the call takes a non-const name
    return ::SetNamedSecurityInfoA(&name[0], static_cast<SE_OBJECT_TYPE>(objectType), info, parts.owner.get(),
                                   nullptr, parts.acl, nullptr);
}

uint32_t Win32Security::GetSecurityInfo(RegKey key, uint32_t info, std::string* owner, std::string* dacl) {
    PSID ownerSid = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD rc = ::GetSecurityInfo(Hk(key), SE_REGISTRY_KEY, info, &ownerSid, nullptr, &acl, nullptr, &sd);
    if (rc != ERROR_SUCCESS) return rc;
    UniqueLocal<PSECURITY_DESCRIPTOR> owned(sd);
    return ReadDescriptor(sd, ownerSid, acl, info, owner, dacl);
}

uint32_t Win32Security::SetSecurityInfo(RegKey key, uint32_t info, const char* owner, const char* dacl) {
    SecurityToWrite parts;
    if (uint32_t rc = ToWrite(info, owner, dacl, parts)) return rc;
    return ::SetSecurityInfo(Hk(key), SE_REGISTRY_KEY, info, parts.owner.get(), nullptr, parts.acl, nullptr);
}

uint32_t Win32Security::GetFileSecurityInfo(FileHandle file, uint32_t info, std::string* owner,
                                            std::string* dacl) {
    PSID ownerSid = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD rc = ::GetSecurityInfo(reinterpret_cast<HANDLE>(file), SE_FILE_OBJECT, info, &ownerSid, nullptr,
                                 &acl, nullptr, &sd);
    if (rc != ERROR_SUCCESS) return rc;
    UniqueLocal<PSECURITY_DESCRIPTOR> owned(sd);
    return ReadDescriptor(sd, ownerSid, acl, info, owner, dacl);
}

namespace {
// The descriptor the kernel calls take: only the parts `info` names. A protected list is
// marked so in the descriptor, which is where the kernel reads that.
uint32_t OwnDescriptor(uint32_t info, SecurityToWrite& parts, SECURITY_DESCRIPTOR& sd,
                       SECURITY_INFORMATION& kinds) {
    if (!::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return LastError();
    if ((info & kOwnerSecurityInformation) != 0 &&
        !::SetSecurityDescriptorOwner(&sd, parts.owner.get(), FALSE))
        return LastError();
    if ((info & kDaclSecurityInformation) != 0) {
        if (!::SetSecurityDescriptorDacl(&sd, TRUE, parts.acl, FALSE)) return LastError();
        if ((info & PROTECTED_DACL_SECURITY_INFORMATION) != 0 &&
            !::SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return LastError();
    }
    kinds = info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    return ERROR_SUCCESS;
}

uint32_t SetOwnSecurity(HANDLE file, uint32_t info, const char* owner, const char* dacl) {
    SecurityToWrite parts;
    if (uint32_t rc = ToWrite(info, owner, dacl, parts)) return rc;
    SECURITY_DESCRIPTOR sd;
    SECURITY_INFORMATION kinds = 0;
    if (uint32_t rc = OwnDescriptor(info, parts, sd, kinds)) return rc;
    return ::SetKernelObjectSecurity(file, kinds, &sd) ? ERROR_SUCCESS : LastError();
}
}  // namespace

// A directory's list goes through SetSecurityInfo, which carries its inheritable entries down
// to what the directory holds. A file holds nothing to carry them to: its descriptor is
// written by the kernel call alone, which gives it the same, at a tenth of the cost under
// Wine, where the tool pays it once per file.
uint32_t Win32Security::SetFileSecurityInfo(FileHandle file, uint32_t info, const char* owner,
                                            const char* dacl) {
    FILE_BASIC_INFORMATION basic{};
    IO_STATUS_BLOCK io{};
    if ((info & kDaclSecurityInformation) != 0 &&
        (!NT_SUCCESS(::NtQueryInformationFile(reinterpret_cast<HANDLE>(file), &io, &basic, sizeof basic,
                                              FileBasicInformation)) ||
         (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        SecurityToWrite parts;
        if (uint32_t rc = ToWrite(info, owner, dacl, parts)) return rc;
        return ::SetSecurityInfo(reinterpret_cast<HANDLE>(file), SE_FILE_OBJECT, info, parts.owner.get(),
                                 nullptr, parts.acl, nullptr);
    }
    return SetOwnSecurity(reinterpret_cast<HANDLE>(file), info, owner, dacl);
}

bool Win32Security::SetKernelObjectSecurity(FileHandle file, uint32_t info, const char* owner,
                                            const char* dacl) {
    uint32_t rc = SetOwnSecurity(reinterpret_cast<HANDLE>(file), info, owner, dacl);
    ::SetLastError(rc);
    return rc == ERROR_SUCCESS;
}

uint32_t Win32Security::RegSetKeySecurity(RegKey key, uint32_t info, const char* owner, const char* dacl) {
    SecurityToWrite parts;
    if (uint32_t rc = ToWrite(info, owner, dacl, parts)) return rc;
    SECURITY_DESCRIPTOR sd;
    SECURITY_INFORMATION kinds = 0;
    if (uint32_t rc = OwnDescriptor(info, parts, sd, kinds)) return rc;
    return static_cast<uint32_t>(::RegSetKeySecurity(Hk(key), kinds, &sd));
}

}  // namespace platform::win32
