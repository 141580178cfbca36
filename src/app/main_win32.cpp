// Process entry of sweeptool.exe: the real machine, the application object, the exit code.
// clang-format off
#include <windows.h>
// Right after windows.h: it takes back the mapping macros that would rename the seam's methods.
#include "platform/win32/system_library.h"
// clang-format on

#include "app/scour_app.h"
#include "logging/log.h"
#include "platform/win32/win32_machine.h"
#include "ui/ui_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    platform::win32::LimitLibrarySearchToSystem32();
    static platform::win32::Win32Machine machine;
    // The process's logger lives until exit; it writes through this machine.
    KvQmrLogging::SetPlatform(&machine.platform());
    uint32_t exitCode = 0;
    {
        app::CScourApp application(machine.platform());
        application.runDialog = [instance](app::Cleaner& cleaner) {
            return ui::RunMainDialog(instance, machine.platform(), cleaner);
        };
        (void)application.InitInstance();
        exitCode = application.exitCode;
    }
    return static_cast<int>(exitCode);
}
