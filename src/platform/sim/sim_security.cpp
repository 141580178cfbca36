#include "platform/sim/sim_security.h"

#include <cstdio>

#include "platform/ansi.h"

namespace platform::sim {

namespace {

constexpr uint32_t kErrorInvalidOwner = 1307;
constexpr uint32_t kErrorInvalidAcl = 1336;
constexpr uint32_t kErrorInvalidSid = 1337;

// Generic rights as each kind of object maps them (GENERIC_MAPPING).
uint32_t MapGeneric(uint32_t mask, bool isKey) {
    const uint32_t all = isKey ? uint32_t{kKeyAllAccess} : 0x001F01FFu;
    const uint32_t read = isKey ? uint32_t{kKeyRead} : 0x00120089u;
    const uint32_t write = isKey ? uint32_t{kKeyWrite} : 0x00120116u;
    const uint32_t execute = isKey ? uint32_t{kKeyRead} : 0x001200A0u;
    uint32_t mapped = mask & 0x0FFFFFFF;
    if (mask & kGenericAll) mapped |= all;
    if (mask & kGenericRead) mapped |= read;
    if (mask & kGenericWrite) mapped |= write;
    if (mask & 0x20000000) mapped |= execute;
    return mapped;
}

constexpr uint32_t kFileReadData = 0x1;
constexpr uint32_t kFileWriteData = 0x2;

}  // namespace

bool SimSecurity::InToken(const std::string& sid) const {
    if (EqualSidText(sid, userSid)) return true;
    for (const TokenGroup& g : system_.tokenGroups)
        if ((g.attributes & kSeGroupEnabled) && EqualSidText(sid, g.sid)) return true;
    return false;
}

bool SimSecurity::OwnedByUser(const Target& t) const { return !t.ownerSid->empty() && InToken(*t.ownerSid); }

uint32_t SimSecurity::DeniedBy(const std::vector<AceText>& aces, bool isKey) const {
    static const uint32_t kKeyRights[] = {
        kKeyQueryValue, kKeySetValue, kKeyCreateSubKey, kKeyEnumerateSubKeys, kKeyNotify, 0x20,
        kDelete,        kReadControl, kWriteDac,        kWriteOwner};
    static const uint32_t kFileRights[] = {kFileReadData, kFileWriteData, kDeleteAccess};
    uint32_t granted = 0;
    auto decide = [&](uint32_t right) {
        // The first entry that speaks of a right decides it; an entry meant only for children does not count.
        for (const AceText& ace : aces) {
            if ((ace.flags & kInheritOnlyAce) || !InToken(ace.sid)) continue;
            if (!(MapGeneric(ace.mask, isKey) & right)) continue;
            if (ace.type == kAccessAllowedAceType) granted |= right;
            return;
        }
    };
    if (isKey) {
        for (uint32_t r : kKeyRights) decide(r);
        return kKeyAllAccess & ~granted;
    }
    for (uint32_t r : kFileRights) decide(r);
    if (granted == 0) return kGenericAll;
    uint32_t denied = 0;
    if (!(granted & kFileReadData)) denied |= kGenericRead;
    if (!(granted & kFileWriteData)) denied |= kGenericWrite;
    if (!(granted & kDeleteAccess)) denied |= kDeleteAccess;
    return denied;
}

namespace {

// What one entry of a folder becomes in a child: object-inherit entries reach files,
// container-inherit entries reach folders and go on below them; no-propagate stops after
// one level. False when the entry does not reach this child.
bool InheritInto(const AceText& parentAce, bool childIsDirectory, AceText& out) {
    const uint8_t f = parentAce.flags;
    out = parentAce;
    if (!childIsDirectory) {
        if (!(f & kObjectInheritAce)) return false;
        out.flags = kInheritedAce;
        return true;
    }
    if (f & kContainerInheritAce) {
        out.flags =
            (f & kNoPropagateInheritAce)
                ? uint8_t{kInheritedAce}
                : static_cast<uint8_t>((f & (kObjectInheritAce | kContainerInheritAce)) | kInheritedAce);
        return true;
    }
    if ((f & kObjectInheritAce) && !(f & kNoPropagateInheritAce)) {
        out.flags = kObjectInheritAce | kInheritOnlyAce | kInheritedAce;
        return true;
    }
    return false;
}

// The entries of a record that are its own, and whether its list is protected; false for
// a record with no list (null DACL).
bool OwnAces(const SimFileSecurity& s, std::vector<AceText>& aces, bool& isProtected) {
    aces.clear();
    isProtected = false;
    if (s.sddl.empty()) return false;
    std::vector<AceText> all;
    if (!ParseDaclText(s.sddl, all, &isProtected)) return false;
    for (const AceText& a : all)
        if (!(a.flags & kInheritedAce)) aces.push_back(a);
    return true;
}

}  // namespace

std::vector<AceText> SimSecurity::InheritedFrom(const std::vector<const SimFileSecurity*>& above,
                                                bool isDirectory) const {
    // The effective list of each folder from the top down; each passes on to the next.
    std::vector<AceText> passed;
    for (size_t i = above.size(); i-- > 0;) {
        std::vector<AceText> own;
        bool isProtected = false;
        if (!OwnAces(*above[i], own, isProtected)) {
            passed.clear();
            continue;
        }
        if (!isProtected) {
            if (above[i]->inheritedFixed) {
                std::vector<AceText> fixed;
                if (ParseDaclText(above[i]->inheritedSddl, fixed))
                    own.insert(own.end(), fixed.begin(), fixed.end());
            } else {
                for (const AceText& a : passed) {
                    AceText child;
                    if (InheritInto(a, true, child)) own.push_back(child);
                }
            }
        }
        passed = own;
    }
    std::vector<AceText> out;
    for (const AceText& a : passed) {
        AceText child;
        if (InheritInto(a, isDirectory, child)) out.push_back(child);
    }
    return out;
}

std::vector<AceText> SimSecurity::InheritedAces(const SimFileSecurity* file) const {
    if (file->inheritedFixed) {
        std::vector<AceText> fixed;
        if (!ParseDaclText(file->inheritedSddl, fixed)) fixed.clear();
        return fixed;
    }
    bool isDirectory = false;
    std::vector<const SimFileSecurity*> above = files_.AncestorsOf(file, isDirectory);
    return InheritedFrom(above, isDirectory);
}

bool SimSecurity::EffectiveAces(const SimFileSecurity* file, std::vector<AceText>& out) const {
    bool isProtected = false;
    if (!OwnAces(*file, out, isProtected)) return false;
    if (!isProtected)
        for (const AceText& a : InheritedAces(file)) out.push_back(a);
    return true;
}

void SimSecurity::KeepChildrensInherited(const SimFileSecurity* directory) {
    for (const SimFileChild& child : files_.ChildrenOf(directory)) {
        if (child.security->inheritedFixed) continue;
        child.security->inheritedSddl = FormatDaclText(InheritedAces(child.security));
        child.security->inheritedFixed = true;
    }
}

void SimSecurity::PropagateBelow(const SimFileSecurity* directory) {
    std::vector<AceText> passed;
    if (!EffectiveAces(directory, passed)) passed.clear();
    for (const SimFileChild& child : files_.ChildrenOf(directory)) {
        std::vector<AceText> own;
        bool isProtected = false;
        // Windows stops at a protected list: nothing below it inherits from above it.
        if (!OwnAces(*child.security, own, isProtected) || isProtected) continue;
        std::vector<AceText> inherited;
        for (const AceText& a : passed) {
            AceText made;
            if (InheritInto(a, child.directory, made)) inherited.push_back(made);
        }
        child.security->inheritedSddl = FormatDaclText(inherited);
        child.security->inheritedFixed = true;
        if (child.directory && !child.link) PropagateBelow(child.security);
    }
}

void SimSecurity::PropagateBelow(const SimKeySecurity* key) {
    std::vector<AceText> passed;
    if (key->sddl.empty() || !ParseDaclText(key->sddl, passed)) passed.clear();
    for (SimKeySecurity* sub : registry_.SubkeysOf(key)) {
        std::vector<AceText> all;
        bool isProtected = false;
        if (sub->sddl.empty() || !ParseDaclText(sub->sddl, all, &isProtected) || isProtected) continue;
        std::vector<AceText> aces;
        for (const AceText& a : all)
            if (!(a.flags & kInheritedAce)) aces.push_back(a);
        for (const AceText& a : passed) {
            AceText made;
            if (InheritInto(a, true, made)) aces.push_back(made);
        }
        sub->sddl = FormatDaclText(aces);
        sub->deniedAccess = DeniedBy(aces, true);
        if (OwnedByUser(Target{&sub->ownerSid, &sub->sddl, &sub->deniedAccess, true}))
            sub->deniedAccess &= ~(kReadControl | kWriteDac);
        PropagateBelow(sub);
    }
}

uint32_t SimSecurity::FindNamed(const std::string& objectName, uint32_t objectType, Target& out) {
    if (objectType == kSeFileObject) {
        SimFileSecurity* s = files_.SecurityOf(objectName);
        if (s == nullptr) return kErrorFileNotFound;
        out = Target{&s->ownerSid, &s->sddl, &s->deniedAccess, false, s};
        return kErrorSuccess;
    }
    if (objectType != kSeRegistryKey) return kErrorInvalidParameter;
    static const std::pair<const char*, const char*> kRoots[] = {
        {"CLASSES_ROOT", "HKEY_CLASSES_ROOT"},
        {"CURRENT_USER", "HKEY_CURRENT_USER"},
        {"MACHINE", "HKEY_LOCAL_MACHINE"},
        {"USERS", "HKEY_USERS"},
    };
    size_t slash = objectName.find('\\');
    std::string root = objectName.substr(0, slash);
    for (const auto& [name, full] : kRoots) {
        if (AnsiCompareNoCase(root.c_str(), name) != 0) continue;
        std::string path = full;
        if (slash != std::string::npos) path += objectName.substr(slash);
        // Named objects are opened in the process's default view.
        SimKeySecurity* s = registry_.SecurityOf(path, View::K32);
        if (s == nullptr) return kErrorFileNotFound;
        out = Target{&s->ownerSid, &s->sddl, &s->deniedAccess, true, nullptr, s};
        return kErrorSuccess;
    }
    return kErrorInvalidParameter;
}

uint32_t SimSecurity::Get(const Target& t, uint32_t info, std::string* owner, std::string* dacl) {
    uint32_t readDenied = t.isKey ? (*t.deniedAccess & kReadControl) : (*t.deniedAccess & kGenericAll);
    if (readDenied && !OwnedByUser(t)) return kErrorAccessDenied;
    if ((info & kDaclSecurityInformation) && dacl != nullptr) {
        std::vector<AceText> aces;
        bool isProtected = false;
        if (t.sddl->empty()) {
            dacl->clear();
        } else {
            if (!ParseDaclText(*t.sddl, aces, &isProtected)) return kErrorInvalidAcl;
            if (t.file != nullptr) {
                std::vector<AceText> own;
                OwnAces(*t.file, own, isProtected);
                if (!isProtected)
                    for (const AceText& a : InheritedAces(t.file)) own.push_back(a);
                aces = own;
            }
            *dacl = FormatDaclText(aces, isProtected);
        }
    }
    if ((info & kOwnerSecurityInformation) && owner != nullptr)
        *owner = t.ownerSid->empty() ? std::string(kAdministratorsSid) : CanonicalSid(*t.ownerSid);
    return kErrorSuccess;
}

uint32_t SimSecurity::Set(const Target& t, uint32_t info, const char* owner, const char* dacl,
                          bool propagate) {
    const bool setOwner = (info & kOwnerSecurityInformation) != 0;
    const bool setDacl = (info & kDaclSecurityInformation) != 0;
    std::string newOwner;
    if (setOwner) {
        newOwner = owner != nullptr ? CanonicalSid(owner) : std::string();
        if (newOwner.empty()) return kErrorInvalidSid;
        uint32_t ownerDenied = t.isKey ? (*t.deniedAccess & kWriteOwner) : (*t.deniedAccess & kGenericAll);
        bool privileged = system_.enabledPrivileges.count(kSeTakeOwnershipName) != 0;
        if (ownerDenied && !privileged) return kErrorAccessDenied;
        // Only the user or one of its groups can be made the owner.
        if (!InToken(newOwner)) return kErrorInvalidOwner;
    }
    std::vector<AceText> aces;
    if (setDacl) {
        uint32_t dacDenied = t.isKey ? (*t.deniedAccess & kWriteDac) : (*t.deniedAccess & kGenericAll);
        bool ownerAfter = setOwner ? InToken(newOwner) : OwnedByUser(t);
        if (dacDenied && !ownerAfter) return kErrorAccessDenied;
        if (dacl != nullptr && *dacl != '\0' && !ParseDaclText(dacl, aces)) return kErrorInvalidAcl;
    }
    if (setDacl && t.file != nullptr && !propagate) KeepChildrensInherited(t.file);
    if (setOwner) *t.ownerSid = newOwner;
    if (setDacl) {
        bool isProtected = (info & kProtectedDaclSecurityInformation) != 0;
        if (dacl == nullptr || *dacl == '\0') {
            // A null DACL protects nothing.
            t.sddl->clear();
            *t.deniedAccess = 0;
        } else {
            if (t.file != nullptr) {
                // Inherited entries are not the object's own. A propagating call works them
                // out from the folders above; the kernel's call keeps those it is given.
                std::vector<AceText> own, inherited;
                for (const AceText& ace : aces) (ace.flags & kInheritedAce ? inherited : own).push_back(ace);
                aces = own;
                t.file->inheritedFixed = !propagate;
                t.file->inheritedSddl = propagate ? std::string() : FormatDaclText(inherited);
            }
            *t.sddl = FormatDaclText(aces, isProtected);
            *t.deniedAccess = DeniedBy(aces, t.isKey);
        }
    }
    // The owner may always read and rewrite the access list of what it owns.
    if (t.isKey && OwnedByUser(t)) *t.deniedAccess &= ~(kReadControl | kWriteDac);
    if (setDacl && propagate) {
        if (t.file != nullptr) PropagateBelow(t.file);
        if (t.key != nullptr) PropagateBelow(t.key);
    }
    return kErrorSuccess;
}

bool SimSecurity::GetUserNameA(std::string& name) {
    if (system_.Fault("GetUserNameA")) return false;
    name = userName;
    return true;
}

bool SimSecurity::LookupAccountNameA(const std::string& account, std::string* sid, uint32_t& sidSize,
                                     std::string* domain, uint32_t& domainSize, uint32_t& use) {
    if (system_.Fault("LookupAccountNameA")) return false;
    const SimAccount* found = nullptr;
    for (const SimAccount& a : accounts) {
        std::string qualified = a.domain.empty() ? a.name : a.domain + "\\" + a.name;
        if (AnsiCompareNoCase(account.c_str(), a.name.c_str()) == 0 ||
            AnsiCompareNoCase(account.c_str(), qualified.c_str()) == 0) {
            found = &a;
            break;
        }
    }
    if (found == nullptr) {
        system_.SetLastError(kErrorNoneMapped);
        return false;
    }
    uint32_t needSid = SidLength(found->sid);
    uint32_t needDomain = static_cast<uint32_t>(found->domain.size() + 1);
    if (sid == nullptr || domain == nullptr || sidSize < needSid || domainSize < needDomain) {
        sidSize = needSid;
        domainSize = needDomain;
        system_.SetLastError(kErrorInsufficientBuffer);
        return false;
    }
    *sid = found->sid;
    *domain = found->domain;
    sidSize = needSid;
    domainSize = needDomain - 1;
    use = found->use;
    return true;
}

bool SimSecurity::AllocateAndInitializeSid(const uint8_t (&authority)[6],
                                           const std::vector<uint32_t>& subAuthorities, std::string& sid) {
    if (system_.Fault("AllocateAndInitializeSid")) return false;
    if (subAuthorities.empty() || subAuthorities.size() > 8) {
        system_.SetLastError(kErrorInvalidParameter);
        return false;
    }
    unsigned long long value = 0;
    for (uint8_t b : authority) value = (value << 8) | b;
    sid = "S-1-" + std::to_string(value);
    for (uint32_t s : subAuthorities) sid += "-" + std::to_string(s);
    return true;
}

uint32_t SimSecurity::SetEntriesInAclW(const std::vector<ExplicitAccess>& entries, const std::string& oldDacl,
                                       std::string& newDacl) {
    if (uint32_t code = faults_.Take("SetEntriesInAclW")) return code;
    std::vector<AceText> old;
    if (!oldDacl.empty() && !ParseDaclText(oldDacl, old)) return kErrorInvalidAcl;
    std::vector<AceText> denies, allows;
    for (const ExplicitAccess& e : entries) {
        if (e.trusteeForm != kTrusteeIsSid) return kErrorInvalidParameter;
        std::string sid = CanonicalSid(e.sid);
        if (sid.empty()) return kErrorInvalidSid;
        if (e.mode == kSetAccess || e.mode == kRevokeAccess) {
            std::vector<AceText> kept;
            for (const AceText& a : old)
                if ((a.flags & kInheritedAce) || a.sid != sid) kept.push_back(a);
            old.swap(kept);
        }
        AceText ace{kAccessAllowedAceType, static_cast<uint8_t>(e.inheritance & 0x0F), e.permissions, sid};
        if (e.mode == kDenyAccess) {
            ace.type = kAccessDeniedAceType;
            denies.push_back(ace);
        } else if (e.mode == kSetAccess || e.mode == kGrantAccess) {
            allows.push_back(ace);
        } else if (e.mode != kRevokeAccess) {
            return kErrorInvalidParameter;
        }
    }
    std::vector<AceText> result = denies;
    result.insert(result.end(), allows.begin(), allows.end());
    result.insert(result.end(), old.begin(), old.end());
    newDacl = FormatDaclText(result);
    return kErrorSuccess;
}

uint32_t SimSecurity::GetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType, uint32_t info,
                                            std::string* owner, std::string* dacl) {
    if (uint32_t code = faults_.Take("GetNamedSecurityInfoA")) return code;
    Target t;
    if (uint32_t rc = FindNamed(objectName, objectType, t)) return rc;
    return Get(t, info, owner, dacl);
}

uint32_t SimSecurity::SetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType, uint32_t info,
                                            const char* owner, const char* dacl) {
    if (uint32_t code = faults_.Take("SetNamedSecurityInfoA")) return code;
    Target t;
    if (uint32_t rc = FindNamed(objectName, objectType, t)) return rc;
    return Set(t, info, owner, dacl, true);
}

uint32_t SimSecurity::GetSecurityInfo(RegKey key, uint32_t info, std::string* owner, std::string* dacl) {
    if (uint32_t code = faults_.Take("GetSecurityInfo")) return code;
    SimKeySecurity* s = registry_.SecurityOfHandle(key);
    if (s == nullptr) return kErrorInvalidHandle;
    return Get(Target{&s->ownerSid, &s->sddl, &s->deniedAccess, true, nullptr, s}, info, owner, dacl);
}

uint32_t SimSecurity::SetSecurityInfo(RegKey key, uint32_t info, const char* owner, const char* dacl) {
    if (uint32_t code = faults_.Take("SetSecurityInfo")) return code;
    SimKeySecurity* s = registry_.SecurityOfHandle(key);
    if (s == nullptr) return kErrorInvalidHandle;
    return Set(Target{&s->ownerSid, &s->sddl, &s->deniedAccess, true, nullptr, s}, info, owner, dacl, true);
}

uint32_t SimSecurity::RegSetKeySecurity(RegKey key, uint32_t info, const char* owner, const char* dacl) {
    if (uint32_t code = faults_.Take("RegSetKeySecurity")) return code;
    SimKeySecurity* s = registry_.SecurityOfHandle(key);
    if (s == nullptr) return kErrorInvalidHandle;
    return Set(Target{&s->ownerSid, &s->sddl, &s->deniedAccess, true, nullptr, s}, info, owner, dacl, false);
}

}  // namespace platform::sim

namespace platform::sim {

uint32_t SimSecurity::GetFileSecurityInfo(FileHandle file, uint32_t info, std::string* owner,
                                          std::string* dacl) {
    // Named apart from the registry's: a test can aim at the files' calls alone.
    if (uint32_t code = faults_.Take("GetFileSecurityInfo")) return code;
    SimFileSecurity* s = files_.SecurityOfHandle(file);
    if (s == nullptr) return kErrorInvalidHandle;
    return Get(Target{&s->ownerSid, &s->sddl, &s->deniedAccess, false, s}, info, owner, dacl);
}

uint32_t SimSecurity::SetFileSecurityInfo(FileHandle file, uint32_t info, const char* owner,
                                          const char* dacl) {
    if (uint32_t code = faults_.Take("SetFileSecurityInfo")) return code;
    SimFileSecurity* s = files_.SecurityOfHandle(file);
    if (s == nullptr) return kErrorInvalidHandle;
    return Set(Target{&s->ownerSid, &s->sddl, &s->deniedAccess, false, s}, info, owner, dacl, true);
}

bool SimSecurity::SetKernelObjectSecurity(FileHandle file, uint32_t info, const char* owner,
                                          const char* dacl) {
    uint32_t rc = faults_.Take("SetKernelObjectSecurity");
    if (rc == kErrorSuccess) {
        SimFileSecurity* s = files_.SecurityOfHandle(file);
        rc = s == nullptr
                 ? uint32_t{kErrorInvalidHandle}
                 : Set(Target{&s->ownerSid, &s->sddl, &s->deniedAccess, false, s}, info, owner, dacl, false);
    }
    if (rc != kErrorSuccess) system_.SetLastError(rc);
    return rc == kErrorSuccess;
}

}  // namespace platform::sim
