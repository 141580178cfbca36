#pragma once

#include "platform/security.h"

namespace platform::win32 {

class Win32Security : public ISecurity {
  public:
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
};

}  // namespace platform::win32
