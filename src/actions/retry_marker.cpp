// The removal-retry marker: a registry key through which a run that could not act on a
// customised product name tells a later run which product it was removing.
#include <cstring>
#include <string>

#include "detect/detector.h"
#include "engine/cnuke.h"
#include "expand/registry_trust.h"
#include "logging/engine_log.h"
#include "platform/common.h"

namespace engine {

namespace {

constexpr char kMarkerKey[] = "SOFTWARE\\Kelvaris ClearoutTool";
constexpr char kMarkerValue[] = "ApplicationName";
constexpr uint32_t kMarkerBuffer = 260;

std::string Trimmed(const char* text) {
    const char* kBlanks = " \t\r\n\v\f";
    std::string s = text;
    size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

}  // namespace

void CNuke::MarkRegistryForPossibleRemovalRetry() {
    static const char* const kTag = "CNuke::MarkRegistryForPossibleRemovalRetry";
    const std::string name = detector != nullptr ? detector->productName : std::string();
    if (name.empty()) {
        EngineLog(3, "%s: MarkRegistryForPossibleRemovalRetry: source empty. Registry NOT marked.", kTag);
        return;
    }
    if (previewOnly) {
        // Counted as written, so that the read that follows is skipped as in the run.
        retryMarked = 1;
        EngineLog(5,
                  "%s: MarkRegistryForPossibleRemovalRetry: preview, the registry would be marked with '%s'.",
                  kTag, name.c_str());
        return;
    }
    platform::RegKey raw = 0;
    if (os_.reg.CreateKeyEx(platform::kHkeyLocalMachine, kMarkerKey, platform::kRegOptionNonVolatile,
                            platform::kKeyAllAccess, raw, nullptr) != 0) {
        EngineLog(3, "%s: MarkRegistryForPossibleRemovalRetry: marking the registry with base key failed.",
                  kTag);
        return;
    }
    platform::UniqueRegKey key(&os_.reg, raw);
    uint32_t code = os_.reg.SetValueEx(key.get(), kMarkerValue, platform::kRegSz, name.c_str(),
                                       static_cast<uint32_t>(name.size() + 1));
    key.reset();
    if (code != 0) {
        // A marker without its name tells the next run nothing; do not count it as written.
        EngineLog(3, "%s: MarkRegistryForPossibleRemovalRetry: writing ApplicationName failed %d", kTag,
                  static_cast<int>(code));
        return;
    }
    retryMarked = 1;
    EngineLog(5, "%s: MarkRegistryForPossibleRemovalRetry: marking the registry successful.", kTag);
}

void CNuke::ReadRegistryForRemovalRetry() {
    static const char* const kTag = "CNuke::ReadRegistryForRemovalRetry";
    // A marker written in this run is for a later run.
    if (retryMarked != 0) return;

    platform::RegKey raw = 0;
    if (os_.reg.OpenKeyEx(platform::kHkeyLocalMachine, kMarkerKey, platform::kKeyRead, raw) != 0) {
        EngineLog(3, "%s: ReadRegistryForRemovalRetry: Kelvaris ClearoutTool key not found", kTag);
        return;
    }
    platform::UniqueRegKey key(&os_.reg, raw);
    retryKeyFound = 1;
    if (detector != nullptr && !detector->productName.empty()) return;
    // The name it holds goes into every file entry, as the detected one would.
    if (!expand::MachineWroteKey(os_, platform::kHkeyLocalMachine, kMarkerKey, key.get(), kTag)) return;

    // One byte more than the value may fill, so that data stored without a terminator
    // still ends inside the buffer.
    char buffer[kMarkerBuffer + 1] = {};
    uint32_t size = kMarkerBuffer;
    uint32_t type = platform::kRegNone;
    uint32_t code = os_.reg.QueryValueEx(key.get(), kMarkerValue, &type, buffer, &size);
    if (code == 0 && type != platform::kRegSz && type != platform::kRegExpandSz)
        code = platform::kErrorInvalidData;
    std::string name;
    if (code != 0) {
        EngineLog(3, "%s: ReadRegistryForRemovalRetry: ApplicationName not found %d", kTag,
                  static_cast<int>(code));
    } else {
        buffer[size < kMarkerBuffer ? size : kMarkerBuffer] = '\0';
        name = Trimmed(buffer);
        if (detector != nullptr) detector->productName = name;
    }
    EngineLog(5, "%s: ReadRegistryForRemovalRetry: ApplicationName='%s'", kTag,
              detector != nullptr ? detector->productName.c_str() : name.c_str());
}

}  // namespace engine
