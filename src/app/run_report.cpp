#include "app/run_report.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>

#include "actions/registry_backup.h"
#include "app/console_output.h"
#include "engine/list_init.h"
#include "guard/tool_folder.h"
#include "logging/engine_log.h"
#include "logging/file_access.h"
#include "logging/file_utils.h"
#include "logging/log_settings.h"
#include "platform/ansi.h"

namespace app {

namespace {

using Json = nlohmann::ordered_json;

constexpr char kReportTag[] = "CScourApp::WriteRunReport";
constexpr char kPlanTag[] = "CScourApp::WritePlan";
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
// Bumped when a field changes its meaning or goes away; new fields do not bump it.
constexpr int kReportFormat = 1;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t SecondsOf(const platform::SystemTime& t) {
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// The text the log's version record shows; read the same way when the log was not opened.
std::string ToolVersion(platform::Platform& os) {
    std::string text = engine::VersionText();
    if (text != "NO_VERSION") return text;
    std::string module;
    platform::FileVersion version;
    if (os.sys.GetModuleFileName(module) != 0 || module.empty() || module.size() >= platform::kMaxPath ||
        os.shell.GetFileVersion(module, version) != 0)
        return text;
    char buffer[48];
    std::snprintf(buffer, sizeof(buffer), "%d.%d.%d.%d%s", static_cast<int>(version.fileVersionMS >> 16),
                  static_cast<int>(version.fileVersionMS & 0xFFFF),
                  static_cast<int>(version.fileVersionLS >> 16),
                  static_cast<int>(version.fileVersionLS & 0xFFFF),
                  (version.fileFlags & platform::kVsFfDebug) != 0 ? " DEBUG" : "");
    return buffer;
}

const char* ModeName(RunMode mode) {
    switch (mode) {
        case RunMode::Preview:
            return "preview";
        case RunMode::Check:
            return "check";
        case RunMode::Run:
            break;
    }
    return "run";
}

const char* OutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::NotRun:
            return "not run";
        case RunOutcome::Blocked:
            return "refused";
        case RunOutcome::NotAdministrator:
            return "not administrator";
        case RunOutcome::StepFailed:
            return "step failed";
        case RunOutcome::Succeeded:
            return "succeeded";
    }
    return "not run";
}

// The counts that belong to one step of the sequence; null for a step that counts nothing.
Json StepCounts(const char* step, const engine::RunCounts& c) {
    std::string name = step;
    if (name == "CNuke::MsiUninstall") return Json{{"productsUninstalled", c.productsUninstalled}};
    if (name == "CNuke::StopNTProcesses") return Json{{"processesEnded", c.processesEnded}};
    if (name == "CNuke::StopNTServices")
        return Json{{"servicesDeleted", c.servicesDeleted}, {"servicesFailed", c.servicesFailed}};
    if (name == "CNuke::CleanupFiles")
        return Json{
            {"filesListed", c.filesListed}, {"filesQueued", c.filesQueued}, {"filesFailed", c.filesFailed}};
    if (name == "CNuke::CleanupRegValues")
        return Json{{"valuesListed", c.valuesListed},
                    {"valuesDeleted", c.valuesDeleted},
                    {"valuesFailed", c.valuesFailed}};
    if (name == "CNuke::CleanupRegKeys")
        return Json{
            {"keysListed", c.keysListed}, {"keysDeleted", c.keysDeleted}, {"keysFailed", c.keysFailed}};
    return nullptr;
}

Json Steps(const Cleaner& cleaner, uint32_t& failedSteps) {
    Json steps = Json::array();
    failedSteps = 0;
    for (const char* name : Cleaner::SequenceSteps()) {
        Json step{{"name", name}};
        const StepResult* result = nullptr;
        for (const StepResult& r : cleaner.stepResults)
            if (r.name != nullptr && std::strcmp(r.name, name) == 0) result = &r;
        step["ran"] = result != nullptr;
        step["code"] = result != nullptr ? Json(result->code) : Json(nullptr);
        if (result != nullptr) {
            if (result->code != 0) ++failedSteps;
            Json counts = StepCounts(name, cleaner.engine.counts);
            if (!counts.is_null()) step["counts"] = counts;
        }
        steps.push_back(step);
    }
    return steps;
}

Json CheckSection(const engine::ConfigCheckResult& check) {
    Json problems = Json::array();
    for (const engine::ConfigProblem& p : check.problems) {
        problems.push_back(Json{{"severity", p.severity == engine::Severity::kError ? "error" : "warning"},
                                {"section", AnsiToUtf8(p.section)},
                                {"line", p.line},
                                {"text", AnsiToUtf8(p.text)},
                                {"message", AnsiToUtf8(p.message)}});
    }
    return Json{{"code", check.code},
                {"file", AnsiToUtf8(check.path)},
                {"encoding", check.encoding},
                {"problemCount", check.problems.size()},
                {"errorCount", check.Count(engine::Severity::kError)},
                {"warningCount", check.Count(engine::Severity::kWarning)},
                {"problems", problems}};
}

Json PreviewSection(const PreviewResult& preview) {
    return Json{{"code", preview.code},           {"products", preview.products},
                {"processes", preview.processes}, {"services", preview.services},
                {"files", preview.files},         {"values", preview.values},
                {"keys", preview.keys},           {"kept", preview.kept}};
}

Json Report(platform::Platform& os, const RunRecord& record, const Cleaner& cleaner) {
    Json arguments = Json::array();
    for (size_t i = 1; i < record.arguments.size(); ++i) arguments.push_back(AnsiToUtf8(record.arguments[i]));
    const engine::RunCounts& c = cleaner.engine.counts;
    uint32_t failedSteps = 0;
    Json steps = Steps(cleaner, failedSteps);
    uint32_t errors = failedSteps + c.servicesFailed + c.filesFailed + c.valuesFailed + c.keysFailed;

    Json report;
    report["format"] = kReportFormat;
    report["tool"] = "sweeptool";
    report["version"] = AnsiToUtf8(ToolVersion(os));
    report["start"] = record.start;
    report["end"] = record.end;
    report["program"] = record.arguments.empty() ? std::string() : AnsiToUtf8(record.arguments[0]);
    report["arguments"] = arguments;
    report["options"] = Json{{"removeAll", cleaner.removeAll != 0}, {"forceMsi", cleaner.forceMsi != 0},
                             {"noReboot", cleaner.noReboot != 0},   {"autoRestart", cleaner.autoRestart != 0},
                             {"rebootDelay", cleaner.rebootDelay},  {"dialog", record.options.showDialog},
                             {"check", record.options.check},       {"preview", record.options.preview}};
    report["mode"] = ModeName(record.mode);
    report["outcome"] = OutcomeName(cleaner.outcome);
    report["exitCode"] = record.exitCode;
    report["exitMeaning"] = ExitCodeMeaning(record.mode, record.exitCode);
    report["restartRequested"] = cleaner.restartRequested;
    report["steps"] = steps;
    report["errors"] = errors;
    report["registryBackup"] =
        cleaner.engine.registryBackup ? AnsiToUtf8(cleaner.engine.registryBackup->path()) : std::string();
    if (record.check) report["check"] = CheckSection(*record.check);
    if (record.mode == RunMode::Preview)
        report["preview"] = record.preview ? PreviewSection(*record.preview) : Json(nullptr);
    return report;
}

void LogWriteFailure(const char* tag, const std::u16string& name, uint32_t code) {
    engine::EngineLog(2, "%s: could not write '%s' to the tool's folder, error %04d", tag,
                      platform::Utf16ToAnsi(name).c_str(), static_cast<int>(code));
}

}  // namespace

std::string LocalTimestamp(platform::ISystem& sys) {
    platform::SystemTime local = sys.GetLocalTime();
    platform::SystemTime utc = sys.GetSystemTime();
    // The two clocks are read one after the other: round the offset to whole minutes.
    int64_t offset = SecondsOf(local) - SecondsOf(utc);
    int64_t minutes = (offset >= 0 ? offset + 30 : offset - 30) / 60;
    char sign = minutes < 0 ? '-' : '+';
    if (minutes < 0) minutes = -minutes;
    if (minutes > 99 * 60 + 59) minutes = 0;  // a clock that is not a time zone's
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02uT%02u:%02u:%02u%c%02d:%02d", local.year % 10000u,
                  local.month % 100u, local.day % 100u, local.hour % 100u, local.minute % 100u,
                  local.second % 100u, sign, static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    return buffer;
}

std::string ExitCodeMeaning(RunMode mode, uint32_t code) {
    switch (code) {
        case 0:
            if (mode == RunMode::Check) return "the configuration has no errors (warnings may be listed)";
            if (mode == RunMode::Preview) return "the preview found nothing that would stop a run";
            return "the usage box was shown; nothing was done";
        case platform::kErrorSuccessRebootInitiated:
            return "the removal succeeded and Windows accepted the restart request";
        case platform::kErrorSuccessRebootRequired:
            return "the removal succeeded and a restart is still needed";
        case platform::kErrorInstallUserexit:
            return "the user cancelled in the dialog before START";
        case platform::kErrorInstallFailure:
            return "the dialog could not be shown, or it reached its end without a run (nothing was removed)";
        case platform::kErrorAccessDenied:
            return "not run as an elevated administrator";
        case platform::kErrorInstallRemoteDisallowed:
            return "removal refused: a product that must not be touched is present, or the install root is "
                   "unsafe";
        case platform::kErrorInstallServiceFailure:
            return "in safe mode, the Windows Installer service could not be prepared";
        case platform::kErrorFileNotFound:
            return "the configuration file was not found beside the executable";
        case platform::kErrorBadConfiguration:
            return mode == RunMode::Run ? "a line of the configuration file is bad"
                                        : "the configuration file has problems";
        default:
            break;
    }
    return "the Windows error code of the step that failed";
}

bool LogFolder(platform::Platform& os, std::u16string& out) {
    std::u16string base;
    if (!KvQmrLogging::ResolveBaseDirectory(os, false, base)) return false;
    out = base + u"\\Logs\\tool";
    return true;
}

std::string BuildRunReport(platform::Platform& os, const RunRecord& record, const Cleaner& cleaner) {
    try {
        // Every text went through AnsiToUtf8; "replace" keeps one that did not from throwing.
        return Report(os, record, cleaner).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
               "\r\n";
    } catch (const std::exception& e) {
        engine::EngineLog(2, "%s: the report could not be made: %s", kReportTag, e.what());
    } catch (...) {
        engine::EngineLog(2, "%s: the report could not be made", kReportTag);
    }
    return std::string();
}

void WriteRunReport(platform::Platform& os, const RunRecord& record, const Cleaner& cleaner) {
    std::string text = BuildRunReport(os, record, cleaner);
    if (text.empty()) return;
    uint32_t code = guard::WriteToolFile(os, platform::Utf16ToAnsi(kReportFileName), text);
    if (code != 0) LogWriteFailure(kReportTag, kReportFileName, code);
}

void WritePlanFile(platform::Platform& os, const std::string& ansiText) {
    uint32_t code = guard::WriteToolFile(os, platform::Utf16ToAnsi(kPlanFileName),
                                         kUtf8Mark + AnsiToUtf8(WithCrLf(ansiText)));
    if (code != 0) LogWriteFailure(kPlanTag, kPlanFileName, code);
}

}  // namespace app
