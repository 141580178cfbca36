// The installer tool: a small command interpreter, in UTF-16, that acts on every Windows
// Installer product sharing one upgrade code. It runs inside the process and writes no log.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace msitool {

class CommandLine;

// Parses `command` ("/uninstall /u:{...}") and executes it: 160 when it is not valid, 5
// when the administrator check runs and fails, otherwise 0.
[[nodiscard]] uint32_t MsiToolRunCommand(platform::Platform& os, const std::u16string& command,
                                         bool skipAdministratorCheck);
// The same for a command line already parsed.
[[nodiscard]] uint32_t MsiToolExecute(platform::Platform& os, const CommandLine& commandLine,
                                      bool skipAdministratorCheck);

}  // namespace msitool
