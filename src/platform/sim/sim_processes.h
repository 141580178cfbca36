// The simulated process table. A snapshot copies the table as it is when it is taken.
#pragma once

#include <map>
#include <vector>

#include "platform/processes.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

struct SimProcess {
    uint32_t processId = 0;
    uint32_t parentProcessId = 0;
    std::string exeFile;  // as a snapshot reports it: usually the bare image name
    uint32_t threads = 1;
};

class SimProcesses : public IProcesses {
public:
    // The table starts as a booted machine's does: the idle process, the system process and
    // the product's own process (SimSystem::processId). Tests add or clear entries.
    SimProcesses(Faults& faults, SimSystem& system);

    // --- state a test sets and reads ---
    std::vector<SimProcess> table;
    SimProcess& Add(const std::string& exeFile, uint32_t processId = 0, uint32_t parentProcessId = 0);
    int OpenSnapshots() const { return static_cast<int>(snapshots_.size()); }

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

private:
    struct Snapshot {
        std::vector<SimProcess> processes;
        size_t next = 0;
    };
    bool Step(SnapshotHandle snapshot, ProcessEntry& out, bool first);

    [[maybe_unused]] Faults& faults_;
    SimSystem& system_;
    std::map<SnapshotHandle, Snapshot> snapshots_;
    SnapshotHandle nextHandle_ = 0x7000;
    uint32_t nextPid_ = 0x400;
};

}  // namespace platform::sim
