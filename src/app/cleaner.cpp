#include "app/cleaner.h"

#include "expand/os_checks.h"
#include "logging/engine_log.h"

namespace app {

const char kRestartNotice[] =
    "Uninstallation completed successfully.\nKelvaris Clearout Tool\nwill restart your computer shortly.";

namespace {
constexpr uint32_t kPauseBeforeFilesMs = 1500;
constexpr uint32_t kPauseBeforeRestartMs = 500;

constexpr char kPrepareLists[] = "Cleaner::PrepareLists";
constexpr char kSecurityCenter[] = "RemoveSecurityCenterEntries";

using Step = uint32_t (engine::CNuke::*)();
struct NamedStep {
    const char* name;
    Step run;
};
// The engine steps before the Security Center step, and after it and the pause.
const NamedStep kBefore[] = {
    {"CNuke::MsiUninstall", &engine::CNuke::MsiUninstall},
    {"CNuke::StopNTProcesses", &engine::CNuke::StopNTProcesses},
    {"CNuke::StopNTServices", &engine::CNuke::StopNTServices},
    {"CNuke::ResetLspStack", &engine::CNuke::ResetLspStack},
};
const NamedStep kAfter[] = {
    {"CNuke::CleanupFiles", &engine::CNuke::CleanupFiles},
    {"CNuke::CleanupRegValues", &engine::CNuke::CleanupRegValues},
    {"CNuke::CleanupRegKeys", &engine::CNuke::CleanupRegKeys},
    {"CNuke::StartNTProcesses", &engine::CNuke::StartNTProcesses},
};
}  // namespace

const std::vector<const char*>& Cleaner::SequenceSteps() {
    static const std::vector<const char*> names = [] {
        std::vector<const char*> all{kPrepareLists};
        for (const NamedStep& s : kBefore) all.push_back(s.name);
        all.push_back(kSecurityCenter);
        for (const NamedStep& s : kAfter) all.push_back(s.name);
        return all;
    }();
    return names;
}

Cleaner::Cleaner(platform::Platform& os) : engine(os), detector(os), firewall(os), os_(os) {}

Cleaner::~Cleaner() = default;

void Cleaner::Run() {
    (void)detector.DetectRunningProducts();
    (void)detector.CheckConflictingProducts();
    if (detector.removalBlocked) {
        outcome = RunOutcome::Blocked;
        TurnFirewallOn();
        return;
    }
    (void)detector.CheckInstallationPath();
    if (detector.removalBlocked) {
        outcome = RunOutcome::Blocked;
        TurnFirewallOn();
        return;
    }
    engine.SetDetector(&detector);
    if (detect::IsAdministrator(os_) == 0) {
        outcome = RunOutcome::NotAdministrator;
        return;
    }
    sequenceCode = RunSequence();
    outcome = sequenceCode == 0 ? RunOutcome::Succeeded : RunOutcome::StepFailed;
    TurnFirewallOn();
}

uint32_t Cleaner::PrepareLists() {
    uint32_t code = engine.InitializeLists(removeAll, forceMsi);
    if (code != 0) return code;
    if ((code = engine.ExpandLists()) != 0) return code;
    engine.TakeUpUnfinishedRun();
    // Kept before anything is changed, until the sequence has gone through.
    if (!engine.previewOnly) engine.RecordUnfinishedRun();
    return 0;
}

uint32_t Cleaner::RunSequence() {
    stepResults.clear();
    auto step = [this](const char* name, uint32_t code) {
        uint32_t next = stepObserver ? stepObserver(name, code) : code;
        stepResults.push_back(StepResult{name, next});
        return next;
    };
    uint32_t code = step(kPrepareLists, PrepareLists());
    for (const NamedStep& s : kBefore) {
        if (code != 0) return code;
        code = step(s.name, (engine.*s.run)());
    }
    if (code != 0) return code;
    engine::RemoveSecurityCenterEntries(os_);
    (void)step(kSecurityCenter, 0);
    os_.sys.Sleep(kPauseBeforeFilesMs);
    for (const NamedStep& s : kAfter) {
        if (code != 0) return code;
        code = step(s.name, (engine.*s.run)());
    }
    if (code == 0) engine.ForgetUnfinishedRun();
    if (code == 0 && autoRestart == 1) {
        (void)step("Cleaner::Restart", 0);
        Restart();
    }
    return code;
}

void Cleaner::TurnFirewallOn() {
    if (expand::GetOsPlatformId(os_) == static_cast<int>(platform::kVerPlatformWin32Nt)) firewall.TurnICFOn();
}

void Cleaner::Restart() {
    platform::TokenHandle raw = 0;
    bool nt = expand::GetOsPlatformId(os_) == static_cast<int>(platform::kVerPlatformWin32Nt);
    if (!nt || !os_.sys.OpenProcessToken(platform::kTokenAdjustPrivileges | platform::kTokenQuery, raw)) {
        // Without a token the shutdown privilege cannot be enabled; still ask for a restart,
        // since restarting is the whole point of reaching this step.
        if (noReboot == 0) RequestRestart(false);
        return;
    }
    platform::UniqueToken token(&os_.sys, raw);
    platform::Luid luid;
    if (os_.sys.LookupPrivilegeValue(platform::kSeShutdownName, luid)) {
        (void)os_.sys.AdjustTokenPrivilege(token.get(), luid, platform::kSePrivilegeEnabled);
    }
    {
        actions::CWinFirewall temporary(os_);
        temporary.TurnICFOn();
    }
    os_.sys.Sleep(kPauseBeforeRestartMs);
    if (noReboot != 0) return;
    RequestRestart(rebootDelay != 0);
}

void Cleaner::RequestRestart(bool timed) {
    bool started = timed ? os_.sys.InitiateSystemShutdownEx(nullptr, kRestartNotice, rebootDelay, true, true,
                                                            platform::kShutdownReasonPlannedAppMaintenance)
                         : os_.sys.ExitWindowsEx(platform::kEwxReboot | platform::kEwxForce, 0);
    // A refused restart (no shutdown privilege, a shutdown already under way) leaves the
    // machine running: the caller must learn that a restart is still required.
    if (started) {
        restartRequested = true;
        return;
    }
    uint32_t error = os_.sys.GetLastError();
    engine::EngineLog(
        2, "%s: %s failed with error %04d; the machine must be restarted to complete the removal",
        "Cleaner::Restart", timed ? "InitiateSystemShutdownEx" : "ExitWindowsEx", static_cast<int>(error));
}

uint32_t Cleaner::ExitCode() const {
    switch (outcome) {
        case RunOutcome::NotRun:
            return 0;
        case RunOutcome::Blocked:
            return platform::kErrorInstallRemoteDisallowed;
        case RunOutcome::NotAdministrator:
            return platform::kErrorAccessDenied;
        case RunOutcome::StepFailed:
            return sequenceCode;
        case RunOutcome::Succeeded:
            return restartRequested ? platform::kErrorSuccessRebootInitiated
                                    : platform::kErrorSuccessRebootRequired;
    }
    return 0;
}

}  // namespace app
