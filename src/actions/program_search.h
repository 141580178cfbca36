// Where a program named by the configuration is started from. The run is elevated, so the
// program must come from a place a standard user cannot write: never the search path or
// the folder the tool was started from, which the user may own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace actions {

// An application-defined code (bit 29 set): the program was found, but a standard user could
// change it or what its name leads to, so it is not started.
constexpr uint32_t kErrorProgramUserCanChange = 0x20000001;

// `entry` as written when it is a full path ("X:\..."); a bare file name only as found in the
// Windows folder (System32's parent), then in the root of the system drive. Only a program no
// standard user can change is started: the root of the system drive, for one, passes Modify
// on to what is made in it. 0 with `program` set; 206 for a name of MAX_PATH characters or
// more; 2 for a bare name found in neither place and for a relative name with a folder part,
// which is never started; for a full path that cannot be found, the error of looking (2, 3);
// kErrorProgramUserCanChange with `program` set to the file found.
uint32_t FindProgramToStart(platform::Platform& os, const std::string& entry, std::string& program);

}  // namespace actions
