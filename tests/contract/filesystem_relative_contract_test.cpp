// Opens and changes through held handles, on both backends: names refused before anything
// is opened, the drive root as the only start, the kind asked for, the security of what is
// made, what a held directory keeps others from, and changes that land on the held object.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "contract/backend.h"
#include "platform/acl_text.h"
#include "platform/platform.h"

namespace {

using namespace platform;
using contract::RemoveTree;
using contract::UnderWine;

constexpr uint32_t kShareAll = kFileShareRead | kFileShareWrite | kFileShareDelete;
constexpr uint32_t kShareNoDelete = kFileShareRead | kFileShareWrite;
constexpr uint32_t kHold = kFileTraverse | kFileListDirectory;
constexpr uint32_t kErrorInvalidName = 123, kErrorDirectory = 267;

std::u16string W(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

uint32_t Open(IFileSystem& fs, FileHandle parent, const std::string& name, uint32_t access, uint32_t share,
              uint32_t disposition, uint32_t kind, UniqueFile& out, const char* sddl = nullptr) {
    FileHandle h = 0;
    const uint32_t error = fs.OpenRelative(parent, W(name), access, share, disposition, kind, sddl, h);
    out.reset(error == 0 ? &fs : nullptr, error == 0 ? h : 0);
    return error;
}

// Holds a directory as the run holds the folders it works in.
uint32_t Hold(IFileSystem& fs, FileHandle parent, const std::string& name, UniqueFile& out) {
    return Open(fs, parent, name, kHold, kShareNoDelete, kOpenExisting, kOpenDirectoryOnly, out);
}

class RelativeContract : public ::testing::Test {
  protected:
    void SetUp() override {
        name = contract::GetBackend().UniqueName("SweepRelative");
        RemoveTree(fs(), P(""));
        for (const char* dir : {"", "a", "b", "full", "full\\x"})
            ASSERT_TRUE(fs().CreateDirectoryA(P(dir), nullptr)) << dir << ": " << sys().GetLastError();
        for (const std::string file : {"t.txt", "a\\f.txt", "b\\taken"}) {
            FileHandle h = 0;
            ASSERT_TRUE(fs().CreateFileW(W(P(file)), kGenericWrite, 0, nullptr, kCreateNew, 0, h));
            UniqueFile owner(&fs(), h);
            uint32_t written = 0;
            ASSERT_TRUE(fs().WriteFile(h, file.data(), static_cast<uint32_t>(file.size()), written));
        }
        UniqueFile drive;
        ASSERT_EQ(0u, Hold(fs(), 0, "C:\\", drive));
        ASSERT_EQ(0u, Hold(fs(), drive.get(), name, top));  // held throughout
    }
    void TearDown() override {
        top.reset();
        RemoveTree(fs(), P(""));
    }

    IFileSystem& fs() { return contract::GetBackend().os().fs; }
    ISystem& sys() { return contract::GetBackend().os().sys; }
    std::string P(const std::string& rel) const { return "C:\\" + name + (rel.empty() ? "" : "\\" + rel); }
    bool Exists(const std::string& rel) { return fs().GetFileAttributesA(P(rel)) != kInvalidFileAttributes; }

    std::string name;
    UniqueFile top;
};

TEST_F(RelativeContract, NamesKindsAndDispositionsGiveTheKernelsCodes) {
    struct Case {
        const char* name;
        uint32_t disposition, kind, error;
    } cases[] = {
        {"A", kOpenExisting, kOpenDirectoryOnly, 0},  // names match without case
        {"t.txt", kOpenAlways, kOpenFileOnly, 0},
        {"missing", kOpenExisting, kOpenAnyObject, kErrorFileNotFound},
        {"missing", kTruncateExisting, kOpenFileOnly, kErrorFileNotFound},
        {"t.txt", kOpenExisting, kOpenDirectoryOnly, kErrorDirectory},
        {"a", kOpenExisting, kOpenFileOnly, kErrorAccessDenied},
        {"t.txt", kCreateNew, kOpenAnyObject, kErrorAlreadyExists},
        {"a", kCreateNew, kOpenDirectoryOnly, kErrorAlreadyExists},
    };
    UniqueFile h;
    for (const Case& c : cases)
        EXPECT_EQ(c.error,
                  Open(fs(), top.get(), c.name, kFileReadAttributes, kShareAll, c.disposition, c.kind, h))
            << c.name << " " << c.disposition;
    for (const char* bad : {".", "..", "a\\f.txt", "a/f.txt", "t.txt:s", ""})
        EXPECT_EQ(kErrorInvalidName,
                  Open(fs(), top.get(), bad, kFileReadAttributes, kShareAll, kOpenAlways, 0, h));
    for (const char* bad : {"C:", "C:\\Windows", "t.txt"})
        EXPECT_EQ(kErrorInvalidName, Open(fs(), 0, bad, kFileReadAttributes, kShareAll, kOpenExisting, 0, h));
    EXPECT_EQ(0u, Open(fs(), 0, "c:\\", kFileReadAttributes, kShareAll, kOpenExisting, kOpenAnyObject, h));
    EXPECT_TRUE(h);
    EXPECT_FALSE(Exists("missing") || Exists("t.txt:s"));
}

TEST_F(RelativeContract, WhatIsMadeIsOfTheAskedKindWithTheGivenSecurity) {
    for (const std::string made : {"made.txt", "made"}) {
        const bool directory = made == "made";
        UniqueFile h;
        ASSERT_EQ(0u, Open(fs(), top.get(), made, kReadControl | kGenericWrite, kShareAll, kCreateNew,
                           directory ? kOpenDirectoryOnly : kOpenFileOnly, h,
                           "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"));
        uint32_t attributes = 0, written = 0;
        ASSERT_TRUE(fs().GetFileInformationByHandle(h.get(), attributes));
        EXPECT_EQ(directory, (attributes & kFileAttributeDirectory) != 0) << made;
        EXPECT_EQ(!directory, fs().WriteFile(h.get(), "new", 3, written)) << made;
        std::string owner = "unread", dacl = "unread", bytes;
        ASSERT_EQ(0u, contract::GetBackend().os().sec.GetFileSecurityInfo(
                          h.get(), kOwnerSecurityInformation | kDaclSecurityInformation, &owner, &dacl));
        std::vector<AceText> aces;
        bool isProtected = false;
        ASSERT_TRUE(ParseDaclText(dacl, aces, &isProtected)) << dacl;
        std::vector<std::string> sids;
        for (const AceText& a : aces) sids.push_back(a.sid);
        if (UnderWine()) {
            // Wine turns the descriptor into Unix mode bits and answers one made from those:
            // the Unix user as owner, an unprotected list.
            EXPECT_FALSE(isProtected) << "Wine now keeps file descriptors: drop this mark. " << dacl;
        } else {
            EXPECT_EQ("S-1-5-32-544", owner) << made;
            EXPECT_TRUE(isProtected) << dacl;
            EXPECT_EQ((std::vector<std::string>{"S-1-5-32-544", "S-1-5-18"}), sids) << dacl;
        }
        h.reset();
        if (!directory) {
            EXPECT_TRUE(fs().ReadWholeFile(P(made), bytes) == 0 && bytes == "new") << bytes;
        }
    }
}

TEST_F(RelativeContract, AHeldDirectoryKeepsItsNameUnlessTheOpenHasNoDataAccess) {
    for (uint32_t access : {kHold, uint32_t{kFileReadAttributes}}) {
        SCOPED_TRACE(access);
        UniqueFile held;
        ASSERT_EQ(
            0u, Open(fs(), top.get(), "a", access, kShareNoDelete, kOpenExisting, kOpenDirectoryOnly, held));
        const bool moved = fs().MoveFileExW(W(P("a")), W(P("a2")).c_str(), 0);
        EXPECT_EQ(access == kHold ? kErrorSharingViolation : 0u, moved ? 0u : sys().GetLastError());
        held.reset();
        if (!moved) {
            EXPECT_TRUE(fs().MoveFileExW(W(P("a")), W(P("a2")).c_str(), 0)) << sys().GetLastError();
        }
        ASSERT_TRUE(fs().MoveFileExW(W(P("a2")), W(P("a")).c_str(), 0)) << sys().GetLastError();
    }
}

TEST_F(RelativeContract, ARenameByHandleMovesTheHeldObjectAndNeverReplaces) {
    UniqueFile a, b, file, full;
    ASSERT_EQ(0u, Hold(fs(), top.get(), "a", a));
    ASSERT_EQ(0u, Hold(fs(), top.get(), "b", b));
    ASSERT_EQ(0u, Open(fs(), a.get(), "f.txt", kGenericRead | kDeleteAccess, kShareAll, kOpenExisting,
                       kOpenFileOnly, file));
    EXPECT_EQ(kErrorAlreadyExists, fs().RenameByHandle(file.get(), b.get(), u"TAKEN"));
    EXPECT_EQ(kErrorInvalidName, fs().RenameByHandle(file.get(), b.get(), u"x\\y"));
    ASSERT_EQ(0u, fs().RenameByHandle(file.get(), b.get(), u"g.txt"));
    EXPECT_TRUE(!Exists("a\\f.txt") && Exists("b\\g.txt"));
    std::string taken, moved(16, '\0');
    EXPECT_TRUE(fs().ReadWholeFile(P("b\\taken"), taken) == 0 && taken == "b\\taken") << taken;
    uint32_t read = 0;
    ASSERT_TRUE(fs().ReadFile(file.get(), &moved[0], 16, read));
    EXPECT_EQ("a\\f.txt", moved.substr(0, read));
    // A directory with entries moves as a whole.
    ASSERT_EQ(
        0u, Open(fs(), top.get(), "full", kDeleteAccess, kShareAll, kOpenExisting, kOpenDirectoryOnly, full));
    ASSERT_EQ(0u, fs().RenameByHandle(full.get(), b.get(), u"full"));
    EXPECT_TRUE(Exists("b\\full\\x"));
}

TEST_F(RelativeContract, ADeletionByHandleLandsWhenTheLastHandleCloses) {
    UniqueFile full, file;
    ASSERT_EQ(
        0u, Open(fs(), top.get(), "full", kDeleteAccess, kShareAll, kOpenExisting, kOpenDirectoryOnly, full));
    EXPECT_EQ(kErrorDirNotEmpty, fs().DeleteByHandle(full.get()));
    full.reset();
    EXPECT_TRUE(Exists("full\\x"));
    ASSERT_TRUE(fs().SetFileAttributesA(P("t.txt"), kFileAttributeReadonly));
    ASSERT_EQ(0u, Open(fs(), top.get(), "t.txt", kDeleteAccess | kFileWriteAttributes, kShareAll,
                       kOpenExisting, kOpenFileOnly, file));
    EXPECT_EQ(kErrorAccessDenied, fs().DeleteByHandle(file.get()));
    ASSERT_EQ(0u, fs().SetAttributesByHandle(file.get(), kFileAttributeNormal));
    EXPECT_EQ(0u, fs().GetFileAttributesA(P("t.txt")) & kFileAttributeReadonly);
    ASSERT_EQ(0u, fs().DeleteByHandle(file.get()));
    file.reset();
    EXPECT_FALSE(Exists("t.txt"));
    // A read-only directory is refused as a read-only file is, empty or not.
    ASSERT_TRUE(fs().SetFileAttributesA(P("full\\x"), kFileAttributeReadonly));
    ASSERT_EQ(0u, Hold(fs(), top.get(), "full", full));
    ASSERT_EQ(0u, Open(fs(), full.get(), "x", kDeleteAccess | kFileWriteAttributes, kShareAll, kOpenExisting,
                       kOpenDirectoryOnly, file));
    if (UnderWine())
        // Wine keeps no read-only mark on a directory's Unix mode and deletes it.
        EXPECT_EQ(0u, fs().DeleteByHandle(file.get()))
            << "Wine now refuses read-only directories: drop this mark.";
    else
        EXPECT_EQ(kErrorAccessDenied, fs().DeleteByHandle(file.get()));
    file.reset();
}

TEST(RelativeContractGuid, EachGuidIsNew) {
    uint8_t first[16] = {}, second[16] = {};
    ASSERT_EQ(0, contract::GetBackend().os().sys.CoCreateGuid(first));
    ASSERT_EQ(0, contract::GetBackend().os().sys.CoCreateGuid(second));
    EXPECT_NE(0, std::memcmp(first, second, 16));
}

}  // namespace
