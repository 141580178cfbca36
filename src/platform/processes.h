// Running processes: Toolhelp snapshots (kernel32). Opening, terminating and starting
// processes join this interface when the removal steps need them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common.h"

namespace platform {

using SnapshotHandle = uintptr_t;

enum : uint32_t { kTh32csSnapProcess = 0x00000002 };

// PROCESSENTRY32 (the ANSI form, 296 bytes), the fields the product reads.
struct ProcessEntry {
    uint32_t processId = 0;
    uint32_t parentProcessId = 0;
    uint32_t threads = 0;
    std::string exeFile;  // the image name as the snapshot reports it
};

class IProcesses {
public:
    IProcesses() = default;
    IProcesses(const IProcesses&) = delete;
    IProcesses& operator=(const IProcesses&) = delete;
    virtual ~IProcesses() = default;

    // CloseHandle of a snapshot.
    virtual void CloseSnapshot(SnapshotHandle snapshot) = 0;
    // CreateToolhelp32Snapshot; false with the last error set, `out` untouched.
    virtual bool CreateToolhelp32Snapshot(uint32_t flags, uint32_t processId, SnapshotHandle& out) = 0;
    // Process32First / Process32Next; false with ERROR_NO_MORE_FILES at the end of the snapshot.
    virtual bool Process32First(SnapshotHandle snapshot, ProcessEntry& out) = 0;
    virtual bool Process32Next(SnapshotHandle snapshot, ProcessEntry& out) = 0;
};

using UniqueSnapshot = UniqueIn<IProcesses, SnapshotHandle, &IProcesses::CloseSnapshot>;

}  // namespace platform
