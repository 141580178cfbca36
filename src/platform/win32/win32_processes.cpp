#include "platform/win32/win32_processes.h"

#include "platform/win32/windows_api.h"
// windows.h first: tlhelp32.h relies on its types.
#include <tlhelp32.h>

namespace platform::win32 {

namespace {
HANDLE H(SnapshotHandle h) { return reinterpret_cast<HANDLE>(h); }

void Copy(const PROCESSENTRY32& e, ProcessEntry& out) {
    out.processId = e.th32ProcessID;
    out.parentProcessId = e.th32ParentProcessID;
    out.threads = e.cntThreads;
    out.exeFile = e.szExeFile;
}
}  // namespace

void Win32Processes::CloseSnapshot(SnapshotHandle snapshot) { ::CloseHandle(H(snapshot)); }

bool Win32Processes::CreateToolhelp32Snapshot(uint32_t flags, uint32_t processId, SnapshotHandle& out) {
    HANDLE h = ::CreateToolhelp32Snapshot(flags, processId);
    if (h == INVALID_HANDLE_VALUE) return false;
    out = reinterpret_cast<SnapshotHandle>(h);
    return true;
}

bool Win32Processes::Process32First(SnapshotHandle snapshot, ProcessEntry& out) {
    PROCESSENTRY32 e{};
    e.dwSize = sizeof(e);
    if (!::Process32First(H(snapshot), &e)) return false;
    Copy(e, out);
    return true;
}

bool Win32Processes::Process32Next(SnapshotHandle snapshot, ProcessEntry& out) {
    PROCESSENTRY32 e{};
    e.dwSize = sizeof(e);
    if (!::Process32Next(H(snapshot), &e)) return false;
    Copy(e, out);
    return true;
}

}  // namespace platform::win32

namespace platform::win32 {
// Placeholders until the process calls are wired.
void Win32Processes::CloseProcessHandle(ProcessHandle) {}
bool Win32Processes::OpenProcess(uint32_t, bool, uint32_t, ProcessHandle&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Processes::TerminateProcess(ProcessHandle, uint32_t) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Processes::GetExitCodeProcess(ProcessHandle, uint32_t&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
uint32_t Win32Processes::WaitForMultipleObjects(const std::vector<ProcessHandle>&, bool, uint32_t) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return 0xFFFFFFFF; }
bool Win32Processes::PathFindOnPath(std::string&, const std::vector<std::string>&) { return false; }
bool Win32Processes::CreateProcess(const std::string&, uint32_t&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
}  // namespace platform::win32
