#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cleaner.h"
#include "app/app_machine.h"

namespace {

using platform::sim::ShutdownRecord;

const std::vector<std::string> kFullSequence = {
    "Cleaner::PrepareLists",   "CNuke::MsiUninstall",  "CNuke::StopNTProcesses",  "CNuke::StopNTServices",
    "CNuke::ResetLspStack",    "RemoveSecurityCenterEntries", "CNuke::CleanupFiles", "CNuke::CleanupRegValues",
    "CNuke::CleanupRegKeys",   "CNuke::StartNTProcesses"};

class CleanerTest : public ::testing::Test {
protected:
    void SetUp() override { actions::CWinFirewall::ResetTurnOnCount(); }

    // Records the steps; the step named `failAt` returns `code`.
    void Watch(app::Cleaner& c, const std::string& failAt = "", uint32_t code = 0) {
        c.stepObserver = [this, failAt, code](const char* step, uint32_t real) {
            steps.push_back(step);
            return step == failAt ? code : real;
        };
    }

    apptest::ToolMachine m;
    std::vector<std::string> steps;
};

TEST_F(CleanerTest, RunsEveryStepInOrderAndRestartsAtOnceWithNoGui) {
    app::Cleaner c(m.platform());
    c.autoRestart = 1;
    Watch(c);
    c.Run();
    std::vector<std::string> expected = kFullSequence;
    expected.push_back("Cleaner::Restart");
    EXPECT_EQ(steps, expected);
    ASSERT_EQ(m.system.shutdowns.size(), 1u);
    EXPECT_EQ(m.system.shutdowns[0].kind, ShutdownRecord::Kind::ExitWindows);
    EXPECT_EQ(m.system.shutdowns[0].flags, 6u);  // reboot, applications forced closed
    EXPECT_EQ(m.system.shutdowns[0].reason, 0u);
    // Sixteen 5-second pauses of the built-in upgrade codes, 1500 ms before the files,
    // 500 ms before the restart, all on the virtual clock.
    std::vector<uint32_t> pauses(16, 5000);
    pauses.push_back(1500);
    pauses.push_back(500);
    EXPECT_EQ(m.system.sleeps, pauses);
    EXPECT_EQ(m.system.shutdowns[0].atMs, 82000u);
    EXPECT_EQ(m.system.enabledPrivileges.count("SeShutdownPrivilege"), 1u);
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 2);  // once in the restart, once at the end of Run
    EXPECT_EQ(m.system.openTokens, 0);
    EXPECT_EQ(c.ExitCode(), 1641u);
}

TEST_F(CleanerTest, EachFailingStepStopsTheSequenceAndTheRestart) {
    for (size_t i = 0; i < kFullSequence.size(); ++i) {
        if (kFullSequence[i] == "RemoveSecurityCenterEntries") continue;  // gives no code
        SCOPED_TRACE(kFullSequence[i]);
        apptest::ToolMachine machine;
        actions::CWinFirewall::ResetTurnOnCount();
        app::Cleaner c(machine.platform());
        c.autoRestart = 1;
        steps.clear();
        Watch(c, kFullSequence[i], 1610);
        c.Run();
        EXPECT_EQ(steps, std::vector<std::string>(kFullSequence.begin(), kFullSequence.begin() + i + 1));
        EXPECT_TRUE(machine.system.shutdowns.empty());
        EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 1);  // the final firewall step still runs
        EXPECT_EQ(c.sequenceCode, 1610u);
        EXPECT_EQ(c.ExitCode(), 1610u);
    }
}

TEST_F(CleanerTest, SecurityCenterStepCannotStopTheSequence) {
    app::Cleaner c(m.platform());
    c.autoRestart = 0;
    Watch(c, "RemoveSecurityCenterEntries", 5);
    c.Run();
    EXPECT_EQ(steps, kFullSequence);
    EXPECT_EQ(c.ExitCode(), 3010u);
}

TEST_F(CleanerTest, TimedRestartCarriesTheNoticeAndReason) {
    app::Cleaner c(m.platform());
    c.autoRestart = 1;
    c.rebootDelay = 60;
    c.Run();
    ASSERT_EQ(m.system.shutdowns.size(), 1u);
    const ShutdownRecord& r = m.system.shutdowns[0];
    EXPECT_EQ(r.kind, ShutdownRecord::Kind::InitiateShutdown);
    EXPECT_EQ(r.message,
              "Uninstallation completed successfully.\nKelvaris Clearout Tool\nwill restart your computer shortly.");
    EXPECT_EQ(r.timeoutSeconds, 60u);
    EXPECT_TRUE(r.forceAppsClosed);
    EXPECT_TRUE(r.reboot);
    EXPECT_EQ(r.reason, 0x80040001u);
    EXPECT_EQ(c.ExitCode(), 1641u);
}

TEST_F(CleanerTest, NoRebootTurnsTheFirewallOnTwiceAndRestartsNothing) {
    app::Cleaner c(m.platform());
    c.autoRestart = 1;
    c.noReboot = 1;
    c.Run();
    EXPECT_TRUE(m.system.shutdowns.empty());
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 2);
    EXPECT_EQ(c.ExitCode(), 3010u);
}

TEST_F(CleanerTest, WithoutAutoRestartASuccessfulRunNeverRestarts) {
    app::Cleaner c(m.platform());
    c.autoRestart = 0;
    c.Run();
    EXPECT_TRUE(m.system.shutdowns.empty());
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 1);
    EXPECT_EQ(c.ExitCode(), 3010u);
}

TEST_F(CleanerTest, RestartWithoutATokenStillAsksForARestart) {
    m.faults.Fail("OpenProcessToken", platform::kErrorAccessDenied);
    app::Cleaner c(m.platform());
    c.rebootDelay = 60;  // not used on this path
    c.Restart();
    ASSERT_EQ(m.system.shutdowns.size(), 1u);
    EXPECT_EQ(m.system.shutdowns[0].kind, ShutdownRecord::Kind::ExitWindows);
    EXPECT_EQ(m.system.shutdowns[0].flags, 6u);
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 0);
    EXPECT_TRUE(m.system.sleeps.empty());
}

TEST_F(CleanerTest, RestartOnANonNtPlatformTakesTheFallbackUnlessNoReboot) {
    m.system.version.platformId = platform::kVerPlatformWin32Windows;
    app::Cleaner c(m.platform());
    c.noReboot = 1;
    c.Restart();
    EXPECT_TRUE(m.system.shutdowns.empty());
    c.noReboot = 0;
    c.Restart();
    ASSERT_EQ(m.system.shutdowns.size(), 1u);
    EXPECT_EQ(m.system.shutdowns[0].flags, 6u);
    EXPECT_EQ(m.faults.Calls("OpenProcessToken"), 0);
}

TEST_F(CleanerTest, PrivilegeAndShutdownFailuresAreIgnored) {
    m.faults.Fail("LookupPrivilegeValueA", 1313);
    m.faults.Fail("ExitWindowsEx", platform::kErrorAccessDenied);
    app::Cleaner c(m.platform());
    c.Restart();
    EXPECT_EQ(m.system.shutdowns.size(), 1u);
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 1);
    EXPECT_TRUE(m.system.enabledPrivileges.empty());
}

TEST_F(CleanerTest, RemovalBlockedSkipsTheSequenceButTurnsTheFirewallOn) {
    app::Cleaner c(m.platform());
    c.autoRestart = 1;
    c.detector.removalBlocked = 1;
    Watch(c);
    c.Run();
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 1);
    EXPECT_EQ(c.engine.detector, nullptr);
    EXPECT_EQ(c.ExitCode(), 1625u);
}

TEST_F(CleanerTest, NonAdministratorSkipsSequenceAndFirewall) {
    // An administrator whose token is filtered: the group is there for deny checks only.
    m.system.tokenGroups = {{platform::kAdministratorsSid, platform::kSeGroupUseForDenyOnly}};
    app::Cleaner c(m.platform());
    Watch(c);
    c.Run();
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 0);
    EXPECT_EQ(c.engine.detector, &c.detector);
    EXPECT_EQ(c.ExitCode(), 5u);
}

TEST_F(CleanerTest, TokenFailuresCountAsNotAdministrator) {
    for (const char* call : {"OpenProcessToken", "GetTokenInformation"}) {
        apptest::ToolMachine machine;
        machine.faults.Fail(call, platform::kErrorAccessDenied);
        app::Cleaner c(machine.platform());
        c.Run();
        EXPECT_EQ(c.ExitCode(), 5u) << call;
    }
}

TEST_F(CleanerTest, FirewallIsOnlyTouchedOnNt) {
    m.system.version.platformId = platform::kVerPlatformWin32Windows;
    app::Cleaner c(m.platform());
    c.autoRestart = 0;
    c.Run();  // non-NT counts as administrator
    EXPECT_EQ(actions::CWinFirewall::TurnOnCount(), 0);
    EXPECT_EQ(c.ExitCode(), 3010u);
}

}  // namespace
