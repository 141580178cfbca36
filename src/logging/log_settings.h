// What the log sink and the logger read from the machine: the logging settings in the
// registry, the log's location, the process's integrity level; and the debugger-output
// channel on which the sink reports its own failures.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace KvQmrLogging {

// Settings key under HKEY_LOCAL_MACHINE; product and component subkeys refine it.
constexpr char kLoggingSettingsKey[] = "SOFTWARE\\Kelvaris\\QMR\\Logging";
// Stands for a null product in every settings lookup and in the file path.
constexpr char16_t kMiscProduct[] = u"misc";
// Stored in a product or component key, this sends the lookup on to the next key.
constexpr uint32_t kSettingNotSet = 0xFFFFFFFF;

// Looks the value up in the key of product and component, then of the product, then in the
// settings key itself; a null product stands for "misc". Values of any type count by their
// first 4 bytes (little-endian); an absent value, or one that cannot be read, counts as absent.
uint32_t ReadLoggingSetting(platform::Platform& os, const char16_t* name, const char16_t* product,
                            const char16_t* component, uint32_t defaultValue);

// The process runs at low integrity (the last sub-authority of its integrity SID is 0x1000).
bool IsLowIntegrityProcess(platform::Platform& os);

// The folder that holds the maker's logs: the common application data folder (or the
// user's local one) followed by "\Kelvaris". False when the root folder cannot be found or
// the result would not fit in 260 characters with its terminator.
bool ResolveBaseDirectory(platform::Platform& os, bool perUser, std::u16string& out);

// Formats like the Windows wide printf into 1024 characters (truncating) and passes the
// text to the debugger output.
void DebugTrace(platform::ISystem& sys, const char16_t* format, ...);

}  // namespace KvQmrLogging
