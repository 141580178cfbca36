#include "platform/sim/sim_processes.h"

#include <algorithm>

#include "platform/ansi.h"

namespace platform::sim {

namespace {

constexpr size_t kMaxPath = 260;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string UpperCase(std::string text) {
    AnsiUpperInPlace(text.data());
    return text;
}

std::string FileNamePart(const std::string& path) {
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

SimProcesses::SimProcesses(Faults& faults, SimSystem& system, SimFileSystem& files, SimShell& shell)
    : faults_(faults), system_(system), files_(files), shell_(shell) {
    auto boot = [this](uint32_t id, uint32_t parent, const char* exe, uint32_t threads) -> SimProcess& {
        SimProcess p;
        p.processId = id;
        p.parentProcessId = parent;
        p.exeFile = exe;
        p.threads = threads;
        table.push_back(p);
        return table.back();
    };
    boot(0, 0, "[System Process]", 1);
    boot(4, 0, "System", 80).denyOpen = true;  // not even an administrator may open it
    boot(system.processId, 0x300, "sweeptool.exe", 3);
}

SimProcess& SimProcesses::Add(const std::string& exeFile, uint32_t processId, uint32_t parentProcessId) {
    SimProcess p;
    p.exeFile = exeFile;
    p.processId = processId != 0 ? processId : (nextPid_ += 4);
    p.parentProcessId = parentProcessId;
    table.push_back(p);
    return table.back();
}

SimProcess* SimProcesses::Find(uint32_t processId) {
    Reap();
    for (SimProcess& p : table)
        if (p.processId == processId) return &p;
    return nullptr;
}

bool SimProcesses::Refuse(uint32_t code) {
    system_.SetLastError(code);
    return false;
}

void SimProcesses::Reap() {
    const uint64_t now = system_.GetTickCount64();
    std::vector<SimProcess> ending;
    for (auto it = table.begin(); it != table.end();) {
        if (it->endsAtMs && *it->endsAtMs <= now) {
            ending.push_back(std::move(*it));
            it = table.erase(it);
        } else {
            ++it;
        }
    }
    std::stable_sort(ending.begin(), ending.end(),
                     [](const SimProcess& a, const SimProcess& b) { return *a.endsAtMs < *b.endsAtMs; });
    for (const SimProcess& p : ending) {
        exited.push_back(SimProcessExit{p.processId, p.exeFile, p.exitCode, p.terminated, *p.endsAtMs});
        for (auto& [h, entry] : handles_) {
            if (entry.ended || entry.processId != p.processId) continue;
            entry.ended = true;
            entry.exitCode = p.exitCode;
        }
    }
    // A process a test took out of the table by hand counts as having ended with 0.
    for (auto& [h, entry] : handles_) {
        if (entry.ended) continue;
        bool running = false;
        for (const SimProcess& p : table) running = running || p.processId == entry.processId;
        if (!running) {
            entry.ended = true;
            entry.exitCode = 0;
        }
    }
}

SimProcesses::Handle* SimProcesses::HandleOf(ProcessHandle process) {
    auto it = handles_.find(process);
    if (it == handles_.end()) {
        system_.SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return &it->second;
}

std::optional<uint64_t> SimProcesses::SignalTime(const Handle& h) const {
    if (h.ended) return system_.clockMs;
    for (const SimProcess& p : table)
        if (p.processId == h.processId) return p.endsAtMs;
    return system_.clockMs;
}

void SimProcesses::CloseSnapshot(SnapshotHandle snapshot) { snapshots_.erase(snapshot); }

bool SimProcesses::CreateToolhelp32Snapshot(uint32_t flags, uint32_t, SnapshotHandle& out) {
    if (system_.Fault("CreateToolhelp32Snapshot")) return false;
    Reap();
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
    out.wideExeFile = p.wideExeFile.empty() ? AnsiToUtf16(p.exeFile) : p.wideExeFile;
    out.exeFile = p.wideExeFile.empty() ? p.exeFile : Utf16ToAnsi(p.wideExeFile);
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

void SimProcesses::CloseProcessHandle(ProcessHandle process) { handles_.erase(process); }

bool SimProcesses::OpenProcess(uint32_t access, bool, uint32_t processId, ProcessHandle& out) {
    if (system_.Fault("OpenProcess")) return false;
    Reap();
    if (processId == 0) return Refuse(kErrorInvalidParameter);  // the idle process cannot be opened
    Handle entry{processId, access, false, 0};
    auto p = std::find_if(table.begin(), table.end(),
                          [&](const SimProcess& q) { return q.processId == processId; });
    if (p != table.end()) {
        if (p->denyOpen) return Refuse(kErrorAccessDenied);
    } else {
        // An ended process lives on as long as some handle still refers to it.
        auto held = std::find_if(handles_.begin(), handles_.end(), [&](const auto& h) {
            return h.second.ended && h.second.processId == processId;
        });
        if (held == handles_.end()) return Refuse(kErrorInvalidParameter);
        entry.ended = true;
        entry.exitCode = held->second.exitCode;
    }
    out = nextHandle_;
    nextHandle_ += 4;
    handles_[out] = entry;
    return true;
}

bool SimProcesses::TerminateProcess(ProcessHandle process, uint32_t exitCode) {
    if (system_.Fault("TerminateProcess")) return false;
    Reap();
    Handle* h = HandleOf(process);
    if (h == nullptr) return false;
    if (!(h->access & kProcessTerminate)) return Refuse(kErrorAccessDenied);
    // A process that has ended or is already ending keeps its first exit code.
    if (h->ended) return true;
    auto p = std::find_if(table.begin(), table.end(),
                          [&](const SimProcess& q) { return q.processId == h->processId; });
    if (p == table.end() || p->terminated) return true;
    p->terminated = true;
    p->exitCode = exitCode;
    if (p->terminateDelayMs != SimProcess::kNeverEnds) {
        uint64_t at = system_.GetTickCount64() + p->terminateDelayMs;
        if (!p->endsAtMs || at < *p->endsAtMs) p->endsAtMs = at;
    }
    Reap();
    return true;
}

bool SimProcesses::GetExitCodeProcess(ProcessHandle process, uint32_t& exitCode) {
    if (system_.Fault("GetExitCodeProcess")) return false;
    Reap();
    Handle* h = HandleOf(process);
    if (h == nullptr) return false;
    if (!(h->access & (kProcessQueryInformation | kProcessQueryLimitedInformation)))
        return Refuse(kErrorAccessDenied);
    exitCode = h->ended ? h->exitCode : static_cast<uint32_t>(kStillActive);
    return true;
}

uint32_t SimProcesses::WaitForMultipleObjects(const std::vector<ProcessHandle>& handles, bool waitAll,
                                              uint32_t milliseconds) {
    if (system_.Fault("WaitForMultipleObjects")) return kWaitFailed;
    if (handles.empty() || handles.size() > kMaximumWaitObjects) {
        system_.SetLastError(kErrorInvalidParameter);
        return kWaitFailed;
    }
    Reap();
    std::vector<std::optional<uint64_t>> at;
    for (ProcessHandle process : handles) {
        Handle* h = HandleOf(process);
        if (h == nullptr) return kWaitFailed;
        if (!(h->access & kSynchronize)) {
            system_.SetLastError(kErrorAccessDenied);
            return kWaitFailed;
        }
        at.push_back(SignalTime(*h));
    }
    // When the wait is satisfied: all handles signalled, or the first of them.
    std::optional<uint64_t> when;
    if (waitAll) {
        when = at.front();
        for (const auto& t : at) when = t && when ? std::max(*when, *t) : std::optional<uint64_t>();
    } else {
        for (const auto& t : at)
            if (t && (!when || *t < *when)) when = t;
    }
    const uint64_t now = system_.GetTickCount64();
    const bool infinite = milliseconds == kInfinite;
    if (when && (infinite || *when <= now + milliseconds)) {
        if (*when > now) system_.AdvanceClock(*when - now);
        Reap();
        if (waitAll) return kWaitObject0;
        for (size_t i = 0; i < at.size(); ++i)
            if (at[i] && *at[i] <= *when) return kWaitObject0 + static_cast<uint32_t>(i);
    }
    if (infinite) {
        // A real machine would wait forever; a test is better served by a failure it can see.
        system_.SetLastError(kErrorCanNotComplete);
        return kWaitFailed;
    }
    system_.AdvanceClock(milliseconds);
    Reap();
    return kWaitTimeout;
}

std::string SimProcesses::Candidate(const std::string& dir, const std::string& name) const {
    std::string path = dir;
    if (!name.empty()) {
        if (!path.empty() && !IsSeparator(path.back())) path += '\\';
        path += name;
    }
    return path.size() < kMaxPath ? path : std::string();
}

bool SimProcesses::Exists(const std::string& path) const {
    return !path.empty() && files_.Attributes(path) != kInvalidFileAttributes;
}

bool SimProcesses::PathFindOnPath(std::string& path, const std::vector<std::string>& otherDirs) {
    if (system_.Fault("PathFindOnPathA")) return false;
    if (path.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);
    // Only a bare file name is searched for: one with a folder or a drive in it is not
    // found, and the last error is left as it was.
    if (path.find_first_of("\\:") != std::string::npos) return false;
    std::vector<std::string> dirs;
    // The caller's folders end at the first empty one, as the NULL-terminated list would.
    for (const std::string& dir : otherDirs) {
        if (dir.empty()) break;
        dirs.push_back(dir);
    }
    dirs.push_back(shell_.systemDirectory);
    dirs.push_back(shell_.windowsDirectory + "\\System");
    dirs.push_back(shell_.windowsDirectory);
    std::u16string value;
    if (system_.GetEnvironmentVariable(u"PATH", value)) {
        std::string list = Utf16ToAnsi(value);
        for (size_t start = 0; start <= list.size();) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const std::string& dir : dirs) {
        std::string candidate = Candidate(dir, path);
        if (Exists(candidate)) {
            path = candidate;
            return true;
        }
    }
    return Refuse(kErrorFileNotFound);
}

bool SimProcesses::ApplicationImage(const std::string& applicationName, std::string& full) {
    if (applicationName.empty()) return Refuse(kErrorFileNotFound);
    // No search path: a relative name is taken from the current directory (or, with a
    // leading separator, from the root of its drive).
    const std::string& here = system_.currentDirectory;
    const std::string& name = applicationName;
    if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1]))
        full = name;  // a network path: the simulated machine has none
    else if (name.size() >= 2 && name[1] == ':')
        full = name.size() > 2 && IsSeparator(name[2]) ? name : name.substr(0, 2) + "\\" + name.substr(2);
    else if (IsSeparator(name[0]))
        full = here.substr(0, 2) + name;
    else
        full = here + "\\" + name;
    if (full.size() >= kMaxPath) return Refuse(kErrorFilenameExcedRange);

    uint32_t attributes = files_.Attributes(full);
    if (attributes == kInvalidFileAttributes) {
        // A bare name's folder is the current directory, which always exists.
        size_t cut = full.find_last_of("\\/");
        bool folder = name.find_first_of("\\/:") == std::string::npos ||
                      (cut != std::string::npos && cut >= 2 && Exists(full.substr(0, cut == 2 ? 3 : cut)));
        return Refuse(folder ? kErrorFileNotFound : kErrorPathNotFound);
    }
    if (attributes & kFileAttributeDirectory) return Refuse(kErrorAccessDenied);
    // A file with contents that are not an executable image is refused; an empty one
    // stands for a program.
    const std::string contents = files_.Contents(full);
    if (!contents.empty() && contents.compare(0, 2, "MZ") != 0) return Refuse(kErrorBadExeFormat);
    return true;
}

bool SimProcesses::CreateProcess(const std::string& applicationName, uint32_t& processId) {
    if (system_.Fault("CreateProcessA")) return false;
    std::string full;
    if (!ApplicationImage(applicationName, full)) return false;
    processId = Add(FileNamePart(full), 0, system_.processId).processId;
    started.push_back(applicationName);
    return true;
}

void SimProcesses::AddProgram(const std::string& path, SimProgram behaviour) {
    files_.CreateFile(path, "MZ");
    programs_[UpperCase(path)] = std::move(behaviour);
}

std::string SimProcesses::LocateProgram(std::string name) const {
    if (FileNamePart(name).find('.') == std::string::npos) name += ".exe";
    auto program = [this](const std::string& path) {
        const uint32_t attributes = path.empty() ? kInvalidFileAttributes : files_.Attributes(path);
        return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
    };
    if (name.find_first_of("\\/:") != std::string::npos) {
        // A name with a folder or a drive is not searched for.
        const std::string& here = system_.currentDirectory;
        std::string full;
        if (name.size() >= 2 && name[1] == ':')
            full = name.size() > 2 && IsSeparator(name[2]) ? name : name.substr(0, 2) + "\\" + name.substr(2);
        else if (IsSeparator(name[0]))
            full = name.size() >= 2 && IsSeparator(name[1]) ? name : here.substr(0, 2) + name;
        else
            full = here + "\\" + name;
        return full.size() < kMaxPath && program(full) ? full : std::string();
    }
    const std::string& module = system_.modulePath;
    const size_t cut = module.find_last_of("\\/");
    std::vector<std::string> dirs;
    if (cut != std::string::npos) dirs.push_back(module.substr(0, cut));
    dirs.push_back(system_.currentDirectory);
    dirs.push_back(shell_.systemDirectory);
    dirs.push_back(shell_.windowsDirectory + "\\System");
    dirs.push_back(shell_.windowsDirectory);
    std::u16string value;
    if (system_.GetEnvironmentVariable(u"PATH", value)) {
        const std::string list = Utf16ToAnsi(value);
        for (size_t start = 0; start <= list.size();) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const std::string& dir : dirs) {
        const std::string candidate = Candidate(dir, name);
        if (program(candidate)) return candidate;
    }
    return std::string();
}

bool SimProcesses::FindProgram(const std::string& commandLine, std::string& image) {
    const size_t begin = commandLine.find_first_not_of(" \t");
    if (begin == std::string::npos) return Refuse(kErrorFileNotFound);
    // A quoted program name ends at its closing quote. An unquoted one may itself hold
    // blanks: each blank is tried in turn as the end of the name, then the whole line.
    std::vector<std::string> names;
    if (commandLine[begin] == '"') {
        const size_t close = commandLine.find('"', begin + 1);
        names.push_back(
            commandLine.substr(begin + 1, close == std::string::npos ? close : close - begin - 1));
    } else {
        for (size_t at = commandLine.find_first_of(" \t", begin); at != std::string::npos;
             at = commandLine.find_first_of(" \t", at + 1))
            names.push_back(commandLine.substr(begin, at - begin));
        names.push_back(commandLine.substr(begin));
    }
    for (const std::string& name : names) {
        if (name.empty()) continue;
        std::string found = LocateProgram(name);
        if (found.empty()) continue;
        const std::string contents = files_.Contents(found);
        if (!contents.empty() && contents.compare(0, 2, "MZ") != 0) return Refuse(kErrorBadExeFormat);
        image = std::move(found);
        return true;
    }
    return Refuse(kErrorFileNotFound);
}

bool SimProcesses::CreateProcessHidden(const std::u16string& applicationName,
                                       const std::u16string& commandLine, ProcessHandle& process,
                                       uint32_t& processId) {
    if (system_.Fault("CreateProcessW")) return false;
    // CreateProcessW takes at most 32767 characters, terminator included.
    if (commandLine.size() >= 32767) return Refuse(kErrorInvalidParameter);
    Reap();
    std::string image;
    if (applicationName.empty() ? !FindProgram(Utf16ToAnsi(commandLine), image)
                                : !ApplicationImage(Utf16ToAnsi(applicationName), image))
        return false;

    SimProgramRun run{kStillActive, SimProcess::kNeverEnds};
    auto behaviour = programs_.find(UpperCase(image));
    // The behaviour may change the machine, this table included: it runs before the new
    // entry is made.
    if (behaviour != programs_.end() && behaviour->second) run = behaviour->second(commandLine);
    SimProcess& p = Add(FileNamePart(image), 0, system_.processId);
    p.imagePath = image;
    if (run.runsForMs != SimProcess::kNeverEnds) {
        p.endsAtMs = system_.GetTickCount64() + run.runsForMs;
        p.exitCode = run.exitCode;
    }
    const uint32_t id = p.processId;
    process = nextHandle_;
    nextHandle_ += 4;
    handles_[process] = Handle{id, kProcessAllAccess, false, 0};
    processId = id;
    startedHidden.push_back(SimHiddenStart{commandLine, image, id});
    return true;
}

}  // namespace platform::sim
