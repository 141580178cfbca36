#include "platform/win32/win32_processes.h"

#include "platform/ansi.h"
#include "platform/win32/windows_api.h"
// windows.h first: tlhelp32.h and shlwapi.h rely on its types.
#include <shlwapi.h>
#include <tlhelp32.h>
#undef PathFindOnPath

#include <cstring>
#include <vector>

namespace platform::win32 {

namespace {
HANDLE H(SnapshotHandle h) { return reinterpret_cast<HANDLE>(h); }

// The wide snapshot, narrowed as the ANSI one narrows it, so that both spellings come from one
// entry.
void Copy(const PROCESSENTRY32W& e, ProcessEntry& out) {
    out.processId = e.th32ProcessID;
    out.parentProcessId = e.th32ParentProcessID;
    out.threads = e.cntThreads;
    out.wideExeFile = reinterpret_cast<const char16_t*>(e.szExeFile);
    out.exeFile = Utf16ToAnsi(out.wideExeFile);
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
    PROCESSENTRY32W e{};
    e.dwSize = sizeof(e);
    if (!::Process32FirstW(H(snapshot), &e)) return false;
    Copy(e, out);
    return true;
}

bool Win32Processes::Process32Next(SnapshotHandle snapshot, ProcessEntry& out) {
    PROCESSENTRY32W e{};
    e.dwSize = sizeof(e);
    if (!::Process32NextW(H(snapshot), &e)) return false;
    Copy(e, out);
    return true;
}

void Win32Processes::CloseProcessHandle(ProcessHandle process) { ::CloseHandle(H(process)); }

bool Win32Processes::OpenProcess(uint32_t access, bool inheritHandle, uint32_t processId,
                                 ProcessHandle& out) {
    HANDLE h = ::OpenProcess(access, inheritHandle ? TRUE : FALSE, processId);
    if (h == nullptr) return false;
    out = reinterpret_cast<ProcessHandle>(h);
    return true;
}

bool Win32Processes::TerminateProcess(ProcessHandle process, uint32_t exitCode) {
    return ::TerminateProcess(H(process), exitCode) != FALSE;
}

bool Win32Processes::GetExitCodeProcess(ProcessHandle process, uint32_t& exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(H(process), &code)) return false;
    exitCode = code;
    return true;
}

uint32_t Win32Processes::WaitForMultipleObjects(const std::vector<ProcessHandle>& handles, bool waitAll,
                                                uint32_t milliseconds) {
    // The call itself refuses an empty list or more than 64 handles; the copy keeps even
    // those within its own bounds.
    std::vector<HANDLE> raw(handles.size() + 1, nullptr);
    for (size_t i = 0; i < handles.size(); ++i) raw[i] = H(handles[i]);
    return ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), raw.data(), waitAll ? TRUE : FALSE,
                                    milliseconds);
}

bool Win32Processes::PathFindOnPath(std::string& path, const std::vector<std::string>& otherDirs) {
    // The call works in place in a MAX_PATH buffer and copies each folder into one of the
    // same size: anything longer could only be cut into some other name.
    if (path.size() >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::vector<const char*> dirs;
    for (const std::string& dir : otherDirs) {
        if (dir.size() >= MAX_PATH) {
            ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        dirs.push_back(dir.c_str());
    }
    dirs.push_back(nullptr);
    char buffer[MAX_PATH] = {};
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    if (!::PathFindOnPathA(buffer, dirs.data())) return false;
    path.assign(buffer, ::strnlen(buffer, MAX_PATH - 1));
    return true;
}

bool Win32Processes::CreateProcess(const std::string& applicationName, uint32_t& processId) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(applicationName.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        return false;
    // Nobody waits for the new process: its handles are not needed.
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    processId = info.dwProcessId;
    return true;
}

bool Win32Processes::CreateProcessHidden(const std::u16string& applicationName,
                                         const std::u16string& commandLine, ProcessHandle& process,
                                         uint32_t& processId) {
    // CreateProcessW may write into the command line, and takes at most 32767 characters,
    // terminator included.
    if (commandLine.size() >= 32767) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    const std::wstring application(applicationName.begin(), applicationName.end());
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr,
                          FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info))
        return false;
    // Only the process is waited for.
    ::CloseHandle(info.hThread);
    process = reinterpret_cast<ProcessHandle>(info.hProcess);
    processId = info.dwProcessId;
    return true;
}

}  // namespace platform::win32
