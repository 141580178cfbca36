#pragma once

#include "platform/registry.h"

namespace platform::win32 {

class Win32Registry : public IRegistry {
  public:
    void CloseKey(RegKey key) override;
    uint32_t CreateKeyEx(RegKey parent, const std::string& subKey, uint32_t options, uint32_t access,
                         RegKey& out, uint32_t* disposition) override;
    uint32_t OpenKeyEx(RegKey parent, const std::string& subKey, uint32_t access, RegKey& out) override;
    uint32_t OpenKeyExOptions(RegKey parent, const std::string& subKey, uint32_t options, uint32_t access,
                              RegKey& out) override;
    uint32_t DeleteOpenKey(RegKey key) override;
    uint32_t SetValueEx(RegKey key, const char* name, uint32_t type, const void* data,
                        uint32_t size) override;
    uint32_t DeleteKey(RegKey parent, const std::string& subKey) override;
    uint32_t QueryValueEx(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) override;
    uint32_t EnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameLength) override;
    uint32_t EnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                       void* data, uint32_t* dataSize) override;
    uint32_t QueryInfoKey(RegKey key, uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* values,
                          uint32_t* maxValueNameLength, uint32_t* maxValueLength) override;
    uint32_t DeleteKeyEx(RegKey parent, const std::string& subKey, uint32_t view) override;
    uint32_t DeleteValue(RegKey key, const char* name) override;
    uint32_t SHDeleteKey(RegKey parent, const std::string& subKey) override;
    uint32_t SHDeleteValue(RegKey parent, const std::string& subKey, const std::string& name) override;
    uint32_t SHGetValue(RegKey parent, const std::string& subKey, const std::string& name, uint32_t* type,
                        void* data, uint32_t* size) override;
    uint32_t FlushKey(RegKey key) override;
    uint32_t OpenKeyExW(RegKey parent, const std::u16string& subKey, uint32_t access, RegKey& out) override;
    uint32_t QueryValueExW(RegKey key, const char16_t* name, uint32_t* type, void* data,
                           uint32_t* size) override;
    uint32_t CreateKeyExW(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                          RegKey& out, uint32_t* disposition) override;
    uint32_t SetValueExW(RegKey key, const char16_t* name, uint32_t type, const void* data,
                         uint32_t size) override;
    uint32_t DeleteValueW(RegKey key, const char16_t* name) override;
    uint32_t OpenKeyExOptionsW(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                               RegKey& out) override;
    uint32_t EnumKeyExW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength) override;
    uint32_t EnumValueW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength, uint32_t* type,
                        void* data, uint32_t* dataSize) override;
};

}  // namespace platform::win32
