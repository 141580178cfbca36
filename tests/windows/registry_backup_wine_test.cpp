// The registry backup on the real machine: a tree in each registry view (and a COM class
// key that the 32-bit view keeps apart) is saved with the real class, deleted, and put back
// by "reg import <file> /reg:64"; what comes back is compared with what was there, read
// with the wide calls so that nothing the ANSI calls convert can hide a difference.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h: these depend on it.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "actions/registry_backup.h"
#include "platform/win32/win32_machine.h"
#include "windows/under_wine.h"

namespace {

// Where the tool keeps its backups: the Windows folder's Logs\SweepTool\Backup.
std::string BackupFolder() {
    char windows[MAX_PATH];
    ::GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\Logs\\SweepTool\\Backup";
}

std::string Hex(const BYTE* data, DWORD size) {
    std::string out;
    char two[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
    }
    return out;
}

std::string Hex(const std::wstring& text) {
    return Hex(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

// Every key, value name, type and data below and including `path`, relative to it.
std::string Snapshot(HKEY root, const std::wstring& path, REGSAM view, const std::string& relative = ".") {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return "";
    std::string out = "[" + relative + "]\n";
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            break;
        out += "  " + Hex(std::wstring(name.data(), nameLength)) + " type=" + std::to_string(type) +
               " data=" + Hex(data.data(), size) + "\n";
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(name.data(), length);
    }
    ::RegCloseKey(key);
    for (const std::wstring& child : children)
        out += Snapshot(root, path + L"\\" + child, view,
                        relative + "\\" + std::string(child.begin(), child.end()));
    return out;
}

class RegistryBackupWine : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = "SweepBackup_" + std::to_string(::GetCurrentProcessId());
        key_ = "Software\\" + name_;
        clsid_ =
            "CLSID\\{5EE0B5A1-0000-4000-8000-" + std::to_string(100000000000 + ::GetCurrentProcessId()) + "}";
        Cleanup();
    }
    void TearDown() override {
        Cleanup();
        if (!file_.empty()) ::DeleteFileA(file_.c_str());
    }
    void Cleanup() {
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
        HKEY software = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &software) ==
            0) {
            ::RegDeleteTreeA(software, name_.c_str());
            ::RegCloseKey(software);
        }
        ::RegDeleteTreeA(HKEY_CLASSES_ROOT, clsid_.c_str());
    }
    HKEY Create(HKEY root, const std::string& path, REGSAM view) {
        HKEY h = nullptr;
        EXPECT_EQ(0, ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &h,
                                       nullptr));
        return h;
    }
    void Set(HKEY key, const char* name, DWORD type, const std::string& data) {
        EXPECT_EQ(0, ::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                      static_cast<DWORD>(data.size())))
            << name;
    }
    // Every value type, with the names and data that need escaping or care.
    void PlantTree(HKEY root, const std::string& path, REGSAM view, const std::string& mark) {
        HKEY k = Create(root, path, view);
        Set(k, nullptr, REG_SZ, std::string("default ") + mark + '\0');
        Set(k, "Text", REG_SZ, std::string("C:\\Program Files\\Kelvaris \"") + mark + "\"" + '\0');
        Set(k, "Empty", REG_SZ, std::string(1, '\0'));
        Set(k, "Unterminated", REG_SZ, "abc");
        Set(k, "Expand", REG_EXPAND_SZ, std::string("%ProgramFiles%\\Kelvaris\0", 25));
        Set(k, "Multi", REG_MULTI_SZ, std::string("one\0\0three\0\0", 12));
        Set(k, "Dword", REG_DWORD, std::string("\x2a\0\0\x80", 4));
        Set(k, "Qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x80", 8));
        Set(k, "Binary", REG_BINARY, std::string(300, '\xab'));
        Set(k, "EmptyBinary", REG_BINARY, "");
        Set(k, "None", REG_NONE, "");
        Set(k, "Odd", 0x100, "\xde\xad");
        Set(k, "C:\\Folder\\With\\Slashes\\", REG_SZ, std::string("x\0", 2));
        Set(k, "Caf\xe9", REG_SZ, std::string("na\xefve\0", 6));
        ::RegCloseKey(k);
        k = Create(root, path + "\\Sub\\Deeper", view);
        Set(k, "Leaf", REG_SZ, mark + '\0');
        ::RegCloseKey(k);
        ::RegCloseKey(Create(root, path + "\\EmptyKey", view));
        // Text outside the ANSI code page: in a key name, in value names and in each string type.
        const std::wstring wide =
            std::wstring(path.begin(), path.end()) + L"\\\u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \u4e2d\u6587";
        ASSERT_EQ(0, ::RegCreateKeyExW(root, wide.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k,
                                       nullptr));
        for (const auto& [name, type, data] :
             {std::tuple<std::wstring, DWORD, std::wstring>{L"\u0418\u043c\u044f", REG_SZ,
                                                            L"\u039a\u03b1\u03bb\u03ae \u65e5\u672c"},
              {L"\u041f\u0443\u0442\u044c", REG_EXPAND_SZ, L"%ProgramFiles%\\\u041a\u0435\u043b"},
              {L"\u0421\u043f\u0438\u0441\u043e\u043a", REG_MULTI_SZ, std::wstring(L"\u03b1\0\u4e2d\0", 4)}})
            EXPECT_EQ(0,
                      ::RegSetValueExW(k, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
        ::RegCloseKey(k);
    }

    platform::win32::Win32Machine m_;
    std::string name_, key_, clsid_, file_;
};

TEST_F(RegistryBackupWine, RegImportInTheSixtyFourBitViewPutsBothViewsBackExactly) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    if (!wow64) GTEST_SKIP() << "needs a 32-bit process on 64-bit Windows";
    PlantTree(HKEY_LOCAL_MACHINE, key_, 0, "32");
    PlantTree(HKEY_LOCAL_MACHINE, key_, KEY_WOW64_64KEY, "64");
    PlantTree(HKEY_CLASSES_ROOT, clsid_, 0, "class");
    const std::wstring key(key_.begin(), key_.end()), clsid(clsid_.begin(), clsid_.end());
    const std::string before32 = Snapshot(HKEY_LOCAL_MACHINE, key, 0);
    const std::string before64 = Snapshot(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY);
    const std::string beforeClass = Snapshot(HKEY_CLASSES_ROOT, clsid, 0);
    ASSERT_NE(before32, before64);
    // The 32-bit class key is not where the 64-bit view looks for it.
    ASSERT_EQ("", Snapshot(HKEY_CLASSES_ROOT, clsid, KEY_WOW64_64KEY));

    actions::RegistryBackup backup(m_.platform());
    EXPECT_EQ(0u, backup.SaveKey(platform::kHkeyLocalMachine, key_, false));
    EXPECT_EQ(0u, backup.SaveKey(platform::kHkeyLocalMachine, key_, true));
    EXPECT_EQ(0u, backup.SaveKey(platform::kHkeyClassesRoot, clsid_, false));
    file_ = backup.path();
    ASSERT_FALSE(file_.empty());
    EXPECT_EQ(
        0, ::_strnicmp(file_.c_str(), (BackupFolder() + "\\sweeptool-").c_str(), BackupFolder().size() + 11))
        << file_;
    Cleanup();
    ASSERT_EQ("", Snapshot(HKEY_LOCAL_MACHINE, key, 0));
    ASSERT_EQ("", Snapshot(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));

    char system[MAX_PATH];
    ASSERT_NE(0u, ::GetSystemDirectoryA(system, MAX_PATH));
    std::string command = std::string("\"") + system + "\\reg.exe\" import \"" + file_ + "\" /reg:64";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &si, &pi))
        << ::GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pi.hProcess, 60000));
    DWORD code = 1;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    EXPECT_EQ(0u, code);

    EXPECT_EQ(before32, Snapshot(HKEY_LOCAL_MACHINE, key, 0));
    EXPECT_EQ(before64, Snapshot(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY));
    EXPECT_EQ(beforeClass, Snapshot(HKEY_CLASSES_ROOT, clsid, 0));
    EXPECT_EQ("", Snapshot(HKEY_CLASSES_ROOT, clsid, KEY_WOW64_64KEY));
}

TEST_F(RegistryBackupWine, FolderAndFileAreForAdministratorsAndSystemOnly) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, key_, 0);
    Set(k, "V", REG_SZ, std::string("1\0", 2));
    ::RegCloseKey(k);
    actions::RegistryBackup backup(m_.platform());
    ASSERT_EQ(0u, backup.SaveValue(platform::kHkeyLocalMachine, key_, "V", false));
    file_ = backup.path();
    for (const std::string& object : {BackupFolder(), file_}) {
        std::wstring wide(object.begin(), object.end());
        HANDLE h = ::CreateFileW(wide.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << object;
        PACL acl = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_EQ(0u, ::GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                        nullptr, &sd));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(sd, &control, &revision));
        if (UnderWine()) {
            // Wine accepts the list but keeps none on a file system without extended
            // attributes: it answers one made from the Unix mode bits.
            EXPECT_EQ(0, control & SE_DACL_PROTECTED)
                << "Wine now keeps file access lists: drop this mark. " << object;
            ::LocalFree(sd);
            ::CloseHandle(h);
            continue;
        }
        EXPECT_NE(0, control & SE_DACL_PROTECTED) << object;
        std::vector<std::string> sids;
        for (DWORD i = 0; acl != nullptr && i < acl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(::GetAce(acl, i, reinterpret_cast<void**>(&ace)));
            EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
            char* text = nullptr;
            ASSERT_TRUE(::ConvertSidToStringSidA(&ace->SidStart, &text));
            sids.push_back(text);
            ::LocalFree(text);
        }
        ::LocalFree(sd);
        ::CloseHandle(h);
        EXPECT_THAT(sids, ::testing::Each(::testing::AnyOf("S-1-5-32-544", "S-1-5-18"))) << object;
        EXPECT_THAT(sids, ::testing::Contains("S-1-5-32-544")) << object;
    }
}

}  // namespace
