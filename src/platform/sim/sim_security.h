// The simulated security area: the user the process runs as, the accounts the machine
// knows, and the security descriptors of registry keys and files, read from and written to
// the per-object records of SimRegistry and SimFileSystem. Writing a DACL re-evaluates it
// for this process's token, so an access list that grants the user clears the denial.
// Calls on an open key do not check the rights the key was opened with: the open itself
// already refused what the key's record denies. A file's list read back holds, after its
// own entries, those its folders mark for inheritance, unless it is protected; an object
// with no list at all (created with default security) inherits nothing here.
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
        : faults_(faults), system_(system), registry_(registry), files_(files) {}

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

  private:
    // One object's record, whichever area keeps it.
    struct Target {
        std::string* ownerSid = nullptr;
        std::string* sddl = nullptr;
        uint32_t* deniedAccess = nullptr;
        bool isKey = false;
        const SimFileSecurity* file = nullptr;  // a file's record, whose folders pass entries on
    };
    // The entries a file or directory inherits from the folders above it: what they mark
    // for inheritance, as Windows writes it into a child whose list is not protected.
    std::vector<AceText> InheritedAces(const SimFileSecurity* file) const;

    uint32_t FindNamed(const std::string& objectName, uint32_t objectType, Target& out);
    uint32_t Get(const Target& t, uint32_t info, std::string* owner, std::string* dacl);
    uint32_t Set(const Target& t, uint32_t info, const char* owner, const char* dacl);
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
