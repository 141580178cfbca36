// The table of protected locations, and what a run does with configuration entries that
// name them: nothing of them is listed or removed, each refusal is one error record, and
// what lies below them stays removable by its own path.
#include "expand/protected_locations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expand/lists_fixture.h"
#include "platform/sim/sim_machine.h"

namespace {

using platform::sim::SimMachine;
using platform::sim::View;

class ProtectedTable : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d :
             {"C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris", "C:\\Users\\Alice\\AppData\\Roaming",
              "C:\\Users\\Public\\Desktop", "C:\\Program Files (x86)\\Kelvaris",
              "C:\\Windows\\System32\\drivers", "D:\\Profiles\\Bob"}) {
            m.files.AddDrive('D');
            ASSERT_TRUE(m.files.CreateDirectories(d)) << d;
        }
        m.registry.SetString(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows "
            "NT\\CurrentVersion\\ProfileList\\S-1-5-21-7-1002",
            "ProfileImagePath", "%ProfileDrive%\\Profiles\\Bob", View::K64, platform::kRegExpandSz);
        m.system.environment[u"ProfileDrive"] = u"D:";
        for (const char* d : {"C:\\Program Files\\Common Files", "C:\\Program Files (x86)"}) {
            ASSERT_TRUE(m.files.CreateDirectories(d));
        }
        m.files.SetShortName("C:\\Program Files", "PROGRA~1");
        m.files.SetShortName("C:\\Program Files\\Common Files", "COMMON~1");
        m.files.SetShortName("C:\\Program Files (x86)", "PROGRA~2");
    }
    SimMachine m;
    expand::ProtectedLocations table{m.platform()};
};

TEST_F(ProtectedTable, MachineFoldersAreProtectedInEverySpelling) {
    for (const char* p :
         {"C:\\", "C:", "c:/", "D:\\", "C:\\Windows", "c:\\windows\\", "C:\\WINDOWS\\SYSTEM32",
          "C:\\Windows\\SysWOW64", "C:\\Windows\\System32\\..", "\\\\?\\C:\\Windows", "C:\\Program Files",
          "C:\\PROGRAM FILES (X86)\\", "C:\\Program Files\\Common Files",
          "C:\\Program Files (x86)\\Common Files", "C:\\ProgramData", "C:\\Users",
          "C:\\Program Files (x86)\\Kelvaris\\..", "C:\\Windows\\.\\System32", "C:\\PROGRA~1\\COMMON~1",
          "C:\\Program Files::$INDEX_ALLOCATION\\Common Files", "C:\\Windows\\System32::$INDEX_ALLOCATION",
          "\\\\?\\C:\\PROGRA~2"}) {
        EXPECT_NE(nullptr, table.FolderReason(p)) << p;
    }
    EXPECT_STREQ("root of a drive", table.FolderReason("C:\\"));
    EXPECT_STREQ("system folder", table.FolderReason("c:\\windows\\system32\\"));
    for (const char* p : {"C:\\Windows\\System32\\drivers", "C:\\Program Files (x86)\\Kelvaris",
                          "C:\\Program Files\\Kelvaris", "C:\\ProgramData\\Kelvaris", "C:\\Tools", "",
                          "Kelvaris", "C:\\Windows\\System32\\drivers\\kv.sys"}) {
        EXPECT_EQ(nullptr, table.FolderReason(p)) << p;
    }
    EXPECT_EQ(nullptr, table.FolderReason(nullptr));
}

TEST_F(ProtectedTable, FoldersMovedAwayFromTheirDefaultsAreFoundWhereTheMachineSaysTheyAre) {
    SimMachine moved;
    moved.files.AddDrive('E');
    moved.shell.windowsDirectory = "E:\\OS";
    moved.shell.systemDirectory = "E:\\OS\\System32";
    moved.shell.programFilesX86 = "E:\\Apps (x86)";
    moved.shell.programData = "E:\\Shared";
    moved.shell.profilesRoot = "E:\\People";
    moved.system.environment[u"CommonProgramFiles(x86)"] = u"E:\\Common (x86)";
    moved.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                             "ProgramFilesDir", "E:\\Apps", View::K64);
    ASSERT_TRUE(moved.files.CreateDirectories("E:\\People\\Tester"));
    ASSERT_TRUE(moved.files.CreateDirectories("E:\\People\\Carol"));
    expand::ProtectedLocations t(moved.platform());
    for (const char* p : {"E:\\OS", "E:\\OS\\System32", "E:\\OS\\SysWOW64", "E:\\Apps (x86)", "E:\\Apps",
                          "E:\\Apps\\Common Files", "E:\\Common (x86)", "E:\\Shared", "E:\\People",
                          "E:\\People\\Carol", "E:\\People\\Carol\\AppData\\Roaming",
                          // The defaults stay protected wherever the machine keeps its folders.
                          "C:\\Windows", "C:\\Program Files (x86)", "C:\\ProgramData", "C:\\Users"}) {
        EXPECT_NE(nullptr, t.FolderReason(p)) << p;
    }
    EXPECT_EQ(nullptr, t.FolderReason("E:\\Apps\\Kelvaris"));
}

TEST_F(ProtectedTable, EveryProfileAndTheFoldersOfTheMacrosInEachAreProtected) {
    for (const char* p : {"C:\\Users\\Tester", "C:\\Users\\Alice", "C:\\Users\\Public", "D:\\Profiles\\Bob",
                          // %APPDATA% and the other per-user macros, in every profile beside the user's.
                          "C:\\Users\\Tester\\AppData\\Roaming", "C:\\Users\\Alice\\AppData\\Roaming",
                          "C:\\Users\\Alice\\Desktop", "C:\\Users\\Alice\\Documents",
                          "C:\\Users\\Alice\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
                          "C:\\Users\\Alice\\AppData\\Roaming\\Microsoft\\Windows\\Cookies",
                          "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                          // A folder removed whole would take a protected one inside it along.
                          "C:\\Users\\Alice\\AppData\\Roaming\\Microsoft"}) {
        EXPECT_NE(nullptr, table.FolderReason(p)) << p;
    }
    EXPECT_STREQ("%COOKIES%",
                 table.FolderReason("C:\\Users\\Alice\\AppData\\Roaming\\Microsoft\\Windows\\Cookies\\"))
        << "the reason names the macro";
    for (const char* p :
         {"C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris", "C:\\Users\\Alice\\Desktop\\Kelvaris.lnk",
          "D:\\Profiles\\Bob\\Documents\\Kelvaris"}) {
        EXPECT_EQ(nullptr, table.FolderReason(p)) << p;
    }
}

TEST(ProtectedKeys, TheTableInEitherViewAndEveryHive) {
    SimMachine m;
    expand::ProtectedLocations table(m.platform());
    const char* const kProtected[] = {
        "HKEY_LOCAL_MACHINE",
        "HKEY_CLASSES_ROOT\\",
        "hkey_users",
        "HKLM\\SOFTWARE",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\",
        "HKEY_LOCAL_MACHINE\\Software\\Classes",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Classes",
        "HKEY_LOCAL_MACHINE\\SYSTEM",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services",
        "HKEY_CURRENT_USER\\Software",
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        "HKEY_USERS\\S-1-5-21-7-1001",
        "HKEY_USERS\\S-1-5-21-7-1001\\Software",
        "HKEY_USERS\\.DEFAULT\\Software",
    };
    for (const char* k : kProtected) EXPECT_NE(nullptr, table.KeyReason(k)) << k;
    EXPECT_STREQ("registry root key", table.KeyReason("HKEY_LOCAL_MACHINE"));
    EXPECT_STREQ("service registrations",
                 table.KeyReason("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services"));

    const char* const kRemovable[] = {
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kelvaris",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Kelvaris",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{KV}",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{KV}",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\KvDriver",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSetX",
        "HKEY_CURRENT_USER\\Software\\Kelvaris",
        "HKEY_CURRENT_USER\\Environment",
        "HKEY_USERS\\S-1-5-21-7-1001\\Software\\Kelvaris",
        "HKEY_CLASSES_ROOT\\CLSID\\{KV}",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\..\\Microsoft",  // ".." is a key name there
        "SOFTWARE\\Microsoft",                                    // no root: the registry refuses it anyway
        "",
    };
    for (const char* k : kRemovable) EXPECT_EQ(nullptr, table.KeyReason(k)) << k;
    EXPECT_EQ(nullptr, table.KeyReason(nullptr));
}

// ---- the run, from the configuration to the restart ----

class ProtectedRun : public lists_test::ListsFixture {
  protected:
    // Records at `level` that hold `fragment`.
    int LoggedAt(int level, const std::string& fragment) const {
        static const char* const kMarks[] = {"*F", "*E", ".W", " I", " D", " V"};
        int n = 0;
        for (const std::string& line : LogLines()) {
            size_t at = line.find("] ");
            if (at == std::string::npos || line.find(fragment) == std::string::npos) continue;
            if (line.compare(at + 2, 2, kMarks[level - 1]) == 0) ++n;
        }
        return n;
    }
    void Run() {
        ASSERT_EQ(0u, nuke.InitializeLists(0, 1)) << nuke.errorText;
        ASSERT_EQ(0u, nuke.ExpandLists());
        EXPECT_EQ(0u, nuke.CleanupFiles());
        EXPECT_EQ(0u, nuke.CleanupRegValues());
        EXPECT_EQ(0u, nuke.CleanupRegKeys());
        m.files.SimulateRestart();
    }
};

TEST_F(ProtectedRun, AKeyOfTheTableIsRefusedOnceWhileKeysAndValuesBelowItGo) {
    const std::string microsoft = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft";
    for (View v : {View::K64, View::K32}) {
        m.registry.SetString(microsoft + "\\Windows\\CurrentVersion\\Run", "Kelvaris", "kv.exe", v);
        m.registry.SetString(microsoft + "\\Windows\\CurrentVersion\\Run", "Other", "other.exe", v);
        m.registry.SetString(microsoft + "\\Cryptography", "MachineGuid", "g", v);
    }
    m.registry.SetString(microsoft + "\\Kelvaris", "x", "1", View::K64);
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Setup", "Key",
                         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    lists_test::Sections s;
    s.regKey =
        "remove=REG_KEY,BY_VALUE," + microsoft + "\n" +
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Kelvaris\n"
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\n"
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\R*\n"
        "remove=REG_KEY,BY_DATA_MATCH,\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\U*"
        "\",\"Marker\",\"*\"\n"
        "remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Setup\\Key\n";
    m.registry.SetString(microsoft + "\\Windows\\CurrentVersion\\Uninstall", "Marker", "set", View::K64);
    s.regValue = "remove=REG_VALUE,BY_VALUE," + microsoft + "\\Windows\\CurrentVersion\\Run\\Kelvaris\n";
    WriteConfig(s.Text());
    Run();

    for (View v : {View::K64, View::K32}) {
        EXPECT_TRUE(m.registry.ValueExists(microsoft + "\\Cryptography", "MachineGuid", v));
        EXPECT_TRUE(m.registry.ValueExists(microsoft + "\\Windows\\CurrentVersion\\Run", "Other", v));
        EXPECT_FALSE(m.registry.Exists(microsoft + "\\Kelvaris", v));
    }
    EXPECT_FALSE(m.registry.ValueExists(microsoft + "\\Windows\\CurrentVersion\\Run", "Kelvaris", View::K32));
    EXPECT_TRUE(
        m.registry.ValueExists(microsoft + "\\Windows\\CurrentVersion\\Uninstall", "Marker", View::K64));

    EXPECT_EQ(1, LoggedAt(2,
                          "CNuke::ExpandRegKey: 'HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT' is a protected "
                          "location (operating system software key), not removed"));
    EXPECT_EQ(1,
              LoggedAt(2, "'HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS' is a protected"));
    // The wildcard reaches Run and RunOnce; each is refused where the entry is expanded.
    EXPECT_EQ(
        1,
        LoggedAt(2,
                 "CNuke::ExpandRegKey: "
                 "'HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN' is a protected"));
    EXPECT_EQ(
        1,
        LoggedAt(
            2,
            "CNuke::MatchRegKeyValueData: "
            "'HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL' is a protected"));
    EXPECT_EQ(
        1,
        LoggedAt(2,
                 "CNuke::ListRegValueData: "
                 "'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run' is a protected"));
    EXPECT_EQ(5, LoggedAt(2, "is a protected location"));
}

TEST_F(ProtectedRun, TheLastLineOfDefenceRefusesATableKeyHandedStraightToTheDeletion) {
    OpenLog();
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Kelvaris", "x", "1", View::K64);
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Kelvaris", "x", "1", View::K32);
    EXPECT_FALSE(nuke.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\POLICIES"));
    EXPECT_EQ(platform::kErrorAccessDenied,
              nuke.DeleteRegistryKey64bit("HKEY_LOCAL_MACHINE\\SOFTWARE\\POLICIES"));
    EXPECT_TRUE(m.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Kelvaris", View::K64));
    EXPECT_TRUE(m.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Kelvaris", View::K32));
    EXPECT_EQ(1, LoggedAt(2,
                          "CNuke::DeleteRegistryKey: 'HKEY_LOCAL_MACHINE\\SOFTWARE\\POLICIES' is a protected "
                          "location (policies), not removed"));
    EXPECT_EQ(
        1, LoggedAt(
               2, "CNuke::DeleteRegistryKey64bit: 'HKEY_LOCAL_MACHINE\\SOFTWARE\\POLICIES' is a protected"));
    EXPECT_TRUE(nuke.DeleteRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\POLICIES\\KELVARIS"));

    // A table key that reaches the walk by another road is neither listed nor walked.
    m.registry.SetString("HKEY_USERS\\.DEFAULT\\Software\\Kelvaris", "x", "1");
    ASSERT_EQ(0u, nuke.removeRegKeyList.Insert("HKEY_USERS\\.DEFAULT\\SOFTWARE"));
    EXPECT_EQ(0u, nuke.PopulateRemoveRegList());
    EXPECT_TRUE(nuke.regKeyList.IsEmpty());
    EXPECT_TRUE(nuke.regValueList.IsEmpty());
    EXPECT_EQ(1, LoggedAt(2,
                          "CNuke::AddRegKeyTree: 'HKEY_USERS\\.DEFAULT\\SOFTWARE' is a protected location "
                          "(software key), not removed"));
}

// The file side: the folders are refused where the file lists are expanded.
TEST_F(ProtectedRun, FolderEntriesOfTheTableRemoveNothingOfThem) {
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Setup", "Dir", "C:\\Program Files (x86)");
    for (const char* f :
         {"C:\\Program Files (x86)\\Kelvaris\\kv.exe", "C:\\Program Files (x86)\\Other\\o.exe",
          "C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris\\kv.ini",
          "C:\\Users\\Tester\\AppData\\Roaming\\Other\\o.ini", "C:\\boot.ini"}) {
        ASSERT_TRUE(m.files.CreateFile(f, "x")) << f;
    }
    lists_test::Sections s;
    s.file =
        "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\n"
        "remove=FILE_NAME,BY_VALUE,C:\\\n"
        "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\n"
        "remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Setup\\Dir\n"
        "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Kelvaris\n"
        "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Kelvaris\n";
    WriteConfig(s.Text());
    Run();
    for (const char* f : {"C:\\Program Files (x86)\\Other\\o.exe",
                          "C:\\Users\\Tester\\AppData\\Roaming\\Other\\o.ini", "C:\\boot.ini"}) {
        EXPECT_TRUE(m.files.Exists(f)) << f;
    }
    EXPECT_FALSE(m.files.Exists("C:\\Program Files (x86)\\Kelvaris"));
    EXPECT_FALSE(m.files.Exists("C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris"));
    EXPECT_EQ(1, LoggedAt(2, "is a protected location (root of a drive), not removed"));
    EXPECT_EQ(1, LoggedAt(2, "'C:\\USERS\\TESTER\\APPDATA\\ROAMING' is a protected location"));
    EXPECT_GE(LoggedAt(2, "'C:\\PROGRAM FILES (X86)' is a protected location"), 1);
}

}  // namespace
