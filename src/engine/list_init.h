// The version record that opens the log, and the text it is built from.
#pragma once

#include "platform/platform.h"

namespace engine {

// The executable's file version ("1.0.0.1", "1.0.0.1 DEBUG"), or "NO_VERSION" until
// ReadVersionText (or LogVersionBanner) has read it.
const char* VersionText();

// Reads the executable's version resource for VersionText, without touching the log.
void ReadVersionText(platform::Platform& os);

// Reads the executable's version resource, opens the log ("tool", "sweeptool", level 4)
// and writes the version record with the compilation date and time.
void LogVersionBanner(platform::Platform& os);

// True when `name` can stand as one component of a path: not empty, no separator, drive,
// wildcard or other character a file name cannot hold, and not made of dots only. A
// product name is put into folder paths; one that could climb out of its folder or name
// some other folder is not used there.
bool IsSafeNameComponent(const char* name);

}  // namespace engine
