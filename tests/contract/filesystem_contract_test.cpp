// Files and directories on both backends: handles, sharing, rename, attributes, find
// patterns, directory creation and the restart queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "contract/backend.h"
#include "platform/ansi.h"
#include "platform/platform.h"

using namespace platform;

namespace {

using contract::RemoveTree;

constexpr uint32_t kSentinel = 0xdeadbeef;
constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;

std::u16string W(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

class FileSystemContract : public ::testing::Test {
  protected:
    void SetUp() override {
        root = "C:\\" + backend().UniqueName("SweepFsContract");
        RemoveTree(fs(), root);
        ASSERT_TRUE(fs().CreateDirectoryA(root, nullptr)) << sys().GetLastError();
    }
    void TearDown() override { RemoveTree(fs(), root); }

    contract::Backend& backend() { return contract::GetBackend(); }
    IFileSystem& fs() { return backend().os().fs; }
    ISystem& sys() { return backend().os().sys; }
    std::string P(const std::string& name) const { return root + "\\" + name; }

    // Creates a file with the given bytes and closes it.
    void Put(const std::string& name, const std::string& bytes) {
        FileHandle h = 0;
        ASSERT_TRUE(
            fs().CreateFileW(W(P(name)), kGenericWrite, 0, nullptr, kCreateAlways, kFileAttributeNormal, h))
            << name << ": " << sys().GetLastError();
        UniqueFile file(&fs(), h);
        uint32_t written = kSentinel;
        ASSERT_TRUE(fs().WriteFile(h, bytes.data(), static_cast<uint32_t>(bytes.size()), written));
        ASSERT_EQ(bytes.size(), written);
    }

    std::string Read(const std::string& name) {
        std::string bytes;
        EXPECT_EQ(0u, fs().ReadWholeFile(P(name), bytes)) << name;
        return bytes;
    }

    uint32_t ErrorOfAttributes(const std::string& path) {
        sys().SetLastError(kSentinel);
        EXPECT_EQ(kInvalidFileAttributes, fs().GetFileAttributesA(path)) << path;
        return sys().GetLastError();
    }

    std::string root;
};

TEST_F(FileSystemContract, CreateWriteSeekReadAndDispositions) {
    std::u16string path = W(P("a.log"));
    FileHandle h = 0;
    sys().SetLastError(kSentinel);
    ASSERT_TRUE(fs().CreateFileW(path, kGenericRead | kGenericWrite, kShareAll, nullptr, kOpenAlways,
                                 kFileAttributeNormal, h));
    EXPECT_EQ(0u, sys().GetLastError()) << "a new file leaves no ERROR_ALREADY_EXISTS";
    UniqueFile file(&fs(), h);

    uint32_t written = kSentinel;
    ASSERT_TRUE(fs().WriteFile(h, "hello", 5, written));
    EXPECT_EQ(5u, written);
    uint64_t position = kSentinel;
    ASSERT_TRUE(fs().SetFilePointerEx(h, 0, kFileEnd, position));
    EXPECT_EQ(5u, position);
    ASSERT_TRUE(fs().SetFilePointerEx(h, 1, kFileBegin, position));
    EXPECT_EQ(1u, position);
    char buffer[16] = {};
    uint32_t read = kSentinel;
    ASSERT_TRUE(fs().ReadFile(h, buffer, sizeof(buffer), read));
    EXPECT_EQ(4u, read);
    EXPECT_EQ("ello", std::string(buffer, read));
    ASSERT_TRUE(fs().ReadFile(h, buffer, sizeof(buffer), read));
    EXPECT_EQ(0u, read) << "reading at the end is success with nothing read";
    uint64_t size = kSentinel;
    ASSERT_TRUE(fs().GetFileSizeEx(h, size));
    EXPECT_EQ(5u, size);
    ASSERT_TRUE(fs().SetFilePointerEx(h, 0, kFileEnd, position));
    ASSERT_TRUE(fs().WriteFile(h, "!", 1, written));
    file.reset();
    EXPECT_EQ("hello!", Read("a.log"));

    // Reopening reports that the file was there already.
    sys().SetLastError(kSentinel);
    ASSERT_TRUE(
        fs().CreateFileW(path, kGenericRead, kShareAll, nullptr, kOpenAlways, kFileAttributeNormal, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAlreadyExists), sys().GetLastError());
    fs().CloseHandle(h);

    struct Case {
        const char* name;
        uint32_t disposition;
        uint32_t error;
    };
    const Case refused[] = {
        {"a.log", kCreateNew, kErrorFileExists},
        {"missing.log", kOpenExisting, kErrorFileNotFound},
        {"missing.log", kTruncateExisting, kErrorFileNotFound},
        {"nodir\\x.log", kOpenAlways, kErrorPathNotFound},
        {"nodir\\x.log", kCreateNew, kErrorPathNotFound},
    };
    for (const auto& c : refused) {
        FileHandle out = kSentinel;
        sys().SetLastError(kSentinel);
        EXPECT_FALSE(fs().CreateFileW(W(P(c.name)), kGenericWrite, 0, nullptr, c.disposition, 0, out))
            << c.name;
        EXPECT_EQ(c.error, sys().GetLastError()) << c.name << " disposition " << c.disposition;
        EXPECT_EQ(kSentinel, out) << c.name;
    }
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), ErrorOfAttributes(P("missing.log")));
}

TEST_F(FileSystemContract, ShareModesGuardDeleteAndRename) {
    Put("locked.log", "x");
    Put("shared.log", "y");
    FileHandle h = 0;
    ASSERT_TRUE(fs().CreateFileW(W(P("locked.log")), kGenericRead | kGenericWrite,
                                 kFileShareRead | kFileShareWrite, nullptr, kOpenExisting, 0, h));
    UniqueFile locked(&fs(), h);
    sys().SetLastError(kSentinel);
    EXPECT_FALSE(fs().DeleteFileW(W(P("locked.log"))));
    EXPECT_EQ(static_cast<uint32_t>(kErrorSharingViolation), sys().GetLastError());
    std::u16string target = W(P("moved.log"));
    EXPECT_FALSE(fs().MoveFileExW(W(P("locked.log")), target.c_str(), kMovefileReplaceExisting));
    EXPECT_EQ(static_cast<uint32_t>(kErrorSharingViolation), sys().GetLastError());
    // A second opener that refuses to share writing clashes with the writer already there.
    FileHandle other = kSentinel;
    EXPECT_FALSE(
        fs().CreateFileW(W(P("locked.log")), kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, other));
    EXPECT_EQ(static_cast<uint32_t>(kErrorSharingViolation), sys().GetLastError());
    locked.reset();
    EXPECT_TRUE(fs().DeleteFileW(W(P("locked.log")))) << sys().GetLastError();

    // With FILE_SHARE_DELETE the name can be moved away while the handle stays open, and
    // the handle follows the file.
    ASSERT_TRUE(fs().CreateFileW(W(P("shared.log")), kGenericRead | kGenericWrite, kShareAll, nullptr,
                                 kOpenExisting, 0, h));
    UniqueFile shared(&fs(), h);
    ASSERT_TRUE(fs().MoveFileExW(W(P("shared.log")), target.c_str(), kMovefileReplaceExisting))
        << sys().GetLastError();
    uint64_t position = 0;
    uint32_t written = 0;
    ASSERT_TRUE(fs().SetFilePointerEx(h, 0, kFileEnd, position));
    ASSERT_TRUE(fs().WriteFile(h, "z", 1, written));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), ErrorOfAttributes(P("shared.log")));
    EXPECT_TRUE(fs().DeleteFileW(target)) << sys().GetLastError();
    shared.reset();
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), ErrorOfAttributes(P("moved.log")));
}

TEST_F(FileSystemContract, RenameReplacesOnlyWhenAsked) {
    Put("new.log", "new");
    Put("old.log", "old");
    sys().SetLastError(kSentinel);
    std::string target = P("old.log");
    EXPECT_FALSE(fs().MoveFileExA(P("new.log"), target.c_str(), 0));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAlreadyExists), sys().GetLastError());
    EXPECT_EQ("old", Read("old.log"));

    EXPECT_TRUE(fs().MoveFileExA(P("new.log"), target.c_str(), kMovefileReplaceExisting))
        << sys().GetLastError();
    EXPECT_EQ("new", Read("old.log"));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), ErrorOfAttributes(P("new.log")));

    // A missing source, and a target in a missing directory.
    std::string elsewhere = P("nodir\\x.log");
    EXPECT_FALSE(fs().MoveFileExA(P("new.log"), target.c_str(), kMovefileReplaceExisting));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), sys().GetLastError());
    EXPECT_FALSE(fs().MoveFileExA(P("old.log"), elsewhere.c_str(), 0));
    EXPECT_EQ(static_cast<uint32_t>(kErrorPathNotFound), sys().GetLastError());

    // Names keep the case they were given and are found in any case.
    std::string renamed = P("MiXeD.Log");
    ASSERT_TRUE(fs().MoveFileExA(P("OLD.LOG"), renamed.c_str(), 0)) << sys().GetLastError();
    FindDataA data;
    FindHandle h = 0;
    ASSERT_TRUE(fs().FindFirstFileA(P("mixed.log"), data, h));
    fs().FindClose(h);
    EXPECT_EQ("MiXeD.Log", data.name);
    EXPECT_EQ(3u, data.size);
}

TEST_F(FileSystemContract, ReadOnlyFileRefusesDeleteUntilCleared) {
    Put("ro.txt", "r");
    ASSERT_TRUE(fs().SetFileAttributesA(P("ro.txt"), kFileAttributeReadonly | kFileAttributeHidden));
    uint32_t attributes = fs().GetFileAttributesA(P("ro.txt"));
    EXPECT_EQ(static_cast<uint32_t>(kFileAttributeReadonly | kFileAttributeHidden),
              attributes & (kFileAttributeReadonly | kFileAttributeHidden | kFileAttributeDirectory));
    sys().SetLastError(kSentinel);
    EXPECT_FALSE(fs().DeleteFileA(P("ro.txt")));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), sys().GetLastError());
    EXPECT_EQ(0, fs().Access(P("ro.txt"), kAccessRead));
    EXPECT_EQ(-1, fs().Access(P("ro.txt"), kAccessWrite));

    ASSERT_TRUE(
        fs().SetFileAttributesA(P("ro.txt"), attributes & ~static_cast<uint32_t>(kFileAttributeReadonly)));
    EXPECT_TRUE(fs().DeleteFileA(P("ro.txt"))) << sys().GetLastError();
    EXPECT_EQ(-1, fs().Access(P("ro.txt"), kAccessRead));
    EXPECT_FALSE(fs().SetFileAttributesA(P("ro.txt"), kFileAttributeNormal));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), sys().GetLastError());
}

TEST_F(FileSystemContract, ReadOnlyFileRefusesWriters) {
    CONTRACT_SKIP_ON_WIN32("Wine running as root opens a read-only file for writing; Windows refuses with 5");
    Put("ro.txt", "r");
    ASSERT_TRUE(fs().SetFileAttributesA(P("ro.txt"), kFileAttributeReadonly));
    FileHandle h = kSentinel;
    EXPECT_FALSE(fs().CreateFileW(W(P("ro.txt")), kGenericWrite, kShareAll, nullptr, kOpenExisting, 0, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), sys().GetLastError());
    EXPECT_EQ(kSentinel, h);
    EXPECT_TRUE(fs().CreateFileW(W(P("ro.txt")), kGenericRead, kShareAll, nullptr, kOpenExisting, 0, h));
    fs().CloseHandle(h);
}

// Every name a listing gives, "." and ".." included; the order is the file system's own.
std::multiset<std::string> Listing(IFileSystem& fs, ISystem& sys, const std::string& pattern,
                                   uint32_t& error) {
    std::multiset<std::string> names;
    FindDataA data;
    FindHandle h = kSentinel;
    sys.SetLastError(kSentinel);
    if (!fs.FindFirstFileA(pattern, data, h)) {
        error = sys.GetLastError();
        EXPECT_EQ(kSentinel, h) << pattern;
        return names;
    }
    UniqueFind listing(&fs, h);
    do names.insert(data.name);
    while (fs.FindNextFileA(h, data));
    error = sys.GetLastError();
    return names;
}

TEST_F(FileSystemContract, FindPatterns) {
    for (const char* name : {"ABC.TXT", "AXC.TXT", "AC.TXT", "one.log", "TWO.LOG", "noext"})
        Put(name, "12345");
    ASSERT_TRUE(fs().CreateDirectoryA(P("sub"), nullptr));

    using Names = std::multiset<std::string>;
    const Names all{".", "..", "ABC.TXT", "AXC.TXT", "AC.TXT", "one.log", "TWO.LOG", "noext", "sub"};
    struct Case {
        const char* pattern;
        Names names;
        uint32_t error;  // after the last entry, or of FindFirstFile when nothing is listed
    };
    const Case cases[] = {
        {"*", all, kErrorNoMoreFiles},
        {"*.*", all, kErrorNoMoreFiles},
        {"*.LOG", {"one.log", "TWO.LOG"}, kErrorNoMoreFiles},
        {"A?C.TXT", {"ABC.TXT", "AXC.TXT"}, kErrorNoMoreFiles},
        {"a*c.txt", {"ABC.TXT", "AXC.TXT", "AC.TXT"}, kErrorNoMoreFiles},
        {"one.log", {"one.log"}, kErrorNoMoreFiles},
        {"SUB", {"sub"}, kErrorNoMoreFiles},
        {"*.none", {}, kErrorFileNotFound},
        {"absent.txt", {}, kErrorFileNotFound},
        {"nodir\\*", {}, kErrorPathNotFound},
    };
    for (const auto& c : cases) {
        uint32_t error = 0;
        EXPECT_EQ(c.names, Listing(fs(), sys(), P(c.pattern), error)) << c.pattern;
        EXPECT_EQ(c.error, error) << c.pattern;
    }

    // What a listing reports of each entry.
    FindDataA data;
    FindHandle h = 0;
    ASSERT_TRUE(fs().FindFirstFileA(P("sub"), data, h));
    fs().FindClose(h);
    EXPECT_TRUE(data.attributes & kFileAttributeDirectory);
    ASSERT_TRUE(fs().FindFirstFileA(P("one.log"), data, h));
    fs().FindClose(h);
    EXPECT_FALSE(data.attributes & kFileAttributeDirectory);
    EXPECT_EQ(5u, data.size);
    FindDataW wide;
    ASSERT_TRUE(fs().FindFirstFileW(W(P("TWO.*")), wide, h));
    UniqueFind listing(&fs(), h);
    EXPECT_EQ(u"TWO.LOG", wide.name);
    EXPECT_FALSE(fs().FindNextFileW(h, wide));
    EXPECT_EQ(static_cast<uint32_t>(kErrorNoMoreFiles), sys().GetLastError());
}

// Narrow, "\u03A9mega" lists as its best-fit alias "Omega"; the narrow name opens what it spells.
TEST_F(FileSystemContract, NamesOutsideTheAnsiCodePage) {
    if (AnsiCodePage() != 1252) GTEST_SKIP() << "the ANSI code page is " << AnsiCodePage();
    const std::u16string omega = u"\u03A9mega", report = u"\u62A5\u544A";
    for (const std::u16string& name : {omega, report}) {
        FileHandle h = 0;
        ASSERT_TRUE(fs().CreateFileW(W(root) + u"\\" + name, kGenericWrite, 0, nullptr, kCreateNew, 0, h));
        fs().CloseHandle(h);
    }
    Put("Omega", "plain");
    uint32_t error = 0;
    EXPECT_EQ((std::multiset<std::string>{".", "..", "??", "Omega", "Omega"}),
              Listing(fs(), sys(), P("*"), error));
    std::multiset<std::u16string> wide;
    FindDataW data;
    FindHandle h = 0;
    ASSERT_TRUE(fs().FindFirstFileW(W(P("*")), data, h));
    UniqueFind listing(&fs(), h);
    do wide.insert(data.name);
    while (fs().FindNextFileW(h, data));
    EXPECT_EQ((std::multiset<std::u16string>{u".", u"..", omega, report, u"Omega"}), wide);
    EXPECT_EQ("plain", Read("Omega"));
    EXPECT_EQ(kErrorInvalidName, ErrorOfAttributes(P("??")));
}

TEST_F(FileSystemContract, DirectoriesCreateAndRemove) {
    sys().SetLastError(kSentinel);
    EXPECT_FALSE(fs().CreateDirectoryA(P("a\\b"), nullptr));
    EXPECT_EQ(static_cast<uint32_t>(kErrorPathNotFound), sys().GetLastError());
    const char* sddl = "D:(D;OICI;GA;;;AN)(A;OICI;GA;;;WD)";
    ASSERT_TRUE(fs().CreateDirectoryW(W(P("a")), sddl)) << sys().GetLastError();
    ASSERT_TRUE(fs().CreateDirectoryW(W(P("a\\b")), sddl)) << sys().GetLastError();
    EXPECT_FALSE(fs().CreateDirectoryA(P("a"), nullptr));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAlreadyExists), sys().GetLastError());
    EXPECT_TRUE(fs().GetFileAttributesW(W(P("a\\b"))) & kFileAttributeDirectory);
    EXPECT_EQ(0, fs().Access(P("a\\b"), kAccessRead));

    // A log file created with the same descriptor opens and writes normally.
    FileHandle h = 0;
    ASSERT_TRUE(fs().CreateFileW(W(P("a\\b\\x.log")), kGenericRead | kGenericWrite, kShareAll, sddl,
                                 kOpenAlways, kFileAttributeNormal, h))
        << sys().GetLastError();
    fs().CloseHandle(h);

    EXPECT_FALSE(fs().RemoveDirectoryA(P("a")));
    EXPECT_EQ(static_cast<uint32_t>(kErrorDirNotEmpty), sys().GetLastError());
    EXPECT_FALSE(fs().RemoveDirectoryA(P("a\\b\\x.log")));
    EXPECT_EQ(267u, sys().GetLastError()) << "ERROR_DIRECTORY";
    EXPECT_FALSE(fs().DeleteFileA(P("a\\b")));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), sys().GetLastError());
    ASSERT_TRUE(fs().DeleteFileA(P("a\\b\\x.log")));
    EXPECT_TRUE(fs().RemoveDirectoryA(P("a\\b")));
    EXPECT_FALSE(fs().RemoveDirectoryA(P("a\\b")));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), sys().GetLastError());
}

#ifdef _WIN32
// The restart queue as Windows keeps it: NT paths, each followed by its target or "".
std::wstring PendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return {};
    DWORD size = 0;
    std::wstring value;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
        ERROR_SUCCESS) {
        value.resize(size / sizeof(wchar_t) + 1);
        if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value[0]), &size) != ERROR_SUCCESS)
            value.clear();
        for (auto& c : value)
            if (c == L'\0') c = L'|';
    }
    RegCloseKey(key);
    return value;
}
#endif

TEST_F(FileSystemContract, DelayedDeletionIsQueuedNotDone) {
    Put("late.dll", "x");
    ASSERT_TRUE(fs().CreateDirectoryA(P("dir"), nullptr));
    EXPECT_TRUE(fs().MoveFileExA(P("late.dll"), nullptr, kMovefileDelayUntilReboot)) << sys().GetLastError();
    EXPECT_TRUE(fs().MoveFileExA(P("dir"), nullptr, kMovefileDelayUntilReboot)) << sys().GetLastError();
    EXPECT_NE(kInvalidFileAttributes, fs().GetFileAttributesA(P("late.dll")))
        << "nothing is deleted before restart";
    EXPECT_NE(kInvalidFileAttributes, fs().GetFileAttributesA(P("dir")));

    // The source is not looked at when the request is queued: a missing one is queued too,
    // and a handle that does not share deletion does not stop it.
    EXPECT_TRUE(fs().MoveFileExA(P("absent.dll"), nullptr, kMovefileDelayUntilReboot))
        << sys().GetLastError();
    Put("open.dll", "x");
    FileHandle h = 0;
    ASSERT_TRUE(
        fs().CreateFileW(W(P("open.dll")), kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, h));
    UniqueFile open(&fs(), h);
    EXPECT_TRUE(fs().MoveFileExA(P("open.dll"), nullptr, kMovefileDelayUntilReboot)) << sys().GetLastError();
    open.reset();

    // Without the restart flag, no target means: delete now.
    Put("now.dll", "x");
    EXPECT_TRUE(fs().MoveFileExA(P("now.dll"), nullptr, 0)) << sys().GetLastError();
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), ErrorOfAttributes(P("now.dll")));

    // The queue reads back as the deletions were asked for, the name a later run looks for.
    std::vector<std::string> pending;
    ASSERT_TRUE(fs().GetPendingDeletions(pending)) << sys().GetLastError();
    for (const char* queued : {"late.dll", "dir", "absent.dll"})
        EXPECT_EQ(1, std::count(pending.begin(), pending.end(), P(queued))) << queued;

#ifdef _WIN32
    std::wstring queue = PendingRenames();
    std::u16string wanted = W(P("late.dll"));
    std::wstring name(wanted.begin(), wanted.end());
    EXPECT_NE(std::wstring::npos, queue.find(L"\\??\\" + name + L"||"))
        << "the deletion is in the restart queue";
#endif
}

TEST_F(FileSystemContract, AnsiPathsLongerThanMaxPathAreRefused) {
    std::string longPath = root + "\\" + std::string(300, 'x');
    sys().SetLastError(kSentinel);
    EXPECT_EQ(kInvalidFileAttributes, fs().GetFileAttributesA(longPath));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFilenameExcedRange), sys().GetLastError());
    EXPECT_FALSE(fs().MoveFileExA(longPath, nullptr, kMovefileDelayUntilReboot));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFilenameExcedRange), sys().GetLastError());
    FindDataA data;
    FindHandle h = kSentinel;
    EXPECT_FALSE(fs().FindFirstFileA(longPath + "\\*", data, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFilenameExcedRange), sys().GetLastError());
    EXPECT_EQ(kSentinel, h);
}

TEST_F(FileSystemContract, ReadWholeFileSharesWithWriters) {
    Put("cfg.cfg", "[file 1]\r\nx=y\r\n");
    FileHandle h = 0;
    ASSERT_TRUE(fs().CreateFileW(W(P("cfg.cfg")), kGenericRead | kGenericWrite,
                                 kFileShareRead | kFileShareWrite, nullptr, kOpenExisting, 0, h));
    UniqueFile writer(&fs(), h);
    std::string bytes = "untouched";
    EXPECT_EQ(0u, fs().ReadWholeFile(P("cfg.cfg"), bytes));
    EXPECT_EQ("[file 1]\r\nx=y\r\n", bytes);
    bytes = "untouched";
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), fs().ReadWholeFile(P("none.cfg"), bytes));
    EXPECT_EQ("untouched", bytes);
}

// C: is a fixed NTFS volume on Windows and under Wine, whether the volume is asked through
// its root or through any object on it; the file step stages only on such volumes.
TEST_F(FileSystemContract, VolumeFileSystemIsAskedThroughAnyHandleOnIt) {
    EXPECT_EQ(uint32_t{kDriveFixed}, fs().GetDriveType("C:\\"));
    Put("a.txt", "a");
    FileHandle rootHandle = 0, folder = 0, file = 0;
    ASSERT_EQ(0u, fs().OpenRelative(0, W("C:\\"), kFileReadAttributes, kShareAll, kOpenExisting,
                                    kOpenDirectoryOnly, nullptr, rootHandle));
    UniqueFile closeRoot(&fs(), rootHandle);
    ASSERT_EQ(0u, fs().OpenRelative(rootHandle, W(root.substr(3)), kFileReadAttributes, kShareAll,
                                    kOpenExisting, kOpenDirectoryOnly, nullptr, folder));
    UniqueFile closeFolder(&fs(), folder);
    ASSERT_EQ(0u, fs().OpenRelative(folder, W("a.txt"), kFileReadAttributes, kShareAll, kOpenExisting,
                                    kOpenFileOnly, nullptr, file));
    UniqueFile closeFile(&fs(), file);
    for (FileHandle h : {rootHandle, folder, file}) {
        std::string name = "unset";
        EXPECT_EQ(0u, fs().GetVolumeFileSystem(h, name)) << h;
        EXPECT_EQ("NTFS", name) << h;
    }
}

}  // namespace

namespace contract {

void RemoveTree(platform::IFileSystem& fs, const std::string& path) {
    uint32_t attributes = fs.GetFileAttributesA(path);
    if (attributes == platform::kInvalidFileAttributes) return;
    (void)fs.SetFileAttributesA(path, platform::kFileAttributeNormal);
    if (!(attributes & platform::kFileAttributeDirectory)) {
        (void)fs.DeleteFileA(path);
        return;
    }
    std::vector<std::string> names;
    platform::FindDataA data;
    platform::FindHandle h = 0;
    if (fs.FindFirstFileA(path + "\\*", data, h)) {
        platform::UniqueFind listing(&fs, h);
        do {
            if (data.name != "." && data.name != "..") names.push_back(data.name);
        } while (fs.FindNextFileA(listing.get(), data));
    }
    for (const auto& name : names) RemoveTree(fs, path + "\\" + name);
    (void)fs.RemoveDirectoryA(path);
}

}  // namespace contract
