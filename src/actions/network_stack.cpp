// The Winsock layered providers of both catalogues: this process's own, and on 64-bit
// Windows the 64-bit one through the maker's 64-bit remover.
#include <array>
#include <string>

#include "actions/protocol_catalog.h"
#include "engine/cnuke.h"
#include "engine/engine_log.h"

namespace engine {

namespace {

constexpr int kLspPasses = 5;
constexpr uint32_t kRemoverWaitMs = 60000;
// The command line's buffer, in wide characters, terminator included.
constexpr size_t kCommandChars = 260;
constexpr char16_t kRemoverCommand[] = u"instkvps_x64.exe uninstall";

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

    std::array<char16_t, kCommandChars> buffer{};
    for (size_t i = 0; i + 1 < buffer.size() && kRemoverCommand[i] != u'\0'; ++i)
        buffer[i] = kRemoverCommand[i];
    const std::u16string commandLine(buffer.data());

    platform::ProcessHandle raw = 0;
    uint32_t processId = 0;
    if (!os_.proc.CreateProcessHidden(commandLine, raw, processId)) {
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
