#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "actions/file_staging.h"
#include "actions/removal_fixture.h"
#include "platform/acl_text.h"

namespace removal_testing {
namespace {

using ::testing::ElementsAre;

class FileRemovalTest : public RemovalTest {};

// Files leave their folders for the volume's staging folder, whose names alone are queued;
// the emptied directories go at once; the staging folder is queued last.
TEST_F(FileRemovalTest, FilesAreStagedDirectoriesGoAtOnceAndOnlyStagedNamesAreQueued) {
    m.files.CreateFile("C:\\KV\\A.TXT", "a");
    m.files.CreateFile("C:\\KV\\SUB\\B.TXT", "b", platform::kFileAttributeReadonly);
    ASSERT_TRUE(m.files.SetFileAttributesA("C:\\KV\\SUB", platform::kFileAttributeReadonly));
    List(nuke.fileList, {"C:\\KV", "C:\\KV\\A.TXT", "C:\\KV\\SUB", "C:\\KV\\SUB\\B.TXT"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    EXPECT_FALSE(m.files.Exists("C:\\KV"));
    std::vector<std::string> queued = m.files.PendingDeletes();
    ASSERT_EQ(4u, queued.size());
    const std::string folder = queued[3], batch = folder + "\\B0000001";
    EXPECT_EQ(0u, folder.rfind("C:\\$SweepTool.Staging.", 0)) << folder;
    EXPECT_THAT(queued, ElementsAre(batch + "\\S00000001", batch + "\\S00000002", batch, folder));
    EXPECT_EQ("b", m.files.Contents(queued[0]));
    EXPECT_EQ(0u, m.files.Attributes(queued[0]) & platform::kFileAttributeReadonly);
    for (const std::string& held : {folder, batch}) {
        EXPECT_EQ("S-1-5-32-544", m.files.SecurityOf(held)->ownerSid);
        EXPECT_EQ("D:P(A;OICI;0x1F01FF;;;S-1-5-32-544)(A;OICI;0x1F01FF;;;S-1-5-18)",
                  m.files.SecurityOf(held)->sddl);
    }
    for (const char* path : {"C:\\KV\\SUB\\B.TXT", "C:\\KV\\SUB", "C:\\KV\\A.TXT", "C:\\KV"})
        EXPECT_TRUE(Logged(5, std::string("CNuke::RemovePath: MoveFileEx for '") + path + "' was successful"))
            << path;
    EXPECT_TRUE(Logged(4, "CNuke::RemovePath: Files of this run leave their folders for '" + folder +
                              "' and are deleted from there at restart"));
    EXPECT_TRUE(Logged(5, "CNuke::CleanupFiles: CleanupFiles was successful with '4' deleted values"));
    // A second whole run before the restart finds the folder queued already and leaves it so.
    engine::CNuke second{m.platform()};
    EXPECT_EQ(0u, second.CleanupFiles());
    EXPECT_EQ(queued, m.files.PendingDeletes());
    EXPECT_TRUE(Logged(5, "CNuke::CleanupFiles: Staging folder '" + folder +
                              "' of an earlier run is queued for deletion at restart already"));
    m.files.SimulateRestart();
    EXPECT_FALSE(m.files.Exists(folder));
}

// Past a batch's size the next batch folder is made; each is queued after what it holds, so
// that the restart finds every folder empty in its turn.
TEST_F(FileRemovalTest, ManyFilesGoIntoBatchFoldersEachQueuedAfterItsFiles) {
    const int n = static_cast<int>(actions::FileStaging::kPerBatch) + 3;
    for (int i = 0; i < n; ++i) (void)nuke.fileList.Insert(("C:\\KV\\F" + std::to_string(i)).c_str());
    for (int i = 0; i < n; ++i) m.files.CreateFile("C:\\KV\\F" + std::to_string(i), "x");
    EXPECT_EQ(0u, nuke.CleanupFiles());
    const std::vector<std::string> queued = m.files.PendingDeletes();
    ASSERT_EQ(static_cast<size_t>(n + 3), queued.size());
    EXPECT_EQ(queued[n + 2] + "\\B0000002", queued[n + 1]);
    m.files.SimulateRestart();
    EXPECT_FALSE(m.files.Exists(queued[n + 2]));
}

// A file step cut after its first file leaves its staging folder unqueued. The next run takes
// it up when the tool's folder names it as the very object a run made, even where its access
// list cannot tell (Wine reports every object as the user's); a folder made in its place under
// the same name is left alone.
TEST_F(FileRemovalTest, AStagingFolderACutRunLeftIsTakenUpOnlyAsTheObjectThatRunMade) {
    for (bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "made again by a user" : "as the cut run left it");
        m.files.CreateFile("C:\\KV\\A.TXT", "a");
        m.files.CreateFile("C:\\KV\\B.TXT", "b");
        const std::vector<std::string> there = m.files.List("C:\\");
        // Cut once a new staging folder holds the first file.
        const auto made = [&] {
            for (const std::string& name : m.files.List("C:\\"))
                if (name.rfind("$SweepTool.Staging.", 0) == 0 &&
                    std::count(there.begin(), there.end(), name) == 0)
                    return "C:\\" + name;
            return std::string();
        };
        m.faults.SetHook([&](const std::string&) {
            if (!m.faults.IsCut() && !made().empty() && !m.files.List(made()).empty())
                m.faults.CutAtChange(1);
        });
        engine::CNuke cut{m.platform()};
        List(cut.fileList, {"C:\\KV", "C:\\KV\\A.TXT", "C:\\KV\\B.TXT"});
        (void)cut.CleanupFiles();
        m.faults.SetHook(nullptr);
        m.faults.Restore();
        const std::string left = made();
        ASSERT_FALSE(left.empty());
        if (replaced) {
            for (const std::string& name : m.files.List(left))
                ASSERT_TRUE(m.files.Remove(left + "\\" + name));
            ASSERT_TRUE(m.files.Remove(left));
            ASSERT_TRUE(m.files.CreateDirectories(left));
        }
        m.files.SecurityOf(left)->ownerSid = "S-1-5-21-1-2-3-1001";

        engine::CNuke next{m.platform()};
        List(next.fileList, {"C:\\KV", "C:\\KV\\A.TXT", "C:\\KV\\B.TXT"});
        (void)next.CleanupFiles();
        const std::vector<std::string> queued = m.files.PendingDeletes();
        EXPECT_EQ(!replaced, std::count(queued.begin(), queued.end(), left) == 1);
        EXPECT_EQ(!replaced, Logged(3, "CNuke::CleanupFiles: Staging folder '" + left +
                                           "' left by an ended run: 2 names queued for deletion at restart"));
        EXPECT_EQ(
            replaced,
            Logged(3,
                   "CNuke::CleanupFiles: '" + left +
                       "' is not a staging folder of this tool: a standard user can change it; left alone"));
        EXPECT_FALSE(m.files.Exists("C:\\KV"));
    }
}

// Where a file cannot be staged, its own name is queued only when its whole path is the
// machine's; either way nothing on that volume is staged.
TEST_F(FileRemovalTest, FilesThatCannotBeStagedAreQueuedByNameOnlyOnAMachineOwnedPath) {
    const std::string user = "S-1-5-21-7-7-7-1001";
    struct Row {
        const char* path;
        uint32_t driveType;
        const char* fileSystem;
        bool noFolder;     // the staging folder cannot be made
        bool machinePath;  // else a standard user owns the file's folder
        bool inUse;        // held open without delete sharing, and read-only
        int volumeLevel;   // of the volume's record
        const char* volumeRecord;
    };
    const Row rows[] = {
        {"C:\\NOFOLDER\\A.DLL", platform::kDriveFixed, "NTFS", true, true, false, 2,
         "No staging folder can be made on 'C:' (-2147467259): its files are queued"},
        {"C:\\USERFOLDER\\A.DLL", platform::kDriveFixed, "NTFS", true, false, false, 2,
         "No staging folder can be made on 'C:' (-2147467259): its files are queued"},
        {"D:\\KV\\A.DLL", platform::kDriveFixed, "FAT32", false, true, false, 4,
         "Files on 'D:' are not staged: its file system 'FAT32' keeps no access lists"},
        {"E:\\KV\\A.DLL", platform::kDriveRemovable, "NTFS", false, true, false, 4,
         "Files on 'E:' are not staged: it is a removable drive, not a fixed one"},
        {"F:\\KV\\A.DLL", platform::kDriveFixed, "exFAT", false, false, false, 4,
         "Files on 'F:' are not staged: its file system 'exFAT' keeps no access lists"},
        {"C:\\INUSE\\A.DLL", platform::kDriveFixed, "NTFS", false, true, true, 0, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const std::string path = row.path, folder = path.substr(0, path.rfind('\\'));
        if (path[0] != 'C') m.files.AddDrive(path[0], row.driveType, row.fileSystem);
        m.files.CreateFile(path, "x", row.inUse ? uint32_t{platform::kFileAttributeReadonly} : 0u);
        MachineOnly(path);
        if (!row.machinePath) m.files.SecurityOf(folder)->ownerSid = user;
        platform::FileHandle held = 0;
        if (row.inUse) {
            ASSERT_EQ(0u,
                      m.files.UserOpen(user, path, platform::kGenericRead, platform::kFileShareRead, held));
        }
        if (row.noFolder) m.faults.Fail("CoCreateGuid", 0x80004005u, -1);
        engine::CNuke run{m.platform()};
        List(run.fileList, {path.c_str()});

        EXPECT_EQ(0u, run.CleanupFiles());
        m.faults.ClearAll();

        const std::vector<std::string> queued = m.files.PendingDeletes();
        EXPECT_EQ(row.machinePath, std::count(queued.begin(), queued.end(), path) == 1);
        for (const std::string& name : m.files.List(path.substr(0, 3)))
            EXPECT_NE(0u, name.rfind("$SweepTool.Staging.", 0)) << name;
        const std::vector<Record> records = Records();
        EXPECT_TRUE(row.volumeRecord == nullptr ||
                    std::any_of(records.begin(), records.end(), [&](const Record& r) {
                        return r.level == row.volumeLevel &&
                               r.message.find(std::string("CNuke::RemovePath: ") + row.volumeRecord) == 0;
                    }));
        if (row.inUse)
            EXPECT_TRUE(Logged(3, "CNuke::RemovePath: '" + path +
                                      "' is in use and is queued for deletion at restart by its own name"));
        else if (row.machinePath)
            EXPECT_TRUE(Logged(
                5, "CNuke::RemovePath: '" + path + "' is queued for deletion at restart by its own name"));
        else
            EXPECT_TRUE(Logged(2, "CNuke::RemovePath: '" + path +
                                      (row.noFolder ? "' is kept: its volume has no staging folder"
                                                    : "' is kept: files on its volume are not staged") +
                                      ", and a standard user could change its path"));
    }
    // The log's handle goes with the restart: one for all rows.
    m.files.SimulateRestart();
    for (const Row& row : rows) EXPECT_EQ(!row.machinePath, m.files.Exists(row.path)) << row.path;
}

TEST_F(FileRemovalTest, AccessDeniedPathGetsAnOpenListAndOneRetry) {
    m.files.CreateFile("C:\\KV\\LOCKED.DLL");
    m.files.SecurityOf("C:\\KV\\LOCKED.DLL")->deniedAccess = platform::kDeleteAccess;
    List(nuke.fileList, {"C:\\KV\\LOCKED.DLL"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    ASSERT_EQ(3u, m.files.PendingDeletes().size());
    // Only the machine's own accounts get the object; ordinary users keep nothing on it.
    EXPECT_EQ("D:P(A;OICI;0x10000000;;;S-1-5-32-544)(A;OICI;0x10000000;;;S-1-5-18)",
              m.files.SecurityOf(m.files.PendingDeletes()[0])->sddl);
    EXPECT_THAT(
        Messages(),
        ElementsAre("3 CNuke::RemovePath: MoveFileEx for 'C:\\KV\\LOCKED.DLL' FAILED. Trying again with "
                    "DropFileAcl...",
                    "5 CNuke::RemovePath: DropFileAcl for 'C:\\KV\\LOCKED.DLL' was successful, trying again "
                    "MoveFileEx...",
                    ::testing::StartsWith("4 CNuke::RemovePath: Files of this run leave their folders for"),
                    "5 CNuke::RemovePath: MoveFileEx (2nd try) for 'C:\\KV\\LOCKED.DLL' was successful",
                    ::testing::StartsWith("5 CNuke::CleanupFiles: Staging folder"),
                    ::testing::StartsWith("5 CNuke::CleanupFiles: Staging folder"),
                    "5 CNuke::CleanupFiles: CleanupFiles was successful with '1' deleted values"));
}

TEST_F(FileRemovalTest, ReadOnlyFileBehindALockedListIsStillGoneAfterRestart) {
    m.files.CreateFile("C:\\KV\\LOCKED.SYS", "x", platform::kFileAttributeReadonly);
    platform::sim::SimFileSecurity* s = m.files.SecurityOf("C:\\KV\\LOCKED.SYS");
    s->ownerSid = m.security.userSid;  // its owner may rewrite the list, nothing else
    s->deniedAccess = platform::kGenericAll;
    List(nuke.fileList, {"C:\\KV\\LOCKED.SYS"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    EXPECT_TRUE(Logged(5, "CNuke::RemovePath: MoveFileEx (2nd try) for 'C:\\KV\\LOCKED.SYS' was successful"));
    m.files.SimulateRestart();
    EXPECT_FALSE(m.files.Exists("C:\\KV\\LOCKED.SYS"));
}

TEST_F(FileRemovalTest, FailuresAfterTheAccessChangeAreErrorsAndNeverStopTheWalk) {
    m.files.CreateFile("C:\\KV\\A.DLL");
    m.files.CreateFile("C:\\KV\\B.DLL");
    for (const char* f : {"C:\\KV\\A.DLL", "C:\\KV\\B.DLL"})
        m.files.SecurityOf(f)->deniedAccess = platform::kDeleteAccess;
    // B (walked first): the access change fails, so there is no second try. A: the second try
    // fails too, at the move, and the file stays where it was.
    m.faults.Fail("SetEntriesInAclW", platform::kErrorNotEnoughMemory);
    // The first such call names the staging folder's record in the tool's folder.
    m.faults.Fail("NtSetInformationFile", platform::kErrorAccessDenied, 1, 1);
    List(nuke.fileList, {"C:\\KV\\A.DLL", "C:\\KV\\B.DLL"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    EXPECT_TRUE(m.files.Exists("C:\\KV\\A.DLL"));
    EXPECT_EQ(2u, m.files.PendingDeletes().size());  // the staging and batch folders only
    EXPECT_THAT(
        Messages(),
        ElementsAre("3 CNuke::RemovePath: MoveFileEx for 'C:\\KV\\B.DLL' FAILED. Trying again with "
                    "DropFileAcl...",
                    "3 CNuke::DropFileAcl: DropFileAcl: SetEntriesInAclW failed as 8",
                    "2 CNuke::RemovePath: DropFileAcl for 'C:\\KV\\B.DLL' FAILED",
                    "3 CNuke::RemovePath: MoveFileEx for 'C:\\KV\\A.DLL' FAILED. Trying again with "
                    "DropFileAcl...",
                    "5 CNuke::RemovePath: DropFileAcl for 'C:\\KV\\A.DLL' was successful, trying again "
                    "MoveFileEx...",
                    ::testing::StartsWith("4 CNuke::RemovePath: Files of this run leave their folders for"),
                    "2 CNuke::RemovePath: MoveFileEx (2nd try) for 'C:\\KV\\A.DLL' FAILED",
                    ::testing::StartsWith("5 CNuke::CleanupFiles: Staging folder"),
                    ::testing::StartsWith("5 CNuke::CleanupFiles: Staging folder"),
                    "5 CNuke::CleanupFiles: CleanupFiles was successful with '2' deleted values"));
}

TEST_F(FileRemovalTest, DropFileAclReportsEachFailingStep) {
    m.files.CreateFile("C:\\KV\\A.DLL");
    m.faults.Fail("AllocateAndInitializeSid", platform::kErrorNotEnoughMemory);
    EXPECT_EQ(0u, nuke.DropFileAcl("C:\\KV\\A.DLL"));
    m.faults.Fail("SetEntriesInAclW", platform::kErrorNotEnoughMemory);
    EXPECT_EQ(0u, nuke.DropFileAcl("C:\\KV\\A.DLL"));
    EXPECT_EQ(0u, nuke.DropFileAcl("C:\\KV\\MISSING.DLL"));
    EXPECT_EQ(1u, nuke.DropFileAcl("C:\\KV\\A.DLL"));
    EXPECT_THAT(Messages(), ElementsAre("3 CNuke::DropFileAcl: DropFileAcl: SetEntriesInAclW failed as 8"));
}

TEST_F(FileRemovalTest, OverlongPathIsSkippedAndEmptyListCountsZero) {
    std::string path = "C:\\" + std::string(300, 'X');
    nuke.RemovePath(path.c_str());
    EXPECT_EQ(0, m.faults.Calls("MoveFileExA"));
    EXPECT_TRUE(Logged(3, "CNuke::RemovePath: Path '" + path + "' is too long, skipped"));

    EXPECT_EQ(0u, nuke.CleanupFiles());
    EXPECT_TRUE(Logged(5, "CNuke::CleanupFiles: CleanupFiles was successful with '0' deleted values"));
}

}  // namespace
}  // namespace removal_testing

namespace removal_testing {
namespace {

// A standard user owns the product's folder in its profile and acts on it: at the first
// access-list rewrite of the run it tries to swap the folder for a junction to System32,
// and after the run it does so again before the restart.
TEST_F(FileRemovalTest, AUserSwappingItsFolderForAJunctionReachesNothingOfTheSystem) {
    const std::string bob = "S-1-5-21-7-7-7-1001", folder = "C:\\Users\\Bob\\AppData\\Roaming\\Kelvaris";
    const std::string kernel32 = "C:\\Windows\\System32\\kernel32.dll";
    m.files.CreateFile(kernel32, "k");
    m.files.SecurityOf(kernel32)->deniedAccess = platform::kDeleteAccess;
    m.files.CreateFile(folder + "\\kernel32.dll", "mine");
    m.files.CreateFile(folder + "\\kv.ini", "mine");
    for (const std::string& p : {std::string("C:\\Users\\Bob"), std::string("C:\\Users\\Bob\\AppData"),
                                 std::string("C:\\Users\\Bob\\AppData\\Roaming"), folder,
                                 folder + "\\kernel32.dll", folder + "\\kv.ini"})
        m.files.SecurityOf(p)->ownerSid = bob;
    m.files.SecurityOf(folder + "\\kernel32.dll")->deniedAccess =
        platform::kDeleteAccess;  // forces a rewrite
    auto swap = [&]() {
        if (m.files.UserRename(bob, folder, folder + ".old") != 0) return false;
        return m.files.UserCreateLink(bob, folder, "C:\\Windows\\System32", true) == 0;
    };
    bool swappedDuringRun = true;
    m.faults.SetHook([&](const std::string& call) {
        if (call == "SetKernelObjectSecurity" && swappedDuringRun) swappedDuringRun = swap();
    });
    List(nuke.fileList, {"C:\\USERS\\BOB\\APPDATA\\ROAMING\\KELVARIS\\KERNEL32.DLL"});

    EXPECT_EQ(0u, nuke.CleanupFiles());
    m.faults.SetHook(nullptr);

    EXPECT_FALSE(swappedDuringRun);  // the held folders cannot be renamed
    EXPECT_EQ("", m.files.SecurityOf(kernel32)->sddl);
    EXPECT_EQ(platform::kDeleteAccess, m.files.SecurityOf(kernel32)->deniedAccess);
    EXPECT_TRUE(Logged(5,
                       "CNuke::RemovePath: MoveFileEx (2nd try) for "
                       "'C:\\USERS\\BOB\\APPDATA\\ROAMING\\KELVARIS\\KERNEL32.DLL' was successful"));
    ASSERT_TRUE(swap());
    m.files.SimulateRestart();
    EXPECT_EQ("k", m.files.Contents(kernel32));
    EXPECT_EQ("mine", m.files.Contents(folder + ".old\\kv.ini"));
    EXPECT_FALSE(m.files.Exists(folder + ".old\\kernel32.dll"));
}

// A file of the machine's that a user gave a second name in its own folder keeps its list
// when the run rewrites the folder's: the folder's entries stay the folder's.
TEST_F(FileRemovalTest, AFoldersRewriteLeavesAFileHardLinkedIntoItAsItWas) {
    const std::string bob = "S-1-5-21-7-7-7-1001", folder = "C:\\Users\\Bob\\AppData\\Roaming\\Kelvaris";
    const std::string hosts = "C:\\Windows\\System32\\drivers\\etc\\hosts";
    m.files.CreateFile(hosts, "127.0.0.1");
    m.files.SecurityOf(hosts)->sddl = "D:(A;;0x1F01FF;;;S-1-5-32-544)";
    m.files.CreateDirectories(folder);
    m.files.SecurityOf(folder)->ownerSid = bob;
    m.files.SecurityOf(folder)->sddl = "D:(A;OICI;0x1F01FF;;;" + bob + ")";
    auto dacl = [&] {
        std::string out = "unread";
        EXPECT_EQ(0u, m.security.GetNamedSecurityInfoA(hosts, platform::kSeFileObject,
                                                       platform::kDaclSecurityInformation, nullptr, &out));
        return out;
    };
    const std::string before = dacl();
    ASSERT_EQ(0u, m.files.UserCreateHardLink(bob, folder + "\\hosts", hosts));
    EXPECT_EQ(before, dacl());  // a second name changes no list

    EXPECT_EQ(1u, nuke.DropFileAcl(folder.c_str()));
    EXPECT_EQ(before, dacl());
}

// --- batch folder boundaries ---

// A batch folder takes 256 names; the 257th opens the next, queued after it.
TEST_F(FileRemovalTest, TheTwoHundredFiftySeventhFileOpensTheSecondBatchFolder) {
    for (int i = 0; i < 257; ++i) {
        m.files.CreateFile("C:\\KV\\F" + std::to_string(i), "x");
        (void)nuke.fileList.Insert(("C:\\KV\\F" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(0u, nuke.CleanupFiles());
    const std::vector<std::string> queued = m.files.PendingDeletes();
    ASSERT_EQ(260u, queued.size());
    const auto in = [&](const std::string& batch) {
        return std::count_if(queued.begin(), queued.end(),
                             [&](const std::string& p) { return p.rfind(queued[259] + batch, 0) == 0; });
    };
    EXPECT_EQ(256, in("\\B0000001\\"));
    EXPECT_EQ(1, in("\\B0000002\\"));
    EXPECT_EQ(queued[259] + "\\B0000001", queued[257]);
}

// --- staging folders left behind ---

// Named like a staging folder, a user's, and no record of the tool's names it: not taken up.
TEST_F(FileRemovalTest, ALeftoverStagingFolderNoRecordNamesIsLeftAlone) {
    const std::string left = "C:\\$SweepTool.Staging.0123456789ABCDEF0123456789ABCDEF";
    ASSERT_EQ(0u, m.files.UserCreateDirectory("S-1-5-21-1-2-3-1001", left));
    ASSERT_EQ(0u, m.files.UserCreateFile("S-1-5-21-1-2-3-1001", left + "\\letter.doc", "mine"));
    EXPECT_EQ(0u, nuke.CleanupFiles());
    EXPECT_TRUE(m.files.PendingDeletes().empty());
    EXPECT_TRUE(
        Logged(3, "CNuke::CleanupFiles: '" + left +
                      "' is not a staging folder of this tool: a standard user can change it; left alone"));
}

}  // namespace
}  // namespace removal_testing
