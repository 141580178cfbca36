// The process list and module names of the process-status calls (psapi).
#include <algorithm>

#include "platform/sim/sim_processes.h"

namespace platform::sim {

namespace {

// The one module the simulated processes have: their executable, at the usual image base.
constexpr ModuleHandle kImageBase = 0x00400000;
// EnumProcessModules and GetModuleFileNameEx read the process's memory.
constexpr uint32_t kModuleAccess = kProcessQueryInformation | kProcessVmRead;

}  // namespace

bool SimProcesses::EnumProcesses(uint32_t bufferBytes, std::vector<uint32_t>& ids, uint32_t& bytesReturned) {
    ids.clear();
    bytesReturned = 0;
    if (system_.Fault("EnumProcesses")) return false;
    Reap();
    // Whole ids only; the rest of the buffer stays unwritten.
    const size_t room = bufferBytes / sizeof(uint32_t);
    for (const SimProcess& p : table) {
        if (ids.size() >= room) break;
        ids.push_back(p.processId);
    }
    bytesReturned = static_cast<uint32_t>(ids.size() * sizeof(uint32_t));
    return true;
}

// The executable path of the running process a handle was opened on, or empty when its
// modules cannot be read (the last error says why).
static std::string ImagePathOf(SimSystem& system, const std::vector<SimProcess>& table, uint32_t processId) {
    auto p = std::find_if(table.begin(), table.end(),
                          [&](const SimProcess& q) { return q.processId == processId; });
    if (p == table.end()) return {};
    // The product's own process is whatever program the test made it.
    if (p->imagePath.empty() && p->processId == system.processId) return system.modulePath;
    return p->imagePath;
}

bool SimProcesses::EnumProcessModulesFirst(ProcessHandle process, ModuleHandle& module) {
    if (system_.Fault("EnumProcessModules")) return false;
    Reap();
    Handle* h = HandleOf(process);
    if (h == nullptr) return false;
    if ((h->access & kModuleAccess) != kModuleAccess) return Refuse(kErrorAccessDenied);
    // An ended process has no address space left to read.
    if (h->ended || ImagePathOf(system_, table, h->processId).empty()) return Refuse(kErrorPartialCopy);
    module = kImageBase;
    return true;
}

bool SimProcesses::GetModuleFileNameEx(ProcessHandle process, ModuleHandle module, uint32_t bufferChars,
                                       std::string& path) {
    if (system_.Fault("GetModuleFileNameExA")) return false;
    Reap();
    if (bufferChars == 0) return Refuse(kErrorInvalidParameter);
    Handle* h = HandleOf(process);
    if (h == nullptr) return false;
    if ((h->access & kModuleAccess) != kModuleAccess) return Refuse(kErrorAccessDenied);
    if (h->ended) return Refuse(kErrorPartialCopy);
    std::string image = ImagePathOf(system_, table, h->processId);
    if (image.empty()) return Refuse(kErrorPartialCopy);
    // No module handle means the executable, as it does for the real call.
    if (module != 0 && module != kImageBase) return Refuse(kErrorInvalidHandle);
    // Too small a buffer gets the start of the path and its terminator, and no error.
    path = image.substr(0, std::min<size_t>(image.size(), bufferChars - 1));
    return true;
}

}  // namespace platform::sim
