// The process list and module names of the process-status calls (psapi).
#include "platform/win32/win32_processes.h"

namespace platform::win32 {

bool Win32Processes::EnumProcesses(uint32_t, std::vector<uint32_t>& ids, uint32_t& bytesReturned) {
    ids.clear();
    bytesReturned = 0;
    return false;
}

bool Win32Processes::EnumProcessModulesFirst(ProcessHandle, ModuleHandle& module) {
    module = 0;
    return false;
}

bool Win32Processes::GetModuleFileNameEx(ProcessHandle, ModuleHandle, uint32_t, std::string& path) {
    path.clear();
    return false;
}

}  // namespace platform::win32
