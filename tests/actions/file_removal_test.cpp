#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "actions/removal_fixture.h"
#include "platform/acl_text.h"

namespace removal_testing {
namespace {

using ::testing::ElementsAre;

class FileRemovalTest : public RemovalTest {};

TEST_F(FileRemovalTest, ContentsAreQueuedBeforeTheirDirectoryAndGoneAfterRestart) {
    m.files.CreateFile("C:\\KV\\A.TXT", "a");
    m.files.CreateFile("C:\\KV\\SUB\\B.TXT", "b", platform::kFileAttributeReadonly);
    List(nuke.fileList, {"C:\\KV", "C:\\KV\\A.TXT", "C:\\KV\\SUB", "C:\\KV\\SUB\\B.TXT"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    EXPECT_THAT(m.files.PendingDeletes(),
                ElementsAre("C:\\KV\\SUB\\B.TXT", "C:\\KV\\SUB", "C:\\KV\\A.TXT", "C:\\KV"));
    EXPECT_EQ(0u, m.files.Attributes("C:\\KV\\SUB\\B.TXT") & platform::kFileAttributeReadonly);
    EXPECT_TRUE(Logged(5, "CNuke::RemovePath: MoveFileEx for 'C:\\KV\\SUB\\B.TXT' was successful"));
    EXPECT_TRUE(Logged(5, "CNuke::CleanupFiles: CleanupFiles was successful with '4' deleted values"));
    m.files.SimulateRestart();
    EXPECT_FALSE(m.files.Exists("C:\\KV"));
}

TEST_F(FileRemovalTest, AccessDeniedPathGetsAnOpenListAndOneRetry) {
    m.files.CreateFile("C:\\KV\\LOCKED.DLL");
    m.files.SecurityOf("C:\\KV\\LOCKED.DLL")->deniedAccess = platform::kDeleteAccess;
    List(nuke.fileList, {"C:\\KV\\LOCKED.DLL"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    EXPECT_THAT(m.files.PendingDeletes(), ElementsAre("C:\\KV\\LOCKED.DLL"));
    // Only the machine's own accounts get the object; ordinary users keep nothing on it.
    EXPECT_EQ("D:P(A;OICI;0x10000000;;;S-1-5-32-544)(A;OICI;0x10000000;;;S-1-5-18)",
              m.files.SecurityOf("C:\\KV\\LOCKED.DLL")->sddl);
    EXPECT_THAT(
        Messages(),
        ElementsAre("3 CNuke::RemovePath: MoveFileEx for 'C:\\KV\\LOCKED.DLL' FAILED. Trying again with "
                    "DropFileAcl...",
                    "5 CNuke::RemovePath: DropFileAcl for 'C:\\KV\\LOCKED.DLL' was successful, trying again "
                    "MoveFileEx...",
                    "5 CNuke::RemovePath: MoveFileEx (2nd try) for 'C:\\KV\\LOCKED.DLL' was successful",
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
    // B (walked first): the access change fails, so there is no second request. A: the second request fails
    // too.
    m.faults.Fail("MoveFileExA", platform::kErrorAccessDenied, 3);
    m.faults.Fail("SetSecurityInfo", platform::kErrorInvalidData, 1, 0);
    List(nuke.fileList, {"C:\\KV\\A.DLL", "C:\\KV\\B.DLL"});

    EXPECT_EQ(0u, nuke.CleanupFiles());

    EXPECT_EQ(3, m.faults.Calls("MoveFileExA"));
    EXPECT_TRUE(m.files.PendingDeletes().empty());
    EXPECT_THAT(
        Messages(),
        ElementsAre("3 CNuke::RemovePath: MoveFileEx for 'C:\\KV\\B.DLL' FAILED. Trying again with "
                    "DropFileAcl...",
                    "2 CNuke::RemovePath: DropFileAcl for 'C:\\KV\\B.DLL' FAILED",
                    "3 CNuke::RemovePath: MoveFileEx for 'C:\\KV\\A.DLL' FAILED. Trying again with "
                    "DropFileAcl...",
                    "5 CNuke::RemovePath: DropFileAcl for 'C:\\KV\\A.DLL' was successful, trying again "
                    "MoveFileEx...",
                    "2 CNuke::RemovePath: MoveFileEx (2nd try) for 'C:\\KV\\A.DLL' FAILED",
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
