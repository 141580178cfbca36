// The simulated process table. A snapshot copies the table as it is when it is taken.
//
// Time is the virtual clock of SimSystem. A process leaves the table at `endsAtMs`: set by
// TerminateProcess (its `terminateDelayMs` later, or never), or by a test for a process that
// ends by itself. Handles keep an ended process's exit code, as the kernel object does. The
// table is brought up to the clock at every call of this area; a wait moves the clock on.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_shell.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

struct SimProcess {
    static constexpr uint32_t kNeverEnds = 0xFFFFFFFF;

    uint32_t processId = 0;
    uint32_t parentProcessId = 0;
    std::string exeFile;  // as a snapshot reports it: usually the bare image name
    std::u16string wideExeFile;  // the name as Windows keeps it, where the code page cannot hold it
    // The full path of its executable, its first module; empty for the idle and system
    // processes, whose modules cannot be read.
    std::string imagePath;
    uint32_t threads = 1;

    // --- how it behaves ---
    bool denyOpen = false;  // OpenProcess fails with 5 (another user's or a protected process)
    // Virtual milliseconds from TerminateProcess until it has ended; kNeverEnds: it hangs.
    uint32_t terminateDelayMs = 0;
    // When it leaves the table (virtual clock); a test may set it, with `exitCode`, for a
    // process that ends by itself.
    std::optional<uint64_t> endsAtMs;
    uint32_t exitCode = kStillActive;  // what it ends with; GetExitCodeProcess says 259 until then

    // --- what happened to it ---
    bool terminated = false;  // TerminateProcess was called on it
};

// What a program started by CreateProcessHidden does, decided when it starts.
struct SimProgramRun {
    uint32_t exitCode = 0;
    // Virtual milliseconds until it ends by itself; SimProcess::kNeverEnds: it never does.
    uint32_t runsForMs = 0;
};
// A program's behaviour: run at its start with the whole command line. It may change the
// machine (the 64-bit provider remover clears the 64-bit catalogue, for instance).
using SimProgram = std::function<SimProgramRun(const std::u16string& commandLine)>;

// One CreateProcessHidden that started a process.
struct SimHiddenStart {
    std::u16string commandLine;
    std::string imagePath;  // the file the search found
    uint32_t processId = 0;
};

// A process that has left the table, in the order they left.
struct SimProcessExit {
    uint32_t processId = 0;
    std::string exeFile;
    uint32_t exitCode = 0;
    bool terminated = false;
    uint64_t atMs = 0;
};

class SimProcesses : public IProcesses {
  public:
    // The table starts as a booted machine's does: the idle process, the system process and
    // the product's own process (SimSystem::processId). Tests add or clear entries.
    // PathFindOnPath and CreateProcess look for programs in `files`; the standard search
    // path starts with the folders of `shell`.
    SimProcesses(Faults& faults, SimSystem& system, SimFileSystem& files, SimShell& shell);

    // --- state a test sets and reads ---
    std::vector<SimProcess> table;
    SimProcess& Add(const std::string& exeFile, uint32_t processId = 0, uint32_t parentProcessId = 0);
    // Null when no process of that id is in the table (after bringing it up to the clock).
    SimProcess* Find(uint32_t processId);
    int OpenSnapshots() const { return static_cast<int>(snapshots_.size()); }
    int OpenProcessHandles() const { return static_cast<int>(handles_.size()); }
    // The application names CreateProcess started, in order.
    std::vector<std::string> started;
    // A program at that full path (case ignored) for CreateProcessHidden; its file is
    // created as an executable image. A program file found without a behaviour runs until
    // it is ended.
    void AddProgram(const std::string& path, SimProgram behaviour);
    std::vector<SimHiddenStart> startedHidden;
    std::vector<SimProcessExit> exited;

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

  private:
    struct Snapshot {
        std::vector<SimProcess> processes;
        size_t next = 0;
    };
    // A process handle: the process it was opened on, and, once that has ended, how.
    struct Handle {
        uint32_t processId = 0;
        uint32_t access = 0;
        bool ended = false;
        uint32_t exitCode = 0;
    };
    bool Step(SnapshotHandle snapshot, ProcessEntry& out, bool first);
    bool Refuse(uint32_t code);
    // Removes the processes whose time has come and marks their handles as signalled.
    void Reap();
    Handle* HandleOf(ProcessHandle process);
    // When the handle's process ends on the virtual clock; nullopt: never.
    std::optional<uint64_t> SignalTime(const Handle& h) const;
    // The path as the standard search would try it, or empty when it would not fit.
    std::string Candidate(const std::string& dir, const std::string& name) const;
    bool Exists(const std::string& path) const;
    // CreateProcess's reading of an application name, never searched for: the program file
    // it starts, or false with the last error.
    bool ApplicationImage(const std::string& applicationName, std::string& full);
    // CreateProcessW's reading of a command line without an application name: the program
    // file it starts, or false with the last error.
    bool FindProgram(const std::string& commandLine, std::string& image);
    // The file one candidate name stands for: searched for when it is a bare name, else
    // taken from the current directory; ".exe" added when it has no extension.
    std::string LocateProgram(std::string name) const;

    [[maybe_unused]] Faults& faults_;  // faults are taken through SimSystem::Fault
    SimSystem& system_;
    SimFileSystem& files_;
    SimShell& shell_;
    std::map<SnapshotHandle, Snapshot> snapshots_;
    std::map<ProcessHandle, Handle> handles_;
    std::map<std::string, SimProgram> programs_;  // by upper-case path
    uintptr_t nextHandle_ = 0x7000;
    uint32_t nextPid_ = 0x400;
};

}  // namespace platform::sim
