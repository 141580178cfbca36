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
#include "app/sim_snapshot.h"
#include "engine/log_capture.h"
#include "expand/installer_guid.h"

namespace {

using platform::sim::SimMachine;
using platform::sim::SimMsiProduct;
using platform::sim::SimServiceState;
using platform::sim::View;

constexpr char kUpgradeCode[] = "{4D1F2C3B-8A7E-4B6C-9D10-2E3F4A5B6C7D}";
constexpr char kAgentCode[] = "{11111111-2222-3333-4444-555555555555}";
constexpr char kLegacyCode[] = "{22222222-3333-4444-5555-666666666666}";
constexpr char kForeignCode[] = "{33333333-4444-5555-6666-777777777777}";
constexpr char kHelperCode[] = "{44444444-5555-6666-7777-888888888888}";

constexpr char kProgramFolder[] = "C:\\Program Files (x86)\\Kelvaris Demo";
constexpr char kLocked[] = "C:\\PROGRAM FILES (X86)\\KELVARIS DEMO\\LOCKED";
constexpr char kLockedKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS DEMO\\LOCKED";

constexpr char kDemoConfig[] =
    "[msi upgradecode 1]\r\n"
    "remove=GUID,BY_VALUE,{4D1F2C3B-8A7E-4B6C-9D10-2E3F4A5B6C7D}\r\n"
    "[service 1]\r\n"
    "remove=SERVICE_NAME,BY_VALUE,KvDemoSvc\r\n"
    "remove=SERVICE_NAME,BY_VALUE,KvGoneSvc\r\n"
    "[process 1]\r\n"
    "stop=PROCESS_NAME,BY_VALUE,kvtray.exe\r\n"
    "start=FILE_NAME,BY_VALUE,C:\\Tools\\kvnext.exe\r\n"
    "start=FILE_NAME,BY_VALUE,kvafter.exe\r\n"
    "[registry value 1]\r\n"
    "remove=REG_VALUE,BY_VALUE,HKEY_LOCAL_"
    "MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\KelvarisDemo\r\n"
    "remove=REG_VALUE,BY_VALUE,HKEY_CURRENT_"
    "USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\KvUser\r\n"
    "[registry key 1]\r\n"
    "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\r\n"
    "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Kelvaris Demo\r\n"
    "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\r\n"
    "ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo\\Shared\r\n"
    "[file 1]\r\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Kelvaris Demo\r\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Kelvaris Demo\r\n"
    "remove=FILE_NAME_EXPAND,BY_VALUE,%COMMON_APPDATA%\r\n"
    "ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%\\Kelvaris Demo\\Licenses\r\n"
    "ignore=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Kelvaris Demo\\Quarantine\r\n";

// The demo product, damaged and spread over the machine; built by one function so that two
// machines are alike to the last byte.
void BuildDemoMachine(SimMachine& m) {
    apptest::InstallTool(m);
    apptest::UseWindows10(m);
    m.files.CreateFile("C:\\Tools\\sweeptool.cfg", kDemoConfig);
    // A follow-up program given by its full path, and one by a bare name that only the
    // search path, a standard user's folder, holds: that one is never started.
    m.files.CreateFile("C:\\Tools\\kvnext.exe", "MZ");
    m.files.CreateFile("C:\\UserTools\\kvafter.exe", "MZ");
    m.system.environment[u"PATH"] = u"C:\\UserTools";
    auto& reg = m.registry;
    reg.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Aurel Agent", "ProductName", "Kelvaris Demo");
    reg.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Aurel Agent", "InstallPath", kProgramFolder);

    SimMsiProduct agent;
    agent.productCode = kAgentCode;
    agent.upgradeCode = kUpgradeCode;
    agent.name = "Kelvaris Demo Agent";
    agent.version = "2.1.0";
    agent.publisher = "Kelvaris Corp.";
    agent.components = {
        {"{AAAAAAAA-0000-0000-0000-000000000001}", std::string(kProgramFolder) + "\\agent.exe"}};
    m.installer.Install(agent);
    SimMsiProduct foreign = agent;
    foreign.productCode = kForeignCode;
    foreign.name = "Partner Toolbar";
    foreign.publisher = "Other Vendor Ltd";
    foreign.upgradeCode = "{33333333-0000-0000-0000-000000000000}";  // its own: a bystander
    foreign.components = {
        {"{AAAAAAAA-0000-0000-0000-000000000002}", "C:\\Program Files (x86)\\Partner\\tb.dll"}};
    m.installer.Install(foreign);
    SimMsiProduct legacy;
    legacy.productCode = kLegacyCode;
    legacy.upgradeCode = engine::kBuiltInUpgradeCodes[0];
    legacy.name = "Kelvaris Legacy Shield";
    legacy.version = "1.0.0";
    legacy.publisher = "KELVARIS Corp.";
    m.installer.Install(legacy);
    SimMsiProduct helper;
    helper.productCode = kHelperCode;
    helper.name = "Kelvaris Helper";
    helper.version = "0.9.0";
    helper.publisher = "Kelvaris Corp.";
    m.installer.Install(helper);

    m.services.Add("KvDemoSvc", SimServiceState::Running).stopDelayMs = 2000;
    m.services.Add("Spooler", SimServiceState::Running);
    m.processes.Add("kvtray.exe").imagePath = std::string(kProgramFolder) + "\\kvtray.exe";
    m.processes.Add("kvtray.exe").imagePath = std::string(kProgramFolder) + "\\kvtray.exe";
    m.processes.Add("explorer.exe").imagePath = "C:\\Windows\\explorer.exe";
    m.winsock.catalog32.AddLayered(platform::Guid{0x12345678, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}}, u"KvFilter");

    auto& fs = m.files;
    fs.CreateFile(std::string(kProgramFolder) + "\\kvtray.exe", "MZ");
    fs.CreateFile(std::string(kProgramFolder) + "\\ui.dll", "MZ");
    fs.CreateFile(std::string(kProgramFolder) + "\\Licenses\\eula.txt", "terms");
    fs.CreateFile(std::string(kProgramFolder) + "\\Locked\\secret.dat", "x");
    fs.SecurityOf(std::string(kProgramFolder) + "\\Locked")->deniedAccess = platform::kGenericRead;
    fs.CreateDirectories("C:\\Users\\Public\\Documents");
    fs.CreateLink(std::string(kProgramFolder) + "\\Shortcut", "C:\\Users\\Public\\Documents", true);
    fs.CreateFile("C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris Demo\\settings.ini", "a=1");
    fs.CreateFile("C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris Demo\\Quarantine\\q.bin", "q");
    fs.CreateFile("C:\\Users\\Other\\AppData\\Roaming\\Kelvaris Demo\\settings.ini", "a=2");
    fs.CreateFile("C:\\ProgramData\\Other\\data.bin", "d");

    const std::string demo = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Demo";
    reg.SetString(demo, "Version", "2.1.0", View::K64);
    reg.SetString(demo + "\\Agent", "Path", "C:\\x", View::K64);
    reg.SetString(demo + "\\Shared", "Id", "7", View::K64);
    reg.SetString(demo + "\\Guarded", "Id", "8", View::K64);
    reg.SecurityOf(demo + "\\Guarded", View::K64)->deniedAccess = platform::kDelete;
    reg.SetString(demo + "\\Locked", "Id", "9", View::K64);
    reg.SetString(demo + "\\Locked\\Inner", "Id", "10", View::K64);
    reg.SecurityOf(demo + "\\Locked", View::K64)->deniedAccess = platform::kKeyRead;
    reg.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris Demo", "Mode", "full");
    reg.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "KelvarisDemo",
                  "kvtray");
    reg.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Other", "x");
    reg.SetString("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "KvUser", "kvtray");
    m.system.environment[u"ProgramData"] = u"C:\\ProgramData";  // a full log: opening it rotates it
    for (const char* log : {"sweeptool.log", "sweeptool.1.log", "sweeptool.2.log"})
        fs.CreateFile(std::string("C:\\ProgramData\\Kelvaris\\Logs\\tool\\") + log, std::string(200000, 'x'));
}

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
    const std::string staging = staged[0].substr(0, staged[0].rfind('\\'));
    for (const std::string& a : added) EXPECT_TRUE(Below(a, apptest::snapshot_detail::Upper(staging))) << a;
    EXPECT_EQ(staged.size(), twin.files.List(staging).size());
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
              (std::vector<std::string>{"C:\\TOOLS\\KVNEXT.EXE (found as C:\\TOOLS\\KVNEXT.EXE)",
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
