// One machine arrangement and one configuration file with every accepted type and kind of
// entry, with the lists the configuration entry handlers must build from them. A native
// test checks it on a simulated machine laid out as the Wine test prefix is; the
// Windows-side test checks the very same table on the real machine.
//
// "{USER}" in a path stands for the current user's name (upper case in the expectations).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "platform/ansi.h"
#include "platform/platform.h"

namespace handlers_scenario {

struct RegValue {
    platform::RegKey root;
    const char* key;
    bool view64;       // written through KEY_WOW64_64KEY, else in the 32-bit view
    const char* name;  // null: only the key
    uint32_t type;
    const char* text;
    uint32_t dword;
    bool machineHasIt;  // part of every Windows installation: arranged only on the sim
};

constexpr platform::RegKey kHklm = platform::kHkeyLocalMachine;
constexpr platform::RegKey kHkcu = platform::kHkeyCurrentUser;
constexpr uint32_t kSz = platform::kRegSz;
constexpr uint32_t kDword = platform::kRegDword;

inline const std::vector<RegValue>& RegistryValues() {
    static const std::vector<RegValue> values = {
        {kHklm, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", true, "ProgramFilesDir", kSz,
         "C:\\Program Files", 0, true},
        {kHklm, "SOFTWARE\\SweepHT", false, "InstallDir", kSz, "C:\\Program Files (x86)\\SweepHT", 0, false},
        {kHklm, "SOFTWARE\\SweepHT", false, "kvUpdate", kSz, "C:\\SweepHT\\update.exe", 0, false},
        {kHklm, "SOFTWARE\\SweepHT", false, "kvScan", kSz, "C:\\Other\\scan.exe", 0, false},
        {kHklm, "SOFTWARE\\SweepHT", false, "Count", kDword, nullptr, 3, false},
        {kHklm, "SOFTWARE\\SweepHT\\Alpha32", false, nullptr, 0, nullptr, 0, false},
        {kHklm, "SOFTWARE\\SweepHT", true, "kv64", kSz, "C:\\SweepHT\\x.exe", 0, false},
        {kHklm, "SOFTWARE\\SweepHT\\Agent", true, "Path", kSz, "C:\\SweepHT\\agent.exe", 0, false},
        {kHklm, "SOFTWARE\\SweepHT\\Antivirus", true, "Path", kSz, "C:\\Other\\av.exe", 0, false},
        {kHklm, "SOFTWARE\\SweepHT\\Antispam", true, "Path", kDword, nullptr, 1, false},
        {kHklm, "SOFTWARE\\SweepHT\\Tools", true, nullptr, 0, nullptr, 0, false},
        {kHkcu, "Software\\SweepHT", false, "Mode", kSz, "full", 0, false},
    };
    return values;
}

// Keys the Windows-side test deletes again (both views).
inline std::vector<std::pair<platform::RegKey, const char*>> ScratchKeys() {
    return {{kHklm, "SOFTWARE\\SweepHT"}, {kHkcu, "Software\\SweepHT"}};
}

// Files and directories, created with their parents. The profiles folder already holds
// "Public" and the user's own profile.
inline const std::vector<const char*>& Files() {
    static const std::vector<const char*> files = {
        "C:\\SweepHT\\a.txt",
        "C:\\SweepHT\\b.txt",
        "C:\\SweepHT\\c.log",
        "C:\\SweepHT\\Sub\\a.txt",
        "C:\\users\\{USER}\\AppData\\Roaming\\SweepHT\\kv.dat",
        "C:\\users\\sweepalt\\AppData\\Roaming\\SweepHT\\kv.dat",
        "C:\\users\\sweepalt\\AppData\\Roaming\\SweepHTOld\\other.dat",
        "C:\\ProgramData\\SweepHT\\log.txt",
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\SweepHT\\SweepHT.lnk",
        "C:\\Program Files (x86)\\SweepHT\\kv.exe",
        "C:\\Program Files\\SweepHT\\kv64.exe",
        "C:\\windows\\SweepHT.ini",
    };
    return files;
}

// Directories the Windows-side test removes again, whole.
inline std::vector<const char*> ScratchDirectories() {
    return {"C:\\SweepHT",
            "C:\\users\\{USER}\\AppData\\Roaming\\SweepHT",
            "C:\\users\\sweepalt",
            "C:\\ProgramData\\SweepHT",
            "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\SweepHT",
            "C:\\Program Files (x86)\\SweepHT",
            "C:\\Program Files\\SweepHT"};
}

constexpr char kServiceName[] = "SweepHtSvc";
constexpr char kProcessName[] = "sweep_wintests.exe";

constexpr char kConfig[] =
    "; every type and kind of entry\n"
    "[registry value 1]\n"
    "remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\kv*\n"
    "remove=REG_VALUE,BY_VALUE,HKEY_CURRENT_USER\\Software\\SweepHT\\Mode\n"
    "ignore=REG_VALUE,BY_DATA_MATCH,\"HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\kv*\",\"C:\\SweepHT\\*\"\n"
    "bad=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\Count\n"
    "[registry key 1]\n"
    "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\A*\n"
    "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\Tools\n"
    "ignore=REG_KEY,BY_DATA_MATCH,\"HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\*\",\"Path\",\"C:\\SweepHT\\*\"\n"
    "[file 1]\n"
    "remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\SweepHT\\InstallDir\n"
    "remove=FILE_NAME,BY_VALUE,C:\\SweepHT\\*.txt\n"
    "remove=FILE_NAME,BY_VALUE,C:\\SweepHT\\*.tmp\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\SweepHT\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%COMMON_APPDATA%\\SweepHT\\*\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%COMMON_PROGRAMS%\\SweepHT\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\SweepHT\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES_64%\\SweepHT\\*.exe\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%WINDOWS%\\SweepHT.ini\n"
    "ignore=FILE_NAME,BY_DATA_MATCH,\"C:\\SweepHT\\*\",\"a.txt\"\n"
    "ignore=FILE_NAME_EXPAND,BY_DATA_MATCH,\"%APPDATA%\\SweepHT*\",\"kv.dat\"\n"
    "bad=FILE_NAME_EXPAND,BY_VALUE,C:\\SweepHT\\no-macro\n"
    "[service 1]\n"
    "remove=SERVICE_NAME,BY_VALUE,SweepHt*\n"
    "remove=SERVICE_NAME,BY_VALUE,SweepHtGone\n"
    "[process 1]\n"
    "stop=PROCESS_NAME,BY_VALUE,SWEEP_WINTESTS.EXE\n"
    "stop=PROCESS_NAME,BY_VALUE,SweepHtNotRunning.exe\n"
    "[msi upgradecode 1]\n"
    "remove=GUID,BY_VALUE,{8c3b5a0e-1d2f-4e5a-9b7c-0123456789ab}\n";

struct Expected {
    const char* section;
    const char* key;
    uint32_t code;
    std::vector<std::string> items;
    // Every item is a folder chosen by a marker file, which counts only when the machine's
    // own accounts own it and its folder: never under Wine, which owns every file as its user.
    bool byMarker = false;
};

inline const std::vector<Expected>& ExpectedLists() {
    static const std::vector<Expected> lists = {
        {"registry value",
         "remove",
         0,
         {"HKEY_CURRENT_USER\\SOFTWARE\\SWEEPHT\\MODE", "HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\KVSCAN",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\KVUPDATE"}},
        {"registry value", "ignore", 0, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\KVUPDATE"}},
        {"registry value", "bad", platform::kErrorInvalidData, {}},
        {"registry key",
         "remove",
         0,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\AGENT", "HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\ANTISPAM",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\ANTIVIRUS",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\TOOLS"}},
        {"registry key", "ignore", 0, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\SWEEPHT\\AGENT"}},
        {"file",
         "remove",
         0,
         {"C:\\Program Files (x86)\\SweepHT", "C:\\PROGRAM FILES\\SWEEPHT\\KV64.EXE",
          "C:\\PROGRAMDATA\\MICROSOFT\\WINDOWS\\START MENU\\PROGRAMS\\SWEEPHT",
          "C:\\PROGRAMDATA\\SWEEPHT\\LOG.TXT", "C:\\SWEEPHT\\*.TMP", "C:\\SWEEPHT\\A.TXT",
          "C:\\SWEEPHT\\B.TXT", "C:\\USERS\\PUBLIC\\APPDATA\\ROAMING\\SWEEPHT",
          "C:\\USERS\\SWEEPALT\\APPDATA\\ROAMING\\SWEEPHT", "C:\\USERS\\{USER}\\APPDATA\\ROAMING\\SWEEPHT",
          "C:\\WINDOWS\\SWEEPHT.INI"}},
        {"file",
         "ignore",
         0,
         {"C:\\SWEEPHT\\SUB", "C:\\USERS\\SWEEPALT\\APPDATA\\ROAMING\\SWEEPHT",
          "C:\\USERS\\{USER}\\APPDATA\\ROAMING\\SWEEPHT"},
         true},
        {"file", "bad", platform::kErrorBadConfiguration, {}},
        {"service", "remove", 0, {"SweepHtSvc", "SWEEPHTGONE"}},
        {"process", "stop", 0, {"sweep_wintests.exe"}},
        {"msi upgradecode", "remove", 0, {"{8C3B5A0E-1D2F-4E5A-9B7C-0123456789AB}"}},
    };
    return lists;
}

inline std::string WithUser(std::string text, const std::string& user) {
    const std::string marker = "{USER}";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + user.size())) {
        text.replace(at, marker.size(), user);
    }
    return text;
}

// Writes the registry values and the files through the seam (RegCreateKeyExA with the
// view flag, RegSetValueExA, CreateDirectoryA, CreateFileW). `all`: also what a real
// machine has of itself.
inline void Arrange(platform::Platform& os, const std::string& user, bool all) {
    using namespace platform;
    for (const RegValue& v : RegistryValues()) {
        if (v.machineHasIt && !all) continue;
        RegKey raw = 0;
        uint32_t view = v.view64 ? kKeyWow64_64Key : kKeyWow64_32Key;
        if (os.reg.CreateKeyEx(v.root, v.key, kRegOptionNonVolatile, kKeyAllAccess | view, raw, nullptr) != 0)
            continue;
        UniqueRegKey key(&os.reg, raw);
        if (v.name == nullptr) continue;
        if (v.type == kRegDword) {
            (void)os.reg.SetValueEx(key.get(), v.name, kRegDword, &v.dword, sizeof(v.dword));
        } else {
            (void)os.reg.SetValueEx(key.get(), v.name, v.type, v.text,
                                    static_cast<uint32_t>(std::strlen(v.text) + 1));
        }
    }
    for (const char* f : Files()) {
        std::string path = WithUser(f, user);
        for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
            (void)os.fs.CreateDirectoryA(path.substr(0, at), nullptr);
        }
        std::u16string wide;
        AnsiToUtf16(path.c_str(), path.size(), wide);
        FileHandle h = 0;
        if (os.fs.CreateFileW(wide, kGenericWrite, 0, nullptr, kCreateAlways, kFileAttributeNormal, h)) {
            os.fs.CloseHandle(h);
        }
    }
}

inline std::string Upper(std::string text) {
    platform::AnsiUpperInPlace(&text[0]);
    return text;
}

// The lists are compared as sets: their order depends on the user's name.
inline std::vector<std::string> Sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end(),
              [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
    return items;
}

// Reads every (section, key) of the table from `nuke.configPath` into a fresh list and
// compares code and content.
inline void ExpectListsOf(engine::CNuke& nuke, const std::string& user, bool markersCount = true) {
    for (const Expected& e : ExpectedLists()) {
        engine::TSet list;
        EXPECT_EQ(nuke.ReadConfigSection(list, e.section, e.key), e.code) << e.section << " / " << e.key;
        std::vector<std::string> got;
        const char* s = nullptr;
        for (uint32_t r = list.First(&s); r == 0; r = list.Next(&s)) got.emplace_back(s);
        std::vector<std::string> want;
        if (markersCount || !e.byMarker)
            for (const std::string& item : e.items) want.push_back(WithUser(item, Upper(user)));
        EXPECT_EQ(Sorted(got), Sorted(want)) << e.section << " / " << e.key;
    }
}

}  // namespace handlers_scenario
