// A whole simulated Windows machine in memory. Tests build one per case, arrange its
// state, hand `platform()` to the code under test and inspect the state afterwards.
#pragma once

#include "platform/platform.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_installer.h"
#include "platform/sim/sim_processes.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_security.h"
#include "platform/sim/sim_services.h"
#include "platform/sim/sim_shell.h"
#include "platform/sim/sim_com.h"
#include "platform/sim/sim_sync.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_winsock.h"

namespace platform::sim {

class SimMachine {
public:
    SimMachine();
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    Faults faults;
    SimSystem system;
    SimRegistry registry;
    SimFileSystem files;
    SimServices services;
    SimProcesses processes;
    SimSecurity security;
    SimSync sync;
    SimShell shell;
    SimInstaller installer;
    SimWinsock winsock;
    SimCom com;

    Platform& platform() { return platform_; }

    // A restart as far as what the tool leaves for it: the queued file operations are
    // carried out and the volatile keys are gone.
    void SimulateRestart() {
        files.SimulateRestart();
        registry.SimulateRestart();
    }

private:
    Platform platform_;
};

}  // namespace platform::sim
