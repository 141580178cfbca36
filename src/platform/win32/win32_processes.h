#pragma once

#include "platform/processes.h"

namespace platform::win32 {

class Win32Processes : public IProcesses {
  public:
    void CloseSnapshot(SnapshotHandle snapshot) override;
    bool CreateToolhelp32Snapshot(uint32_t flags, uint32_t processId, SnapshotHandle& out) override;
    bool Process32First(SnapshotHandle snapshot, ProcessEntry& out) override;
    bool Process32Next(SnapshotHandle snapshot, ProcessEntry& out) override;
    void CloseProcessHandle(ProcessHandle process) override;
    bool OpenProcess(uint32_t access, bool inheritHandle, uint32_t processId, ProcessHandle& out) override;
    bool TerminateProcess(ProcessHandle process, uint32_t exitCode) override;
    bool GetExitCodeProcess(ProcessHandle process, uint32_t& exitCode) override;
    uint32_t WaitForMultipleObjects(const std::vector<ProcessHandle>& handles, bool waitAll,
                                    uint32_t milliseconds) override;
    bool PathFindOnPath(std::string& path, const std::vector<std::string>& otherDirs) override;
    bool CreateProcess(const std::string& applicationName, uint32_t& processId) override;
    bool CreateProcessHidden(const std::u16string& applicationName, const std::u16string& commandLine,
                             ProcessHandle& process, uint32_t& processId) override;
    bool EnumProcesses(uint32_t bufferBytes, std::vector<uint32_t>& ids, uint32_t& bytesReturned) override;
    bool EnumProcessModulesFirst(ProcessHandle process, ModuleHandle& module) override;
    bool GetModuleFileNameEx(ProcessHandle process, ModuleHandle module, uint32_t bufferChars,
                             std::string& path) override;
};

}  // namespace platform::win32
