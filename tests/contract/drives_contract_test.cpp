// The logical drives and their kinds, on the sim and on the real machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/backend.h"

#ifndef _WIN32
#include "platform/sim/sim_machine.h"
#endif

namespace {

using namespace platform;

// The roots of a GetLogicalDriveStrings answer ("C:\", "D:\", ...).
std::vector<std::string> Roots(const std::string& list) {
    std::vector<std::string> roots;
    for (size_t start = 0; start < list.size();) {
        size_t end = list.find('\0', start);
        if (end == std::string::npos) end = list.size();
        roots.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return roots;
}

class DrivesContract : public ::testing::Test {
  protected:
    Platform& os() { return contract::GetBackend().os(); }
};

TEST_F(DrivesContract, TheListNamesEveryRootOnceAndCIsFixed) {
    std::string list = "untouched";
    uint32_t length = os().fs.GetLogicalDriveStrings(1024, list);
    ASSERT_GT(length, 0u) << os().sys.GetLastError();
    ASSERT_EQ(length, list.size());
    EXPECT_EQ(0u, length % 4);
    std::vector<std::string> roots = Roots(list);
    ASSERT_EQ(length / 4, roots.size());
    bool sawC = false;
    for (const std::string& root : roots) {
        ASSERT_EQ(3u, root.size()) << root;
        EXPECT_EQ(":\\", root.substr(1)) << root;
        sawC = sawC || root == "C:\\";
    }
    EXPECT_TRUE(sawC);
    EXPECT_EQ(uint32_t{kDriveFixed}, os().fs.GetDriveType("C:\\"));
}

TEST_F(DrivesContract, TooSmallABufferAnswersTheLengthNeededAndIsNotWritten) {
    std::string list;
    const uint32_t length = os().fs.GetLogicalDriveStrings(1024, list);
    ASSERT_GT(length, 0u);
    // The final NUL needs room too: a buffer of exactly the list's length is too small.
    for (uint32_t size : {0u, 1u, length}) {
        std::string out = "untouched";
        EXPECT_EQ(length + 1, os().fs.GetLogicalDriveStrings(size, out)) << size;
        EXPECT_EQ("untouched", out) << size;
    }
    std::string exact = "untouched";
    EXPECT_EQ(length, os().fs.GetLogicalDriveStrings(length + 1, exact));
    EXPECT_EQ(list, exact);
}

TEST_F(DrivesContract, ARootNoDriveHoldsHasNoRootDirectory) {
    std::string list;
    ASSERT_GT(os().fs.GetLogicalDriveStrings(1024, list), 0u);
    std::string unused;
    for (char letter = 'Q'; letter <= 'Y' && unused.empty(); ++letter) {
        std::string root = std::string(1, letter) + ":\\";
        if (list.find(root) == std::string::npos) unused = root;
    }
    ASSERT_FALSE(unused.empty()) << "every drive letter from Q to Y is in use";
    EXPECT_EQ(uint32_t{kDriveNoRootDir}, os().fs.GetDriveType(unused));
}

#ifndef _WIN32
TEST(SimDrives, AddedDrivesKeepTheirKindInLetterOrder) {
    sim::SimMachine m;
    m.files.AddDrive('e', kDriveRemovable);
    m.files.AddDrive('D', kDriveRemote);
    std::string list;
    ASSERT_EQ(12u, m.files.GetLogicalDriveStrings(1024, list));
    EXPECT_EQ((std::vector<std::string>{"C:\\", "D:\\", "E:\\"}), Roots(list));
    EXPECT_EQ(uint32_t{kDriveRemovable}, m.files.GetDriveType("e:\\"));
    EXPECT_EQ(uint32_t{kDriveRemote}, m.files.GetDriveType("D:/"));
    EXPECT_EQ(uint32_t{kDriveNoRootDir}, m.files.GetDriveType("C:\\Windows"));

    m.faults.Fail("GetLogicalDriveStringsA", kErrorAccessDenied);
    EXPECT_EQ(0u, m.files.GetLogicalDriveStrings(1024, list));
    EXPECT_EQ(kErrorAccessDenied, m.system.GetLastError());
}
#endif

}  // namespace
