// What only the simulated file system can show: access lists that refuse deletion, the
// restart that carries out the queue, faults, and the helpers tests arrange state with.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/sim/sim_machine.h"

using namespace platform;
using platform::sim::SimMachine;
using platform::sim::SimPendingOperation;

namespace {

class SimFileSystemTest : public ::testing::Test {
  protected:
    SimMachine m;
    sim::SimFileSystem& fs = m.files;
    uint32_t LastError() { return m.system.GetLastError(); }
};

TEST_F(SimFileSystemTest, DeniedDeleteHoldsUntilTheAccessListIsRewritten) {
    ASSERT_TRUE(fs.CreateFile("C:\\Program Files\\Kelvaris\\core.dll", "MZ"));
    sim::SimFileSecurity* security = fs.SecurityOf("c:\\program files\\kelvaris\\CORE.DLL");
    ASSERT_NE(nullptr, security);
    security->deniedAccess = kDeleteAccess;

    EXPECT_FALSE(fs.MoveFileExA("C:\\Program Files\\Kelvaris\\core.dll", nullptr, kMovefileDelayUntilReboot));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), LastError());
    EXPECT_FALSE(fs.DeleteFileA("C:\\Program Files\\Kelvaris\\core.dll"));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), LastError());
    EXPECT_TRUE(fs.PendingDeletes().empty());
    // Reading is still allowed: only DELETE is refused.
    std::string bytes;
    EXPECT_EQ(0u, fs.ReadWholeFile("C:\\Program Files\\Kelvaris\\core.dll", bytes));

    security->deniedAccess = 0;
    EXPECT_TRUE(fs.MoveFileExA("C:\\Program Files\\Kelvaris\\core.dll", nullptr, kMovefileDelayUntilReboot));
    EXPECT_EQ(std::vector<std::string>{"C:\\Program Files\\Kelvaris\\core.dll"}, fs.PendingDeletes());

    // kGenericAll refuses everything, listing a directory included.
    fs.SecurityOf("C:\\Program Files\\Kelvaris")->deniedAccess = kGenericAll;
    FindDataA data;
    FindHandle h = 0;
    EXPECT_FALSE(fs.FindFirstFileA("C:\\Program Files\\Kelvaris\\*", data, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), LastError());
    EXPECT_EQ(nullptr, fs.SecurityOf("C:\\Program Files\\absent"));
}

TEST_F(SimFileSystemTest, CreatedObjectsKeepTheirSecurityDescriptor) {
    const char* sddl = "D:(D;OICI;GA;;;AN)(A;OICI;GA;;;WD)";
    ASSERT_TRUE(fs.CreateDirectoryW(u"C:\\Logs", sddl));
    FileHandle h = 0;
    ASSERT_TRUE(
        fs.CreateFileW(u"C:\\Logs\\a.log", kGenericWrite, 0, sddl, kCreateNew, kFileAttributeNormal, h));
    fs.CloseHandle(h);
    ASSERT_TRUE(fs.CreateDirectoryA("C:\\Plain", nullptr));
    EXPECT_EQ(sddl, fs.SecurityOf("C:\\Logs")->sddl);
    EXPECT_EQ(sddl, fs.SecurityOf("C:\\Logs\\a.log")->sddl);
    EXPECT_EQ("", fs.SecurityOf("C:\\Plain")->sddl);
    // Opening an existing file does not change its descriptor.
    ASSERT_TRUE(fs.CreateFileW(u"C:\\Logs\\a.log", kGenericRead, 0, "D:", kOpenAlways, 0, h));
    fs.CloseHandle(h);
    EXPECT_EQ(sddl, fs.SecurityOf("C:\\Logs\\a.log")->sddl);
}

TEST_F(SimFileSystemTest, RestartCarriesOutTheQueueInOrder) {
    ASSERT_TRUE(fs.CreateFile("C:\\K\\a.dll"));
    ASSERT_TRUE(fs.CreateFile("C:\\K\\sub\\b.dll"));
    ASSERT_TRUE(fs.CreateFile("C:\\K\\ro.dll", "", kFileAttributeReadonly));
    ASSERT_TRUE(fs.CreateFile("C:\\Early\\c.dll"));
    ASSERT_TRUE(fs.CreateFile("C:\\Move\\from.txt", "new"));
    ASSERT_TRUE(fs.CreateFile("C:\\Move\\to.txt", "old"));
    FileHandle open = 0;
    ASSERT_TRUE(fs.CreateFileW(u"C:\\K\\a.dll", kGenericRead, kFileShareRead | kFileShareDelete, nullptr,
                               kOpenExisting, 0, open));

    // Contents before their directory, as the removal queues them ...
    for (const char* p : {"C:\\K\\sub\\b.dll", "C:\\K\\sub", "C:\\K\\a.dll", "C:\\K\\ro.dll", "C:\\K"})
        ASSERT_TRUE(fs.MoveFileExA(p, nullptr, kMovefileDelayUntilReboot)) << p;
    // ... while a directory queued ahead of its content is still full when its turn comes.
    ASSERT_TRUE(fs.MoveFileExA("C:\\Early", nullptr, kMovefileDelayUntilReboot));
    ASSERT_TRUE(fs.MoveFileExA("C:\\Early\\c.dll", nullptr, kMovefileDelayUntilReboot));
    ASSERT_TRUE(fs.MoveFileExA("C:\\Move\\from.txt", "C:\\Move\\to.txt",
                               kMovefileDelayUntilReboot | kMovefileReplaceExisting));

    EXPECT_EQ(7u, fs.PendingDeletes().size());
    ASSERT_EQ(8u, fs.PendingOperations().size());
    EXPECT_EQ("C:\\Move\\to.txt", fs.PendingOperations().back().to);
    EXPECT_TRUE(fs.Exists("C:\\K\\a.dll")) << "nothing happens before the restart";

    fs.SimulateRestart();
    EXPECT_EQ(0, fs.OpenHandles());
    EXPECT_TRUE(fs.PendingOperations().empty());
    EXPECT_FALSE(fs.Exists("C:\\K\\sub"));
    EXPECT_FALSE(fs.Exists("C:\\K\\a.dll"));
    EXPECT_TRUE(fs.Exists("C:\\K\\ro.dll")) << "a read-only file survives the restart";
    EXPECT_TRUE(fs.Exists("C:\\K")) << "its directory is therefore not empty";
    EXPECT_TRUE(fs.Exists("C:\\Early"));
    EXPECT_FALSE(fs.Exists("C:\\Early\\c.dll"));
    EXPECT_FALSE(fs.Exists("C:\\Move\\from.txt"));
    EXPECT_EQ("new", fs.Contents("C:\\Move\\to.txt"));
}

TEST_F(SimFileSystemTest, QueuedNamesThatAreGoneByRestartAreSkipped) {
    ASSERT_TRUE(fs.CreateFile("C:\\x.log"));
    ASSERT_TRUE(fs.MoveFileExA("C:\\nodir\\x.log", nullptr, kMovefileDelayUntilReboot));
    ASSERT_TRUE(fs.MoveFileExA("C:\\x.log", nullptr, kMovefileDelayUntilReboot));
    ASSERT_TRUE(fs.MoveFileExA("C:\\x.log", nullptr, kMovefileDelayUntilReboot)) << "queued twice, done once";
    EXPECT_EQ(3u, fs.PendingDeletes().size());
    fs.SimulateRestart();
    EXPECT_FALSE(fs.Exists("C:\\x.log"));
    EXPECT_TRUE(fs.PendingDeletes().empty());
}

TEST_F(SimFileSystemTest, EveryCallCanBeMadeToFail) {
    ASSERT_TRUE(fs.CreateFile("C:\\d\\f.txt", "abc"));
    FileHandle file = 0;
    ASSERT_TRUE(
        fs.CreateFileW(u"C:\\d\\f.txt", kGenericRead | kGenericWrite, 0, nullptr, kOpenExisting, 0, file));
    FindDataA a;
    FindDataW w;
    FindHandle find = 0;
    ASSERT_TRUE(fs.FindFirstFileA("C:\\d\\*", a, find));
    char buffer[4];
    uint32_t n = 0;
    uint64_t pos = 0;
    std::string bytes;
    struct Case {
        const char* call;
        std::function<bool()> run;  // true when the call reported success
    };
    const std::vector<Case> cases = {
        {"CreateFileW",
         [&] {
             FileHandle h = 0;
             bool ok = fs.CreateFileW(u"C:\\d\\g.txt", kGenericWrite, 0, nullptr, kCreateAlways, 0, h);
             if (ok) fs.CloseHandle(h);
             return ok;
         }},
        {"ReadFile", [&] { return fs.ReadFile(file, buffer, 1, n); }},
        {"WriteFile", [&] { return fs.WriteFile(file, "x", 1, n); }},
        {"SetFilePointerEx", [&] { return fs.SetFilePointerEx(file, 0, kFileEnd, pos); }},
        {"GetFileSizeEx", [&] { return fs.GetFileSizeEx(file, pos); }},
        {"GetFileAttributesA", [&] { return fs.GetFileAttributesA("C:\\d") != kInvalidFileAttributes; }},
        {"GetFileAttributesW", [&] { return fs.GetFileAttributesW(u"C:\\d") != kInvalidFileAttributes; }},
        {"SetFileAttributesA", [&] { return fs.SetFileAttributesA("C:\\d\\f.txt", kFileAttributeNormal); }},
        {"DeleteFileA", [&] { return fs.DeleteFileA("C:\\d\\absent"); }},
        {"DeleteFileW", [&] { return fs.DeleteFileW(u"C:\\d\\absent"); }},
        {"MoveFileExA", [&] { return fs.MoveFileExA("C:\\d", nullptr, kMovefileDelayUntilReboot); }},
        {"MoveFileExW", [&] { return fs.MoveFileExW(u"C:\\d", nullptr, kMovefileDelayUntilReboot); }},
        {"CreateDirectoryA", [&] { return fs.CreateDirectoryA("C:\\e", nullptr); }},
        {"CreateDirectoryW", [&] { return fs.CreateDirectoryW(u"C:\\e2", nullptr); }},
        {"RemoveDirectoryA", [&] { return fs.RemoveDirectoryA("C:\\e"); }},
        {"FindFirstFileA",
         [&] {
             FindHandle h = 0;
             bool ok = fs.FindFirstFileA("C:\\d\\*", a, h);
             if (ok) fs.FindClose(h);
             return ok;
         }},
        {"FindNextFileA", [&] { return fs.FindNextFileA(find, a); }},
        {"FindFirstFileW",
         [&] {
             FindHandle h = 0;
             bool ok = fs.FindFirstFileW(u"C:\\d\\*", w, h);
             if (ok) fs.FindClose(h);
             return ok;
         }},
        {"FindNextFileW", [&] { return fs.FindNextFileW(find, w); }},
        {"_access", [&] { return fs.Access("C:\\d\\f.txt", kAccessRead) == 0; }},
        {"CreateFileA", [&] { return fs.ReadWholeFile("C:\\d\\f.txt", bytes) == 0; }},
    };
    m.faults.ResetCounts();
    for (const auto& c : cases) {
        m.faults.Fail(c.call, 1117);
        m.system.SetLastError(0);
        EXPECT_FALSE(c.run()) << c.call;
        if (std::string(c.call) != "_access" && std::string(c.call) != "CreateFileA") {
            EXPECT_EQ(1117u, LastError()) << c.call;
        }
        EXPECT_EQ(1, m.faults.Calls(c.call)) << c.call;
    }
    bytes = "kept";
    m.faults.Fail("CreateFileA", 32);
    EXPECT_EQ(32u, fs.ReadWholeFile("C:\\d\\f.txt", bytes));
    EXPECT_EQ("kept", bytes);
    fs.CloseHandle(file);
    fs.FindClose(find);
    EXPECT_EQ(0, fs.OpenHandles());
    EXPECT_EQ(0, fs.OpenFindHandles());
}

TEST_F(SimFileSystemTest, PathsAreResolvedAsWindowsResolvesThem) {
    ASSERT_TRUE(fs.CreateFile("C:\\Dir\\File.TXT", "x"));
    struct Case {
        const char* path;
        uint32_t attributesOrError;  // attributes when found, else the error
        bool found;
    };
    const Case cases[] = {
        {"c:\\DIR\\file.txt", kFileAttributeArchive, true},
        {"C:/Dir//File.TXT", kFileAttributeArchive, true},
        {"C:\\Other\\..\\Dir\\.\\File.TXT", kFileAttributeArchive, true},
        {"C:\\Dir\\", kFileAttributeDirectory, true},
        {"C:\\", kFileAttributeDirectory, true},
        {"C:\\Dir\\File.TXT\\x", kErrorPathNotFound, false},
        {"C:\\Dir\\none", kErrorFileNotFound, false},
        {"C:\\none\\none", kErrorPathNotFound, false},
        {"Q:\\Dir", kErrorPathNotFound, false},
        {"Dir\\File.TXT", kErrorPathNotFound, false},
        {"", kErrorPathNotFound, false},
    };
    for (const auto& c : cases) {
        m.system.SetLastError(0xdeadbeef);
        uint32_t attributes = fs.GetFileAttributesA(c.path);
        if (c.found) {
            EXPECT_EQ(c.attributesOrError, attributes) << c.path;
        } else {
            EXPECT_EQ(kInvalidFileAttributes, attributes) << c.path;
            EXPECT_EQ(c.attributesOrError, LastError()) << c.path;
        }
    }
    EXPECT_EQ(std::vector<std::string>{"File.TXT"}, fs.List("c:\\dir"));
    fs.AddDrive('d');
    EXPECT_TRUE(fs.CreateDirectoryA("D:\\x", nullptr));
    EXPECT_FALSE(fs.MoveFileExA("D:\\x", "C:\\x", 0));
    EXPECT_EQ(17u, LastError()) << "ERROR_NOT_SAME_DEVICE";
    EXPECT_FALSE(fs.MoveFileExA("C:\\Dir", "C:\\Dir\\Inner", 0)) << "a directory cannot move below itself";
    EXPECT_TRUE(fs.Exists("C:\\Dir\\File.TXT"));
}

TEST_F(SimFileSystemTest, HandlesOfDeletedFilesKeepWorking) {
    FileHandle h = 0;
    ASSERT_TRUE(fs.CreateFileW(u"C:\\shared.log", kGenericRead | kGenericWrite,
                               kFileShareRead | kFileShareWrite | kFileShareDelete, nullptr, kOpenAlways, 0,
                               h));
    ASSERT_TRUE(fs.DeleteFileW(u"C:\\shared.log"));
    EXPECT_FALSE(fs.Exists("C:\\shared.log"));
    uint32_t n = 0;
    EXPECT_TRUE(fs.WriteFile(h, "more", 4, n)) << "the open handle still refers to the file";
    fs.CloseHandle(h);
    EXPECT_EQ(0, fs.OpenHandles());
    EXPECT_FALSE(fs.ReadFile(h, nullptr, 0, n));
    EXPECT_EQ(static_cast<uint32_t>(kErrorInvalidHandle), LastError());
}

}  // namespace

namespace {

// Links as Windows reports them: the link itself to attributes, find data and deletion,
// its target to every name that passes through it.
TEST_F(SimFileSystemTest, JunctionsAndSymbolicLinksLookAndBehaveAsOnWindows) {
    ASSERT_TRUE(fs.CreateFile("C:\\Windows\\System32\\kernel32.dll", "k"));
    ASSERT_TRUE(fs.CreateLink("C:\\Data\\J", "C:\\Windows\\System32", true));
    ASSERT_TRUE(fs.CreateLink("C:\\Data\\F.DLL", "C:\\Windows\\System32\\kernel32.dll", false));
    EXPECT_FALSE(fs.CreateLink("C:\\Data\\J", "C:\\Windows", true));

    EXPECT_EQ(uint32_t{kFileAttributeDirectory | kFileAttributeReparsePoint},
              fs.GetFileAttributesA("C:\\Data\\J"));
    EXPECT_EQ(uint32_t{kFileAttributeArchive | kFileAttributeReparsePoint},
              fs.GetFileAttributesA("C:\\Data\\F.DLL"));
    FindDataA data;
    FindHandle h = 0;
    ASSERT_TRUE(fs.FindFirstFileA("C:\\Data\\J*", data, h));
    fs.FindClose(h);
    EXPECT_EQ("J", data.name);
    EXPECT_EQ(uint32_t{kFileAttributeDirectory | kFileAttributeReparsePoint}, data.attributes);
    // Listing through it reaches the target's contents.
    ASSERT_TRUE(fs.FindFirstFileA("C:\\Data\\J\\k*", data, h));
    fs.FindClose(h);
    EXPECT_EQ("kernel32.dll", data.name);
    EXPECT_EQ("k", fs.Contents("C:\\Data\\J\\kernel32.dll"));

    // A handle opens the target unless told to open the link; a directory needs backup semantics.
    FileHandle file = 0;
    uint32_t attributes = 0;
    EXPECT_FALSE(fs.CreateFileW(u"C:\\Data\\J", kReadControl, 7, nullptr, kOpenExisting, 0, file));
    EXPECT_EQ(uint32_t{kErrorAccessDenied}, LastError());
    ASSERT_TRUE(fs.CreateFileW(u"C:\\Data\\J", kReadControl, 7, nullptr, kOpenExisting,
                               kFileFlagBackupSemantics, file));
    ASSERT_TRUE(fs.GetFileInformationByHandle(file, attributes));
    fs.CloseHandle(file);
    EXPECT_EQ(uint32_t{kFileAttributeDirectory}, attributes);
    ASSERT_TRUE(fs.CreateFileW(u"C:\\Data\\F.DLL", kReadControl, 7, nullptr, kOpenExisting,
                               kFileFlagBackupSemantics | kFileFlagOpenReparsePoint, file));
    ASSERT_TRUE(fs.GetFileInformationByHandle(file, attributes));
    fs.CloseHandle(file);
    EXPECT_NE(0u, attributes & kFileAttributeReparsePoint);
    EXPECT_FALSE(fs.GetFileInformationByHandle(file, attributes));

    // Deleting a link deletes the link.
    EXPECT_TRUE(fs.MoveFileExA("C:\\Data\\J", nullptr, kMovefileDelayUntilReboot));
    EXPECT_TRUE(fs.DeleteFileA("C:\\Data\\F.DLL"));
    fs.SimulateRestart();
    EXPECT_FALSE(fs.Exists("C:\\Data\\J"));
    EXPECT_FALSE(fs.Exists("C:\\Data\\F.DLL"));
    EXPECT_EQ("k", fs.Contents("C:\\Windows\\System32\\kernel32.dll"));

    // A hard link is a second entry of one file: moving one name leaves the other in place.
    ASSERT_EQ(0u,
              fs.UserCreateHardLink("S-1-5-21-1", "C:\\kernel32.dll", "C:\\Windows\\System32\\kernel32.dll"));
    FileHandle root = 0;
    ASSERT_EQ(0u,
              fs.OpenRelative(0, u"C:\\", kReadControl, 7, kOpenExisting, kOpenDirectoryOnly, nullptr, root));
    ASSERT_EQ(0u, fs.OpenRelative(root, u"kernel32.dll", kDeleteAccess, 7, kOpenExisting, kOpenFileOnly,
                                  nullptr, file));
    ASSERT_EQ(0u, fs.RenameByHandle(file, root, u"moved.dll"));
    fs.CloseHandle(file);
    fs.CloseHandle(root);
    EXPECT_EQ(std::vector<std::string>{"kernel32.dll"}, fs.List("C:\\Windows\\System32"));

    // A circle of links ends in an error, not a hang.
    ASSERT_TRUE(fs.CreateLink("C:\\A", "C:\\B", true));
    ASSERT_TRUE(fs.CreateLink("C:\\B", "C:\\A", true));
    EXPECT_EQ(kInvalidFileAttributes, fs.GetFileAttributesA("C:\\A\\x"));
}

TEST_F(SimFileSystemTest, PatternsMatchShortNamesAsWellAsLongOnes) {
    ASSERT_TRUE(fs.CreateFile("C:\\Data\\Report.tmpl"));
    ASSERT_TRUE(fs.SetShortName("C:\\Data\\Report.tmpl", "REPORT~1.TMP"));
    EXPECT_FALSE(fs.SetShortName("C:\\Data\\missing", "MISSING"));
    FindDataA data;
    FindHandle h = 0;
    ASSERT_TRUE(fs.FindFirstFileA("C:\\Data\\*.tmp", data, h));
    fs.FindClose(h);
    EXPECT_EQ("Report.tmpl", data.name);
    EXPECT_FALSE(fs.FindFirstFileA("C:\\Data\\*.tm", data, h));
}

// Entries marked for inheritance show on children that are not protected, and only there.
TEST_F(SimFileSystemTest, InheritableEntriesReachChildrenUnlessTheyAreProtected) {
    ASSERT_TRUE(fs.CreateFile("C:\\P\\Sub\\f.txt"));
    ASSERT_TRUE(fs.CreateFile("C:\\P\\Sealed\\g.txt"));
    ASSERT_TRUE(fs.CreateFile("C:\\P\\Plain\\h.txt"));
    fs.SecurityOf("C:\\P")->sddl =
        "D:P(A;OICI;0x1F01FF;;;S-1-5-18)(A;CI;0x1;;;S-1-5-32-545)(A;OICINP;0x2;;;S-1-1-0)";
    fs.SecurityOf("C:\\P\\Sub")->sddl = "D:(A;;0x1;;;S-1-5-21-1)";
    fs.SecurityOf("C:\\P\\Sub\\f.txt")->sddl = "D:(A;;0x1;;;S-1-5-21-2)";
    fs.SecurityOf("C:\\P\\Sealed")->sddl = "D:P(A;OICI;0x1;;;S-1-5-21-3)";
    fs.SecurityOf("C:\\P\\Sealed\\g.txt")->sddl = "D:(A;;0x1;;;S-1-5-21-4)";
    auto dacl = [&](const char* path) {
        std::string out = "unread";
        EXPECT_EQ(0u, m.security.GetNamedSecurityInfoA(path, kSeFileObject, kDaclSecurityInformation, nullptr,
                                                       &out));
        return out;
    };
    EXPECT_EQ(
        "D:(A;;0x1;;;S-1-5-21-1)(A;OICIID;0x1F01FF;;;S-1-5-18)(A;CIID;0x1;;;S-1-5-32-545)(A;ID;0x2;;;S-1-1-"
        "0)",
        dacl("C:\\P\\Sub"));
    EXPECT_EQ("D:(A;;0x1;;;S-1-5-21-2)(A;ID;0x1F01FF;;;S-1-5-18)", dacl("C:\\P\\Sub\\f.txt"));
    EXPECT_EQ("D:P(A;OICI;0x1;;;S-1-5-21-3)", dacl("C:\\P\\Sealed"));
    EXPECT_EQ("D:(A;;0x1;;;S-1-5-21-4)(A;ID;0x1;;;S-1-5-21-3)", dacl("C:\\P\\Sealed\\g.txt"));
    // An object created with default security has no list here, and inherits none.
    EXPECT_EQ("", dacl("C:\\P\\Plain\\h.txt"));

    // Writing a list back keeps only its own entries; the inherited ones follow the folders.
    ASSERT_EQ(0u,
              m.security.SetNamedSecurityInfoA("C:\\P\\Sub\\f.txt", kSeFileObject, kDaclSecurityInformation,
                                               nullptr, dacl("C:\\P\\Sub\\f.txt").c_str()));
    EXPECT_EQ("D:(A;;0x1;;;S-1-5-21-2)", fs.SecurityOf("C:\\P\\Sub\\f.txt")->sddl);
    fs.SecurityOf("C:\\P")->sddl = "D:P(A;;0x1F01FF;;;S-1-5-18)";
    EXPECT_EQ("D:(A;;0x1;;;S-1-5-21-1)", dacl("C:\\P\\Sub"));
}

}  // namespace
