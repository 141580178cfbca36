#include "platform/sim/sim_shell.h"

#include "platform/ansi.h"

namespace platform::sim {

std::string SimShell::FolderPath(int csidl) const {
    auto it = folders.find(csidl);
    if (it != folders.end()) return it->second;

    const std::string profile = ProfileDirectory();
    const std::string roaming = profile + "\\AppData\\Roaming";
    const std::string startMenu = roaming + "\\Microsoft\\Windows\\Start Menu";
    const std::string commonStartMenu = programData + "\\Microsoft\\Windows\\Start Menu";
    switch (csidl) {
        case kCsidlAppData:
            return roaming;
        case kCsidlLocalAppData:
            return profile + "\\AppData\\Local";
        case kCsidlCookies:
            return roaming + "\\Microsoft\\Windows\\Cookies";
        case kCsidlDesktopDirectory:
            return profile + "\\Desktop";
        case kCsidlPersonal:
            return profile + "\\Documents";
        // Since Windows Vista the all-users favourites are the user's own.
        case kCsidlFavorites:
        case kCsidlCommonFavorites:
            return profile + "\\Favorites";
        case kCsidlStartMenu:
            return startMenu;
        case kCsidlPrograms:
            return startMenu + "\\Programs";
        case kCsidlStartup:
            return startMenu + "\\Programs\\Startup";
        case kCsidlCommonAppData:
            return programData;
        case kCsidlCommonDesktopDirectory:
            return profilesRoot + "\\Public\\Desktop";
        case kCsidlCommonStartMenu:
            return commonStartMenu;
        case kCsidlCommonPrograms:
            return commonStartMenu + "\\Programs";
        case kCsidlCommonStartup:
            return commonStartMenu + "\\Programs\\Startup";
        case kCsidlWindows:
            return windowsDirectory;
        case kCsidlSystem:
            return systemDirectory;
        case kCsidlProgramFiles:
            return system_.is64BitWindows ? programFilesX86 : programFiles64;
        // The non-localised startup folders are gone since Windows Vista.
        case kCsidlAltStartup:
        case kCsidlCommonAltStartup:
        default:
            return {};
    }
}

bool SimShell::SHGetSpecialFolderPath(int csidl, std::string& out, bool) {
    if (uint32_t code = faults_.Take("SHGetSpecialFolderPathA")) {
        system_.SetLastError(code);
        return false;
    }
    std::string path = FolderPath(csidl);
    if (path.empty()) return false;
    out = path;
    return true;
}

bool SimShell::GetSystemDirectory(std::string& out) {
    if (system_.Fault("GetSystemDirectoryA")) return false;
    out = systemDirectory;
    return true;
}

bool SimShell::GetWindowsDirectory(std::string& out) {
    if (system_.Fault("GetWindowsDirectoryA")) return false;
    out = windowsDirectory;
    return true;
}

bool SimShell::GetUserName(std::string& out) {
    if (system_.Fault("GetUserNameA")) return false;
    out = userName;
    return true;
}

uint32_t SimShell::GetFileVersion(const std::string& path, FileVersion& out) {
    for (const char* call : {"GetFileVersionInfoSizeA", "GetFileVersionInfoA", "VerQueryValueA"}) {
        if (uint32_t code = faults_.Take(call)) {
            system_.SetLastError(code);
            return code;
        }
    }
    for (const auto& [file, version] : fileVersions) {
        if (AnsiCompareNoCase(file.c_str(), path.c_str()) == 0) {
            out = version;
            return 0;
        }
    }
    system_.SetLastError(kErrorResourceTypeNotFound);
    return kErrorResourceTypeNotFound;
}

}  // namespace platform::sim
