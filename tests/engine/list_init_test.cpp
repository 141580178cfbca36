// List initialisation: the order and records of the twelve initialisers, the stop rule,
// --removeall, the customised-edition rules and the removal-retry marker.
#include "engine/list_init.h"

#include <string>
#include <vector>

#include "expand/lists_fixture.h"
#include "platform/sim/sim_machine.h"

namespace {

using lists_test::Items;
using lists_test::ListsFixture;
using lists_test::Sections;
using platform::sim::View;

constexpr char kMarkerKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris ClearoutTool";

const char* const kInitialiserOrder[] = {
    "InitIgnoreServiceList", "InitRemoveServiceList",        "InitStopProcessList",
    "InitStartProcessList",  "InitIgnoreRegValueList",       "InitRemoveRegValueList",
    "InitIgnoreRegKeyList",  "InitRemoveRegKeyList",         "InitIgnoreFileList",
    "InitRemoveFileList",    "InitIgnoreMsiUpgradeCodeList", "InitRemoveMsiUpgradeCodeList",
};

class ListInitTest : public ListsFixture {
  protected:
    Sections Full() const {
        Sections s;
        s.msi =
            "remove=GUID,BY_VALUE,{11111111-2222-3333-4444-555555555555}\n"
            "ignore=GUID,BY_VALUE,{66666666-2222-3333-4444-555555555555}\n";
        s.service =
            "remove=SERVICE_NAME,BY_VALUE,kvsvc\nremove=SERVICE_NAME,BY_VALUE,kvfilter\n"
            "ignore=SERVICE_NAME,BY_VALUE,kvkeep\n";
        s.process = "stop=PROCESS_NAME,BY_VALUE,kvtray.exe\n";
        s.regValue = "remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Run\\KvTray\n";
        s.regKey =
            "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\n"
            "ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Shared\n";
        s.file =
            "remove=FILE_NAME,BY_VALUE,C:\\Program Files\\Kelvaris\n"
            "ignore=FILE_NAME,BY_VALUE,C:\\Program Files\\Kelvaris\\Keep\n";
        return s;
    }
};

TEST_F(ListInitTest, RunsTheTwelveInitialisersInOrderAndLogsEachCount) {
    WriteConfig(Full().Text());
    EXPECT_EQ(0u, nuke.InitializeLists(0, 1));

    EXPECT_TRUE(lists_test::LogHasVersionRecord(m, "NO_VERSION"));
    EXPECT_EQ(
        1,
        Logged("CNuke::InitializeLists: InitializeLists: Config file found as 'C:\\Tools\\sweeptool.cfg'"));
    int previous = LoggedAt("Binary version:");
    for (const char* name : kInitialiserOrder) {
        int at = LoggedAt(std::string("CNuke::InitializeLists: ") + name + " was successful with '");
        EXPECT_GT(at, previous) << name;
        previous = at;
    }
    EXPECT_EQ(1, Logged("InitRemoveServiceList was successful with '2' items in the list"));
    EXPECT_EQ(1, Logged("InitStartProcessList was successful with '0' items in the list"));
    EXPECT_EQ(std::vector<std::string>{"{11111111-2222-3333-4444-555555555555}"},
              Items(nuke.removeMsiUpgradeCodeList));
    EXPECT_EQ(std::vector<std::string>{"C:\\PROGRAM FILES\\KELVARIS\\KEEP"}, Items(nuke.ignoreFileList));
    // The removal lists are logged whole as they are read.
    EXPECT_LT(LoggedAt("HKEY_LOCAL_MACHINE\\SOFTWARE\\RUN\\KVTRAY"),
              LoggedAt("InitRemoveRegValueList was successful"));
    EXPECT_EQ(0u, nuke.removeAll);
    EXPECT_EQ(1u, nuke.forceMsi);
}

TEST_F(ListInitTest, VersionRecordShowsTheFileVersionOrNoVersion) {
    struct Case {
        bool hasResource;
        uint32_t ms, ls, flags;
        const char* text;
    };
    const Case cases[] = {
        {true, 0x00010002, 0x00030004, 0, "1.2.3.4"},
        {true, 0x00070000, 0xFFFF0009, platform::kVsFfDebug, "7.0.65535.9 DEBUG"},
        {false, 0, 0, 0, "NO_VERSION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::sim::SimMachine machine;
        lists_test::ScopedLog log(machine);
        // The resource is found whatever the letter case of the module path.
        if (c.hasResource)
            machine.shell.fileVersions["c:\\tools\\SWEEPTOOL.EXE"] = {c.ms, c.ls, 0x3F, c.flags};
        engine::LogVersionBanner(machine.platform());
        EXPECT_STREQ(c.text, engine::VersionText());
        EXPECT_TRUE(lists_test::LogHasVersionRecord(machine, c.text));
    }
    KvQmrLogging::ResetForTests(&m.platform());
}

TEST_F(ListInitTest, MissingConfigurationFileStopsBeforeAnyList) {
    EXPECT_EQ(2u, nuke.InitializeLists(0, 1));
    EXPECT_EQ(1, Logged("CNuke::InitializeLists: InitConfigFile failed and returned error code '0002'"));
    EXPECT_EQ(0, Logged("InitIgnoreServiceList"));
    EXPECT_EQ("C:\\Tools\\sweeptool.cfg", nuke.configPath);
}

TEST_F(ListInitTest, FirstFailingSectionEndsInitialisationWithItsRecord) {
    struct Case {
        const char* what;
        std::string config;
        uint32_t code;
        const char* record;
        const char* notRun;
    };
    Sections noService = Full();
    std::string text = noService.Text();
    text.erase(text.find("[service 1]"), text.find("[process 1]") - text.find("[service 1]"));
    Sections badKey = Full();
    badKey.regKey +=
        "remove=REG_KEY,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\X\n"
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Later\n";
    const Case cases[] = {
        {"missing section", text, 1610,
         "CNuke::InitializeLists: InitIgnoreServiceList reported error message '<error not initialized>' and "
         "returned error code '1610'",
         "InitRemoveServiceList"},
        {"bad line", badKey.Text(), 1610,
         "CNuke::InitializeLists: InitRemoveRegKeyList reported error message "
         "'remove=REG_KEY,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\X' and returned error code '1610'",
         "InitIgnoreFileList"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::sim::SimMachine machine;
        lists_test::ScopedLog log(machine);
        machine.files.CreateFile(lists_test::kConfigPath, c.config);
        engine::CNuke engine(machine.platform());
        EXPECT_EQ(c.code, engine.InitializeLists(0, 1));
        EXPECT_TRUE(lists_test::LogHas(machine, c.record));
        EXPECT_FALSE(lists_test::LogHas(machine, c.notRun));
    }
    KvQmrLogging::ResetForTests(&m.platform());
}

TEST_F(ListInitTest, RemoveAllSkipsTheIgnoreSectionsAndAddsTheProductsInstallation) {
    Sections s = Full();
    // Broken ignore entries everywhere: with --removeall they are never read.
    s.service += "ignore=NOT_A_TYPE,BY_VALUE,x\n";
    s.regValue += "ignore=REG_VALUE_EXPAND,BY_VALUE,x\n";
    s.regKey += "ignore=REG_KEY,BY_REFERENCE,x\n";
    s.file += "ignore=FILE_NAME,NOT_A_KIND,x\n";
    s.msi += "ignore=GUID,BY_DATA_MATCH,x\n";
    WriteConfig(s.Text());
    detector.productName = "Kelvaris Suite";
    detector.rootInstallPath = "C:\\Program Files\\Kelvaris Suite";
    m.files.CreateFile("C:\\Users\\Tester\\Desktop\\Kelvaris Suite.lnk");
    m.files.CreateFile("C:\\Users\\Tester\\Desktop\\Kelvaris Suite Help.lnk");
    m.files.CreateFile("C:\\Users\\Tester\\Desktop\\Other.lnk");

    EXPECT_EQ(0u, nuke.InitializeLists(1, 0));

    for (engine::TSet* ignore : {&nuke.ignoreServiceList, &nuke.ignoreRegValueList, &nuke.ignoreRegKeyList,
                                 &nuke.ignoreFileList, &nuke.ignoreMsiUpgradeCodeList})
        EXPECT_TRUE(ignore->IsEmpty());
    EXPECT_EQ(0, Logged("InitIgnore"));
    EXPECT_TRUE(nuke.removeFileList.Contains("C:\\Program Files\\Kelvaris Suite"));
    EXPECT_TRUE(nuke.removeFileList.Contains(
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Kelvaris Suite"));
    EXPECT_TRUE(nuke.removeFileList.Contains("C:\\USERS\\TESTER\\DESKTOP\\KELVARIS SUITE.LNK"));
    EXPECT_TRUE(nuke.removeFileList.Contains("C:\\USERS\\TESTER\\DESKTOP\\KELVARIS SUITE HELP.LNK"));
    EXPECT_FALSE(nuke.removeFileList.Contains("C:\\USERS\\TESTER\\DESKTOP\\OTHER.LNK"));
    EXPECT_EQ(1, Logged("CNuke::InitRemoveFileList: InitRemoveFileList: removeFileList.Insert(C:\\Program "
                        "Files\\Kelvaris Suite)"));
    EXPECT_EQ(
        1, Logged("InitRemoveFileList: removeFileList.Insert(%COMMON_DESKTOPDIRECTORY%\\Kelvaris Suite*)"));
    EXPECT_EQ(1u, nuke.removeAll);
    EXPECT_EQ(0u, nuke.forceMsi);
}

TEST_F(ListInitTest, RemoveAllWithoutDetectedProductAddsNothingAndSaysWhy) {
    WriteConfig(Full().Text());
    EXPECT_EQ(0u, nuke.InitializeLists(1, 1));
    EXPECT_EQ(std::vector<std::string>{"C:\\PROGRAM FILES\\KELVARIS"}, Items(nuke.removeFileList));
    EXPECT_EQ(1,
              Logged("InitRemoveFileList: --removeall parameter in use, but root installation path empty!!"));
    EXPECT_EQ(1, Logged("InitRemoveFileList: --removeall parameter in use, but product name empty!!"));
}

TEST_F(ListInitTest, ProductNameThatCouldLeaveItsFolderIsNotPutIntoPaths) {
    WriteConfig(Full().Text());
    detector.productName = "..\\..\\Windows";
    EXPECT_EQ(0u, nuke.InitializeLists(1, 1));
    EXPECT_EQ(std::vector<std::string>{"C:\\PROGRAM FILES\\KELVARIS"}, Items(nuke.removeFileList));
    EXPECT_EQ("", nuke.startMenuMask);
    EXPECT_EQ(1, Logged("InitISPCustomizationOverride: '..\\..\\Windows' cannot name a folder."));
    EXPECT_EQ(1, Logged("InitRemoveFileList: product name '..\\..\\Windows' cannot name a folder"));
}

// The customised-edition rules, with the file entries they vary and the marker they leave.
TEST_F(ListInitTest, CustomisedEditionRules) {
    struct Case {
        const char* name;
        uint32_t removeAll;
        const char* mask;
        bool variants;
        bool markerWritten;
        const char* record;
    };
    const Case cases[] = {
        {"Kelvaris Internet Security", 0, "Kelvaris Internet Security", true, false,
         "InitISPCustomizationOverride: product name is not ISP customized. Override is not committed."},
        {"AcmeShield", 0, "", false, true,
         "InitISPCustomizationOverride: 'AcmeShield' override not considered safe enough for start menu item "
         "deletion. Start menu items will be left intact."},
        {"Acme Shield", 0, "Acme Shield", true, false, "customization start menu mask=Acme Shield"},
        {"AcmeShield", 1, "AcmeShield", true, false,
         "InitISPCustomizationOverride: removeall -parameter in use, specific removal for customized content "
         "will "
         "be executed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.removeAll ? " --removeall" : ""));
        platform::sim::SimMachine machine;
        lists_test::ScopedLog log(machine);
        Sections s;
        s.file =
            "remove=FILE_NAME,BY_VALUE,C:\\Data\\Kelvaris\\kelvaris.ini\n"
            "ignore=FILE_NAME,BY_VALUE,C:\\Data\\Kelvaris\\Keep\n";
        machine.files.CreateFile(lists_test::kConfigPath, s.Text());
        detect::CDetector det(machine.platform());
        det.productName = c.name;
        engine::CNuke engine(machine.platform());
        engine.SetDetector(&det);

        EXPECT_EQ(0u, engine.InitializeLists(c.removeAll, 1));
        EXPECT_EQ(c.mask, engine.startMenuMask);
        std::string variant = std::string("C:\\DATA\\") + c.mask + "\\" + c.mask + ".INI";
        EXPECT_EQ(c.variants, engine.removeFileList.Contains(variant.c_str())) << variant;
        EXPECT_TRUE(engine.removeFileList.Contains("C:\\DATA\\KELVARIS\\KELVARIS.INI"));
        if (c.removeAll == 0) {
            std::string keep = std::string("C:\\DATA\\") + c.mask + "\\KEEP";
            EXPECT_EQ(c.variants, engine.ignoreFileList.Contains(keep.c_str())) << keep;
        }
        const platform::sim::SimRegValue* marker = machine.registry.GetValue(kMarkerKey, "ApplicationName");
        EXPECT_EQ(c.markerWritten, marker != nullptr);
        EXPECT_EQ(c.markerWritten ? 1u : 0u, engine.retryMarked);
        if (marker != nullptr) {
            EXPECT_EQ(std::string(c.name) + '\0', std::string(marker->data.begin(), marker->data.end()));
        }

        EXPECT_TRUE(lists_test::LogHas(machine, c.record));
    }
    KvQmrLogging::ResetForTests(&m.platform());
}

TEST_F(ListInitTest, ApplyCustomisationAddsVariantsAndKeepsTheOriginals) {
    OpenLog();
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\KELVARIS\\BIN\\KELVARIS.EXE"));
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\OTHER"));
    std::string deep = "C:\\" + std::string(245, 'D') + "\\KELVARIS";
    ASSERT_EQ(0u, nuke.removeFileList.Insert(deep.c_str()));

    nuke.ApplyISPCustomization(nuke.removeFileList, "Acme Guard Ultimate");
    EXPECT_EQ((std::vector<std::string>{"C:\\Acme Guard Ultimate\\BIN\\Acme Guard Ultimate.EXE", deep,
                                        "C:\\KELVARIS\\BIN\\KELVARIS.EXE", "C:\\OTHER"}),
              Items(nuke.removeFileList));
    EXPECT_EQ(1, Logged("CNuke::ApplyISPCustomization: customised path too long, not listed"));

    nuke.ApplyISPCustomization(nuke.removeFileList, "");
    EXPECT_EQ(4u, nuke.removeFileList.Count());
}

// --- the removal-retry marker ---

class RetryMarkerTest : public ListsFixture {
  protected:
    void SetUp() override {
        ListsFixture::SetUp();
        OpenLog();
    }
};

TEST_F(RetryMarkerTest, MarkWritesTheProductNameAndIsNotReadBackInTheSameRun) {
    detector.productName = "AcmeShield";
    nuke.MarkRegistryForPossibleRemovalRetry();
    const platform::sim::SimRegValue* v = m.registry.GetValue(kMarkerKey, "ApplicationName");
    ASSERT_NE(nullptr, v);
    EXPECT_EQ(platform::kRegSz, v->type);
    EXPECT_EQ(1u, nuke.retryMarked);
    EXPECT_EQ(
        1, Logged("CNuke::MarkRegistryForPossibleRemovalRetry: MarkRegistryForPossibleRemovalRetry: marking "
                  "the registry successful."));

    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(0u, nuke.retryKeyFound);
    EXPECT_EQ(0, m.registry.OpenHandles());
}

TEST_F(RetryMarkerTest, MarkFailuresAreLoggedAndNotCountedAsWritten) {
    nuke.MarkRegistryForPossibleRemovalRetry();
    EXPECT_EQ(1, Logged("MarkRegistryForPossibleRemovalRetry: source empty. Registry NOT marked."));
    EXPECT_FALSE(m.registry.Exists(kMarkerKey));

    detector.productName = "AcmeShield";
    m.faults.Fail("RegCreateKeyExA", platform::kErrorAccessDenied);
    nuke.MarkRegistryForPossibleRemovalRetry();
    EXPECT_EQ(1, Logged("MarkRegistryForPossibleRemovalRetry: marking the registry with base key failed."));

    m.faults.Fail("RegSetValueExA", platform::kErrorAccessDenied);
    nuke.MarkRegistryForPossibleRemovalRetry();
    EXPECT_EQ(1, Logged("MarkRegistryForPossibleRemovalRetry: writing ApplicationName failed 5"));
    EXPECT_EQ(0u, nuke.retryMarked);
    EXPECT_EQ(0, m.registry.OpenHandles());
}

TEST_F(RetryMarkerTest, ReadTakesTheTrimmedNameOnlyWhenTheDetectorHasNone) {
    m.registry.SetString(kMarkerKey, "ApplicationName", " \t Acme Shield  ");
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(1u, nuke.retryKeyFound);
    EXPECT_EQ("Acme Shield", detector.productName);
    EXPECT_EQ(1, Logged("ReadRegistryForRemovalRetry: ApplicationName='Acme Shield'"));

    detector.productName = "Detected Name";
    nuke.retryKeyFound = 0;
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(1u, nuke.retryKeyFound);
    EXPECT_EQ("Detected Name", detector.productName);
    EXPECT_EQ(0, m.registry.OpenHandles());
}

TEST_F(RetryMarkerTest, ReadSurvivesMissingOddAndOverlongValues) {
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(0u, nuke.retryKeyFound);
    EXPECT_EQ(1, Logged("ReadRegistryForRemovalRetry: Kelvaris ClearoutTool key not found"));

    m.registry.CreatePath(kMarkerKey);
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(1u, nuke.retryKeyFound);
    EXPECT_EQ(1, Logged("ReadRegistryForRemovalRetry: ApplicationName not found 2"));
    EXPECT_EQ(1, Logged("ReadRegistryForRemovalRetry: ApplicationName=''"));

    m.registry.SetDword(kMarkerKey, "ApplicationName", 7);
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(1, Logged("ReadRegistryForRemovalRetry: ApplicationName not found 13"));
    EXPECT_EQ("", detector.productName);

    // 260 bytes without a terminator fill the whole buffer.
    m.registry.Set(kMarkerKey, "ApplicationName", platform::kRegSz, std::vector<uint8_t>(260, 'A'));
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(std::string(260, 'A'), detector.productName);

    detector.productName.clear();
    m.registry.SetString(kMarkerKey, "ApplicationName", std::string(300, 'B'));
    nuke.ReadRegistryForRemovalRetry();
    EXPECT_EQ(1, Logged("ReadRegistryForRemovalRetry: ApplicationName not found 234"));
    EXPECT_EQ("", detector.productName);
}

TEST_F(RetryMarkerTest, RemoveAllListsTheMarkerKeyForRemovalEvenInTheDefaultViewOnly) {
    KvQmrLogging::ResetForTests(&m.platform());
    WriteConfig(Sections().Text());
    m.system.is64BitWindows = true;
    m.registry.SetString(kMarkerKey, "ApplicationName", "AcmeShield", View::K32);
    ASSERT_FALSE(m.registry.Exists(kMarkerKey, View::K64));

    EXPECT_EQ(0u, nuke.InitializeLists(1, 1));
    EXPECT_EQ(1u, nuke.retryKeyFound);
    EXPECT_EQ("AcmeShield", detector.productName);
    EXPECT_EQ(std::vector<std::string>{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS CLEAROUTTOOL"},
              Items(nuke.removeRegKeyList));
    EXPECT_EQ(1, Logged("CNuke::InitRemoveRegKeyList: InitRemoveRegKeyList: removeRegKeyList.Insert("
                        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris ClearoutTool)"));

    EXPECT_EQ(0u, nuke.ExpandLists());
    EXPECT_TRUE(nuke.regKeyList.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS CLEAROUTTOOL"));
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_FALSE(m.registry.Exists(kMarkerKey, View::K32));
}

TEST_F(RetryMarkerTest, WithoutRemoveAllAFoundMarkerIsLeftAlone) {
    KvQmrLogging::ResetForTests(&m.platform());
    WriteConfig(Sections().Text());
    m.registry.SetString(kMarkerKey, "ApplicationName", "AcmeShield");
    detector.productName = "Acme Shield";
    EXPECT_EQ(0u, nuke.InitializeLists(0, 1));
    EXPECT_EQ(1u, nuke.retryKeyFound);
    EXPECT_TRUE(nuke.removeRegKeyList.IsEmpty());
    EXPECT_EQ(0u, nuke.ExpandLists());
    EXPECT_TRUE(nuke.regKeyList.IsEmpty());
}

}  // namespace
