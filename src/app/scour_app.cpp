#include "app/scour_app.h"

#include <cstdio>
#include <cstring>

#include "app/console_output.h"
#include "app/preview.h"
#include "app/run_report.h"
#include "engine/config_check.h"
#include "platform/ansi.h"

namespace app {

namespace {

bool SameOption(const std::string& argument, const char* option) {
    return platform::AnsiCompareNoCase(argument.c_str(), option) == 0;
}

// atol of what follows the first "=", saturating instead of overflowing. Leading blanks
// and a sign are allowed; reading stops at the first non-digit; no digits give 0.
long long ReadDelay(const std::string& argument) {
    size_t eq = argument.find('=');
    if (eq == std::string::npos) return 0;
    const char* p = argument.c_str() + eq + 1;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value < 10LL * kMaxShutdownTimeoutSeconds) value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

// The exit code once the dialog has ended.
uint32_t ExitCodeAfterDialog(DialogResult result, const Cleaner& cleaner) {
    if (cleaner.outcome != RunOutcome::NotRun) return cleaner.ExitCode();
    if (result == DialogResult::CancelledBeforeStart) return platform::kErrorInstallUserexit;
    // No window, or a finished state reached without a run (the worker could not start):
    // nothing was removed, which must not read as success.
    return platform::kErrorInstallFailure;
}

}  // namespace

ParsedOptions ApplyCommandLine(const std::vector<std::string>& arguments, Cleaner& cleaner) {
    ParsedOptions parsed;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (SameOption(a, "--removeall")) {
            cleaner.removeAll = 1;
        } else if (SameOption(a, "--forcemsi")) {
            cleaner.forceMsi = 1;
        } else if (SameOption(a, "--noreboot")) {
            cleaner.noReboot = 1;
        } else if (SameOption(a, "--NOGUI")) {
            cleaner.autoRestart = 1;
            parsed.showDialog = false;
        } else if (SameOption(a, "--server")) {
            // Accepted for the deployment tools that pass it; it changes nothing.
        } else if (SameOption(a, "--check")) {
            parsed.check = true;
        } else if (SameOption(a, "--preview")) {
            parsed.preview = true;
        } else if (std::strstr(a.c_str(), "--reboot-delay=") != nullptr) {
            long long delay = ReadDelay(a);
            // A negative delay means nothing sensible: keep the delay as it was. A delay
            // beyond what Windows accepts would make the restart fail, so take the maximum.
            if (delay > 0) {
                cleaner.rebootDelay = delay > kMaxShutdownTimeoutSeconds ? kMaxShutdownTimeoutSeconds
                                                                         : static_cast<uint32_t>(delay);
            }
        } else {
            parsed.showUsage = true;  // "--help" and anything unknown
            return parsed;
        }
    }
    return parsed;
}

std::string UsageText(const std::string& programPath) {
    std::string text = kUsageFormat;
    text.replace(text.find("%s"), 2, programPath);
    return text;
}

CScourApp::CScourApp(platform::Platform& os) : os_(os) {
    safeBootMode = os.sys.GetSystemMetrics(platform::kSmCleanBoot);
}

CScourApp::~CScourApp() { UnregisterSafeBootInstaller(); }

bool CScourApp::InitInstance() {
    RunRecord record;
    record.start = LocalTimestamp(os_.sys);
    Cleaner cleaner(os_);
    cleaner.autoRestart = 0;
    std::vector<std::string> arguments = os_.sys.CommandLineArguments();
    ParsedOptions parsed = ApplyCommandLine(arguments, cleaner);
    if (parsed.showUsage) {
        (void)os_.sys.MessageBox(UsageText(arguments.empty() ? std::string() : arguments[0]), kUsageCaption,
                                 platform::kMbOk);
        exitCode = 0;
        return false;
    }
    // One run at a time: a second start while a run, a preview or the dialog holds the lock
    // ends at once and changes nothing, not even the log the first one writes, with the
    // installer's "another installation is in progress", which deployment systems retry. A
    // check alone changes nothing and may run beside them. Without the tool's folder (no
    // administrator rights) there is no lock, and the run refuses as it always did.
    if ((!parsed.check || parsed.preview) && TakeRunLock() == platform::kErrorSharingViolation) {
        exitCode = platform::kErrorInstallAlreadyRunning;
        return false;
    }
    record.arguments = arguments;
    record.options = parsed;
    if (parsed.check || parsed.preview)
        exitCode = CheckAndPreview(cleaner, parsed, record);
    else
        exitCode = RunCleanup(cleaner, parsed);
    record.exitCode = exitCode;
    record.end = LocalTimestamp(os_.sys);
    WriteRunReport(os_, record, cleaner);
    return false;
}

uint32_t CScourApp::RunCleanup(Cleaner& cleaner, const ParsedOptions& parsed) {
    if (safeBootMode != 0 && !StartInstallerService()) {
        // Without the installer service nothing can be uninstalled: end silently, and tell
        // the deployment tool why.
        return platform::kErrorInstallServiceFailure;
    }
    if (parsed.showDialog && runDialog) return ExitCodeAfterDialog(runDialog(cleaner), cleaner);
    // Without a dialog the sequence runs on this thread; only --NOGUI restarts by itself.
    cleaner.Run();
    return cleaner.ExitCode();
}

uint32_t CScourApp::CheckAndPreview(Cleaner& cleaner, const ParsedOptions& parsed, RunRecord& record) {
    // Neither changes the machine: no installer service for safe mode, no dialog, no restart.
    std::string text;
    uint32_t code = 0;
    record.mode = parsed.preview ? RunMode::Preview : RunMode::Check;
    if (parsed.check) {
        record.check = engine::CheckConfiguration(cleaner.engine);
        text += engine::FormatCheckResult(*record.check);
        code = record.check->code;
    }
    if (parsed.preview) {
        if (code == 0) {
            cleaner.engine.previewOnly = true;
            record.preview = RunPreview(cleaner);
            text += record.preview->plan;
            code = record.preview->code;
        } else {
            text += "No preview: the configuration has problems.\n";
        }
    }
    (void)PrintToConsole(os_.sys, text);
    WritePlanFile(os_, text);
    return code;
}

uint32_t CScourApp::TakeRunLock() {
    runLockFolder_ = std::make_unique<guard::ToolFolder>(os_);
    uint32_t rc = runLockFolder_->Open();
    return rc != 0 ? rc : runLockFolder_->HoldExclusive(kRunLockFileName, runLock_);
}

bool CScourApp::RegisterSafeBootInstaller() {
    const char* key = nullptr;
    if (safeBootMode == 1)
        key = kSafeBootMinimalKey;
    else if (safeBootMode == 2)
        key = kSafeBootNetworkKey;
    else
        return true;
    safeBootKey = key;
    platform::RegKey raw = 0;
    uint32_t disposition = 0;
    // Volatile: a run that is ended before its exit (a time-out, a power cut) cannot leave the
    // installer registered for safe mode beyond the next restart.
    uint32_t code = os_.reg.CreateKeyEx(platform::kHkeyLocalMachine, key, platform::kRegOptionVolatile,
                                        platform::kKeyAllAccess, raw, &disposition);
    // Only a key this run created is deleted at exit, even when a later step fails: a
    // registration an administrator made keeps the installer available in safe mode. A
    // second call that finds this run's own key keeps it this run's.
    if (code == 0 && disposition == platform::kRegCreatedNewKey) safeBootKeyCreated = true;
    if (code != 0 || raw == 0) return false;
    platform::UniqueRegKey handle(&os_.reg, raw);
    // The mark tells a later run of this boot that a run which was ended made the key, so
    // that it goes at that run's exit instead of staying until the restart.
    if (!safeBootKeyCreated &&
        os_.reg.QueryValueEx(handle.get(), kSafeBootMarkValue, nullptr, nullptr, nullptr) == 0)
        safeBootKeyCreated = true;
    static const char kService[] = "Service";
    if (os_.reg.SetValueEx(handle.get(), nullptr, platform::kRegSz, kService, sizeof(kService)) != 0)
        return false;
    static const char kMark[] = "1";
    if (safeBootKeyCreated)
        (void)os_.reg.SetValueEx(handle.get(), kSafeBootMarkValue, platform::kRegSz, kMark, sizeof(kMark));
    return true;
}

bool CScourApp::StartInstallerService() {
    if (!RegisterSafeBootInstaller()) return false;
    platform::ScHandle raw = 0;
    if (!os_.scm.OpenSCManager(platform::kServicesActiveDatabase, platform::kScManagerAllAccess, raw))
        return false;
    platform::UniqueScHandle manager(&os_.scm, raw);
    if (!os_.scm.OpenService(manager.get(), "msiserver", platform::kServiceAllAccess, raw)) return false;
    platform::UniqueScHandle service(&os_.scm, raw);
    if (os_.scm.StartService(service.get())) return true;
    return os_.sys.GetLastError() == platform::kErrorServiceAlreadyRunning;
}

void CScourApp::UnregisterSafeBootInstaller() {
    if (safeBootMode != 0 && safeBootKey != nullptr && safeBootKeyCreated) {
        (void)os_.reg.DeleteKey(platform::kHkeyLocalMachine, safeBootKey);
    }
}

}  // namespace app
