// The working lists: keys expanded into their subtrees (64-bit view), directories into
// their contents, what does not exist dropped, and the ignore subtraction, including what
// keeps an ignored object whole.
#include <map>
#include <string>
#include <vector>

#include "expand/lists_fixture.h"

namespace {

using lists_test::Items;
using lists_test::ListsFixture;
using platform::sim::View;
using Strings = std::vector<std::string>;

constexpr char kHklmKelvaris[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris";

class WorkingListsTest : public ListsFixture {
  protected:
    void SetUp() override {
        ListsFixture::SetUp();
        OpenLog();
    }
    static std::vector<uint8_t> Sz(const std::string& s) {
        std::vector<uint8_t> data(s.begin(), s.end());
        data.push_back(0);
        return data;
    }
};

TEST_F(WorkingListsTest, KeyTreeListsTheSubtreeAndValuesOfTheSixtyFourBitView) {
    m.registry.Set(kHklmKelvaris, "Version", platform::kRegSz, Sz("1.0"), View::K64);
    m.registry.Set(kHklmKelvaris, "", platform::kRegSz, Sz("default"), View::K64);
    m.registry.Set(kHklmKelvaris, "Path\\With\\Slashes", platform::kRegDword, {1, 0, 0, 0}, View::K64);
    m.registry.Set(std::string(kHklmKelvaris) + "\\Sub", "x", platform::kRegSz, Sz("y"), View::K64);
    m.registry.CreatePath(std::string(kHklmKelvaris) + "\\Sub\\Deeper", View::K64);
    // The same name in the 32-bit view is another key, not walked.
    m.registry.Set(kHklmKelvaris, "Only32", platform::kRegSz, Sz("z"), View::K32);

    EXPECT_EQ(0u, nuke.AddRegKeyTree("hkey_local_machine\\software\\kelvaris\\"));
    EXPECT_EQ(
        (Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB",
                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB\\DEEPER"}),
        Items(nuke.regKeyList));
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\",
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\PATH---WITH---SLASHES",
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB\\X",
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\VERSION"}),
              Items(nuke.regValueList));
    EXPECT_EQ(0, m.registry.OpenHandles());
}

TEST_F(WorkingListsTest, KeyTreeListsNothingForKeysItCannotReachOrMustNotTake) {
    m.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\OnlyIn32", View::K32);
    m.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kv", View::K64);
    struct Case {
        const char* text;
        uint32_t code;
    };
    const Case cases[] = {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\OnlyIn32", platform::kErrorFileNotFound},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing", platform::kErrorFileNotFound},
        // A bare root, or a text without one, would hand a whole hive to the key deletion.
        {"HKEY_LOCAL_MACHINE", platform::kErrorInvalidData},
        {"HKEY_LOCAL_MACHINE\\", platform::kErrorInvalidData},
        {"SOFTWARE\\Kelvaris", platform::kErrorInvalidData},
        {"", platform::kErrorInvalidData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.code, nuke.AddRegKeyTree(c.text));
    }
    EXPECT_TRUE(nuke.regKeyList.IsEmpty());
    const std::string wow = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\ONLYIN32";
    EXPECT_EQ(
        1, Logged(".W: CNuke::AddRegKeyTree: AddRegKeyTree: 'HKEY_LOCAL_MACHINE\\SOFTWARE\\ONLYIN32' exists "
                  "only in the 32-bit view, not listed; '" +
                  wow + "' would reach it"));
    EXPECT_EQ(nuke.kept.back().reason, "only in the 32-bit view; " + wow + " would reach it");
    // In both views it is listed and not told; on 32-bit Windows a WOW6432Node key is any key.
    m.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\OnlyIn32", View::K64);
    EXPECT_EQ(0u, nuke.AddRegKeyTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\OnlyIn32"));
    m.system.is64BitWindows = false;
    engine::CNuke on32(m.platform());
    EXPECT_EQ(platform::kErrorFileNotFound, on32.AddRegKeyTree("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kv"));
    EXPECT_EQ(1, Logged("only in the 32-bit view"));
    EXPECT_TRUE(nuke.regValueList.IsEmpty());
    EXPECT_EQ(0, m.registry.OpenHandles());
}

TEST_F(WorkingListsTest, OverlongNamesAreSkippedWithARecordAndTheRestIsListed) {
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\K";
    m.registry.CreatePath(key + "\\" + std::string(240, 'A'), View::K64);
    m.registry.CreatePath(key + "\\B", View::K64);
    m.registry.Set(key, std::string(240, 'C'), platform::kRegSz, Sz("1"), View::K64);
    m.registry.Set(key, "D", platform::kRegSz, Sz("1"), View::K64);

    EXPECT_EQ(0u, nuke.AddRegKeyTree(key.c_str()));
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\K", "HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\B"}),
              Items(nuke.regKeyList));
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\D"}), Items(nuke.regValueList));
    // Objects that stay although a listed key holds them: errors, named whole.
    EXPECT_EQ(1, Logged("*E: CNuke::AddRegKeyTree: Registry key '" + key + "\\" + std::string(240, 'A') +
                        "' is longer than 260 bytes as a listed object: not removed"));
    EXPECT_EQ(
        1, Logged("*E: CNuke::AddRegKeyTree: Registry value '" + key + "\\" + std::string(240, 'C') + "'"));
    EXPECT_EQ(2u, nuke.counts.keysFailed + nuke.counts.valuesFailed);

    std::string tooLong = key + "\\" + std::string(240, 'E');
    EXPECT_EQ(platform::kErrorFilenameExcedRange, nuke.AddRegKeyTree(tooLong.c_str()));
}

TEST_F(WorkingListsTest, IgnoredKeyThatDeniesAccessIsNeitherForcedOpenNorLostFromTheSubtraction) {
    const std::string keep = std::string(kHklmKelvaris) + "\\Keep";
    m.registry.CreatePath(keep + "\\Inner", View::K64);
    m.registry.CreatePath(std::string(kHklmKelvaris) + "\\Other", View::K64);
    m.registry.SecurityOf(keep, View::K64)->deniedAccess = platform::kDelete;
    const std::string sddlBefore = m.registry.SecurityOf(keep, View::K64)->sddl;
    ASSERT_EQ(0u, nuke.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
    ASSERT_EQ(0u, nuke.ignoreRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP"));

    EXPECT_EQ(0u, nuke.PopulateRemoveRegList());
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\OTHER"}), Items(nuke.regKeyList));
    EXPECT_EQ(platform::kDelete, m.registry.SecurityOf(keep, View::K64)->deniedAccess);
    EXPECT_EQ(sddlBefore, m.registry.SecurityOf(keep, View::K64)->sddl);
}

TEST_F(WorkingListsTest, FileTreeListsEverythingBelowADirectoryInUpperCase) {
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\a.dll");
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\Bin\\b.exe");
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\ro.txt", "", platform::kFileAttributeReadonly);
    m.files.CreateDirectories("C:\\Program Files\\Kelvaris\\Empty");

    EXPECT_EQ(0u, nuke.AddFileTree("\"c:/program files//kelvaris/\""));
    EXPECT_EQ((Strings{"C:\\PROGRAM FILES\\KELVARIS", "C:\\PROGRAM FILES\\KELVARIS\\A.DLL",
                       "C:\\PROGRAM FILES\\KELVARIS\\BIN", "C:\\PROGRAM FILES\\KELVARIS\\BIN\\B.EXE",
                       "C:\\PROGRAM FILES\\KELVARIS\\EMPTY", "C:\\PROGRAM FILES\\KELVARIS\\RO.TXT"}),
              Items(nuke.fileList));
    EXPECT_EQ(0, m.files.OpenFindHandles());
    EXPECT_TRUE(m.files.PendingDeletes().empty());
}

TEST_F(WorkingListsTest, FileTreeDropsWhatDoesNotExistAndRefusesPathsBeyondAFolder) {
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\a.dll");
    m.files.CreateFile("C:\\Windows\\system32\\kernel32.dll");
    struct Case {
        const char* path;
        bool refused;
    };
    const Case cases[] = {
        {"C:\\PROGRAM FILES\\KELVARIS\\*.TMP", false},  // a pattern that matched nothing, as listed
        {"C:\\PROGRAM FILES\\MISSING", false},
        {"C:\\", true},
        {"C:", true},
        {"C:\\PROGRAM FILES\\KELVARIS\\..\\..\\WINDOWS", true},
        {"C:\\PROGRAM FILES\\.\\KELVARIS", true},
        {"KELVARIS", true},
        {"\\WINDOWS", true},
        {"", true},
        // A stream is another name of what it belongs to: here the folder that holds system32.
        {"C:\\PROGRAM FILES\\KELVARIS\\A.DLL:X", false},
        {"C:\\WINDOWS::$INDEX_ALLOCATION\\SYSTEM32", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        uint32_t code = nuke.AddFileTree(c.path);
        EXPECT_NE(0u, code);
        EXPECT_EQ(c.refused, code == platform::kErrorInvalidParameter);
    }
    EXPECT_TRUE(nuke.fileList.IsEmpty());
    EXPECT_EQ(7, Logged("is not a full path below a drive's root, not listed"));
    EXPECT_EQ(2, Logged("names a stream, not listed"));

    // An 8.3 name is listed, checked and removed in its long form.
    m.files.SetShortName("C:\\Program Files", "PROGRA~1");
    m.files.SetShortName("C:\\Program Files\\Kelvaris", "KELVAR~1");
    EXPECT_EQ(0u, nuke.AddFileTree("C:\\PROGRA~1\\KELVAR~1\\A.DLL"));
    EXPECT_TRUE(nuke.fileList.Contains("C:\\PROGRAM FILES\\KELVARIS\\A.DLL"));
}

TEST_F(WorkingListsTest, FileTreeSkipsChildrenTooLongForAPath) {
    std::string dir = "C:\\" + std::string(120, 'D') + "\\" + std::string(120, 'E');
    m.files.CreateFile(dir + "\\" + std::string(20, 'F'));
    m.files.CreateFile(dir + "\\short");
    EXPECT_EQ(0u, nuke.AddFileTree(dir.c_str()));
    EXPECT_EQ(2u, nuke.fileList.Count());
    EXPECT_TRUE(nuke.fileList.Contains((dir + "\\SHORT").c_str()));
    EXPECT_EQ(1, Logged("*E: CNuke::AddFileTree: AddFileTree: '" + dir + "\\" + std::string(20, 'F') +
                        "' is longer than 259 bytes as a path: not removed"));
    EXPECT_EQ(1u, nuke.counts.filesFailed);
}

TEST_F(WorkingListsTest, ExcludeIgnoreListMatchesAnywhereInTheTextWhateverTheCase) {
    struct Case {
        Strings objects;
        Strings ignore;
        Strings kept;
    };
    const Case cases[] = {
        {{"C:\\PROGRAM FILES\\KELVARIS\\COMMON\\X.DLL", "C:\\PROGRAM FILES\\KELVARIS\\COMMONFILES",
          "C:\\PROGRAM FILES\\KELVARIS\\BIN"},
         {"C:\\PROGRAM FILES\\KELVARIS\\COMMON"},
         {"C:\\PROGRAM FILES\\KELVARIS\\BIN"}},
        // The service control manager spells names as they were created.
        {{"kvsvc", "kvkeep", "KvFilter"}, {"KVKEEP", "FILTER"}, {"kvsvc"}},
        {{"A", "B"}, {}, {"A", "B"}},
        // An empty ignore entry is held by every text; it names nothing and keeps nothing.
        {{"C:\\KV\\A", "kvsvc"}, {""}, {"C:\\KV\\A", "kvsvc"}},
        {{"C:\\KV\\A", "C:\\KV\\B"}, {"", "\\B"}, {"C:\\KV\\A"}},
    };
    for (const Case& c : cases) {
        engine::TSet list, ignore, excluded;
        for (const auto& s : c.objects) ASSERT_EQ(0u, list.Insert(s.c_str()));
        for (const auto& s : c.ignore) ASSERT_EQ(0u, ignore.Insert(s.c_str()));
        EXPECT_EQ(0u, nuke.ExcludeIgnoreList(list, ignore, &excluded));
        EXPECT_EQ(c.kept, Items(list));
        EXPECT_EQ(c.objects.size() - c.kept.size(), excluded.Count());
    }
    EXPECT_EQ(1, Logged("CNuke::ExcludeIgnoreList: ExcludeIgnoreList: object 'kvkeep' excluded"));
    EXPECT_EQ(1, Logged("ExcludeIgnoreList: object 'C:\\PROGRAM FILES\\KELVARIS\\COMMONFILES' excluded"));
    EXPECT_EQ(2,
              Logged(".W: CNuke::ExcludeIgnoreList: ExcludeIgnoreList: an empty ignore entry names nothing"));
}

TEST_F(WorkingListsTest, IgnoredRegistryObjectsStayWhole) {
    const std::string root = std::string(kHklmKelvaris);
    m.registry.Set(root, "TopValue", platform::kRegSz, Sz("1"), View::K64);
    m.registry.Set(root + "\\Keep", "KeptValue", platform::kRegSz, Sz("1"), View::K64);
    m.registry.CreatePath(root + "\\Keep\\Inner", View::K64);
    m.registry.Set(root + "\\Other", "Gone", platform::kRegSz, Sz("1"), View::K64);
    m.registry.Set(root + "\\Other", "Stays", platform::kRegSz, Sz("1"), View::K64);
    m.registry.CreatePath(root + "\\Other\\Child", View::K64);
    m.registry.CreatePath(root + "\\Plain", View::K64);
    ASSERT_EQ(0u, nuke.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
    ASSERT_EQ(0u, nuke.removeRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\V"));
    ASSERT_EQ(0u, nuke.removeRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP\\CONFIGURED"));
    ASSERT_EQ(0u, nuke.ignoreRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP"));
    ASSERT_EQ(0u, nuke.ignoreRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\OTHER\\STAYS"));

    EXPECT_EQ(0u, nuke.PopulateRemoveRegList());
    // The key that holds Keep, and the one that holds the value Stays, are not taken whole;
    // what nothing ignores is still listed one by one.
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\OTHER\\CHILD",
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\PLAIN"}),
              Items(nuke.regKeyList));
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\OTHER\\GONE",
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\TOPVALUE",
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\V"}),
              Items(nuke.regValueList));
    EXPECT_EQ(1, Logged("ExcludeIgnoreList: object 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS' excluded"));
    EXPECT_EQ(1,
              Logged("ExcludeIgnoreList: object 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\OTHER' excluded"));
    EXPECT_EQ(
        1,
        Logged(
            "ExcludeIgnoreList: object 'HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP\\KEPTVALUE' excluded"));
}

TEST_F(WorkingListsTest, IgnoredKeyOnlyInTheThirtyTwoBitViewKeepsItsListedParent) {
    // The parent exists in both views; the walk lists it from the 64-bit view, but the
    // deletion tries the default view first, where the ignored key lives.
    const std::string root = std::string(kHklmKelvaris);
    m.registry.CreatePath(root + "\\Sub", View::K64);
    m.registry.CreatePath(root, View::K32);
    m.registry.Set(root + "\\Keep32", "v", platform::kRegSz, Sz("1"), View::K32);
    m.registry.Set(root + "\\Sub32", "w", platform::kRegSz, Sz("1"), View::K32);
    ASSERT_EQ(0u, nuke.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
    ASSERT_EQ(0u, nuke.ignoreRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KEEP32"));
    ASSERT_EQ(0u, nuke.ignoreRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB32\\W"));

    EXPECT_EQ(0u, nuke.PopulateRemoveRegList());
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB"}), Items(nuke.regKeyList));
    EXPECT_EQ(0u, nuke.CleanupRegKeys());
    EXPECT_TRUE(m.registry.ValueExists(root + "\\Keep32", "v", View::K32));
    EXPECT_TRUE(m.registry.ValueExists(root + "\\Sub32", "w", View::K32));
}

TEST_F(WorkingListsTest, IgnoreEntriesThatExistNowhereDoNotKeepTheirParents) {
    const std::string root = std::string(kHklmKelvaris);
    m.registry.CreatePath(root + "\\Sub", View::K64);
    m.registry.CreatePath(root + "\\Sub", View::K32);
    m.registry.Set(root, "", platform::kRegSz, Sz("d"), View::K32);
    ASSERT_EQ(0u, nuke.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
    ASSERT_EQ(0u, nuke.ignoreRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\NOWHERE"));
    ASSERT_EQ(0u, nuke.ignoreRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB\\NOVALUE"));
    EXPECT_EQ(0u, nuke.PopulateRemoveRegList());
    EXPECT_EQ(
        (Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB"}),
        Items(nuke.regKeyList));

    // The default value of the 32-bit copy, ignored, keeps the key that holds it.
    const char* t = nullptr;
    for (uint32_t r = nuke.regKeyList.First(&t); r == 0;) r = nuke.regKeyList.RemoveCurrent(&t);
    ASSERT_EQ(0u, nuke.ignoreRegValueList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\"));
    EXPECT_EQ(0u, nuke.PopulateRemoveRegList());
    EXPECT_EQ((Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\SUB"}), Items(nuke.regKeyList));
}

TEST_F(WorkingListsTest, IgnoredFilesKeepTheirDirectoriesAndAccessLists) {
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\a.dll");
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\Keep\\settings.ini");
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\Bin\\b.exe");
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\Bin\\user.dat");
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\PROGRAM FILES\\KELVARIS"));
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\PROGRAM FILES\\NOT THERE"));
    ASSERT_EQ(0u, nuke.ignoreFileList.Insert("C:\\PROGRAM FILES\\KELVARIS\\KEEP"));
    ASSERT_EQ(0u, nuke.ignoreFileList.Insert("user.dat"));
    const std::string sddlBefore = m.files.SecurityOf("C:\\Program Files\\Kelvaris\\Keep")->sddl;

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_EQ((Strings{"C:\\PROGRAM FILES\\KELVARIS\\A.DLL", "C:\\PROGRAM FILES\\KELVARIS\\BIN\\B.EXE"}),
              Items(nuke.fileList));
    EXPECT_EQ(sddlBefore, m.files.SecurityOf("C:\\Program Files\\Kelvaris\\Keep")->sddl);
}

// A user made C:\ProgramData\Kelvaris before the run; the configuration (with --removeall,
// so no ignore entry speaks) removes it whole. The log others share, the backups of earlier
// versions beside it and the tool's own folder stay, and so do the folders that hold them.
TEST_F(WorkingListsTest, TheToolsOwnFilesAndTheFoldersHoldingThemAreKeptWhateverIsConfigured) {
    m.files.SecurityOf("C:\\ProgramData\\Kelvaris")->ownerSid = "S-1-5-21-7-7-7-1001";
    m.files.CreateFile("C:\\ProgramData\\Kelvaris\\Backup\\sweeptool-20160101-000000.reg", "old");
    m.files.CreateFile("C:\\ProgramData\\Kelvaris\\product.dat");
    m.files.CreateFile("C:\\Windows\\Logs\\SweepTool\\Backup\\sweeptool-20160102-000000.reg", "saved");
    nuke.removeAll = 1;
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\PROGRAMDATA\\KELVARIS"));
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\WINDOWS\\LOGS\\SWEEPTOOL"));

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_EQ((Strings{"C:\\PROGRAMDATA\\KELVARIS\\PRODUCT.DAT"}), Items(nuke.fileList));
    std::map<std::string, std::string> kept;
    for (const engine::KeptObject& k : nuke.kept) kept[k.object] = k.reason;
    EXPECT_EQ("the tool's own files", kept["C:\\PROGRAMDATA\\KELVARIS\\LOGS\\TOOL\\SWEEPTOOL.LOG"]);
    EXPECT_EQ("the tool's own files", kept["C:\\PROGRAMDATA\\KELVARIS\\BACKUP"]);
    EXPECT_EQ("the tool's own files",
              kept["C:\\WINDOWS\\LOGS\\SWEEPTOOL\\BACKUP\\SWEEPTOOL-20160102-000000.REG"]);
    EXPECT_EQ("holds the tool's own files", kept["C:\\PROGRAMDATA\\KELVARIS"]);
}

TEST_F(WorkingListsTest, ExpandListsLogsEveryStepWithItsCounts) {
    m.registry.Set(kHklmKelvaris, "V", platform::kRegSz, Sz("1"), View::K64);
    m.files.CreateFile("C:\\Data\\Kelvaris\\f.txt");
    ASSERT_EQ(0u, nuke.removeServiceList.Insert("KVSVC"));
    ASSERT_EQ(0u, nuke.removeServiceList.Insert("KVOLD"));
    ASSERT_EQ(0u, nuke.ignoreServiceList.Insert("KVOLD"));
    ASSERT_EQ(0u, nuke.removeRegKeyList.Insert("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS"));
    ASSERT_EQ(0u, nuke.removeMsiUpgradeCodeList.Insert("{11111111-2222-3333-4444-555555555555}"));
    ASSERT_EQ(0u, nuke.removeFileList.Insert("C:\\DATA\\KELVARIS"));
    // Installer packages listed during initialisation meet the same subtraction.
    ASSERT_EQ(0u, nuke.fileList.Insert("C:\\WINDOWS\\INSTALLER\\KEEP.MSI"));
    ASSERT_EQ(0u, nuke.ignoreFileList.Insert("KEEP.MSI"));

    EXPECT_EQ(0u, nuke.ExpandLists());
    const char* const records[] = {
        "CNuke::ExpandLists: PopulateRemoveServiceList was successful with '1' items in the list",
        "CNuke::ExpandLists: PopulateRemoveRegList was successful with '1' keys and '1' values in the lists",
        "CNuke::ExpandLists: PopulateRemoveMsiUpgradeCodeList was successful with '1' items in the list",
        "CNuke::ExpandLists: PopulateRemoveFileList was successful with '2' items in the list",
    };
    int previous = -1;
    for (const char* r : records) {
        int at = LoggedAt(r);
        EXPECT_GT(at, previous) << r;
        previous = at;
    }
}

}  // namespace
