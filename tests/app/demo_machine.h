// The demo product, damaged and spread over the machine: installer products under a
// configured upgrade code, a service, processes, a layered provider, files in several
// profiles, keys in both views, locked and guarded objects, links and follow-up programs.
#pragma once

#include <string>

#include "actions/builtin_upgrade_codes.h"
#include "app/app_machine.h"
#include "platform/sim/sim_machine.h"

namespace apptest {

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
inline void BuildDemoMachine(SimMachine& m) {
    apptest::InstallTool(m);
    apptest::UseWindows10(m);
    m.files.CreateFile("C:\\Tools\\sweeptool.cfg", kDemoConfig);
    // A follow-up program given by its full path, and one by a bare name that only the
    // search path, a standard user's folder, holds: that one is never started.
    m.files.CreateFile("C:\\Tools\\kvnext.exe", "MZ");
    // Only the machine's accounts may change it, the tool's folder or the root above it.
    for (const char* p : {"C:\\", "C:\\Tools", "C:\\Tools\\kvnext.exe"})
        m.files.SecurityOf(p)->sddl = "D:P(A;OICI;0x1200a9;;;S-1-5-32-545)(A;OICI;0x1f01ff;;;S-1-5-18)";
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

}  // namespace apptest
