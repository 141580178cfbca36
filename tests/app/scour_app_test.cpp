#include "app/scour_app.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_machine.h"
#include "app/demo_machine.h"
#include "app/dialog_run.h"
#include "app/sim_snapshot.h"
#include "logging/log.h"
#include "platform/ansi.h"

namespace {

using platform::sim::SimServiceState;

class ScourAppTest : public ::testing::Test {
  protected:
    void SetUp() override { apptest::UseWindows10(m); }

    void Args(std::vector<std::string> rest) {
        m.system.arguments = {"sweeptool"};
        m.system.arguments.insert(m.system.arguments.end(), rest.begin(), rest.end());
    }

    bool KeyExists(const char* path) {
        platform::RegKey raw = 0;
        if (m.registry.OpenKeyEx(platform::kHkeyLocalMachine, path, platform::kKeyRead, raw) != 0)
            return false;
        m.registry.CloseKey(raw);
        return true;
    }

    // Runs the application object from construction to destruction, as the process does.
    uint32_t RunApp() {
        app::CScourApp application(m.platform());
        EXPECT_FALSE(application.InitInstance());
        duringRunNetworkKey = KeyExists(app::kSafeBootNetworkKey);
        duringRunMinimalKey = KeyExists(app::kSafeBootMinimalKey);
        return application.exitCode;
    }

    apptest::ToolMachine m;
    bool duringRunNetworkKey = false;
    bool duringRunMinimalKey = false;
};

TEST_F(ScourAppTest, HelpShowsTheUsageBoxAndChangesNothing) {
    Args({"--noreboot", "--help"});
    m.system.metrics[platform::kSmCleanBoot] = 2;
    m.services.Add("msiserver");
    EXPECT_EQ(RunApp(), 0u);
    ASSERT_EQ(m.system.messageBoxes.size(), 1u);
    EXPECT_EQ(m.system.messageBoxes[0].caption, "Usage");
    EXPECT_EQ(m.system.messageBoxes[0].text,
              "Usage:\nsweeptool [switch]\n--NOGUI to hide the user interface\n--help to see this message\n");
    EXPECT_EQ(m.system.messageBoxes[0].style, platform::kMbOk);
    // Neither the safe-boot preparation nor the sequence ran.
    EXPECT_FALSE(duringRunNetworkKey);
    EXPECT_EQ(m.services.Find("msiserver")->starts, 0);
    EXPECT_EQ(apptest::TurnOns(m), 0);
    EXPECT_TRUE(m.system.shutdowns.empty());
}

TEST_F(ScourAppTest, ASecondStartWhileTheLockIsHeldEndsWith1618AndChangesNothing) {
    guard::ToolFolder folder(m.platform());
    ASSERT_EQ(0u, folder.Open());
    platform::UniqueFile held;
    ASSERT_EQ(0u, folder.HoldExclusive(app::kRunLockFileName, held));
    const std::string before = apptest::SimSnapshot(m, {});  // the log and the tool's folder too
    for (const auto& [args, code] :
         std::vector<std::pair<std::vector<std::string>, uint32_t>>{{{"--NOGUI"}, 1618u},
                                                                    {{}, 1618u},
                                                                    {{"--preview"}, 1618u},
                                                                    {{"--check", "--preview"}, 1618u},
                                                                    {{"--check"}, 0u}}) {
        SCOPED_TRACE(args.empty() ? "dialog" : args.back());
        Args(args);
        EXPECT_EQ(RunApp(), code);
        if (code == 1618u) {
            EXPECT_EQ(before, apptest::SimSnapshot(m, {}));
        }
    }
    held.reset();  // the first run ended, however it ended
    // The run holds the lock to its last step: a start then is refused all the same.
    uint32_t during = 0;
    m.faults.SetHook([&](const std::string& call) {
        if (call != "CoCreateInstance(NetFwMgr)" || during != 0) return;
        app::CScourApp second(m.platform());
        EXPECT_FALSE(second.InitInstance());
        during = second.exitCode;
    });
    Args({"--NOGUI", "--noreboot"});
    EXPECT_EQ(RunApp(), 3010u);
    m.faults.SetHook(nullptr);
    EXPECT_EQ(during, 1618u);
}

TEST_F(ScourAppTest, NormalBootTouchesNeitherRegistryNorInstallerService) {
    Args({"--NOGUI", "--noreboot"});
    m.services.Add("msiserver");
    EXPECT_EQ(RunApp(), 3010u);
    EXPECT_EQ(m.faults.Calls("RegCreateKeyExA"), 0);
    // The service manager is opened by the detector and by the service removal step, and
    // nothing is started.
    EXPECT_EQ(m.faults.Calls("OpenSCManagerA"), 2);
    EXPECT_EQ(m.faults.Calls("StartServiceA"), 0);
    EXPECT_EQ(m.services.Find("msiserver")->starts, 0);
}

TEST_F(ScourAppTest, SafeBootWithNetworkRegistersAndStartsTheInstallerThenCleansUp) {
    Args({"--NOGUI", "--noreboot"});
    m.system.metrics[platform::kSmCleanBoot] = 2;
    m.services.Add("MSIServer");
    app::CScourApp* application = new app::CScourApp(m.platform());
    EXPECT_FALSE(application->InitInstance());
    EXPECT_TRUE(KeyExists(app::kSafeBootNetworkKey));  // still there until the process ends
    EXPECT_FALSE(KeyExists(app::kSafeBootMinimalKey));
    EXPECT_EQ(m.services.Find("msiserver")->state, SimServiceState::Running);
    EXPECT_EQ(m.services.OpenHandles(), 0);
    EXPECT_EQ(application->exitCode, 3010u);
    delete application;
    EXPECT_FALSE(KeyExists(app::kSafeBootNetworkKey));
}

TEST_F(ScourAppTest, FailSafeBootUsesTheMinimalKeyAndAcceptsARunningService) {
    Args({"--NOGUI", "--noreboot"});
    m.system.metrics[platform::kSmCleanBoot] = 1;
    m.services.Add("msiserver", SimServiceState::Running);
    EXPECT_EQ(RunApp(), 3010u);
    EXPECT_TRUE(duringRunMinimalKey);
    EXPECT_FALSE(KeyExists(app::kSafeBootMinimalKey));
}

TEST_F(ScourAppTest, AnExistingSafeModeRegistrationOutlivesTheRun) {
    // An administrator made the installer available in safe mode before the run, possibly
    // with more than this tool writes; the run must leave it exactly as it was.
    m.registry.SetString(std::string("HKEY_LOCAL_MACHINE\\") + app::kSafeBootNetworkKey, "", "Service");
    m.registry.SetString(std::string("HKEY_LOCAL_MACHINE\\") + app::kSafeBootNetworkKey, "Note",
                         "kept by admin");
    for (const char* failing : {static_cast<const char*>(nullptr), "StartServiceA"}) {
        SCOPED_TRACE(failing ? failing : "service started");
        Args({"--NOGUI", "--noreboot"});
        m.system.metrics[platform::kSmCleanBoot] = 2;
        if (m.services.Find("msiserver") == nullptr) m.services.Add("msiserver");
        if (failing) m.faults.Fail(failing, platform::kErrorAccessDenied);
        RunApp();
        EXPECT_TRUE(KeyExists(app::kSafeBootNetworkKey));
        EXPECT_TRUE(
            m.registry.ValueExists(std::string("HKEY_LOCAL_MACHINE\\") + app::kSafeBootNetworkKey, "Note"));
    }
}

TEST_F(ScourAppTest, InstallerServiceFailuresEndTheRunSilently) {
    // Each call made to fail in turn; null stands for a disabled service.
    for (const char* call : {"RegCreateKeyExA", "RegSetValueExA", "OpenSCManagerA", "OpenServiceA",
                             "StartServiceA", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(call ? call : "disabled service");
        apptest::ToolMachine machine;
        apptest::UseWindows10(machine);
        machine.system.arguments = {"sweeptool", "--NOGUI"};
        machine.system.metrics[platform::kSmCleanBoot] = 2;
        machine.services.Add("msiserver").disabled = (call == nullptr);
        if (call) machine.faults.Fail(call, platform::kErrorAccessDenied);
        uint32_t code = 0;
        {
            app::CScourApp application(machine.platform());
            application.InitInstance();
            code = application.exitCode;
            EXPECT_STREQ(application.safeBootKey, app::kSafeBootNetworkKey);
        }
        EXPECT_EQ(code, platform::kErrorInstallServiceFailure);
        EXPECT_TRUE(machine.system.messageBoxes.empty());
        EXPECT_TRUE(machine.system.shutdowns.empty());
        EXPECT_EQ(apptest::TurnOns(machine), 0);  // Run never started
        EXPECT_EQ(machine.services.OpenHandles(), 0);
        platform::RegKey raw = 0;
        EXPECT_NE(machine.registry.OpenKeyEx(platform::kHkeyLocalMachine, app::kSafeBootNetworkKey,
                                             platform::kKeyRead, raw),
                  0u)
            << "the key is deleted at exit even when a later step failed";
    }
}

TEST_F(ScourAppTest, ExitCodesFollowTheInstallerConventions) {
    {
        SCOPED_TRACE("restart started");
        apptest::ToolMachine machine;
        machine.system.arguments = {"sweeptool", "--NOGUI"};
        app::CScourApp application(machine.platform());
        application.InitInstance();
        EXPECT_EQ(application.exitCode, 1641u);
        EXPECT_EQ(machine.system.shutdowns.size(), 1u);
    }
    {
        SCOPED_TRACE("without --NOGUI no automatic restart");
        apptest::ToolMachine machine;
        machine.system.arguments = {"sweeptool"};
        app::CScourApp application(machine.platform());
        application.InitInstance();
        EXPECT_EQ(application.exitCode, 3010u);
        EXPECT_TRUE(machine.system.shutdowns.empty());
    }
    {
        SCOPED_TRACE("not an administrator");
        apptest::ToolMachine machine;
        machine.system.arguments = {"sweeptool", "--NOGUI"};
        machine.system.tokenGroups.clear();
        app::CScourApp application(machine.platform());
        application.InitInstance();
        EXPECT_EQ(application.exitCode, 5u);
    }
    {
        SCOPED_TRACE("the installer busy with another installation, for a configured upgrade code");
        platform::sim::SimMachine machine;
        apptest::BuildDemoMachine(machine);
        machine.system.arguments = {"sweeptool", "--NOGUI"};
        machine.faults.Fail("MsiConfigureProductExW", platform::kErrorInstallAlreadyRunning, -1);
        app::CScourApp application(machine.platform());
        application.InitInstance();
        EXPECT_EQ(application.exitCode, 1618u);
        EXPECT_TRUE(machine.system.shutdowns.empty());
    }
}

// The dialog is injected: a fake stands for the user's clicks and calls into the cleaner as
// the real dialog does (Run on START, Restart on RESTART).
class ScourAppDialogTest : public ScourAppTest {
  protected:
    // Runs the application with a fake dialog; the fake sees the cleaner the app built.
    uint32_t RunWithDialog(std::function<app::DialogResult(app::Cleaner&)> user) {
        app::CScourApp application(m.platform());
        application.runDialog = [&](app::Cleaner& cleaner) {
            ++dialogs;
            return user(cleaner);
        };
        EXPECT_FALSE(application.InitInstance());
        return application.exitCode;
    }

    // A configuration that names one file, which a run queues for deletion.
    void NameOneFile() {
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", std::string(apptest::kEmptyConfig) +
                                                           "remove=FILE_NAME,BY_VALUE,C:\\KV\\x.txt\r\n");
        m.files.CreateDirectories("C:\\KV");
        m.files.CreateFile("C:\\KV\\x.txt", "x");
    }

    int dialogs = 0;
};

TEST_F(ScourAppDialogTest, CancelBeforeStartEndsWith1602AndRunsNothing) {
    Args({});
    NameOneFile();
    EXPECT_EQ(RunWithDialog([](app::Cleaner&) { return app::DialogResult::CancelledBeforeStart; }), 1602u);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(apptest::TurnOns(m), 0);
    EXPECT_TRUE(m.files.PendingDeletes().empty());
    EXPECT_TRUE(m.system.shutdowns.empty());
}

TEST_F(ScourAppDialogTest, LaterAfterTheRunGivesTheRunsOwnCode) {
    {
        SCOPED_TRACE("successful run: a restart is still needed");
        Args({});
        NameOneFile();
        EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                      // The dialog's run never restarts by itself.
                      EXPECT_EQ(c.autoRestart, 0u);
                      c.Run();
                      return app::DialogResult::Later;
                  }),
                  3010u);
        EXPECT_TRUE(m.system.shutdowns.empty());
        EXPECT_EQ(apptest::TurnOns(m), 1);
        EXPECT_FALSE(m.files.Exists("C:\\KV\\x.txt"));
        std::vector<std::string> queued;
        for (const std::string& path : apptest::QueuedInStaging(m)) queued.push_back(m.files.Contents(path));
        EXPECT_EQ(queued, std::vector<std::string>{"x"});
    }
    {
        SCOPED_TRACE("a failing step");
        Args({});
        (void)m.files.DeleteFileA("C:\\Tools\\sweeptool.cfg");
        EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                      c.Run();
                      return app::DialogResult::Later;
                  }),
                  2u);
    }
    {
        SCOPED_TRACE("not an administrator");
        Args({});
        m.system.tokenGroups.clear();
        EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                      c.Run();
                      return app::DialogResult::Later;
                  }),
                  5u);
    }
}

TEST_F(ScourAppDialogTest, RestartAfterTheRunAsksWindowsToRestart) {
    Args({"--reboot-delay=0"});
    EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                  c.Run();
                  c.Restart();
                  return app::DialogResult::Restart;
              }),
              1641u);
    ASSERT_EQ(m.system.shutdowns.size(), 1u);
    EXPECT_EQ(m.system.shutdowns[0].flags, platform::kEwxReboot | platform::kEwxForce);
}

TEST_F(ScourAppDialogTest, RestartRefusedOrSuppressedStillNeedsARestart) {
    Args({"--noreboot"});
    EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                  c.Run();
                  c.Restart();
                  return app::DialogResult::Restart;
              }),
              3010u);
    EXPECT_TRUE(m.system.shutdowns.empty());
    Args({});
    m.faults.Fail("ExitWindowsEx", platform::kErrorAccessDenied);
    EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                  c.Run();
                  c.Restart();
                  return app::DialogResult::Restart;
              }),
              3010u);
}

TEST_F(ScourAppDialogTest, NoGuiNeverShowsTheDialog) {
    Args({"--nogui"});
    EXPECT_EQ(RunWithDialog([](app::Cleaner&) { return app::DialogResult::CancelledBeforeStart; }), 1641u);
    EXPECT_EQ(dialogs, 0);
    Args({"--help"});
    EXPECT_EQ(RunWithDialog([](app::Cleaner&) { return app::DialogResult::CancelledBeforeStart; }), 0u);
    EXPECT_EQ(dialogs, 0);
}

TEST_F(ScourAppDialogTest, NoRunBehindTheDialogIsNoSuccess) {
    // The window could not be created, or the finished state came without a run (the worker
    // thread could not start): nothing was removed.
    Args({});
    EXPECT_EQ(RunWithDialog([](app::Cleaner&) { return app::DialogResult::NotShown; }), 1603u);
    EXPECT_EQ(RunWithDialog([](app::Cleaner&) { return app::DialogResult::Later; }), 1603u);
    EXPECT_EQ(RunWithDialog([](app::Cleaner& c) {
                  c.Restart();
                  return app::DialogResult::Restart;
              }),
              1603u);
    EXPECT_EQ(apptest::TurnOns(m), 1);  // only the restart button's own firewall step
}

// The dialog's run as the window drives it, its worker started through the machine.
TEST_F(ScourAppDialogTest, AWorkerThatCannotStartLeavesLaterOnlyAndIsLoggedOnce) {
    const std::string record =
        "*E: UIDialog::OnStart: the worker thread could not be started (error 0008); nothing was run";
    m.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "DebugOutputLogging", 1);
    for (bool fails : {true, false}) {
        SCOPED_TRACE(fails ? "no worker" : "worker");
        Args({});
        NameOneFile();
        m.system.debugOutput.clear();
        if (fails) m.faults.Fail("_beginthreadex", platform::kErrorNotEnoughMemory);
        KvQmrLogging::ResetForTests(&m.platform());  // bound, not opened: only a run opens the log
        int finished = 0;
        bool restartOffered = fails;
        EXPECT_EQ(RunWithDialog([&](app::Cleaner& cleaner) {
                      app::DialogRun run(
                          m.platform(), [&cleaner] { cleaner.Run(); }, [&] { ++finished; });
                      EXPECT_EQ(run.Start(), !fails);
                      EXPECT_EQ(run.state(), app::DialogRun::State::Finished);
                      restartOffered = run.OffersRestart();
                      return app::DialogResult::Later;
                  }),
                  fails ? 1603u : 3010u);
        KvQmrLogging::ResetForTests(nullptr);
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(restartOffered, !fails);
        EXPECT_EQ(m.files.Exists("C:\\KV\\x.txt"), fails);
        std::string text;
        for (const std::u16string& line : m.system.debugOutput) text += platform::Utf16ToAnsi(line);
        EXPECT_EQ(text.find(record) != std::string::npos, fails);
        EXPECT_EQ(text.find(record), text.rfind(record));
    }
}

}  // namespace
