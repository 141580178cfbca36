// The temporary folder and file copies on both backends: GetTempPathW's buffer protocol and
// CopyFileW's results for the cases an uninstall through a package copy meets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/backend.h"
#include "platform/platform.h"

#ifndef _WIN32
#include "platform/sim/sim_machine.h"
#endif

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xdeadbeef;
constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;

std::u16string W(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class CopyContract : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = "C:\\" + backend().UniqueName("SweepCopyContract");
        Clean();
        ASSERT_TRUE(fs().CreateDirectoryA(root_, nullptr)) << sys().GetLastError();
    }
    void TearDown() override { Clean(); }

    contract::Backend& backend() { return contract::GetBackend(); }
    IFileSystem& fs() { return backend().os().fs; }
    ISystem& sys() { return backend().os().sys; }
    std::string P(const std::string& name) const { return root_ + "\\" + name; }

    void Clean() {
        for (const char* name : {"a.txt", "b.txt", "ro.txt", "dir\\x.txt"}) {
            (void)fs().SetFileAttributesA(P(name), kFileAttributeNormal);
            (void)fs().DeleteFileA(P(name));
        }
        (void)fs().RemoveDirectoryA(P("dir"));
        (void)fs().RemoveDirectoryA(root_);
    }
    void Put(const std::string& name, const std::string& bytes) {
        FileHandle h = 0;
        ASSERT_TRUE(
            fs().CreateFileW(W(P(name)), kGenericWrite, 0, nullptr, kCreateAlways, kFileAttributeNormal, h))
            << name;
        UniqueFile file(&fs(), h);
        uint32_t written = 0;
        ASSERT_TRUE(fs().WriteFile(h, bytes.data(), static_cast<uint32_t>(bytes.size()), written));
    }
    std::string Read(const std::string& name) {
        std::string bytes = "<unreadable>";
        (void)fs().ReadWholeFile(P(name), bytes);
        return bytes;
    }
    // The last error of a copy that must fail.
    uint32_t CopyError(const std::string& from, const std::string& to, bool failIfExists) {
        sys().SetLastError(kSentinel);
        EXPECT_FALSE(fs().CopyFileW(W(from), W(to), failIfExists)) << from << " -> " << to;
        return sys().GetLastError();
    }

    std::string root_;
};

TEST_F(CopyContract, TempPathBufferProtocol) {
    std::u16string path = u"untouched";
    uint32_t length = fs().GetTempPathW(260, path);
    ASSERT_NE(0u, length);
    ASSERT_LT(length, 260u);
    EXPECT_EQ(length, path.size());
    EXPECT_EQ(u'\\', path.back());
    EXPECT_EQ(u":\\", path.substr(1, 2));

    // Too small, even by the terminator only: the size needed, terminator included.
    std::u16string small = u"untouched";
    EXPECT_EQ(length + 1, fs().GetTempPathW(length, small));
    EXPECT_EQ(u"untouched", small);
    EXPECT_EQ(length + 1, fs().GetTempPathW(0, small));
    EXPECT_EQ(length, fs().GetTempPathW(length + 1, small));
    EXPECT_EQ(path, small);
}

TEST_F(CopyContract, CopyCreatesOrReplacesTheTarget) {
    Put("a.txt", "package bytes");
    ASSERT_TRUE(fs().CopyFileW(W(P("a.txt")), W(P("b.txt")), true)) << sys().GetLastError();
    EXPECT_EQ("package bytes", Read("b.txt"));
    EXPECT_EQ("package bytes", Read("a.txt"));

    Put("a.txt", "newer");
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileExists), CopyError(P("a.txt"), P("b.txt"), true));
    EXPECT_EQ("package bytes", Read("b.txt"));
    ASSERT_TRUE(fs().CopyFileW(W(P("a.txt")), W(P("b.txt")), false)) << sys().GetLastError();
    EXPECT_EQ("newer", Read("b.txt"));
}

TEST_F(CopyContract, CopyFailures) {
    Put("a.txt", "x");
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), CopyError(P("missing.txt"), P("b.txt"), false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorPathNotFound), CopyError(P("nodir\\a.txt"), P("b.txt"), false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorPathNotFound), CopyError(P("a.txt"), P("nodir\\b.txt"), false));
    ASSERT_TRUE(fs().CreateDirectoryA(P("dir"), nullptr));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), CopyError(P("dir"), P("b.txt"), false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), CopyError(P("a.txt"), P("dir"), false));
    EXPECT_EQ(kInvalidFileAttributes, fs().GetFileAttributesA(P("b.txt")))
        << "no failed copy leaves a target";
    // A copy onto itself finds its source open.
    EXPECT_EQ(static_cast<uint32_t>(kErrorSharingViolation), CopyError(P("a.txt"), P("a.txt"), false));
    EXPECT_EQ("x", Read("a.txt"));
}

TEST_F(CopyContract, TargetHeldOpenWithoutSharing) {
    Put("a.txt", "x");
    Put("b.txt", "held");
    FileHandle h = 0;
    ASSERT_TRUE(fs().CreateFileW(W(P("b.txt")), kGenericRead, 0, nullptr, kOpenExisting, 0, h));
    UniqueFile held(&fs(), h);
    EXPECT_EQ(static_cast<uint32_t>(kErrorSharingViolation), CopyError(P("a.txt"), P("b.txt"), false));
    held.reset();
    EXPECT_EQ("held", Read("b.txt"));
}

TEST_F(CopyContract, ReadOnlyTarget) {
    CONTRACT_SKIP_ON_WIN32("Wine running as root replaces a read-only file; Windows refuses with 5");
    Put("a.txt", "x");
    Put("ro.txt", "kept");
    ASSERT_TRUE(fs().SetFileAttributesA(P("ro.txt"), kFileAttributeReadonly));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), CopyError(P("a.txt"), P("ro.txt"), false));
    EXPECT_EQ("kept", Read("ro.txt"));
}

#ifndef _WIN32
// An access list that refuses writing the target, and the faults and environment only the
// simulated machine can arrange.
TEST(SimCopy, AccessDeniedTargetFaultsAndTempFromEnvironment) {
    sim::SimMachine m;
    m.files.CreateFile("C:\\src\\a.msi", "bytes");
    m.files.CreateFile("C:\\dst\\a.msi", "old");
    m.files.SecurityOf("C:\\dst\\a.msi")->deniedAccess = kGenericWrite;
    EXPECT_FALSE(m.files.CopyFileW(u"C:\\src\\a.msi", u"C:\\dst\\a.msi", false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), m.system.GetLastError());
    EXPECT_EQ("old", m.files.Contents("C:\\dst\\a.msi"));
    m.files.SecurityOf("C:\\src\\a.msi")->deniedAccess = kGenericRead;
    EXPECT_FALSE(m.files.CopyFileW(u"C:\\src\\a.msi", u"C:\\dst\\b.msi", false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), m.system.GetLastError());
    EXPECT_FALSE(m.files.Exists("C:\\dst\\b.msi"));

    m.faults.Fail("CopyFileW", kErrorSharingViolation);
    EXPECT_FALSE(m.files.CopyFileW(u"C:\\dst\\a.msi", u"C:\\dst\\c.msi", false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorSharingViolation), m.system.GetLastError());

    std::u16string path;
    EXPECT_EQ(35u, m.files.GetTempPathW(260, path));
    EXPECT_EQ(u"C:\\Users\\Tester\\AppData\\Local\\Temp\\", path);
    m.system.environment[u"temp"] = u"D:\\T";
    EXPECT_EQ(5u, m.files.GetTempPathW(260, path));
    EXPECT_EQ(u"D:\\T\\", path);
    m.system.environment[u"TMP"] = u"E:\\Tmp\\";
    m.system.SetLastError(kSentinel);
    EXPECT_EQ(7u, m.files.GetTempPathW(260, path));
    EXPECT_EQ(u"E:\\Tmp\\", path);
    EXPECT_EQ(kSentinel, m.system.GetLastError()) << "a successful call leaves the last error alone";
    m.faults.Fail("GetTempPathW", kErrorAccessDenied);
    EXPECT_EQ(0u, m.files.GetTempPathW(260, path));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), m.system.GetLastError());
}
#endif

}  // namespace
