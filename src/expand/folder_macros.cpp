#include "expand/folder_macros.h"

#include <cstring>

#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "platform/shell.h"

namespace expand {

using namespace platform;

// "%COMMON_ALTSTARTUP%" and "%COMMON_DESKTOPDIRECTORY%" resolve to the user's own folders.
// Existing configuration files rely on that: the per-user rule then reaches every
// profile's folder, the all-users one included where it lies beside them.
const FolderMacro kFolderMacros[] = {
    {"%ALTSTARTUP%", MacroFolder::kShell, kCsidlAltStartup},
    {"%APPDATA%", MacroFolder::kShell, kCsidlAppData},
    {"%COMMON_ALTSTARTUP%", MacroFolder::kShell, kCsidlAltStartup},
    {"%COMMON_APPDATA%", MacroFolder::kShell, kCsidlCommonAppData},
    {"%COMMON_DESKTOPDIRECTORY%", MacroFolder::kShell, kCsidlDesktopDirectory},
    {"%COMMON_FAVORITES%", MacroFolder::kShell, kCsidlCommonFavorites},
    {"%COMMON_PROGRAMS%", MacroFolder::kShell, kCsidlCommonPrograms},
    {"%COMMON_STARTMENU%", MacroFolder::kShell, kCsidlCommonStartMenu},
    {"%COMMON_STARTUP%", MacroFolder::kShell, kCsidlCommonStartup},
    {"%COOKIES%", MacroFolder::kShell, kCsidlCookies},
    {"%DESKTOPDIRECTORY%", MacroFolder::kShell, kCsidlDesktopDirectory},
    {"%FAVORITES%", MacroFolder::kShell, kCsidlFavorites},
    {"%PERSONAL%", MacroFolder::kShell, kCsidlPersonal},
    {"%PROGRAM_FILES%", MacroFolder::kShell, kCsidlProgramFiles},
    {"%PROGRAMS%", MacroFolder::kShell, kCsidlPrograms},
    {"%STARTMENU%", MacroFolder::kShell, kCsidlStartMenu},
    {"%STARTUP%", MacroFolder::kShell, kCsidlStartup},
    {"%SYSTEM%", MacroFolder::kSystem, kCsidlSystem},
    {"%WINDOWS%", MacroFolder::kWindows, 0},
    {"%PROGRAM_FILES_64%", MacroFolder::kProgramFiles64, 0},
    {"%GOOGLE_GADGETS%", MacroFolder::kGoogleGadgets, 0},
};

const size_t kFolderMacroCount = sizeof(kFolderMacros) / sizeof(kFolderMacros[0]);

const FolderMacro* FindFolderMacro(const char* text) {
    if (text == nullptr) return nullptr;
    for (const FolderMacro& m : kFolderMacros) {
        if (std::strstr(text, m.name) != nullptr) return &m;
    }
    return nullptr;
}

bool ResolveFolderMacroQuietly(Platform& os, const FolderMacro& macro, bool byValue, std::string& folder) {
    folder.clear();
    bool found = false;
    switch (macro.folder) {
        case MacroFolder::kShell:
            found = os.shell.SHGetSpecialFolderPath(macro.csidl, folder, false);
            break;
        case MacroFolder::kSystem:
            found = byValue ? os.shell.SHGetSpecialFolderPath(macro.csidl, folder, false)
                            : os.shell.GetSystemDirectory(folder);
            break;
        case MacroFolder::kWindows:
            found = os.shell.GetWindowsDirectory(folder);
            break;
        case MacroFolder::kProgramFiles64: {
            char buffer[kMaxPathBuffer] = {};
            found = ReadProgramFilesDir64(os, buffer, sizeof(buffer), false) == 0;
            if (found) folder = buffer;
            break;
        }
        case MacroFolder::kGoogleGadgets: {
            // Only the BY_VALUE form knows this folder.
            RegKey raw = 0;
            if (!byValue || os.reg.OpenKeyEx(kHkeyCurrentUser, "SOFTWARE\\Google\\Google Desktop",
                                             kKeyRead | kViewFolderMacros, raw) != 0)
                break;
            UniqueRegKey key(&os.reg, raw);
            char buffer[kMaxPathBuffer + 1] = {};
            uint32_t size = kMaxPathBuffer;
            found = os.reg.QueryValueEx(key.get(), "plugin_dir", nullptr, buffer, &size) == 0;
            if (found) folder = buffer;
            break;
        }
    }
    if (!found) folder.clear();
    return !folder.empty();
}

}  // namespace expand
