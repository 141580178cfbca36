// The engine's one way into the process-wide log, so that every record of the engine and
// its helpers goes through the same call (level, printf format beginning "%s: ", tag).
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
