// The simulated shell: special folders laid out as on Windows 7 and later, built from the
// current user's name and the profiles folder, so a test can switch users or move profiles.
// Single folders can be overridden (an empty text: the folder has no path on this machine).
#pragma once

#include <map>
#include <string>

#include "platform/shell.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

class SimShell : public IShell {
public:
    SimShell(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {}

    // --- state a test sets ---
    std::string userName = "Tester";
    std::string profilesRoot = "C:\\Users";
    std::string programData = "C:\\ProgramData";
    std::string windowsDirectory = "C:\\Windows";
    std::string systemDirectory = "C:\\Windows\\system32";
    // The program-files folder as a 32-bit process sees it: the (x86) folder on 64-bit
    // Windows (SimSystem::is64BitWindows), the only one on 32-bit Windows.
    std::string programFiles64 = "C:\\Program Files";
    std::string programFilesX86 = "C:\\Program Files (x86)";
    std::map<int, std::string> folders;  // overrides by CSIDL

    // The current user's profile folder.
    std::string ProfileDirectory() const { return profilesRoot + "\\" + userName; }
    // What SHGetSpecialFolderPath answers for `csidl`; empty when the folder has no path.
    std::string FolderPath(int csidl) const;

    bool SHGetSpecialFolderPath(int csidl, std::string& out, bool create) override;
    bool GetSystemDirectory(std::string& out) override;
    bool GetWindowsDirectory(std::string& out) override;
    bool GetUserName(std::string& out) override;
    uint32_t GetFileVersion(const std::string& path, FileVersion& out) override;

    // Version resources by file path (case ignored); a file not listed has none.
    std::map<std::string, FileVersion> fileVersions;

private:
    [[maybe_unused]] Faults& faults_;
    SimSystem& system_;
};

}  // namespace platform::sim
