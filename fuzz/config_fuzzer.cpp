// Feeds arbitrary bytes as the configuration file through the section reader and every
// entry handler, on a simulated machine that gives the handlers something to find:
// registry keys and values of every type in both views, a profile tree, services and
// processes. The text helpers are also run on each line directly, with small buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "expand/path_helpers.h"
#include "platform/sim/sim_machine.h"

namespace {

using platform::sim::SimMachine;
using platform::sim::View;

void Arrange(SimMachine& m) {
    m.system.modulePath = "C:\\Tools\\sweeptool.exe";
    const char* soft = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris";
    for (View v : {View::K32, View::K64}) {
        m.registry.SetString(soft, "InstallDir", "C:\\Program Files\\Kelvaris", v);
        m.registry.SetString(soft, "Empty", "", v);
        m.registry.SetString(soft, "Expand", "%ProgramFiles%\\Kelvaris", v, platform::kRegExpandSz);
        m.registry.SetDword(soft, "Count", 7, v);
        m.registry.Set(soft, "Unterminated", platform::kRegSz, {'A', 'B', 'C'}, v);
        m.registry.SetString(std::string(soft) + "\\Agent", "Path", "C:\\Program Files\\Kelvaris\\agent.exe",
                             v);
        m.registry.SetString(std::string(soft) + "\\Agent\\" + std::string(200, 'K'), std::string(250, 'v'),
                             std::string(600, 'd'), v);
        m.registry.CreatePath(std::string(soft) + "\\Updater", v);
    }
    m.registry.SetString("HKEY_CURRENT_USER\\Software\\Google\\Google Desktop", "plugin_dir", "C:\\Gadgets");
    m.registry.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris", "", "default value");

    m.files.CreateFile("C:\\Program Files (x86)\\Kelvaris\\agent.exe", "MZ");
    m.files.CreateFile("C:\\Program Files (x86)\\Kelvaris\\agent.dll", "MZ");
    m.files.CreateFile("C:\\Program Files\\Kelvaris\\x64\\driver.sys", "MZ");
    m.files.CreateFile("C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris\\settings.ini", "x");
    m.files.CreateFile("C:\\Users\\Other\\AppData\\Roaming\\Kelvaris\\settings.ini", "x");
    m.files.CreateFile("C:\\Users\\Public\\Desktop\\Kelvaris.lnk", "x");
    m.files.CreateFile("C:\\Users\\Tester\\Desktop\\Kelvaris Suite.lnk", "x");
    m.files.CreateFile("C:\\" + std::string(200, 'F') + "\\" + std::string(50, 'G') + "\\file.txt", "x");

    m.services.Add("KvAgent");
    m.services.Add("KvFilter").type = platform::kServiceKernelDriver;
    m.services.Add("Spooler");
    m.processes.Add("kvagent.exe");
    m.processes.Add("C:\\Program Files\\Kelvaris\\kvtray.exe");
}

struct SectionKey {
    const char* section;
    const char* key;
};

constexpr SectionKey kSections[] = {
    {"service", "ignore"},      {"service", "remove"},         {"process", "stop"},
    {"process", "start"},       {"registry value", "ignore"},  {"registry value", "remove"},
    {"registry key", "ignore"}, {"registry key", "remove"},    {"file", "ignore"},
    {"file", "remove"},         {"msi upgradecode", "ignore"}, {"msi upgradecode", "remove"},
};

void WalkBothWays(engine::TSet& set) {
    const char* s = nullptr;
    size_t forward = 0, backward = 0;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) ++forward;
    for (uint32_t r = set.Last(&s); r == 0; r = set.Previous(&s)) ++backward;
    if (forward != set.Count() || backward != set.Count()) __builtin_trap();
}

// The helpers on one line, in exactly-sized heap copies so that any write past the text
// is caught.
void HelpersOnLine(const std::string& line) {
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    expand::NormalizePath(text.data());
    if (std::strlen(text.data()) > line.size()) __builtin_trap();

    std::vector<char> reg(line.begin(), line.end());
    reg.push_back('\0');
    platform::RegKey root = 0;
    char *rootName = nullptr, *keyPath = nullptr, *last = nullptr;
    if (expand::ParseRegistryPath(reg.data(), root, rootName, keyPath, last) == 0 && keyPath != nullptr) {
        char joined[expand::kRegTextBuffer];
        (void)expand::JoinPath(joined, sizeof(joined), {rootName, keyPath, last});
        char tiny[8];
        (void)expand::JoinPath(tiny, sizeof(tiny), {rootName, keyPath, last});
    }

    std::vector<char> fields(line.begin(), line.end());
    fields.push_back('\0');
    char *a = nullptr, *b = nullptr, *c = nullptr;
    expand::SplitQuotedFields(fields.data(), {&a, &b, &c});
    if (a != nullptr && b != nullptr) {
        (void)expand::MatchWildcard(a, b);
        (void)expand::HasWildcards(b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    SimMachine machine;
    Arrange(machine);
    std::string text(reinterpret_cast<const char*>(data), size);
    machine.files.CreateFile("C:\\Tools\\sweeptool.cfg", text);

    engine::CNuke nuke(machine.platform());
    if (nuke.InitConfigFile() != 0) __builtin_trap();
    nuke.startMenuMask = "Kelvaris Suite";
    engine::TSet lists[sizeof(kSections) / sizeof(kSections[0])];
    for (size_t i = 0; i < sizeof(kSections) / sizeof(kSections[0]); ++i) {
        uint32_t code = nuke.ReadConfigSection(lists[i], kSections[i].section, kSections[i].key);
        // A failing line is quoted on one line of the log.
        if (code != 0 && nuke.errorText.find_first_of("\r\n") != std::string::npos) __builtin_trap();
        if (nuke.errorText.size() > engine::kMaxConfigLine) __builtin_trap();
        WalkBothWays(lists[i]);
    }

    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        HelpersOnLine(text.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
