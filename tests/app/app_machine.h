// A simulated machine on which the tool can run from start to end: the executable in
// C:\Tools with a configuration that names nothing present.
#pragma once

#include "platform/sim/sim_machine.h"

namespace apptest {

constexpr char kEmptyConfig[] =
    "[msi upgradecode 1]\r\n[service 1]\r\n[process 1]\r\n[registry value 1]\r\n[registry key 1]\r\n[file 1]\r\n";

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

}  // namespace apptest
