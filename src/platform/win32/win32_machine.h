// The real machine: every area of the seam on the Win32 API.
#pragma once

#include "platform/platform.h"
#include "platform/win32/win32_com.h"
#include "platform/win32/win32_filesystem.h"
#include "platform/win32/win32_installer.h"
#include "platform/win32/win32_processes.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_security.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_sync.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_winsock.h"

namespace platform::win32 {

class Win32Machine {
public:
    Win32Machine();
    Win32Machine(const Win32Machine&) = delete;
    Win32Machine& operator=(const Win32Machine&) = delete;

    Win32System system;
    Win32Registry registry;
    Win32FileSystem files;
    Win32Services services;
    Win32Processes processes;
    Win32Security security;
    Win32Sync sync;
    Win32Shell shell;
    Win32Installer installer;
    Win32Winsock winsock;
    Win32Com com;

    Platform& platform() { return platform_; }

private:
    Platform platform_;
};

}  // namespace platform::win32
