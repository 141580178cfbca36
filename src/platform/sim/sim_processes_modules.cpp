// The process list and module names of the process-status calls (psapi).
#include "platform/sim/sim_processes.h"

namespace platform::sim {

bool SimProcesses::EnumProcesses(uint32_t, std::vector<uint32_t>& ids, uint32_t& bytesReturned) {
    ids.clear();
    bytesReturned = 0;
    return false;
}

bool SimProcesses::EnumProcessModulesFirst(ProcessHandle, ModuleHandle& module) {
    module = 0;
    return false;
}

bool SimProcesses::GetModuleFileNameEx(ProcessHandle, ModuleHandle, uint32_t, std::string& path) {
    path.clear();
    return false;
}

}  // namespace platform::sim
