// Records that the removal steps share: a failure worded by its error code, and a list dump.
#include "engine/cnuke.h"
#include "logging/engine_log.h"

namespace engine {

void CNuke::LogErrorCode(uint32_t error, const char* operation, const char* object) {
    static const char* const kTag = "CNuke::LogErrorCode";
    const char* op = operation != nullptr ? operation : "";
    const char* what = object != nullptr ? object : "";
    switch (error) {
        case platform::kErrorFileNotFound:
            EngineLog(3, "%s: %s '%s' reported \"file\" not found", kTag, op, what);
            break;
        case platform::kErrorInvalidHandle:
            EngineLog(3, "%s: %s '%s' reported invalid handle", kTag, op, what);
            break;
        case platform::kErrorDirNotEmpty:
            EngineLog(3, "%s: %s '%s' reported the directory is not empty", kTag, op, what);
            break;
        default:
            EngineLog(3, "%s: %s '%s' reported error code '%d'", kTag, op, what, static_cast<int>(error));
            break;
    }
}

void CNuke::LogListContent(TSet& list) {
    static const char* const kTag = "CNuke::LogListContent";
    EngineLog(5, "%s: --- --- --- Logging list contents... --- --- ---", kTag);
    const char* entry = nullptr;
    for (uint32_t rc = list.First(&entry); rc == 0; rc = list.Next(&entry))
        EngineLog(5, "%s: %s", kTag, entry);
    EngineLog(5, "%s: --- --- --- List content logged! --- --- ---", kTag);
}

}  // namespace engine
