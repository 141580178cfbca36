// Links in the file lists, and whose access lists the expansion and the removal rewrite: a
// standard user can plant a junction in a folder of theirs, or swap a listed folder for
// one, and the elevated run must neither walk, loosen nor delete what it leads to.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/removal_fixture.h"
#include "platform/sim/sim_ansi.h"

namespace removal_testing {
namespace {

using platform::Utf16ToUtf8;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kSystem32[] = "C:\\Windows\\System32";
constexpr char kProduct[] = "C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris";
constexpr char kProductUpper[] = "C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS";
// What the machine's own folders hold: users may read, only the machine's accounts change.
constexpr char kSystemList[] =
    "D:P(A;OICI;0x1200a9;;;S-1-5-32-545)(A;OICI;0x1f01ff;;;S-1-5-32-544)(A;OICI;0x1f01ff;;;S-1-5-18)";
// What a rewrite gives an object that will go.
constexpr char kRemovalList[] = "D:P(A;OICI;0x10000000;;;S-1-5-32-544)(A;OICI;0x10000000;;;S-1-5-18)";

class FileLinksTest : public RemovalTest {
  protected:
    void SetUp() override {
        RemovalTest::SetUp();
        ASSERT_TRUE(m.files.CreateFile(std::string(kSystem32) + "\\kernel32.dll", "k"));
        ASSERT_TRUE(m.files.CreateFile(std::string(kSystem32) + "\\drivers\\disk.sys", "d"));
        m.files.SecurityOf(kSystem32)->sddl = kSystemList;
        ASSERT_TRUE(m.files.CreateFile(std::string(kProduct) + "\\kv.ini", "x"));
    }

    // The effective access list, as a program reads it by name.
    std::string Dacl(const std::string& path) {
        std::string dacl = "unread";
        EXPECT_EQ(0u, m.security.GetNamedSecurityInfoA(path, platform::kSeFileObject,
                                                       platform::kDaclSecurityInformation, nullptr, &dacl))
            << path;
        return dacl;
    }

    std::vector<std::string> Listed() {
        std::vector<std::string> out;
        const char* s = nullptr;
        for (uint32_t r = nuke.fileList.First(&s); r == 0; r = nuke.fileList.Next(&s)) out.emplace_back(s);
        return out;
    }

    int Count(int level, const std::string& message) {
        int n = 0;
        for (const Record& r : Records())
            if (r.level == level && r.message == message) ++n;
        return n;
    }
};

TEST_F(FileLinksTest, JunctionInAProductFolderLeavesItsTargetAlone) {
    ASSERT_TRUE(m.files.CreateLink(std::string(kProduct) + "\\evil", kSystem32, true));
    ASSERT_TRUE(m.files.CreateLink(std::string(kProduct) + "\\kernel.dll",
                                   std::string(kSystem32) + "\\kernel32.dll", false));
    const std::string systemBefore = Dacl(kSystem32);
    const std::string kernelBefore = Dacl(std::string(kSystem32) + "\\kernel32.dll");
    List(nuke.removeFileList, {kProductUpper});

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_THAT(Listed(), ElementsAre(kProductUpper, std::string(kProductUpper) + "\\KV.INI"));
    EXPECT_EQ(1, Count(3, "CNuke::AddFileTree: '" + std::string(kProductUpper) +
                              "\\EVIL' is a link, not followed"));
    EXPECT_EQ(1, Count(3, "CNuke::AddFileTree: '" + std::string(kProductUpper) +
                              "\\KERNEL.DLL' is a link, not followed"));
    EXPECT_EQ(0u, nuke.CleanupFiles());
    m.files.SimulateRestart();

    EXPECT_EQ(systemBefore, Dacl(kSystem32));
    EXPECT_EQ(kernelBefore, Dacl(std::string(kSystem32) + "\\kernel32.dll"));
    EXPECT_EQ("k", m.files.Contents(std::string(kSystem32) + "\\kernel32.dll"));
    EXPECT_TRUE(m.files.Exists(std::string(kSystem32) + "\\drivers\\disk.sys"));
    EXPECT_FALSE(m.files.Exists(std::string(kProduct) + "\\kv.ini"));
}

TEST_F(FileLinksTest, EntriesThatAreOrPassThroughALinkAreRefusedWhereverTheyComeFrom) {
    ASSERT_TRUE(m.files.CreateLink(std::string(kProduct) + "\\evil", kSystem32, true));
    const std::string evil = std::string(kProductUpper) + "\\EVIL";
    List(nuke.removeFileList, {evil.c_str(), (evil + "\\DRIVERS").c_str()});

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_THAT(Listed(), IsEmpty());
    EXPECT_EQ(2, Count(3, "CNuke::AddFileTree: '" + evil + "' is a link, not followed"));

    // A pattern meets the link through its find data and does not list it.
    engine::TSet found;
    std::string pattern = std::string(kProductUpper) + "\\*";
    EXPECT_EQ(0u, nuke.ExpandFileName(found, &pattern[0]));
    EXPECT_EQ(1u, found.Count());
    EXPECT_TRUE(found.Contains((std::string(kProductUpper) + "\\KV.INI").c_str()));
    EXPECT_EQ(1, Count(3, "CNuke::ExpandFilePattern: '" + evil + "' is a link, not followed"));

    // Nor is its target loosened when it is named directly, or through a junction a user
    // made at the drive's root.
    ASSERT_TRUE(m.files.CreateLink("C:\\KV", kSystem32, true));
    const std::pair<std::string, std::string> named[] = {
        {evil, kSystem32}, {"C:\\KV\\DRIVERS", std::string(kSystem32) + "\\drivers"}};
    for (const auto& [path, target] : named) {
        const std::string before = Dacl(target);
        EXPECT_EQ(0u, nuke.DropFileAcl(path.c_str())) << path;
        EXPECT_EQ(before, Dacl(target)) << path;
        EXPECT_EQ(1, Count(3, "CNuke::DropFileAcl: '" + path + "' is a link, not followed")) << path;
    }
}

TEST_F(FileLinksTest, FolderSwappedForAJunctionAfterExpansionIsNotFollowedByTheRemoval) {
    ASSERT_TRUE(m.files.CreateFile(std::string(kProduct) + "\\sub\\kernel32.dll", "mine"));
    List(nuke.removeFileList, {kProductUpper});
    ASSERT_EQ(0u, nuke.PopulateRemoveFileList());
    const std::string sub = std::string(kProductUpper) + "\\SUB";
    ASSERT_TRUE(nuke.fileList.Contains((sub + "\\KERNEL32.DLL").c_str()));

    // The user empties the folder and puts a junction in its place.
    ASSERT_TRUE(m.files.Remove(std::string(kProduct) + "\\sub\\kernel32.dll"));
    ASSERT_TRUE(m.files.Remove(std::string(kProduct) + "\\sub"));
    ASSERT_TRUE(m.files.CreateLink(std::string(kProduct) + "\\sub", kSystem32, true));
    m.files.SecurityOf(std::string(kSystem32) + "\\kernel32.dll")->deniedAccess = platform::kDeleteAccess;
    const std::string before = Dacl(std::string(kSystem32) + "\\kernel32.dll");

    EXPECT_EQ(0u, nuke.CleanupFiles());
    // The file leaves for the staging folder, and only names inside it are queued; the folder
    // that could not be emptied (the junction stays in it) stays, never moved with what it holds.
    std::vector<std::string> queued = m.files.PendingDeletes();
    ASSERT_EQ(3u, queued.size());
    for (const std::string& p : queued) EXPECT_EQ(0u, p.rfind(queued.back(), 0)) << p;
    EXPECT_TRUE(m.files.Exists(std::string(kProduct) + "\\sub"));
    EXPECT_EQ(1, Count(3, "CNuke::RemovePath: '" + std::string(kProductUpper) +
                              "' still holds what is not removed: kept"));
    EXPECT_EQ(2, Count(3, "CNuke::RemovePath: '" + sub + "' is a link, not followed"));
    EXPECT_EQ(before, Dacl(std::string(kSystem32) + "\\kernel32.dll"));
    m.files.SimulateRestart();
    EXPECT_EQ("k", m.files.Contents(std::string(kSystem32) + "\\kernel32.dll"));
}

TEST_F(FileLinksTest, MoveFileExOnALinkDeletesTheLinkNotItsTarget) {
    ASSERT_TRUE(m.files.CreateLink("C:\\KV\\J", kSystem32, true));
    ASSERT_TRUE(m.files.CreateLink("C:\\KV\\F.DLL", std::string(kSystem32) + "\\kernel32.dll", false));
    EXPECT_TRUE(m.files.MoveFileExA("C:\\KV\\J", nullptr, platform::kMovefileDelayUntilReboot));
    EXPECT_TRUE(m.files.MoveFileExA("C:\\KV\\F.DLL", nullptr, platform::kMovefileDelayUntilReboot));
    m.files.SimulateRestart();
    EXPECT_FALSE(m.files.Exists("C:\\KV\\J"));
    EXPECT_FALSE(m.files.Exists("C:\\KV\\F.DLL"));
    EXPECT_TRUE(m.files.Exists(std::string(kSystem32) + "\\kernel32.dll"));
    EXPECT_TRUE(m.files.Exists(std::string(kSystem32) + "\\drivers"));
}

// The machine's folders are never listed, walked or loosened whole; what lies below them
// goes when it is listed by its own path.
TEST_F(FileLinksTest, ProtectedFoldersAreRefusedOnceWhileWhatIsBelowThemStaysRemovable) {
    ASSERT_TRUE(m.files.CreateFile(std::string(kSystem32) + "\\drivers\\kvfilter.sys", "f"));
    ASSERT_TRUE(m.files.CreateFile("C:\\Apps\\Kelvaris\\kv.exe", "x"));
    const std::string before = Dacl(kSystem32);
    List(nuke.removeFileList,
         {"C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\KVFILTER.SYS", "C:\\APPS"});

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_TRUE(nuke.fileList.Contains("C:\\WINDOWS\\SYSTEM32\\DRIVERS\\KVFILTER.SYS"));
    EXPECT_TRUE(nuke.fileList.Contains("C:\\APPS\\KELVARIS\\KV.EXE"));
    EXPECT_FALSE(nuke.fileList.Contains("C:\\WINDOWS\\SYSTEM32"));
    EXPECT_FALSE(nuke.fileList.Contains("C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL"));
    int refusals = 0;
    for (const Record& r : Records())
        if (r.message.rfind("CNuke::AddFileTree: 'C:\\WINDOWS\\SYSTEM32' is a protected location", 0) == 0) {
            EXPECT_EQ(2, r.level);
            ++refusals;
        }
    EXPECT_EQ(1, refusals);
    EXPECT_EQ(before, Dacl(kSystem32));

    // A pattern that finds a protected folder leaves it out in the same way.
    engine::TSet found;
    std::string pattern = "C:\\WINDOWS\\SYS*";
    EXPECT_EQ(0u, nuke.ExpandFileName(found, &pattern[0]));
    EXPECT_FALSE(found.Contains("C:\\WINDOWS\\SYSTEM32"));
}

// Where the ANSI code page is 1252, "\u03A9mega" lists narrow as the ignored "Omega" and
// "\u62A5\u544A" as "??": each is refused by its real name and nothing below it is walked.
class UnspellableNamesTest : public FileLinksTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(UnspellableNamesTest, AreNeverActedOnByTheirNarrowSpelling) {
    const char* const objects[] = {
        "C:\\Data\\Kelvaris\\\u03A9mega", "C:\\Data\\Kelvaris\\\u62A5\u544A\\a.txt",
        "C:\\Users\\\u0414\u043C\u0438\u0442\u0440\u0438\u0439\\AppData\\Roaming\\Kelvaris\\kv.dat",
        "C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris\\\u03A3.ini"};
    platform::sim::ScopedAnsiCodePage utf8(platform::kCodePageUtf8);  // arranged and read by UTF-8 names
    for (const char* object : objects) ASSERT_TRUE(m.files.CreateFile(object));
    ASSERT_TRUE(m.files.CreateFile("C:\\Data\\Kelvaris\\plain.txt") &&
                m.files.CreateFile("C:\\Data\\Kelvaris\\Omega"));
    List(nuke.removeFileList, {"C:\\DATA\\KELVARIS"});
    List(nuke.ignoreFileList, {"C:\\DATA\\KELVARIS\\OMEGA"});
    platform::sim::SetAnsiCodePage(GetParam());
    std::string entry = "%APPDATA%\\KELVARIS\\*";
    ASSERT_EQ(0u, nuke.ExpandFileMacro(nuke.removeFileList, &entry[0]));
    ASSERT_EQ(0u, nuke.PopulateRemoveFileList());
    ASSERT_EQ(0u, nuke.CleanupFiles());
    m.files.SimulateRestart();
    platform::sim::SetAnsiCodePage(platform::kCodePageUtf8);

    const bool legacy = GetParam() == 1252;
    EXPECT_TRUE(m.files.Exists("C:\\Data\\Kelvaris\\Omega"));
    EXPECT_FALSE(m.files.Exists("C:\\Data\\Kelvaris\\plain.txt"));
    for (const char* object : objects) EXPECT_EQ(legacy, m.files.Exists(object)) << object;
    EXPECT_EQ(legacy ? 4u : 0u, nuke.counts.filesFailed);
    const std::string cannot = "' has a name the ANSI code page 1252 cannot spell: not removed";
    for (const std::string& record :
         {"CNuke::AddFileTree: File 'C:\\DATA\\KELVARIS\\\u03A9mega" + cannot,
          "CNuke::AddFileTree: Folder 'C:\\DATA\\KELVARIS\\\u62A5\u544A" + cannot,
          "CNuke::ExpandFileMacro: Folder 'C:\\USERS\\\u0414\u043C\u0438\u0442\u0440\u0438\u0439" + cannot,
          "CNuke::ExpandFilePattern: File 'C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS\\\u03A3.ini" +
              cannot})
        EXPECT_EQ(legacy ? 1 : 0, Count(2, record)) << record;
}

INSTANTIATE_TEST_SUITE_P(CodePages, UnspellableNamesTest, ::testing::Values(1252u, platform::kCodePageUtf8));

// Only what will go is opened up, and only for the machine's own accounts.
class KeptListsTest : public FileLinksTest {
  protected:
    void SetUp() override {
        FileLinksTest::SetUp();
        const std::string app = "C:\\Program Files\\Kelvaris";
        ASSERT_TRUE(m.files.CreateFile(app + "\\Keep\\settings.ini", "s"));
        ASSERT_TRUE(m.files.CreateFile(app + "\\Keep\\cache.bin", "c"));
        ASSERT_TRUE(m.files.CreateFile(app + "\\Bin\\b.exe", "b"));
        // The product's folder passes its list on; its children add entries of their own.
        m.files.SecurityOf(app)->sddl = kSystemList;
        for (const char* p : {"\\Keep", "\\Keep\\settings.ini", "\\Keep\\cache.bin", "\\Bin", "\\Bin\\b.exe"})
            m.files.SecurityOf(app + p)->sddl = "D:(A;;0x1200a9;;;S-1-5-21-1-2-3-1000)";
        List(nuke.removeFileList, {"C:\\PROGRAM FILES\\KELVARIS"});
        List(nuke.ignoreFileList, {"SETTINGS.INI"});
    }
};

TEST_F(KeptListsTest, AKeptHolderAndItsIgnoredChildKeepTheirListsAndTheRestGetsTheMachinesAccounts) {
    const std::string app = "C:\\Program Files\\Kelvaris";
    std::vector<std::string> kept = {app, app + "\\Keep", app + "\\Keep\\settings.ini"};
    std::vector<std::string> before;
    for (const std::string& k : kept) before.push_back(Dacl(k));
    // Inheritance is what makes a holder's rewrite show on the ignored object.
    EXPECT_EQ(
        "D:(A;;0x1200A9;;;S-1-5-21-1-2-3-1000)(A;ID;0x1200A9;;;S-1-5-32-545)(A;ID;0x1F01FF;;;S-1-5-32-544)"
        "(A;ID;0x1F01FF;;;S-1-5-18)",
        before[2]);

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_THAT(Listed(),
                ElementsAre("C:\\PROGRAM FILES\\KELVARIS\\BIN", "C:\\PROGRAM FILES\\KELVARIS\\BIN\\B.EXE",
                            "C:\\PROGRAM FILES\\KELVARIS\\KEEP\\CACHE.BIN"));
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(before[i], Dacl(kept[i])) << kept[i];
    for (const char* p : {"\\Bin", "\\Bin\\b.exe", "\\Keep\\cache.bin"})
        EXPECT_EQ(kRemovalList, Dacl(app + p)) << p;
}

TEST_F(KeptListsTest, AHolderOpenedOnlyToBeListedIsReportedWhenItTurnsOutKept) {
    const std::string keep = "C:\\Program Files\\Kelvaris\\Keep";
    m.files.SecurityOf(keep)->deniedAccess = platform::kGenericRead;

    EXPECT_EQ(0u, nuke.PopulateRemoveFileList());
    EXPECT_TRUE(nuke.fileList.Contains("C:\\PROGRAM FILES\\KELVARIS\\KEEP\\CACHE.BIN"));
    EXPECT_EQ(1, Count(3,
                       "CNuke::AddFileTree: 'C:\\PROGRAM FILES\\KELVARIS\\KEEP' had its access list "
                       "rewritten to be listed, and is kept"));
    // Its ignored child was not touched.
    EXPECT_EQ("D:(A;;0x1200a9;;;S-1-5-21-1-2-3-1000)", m.files.SecurityOf(keep + "\\settings.ini")->sddl);
}

}  // namespace
}  // namespace removal_testing
