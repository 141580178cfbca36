#include "platform/win32/win32_machine.h"

namespace platform::win32 {

Win32Machine::Win32Machine()
    : platform_{system, registry, files, services, processes, security, sync, shell, installer, winsock, com} {}

}  // namespace platform::win32
