#pragma once

#include "platform/processes.h"

namespace platform::win32 {

class Win32Processes : public IProcesses {
public:
    void CloseSnapshot(SnapshotHandle snapshot) override;
    bool CreateToolhelp32Snapshot(uint32_t flags, uint32_t processId, SnapshotHandle& out) override;
    bool Process32First(SnapshotHandle snapshot, ProcessEntry& out) override;
    bool Process32Next(SnapshotHandle snapshot, ProcessEntry& out) override;
};

}  // namespace platform::win32
