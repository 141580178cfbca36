#include "platform/sim/sim_processes.h"

namespace platform::sim {

SimProcesses::SimProcesses(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {
    table.push_back(SimProcess{0, 0, "[System Process]", 1});
    table.push_back(SimProcess{4, 0, "System", 80});
    table.push_back(SimProcess{system.processId, 0x300, "sweeptool.exe", 3});
}

SimProcess& SimProcesses::Add(const std::string& exeFile, uint32_t processId, uint32_t parentProcessId) {
    SimProcess p;
    p.exeFile = exeFile;
    p.processId = processId != 0 ? processId : (nextPid_ += 4);
    p.parentProcessId = parentProcessId;
    table.push_back(p);
    return table.back();
}

void SimProcesses::CloseSnapshot(SnapshotHandle snapshot) { snapshots_.erase(snapshot); }

bool SimProcesses::CreateToolhelp32Snapshot(uint32_t flags, uint32_t, SnapshotHandle& out) {
    if (system_.Fault("CreateToolhelp32Snapshot")) return false;
    Snapshot s;
    // Only the process list is simulated; a snapshot of threads or modules alone is empty.
    if (flags & kTh32csSnapProcess) s.processes = table;
    out = nextHandle_;
    nextHandle_ += 4;
    snapshots_[out] = std::move(s);
    return true;
}

bool SimProcesses::Step(SnapshotHandle snapshot, ProcessEntry& out, bool first) {
    auto it = snapshots_.find(snapshot);
    if (it == snapshots_.end()) {
        system_.SetLastError(kErrorInvalidHandle);
        return false;
    }
    Snapshot& s = it->second;
    if (first) s.next = 0;
    if (s.next >= s.processes.size()) {
        system_.SetLastError(kErrorNoMoreFiles);
        return false;
    }
    const SimProcess& p = s.processes[s.next++];
    out.processId = p.processId;
    out.parentProcessId = p.parentProcessId;
    out.threads = p.threads;
    out.exeFile = p.exeFile;
    return true;
}

bool SimProcesses::Process32First(SnapshotHandle snapshot, ProcessEntry& out) {
    if (system_.Fault("Process32First")) return false;
    return Step(snapshot, out, true);
}

bool SimProcesses::Process32Next(SnapshotHandle snapshot, ProcessEntry& out) {
    if (system_.Fault("Process32Next")) return false;
    return Step(snapshot, out, false);
}

}  // namespace platform::sim

namespace platform::sim {
// Placeholders until the simulated process table grows these calls.
void SimProcesses::CloseProcessHandle(ProcessHandle) {}
bool SimProcesses::OpenProcess(uint32_t, bool, uint32_t, ProcessHandle&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimProcesses::TerminateProcess(ProcessHandle, uint32_t) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimProcesses::GetExitCodeProcess(ProcessHandle, uint32_t&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
uint32_t SimProcesses::WaitForMultipleObjects(const std::vector<ProcessHandle>&, bool, uint32_t) { system_.SetLastError(kErrorCallNotImplemented); return kWaitFailed; }
bool SimProcesses::PathFindOnPath(std::string&, const std::vector<std::string>&) { return false; }
bool SimProcesses::CreateProcess(const std::string&, uint32_t&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
}  // namespace platform::sim
