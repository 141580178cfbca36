// The steps that deal with running code: ending the listed processes, stopping and
// deleting the listed services, and starting the follow-up programs at the end.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "actions/program_search.h"
#include "engine/cnuke.h"
#include "expand/handlers_internal.h"
#include "expand/path_helpers.h"
#include "logging/engine_log.h"

namespace engine {

namespace {

constexpr uint32_t kProcessWaitBudgetMs = 10000;
constexpr uint32_t kServiceStopPolls = 30;
constexpr uint32_t kServicePollMs = 1000;

}  // namespace

uint32_t CNuke::StopNTProcesses() {
    static const char* const kTag = "CNuke::StopNTProcesses";
    platform::SnapshotHandle raw = 0;
    if (!os_.proc.CreateToolhelp32Snapshot(platform::kTh32csSnapProcess, 0, raw))
        return os_.sys.GetLastError();
    platform::UniqueSnapshot snapshot(&os_.proc, raw);

    // One slot per listed name to begin with; several instances of one program each take
    // a slot of their own, so the table grows with the matches.
    std::vector<platform::UniqueProcess> killed;
    killed.reserve(stopProcessList.Count());
    const uint32_t self = os_.sys.GetCurrentProcessId();

    platform::ProcessEntry entry;
    for (bool more = os_.proc.Process32First(snapshot.get(), entry); more;
         more = os_.proc.Process32Next(snapshot.get(), entry)) {
        const char* name = expand::detail::FileNamePart(entry.exeFile.c_str());
        if (!stopProcessList.Contains(name)) continue;
        if (!platform::SurvivesAnsi(entry.wideExeFile)) {
            // A best-fit alias of the listed name: another program.
            expand::detail::LogUnspellable(kTag, "Process", entry.wideExeFile);
            continue;
        }
        if (entry.processId == self) {
            // Ending this process would end the run half-way, with nothing restarted.
            EngineLog(3, "%s: Not terminating process '%s': it is this tool itself", kTag, name);
            continue;
        }
        EngineLog(5, "%s: Terminating process: '%s'", kTag, name);
        platform::ProcessHandle h = 0;
        if (!os_.proc.OpenProcess(platform::kSynchronize | platform::kProcessTerminate, false,
                                  entry.processId, h))
            continue;
        platform::UniqueProcess process(&os_.proc, h);
        if (os_.proc.TerminateProcess(process.get(), 0xFFFFFFFF)) {
            ++counts.processesEnded;
            killed.push_back(std::move(process));
        }
    }

    // The wait call takes at most 64 handles: wait batch by batch, all within one budget.
    const uint64_t deadline = os_.sys.GetTickCount64() + kProcessWaitBudgetMs;
    for (size_t start = 0; start < killed.size(); start += platform::kMaximumWaitObjects) {
        const size_t end = std::min(killed.size(), start + platform::kMaximumWaitObjects);
        std::vector<platform::ProcessHandle> batch;
        for (size_t i = start; i < end; ++i) batch.push_back(killed[i].get());
        const uint64_t now = os_.sys.GetTickCount64();
        const uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
        (void)os_.proc.WaitForMultipleObjects(batch, true, left);
    }

    killed.clear();
    snapshot.reset();
    EngineLog(5, "%s: StopNTProcesses was successful", kTag);
    return 0;
}

uint32_t CNuke::StopNTServices() {
    static const char* const kTag = "CNuke::StopNTServices";
    platform::ScHandle raw = 0;
    if (!os_.scm.OpenSCManager(nullptr, platform::kScManagerAllAccess, raw)) return os_.sys.GetLastError();
    platform::UniqueScHandle manager(&os_.scm, raw);

    platform::ScLock lock = 0;
    const bool locked = os_.scm.LockServiceDatabase(manager.get(), lock);

    bool errors = false;
    const char* name = nullptr;
    for (uint32_t rc = serviceList.First(&name); rc == 0; rc = serviceList.Next(&name)) {
        platform::ScHandle rawService = 0;
        if (!os_.scm.OpenService(manager.get(), name, platform::kServiceAllAccess, rawService)) {
            const uint32_t error = os_.sys.GetLastError();
            if (error == platform::kErrorServiceDoesNotExist) {
                EngineLog(
                    5,
                    "%s: Service '%s' doesn't exist. The current product installation is not using this "
                    "legacy service anymore",
                    kTag, name);
            } else {
                errors = true;
                ++counts.servicesFailed;
                LogErrorCode(error, "Terminating service", name);
            }
            continue;
        }
        platform::UniqueScHandle service(&os_.scm, rawService);
        platform::ServiceStatus status;
        (void)os_.scm.ControlService(service.get(), platform::kServiceControlStop, status);
        for (uint32_t poll = 0; poll < kServiceStopPolls; ++poll) {
            os_.sys.Sleep(kServicePollMs);
            if (os_.scm.QueryServiceStatus(service.get(), status) &&
                status.currentState == platform::kServiceStopped)
                break;
        }
        // A service that would not stop is deleted all the same: Windows removes it once it stops.
        if (os_.scm.DeleteService(service.get())) {
            ++counts.servicesDeleted;
            EngineLog(4, "%s: Terminating service '%s' was successful", kTag, name);
        } else {
            ++counts.servicesFailed;
            EngineLog(3, "%s: Service '%s' stopped, service delete returned with error '%d'", kTag, name,
                      static_cast<int>(os_.sys.GetLastError()));
        }
    }

    if (locked) (void)os_.scm.UnlockServiceDatabase(lock);
    manager.reset();
    if (errors)
        EngineLog(2, "%s: StopNTServices encountered errors", kTag);
    else
        EngineLog(5, "%s: StopNTServices was successful", kTag);
    return 0;
}

uint32_t CNuke::StartNTProcesses() {
    static const char* const kTag = "CNuke::StartNTProcesses";
    const char* entry = nullptr;
    for (uint32_t rc = startProcessList.First(&entry); rc == 0; rc = startProcessList.Next(&entry)) {
        EngineLog(5, "%s: Starting process '%s'...", kTag, entry);
        std::string program;
        if (uint32_t code = actions::FindProgramToStart(os_, entry, program)) {
            if (code == actions::kErrorProgramUserCanChange)
                EngineLog(
                    2, "%s: Process '%s' not started: a standard user can change '%s' or a folder above it",
                    kTag, entry, program.c_str());
            else
                LogErrorCode(code, "Starting of process", entry);
            continue;
        }
        uint32_t processId = 0;
        if (!os_.proc.CreateProcess(program, processId)) {
            LogErrorCode(os_.sys.GetLastError(), "Starting of process", entry);
            continue;
        }
        EngineLog(4, "%s: Process '%s' started successfully", kTag, entry);
    }
    return 0;
}

}  // namespace engine
