// The run report, the plan file and the console text, as whole runs of the application leave
// them on a simulated machine.
#include "app/run_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/app_machine.h"
#include "app/console_output.h"
#include "engine/list_init.h"
#include "engine/log_capture.h"

namespace {

using Json = nlohmann::json;

constexpr char kShellFolders[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kLogFolder[] = "C:\\ProgramData\\Kelvaris\\Logs\\tool";
// The tool's own folder, which holds the report and the plan; the log stays in its own.
constexpr char kFolder[] = "C:\\Windows\\Logs\\SweepTool";
constexpr char kReport[] = "C:\\Windows\\Logs\\SweepTool\\sweeptool.report.json";
constexpr char kPlan[] = "C:\\Windows\\Logs\\SweepTool\\sweeptool.plan.txt";
// Administrators and SYSTEM only, as the simulated machine stores it.
constexpr char kAdministratorsOnly[] = "D:P(A;OICI;0x1F01FF;;;S-1-5-32-544)(A;OICI;0x1F01FF;;;S-1-5-18)";
constexpr char kUser[] = "S-1-5-21-1000-1000-1000-1001";
constexpr char kAppKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KV Test";

// One file in a folder, one value and one key with a value of its own.
constexpr char kConfig[] =
    "[msi upgradecode 1]\r\n[service 1]\r\n[process 1]\r\n"
    "[registry value 1]\r\nremove=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\KV Run\\Tray\r\n"
    "[registry key 1]\r\nremove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\KV Test\r\n"
    "[file 1]\r\nremove=FILE_NAME,BY_VALUE,C:\\KV\r\n";

class RunReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        apptest::UseWindows10(m);
        m.registry.SetString(kShellFolders, "Common AppData", "C:\\ProgramData");
        m.files.CreateDirectories("C:\\ProgramData");
    }

    void Configure() {
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", kConfig);
        m.files.CreateFile("C:\\KV\\x.txt", "x");
        m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\KV Run", "Tray", "kv.exe");
        m.registry.SetString(kAppKey, "Path", "C:\\KV", platform::sim::View::K64);
    }

    uint32_t RunApp(std::vector<std::string> rest, app::DialogRunner dialog = nullptr) {
        m.system.arguments = {"C:\\Tools\\sweeptool.exe"};
        m.system.arguments.insert(m.system.arguments.end(), rest.begin(), rest.end());
        app::CScourApp application(m.platform());
        application.runDialog = dialog;
        EXPECT_FALSE(application.InitInstance());
        return application.exitCode;
    }

    Json Report() {
        EXPECT_TRUE(m.files.Exists(kReport));
        return Json::parse(m.files.Contents(kReport));
    }

    const Json& Step(const Json& report, const std::string& name) {
        for (const Json& s : report["steps"])
            if (s["name"] == name) return s;
        static const Json none;
        ADD_FAILURE() << "no step " << name;
        return none;
    }

    // The plan file's text after its byte-order mark.
    std::string PlanText() {
        std::string bytes = m.files.Contents(kPlan);
        EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
        return bytes.size() < 3 ? std::string() : bytes.substr(3);
    }

    apptest::ToolMachine m;
};

TEST_F(RunReportTest, ASuccessfulRunReportsEveryStepAndWhatItTookOff) {
    Configure();
    m.system.timeZone.bias = -90;  // UTC+01:30
    EXPECT_EQ(RunApp({"--NOGUI", "--noreboot"}), 3010u);
    Json r = Report();
    EXPECT_EQ(r["format"], 1);
    EXPECT_EQ(r["version"], engine::VersionText());
    EXPECT_EQ(r["start"], "2016-01-20T01:30:00+01:30");
    // Sixteen 5-second pauses of the built-in upgrade codes, 1.5 s before the files, and the
    // restart's 0.5 s pause, which comes even with --noreboot.
    EXPECT_EQ(r["end"], "2016-01-20T01:31:22+01:30");
    EXPECT_EQ(r["program"], "C:\\Tools\\sweeptool.exe");
    EXPECT_EQ(r["arguments"], Json({"--NOGUI", "--noreboot"}));
    EXPECT_EQ(r["options"]["noReboot"], true);
    EXPECT_EQ(r["options"]["autoRestart"], true);
    EXPECT_EQ(r["options"]["dialog"], false);
    EXPECT_EQ(r["options"]["removeAll"], false);
    EXPECT_EQ(r["mode"], "run");
    EXPECT_EQ(r["outcome"], "succeeded");
    EXPECT_EQ(r["exitCode"], 3010);
    EXPECT_EQ(r["exitMeaning"], "the removal succeeded and a restart is still needed");
    EXPECT_EQ(r["restartRequested"], false);

    ASSERT_EQ(r["steps"].size(), app::Cleaner::SequenceSteps().size());
    for (const Json& s : r["steps"]) {
        EXPECT_EQ(s["ran"], true) << s["name"];
        EXPECT_EQ(s["code"], 0) << s["name"];
    }
    // What the simulated machine shows was done.
    size_t queued = m.files.PendingDeletes().size() - 1;
    ASSERT_EQ(queued, 2u);  // the file and its batch folder, beside the staging folder
    const Json& files = Step(r, "CNuke::CleanupFiles")["counts"];
    EXPECT_EQ(files["filesListed"], queued);
    EXPECT_EQ(files["filesQueued"], queued);
    EXPECT_EQ(files["filesFailed"], 0);
    EXPECT_FALSE(m.registry.ValueExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\KV Run", "Tray"));
    EXPECT_FALSE(m.registry.Exists(kAppKey, platform::sim::View::K64));
    const Json& values = Step(r, "CNuke::CleanupRegValues")["counts"];
    EXPECT_GE(values["valuesDeleted"], 1);
    EXPECT_EQ(values["valuesFailed"], 0);
    const Json& keys = Step(r, "CNuke::CleanupRegKeys")["counts"];
    EXPECT_EQ(keys["keysListed"], 1);
    EXPECT_EQ(keys["keysDeleted"], 1);
    EXPECT_EQ(Step(r, "CNuke::StopNTServices")["counts"]["servicesDeleted"], 0);
    EXPECT_FALSE(Step(r, "Cleaner::PrepareLists").contains("counts"));
    EXPECT_EQ(r["errors"], 0);
    EXPECT_TRUE(r["registryBackup"].is_string());
    EXPECT_FALSE(r.contains("check"));
    EXPECT_FALSE(r.contains("preview"));
    // A normal run writes no plan.
    EXPECT_FALSE(m.files.Exists(kPlan));
}

TEST_F(RunReportTest, TheErrorsTotalCountsTheFailedObjectsOfEveryStep) {
    Configure();
    m.faults.Fail("NtDeleteKey", platform::kErrorAccessDenied, -1);
    m.faults.Fail("RegDeleteValueA", platform::kErrorAccessDenied, -1);
    EXPECT_EQ(RunApp({"--NOGUI", "--noreboot"}), 3010u);
    Json r = Report();
    const Json& keysFailed = Step(r, "CNuke::CleanupRegKeys")["counts"]["keysFailed"];
    const Json& valuesFailed = Step(r, "CNuke::CleanupRegValues")["counts"]["valuesFailed"];
    EXPECT_EQ(keysFailed, 1);
    EXPECT_EQ(r["errors"], keysFailed.get<int>() + valuesFailed.get<int>());
}

TEST_F(RunReportTest, AFailedStepIsNamedAndTheStepsAfterItDidNotRun) {
    (void)m.files.DeleteFileA("C:\\Tools\\sweeptool.cfg");
    EXPECT_EQ(RunApp({"--NOGUI"}), 2u);
    Json r = Report();
    EXPECT_EQ(r["outcome"], "step failed");
    EXPECT_EQ(r["exitCode"], 2);
    EXPECT_EQ(r["exitMeaning"], "the configuration file was not found beside the executable");
    const Json& steps = r["steps"];
    EXPECT_EQ(steps[0]["name"], "Cleaner::PrepareLists");
    EXPECT_EQ(steps[0]["ran"], true);
    EXPECT_EQ(steps[0]["code"], 2);
    for (size_t i = 1; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i]["ran"], false) << steps[i]["name"];
        EXPECT_TRUE(steps[i]["code"].is_null()) << steps[i]["name"];
        EXPECT_FALSE(steps[i].contains("counts")) << steps[i]["name"];
    }
    EXPECT_EQ(r["errors"], 1);
}

TEST_F(RunReportTest, RunsThatNeverReachTheSequenceStillReport) {
    {
        SCOPED_TRACE("refused");
        m.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Corporation\\Kelvaris Shell Client");
        EXPECT_EQ(RunApp({"--NOGUI"}), 1625u);
        Json r = Report();
        EXPECT_EQ(r["outcome"], "refused");
        EXPECT_EQ(r["exitCode"], 1625);
        EXPECT_EQ(r["version"], engine::VersionText());
        for (const Json& s : r["steps"]) EXPECT_EQ(s["ran"], false);
        // The refusal stays silent: the report is no log.
        EXPECT_FALSE(m.files.Exists(std::string(kLogFolder) + "\\sweeptool.log"));
        (void)m.registry.DeleteKey(platform::kHkeyLocalMachine,
                                   "SOFTWARE\\Kelvaris Corporation\\Kelvaris Shell Client");
    }
    {
        // Only Administrators and SYSTEM may write to the tool's folder: the earlier report stays.
        SCOPED_TRACE("not an administrator");
        enginetest::LogCapture log(m);
        const std::string earlier = m.files.Contents(kReport);
        const auto groups = m.system.tokenGroups;
        m.system.tokenGroups.clear();
        EXPECT_EQ(RunApp({"--NOGUI"}), 5u);
        EXPECT_EQ(m.files.Contents(kReport), earlier);
        EXPECT_TRUE(
            log.Has("*E: CScourApp::WriteRunReport: could not write 'sweeptool.report.json' to the tool's "
                    "folder, error "))
            << log.Text();
        m.system.tokenGroups = groups;
    }
    {
        SCOPED_TRACE("cancelled in the dialog");
        EXPECT_EQ(RunApp({}, [](app::Cleaner&) { return app::DialogResult::CancelledBeforeStart; }), 1602u);
        Json r = Report();
        EXPECT_EQ(r["outcome"], "not run");
        EXPECT_EQ(r["options"]["dialog"], true);
        EXPECT_EQ(r["exitCode"], 1602);
    }
    {
        SCOPED_TRACE("the installer service could not be prepared in safe mode");
        m.system.metrics[platform::kSmCleanBoot] = 1;  // and no msiserver service
        EXPECT_EQ(RunApp({"--NOGUI"}), 1601u);
        EXPECT_EQ(Report()["exitCode"], 1601);
    }
}

TEST_F(RunReportTest, TheDialogsRunIsReportedWithItsSteps) {
    Configure();
    EXPECT_EQ(RunApp({},
                     [](app::Cleaner& c) {
                         c.Run();
                         return app::DialogResult::Later;
                     }),
              3010u);
    Json r = Report();
    EXPECT_EQ(r["outcome"], "succeeded");
    EXPECT_EQ(Step(r, "CNuke::CleanupRegKeys")["counts"]["keysDeleted"], 1);
}

TEST_F(RunReportTest, TheUsageBoxWritesNoReport) {
    EXPECT_EQ(RunApp({"--check", "--help"}), 0u);
    EXPECT_EQ(m.system.messageBoxes.size(), 1u);
    EXPECT_FALSE(m.files.Exists(kReport));
    EXPECT_FALSE(m.files.Exists(kPlan));
    EXPECT_FALSE(m.system.consoleAttached);
}

TEST_F(RunReportTest, TextOutsideAsciiArrivesAsUtf8) {
    // "é" in the ANSI code page; the argument is taken (the delay match is a substring match).
    EXPECT_EQ(RunApp({"--NOGUI", "--noreboot", "--reboot-delay=5\xE9"}), 3010u);
    Json r = Report();
    EXPECT_EQ(r["arguments"][2], "--reboot-delay=5\xC3\xA9");
    EXPECT_EQ(r["options"]["rebootDelay"], 5);
}

TEST_F(RunReportTest, AReportThatCannotBeWrittenIsAnErrorRecordAndNothingElse) {
    m.files.CreateDirectories("C:\\Elsewhere");
    for (const char* folder : {"C:\\Windows\\Logs", kFolder}) {
        SCOPED_TRACE(std::string(folder) + " is a link");
        (void)m.files.Remove(folder);
        ASSERT_TRUE(m.files.CreateLink(folder, "C:\\Elsewhere", true));
        enginetest::LogCapture log(m);
        EXPECT_EQ(RunApp({"--NOGUI", "--noreboot"}), 3010u);
        EXPECT_TRUE(m.files.List("C:\\Elsewhere").empty());
        EXPECT_TRUE(
            log.Has("*E: CScourApp::WriteRunReport: could not write 'sweeptool.report.json' to the tool's "
                    "folder, error 0681"))
            << log.Text();
        ASSERT_TRUE(m.files.Remove(folder));
        ASSERT_TRUE(m.files.CreateDirectories("C:\\Windows\\Logs"));
    }
    {
        SCOPED_TRACE("the report's own name is a link");
        m.files.CreateFile("C:\\Windows\\win.ini", "keep");
        ASSERT_TRUE(m.files.CreateLink(kReport, "C:\\Windows\\win.ini", false));
        EXPECT_EQ(RunApp({"--NOGUI", "--noreboot"}), 3010u);
        EXPECT_EQ(m.files.Contents("C:\\Windows\\win.ini"), "keep");
        // The link goes; the report takes its name.
        EXPECT_EQ(m.files.Attributes(kReport) & platform::kFileAttributeReparsePoint, 0u);
        EXPECT_FALSE(m.files.Contents(kReport).empty());
        ASSERT_TRUE(m.files.Remove(kReport));
    }
    {
        SCOPED_TRACE("no Windows folder");
        m.faults.Fail("GetWindowsDirectoryA", platform::kErrorNotEnoughMemory, -1);
        enginetest::LogCapture log(m);
        EXPECT_EQ(RunApp({"--NOGUI", "--noreboot"}), 3010u);
        EXPECT_FALSE(m.files.Exists(kReport));
        EXPECT_TRUE(
            log.Has("*E: CScourApp::WriteRunReport: could not write 'sweeptool.report.json' to the tool's "
                    "folder, error 0003"))
            << log.Text();
    }
}

TEST_F(RunReportTest, AnEarlierReportIsReplacedAndTheFolderIsTakenOverForAdministrators) {
    EXPECT_EQ(RunApp({"--NOGUI"}), 1641u);
    EXPECT_EQ(Report()["exitCode"], 1641);
    EXPECT_EQ(m.files.SecurityOf(kFolder)->ownerSid, "S-1-5-32-544");
    EXPECT_EQ(m.files.SecurityOf(kFolder)->sddl, kAdministratorsOnly);
    EXPECT_EQ(m.files.SecurityOf(kReport)->sddl, "") << "the folder's, inherited";
    EXPECT_NE(m.files.SecurityOf("C:\\Windows\\Logs")->sddl, kAdministratorsOnly);
    // A folder of that name someone else made and opened up is taken back. What they put in it
    // is set aside into a folder the run makes, never into one they made under the name the
    // run picks next.
    m.files.SecurityOf(kFolder)->ownerSid = kUser;
    m.files.SecurityOf(kFolder)->sddl = "D:(A;OICI;0x1F01FF;;;S-1-1-0)";
    std::string named = "SetAside.";
    for (int i = 0; i < 16; ++i) named += "AB";
    m.system.nextGuids = {std::vector<uint8_t>(16, 0xAB)};
    ASSERT_TRUE(m.files.CreateDirectories(std::string(kFolder) + "\\" + named));
    m.files.SecurityOf(std::string(kFolder) + "\\" + named)->ownerSid = kUser;
    EXPECT_EQ(RunApp({"--NOGUI", "--noreboot"}), 3010u);
    EXPECT_EQ(Report()["exitCode"], 3010);
    EXPECT_EQ(m.files.SecurityOf(kFolder)->ownerSid, "S-1-5-32-544");
    EXPECT_EQ(m.files.SecurityOf(kFolder)->sddl, kAdministratorsOnly);
    std::vector<std::string> asides;
    for (const std::string& name : m.files.List(kFolder))
        if (name.rfind("SetAside.", 0) == 0) asides.push_back(name);
    ASSERT_EQ(asides.size(), 1u);
    EXPECT_NE(asides[0], named);
    const std::string moved = std::string(kFolder) + "\\" + asides[0] + "\\" + named;
    EXPECT_EQ(m.files.SecurityOf(moved)->ownerSid, kUser) << moved;
}

// --check and --preview: the text on the console and in the plan file, the report's sections.
class CheckPreviewTest : public RunReportTest {
  protected:
    void SetUp() override {
        RunReportTest::SetUp();
        m.system.parentConsole = true;
    }

    // The console text as UTF-8, for comparison with the plan file.
    std::string ConsoleText() { return app::Utf16ToUtf8(m.system.consoleOutputText); }
};

TEST_F(CheckPreviewTest, CheckPrintsItsTextToTheConsoleAndThePlanFileAndChangesNothing) {
    Configure();
    m.system.metrics[platform::kSmCleanBoot] = 2;
    m.services.Add("msiserver");
    int dialogs = 0;
    uint32_t code = RunApp({"--check", "--NOGUI"}, [&](app::Cleaner&) {
        ++dialogs;
        return app::DialogResult::Later;
    });
    Json r = Report();
    EXPECT_EQ(code, r["check"]["code"]);
    EXPECT_EQ(r["mode"], "check");
    EXPECT_EQ(r["exitCode"], code);
    EXPECT_EQ(r["check"]["file"], "C:\\Tools\\sweeptool.cfg");
    EXPECT_EQ(r["check"]["problemCount"], r["check"]["problems"].size());
    EXPECT_FALSE(r.contains("preview"));
    EXPECT_TRUE(m.system.consoleAttached);
    EXPECT_FALSE(ConsoleText().empty());
    EXPECT_EQ(ConsoleText(), PlanText());
    EXPECT_NE(ConsoleText().find("\r\n"), std::string::npos);
    EXPECT_EQ(ConsoleText().find_first_of('\n'), ConsoleText().find("\r\n") + 1);
    // Nothing of a run: no dialog, no safe-mode registration, no removal, no restart.
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(m.faults.Calls("RegCreateKeyExA"), 0);
    EXPECT_EQ(m.services.Find("msiserver")->starts, 0);
    EXPECT_TRUE(m.files.PendingDeletes().empty());
    EXPECT_TRUE(m.registry.Exists(kAppKey, platform::sim::View::K64));
    EXPECT_TRUE(m.system.shutdowns.empty());
    EXPECT_EQ(apptest::TurnOns(m), 0);
}

TEST_F(CheckPreviewTest, PreviewPrintsThePlanAndReportsItsCounts) {
    Configure();
    uint32_t code = RunApp({"--PREVIEW", "--NOGUI", "--removeall"});
    Json r = Report();
    EXPECT_EQ(r["mode"], "preview");
    EXPECT_EQ(r["options"]["removeAll"], true);
    const Json& p = r["preview"];
    EXPECT_EQ(p["code"], code);
    for (const char* field : {"products", "processes", "services", "files", "values", "keys", "kept"})
        EXPECT_TRUE(p[field].is_number_unsigned()) << field;
    EXPECT_FALSE(r.contains("check"));
    EXPECT_FALSE(ConsoleText().empty());
    EXPECT_EQ(ConsoleText(), PlanText());
    EXPECT_TRUE(m.files.PendingDeletes().empty());
    EXPECT_TRUE(m.registry.Exists(kAppKey, platform::sim::View::K64));
    EXPECT_TRUE(m.files.Exists("C:\\KV\\x.txt"));
    EXPECT_TRUE(m.system.shutdowns.empty());
}

TEST_F(CheckPreviewTest, WithBothTheCheckComesFirstAndAProblemStopsThePreview) {
    (void)m.files.DeleteFileA("C:\\Tools\\sweeptool.cfg");
    EXPECT_EQ(RunApp({"--preview", "--check"}), 2u);
    Json r = Report();
    EXPECT_EQ(r["mode"], "preview");
    EXPECT_EQ(r["check"]["code"], 2);
    EXPECT_TRUE(r["preview"].is_null());
    EXPECT_EQ(r["exitMeaning"], "the configuration file was not found beside the executable");
    EXPECT_NE(ConsoleText().find("No preview: the configuration has problems.\r\n"), std::string::npos);
    EXPECT_EQ(ConsoleText(), PlanText());
    Configure();  // a repeated line only warns: the preview goes on
    m.files.CreateFile("C:\\Tools\\sweeptool.cfg",
                       std::string(kConfig) + "remove=FILE_NAME,BY_VALUE,C:\\KV\r\n");
    EXPECT_EQ(RunApp({"--preview", "--check"}), 0u);
    EXPECT_NE(PlanText().find("0 errors, 1 warning\r\nPreview of a removal run: what"), std::string::npos);
}

TEST_F(CheckPreviewTest, OutputSentToAFileOrPipeGetsUtf8BytesAndNoConsoleIsTaken) {
    for (uint32_t type : {platform::kFileTypeDisk, platform::kFileTypePipe, platform::kFileTypeChar}) {
        SCOPED_TRACE(type);
        apptest::ToolMachine machine;
        machine.registry.SetString(kShellFolders, "Common AppData", "C:\\ProgramData");
        machine.system.parentConsole = true;
        machine.system.stdOutputType = type;  // a character device that is no console: NUL
        machine.system.arguments = {"sweeptool", "--check"};
        app::CScourApp application(machine.platform());
        application.InitInstance();
        EXPECT_FALSE(machine.system.consoleAttached);
        EXPECT_TRUE(machine.system.consoleOutputText.empty());
        std::string plan = machine.files.Contents(kPlan);
        ASSERT_GT(plan.size(), 3u);
        EXPECT_EQ(machine.system.stdOutputBytes, plan.substr(3));  // no byte-order mark on a stream
    }
}

TEST_F(CheckPreviewTest, WithoutAParentConsoleNothingIsPrintedAndTheRestGoesOn) {
    m.system.parentConsole = false;
    uint32_t code = RunApp({"--check"});
    EXPECT_FALSE(m.system.consoleAttached);
    EXPECT_TRUE(m.system.consoleOutputText.empty());
    EXPECT_FALSE(PlanText().empty());
    EXPECT_EQ(Report()["exitCode"], code);
}

TEST_F(CheckPreviewTest, ThePlanFileIsRewrittenAndALinkAtItsNameIsReplacedNotFollowed) {
    m.files.CreateFile(kPlan, "\xEF\xBB\xBFold plan that was much longer than the new one\r\n");
    RunApp({"--check"});
    EXPECT_EQ(PlanText(), ConsoleText());
    ASSERT_TRUE(m.files.Remove(kPlan));
    m.files.CreateFile("C:\\Windows\\win.ini", "keep");
    ASSERT_TRUE(m.files.CreateLink(kPlan, "C:\\Windows\\win.ini", false));
    enginetest::LogCapture log(m);
    RunApp({"--check"});
    EXPECT_EQ(m.files.Contents("C:\\Windows\\win.ini"), "keep");
    EXPECT_EQ(0u, m.files.Attributes(kPlan) & platform::kFileAttributeReparsePoint);
    EXPECT_NE(std::string::npos, PlanText().find("no problems"));
    EXPECT_FALSE(log.Has("*E: CScourApp::WritePlan:")) << log.Text();
}

TEST(ConsoleText, LineEndsAndEncodings) {
    EXPECT_EQ(app::WithCrLf("a\nb\r\nc\n\n"), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(app::WithCrLf("\n"), "\r\n");
    EXPECT_EQ(app::Utf16ToUtf8(u"A\u00e9\u20ac\U0001F600"), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    // A lone surrogate would make the report unreadable JSON.
    EXPECT_EQ(app::Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(app::AnsiToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");  // Windows-1252
}

TEST(ConsoleText, AFailingConsoleWriteEndsThePrintingQuietly) {
    platform::sim::SimMachine m;
    m.system.parentConsole = true;
    m.faults.Fail("WriteConsoleW", platform::kErrorNotEnoughMemory);
    EXPECT_EQ(app::PrintToConsole(m.system, "text\n"), app::ConsoleTarget::Console);
    EXPECT_TRUE(m.system.consoleOutputText.empty());
    // A long text goes out in pieces, all of it.
    std::string big(20000, 'x');
    EXPECT_EQ(app::PrintToConsole(m.system, big), app::ConsoleTarget::Console);
    EXPECT_EQ(m.system.consoleOutputText.size(), big.size());
}

TEST(Timestamps, OffsetsEastAndWestOfUtc) {
    platform::sim::SimMachine m;
    m.system.timeZone.bias = 300;  // UTC-05:00
    m.system.clockMs = 10 * 3600 * 1000;
    EXPECT_EQ(app::LocalTimestamp(m.system), "2016-01-20T05:00:00-05:00");
    m.system.timeZone.bias = -120;  // UTC+02:00, past local midnight
    m.system.clockMs = 23 * 3600 * 1000 + 5000;
    EXPECT_EQ(app::LocalTimestamp(m.system), "2016-01-21T01:00:05+02:00");
}

}  // namespace
