// The version resource of a file (GetFileVersionInfoA and VerQueryValueA of "\"), on the
// sim and on the real machine.
#include <gtest/gtest.h>

#include <string>

#include "contract/backend.h"

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xdeadbeef;

TEST(ShellContract, FileWithoutVersionResourceFailsAndWritesNothing) {
    IShell& shell = contract::GetBackend().os().shell;
    FileVersion version{kSentinel, kSentinel, kSentinel, kSentinel};
    std::string missing = "C:\\" + contract::GetBackend().UniqueName("no_such_file") + ".exe";
    EXPECT_NE(0u, shell.GetFileVersion(missing, version));
    EXPECT_EQ(kSentinel, version.fileVersionMS);
    EXPECT_EQ(kSentinel, version.fileVersionLS);
    EXPECT_EQ(kSentinel, version.fileFlags);
}

TEST(ShellContract, SystemLibraryHasAFourPartVersion) {
    CONTRACT_SKIP_ON_SIM("the sim knows only the versions a test gives it");
    IShell& shell = contract::GetBackend().os().shell;
    std::string system;
    ASSERT_TRUE(shell.GetSystemDirectory(system));
    FileVersion version{kSentinel, kSentinel, kSentinel, kSentinel};
    ASSERT_EQ(0u, shell.GetFileVersion(system + "\\kernel32.dll", version));
    EXPECT_NE(kSentinel, version.fileVersionMS);
    EXPECT_GE(version.fileVersionMS >> 16, 5u);  // the major part: Windows 2000 and later
    EXPECT_NE(kSentinel, version.fileFlagsMask);
}

}  // namespace
