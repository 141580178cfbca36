// One machine, as the product sees it: every area of the operating-system seam.
// Subsystems take the areas they use by reference; there is no global machine.
#pragma once

#include "platform/com.h"
#include "platform/filesystem.h"
#include "platform/installer.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/winsock.h"

namespace platform {

struct Platform {
    ISystem& sys;
    IRegistry& reg;
    IFileSystem& fs;
    IServiceManager& scm;
    IProcesses& proc;
    ISecurity& sec;
    ISync& sync;
    IShell& shell;
    IInstaller& msi;
    IWinsock& wsc;
    ICom& com;
};

}  // namespace platform
