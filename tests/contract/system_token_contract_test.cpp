// The tokens the administrator check reads and the console it writes its refusal to, on
// the sim and on the real machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/backend.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/sim/sim_machine.h"
#endif

namespace {

using namespace platform;

constexpr uintptr_t kSentinel = 0xdeadbeef;

bool HasEnabledAdministrators(const std::vector<TokenGroup>& groups) {
    for (const TokenGroup& g : groups)
        if (g.sid == kAdministratorsSid && (g.attributes & kSeGroupEnabled)) return true;
    return false;
}

TEST(SystemTokenContract, ThreadWithoutImpersonationHasNoTokenAndTheProcessTokenAnswers) {
    Platform& os = contract::GetBackend().os();
    TokenHandle raw = kSentinel;
    EXPECT_FALSE(os.sys.OpenThreadToken(kTokenQuery, true, raw));
    EXPECT_EQ(kErrorNoToken, os.sys.GetLastError());
    EXPECT_EQ(kSentinel, raw);
    EXPECT_FALSE(os.sys.OpenThreadToken(kTokenQuery, false, raw));
    EXPECT_EQ(kErrorNoToken, os.sys.GetLastError());

    ASSERT_TRUE(os.sys.OpenProcessToken(kTokenQuery, raw));
    UniqueToken token(&os.sys, raw);
    std::vector<TokenGroup> groups;
    ASSERT_TRUE(os.sys.GetTokenGroups(token.get(), groups));
    EXPECT_TRUE(HasEnabledAdministrators(groups)) << "both stand for an elevated administrator";
}

TEST(SystemTokenContract, ConsoleWriteNeedsAConsoleBehindStandardError) {
    Platform& os = contract::GetBackend().os();
    bool console = false;
#ifdef _WIN32
    DWORD mode = 0;
    console = ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
#endif
    const std::u16string text = u"SystemTokenContract: console line\n";
    uint32_t written = kSentinel;
    if (console) {
        EXPECT_TRUE(os.sys.WriteConsoleToStdError(text, written)) << os.sys.GetLastError();
        EXPECT_EQ(text.size(), written);
    } else {
        EXPECT_FALSE(os.sys.WriteConsoleToStdError(text, written));
        EXPECT_EQ(kErrorInvalidHandle, os.sys.GetLastError());
        EXPECT_EQ(0u, written);
    }
}

#ifndef _WIN32
TEST(SimSystemToken, ImpersonationTokenCarriesItsOwnGroupsUntilClosed) {
    sim::SimMachine m;
    m.system.threadTokenGroups = std::vector<TokenGroup>{{"S-1-5-32-545", kSeGroupEnabled}};
    TokenHandle thread = 0, process = 0;
    ASSERT_TRUE(m.system.OpenThreadToken(kTokenQuery, true, thread));
    ASSERT_TRUE(m.system.OpenProcessToken(kTokenQuery, process));
    m.system.threadTokenGroups.reset();  // what was opened keeps its groups
    std::vector<TokenGroup> groups;
    ASSERT_TRUE(m.system.GetTokenGroups(thread, groups));
    ASSERT_EQ(1u, groups.size());
    EXPECT_EQ("S-1-5-32-545", groups[0].sid);
    ASSERT_TRUE(m.system.GetTokenGroups(process, groups));
    EXPECT_TRUE(HasEnabledAdministrators(groups));
    m.system.CloseToken(thread);
    m.system.CloseToken(process);
    EXPECT_EQ(0, m.system.openTokens);
    EXPECT_FALSE(m.system.OpenThreadToken(kTokenQuery, true, thread));
}

TEST(SimSystemToken, ConsoleCollectsWhatIsWrittenAndFaultsFailIt) {
    sim::SimMachine m;
    m.system.hasConsole = true;
    uint32_t written = 0;
    ASSERT_TRUE(m.system.WriteConsoleToStdError(u"one\n", written));
    ASSERT_TRUE(m.system.WriteConsoleToStdError(u"two\n", written));
    EXPECT_EQ(u"one\ntwo\n", m.system.consoleErrorText);
    EXPECT_EQ(4u, written);
    m.faults.Fail("WriteConsoleW", kErrorNotEnoughMemory);
    EXPECT_FALSE(m.system.WriteConsoleToStdError(u"three\n", written));
    EXPECT_EQ(kErrorNotEnoughMemory, m.system.GetLastError());
    EXPECT_EQ(u"one\ntwo\n", m.system.consoleErrorText);
}
#endif

}  // namespace
