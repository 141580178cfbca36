// The application object: reads the command line, prepares the installer service when the
// machine was started in safe mode, and runs the cleanup with or without the dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cleaner.h"
#include "guard/tool_folder.h"
#include "platform/platform.h"

namespace app {

constexpr char kSafeBootMinimalKey[] = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Minimal\\MSIServer";
constexpr char kSafeBootNetworkKey[] = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\Network\\MSIServer";
// The value that marks a safe-mode registration as the tool's own.
constexpr char kSafeBootMarkValue[] = "RegisteredBySweepTool";
// The file in the tool's own folder that a run, a preview and the dialog hold open, unshared.
constexpr char kRunLockFileName[] = "sweeptool.lock";
constexpr char kUsageCaption[] = "Usage";
constexpr char kUsageFormat[] =
    "Usage:\n%s [switch]\n--NOGUI to hide the user interface\n--help to see this message\n";
// The longest delay a timed restart accepts (ten years, in seconds).
constexpr uint32_t kMaxShutdownTimeoutSeconds = 315360000;

struct RunRecord;

// The result of reading the arguments into a Cleaner's options.
struct ParsedOptions {
    bool showUsage = false;
    bool showDialog = true;
    bool check = false;    // --check: report the configuration's problems, change nothing
    bool preview = false;  // --preview: print what a run would do, do nothing
};

// Applies the arguments after the program name to the cleaner's options, left to right;
// an argument that is no option (or --help) asks for the usage box. --check and --preview
// take the place of the run whatever else is given: with both, the check comes first and
// the preview follows only when the check finds no error (warnings do not stop it).
ParsedOptions ApplyCommandLine(const std::vector<std::string>& arguments, Cleaner& cleaner);
// The usage box text for the program path as typed.
std::string UsageText(const std::string& programPath);

// How the dialog ended.
enum class DialogResult {
    CancelledBeforeStart,  // CANCEL (or a close request) in the ready state: nothing ran
    Later,                 // LATER after the run
    Restart,               // RESTART after the run: Cleaner::Restart was called
    NotShown,              // the dialog could not be created
};

// Shows the dialog for the cleaner and returns when it has ended. The dialog runs
// Cleaner::Run on its worker thread after START and Cleaner::Restart on RESTART.
using DialogRunner = std::function<DialogResult(Cleaner&)>;

class CScourApp {
  public:
    explicit CScourApp(platform::Platform& os);
    CScourApp(const CScourApp&) = delete;
    CScourApp& operator=(const CScourApp&) = delete;
    virtual ~CScourApp();

    // The whole job. Always false: the process ends when it returns.
    bool InitInstance();

    bool RegisterSafeBootInstaller();
    bool StartInstallerService();
    void UnregisterSafeBootInstaller();

    int32_t safeBootMode = 0;
    const char* safeBootKey = nullptr;
    // This run created safeBootKey (it did not exist before).
    bool safeBootKeyCreated = false;

    // The process exit code that InitInstance decided (Windows Installer conventions).
    uint32_t exitCode = 0;

    // The dialog, set by the process entry. Without it the run goes without a window.
    DialogRunner runDialog;

  private:
    // The run itself, with or without the dialog: the exit code.
    uint32_t RunCleanup(Cleaner& cleaner, const ParsedOptions& parsed);
    // --check and --preview: the text goes to the console and the plan file; the exit code.
    uint32_t CheckAndPreview(Cleaner& cleaner, const ParsedOptions& parsed, RunRecord& record);
    // Takes the machine-wide lock of a run for this object's life: 0, 32 when another
    // process holds it, or the error that kept the tool's folder from being opened.
    uint32_t TakeRunLock();

    platform::Platform& os_;
    std::unique_ptr<guard::ToolFolder> runLockFolder_;
    platform::UniqueFile runLock_;
};

}  // namespace app
