// The simulated security area: the user the process runs as, the accounts the machine
// knows, and the security descriptors of registry keys and files, read from and written to
// the per-object records of SimRegistry and SimFileSystem. Writing a DACL re-evaluates it
// for this process's token, so an access list that grants the user clears the denial.
// Calls on an open key do not check the rights the key was opened with: the open itself
// already refused what the key's record denies. A file's list read back holds, after its
// own entries, those it inherits, unless it is protected; an object with no list at all
// (created with default security) inherits nothing here. As on Windows, SetSecurityInfo,
// SetFileSecurityInfo and SetNamedSecurityInfoA of a directory or key with a list carry its
// inheritable entries down to everything below that is not protected, and rewrite the
// inherited entries there; SetKernelObjectSecurity and RegSetKeySecurity change the one
// object, and what lies below keeps what it had.
#pragma once

#include <string>
#include <vector>

#include "platform/acl_text.h"
#include "platform/security.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

struct SimAccount {
    std::string name;
    std::string domain;
    std::string sid;
    uint32_t use = kSidTypeUser;
};

class SimSecurity : public ISecurity {
  public:
    SimSecurity(Faults& faults, SimSystem& system, SimRegistry& registry, SimFileSystem& files)
        : faults_(faults), system_(system), registry_(registry), files_(files) {
        files_.onSecondName = [this](SimFileSecurity& file,
                                     const std::vector<const SimFileSecurity*>& folders) {
            if (file.inheritedFixed) return;
            file.inheritedSddl = FormatDaclText(InheritedFrom(folders, false));
            file.inheritedFixed = true;
        };
    }
    ~SimSecurity() override { files_.onSecondName = nullptr; }

    // --- state a test arranges and inspects ---
    std::string userName = "Administrator";
    std::string userSid = "S-1-5-21-1004336348-1177238915-682003330-500";
    std::vector<SimAccount> accounts{
        {"Administrator", "SIMPC", "S-1-5-21-1004336348-1177238915-682003330-500", kSidTypeUser},
        {"Everyone", "", "S-1-1-0", kSidTypeWellKnownGroup},
        {"Administrators", "BUILTIN", "S-1-5-32-544", kSidTypeAlias},
        {"SYSTEM", "NT AUTHORITY", "S-1-5-18", kSidTypeWellKnownGroup},
    };

    // --- ISecurity ---
    bool GetUserNameA(std::string& name) override;
    bool LookupAccountNameA(const std::string& account, std::string* sid, uint32_t& sidSize,
                            std::string* domain, uint32_t& domainSize, uint32_t& use) override;
    bool AllocateAndInitializeSid(const uint8_t (&authority)[6], const std::vector<uint32_t>& subAuthorities,
                                  std::string& sid) override;
    uint32_t SetEntriesInAclW(const std::vector<ExplicitAccess>& entries, const std::string& oldDacl,
                              std::string& newDacl) override;
    uint32_t GetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType, uint32_t info,
                                   std::string* owner, std::string* dacl) override;
    uint32_t SetNamedSecurityInfoA(const std::string& objectName, uint32_t objectType, uint32_t info,
                                   const char* owner, const char* dacl) override;
    uint32_t GetSecurityInfo(RegKey key, uint32_t info, std::string* owner, std::string* dacl) override;
    uint32_t SetSecurityInfo(RegKey key, uint32_t info, const char* owner, const char* dacl) override;
    uint32_t GetFileSecurityInfo(FileHandle file, uint32_t info, std::string* owner,
                                 std::string* dacl) override;
    uint32_t SetFileSecurityInfo(FileHandle file, uint32_t info, const char* owner,
                                 const char* dacl) override;
    bool SetKernelObjectSecurity(FileHandle file, uint32_t info, const char* owner,
                                 const char* dacl) override;
    uint32_t RegSetKeySecurity(RegKey key, uint32_t info, const char* owner, const char* dacl) override;

  private:
    // One object's record, whichever area keeps it.
    struct Target {
        std::string* ownerSid = nullptr;
        std::string* sddl = nullptr;
        uint32_t* deniedAccess = nullptr;
        bool isKey = false;
        SimFileSecurity* file = nullptr;  // a file's record, whose folders pass entries on
        SimKeySecurity* key = nullptr;    // a key's record, for what lies below it
    };
    // The entries a file or directory inherits: those written into its record, else what the
    // folders above it mark for inheritance, as Windows writes it into a child whose list is
    // not protected.
    std::vector<AceText> InheritedAces(const SimFileSecurity* file) const;
    // What the folders `above` (nearest first) pass on to a file or directory below them.
    std::vector<AceText> InheritedFrom(const std::vector<const SimFileSecurity*>& above,
                                       bool isDirectory) const;
    // The list a folder passes on from: its own entries and, unless protected, those it
    // inherits. False for a record with no list.
    bool EffectiveAces(const SimFileSecurity* file, std::vector<AceText>& out) const;
    // Before a folder's list changes by itself: what it holds keeps the entries it inherits now.
    void KeepChildrensInherited(const SimFileSecurity* directory);
    // A propagating call's walk below a folder or key that got a new list.
    void PropagateBelow(const SimFileSecurity* directory);
    void PropagateBelow(const SimKeySecurity* key);

    uint32_t FindNamed(const std::string& objectName, uint32_t objectType, Target& out);
    uint32_t Get(const Target& t, uint32_t info, std::string* owner, std::string* dacl);
    // `propagate`: the calls that carry inheritable entries down (SetSecurityInfo and its kin).
    uint32_t Set(const Target& t, uint32_t info, const char* owner, const char* dacl, bool propagate);
    // The SIDs this process's token holds: the user and its enabled groups.
    bool InToken(const std::string& sid) const;
    bool OwnedByUser(const Target& t) const;
    // The rights a DACL leaves this process, as the record's denial.
    uint32_t DeniedBy(const std::vector<AceText>& aces, bool isKey) const;

    Faults& faults_;
    SimSystem& system_;
    SimRegistry& registry_;
    SimFileSystem& files_;
};

}  // namespace platform::sim
