// The Windows registry, as advapi32 and shlwapi expose it to a 32-bit process.
// Keys are handles; predefined roots are the usual HKEY values. Every call returns the
// Windows error code the real call returns (LSTATUS), 0 on success.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common.h"

namespace platform {

using RegKey = uintptr_t;

constexpr RegKey kHkeyClassesRoot = 0x80000000;
constexpr RegKey kHkeyCurrentUser = 0x80000001;
constexpr RegKey kHkeyLocalMachine = 0x80000002;
constexpr RegKey kHkeyUsers = 0x80000003;
constexpr RegKey kHkeyPerformanceData = 0x80000004;
constexpr RegKey kHkeyCurrentConfig = 0x80000005;
constexpr RegKey kHkeyDynData = 0x80000006;

// The longest key name (255 UTF-16 units) and value name (16383) as narrow text with its
// terminator: in UTF-8 one unit takes up to three bytes. A narrow enumeration into less stops at
// the first long name with ERROR_MORE_DATA.
constexpr uint32_t kKeyNameBytes = 255 * 3 + 1;
constexpr uint32_t kValueNameBytes = 16383 * 3 + 1;

enum : uint32_t {
    kKeyQueryValue = 0x0001,
    kKeySetValue = 0x0002,
    kKeyCreateSubKey = 0x0004,
    kKeyEnumerateSubKeys = 0x0008,
    kKeyNotify = 0x0010,
    kKeyWow64_64Key = 0x0100,
    kKeyWow64_32Key = 0x0200,
    kDelete = 0x00010000,
    kReadControl = 0x00020000,
    kWriteDac = 0x00040000,
    kWriteOwner = 0x00080000,
    kKeyRead = 0x00020019,
    kKeyWrite = 0x00020006,
    kKeyAllAccess = 0x000F003F,
};

enum : uint32_t {
    kRegOptionNonVolatile = 0,
    kRegOptionVolatile = 1,  // kept in memory only: gone at the next restart
    kRegOptionCreateLink = 2,
    kRegOptionOpenLink = 8,
    kRegCreatedNewKey = 1,
    kRegOpenedExistingKey = 2,
};

enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegLink = 6,
    kRegMultiSz = 7,
    kRegQword = 11,
};

class IRegistry {
  public:
    IRegistry() = default;
    IRegistry(const IRegistry&) = delete;
    IRegistry& operator=(const IRegistry&) = delete;
    virtual ~IRegistry() = default;

    virtual void CloseKey(RegKey key) = 0;

    // RegCreateKeyExA (no class, no security attributes). disposition may be null. With
    // kRegOptionCreateLink the new key is a link, which points where the REG_LINK value
    // "SymbolicLinkValue" set on it says: a native name ("\Registry\Machine\...") in UTF-16.
    virtual uint32_t CreateKeyEx(RegKey parent, const std::string& subKey, uint32_t options, uint32_t access,
                                 RegKey& out, uint32_t* disposition) = 0;
    // RegOpenKeyExA.
    virtual uint32_t OpenKeyEx(RegKey parent, const std::string& subKey, uint32_t access, RegKey& out) = 0;
    // RegOpenKeyExA with its options: with kRegOptionOpenLink a link that the last part of
    // `subKey` names is opened itself, not the key it points to. A link met before the last
    // part is followed whatever the options.
    virtual uint32_t OpenKeyExOptions(RegKey parent, const std::string& subKey, uint32_t options,
                                      uint32_t access, RegKey& out) = 0;
    // NtDeleteKey: deletes the key an open handle refers to (opened with DELETE); a link
    // opened with kRegOptionOpenLink goes itself, what it points to stays. 5 while the key
    // has subkeys.
    virtual uint32_t DeleteOpenKey(RegKey key) = 0;
    // RegSetValueExA; a null name is the default value.
    virtual uint32_t SetValueEx(RegKey key, const char* name, uint32_t type, const void* data,
                                uint32_t size) = 0;
    // RegDeleteKeyA: deletes a key without subkeys (5 when it has some), in the default view.
    virtual uint32_t DeleteKey(RegKey parent, const std::string& subKey) = 0;

    // RegQueryValueExA; a null name is the default value. `type` may be null. A null `data`
    // asks only the size; a buffer too small gives 234 (ERROR_MORE_DATA) with the size
    // needed in *size. String data comes back exactly as stored, terminator included when
    // it was stored with one.
    virtual uint32_t QueryValueEx(RegKey key, const char* name, uint32_t* type, void* data,
                                  uint32_t* size) = 0;
    // RegEnumKeyExA. *nameLength is the buffer size in characters on entry and the name's
    // length without terminator on success; 234 when the buffer is too small, 259
    // (ERROR_NO_MORE_ITEMS) past the last key.
    virtual uint32_t EnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameLength) = 0;
    // RegEnumValueA: the name as EnumKeyEx, then type and data as QueryValueEx (each may be null).
    virtual uint32_t EnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
                               void* data, uint32_t* dataSize) = 0;
    // RegQueryInfoKeyA; lengths in characters without terminator, data in bytes. Any out may be null.
    virtual uint32_t QueryInfoKey(RegKey key, uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* values,
                                  uint32_t* maxValueNameLength, uint32_t* maxValueLength) = 0;
    // RegDeleteKeyExA: `view` is KEY_WOW64_64KEY or KEY_WOW64_32KEY (or 0). 120
    // (ERROR_CALL_NOT_IMPLEMENTED) where advapi32 does not have the function.
    virtual uint32_t DeleteKeyEx(RegKey parent, const std::string& subKey, uint32_t view) = 0;
    // RegDeleteValueA; a null name is the default value.
    virtual uint32_t DeleteValue(RegKey key, const char* name) = 0;
    // SHDeleteKeyA: deletes the key and every key below it. The subkeys are opened relative
    // to `parent` without a view flag, so the view is the parent handle's: to delete in the
    // 64-bit view, open the parent with KEY_WOW64_64KEY and pass that handle.
    virtual uint32_t SHDeleteKey(RegKey parent, const std::string& subKey) = 0;
    // SHDeleteValueA: opens `subKey` and deletes the value `name` in it.
    virtual uint32_t SHDeleteValue(RegKey parent, const std::string& subKey, const std::string& name) = 0;
    // SHGetValueA: opens `subKey` and queries `name` as QueryValueEx does, except that
    // REG_EXPAND_SZ data comes back expanded and typed REG_SZ.
    virtual uint32_t SHGetValue(RegKey parent, const std::string& subKey, const std::string& name,
                                uint32_t* type, void* data, uint32_t* size) = 0;
    // RegFlushKey.
    virtual uint32_t FlushKey(RegKey key) = 0;

    // The UTF-16 calls, for the logger (Unicode folder paths) and the installer tool, which
    // work in UTF-16. Sizes are in bytes; string data is UTF-16 with the terminator as stored.
    virtual uint32_t OpenKeyExW(RegKey parent, const std::u16string& subKey, uint32_t access,
                                RegKey& out) = 0;
    virtual uint32_t QueryValueExW(RegKey key, const char16_t* name, uint32_t* type, void* data,
                                   uint32_t* size) = 0;
    virtual uint32_t CreateKeyExW(RegKey parent, const std::u16string& subKey, uint32_t options,
                                  uint32_t access, RegKey& out, uint32_t* disposition) = 0;
    virtual uint32_t SetValueExW(RegKey key, const char16_t* name, uint32_t type, const void* data,
                                 uint32_t size) = 0;
    virtual uint32_t DeleteValueW(RegKey key, const char16_t* name) = 0;
    // RegOpenKeyExW with its options, as OpenKeyExOptions.
    virtual uint32_t OpenKeyExOptionsW(RegKey parent, const std::u16string& subKey, uint32_t options,
                                       uint32_t access, RegKey& out) = 0;
    // RegEnumKeyExW and RegEnumValueW: as their A forms, with lengths in UTF-16 units and
    // names and string data as the registry keeps them, whatever the ANSI code page holds.
    virtual uint32_t EnumKeyExW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength) = 0;
    virtual uint32_t EnumValueW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                                uint32_t* type, void* data, uint32_t* dataSize) = 0;
};

using UniqueRegKey = UniqueIn<IRegistry, RegKey, &IRegistry::CloseKey>;

}  // namespace platform
