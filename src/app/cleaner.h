// The run-sequence object: owns the engine, the detector and the firewall controller,
// holds the command-line options, and fixes the order of the removal steps, the stop rule
// and the restart.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "actions/firewall.h"
#include "detect/detector.h"
#include "engine/cnuke.h"
#include "platform/platform.h"

namespace app {

// How a run ended, for the process exit code (Windows Installer conventions).
enum class RunOutcome {
    NotRun,   // Run was never called (usage box, safe-boot preparation failed)
    Blocked,  // the detector refused the removal
    NotAdministrator,
    StepFailed,  // a step of the sequence returned a non-zero code
    Succeeded,   // the whole sequence ran
};

// One step of the sequence as it ran: its name and the code the sequence went on with.
struct StepResult {
    const char* name = nullptr;
    uint32_t code = 0;
};

class Cleaner {
  public:
    explicit Cleaner(platform::Platform& os);
    Cleaner(const Cleaner&) = delete;
    Cleaner& operator=(const Cleaner&) = delete;
    virtual ~Cleaner();

    void Run();
    [[nodiscard]] uint32_t RunSequence();
    [[nodiscard]] uint32_t PrepareLists();
    void TurnFirewallOn();
    void Restart();

    engine::CNuke engine;
    detect::CDetector detector;
    actions::CWinFirewall firewall;
    uint32_t autoRestart = 1;
    uint32_t noReboot = 0;
    uint32_t rebootDelay = 0;
    uint32_t removeAll = 0;
    uint32_t forceMsi = 1;

    // What the last Run did, and whether Windows accepted the restart request.
    RunOutcome outcome = RunOutcome::NotRun;
    uint32_t sequenceCode = 0;
    bool restartRequested = false;

    // The process exit code for this run (0 when Run was not called).
    uint32_t ExitCode() const;

    // Sees every step of the sequence by name, with the code the step returned, and
    // returns the code the sequence goes on with. Lets a test watch the order and make
    // any step fail; unset in the product.
    std::function<uint32_t(const char* step, uint32_t code)> stepObserver;

    // The steps the last RunSequence ran, in order, as stepObserver sees them
    // ("Cleaner::Restart" included when it came).
    std::vector<StepResult> stepResults;
    // The names of the sequence's steps, in their order, whether they run or not.
    static const std::vector<const char*>& SequenceSteps();

  private:
    // Asks Windows for the restart (timed: with the notice and rebootDelay); records whether
    // Windows accepted it, and logs why not.
    void RequestRestart(bool timed);

    platform::Platform& os_;
};

// The restart notice shown with a timed restart.
extern const char kRestartNotice[];

}  // namespace app
