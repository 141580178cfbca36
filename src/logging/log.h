// The process's log: one logger for the whole process, reached through these entry points.
// The program binds the platform once at start (SetPlatform); until then, and after the
// binding is removed, every entry point does nothing.
#pragma once

#include "logging/logger.h"
#include "platform/platform.h"

namespace KvQmrLogging {

// Binds the machine the logger works on; called once by the program's entry point before
// the first record. Binding another machine (or null) first ends the current logger as
// process exit would ("***  LOG AUTO-CLOSED ***"), while the old machine still exists.
void SetPlatform(platform::Platform* os);

// Ends the current logger (see SetPlatform) and binds `os`, so that a test starts from a
// fresh, uninitialised logger on its own machine. Not for use while other threads log.
void ResetForTests(platform::Platform* os);

// The process's logger, created at the first call; null while no platform is bound.
// Safe to call from any number of threads at once: exactly one instance is created.
Logger* GetLogger();

void LogInitW(const char16_t* product, const char16_t* component, int level, int flags);
void LogInitA(const char* product, const char* component, int level, int flags);
void LogClose();
void LogWriteW(int level, const char16_t* format, ...);
void LogWriteA(int level, const char* format, ...) KV_QMR_LOG_PRINTF(2, 3);
bool LogIsEnabled(int level);

}  // namespace KvQmrLogging
