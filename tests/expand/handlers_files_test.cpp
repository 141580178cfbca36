// File entries: patterns, directories chosen by their contents, folder macros and the
// per-user rule, on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expand/folder_macros.h"
#include "expand/handlers_test_util.h"

namespace {

using namespace platform;
using engine::CNuke;
using handlers_test::HandlerTest;
using platform::sim::View;
using Strings = std::vector<std::string>;

class FileHandlers : public ::testing::Test, public HandlerTest {
  protected:
    void SetUp() override {
        machine.files.CreateFile("C:\\Apps\\Kelvaris\\a.exe");
        machine.files.CreateFile("C:\\Apps\\Kelvaris\\b.dll");
        machine.files.CreateDirectories("C:\\Apps\\Kelvaris\\Data");
        machine.files.CreateFile("C:\\Apps\\Other\\a.exe");
        machine.files.CreateFile("C:\\Apps\\Acme Secure\\a.exe");
        machine.files.CreateFile("C:\\Apps\\Acme Secure\\b.dll");
    }
};

TEST_F(FileHandlers, PatternListsEveryMatchInUpperCaseAndWhatMatchesNothingAsWritten) {
    EXPECT_EQ(Handle(&CNuke::ExpandFileName, "C:\\APPS\\KELVARIS\\*"), 0u);
    EXPECT_EQ(Listed(), (Strings{"C:\\APPS\\KELVARIS\\A.EXE", "C:\\APPS\\KELVARIS\\B.DLL",
                                 "C:\\APPS\\KELVARIS\\DATA"}));

    engine::TSet none;
    handlers_test::Data d("c:/apps//x/*.tmp");
    EXPECT_EQ(nuke.ExpandFileName(none, d.get()), 0u);
    EXPECT_EQ(handlers_test::Items(none), (Strings{"C:\\APPS\\X\\*.TMP"}));
    EXPECT_EQ(machine.files.OpenFindHandles(), 0);
}

TEST_F(FileHandlers, StartMenuMaskAddsTheCustomisedVariantUnlessEverythingIsRemoved) {
    struct Case {
        const char* mask;
        uint32_t removeAll;
        Strings expected;
    } cases[] = {
        {"Acme Secure", 0, {"C:\\APPS\\ACME SECURE\\A.EXE", "C:\\APPS\\KELVARIS\\A.EXE"}},
        {"Acme Secure", 1, {"C:\\APPS\\KELVARIS\\A.EXE"}},
        {"", 0, {"C:\\APPS\\KELVARIS\\A.EXE"}},
    };
    for (const Case& c : cases) {
        HandlerTest t;
        t.machine.files.CreateFile("C:\\Apps\\Kelvaris\\a.exe");
        t.machine.files.CreateFile("C:\\Apps\\Acme Secure\\a.exe");
        t.nuke.startMenuMask = c.mask;
        t.nuke.removeAll = c.removeAll;
        EXPECT_EQ(t.Handle(&CNuke::ExpandFileName, "C:\\APPS\\KELVARIS\\A.EXE"), 0u);
        EXPECT_EQ(t.Listed(), c.expected) << c.mask << " " << c.removeAll;
    }
}

TEST_F(FileHandlers, StartMenuMaskAppliesToDataMatchEntriesToo) {
    nuke.startMenuMask = "Acme Secure";
    EXPECT_EQ(Handle(&CNuke::MatchFileDirectory, "\"C:\\APPS\\KELVARIS\",\"B.DLL\""), 0u);
    EXPECT_EQ(Listed(), (Strings{"C:\\APPS\\ACME SECURE", "C:\\APPS\\KELVARIS"}));
}

TEST_F(FileHandlers, DirectoryIsListedOnlyWhenItHoldsEveryNamedEntry) {
    struct Case {
        const char* data;
        uint32_t code;
        Strings expected;
    } cases[] = {
        // A folder that a user made, or a marker a user dropped into another's folder, selects nothing.
        {"\"C:\\APPS\\*\",\"A.EXE\",\"B.DLL\"", 0, {"C:\\APPS\\KELVARIS"}},
        {"\"C:\\APPS\\*\",\"A.EXE\"", 0, {"C:\\APPS\\KELVARIS"}},
        {"\"C:\\APPS\\*\",\"*.DLL\",\"DATA\"", 0, {"C:\\APPS\\KELVARIS"}},
        {"\"C:\\APPS\\*\",\"C.EXE\"", 0, {}},
        {"\"C:\\APPS\\*\"", kErrorInvalidData, {}},
        {"\"C:\\APPS\\*\",\"\"", kErrorInvalidData, {}},
        {"", kErrorInvalidData, {}},
    };
    for (const Case& c : cases) {
        HandlerTest t;
        t.machine.files.CreateFile("C:\\Apps\\Kelvaris\\a.exe");
        t.machine.files.CreateFile("C:\\Apps\\Kelvaris\\b.dll");
        t.machine.files.CreateDirectories("C:\\Apps\\Kelvaris\\Data");
        t.machine.files.CreateFile("C:\\Apps\\Other\\a.exe");
        t.machine.files.CreateFile("C:\\Apps\\Acme Secure\\a.exe");
        t.machine.files.CreateFile("C:\\Apps\\Acme Secure\\b.dll");
        t.machine.files.SecurityOf("C:\\Apps\\Acme Secure")->ownerSid = t.machine.security.userSid + "1";
        t.machine.files.SecurityOf("C:\\Apps\\Other\\a.exe")->ownerSid = t.machine.security.userSid + "1";
        EXPECT_EQ(t.Handle(&CNuke::MatchFileDirectory, c.data), c.code) << c.data;
        EXPECT_EQ(t.Listed(), c.expected) << c.data;
    }
}

TEST_F(FileHandlers, PatternsMatchLongNamesOnlyThoughTheVolumeMatchesShortNamesToo) {
    machine.files.CreateFile("C:\\Apps\\Kelvaris\\Report.tmpl");
    machine.files.CreateFile("C:\\Apps\\Kelvaris\\x.tmp");
    ASSERT_TRUE(machine.files.SetShortName("C:\\Apps\\Kelvaris\\Report.tmpl", "REPORT~1.TMP"));
    EXPECT_EQ(Handle(&CNuke::ExpandFileName, "C:\\APPS\\KELVARIS\\*.TMP"), 0u);
    EXPECT_EQ(Listed(), (Strings{"C:\\APPS\\KELVARIS\\X.TMP"}));

    // "*.*" still means every name, with or without an extension, as it does for the listing.
    HandlerTest t;
    t.machine.files.CreateFile("C:\\Apps\\Kelvaris\\a.exe");
    t.machine.files.CreateDirectories("C:\\Apps\\Kelvaris\\Data");
    EXPECT_EQ(t.Handle(&CNuke::ExpandFileName, "C:\\APPS\\KELVARIS\\*.*"), 0u);
    EXPECT_EQ(t.Listed(), (Strings{"C:\\APPS\\KELVARIS\\A.EXE", "C:\\APPS\\KELVARIS\\DATA"}));
}

TEST_F(FileHandlers, DataMatchListsOnlyTheFolderThatHoldsTheNamedFileNotItsMaskedTwin) {
    machine.files.CreateFile("C:\\Apps\\Acme Secure\\c.dll");
    nuke.startMenuMask = "Acme Secure";
    EXPECT_EQ(Handle(&CNuke::MatchFileDirectory, "\"C:\\APPS\\KELVARIS\",\"C.DLL\""), 0u);
    EXPECT_EQ(Listed(), (Strings{"C:\\APPS\\ACME SECURE"}));
}

// Four profiles beside the current user's, and a file that is not a profile.
class MacroHandlers : public ::testing::Test, public HandlerTest {
  protected:
    void SetUp() override {
        for (const char* user : {"Tester", "Alice", "Bob", "Public"}) {
            machine.files.CreateDirectories(std::string("C:\\Users\\") + user +
                                            "\\AppData\\Roaming\\Kelvaris");
            machine.files.CreateDirectories(std::string("C:\\Users\\") + user + "\\Desktop");
        }
        machine.files.CreateFile("C:\\Users\\desktop.ini");
        machine.files.CreateFile("C:\\Users\\Alice\\Desktop\\Kelvaris Internet Security.lnk");
        machine.files.CreateFile("C:\\Users\\Tester\\Desktop\\Kelvaris Scan.lnk");
        machine.files.CreateFile("C:\\Users\\Tester\\Desktop\\Other.lnk");
    }
};

TEST_F(MacroHandlers, EachMacroResolvesItsFolder) {
    machine.shell.folders[kCsidlSystem] = "C:\\Windows\\SysWOW64";
    machine.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                               "ProgramFilesDir", "C:\\Program Files", View::K64);
    machine.system.environment[u"USERPROFILE"] = u"C:\\Users\\Tester";
    machine.registry.SetString("HKEY_CURRENT_USER\\SOFTWARE\\Google\\Google Desktop", "plugin_dir",
                               "C:\\Users\\Tester\\Gadgets", View::K64);
    struct Case {
        const char* data;
        Strings expected;
    } cases[] = {
        {"%COMMON_APPDATA%\\KELVARIS", {"C:\\PROGRAMDATA\\KELVARIS"}},
        {"%COMMON_PROGRAMS%\\KELVARIS",
         {"C:\\PROGRAMDATA\\MICROSOFT\\WINDOWS\\START MENU\\PROGRAMS\\KELVARIS"}},
        {"%COMMON_STARTMENU%\\KELVARIS", {"C:\\PROGRAMDATA\\MICROSOFT\\WINDOWS\\START MENU\\KELVARIS"}},
        {"%COMMON_STARTUP%\\K.LNK",
         {"C:\\PROGRAMDATA\\MICROSOFT\\WINDOWS\\START MENU\\PROGRAMS\\STARTUP\\K.LNK"}},
        {"%PROGRAM_FILES%\\KELVARIS", {"C:\\PROGRAM FILES (X86)\\KELVARIS"}},
        {"%PROGRAM_FILES_64%\\KELVARIS", {"C:\\PROGRAM FILES\\KELVARIS"}},
        {"%SYSTEM%\\KV.DLL", {"C:\\WINDOWS\\SYSWOW64\\KV.DLL"}},
        {"%WINDOWS%\\KV.INI", {"C:\\WINDOWS\\KV.INI"}},
        // A folder in one profile stands for the same folder in every profile.
        {"%GOOGLE_GADGETS%\\KV",
         {"C:\\USERS\\ALICE\\GADGETS\\KV", "C:\\USERS\\BOB\\GADGETS\\KV", "C:\\USERS\\PUBLIC\\GADGETS\\KV",
          "C:\\USERS\\TESTER\\GADGETS\\KV"}},
        {"%ALTSTARTUP%\\KV.LNK", {"%ALTSTARTUP%\\KV.LNK"}},  // no such folder since Windows Vista
    };
    for (const Case& c : cases) {
        engine::TSet out;
        handlers_test::Data d(c.data);
        EXPECT_EQ(nuke.ExpandFileMacro(out, d.get()), 0u) << c.data;
        EXPECT_EQ(handlers_test::Items(out), c.expected) << c.data;
    }
}

TEST_F(MacroHandlers, DataMatchFormReadsTheSystemDirectoryAndHasNoGadgetsFolder) {
    machine.shell.folders[kCsidlSystem] = "C:\\Windows\\SysWOW64";
    machine.files.CreateFile("C:\\Windows\\system32\\Kelvaris\\kv.sys");
    machine.files.CreateFile("C:\\Windows\\SysWOW64\\Kelvaris\\kv.sys");
    machine.registry.SetString("HKEY_CURRENT_USER\\SOFTWARE\\Google\\Google Desktop", "plugin_dir",
                               "C:\\Windows", View::K64);
    EXPECT_EQ(Handle(&CNuke::MatchFileMacroDirectory, "\"%SYSTEM%\\KELV*\",\"KV.SYS\""), 0u);
    EXPECT_EQ(Handle(&CNuke::MatchFileMacroDirectory, "\"%GOOGLE_GADGETS%\\SYSTEM32\\K*\",\"KV.SYS\""), 0u);
    EXPECT_EQ(Listed(), Strings{"C:\\WINDOWS\\SYSTEM32\\KELVARIS"});
}

TEST_F(MacroHandlers, EntryWithoutAKnownMacroIsABadConfiguration) {
    EXPECT_EQ(Handle(&CNuke::ExpandFileMacro, "%USERPROFILE%\\KELVARIS"), kErrorBadConfiguration);
    EXPECT_EQ(Handle(&CNuke::MatchFileMacroDirectory, "\"C:\\KELVARIS\",\"A.EXE\""), kErrorBadConfiguration);
    EXPECT_TRUE(Listed().empty());
}

TEST_F(MacroHandlers, PerUserFolderIsExpandedForEveryProfileBesideTheUsers) {
    EXPECT_EQ(Handle(&CNuke::ExpandFileMacro, "%APPDATA%\\KELVARIS"), 0u);
    EXPECT_EQ(Listed(), (Strings{"C:\\USERS\\ALICE\\APPDATA\\ROAMING\\KELVARIS",
                                 "C:\\USERS\\BOB\\APPDATA\\ROAMING\\KELVARIS",
                                 "C:\\USERS\\PUBLIC\\APPDATA\\ROAMING\\KELVARIS",
                                 "C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS"}));
}

TEST_F(MacroHandlers, DesktopMacroWithPatternReachesEveryProfilesDesktop) {
    // What "--removeall" adds for the product: the desktop entries beginning with its name.
    EXPECT_EQ(Handle(&CNuke::ExpandFileMacro, "%COMMON_DESKTOPDIRECTORY%\\KELVARIS*"), 0u);
    EXPECT_EQ(Listed(),
              (Strings{"C:\\USERS\\ALICE\\DESKTOP\\KELVARIS INTERNET SECURITY.LNK",
                       "C:\\USERS\\BOB\\DESKTOP\\KELVARIS*", "C:\\USERS\\PUBLIC\\DESKTOP\\KELVARIS*",
                       "C:\\USERS\\TESTER\\DESKTOP\\KELVARIS SCAN.LNK"}));
}

TEST_F(MacroHandlers, PerUserRuleFollowsTheCurrentUserAndItsProfilesFolder) {
    machine.shell.userName = "Alice";
    machine.shell.profilesRoot = "D:\\Profiles";
    machine.files.AddDrive('D');
    machine.files.CreateDirectories("D:\\Profiles\\Alice");
    machine.files.CreateDirectories("D:\\Profiles\\Carol");
    EXPECT_EQ(Handle(&CNuke::ExpandFileMacro, "%PERSONAL%\\KV"), 0u);
    EXPECT_EQ(Listed(),
              (Strings{"D:\\PROFILES\\ALICE\\DOCUMENTS\\KV", "D:\\PROFILES\\CAROL\\DOCUMENTS\\KV"}));
}

TEST_F(MacroHandlers, UserNameInsideAnotherComponentDoesNotMisplaceTheProfiles) {
    // "S" first occurs inside "USERS"; only the profile component is the user's.
    machine.shell.userName = "s";
    machine.files.CreateDirectories("C:\\Users\\s");
    EXPECT_EQ(Handle(&CNuke::ExpandFileMacro, "%APPDATA%\\KELVARIS"), 0u);
    Strings listed = Listed();
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(listed[4], "C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS");
    EXPECT_EQ(listed[3], "C:\\USERS\\S\\APPDATA\\ROAMING\\KELVARIS");
}

TEST_F(MacroHandlers, WithoutAUserNameOrAListingOnlyTheCurrentUsersFolderIsListed) {
    machine.faults.Fail("GetUserNameA", 5);
    EXPECT_EQ(Handle(&CNuke::ExpandFileMacro, "%APPDATA%\\KELVARIS"), 0u);
    EXPECT_EQ(Listed(), Strings{"C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS"});

    engine::TSet other;
    machine.faults.Fail("FindFirstFileW", 5);
    handlers_test::Data d("%APPDATA%\\KELVARIS");
    EXPECT_EQ(nuke.ExpandFileMacro(other, d.get()), 0u);
    EXPECT_EQ(handlers_test::Items(other), Strings{"C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS"});
}

TEST_F(MacroHandlers, MalformedDataMatchEntryFailsUnderThePerUserRuleToo) {
    EXPECT_EQ(Handle(&CNuke::MatchFileMacroDirectory, "%APPDATA%\\KELVARIS"), kErrorInvalidData);
    EXPECT_TRUE(Listed().empty());
}

TEST(FileHandlerBounds, TextsThatWouldNotFitThePathBufferAreNotListed) {
    HandlerTest t;
    const std::string deep = "C:\\" + std::string(240, 'D');
    t.machine.files.CreateFile(deep + "\\short.txt");
    t.machine.files.CreateFile(deep + "\\" + std::string(30, 'L') + ".txt");
    EXPECT_EQ(t.Handle(&CNuke::ExpandFileName, deep + "\\*"), 0u);
    EXPECT_EQ(t.Listed(), Strings{deep + "\\SHORT.TXT"});

    // A macro folder joined with a long tail.
    HandlerTest m;
    EXPECT_EQ(m.Handle(&CNuke::ExpandFileMacro, "%COMMON_APPDATA%\\" + std::string(250, 'X')), 0u);
    EXPECT_TRUE(m.Listed().empty());
    m.machine.shell.folders[kCsidlCommonAppData] = "C:\\" + std::string(300, 'F');
    EXPECT_EQ(m.Handle(&CNuke::ExpandFileMacro, "%COMMON_APPDATA%\\X"), 0u);
    EXPECT_TRUE(m.Listed().empty());
}

TEST(FolderMacroTable, FirstMacroInTableOrderWins) {
    EXPECT_EQ(expand::kFolderMacroCount, 21u);
    EXPECT_STREQ(expand::FindFolderMacro("%PROGRAM_FILES_64%\\X")->name, "%PROGRAM_FILES_64%");
    EXPECT_STREQ(expand::FindFolderMacro("%PROGRAMS%\\%APPDATA%")->name, "%APPDATA%");
    EXPECT_STREQ(expand::FindFolderMacro("X\\%COMMON_STARTUP%")->name, "%COMMON_STARTUP%");
    EXPECT_EQ(expand::FindFolderMacro("%PROGRAMFILES%\\X"), nullptr);
}

}  // namespace
