// A simulated machine on which the tool can run from start to end: the executable in
// C:\Tools with a configuration that names nothing present.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace apptest {

constexpr char kEmptyConfig[] =
    "[msi upgradecode 1]\r\n[service 1]\r\n[process 1]\r\n[registry value 1]\r\n[registry key 1]\r\n[file "
    "1]\r\n";

inline void InstallTool(platform::sim::SimMachine& m) {
    m.system.modulePath = "C:\\Tools\\sweeptool.exe";
    m.files.CreateDirectories("C:\\Tools");
    m.files.CreateFile("C:\\Tools\\sweeptool.exe", "MZ");
    m.files.CreateFile("C:\\Tools\\sweeptool.cfg", kEmptyConfig);
}

class ToolMachine : public platform::sim::SimMachine {
  public:
    ToolMachine() { InstallTool(*this); }
};

// A Windows whose firewall step runs (major version 6 leaves the firewall alone).
inline void UseWindows10(platform::sim::SimMachine& machine) {
    machine.system.version = {10, 0, 19045, platform::kVerPlatformWin32Nt, "", 0, 0};
}

// How often the firewall was switched on: each TurnICFOn on a firewall that is on turns
// it off and on again.
inline int TurnOns(const platform::sim::SimMachine& machine) {
    int ons = 0;
    for (bool enabled : machine.com.firewall.puts) ons += enabled ? 1 : 0;
    return ons;
}

// The file step moves what it removes into batch folders of a staging folder at the volume's
// root and queues only the names in there, each folder after them. The queued names of
// objects in those folders, in queue order; a failure for anything queued elsewhere.
inline std::vector<std::string> QueuedInStaging(const platform::sim::SimMachine& machine) {
    std::vector<std::string> queued = machine.files.PendingDeletes();
    if (queued.empty()) return queued;
    const std::string folder = queued.back();
    queued.pop_back();
    EXPECT_EQ(folder.rfind("C:\\$SweepTool.Staging.", 0), 0u) << folder;
    std::vector<std::string> objects;
    for (const std::string& path : queued) {
        EXPECT_EQ(path.rfind(folder + "\\", 0), 0u) << path;
        if (path.find('\\', folder.size() + 1) != std::string::npos) objects.push_back(path);
    }
    return objects;
}

}  // namespace apptest
