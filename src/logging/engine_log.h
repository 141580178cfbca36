// The program's one way into the process-wide log, so that every record of the engine, the
// detector, the dialog and their helpers goes through the same call (level, printf format
// beginning "%s: ", tag). It lives with the logger so that every subsystem can reach it
// without including anything above itself.
#pragma once

#include <cstdint>

#include "logging/log.h"

namespace engine {

template <typename... Args>
inline void EngineLog(uint32_t level, const char* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        KvQmrLogging::LogWriteA(static_cast<int>(level), "%s", format);
    } else {
        KvQmrLogging::LogWriteA(static_cast<int>(level), format, args...);
    }
}

}  // namespace engine
