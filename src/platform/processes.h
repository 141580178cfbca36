// Running processes: Toolhelp snapshots, opening, terminating, waiting for and starting
// processes (kernel32), and the program search of shlwapi.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common.h"
#include "platform/sync.h"

namespace platform {

using SnapshotHandle = uintptr_t;
// A process handle of this seam; 0 is "no handle".
using ProcessHandle = uintptr_t;
// A module (HMODULE) of another process; only passed back to this seam.
using ModuleHandle = uintptr_t;

enum : uint32_t { kTh32csSnapProcess = 0x00000002 };

enum : uint32_t {
    kProcessTerminate = 0x0001,
    kProcessQueryInformation = 0x0400,
    kProcessQueryLimitedInformation = 0x1000,
    kProcessVmRead = 0x0010,
    kProcessAllAccess = 0x1F0FFF,  // as the product asks for it (the pre-Vista value)
    kStillActive = 259,        // GetExitCodeProcess of a process that runs
    kErrorBadExeFormat = 193,  // CreateProcess of a file that is not a program
    kErrorPartialCopy = 299,   // a process's memory (its module list) cannot be read
};

// WaitForMultipleObjects takes at most this many handles (its results: platform/sync.h).
enum : uint32_t { kMaximumWaitObjects = 64 };

// PROCESSENTRY32 (the ANSI form, 296 bytes), the fields the product reads.
struct ProcessEntry {
    uint32_t processId = 0;
    uint32_t parentProcessId = 0;
    uint32_t threads = 0;
    std::string exeFile;  // the image name as the snapshot reports it
    // The image name as Windows keeps it (PROCESSENTRY32W): what tells a name the ANSI code page
    // cannot spell from the best-fit alias in `exeFile`.
    std::u16string wideExeFile;
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

    // CloseHandle of a process handle.
    virtual void CloseProcessHandle(ProcessHandle process) = 0;
    // OpenProcess; false with the last error (87 for an id that runs no process, 5 when
    // the process refuses the access).
    virtual bool OpenProcess(uint32_t access, bool inheritHandle, uint32_t processId, ProcessHandle& out) = 0;
    // TerminateProcess.
    virtual bool TerminateProcess(ProcessHandle process, uint32_t exitCode) = 0;
    // GetExitCodeProcess: kStillActive while it runs.
    virtual bool GetExitCodeProcess(ProcessHandle process, uint32_t& exitCode) = 0;
    // WaitForMultipleObjects on process handles: kWaitObject0 + i, kWaitTimeout, or
    // kWaitFailed with the last error (87 for no handles or more than 64). The simulated
    // machine advances its virtual clock instead of waiting.
    virtual uint32_t WaitForMultipleObjects(const std::vector<ProcessHandle>& handles, bool waitAll,
                                            uint32_t milliseconds) = 0;
    // PathFindOnPathA on a copy of `path` in a buffer of MAX_PATH characters: the
    // directories of `otherDirs` are searched first, in order, then the standard search
    // path. True with `path` replaced by the full path of the file found.
    virtual bool PathFindOnPath(std::string& path, const std::vector<std::string>& otherDirs) = 0;
    // CreateProcessA with this application name, no command line, no inherited handles,
    // no creation flags, the caller's environment and current directory and a zeroed
    // STARTUPINFOA; the new process is not waited for and its handles are closed at once.
    // False with the last error; `processId` receives the new process's id.
    virtual bool CreateProcess(const std::string& applicationName, uint32_t& processId) = 0;

    // CreateProcessW(`applicationName`, a writable copy of `commandLine`, no security
    // attributes, no inherited handles, NORMAL_PRIORITY_CLASS, the caller's environment and
    // current directory, STARTUPINFOW with STARTF_USESHOWWINDOW and SW_HIDE). The application
    // name is taken as written, never searched for (a relative one from the current folder);
    // an empty one is no application name, and the program is found by CreateProcess's own
    // search of the command line: the caller's executable folder first, then the current
    // folder, the system folders and PATH. The thread handle is closed at once; `process` is
    // the process handle (PROCESS_ALL_ACCESS). False with the last error.
    virtual bool CreateProcessHidden(const std::u16string& applicationName, const std::u16string& commandLine,
                                     ProcessHandle& process, uint32_t& processId) = 0;

    // EnumProcesses into a buffer of `bufferBytes` bytes: the ids that fit in `ids`,
    // `bytesReturned` the bytes they take (equal to the buffer size when it may have been
    // too small). False with the last error.
    virtual bool EnumProcesses(uint32_t bufferBytes, std::vector<uint32_t>& ids, uint32_t& bytesReturned) = 0;
    // EnumProcessModules with room for one module: the process's first module (its
    // executable). False with the last error (299 for a process whose modules cannot be read).
    virtual bool EnumProcessModulesFirst(ProcessHandle process, ModuleHandle& module) = 0;
    // GetModuleFileNameExA into a buffer of `bufferChars` characters: the path, cut to fit
    // as the call cuts it. False with the last error.
    virtual bool GetModuleFileNameEx(ProcessHandle process, ModuleHandle module, uint32_t bufferChars,
                                     std::string& path) = 0;
};

using UniqueSnapshot = UniqueIn<IProcesses, SnapshotHandle, &IProcesses::CloseSnapshot>;
using UniqueProcess = UniqueIn<IProcesses, ProcessHandle, &IProcesses::CloseProcessHandle>;

}  // namespace platform
