#include "app/preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "actions/builtin_upgrade_codes.h"
#include "app/app_machine.h"
#include "app/cleaner.h"
#include "app/demo_machine.h"
#include "app/sim_snapshot.h"
#include "engine/log_capture.h"
#include "expand/installer_guid.h"

namespace {

using namespace apptest;  // the demo machine
using platform::sim::SimMachine;
using platform::sim::SimMsiProduct;
using platform::sim::SimServiceState;
using platform::sim::View;

// The lines of one section of a plan, without their indent.
std::vector<std::string> SectionLines(const std::string& plan, const std::string& title) {
    std::vector<std::string> lines;
    size_t at = plan.find("\n" + title + ":\n");
    if (at == std::string::npos) return lines;
    at = plan.find('\n', at + 1) + 1;
    while (at < plan.size() && plan.compare(at, 2, "  ") == 0) {
        size_t end = plan.find('\n', at);
        std::string line = plan.substr(at + 2, end - at - 2);
        if (line != "(none)") lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

// The object of a registry line, without its "(view)".
std::set<std::string> RegistryObjects(const std::vector<std::string>& lines) {
    std::set<std::string> objects;
    for (const std::string& l : lines) objects.insert(l.substr(0, l.rfind(" (")));
    return objects;
}

std::set<std::string> ListOf(engine::TSet& list) {
    std::set<std::string> items;
    const char* s = nullptr;
    for (uint32_t r = list.First(&s); r == 0; r = list.Next(&s)) items.insert(s);
    return items;
}

// What lies at or below an object the preview could not read.
bool Below(const std::string& object, const std::string& top) {
    return object == top || object.rfind(top + "\\", 0) == 0;
}

// Every file and folder on the machine's C: drive, upper case, the tool's log and own folders
// left out; links as themselves.
std::set<std::string> FileTree(SimMachine& m) {
    std::string lines;
    for (const std::string& name : m.files.List("C:\\"))
        apptest::snapshot_detail::RenderFile(m, "C:\\" + name,
                                             {apptest::kToolLogFolder, apptest::kToolFolder}, lines);
    std::set<std::string> all;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);)  // "file <path> attributes=..."
        all.insert(apptest::snapshot_detail::Upper(line.substr(5, line.find(" attributes=") - 5)));
    return all;
}

std::string KeptReason(const engine::CNuke& engine, const std::string& object) {
    for (const auto& k : engine.kept)
        if (k.object == object) return k.reason;
    return "";
}

class PreviewTest : public ::testing::Test {
  protected:
    void SetUp() override { BuildDemoMachine(m); }
    apptest::ToolMachine m;
};

TEST_F(PreviewTest, ChangesNothingAndPlansExactlyWhatTheRunThenRemoves) {
    apptest::ToolMachine twin;
    BuildDemoMachine(twin);
    // Full paths that name no program: one that is not there, and a folder.
    std::string config = kDemoConfig;
    config.insert(config.find("[registry value 1]"),
                  "start=FILE_NAME,BY_VALUE,C:\\Tools\\kvgone.exe\r\nstart=FILE_NAME,BY_VALUE,C:\\Tools\r\n");
    for (SimMachine* machine : {static_cast<SimMachine*>(&m), static_cast<SimMachine*>(&twin)})
        machine->files.CreateFile("C:\\Tools\\sweeptool.cfg", config);
    const std::string before = apptest::SimSnapshot(m, {});
    ASSERT_EQ(before, apptest::SimSnapshot(twin, {}));

    app::Cleaner preview(m.platform());
    preview.autoRestart = 1;
    preview.noReboot = 1;
    KvQmrLogging::ResetForTests(&m.platform());  // bound as the program binds it
    const app::PreviewResult result = app::RunPreview(preview);
    KvQmrLogging::ResetForTests(nullptr);
    EXPECT_EQ(result.code, 0u) << result.plan;
    if (std::getenv("PREVIEW_DUMP")) std::printf("%s", result.plan.c_str());
    EXPECT_EQ(apptest::SimSnapshot(m, {}), before);
    EXPECT_TRUE(m.installer.calls.empty());
    EXPECT_TRUE(m.system.sleeps.empty());
    const std::string& plan = result.plan;

    app::Cleaner run(twin.platform());
    run.autoRestart = 1;
    run.noReboot = 1;
    run.Run();
    ASSERT_EQ(run.outcome, app::RunOutcome::Succeeded);

    // Files: what the run took from its place (the preview's machine still shows the twin as
    // it was) is the plan and, besides it, the folder the preview could not read with its file.
    // Folders go at once; files wait in the staging folder, each queued there, and the restart
    // empties that folder and takes it too.
    const std::set<std::string> was = FileTree(m), is = FileTree(twin);
    std::set<std::string> gone, added;
    std::set_difference(was.begin(), was.end(), is.begin(), is.end(), std::inserter(gone, gone.end()));
    std::set_difference(is.begin(), is.end(), was.begin(), was.end(), std::inserter(added, added.end()));
    const auto files = SectionLines(plan, "Files and folders to delete at restart");
    std::set<std::string> plannedFiles{kLocked, std::string(kLocked) + "\\SECRET.DAT"};
    for (const std::string& f : files) plannedFiles.insert(apptest::snapshot_detail::Upper(f));
    EXPECT_EQ(gone, plannedFiles);
    EXPECT_EQ(result.files, files.size());
    EXPECT_TRUE(gone.count("C:\\USERS\\OTHER\\APPDATA\\ROAMING\\KELVARIS DEMO\\SETTINGS.INI"));
    const std::vector<std::string> staged = apptest::QueuedInStaging(twin);
    ASSERT_FALSE(staged.empty());
    const std::string batch = staged[0].substr(0, staged[0].rfind('\\'));
    const std::string staging = batch.substr(0, batch.rfind('\\'));
    for (const std::string& a : added) EXPECT_TRUE(Below(a, apptest::snapshot_detail::Upper(staging))) << a;
    EXPECT_EQ(staged.size(), twin.files.List(batch).size());
    twin.files.SimulateRestart();
    EXPECT_FALSE(twin.files.Exists(staging));

    // Registry: what the run worked through, each gone from the view the plan names.
    std::set<std::string> runKeys;
    for (const std::string& k : ListOf(run.engine.regKeyList))
        if (!Below(k, kLockedKey)) runKeys.insert(k);
    const auto keys = SectionLines(plan, "Registry keys to delete");
    EXPECT_EQ(RegistryObjects(keys), runKeys);
    std::set<std::string> runValues;
    for (const std::string& v : ListOf(run.engine.regValueList))
        if (!Below(v, kLockedKey)) runValues.insert(v);
    const auto values = SectionLines(plan, "Registry values to delete");
    EXPECT_EQ(RegistryObjects(values), runValues);
    // Each planned object is gone afterwards from the view the plan found it in.
    auto viewOf = [](const std::string& line) {
        return line.find("(64-bit view)") != std::string::npos ? View::K64 : View::K32;
    };
    for (const std::string& line : keys) {
        const std::string key = line.substr(0, line.rfind(" ("));
        EXPECT_FALSE(twin.registry.Exists(key, viewOf(line))) << line;
    }
    for (const std::string& line : values) {
        const std::string value = line.substr(0, line.rfind(" ("));
        const size_t at = value.rfind('\\');
        EXPECT_FALSE(twin.registry.ValueExists(value.substr(0, at), value.substr(at + 1), viewOf(line)))
            << line;
    }
    EXPECT_TRUE(runKeys.count("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\GUARDED"))
        << "a key closed to deletion but open to reading is planned";
    EXPECT_FALSE(twin.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\\Agent", View::K64));
    EXPECT_FALSE(twin.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\\Guarded", View::K64));
    EXPECT_TRUE(twin.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\\Shared", View::K64));
    EXPECT_NE(plan.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\KELVARISDEMO "
                        "(32-bit view)"),
              std::string::npos);
    EXPECT_NE(plan.find("HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS DEMO (both)"), std::string::npos);
    EXPECT_NE(plan.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\AGENT (64-bit view)"),
              std::string::npos);

    // Services, processes and products.
    EXPECT_EQ(SectionLines(plan, "Services to stop and delete"),
              std::vector<std::string>{"KVDEMOSVC (running)"});
    EXPECT_EQ(twin.services.removed, std::vector<std::string>{"KvDemoSvc"});
    EXPECT_EQ(SectionLines(plan, "Programs to start"),
              (std::vector<std::string>{"C:\\TOOLS (not found: starting it will fail)",
                                        "C:\\TOOLS\\KVGONE.EXE (not found: starting it will fail)",
                                        "C:\\TOOLS\\KVNEXT.EXE (found as C:\\TOOLS\\KVNEXT.EXE)",
                                        "KVAFTER.EXE (not found: starting it will fail)"}));
    EXPECT_EQ(twin.processes.started, std::vector<std::string>{"C:\\TOOLS\\KVNEXT.EXE"});
    std::set<std::string> ended;
    for (const auto& e : twin.processes.exited)
        if (e.terminated) ended.insert(e.exeFile + " (process " + std::to_string(e.processId) + ")");
    const auto processes = SectionLines(plan, "Processes to end");
    EXPECT_EQ(std::set<std::string>(processes.begin(), processes.end()), ended);
    EXPECT_EQ(ended.size(), 2u);

    std::set<std::string> uninstalled;
    for (const std::string& code : m.installer.ProductCodes())
        if (!twin.installer.IsInstalled(code)) uninstalled.insert(expand::DarwinTransform(code.c_str()));
    std::set<std::string> planned;
    for (const std::string& line : SectionLines(plan, "Products to uninstall")) {
        size_t brace = line.find('{');
        planned.insert(brace != std::string::npos ? expand::DarwinTransform(line.substr(brace, 38).c_str())
                                                  : line.substr(line.rfind(") ") + 2, 32));
    }
    EXPECT_EQ(planned, uninstalled);
    EXPECT_EQ(planned.size(), 3u);
    EXPECT_TRUE(twin.installer.IsInstalled(kForeignCode));
    EXPECT_NE(plan.find("Kelvaris Demo Agent 2.1.0 (Kelvaris Corp.) " + std::string(kAgentCode) +
                        " - configured upgrade code " + kUpgradeCode),
              std::string::npos);
    EXPECT_NE(plan.find("Kelvaris Legacy Shield 1.0.0 (KELVARIS Corp.) " + std::string(kLegacyCode) +
                        " - built-in upgrade code"),
              std::string::npos);
    EXPECT_NE(plan.find("Kelvaris Helper 0.9.0 (Kelvaris Corp.) " + expand::DarwinTransform(kHelperCode) +
                        " - database scan"),
              std::string::npos);
    EXPECT_EQ(plan.find("Partner Toolbar"), std::string::npos);

    EXPECT_NE(plan.find("layered entry KvFilter"), std::string::npos);
    EXPECT_NE(plan.find("the 64-bit catalogue, through instkvps_x64.exe"), std::string::npos);
    EXPECT_NE(plan.find("AntiVirusProduct.instanceGuid="), std::string::npos);
    EXPECT_EQ(SectionLines(plan, "Restart"), std::vector<std::string>{"no (--noreboot)"});
    EXPECT_EQ(result.products, 3u);
    EXPECT_EQ(result.processes, 2u);
    EXPECT_EQ(result.services, 1u);
    EXPECT_EQ(result.keys, keys.size());
    EXPECT_NE(plan.find("Summary: 3 products to uninstall, 2 processes to end, 1 services to delete"),
              std::string::npos);
}

TEST_F(PreviewTest, KeepsWhatTheRunKeepsWithItsReason) {
    app::Cleaner preview(m.platform());
    enginetest::LogCapture log(m);
    app::PreviewResult result = app::RunPreview(preview);
    ASSERT_EQ(result.code, 0u) << result.plan;
    const engine::CNuke& e = preview.engine;
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAM FILES (X86)\\KELVARIS DEMO\\LICENSES\\EULA.TXT"), "ignored");
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAM FILES (X86)\\KELVARIS DEMO"), "holds an ignored object");
    EXPECT_EQ(KeptReason(e, "C:\\USERS\\TESTER\\APPDATA\\ROAMING\\KELVARIS DEMO"), "holds an ignored object");
    EXPECT_EQ(KeptReason(e, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\SHARED"), "ignored");
    EXPECT_EQ(KeptReason(e, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO"), "holds an ignored object");
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAMDATA"), "protected location");
    EXPECT_EQ(KeptReason(e, "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN"),
              "protected location");
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAM FILES (X86)\\KELVARIS DEMO\\SHORTCUT"), "a link");
    EXPECT_EQ(KeptReason(e, kLocked), "unreadable");
    EXPECT_EQ(KeptReason(e, kLockedKey), "unreadable");
    EXPECT_NE(result.plan.find("C:\\PROGRAMDATA: protected location"), std::string::npos);
    EXPECT_EQ(result.kept, e.kept.size());
    // The unreadable folder keeps its access list, and nothing below it is promised.
    EXPECT_EQ(m.files.SecurityOf(kLocked)->deniedAccess, platform::kGenericRead);
    EXPECT_FALSE(preview.engine.fileList.Contains(kLocked));
    EXPECT_TRUE(log.Has("ExcludeIgnoreList: object 'C:\\PROGRAM FILES (X86)\\KELVARIS DEMO' excluded"));
}

TEST_F(PreviewTest, ARealRunKeepsTheSameObjectsAndOpensWhatThePreviewCouldNotRead) {
    app::Cleaner run(m.platform());
    run.noReboot = 1;
    enginetest::LogCapture log(m);
    run.Run();
    const engine::CNuke& e = run.engine;
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAM FILES (X86)\\KELVARIS DEMO"), "holds an ignored object");
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAMDATA"), "protected location");
    EXPECT_EQ(KeptReason(e, "C:\\PROGRAM FILES (X86)\\KELVARIS DEMO\\SHORTCUT"), "a link");
    EXPECT_EQ(KeptReason(e, kLocked), "");
    EXPECT_EQ(KeptReason(e, kLockedKey), "");
    EXPECT_TRUE(run.engine.fileList.Contains("C:\\PROGRAM FILES (X86)\\KELVARIS DEMO\\LOCKED\\SECRET.DAT"));
    EXPECT_TRUE(run.engine.regKeyList.Contains("HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\LOCKED\\INNER"));
}

TEST(PreviewRefusalTest, EndsWithTheCodeTheRunWouldStopWith) {
    {
        SCOPED_TRACE("another product of the maker");
        apptest::ToolMachine m;
        m.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Corporation\\Kelvaris Shell Client");
        app::Cleaner c(m.platform());
        const std::string before = apptest::SimSnapshot(m);
        app::PreviewResult r = app::RunPreview(c);
        EXPECT_EQ(r.code, 1625u);
        EXPECT_NE(r.plan.find("refused"), std::string::npos) << r.plan;
        EXPECT_NE(r.plan.find("must not remove"), std::string::npos) << r.plan;
        EXPECT_EQ(apptest::SimSnapshot(m), before) << "the firewall is left alone too";
    }
    {
        SCOPED_TRACE("a profile folder as installation root");
        apptest::ToolMachine m;
        m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Aurel Agent", "InstallPath",
                             "C:\\Users\\Tester\\Kelvaris");
        app::Cleaner c(m.platform());
        app::PreviewResult r = app::RunPreview(c);
        EXPECT_EQ(r.code, 1625u);
        EXPECT_NE(r.plan.find("'C:\\USERS\\TESTER\\KELVARIS'"), std::string::npos) << r.plan;
    }
    {
        SCOPED_TRACE("not an administrator");
        apptest::ToolMachine m;
        m.system.tokenGroups = {{"S-1-1-0", platform::kSeGroupEnabled}};
        app::Cleaner c(m.platform());
        app::PreviewResult r = app::RunPreview(c);
        EXPECT_EQ(r.code, 5u);
        EXPECT_NE(r.plan.find("administrator"), std::string::npos) << r.plan;
    }
    {
        SCOPED_TRACE("a bad configuration line");
        apptest::ToolMachine m;
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg",
                           "[msi upgradecode 1]\r\n[service 1]\r\nremove=SERVICE_NAME,SIDEWAYS,KvDemoSvc\r\n"
                           "[process 1]\r\n[registry value 1]\r\n[registry key 1]\r\n[file 1]\r\n");
        app::Cleaner c(m.platform());
        enginetest::LogCapture log(m);
        app::PreviewResult r = app::RunPreview(c);
        EXPECT_EQ(r.code, 1610u);
        EXPECT_NE(r.plan.find("SIDEWAYS"), std::string::npos) << r.plan;
        EXPECT_EQ(r.files + r.keys + r.values + r.products, 0u);
    }
    {
        SCOPED_TRACE("no configuration file");
        apptest::ToolMachine m;
        m.files.Remove("C:\\Tools\\sweeptool.cfg");
        app::Cleaner c(m.platform());
        enginetest::LogCapture log(m);
        EXPECT_EQ(app::RunPreview(c).code, 2u);
    }
}

// A customised edition whose name cannot mask start-menu entries: the run writes the
// removal-retry marker for a later run, the preview only says so.
TEST(PreviewMarkerTest, SaysTheMarkerWouldBeWrittenAndWritesNothing) {
    apptest::ToolMachine m;
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Aurel Agent", "ProductName", "AcmeGuard");
    app::Cleaner c(m.platform());
    c.autoRestart = 0;  // with the dialog
    enginetest::LogCapture log(m);
    app::PreviewResult r = app::RunPreview(c);
    EXPECT_EQ(r.code, 0u) << r.plan;
    EXPECT_FALSE(m.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris ClearoutTool"));
    EXPECT_NE(r.plan.find("removal-retry marker would be written"), std::string::npos) << r.plan;
    EXPECT_EQ(SectionLines(r.plan, "Restart"),
              std::vector<std::string>{"the user chooses RESTART or LATER in the dialog"});

    apptest::ToolMachine real;
    real.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Aurel Agent", "ProductName",
                            "AcmeGuard");
    app::Cleaner run(real.platform());
    enginetest::LogCapture realLog(real);
    run.Run();
    EXPECT_TRUE(real.registry.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris ClearoutTool"));
}

}  // namespace
