#include "msitool/msi_tool.h"

#include "msitool/command_line.h"
#include "msitool/product_family.h"
#include "msitool/user_info.h"

namespace msitool {

uint32_t MsiToolRunCommand(platform::Platform& os, const std::u16string& command,
                           bool skipAdministratorCheck) {
    CommandLine commandLine(command);
    return MsiToolExecute(os, commandLine, skipAdministratorCheck);
}

uint32_t MsiToolExecute(platform::Platform& os, const CommandLine& commandLine, bool skipAdministratorCheck) {
    if (!commandLine.IsValid()) return platform::kErrorBadArguments;
    if (commandLine.help) return platform::kErrorSuccess;
    if (!skipAdministratorCheck && !UserInfo(os).CheckAdministrator(true))
        return platform::kErrorAccessDenied;
    if (commandLine.upgradeCode.empty()) return platform::kErrorSuccess;

    // What the family managed is not passed on: a product left installed is not a failure
    // of the command. Only a busy installer is, so that the run ends with a code to retry.
    ProductFamily family(os, commandLine.upgradeCode);
    if (commandLine.hideOldAddRemoves) {
        (void)family.HideOldAddRemoves();
    } else if (commandLine.uninstall) {
        (void)family.UninstallAll();
        if (family.installerBusy) return platform::kErrorInstallAlreadyRunning;
    }
    return platform::kErrorSuccess;
}

}  // namespace msitool
