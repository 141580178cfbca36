#include "app/cleaner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/security_center.h"
#include "app/app_machine.h"
#include "engine/log_capture.h"
#include "platform/ansi.h"

namespace {

using apptest::TurnOns;
using apptest::UseWindows10;

using platform::sim::ShutdownRecord;

// What a run keeps for the next one until its sequence has gone through.
constexpr char kResumeList[] = "C:\\Windows\\Logs\\SweepTool\\sweeptool.resume.txt";

const std::vector<std::string> kFullSequence = {"Cleaner::PrepareLists",  "CNuke::MsiUninstall",
                                                "CNuke::StopNTProcesses", "CNuke::StopNTServices",
                                                "CNuke::ResetLspStack",   "RemoveSecurityCenterEntries",
                                                "CNuke::CleanupFiles",    "CNuke::CleanupRegValues",
                                                "CNuke::CleanupRegKeys",  "CNuke::StartNTProcesses"};

// A Windows whose firewall step runs (it is skipped on major version 6).
class CleanerTest : public ::testing::Test {
  protected:
    void SetUp() override { UseWindows10(m); }

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
    const std::string antiVirus = "AntiVirusProduct.instanceGuid=\"" +
                                  platform::Utf16ToAnsi(platform::GuidText(actions::kAntiVirusInstanceGuid)) +
                                  "\"";
    m.com.AddInstance("root\\SecurityCenter", antiVirus);
    app::Cleaner c(m.platform());
    c.autoRestart = 1;
    Watch(c);
    c.Run();
    EXPECT_FALSE(m.com.HasInstance("root\\SecurityCenter", antiVirus));
    EXPECT_TRUE(m.com.firewall.enabled);
    EXPECT_EQ(m.com.OpenObjects(), 0);
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
    EXPECT_EQ(TurnOns(m), 2);  // once in the restart, once at the end of Run
    EXPECT_EQ(m.system.openTokens, 0);
    EXPECT_EQ(c.ExitCode(), 1641u);
    EXPECT_FALSE(m.files.Exists(kResumeList));
}

TEST_F(CleanerTest, EachFailingStepStopsTheSequenceAndTheRestart) {
    for (size_t i = 0; i < kFullSequence.size(); ++i) {
        if (kFullSequence[i] == "RemoveSecurityCenterEntries") continue;  // gives no code
        SCOPED_TRACE(kFullSequence[i]);
        apptest::ToolMachine machine;
        UseWindows10(machine);
        app::Cleaner c(machine.platform());
        c.autoRestart = 1;
        steps.clear();
        Watch(c, kFullSequence[i], 1610);
        c.Run();
        EXPECT_EQ(steps, std::vector<std::string>(kFullSequence.begin(), kFullSequence.begin() + i + 1));
        EXPECT_TRUE(machine.system.shutdowns.empty());
        EXPECT_EQ(TurnOns(machine), 1);  // the final firewall step still runs
        EXPECT_EQ(c.sequenceCode, 1610u);
        EXPECT_EQ(c.ExitCode(), 1610u);
        EXPECT_TRUE(machine.files.Exists(kResumeList));
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
              "Uninstallation completed successfully.\nKelvaris Clearout Tool\nwill restart your computer "
              "shortly.");
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
    EXPECT_EQ(TurnOns(m), 2);
    EXPECT_EQ(c.ExitCode(), 3010u);
}

TEST_F(CleanerTest, WithoutAutoRestartASuccessfulRunNeverRestarts) {
    app::Cleaner c(m.platform());
    c.autoRestart = 0;
    c.Run();
    EXPECT_TRUE(m.system.shutdowns.empty());
    EXPECT_EQ(TurnOns(m), 1);
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
    EXPECT_EQ(TurnOns(m), 0);
    EXPECT_TRUE(m.system.sleeps.empty());
    // Without a token the privilege was never enabled, so Windows refuses.
    EXPECT_EQ(m.system.shutdowns[0].error, platform::kErrorPrivilegeNotHeld);
    EXPECT_FALSE(c.restartRequested);
}

// A restart that Windows refuses leaves the machine running with the files still queued:
// the run must end with "restart required", not "restart started", and say why.
TEST_F(CleanerTest, ARefusedRestartEndsWithRestartRequiredAndAnError) {
    const struct {
        const char* name;
        uint32_t delay;
        const char* call;    // fault planned for this call, or null
        bool privilegeHeld;  // the token holds SeShutdownPrivilege
        uint32_t error;
        const char* record;
    } cases[] = {
        {"immediate restart fails", 0, "ExitWindowsEx", true, 1115,
         "*E: Cleaner::Restart: ExitWindowsEx failed with error 1115"},
        {"timed restart fails", 60, "InitiateSystemShutdownExA", true, 1190,
         "*E: Cleaner::Restart: InitiateSystemShutdownEx failed with error 1190"},
        {"privilege not held", 0, nullptr, false, platform::kErrorPrivilegeNotHeld,
         "*E: Cleaner::Restart: ExitWindowsEx failed with error 1314"},
        {"privilege not held, timed", 30, nullptr, false, platform::kErrorPrivilegeNotHeld,
         "*E: Cleaner::Restart: InitiateSystemShutdownEx failed with error 1314"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        apptest::ToolMachine machine;
        enginetest::LogCapture log(machine);
        machine.system.tokenHasShutdownPrivilege = t.privilegeHeld;
        if (t.call) machine.faults.Fail(t.call, t.error);
        app::Cleaner c(machine.platform());
        c.autoRestart = 1;
        c.rebootDelay = t.delay;
        c.Run();
        ASSERT_EQ(machine.system.shutdowns.size(), 1u);
        EXPECT_EQ(machine.system.shutdowns[0].error, t.error);
        EXPECT_FALSE(c.restartRequested);
        EXPECT_EQ(c.ExitCode(), 3010u);
        EXPECT_TRUE(log.Has(t.record)) << log.Text();
    }
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

TEST_F(CleanerTest, APrivilegeFailureStillAsksForTheRestart) {
    m.faults.Fail("LookupPrivilegeValueA", 1313);
    app::Cleaner c(m.platform());
    c.Restart();
    ASSERT_EQ(m.system.shutdowns.size(), 1u);
    EXPECT_EQ(TurnOns(m), 1);
    EXPECT_TRUE(m.system.enabledPrivileges.empty());
    // Windows then refuses: the privilege the restart needs is not enabled.
    EXPECT_EQ(m.system.shutdowns[0].error, platform::kErrorPrivilegeNotHeld);
    EXPECT_FALSE(c.restartRequested);
}

TEST_F(CleanerTest, ToolInAFolderWhosePathFillsMaxPathStillFindsItsConfiguration) {
    // 259 characters is the longest path Windows hands back whole; one more is cut.
    std::string folder = "C:\\Tools\\";
    folder += std::string(259 - folder.size() - std::string("\\sweeptool.exe").size(), 'd');
    for (size_t extra : {0u, 1u}) {
        SCOPED_TRACE(extra);
        apptest::ToolMachine machine;
        std::string dir = folder + std::string(extra, 'd');
        machine.files.CreateDirectories(dir);
        machine.files.CreateFile(dir + "\\sweeptool.exe", "MZ");
        machine.files.CreateFile(dir + "\\sweeptool.cfg", apptest::kEmptyConfig);
        machine.system.modulePath = dir + "\\sweeptool.exe";
        ASSERT_EQ(machine.system.modulePath.size(), 259u + extra);
        app::Cleaner c(machine.platform());
        c.autoRestart = 0;
        c.Run();
        EXPECT_EQ(c.ExitCode(),
                  extra == 0 ? 3010u : static_cast<uint32_t>(platform::kErrorInsufficientBuffer));
    }
}

TEST_F(CleanerTest, RemovalBlockedSkipsTheSequenceButTurnsTheFirewallOn) {
    app::Cleaner c(m.platform());
    c.autoRestart = 1;
    m.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Corporation\\Kelvaris Shell Client");
    Watch(c);
    c.Run();
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(TurnOns(m), 1);
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
    EXPECT_EQ(TurnOns(m), 0);
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

TEST_F(CleanerTest, AListLeftByARunStoppedUnderAnotherConfigurationIsSetAsideNotTakenUp) {
    enginetest::LogCapture log(m);
    m.files.CreateFile("C:\\Data\\Precious\\doc.txt", "mine");
    const std::string listed =
        std::string(apptest::kEmptyConfig) + "remove=FILE_NAME,BY_VALUE,C:\\Data\\Precious\r\n";
    for (const std::string& config : {listed, std::string(apptest::kEmptyConfig)}) {
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", config);
        app::Cleaner c(m.platform());
        Watch(c, config == listed ? "CNuke::MsiUninstall" : "", 1618);
        c.Run();
    }
    EXPECT_TRUE(m.files.Exists("C:\\Data\\Precious\\doc.txt"));
    EXPECT_TRUE(log.Has(
        ".W: CNuke::ResumeList: 'C:\\Windows\\Logs\\SweepTool\\sweeptool.resume.txt' was made by another "
        "configuration, other options or another version and is not used; it is kept as "
        "'sweeptool.resume.old'"));
}

TEST_F(CleanerTest, FirewallIsOnlyTouchedOnNt) {
    m.system.version.platformId = platform::kVerPlatformWin32Windows;
    app::Cleaner c(m.platform());
    c.autoRestart = 0;
    c.Run();  // non-NT counts as administrator
    EXPECT_EQ(TurnOns(m), 0);
    EXPECT_EQ(c.ExitCode(), 3010u);
}

}  // namespace
