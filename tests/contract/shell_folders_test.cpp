// Special folders, system folders and the user name, on the sim and on the real machine.
#include <gtest/gtest.h>

#include <string>

#include "contract/backend.h"
#include "platform/ansi.h"

namespace {

using namespace platform;

std::string Upper(std::string s) {
    AnsiUpperInPlace(&s[0]);
    return s;
}

bool Contains(const std::string& text, const std::string& part) {
    return Upper(text).find(Upper(part)) != std::string::npos;
}

TEST(ShellContract, UserNameAndFoldersAreAbsolute) {
    IShell& shell = contract::GetBackend().os().shell;
    std::string user = "\xde\xad\xbe\xef", windows = user, system = user;
    ASSERT_TRUE(shell.GetUserName(user));
    ASSERT_TRUE(shell.GetWindowsDirectory(windows));
    ASSERT_TRUE(shell.GetSystemDirectory(system));
    EXPECT_FALSE(user.empty());
    EXPECT_NE(user, "\xde\xad\xbe\xef");
    EXPECT_EQ(windows.substr(1, 2), ":\\") << windows;
    // GetSystemDirectory answers system32 even to a 32-bit process on 64-bit Windows.
    EXPECT_EQ(Upper(system), Upper(windows + "\\system32"));
}

TEST(ShellContract, PerUserFoldersHoldTheUserNameCommonOnesDoNot) {
    IShell& shell = contract::GetBackend().os().shell;
    std::string user;
    ASSERT_TRUE(shell.GetUserName(user));
    struct Row {
        int csidl;
        bool perUser;
    };
    const Row rows[] = {
        {kCsidlAppData, true},        {kCsidlDesktopDirectory, true}, {kCsidlPersonal, true},
        {kCsidlStartMenu, true},      {kCsidlPrograms, true},         {kCsidlStartup, true},
        {kCsidlCommonAppData, false}, {kCsidlCommonPrograms, false},  {kCsidlCommonStartMenu, false},
        {kCsidlCommonStartup, false}, {kCsidlProgramFiles, false},    {kCsidlCommonDesktopDirectory, false},
    };
    for (const Row& row : rows) {
        std::string path = "\xde\xad\xbe\xef";
        ASSERT_TRUE(shell.SHGetSpecialFolderPath(row.csidl, path, false)) << "csidl " << row.csidl;
        EXPECT_EQ(path.substr(1, 2), ":\\") << path;
        EXPECT_NE(path.back(), '\\') << path;
        EXPECT_EQ(Contains(path, "\\" + user + "\\"), row.perUser) << "csidl " << row.csidl << ": " << path;
    }
}

TEST(ShellContract, FoldersNestAsTheShellLaysThemOut) {
    IShell& shell = contract::GetBackend().os().shell;
    std::string startMenu, programs, startup, commonPrograms, commonStartup, system;
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlStartMenu, startMenu, false));
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlPrograms, programs, false));
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlStartup, startup, false));
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlCommonPrograms, commonPrograms, false));
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlCommonStartup, commonStartup, false));
    EXPECT_EQ(Upper(programs), Upper(startMenu + "\\Programs"));
    EXPECT_EQ(Upper(startup), Upper(programs + "\\Startup"));
    EXPECT_EQ(Upper(commonStartup), Upper(commonPrograms + "\\Startup"));
}

TEST(ShellContract, ProgramFilesOfA32BitProcessOn64BitWindowsIsTheX86Folder) {
    // Both the sim's default machine and the test prefix are 64-bit Windows.
    IShell& shell = contract::GetBackend().os().shell;
    std::string path;
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlProgramFiles, path, false));
    EXPECT_TRUE(Contains(path, "\\Program Files (x86)")) << path;
}

TEST(ShellContract, SystemFolderAndTheRetiredStartupFolders) {
    IShell& shell = contract::GetBackend().os().shell;
    std::string system, viaShell;
    ASSERT_TRUE(shell.GetSystemDirectory(system));
    ASSERT_TRUE(shell.SHGetSpecialFolderPath(kCsidlSystem, viaShell, false));
    EXPECT_EQ(Upper(viaShell), Upper(system));
    std::string alt = "\xde\xad";
    EXPECT_FALSE(shell.SHGetSpecialFolderPath(kCsidlAltStartup, alt, false)) << alt;
    EXPECT_FALSE(shell.SHGetSpecialFolderPath(kCsidlCommonAltStartup, alt, false)) << alt;
}

}  // namespace
