// What a run of the program did, for whoever deployed it: sweeptool.report.json in the tool's
// own folder (<Windows>\Logs\SweepTool), written at the end of every run (the usage box
// aside), and the plan file of a check or preview, sweeptool.plan.txt, in the same folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/cleaner.h"
#include "app/preview.h"
#include "app/scour_app.h"
#include "engine/config_check.h"
#include "platform/platform.h"

namespace app {

constexpr char16_t kReportFileName[] = u"sweeptool.report.json";
constexpr char16_t kPlanFileName[] = u"sweeptool.plan.txt";
// Reported when a folder on the way to the file, or the file's name, is a link
// (ERROR_REPARSE_POINT_ENCOUNTERED).
constexpr uint32_t kErrorReparsePointEncountered = 4395;

enum class RunMode { Run, Preview, Check };

// What the start-up routine knows of the run, besides the cleaner.
struct RunRecord {
    RunMode mode = RunMode::Run;
    std::vector<std::string> arguments;  // the program path as typed first
    ParsedOptions options;
    std::string start;  // LocalTimestamp at the start and at the end
    std::string end;
    uint32_t exitCode = 0;
    std::optional<engine::ConfigCheckResult> check;
    std::optional<PreviewResult> preview;
};

// The local time in ISO 8601 with its offset from UTC: "2016-01-20T09:30:05+01:00".
std::string LocalTimestamp(platform::ISystem& sys);

// The exit code in words, as the README's table of exit codes gives it.
std::string ExitCodeMeaning(RunMode mode, uint32_t code);

// The folder of the log: <common application data>\Kelvaris\Logs\tool. False when the root
// folder cannot be found, as the log then has no place either.
bool LogFolder(platform::Platform& os, std::u16string& out);

// The report as JSON (UTF-8). The library's exceptions are caught here: empty when the report
// could not be made, with an error record saying why.
std::string BuildRunReport(platform::Platform& os, const RunRecord& record, const Cleaner& cleaner);

// Builds the report and writes it to the tool's folder; a failure is logged as an error and changes
// nothing else.
void WriteRunReport(platform::Platform& os, const RunRecord& record, const Cleaner& cleaner);

// Writes the plan file: UTF-8 with a byte-order mark, CR LF line ends. `ansiText` is in the
// ANSI code page. A failure is logged as an error and changes nothing else.
void WritePlanFile(platform::Platform& os, const std::string& ansiText);

}  // namespace app
