#include "platform/win32/win32_registry.h"

#include <windows.h>
// shlwapi.h needs the types windows.h declares.
#include <shlwapi.h>

// shlwapi.h maps these names to their A/W forms, which would rename our methods.
#undef SHDeleteKey
#undef SHDeleteValue
#undef SHGetValue

namespace platform::win32 {

static_assert(sizeof(DWORD) == sizeof(uint32_t), "DWORD out-parameters are passed through as uint32_t");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 names are passed through as wchar_t");

namespace {
HKEY Hk(RegKey key) { return reinterpret_cast<HKEY>(key); }
DWORD* Dw(uint32_t* p) { return reinterpret_cast<DWORD*>(p); }
uint32_t Status(LSTATUS rc) { return static_cast<uint32_t>(rc); }

using RegDeleteKeyExAFn = LSTATUS(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);

// Windows XP (32-bit) has no RegDeleteKeyExA, so it is looked up rather than imported.
RegDeleteKeyExAFn DeleteKeyExEntry() {
    static const RegDeleteKeyExAFn entry = [] {
        HMODULE advapi = ::GetModuleHandleA("advapi32.dll");
        FARPROC proc = advapi != nullptr ? ::GetProcAddress(advapi, "RegDeleteKeyExA") : nullptr;
        return reinterpret_cast<RegDeleteKeyExAFn>(reinterpret_cast<void*>(proc));
    }();
    return entry;
}
using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);

// Deleting a key by its handle is the one way to delete a link itself: the named deletions
// open the key they delete and so follow a link. ntdll is in every process.
NtDeleteKeyFn NtDeleteKeyEntry() {
    static const NtDeleteKeyFn entry = [] {
        HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "NtDeleteKey") : nullptr;
        return reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(proc));
    }();
    return entry;
}

uint32_t DosError(LONG status) {
    static const RtlNtStatusToDosErrorFn entry = [] {
        HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        FARPROC proc = ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlNtStatusToDosError") : nullptr;
        return reinterpret_cast<RtlNtStatusToDosErrorFn>(reinterpret_cast<void*>(proc));
    }();
    if (status == 0) return ERROR_SUCCESS;
    return entry != nullptr ? static_cast<uint32_t>(entry(status)) : ERROR_ACCESS_DENIED;
}
}  // namespace

void Win32Registry::CloseKey(RegKey key) { ::RegCloseKey(Hk(key)); }

uint32_t Win32Registry::CreateKeyEx(RegKey parent, const std::string& subKey, uint32_t options,
                                    uint32_t access, RegKey& out, uint32_t* disposition) {
    HKEY h = nullptr;
    DWORD disp = 0;
    LSTATUS rc =
        ::RegCreateKeyExA(Hk(parent), subKey.c_str(), 0, nullptr, options, access, nullptr, &h, &disp);
    if (rc == ERROR_SUCCESS) {
        out = reinterpret_cast<RegKey>(h);
        if (disposition != nullptr) *disposition = disp;
    }
    return Status(rc);
}

uint32_t Win32Registry::OpenKeyEx(RegKey parent, const std::string& subKey, uint32_t access, RegKey& out) {
    HKEY h = nullptr;
    LSTATUS rc = ::RegOpenKeyExA(Hk(parent), subKey.c_str(), 0, access, &h);
    if (rc == ERROR_SUCCESS) out = reinterpret_cast<RegKey>(h);
    return Status(rc);
}

uint32_t Win32Registry::OpenKeyExOptions(RegKey parent, const std::string& subKey, uint32_t options,
                                         uint32_t access, RegKey& out) {
    HKEY h = nullptr;
    LSTATUS rc = ::RegOpenKeyExA(Hk(parent), subKey.c_str(), options, access, &h);
    if (rc == ERROR_SUCCESS) out = reinterpret_cast<RegKey>(h);
    return Status(rc);
}

uint32_t Win32Registry::DeleteOpenKey(RegKey key) {
    NtDeleteKeyFn entry = NtDeleteKeyEntry();
    if (entry == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
    return DosError(entry(reinterpret_cast<HANDLE>(key)));
}

uint32_t Win32Registry::SetValueEx(RegKey key, const char* name, uint32_t type, const void* data,
                                   uint32_t size) {
    return Status(::RegSetValueExA(Hk(key), name, 0, type, static_cast<const BYTE*>(data), size));
}

uint32_t Win32Registry::DeleteKey(RegKey parent, const std::string& subKey) {
    return Status(::RegDeleteKeyA(Hk(parent), subKey.c_str()));
}

uint32_t Win32Registry::QueryValueEx(RegKey key, const char* name, uint32_t* type, void* data,
                                     uint32_t* size) {
    return Status(::RegQueryValueExA(Hk(key), name, nullptr, Dw(type), static_cast<BYTE*>(data), Dw(size)));
}

uint32_t Win32Registry::EnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameLength) {
    return Status(::RegEnumKeyExA(Hk(key), index, name, Dw(nameLength), nullptr, nullptr, nullptr, nullptr));
}

uint32_t Win32Registry::EnumValue(RegKey key, uint32_t index, char* name, uint32_t* nameLength,
                                  uint32_t* type, void* data, uint32_t* dataSize) {
    return Status(::RegEnumValueA(Hk(key), index, name, Dw(nameLength), nullptr, Dw(type),
                                  static_cast<BYTE*>(data), Dw(dataSize)));
}

uint32_t Win32Registry::QueryInfoKey(RegKey key, uint32_t* subKeys, uint32_t* maxSubKeyLength,
                                     uint32_t* values, uint32_t* maxValueNameLength,
                                     uint32_t* maxValueLength) {
    return Status(::RegQueryInfoKeyA(Hk(key), nullptr, nullptr, nullptr, Dw(subKeys), Dw(maxSubKeyLength),
                                     nullptr, Dw(values), Dw(maxValueNameLength), Dw(maxValueLength), nullptr,
                                     nullptr));
}

uint32_t Win32Registry::DeleteKeyEx(RegKey parent, const std::string& subKey, uint32_t view) {
    RegDeleteKeyExAFn entry = DeleteKeyExEntry();
    if (entry == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
    return Status(entry(Hk(parent), subKey.c_str(), view, 0));
}

uint32_t Win32Registry::DeleteValue(RegKey key, const char* name) {
    return Status(::RegDeleteValueA(Hk(key), name));
}

uint32_t Win32Registry::SHDeleteKey(RegKey parent, const std::string& subKey) {
    return Status(::SHDeleteKeyA(Hk(parent), subKey.c_str()));
}

uint32_t Win32Registry::SHDeleteValue(RegKey parent, const std::string& subKey, const std::string& name) {
    return Status(::SHDeleteValueA(Hk(parent), subKey.c_str(), name.c_str()));
}

uint32_t Win32Registry::SHGetValue(RegKey parent, const std::string& subKey, const std::string& name,
                                   uint32_t* type, void* data, uint32_t* size) {
    return Status(::SHGetValueA(Hk(parent), subKey.c_str(), name.c_str(), Dw(type), data, Dw(size)));
}

uint32_t Win32Registry::FlushKey(RegKey key) { return Status(::RegFlushKey(Hk(key))); }

uint32_t Win32Registry::OpenKeyExW(RegKey parent, const std::u16string& subKey, uint32_t access,
                                   RegKey& out) {
    HKEY h = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(Hk(parent), reinterpret_cast<const wchar_t*>(subKey.c_str()), 0, access, &h);
    if (rc == ERROR_SUCCESS) out = reinterpret_cast<RegKey>(h);
    return Status(rc);
}

uint32_t Win32Registry::QueryValueExW(RegKey key, const char16_t* name, uint32_t* type, void* data,
                                      uint32_t* size) {
    return Status(::RegQueryValueExW(Hk(key), reinterpret_cast<const wchar_t*>(name), nullptr, Dw(type),
                                     static_cast<BYTE*>(data), Dw(size)));
}

uint32_t Win32Registry::CreateKeyExW(RegKey parent, const std::u16string& subKey, uint32_t options,
                                     uint32_t access, RegKey& out, uint32_t* disposition) {
    HKEY h = nullptr;
    DWORD disp = 0;
    LSTATUS rc = ::RegCreateKeyExW(Hk(parent), reinterpret_cast<const wchar_t*>(subKey.c_str()), 0, nullptr,
                                   options, access, nullptr, &h, &disp);
    if (rc == ERROR_SUCCESS) {
        out = reinterpret_cast<RegKey>(h);
        if (disposition != nullptr) *disposition = disp;
    }
    return Status(rc);
}

uint32_t Win32Registry::SetValueExW(RegKey key, const char16_t* name, uint32_t type, const void* data,
                                    uint32_t size) {
    return Status(::RegSetValueExW(Hk(key), reinterpret_cast<const wchar_t*>(name), 0, type,
                                   static_cast<const BYTE*>(data), size));
}

uint32_t Win32Registry::DeleteValueW(RegKey key, const char16_t* name) {
    return Status(::RegDeleteValueW(Hk(key), reinterpret_cast<const wchar_t*>(name)));
}

uint32_t Win32Registry::OpenKeyExOptionsW(RegKey parent, const std::u16string& subKey, uint32_t options,
                                          uint32_t access, RegKey& out) {
    HKEY h = nullptr;
    LSTATUS rc =
        ::RegOpenKeyExW(Hk(parent), reinterpret_cast<const wchar_t*>(subKey.c_str()), options, access, &h);
    if (rc == ERROR_SUCCESS) out = reinterpret_cast<RegKey>(h);
    return Status(rc);
}

uint32_t Win32Registry::EnumKeyExW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength) {
    return Status(::RegEnumKeyExW(Hk(key), index, reinterpret_cast<wchar_t*>(name), Dw(nameLength), nullptr,
                                  nullptr, nullptr, nullptr));
}

uint32_t Win32Registry::EnumValueW(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                                   uint32_t* type, void* data, uint32_t* dataSize) {
    return Status(::RegEnumValueW(Hk(key), index, reinterpret_cast<wchar_t*>(name), Dw(nameLength), nullptr,
                                  Dw(type), static_cast<BYTE*>(data), Dw(dataSize)));
}

}  // namespace platform::win32
