// The Winsock layered providers of both catalogues: this process's own, and on 64-bit
// Windows the 64-bit one through the maker's 64-bit remover.
#include <string>

#include "actions/protocol_catalog.h"
#include "engine/cnuke.h"
#include "guard/held_path.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"

namespace engine {

namespace {

constexpr int kLspPasses = 5;
constexpr uint32_t kRemoverWaitMs = 60000;
constexpr char kRemoverName[] = "instkvps_x64.exe";

}  // namespace

uint32_t CNuke::ResetLspStack() {
    static const char kTag[] = "CNuke::ResetLspStack";
    if (IsWow64()) {
        EngineLog(4, "%s: Running in 64bit environment, removing LSP from 64bit stack.", kTag);
        (void)RemoveKVLsp64();
    }
    // Whatever is left (a provider that refuses to go, an unreadable catalogue) does not
    // stop the run.
    (void)actions::RemoveLayeredProviders(os_.wsc, kLspPasses);
    EngineLog(5, "%s: ResetLspStack was successful", kTag);
    return 0;
}

uint32_t CNuke::RemoveKVLsp64() {
    static const char kTag[] = "CNuke::RemoveKVLsp64";
    EngineLog(5, "%s: Calling UnInstall function from the installation utility.", kTag);

    // Only the remover beside the tool, never one found by a search: the current folder and
    // PATH may be a standard user's, and this process is elevated. Without it nothing runs.
    std::string module;
    const size_t cut = os_.sys.GetModuleFileName(module) == 0 ? module.find_last_of('\\') : std::string::npos;
    const std::string remover =
        cut == std::string::npos ? std::string() : module.substr(0, cut + 1) + kRemoverName;
    // The tool's folder is wherever it was started from: a copy in a user's downloads would
    // run whatever the user put beside it, elevated. A missing remover is not handed to
    // CreateProcess at all: in a folder a user can change, one could appear in between.
    const bool startable = !remover.empty() && remover.size() < platform::kMaxPath &&
                           os_.fs.GetFileAttributesA(remover) != platform::kInvalidFileAttributes;
    if (startable && guard::StandardUserCanChange(os_, remover)) {
        EngineLog(2, "%s: '%s' not started: a standard user can change it or a folder above it", kTag,
                  remover.c_str());
        EngineLog(3, "%s: Calling instkvps_x64 failed!", kTag);
        return 0;
    }
    platform::ProcessHandle raw = 0;
    uint32_t processId = 0;
    if (!startable || !os_.proc.CreateProcessHidden(platform::AnsiToUtf16(remover),
                                                    platform::AnsiToUtf16("\"" + remover + "\" uninstall"),
                                                    raw, processId)) {
        EngineLog(3, "%s: Calling instkvps_x64 failed!", kTag);
        return 0;
    }
    platform::UniqueProcess process(&os_.proc, raw);
    // On a timeout or a failed wait the remover is left to finish on its own.
    if (os_.proc.WaitForMultipleObjects({process.get()}, true, kRemoverWaitMs) == platform::kWaitObject0) {
        uint32_t code = 0;
        if (os_.proc.GetExitCodeProcess(process.get(), code))
            EngineLog(2, "%s: instkvps_x64 process finished with code: %d", kTag, static_cast<int>(code));
        else
            EngineLog(3, "%s: instkvps_x64 process finished but result unknown", kTag);
    }
    return 1;
}

}  // namespace engine
