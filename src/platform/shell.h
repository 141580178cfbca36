// Shell folders, system folders and the user name (shell32, kernel32, advapi32).
#pragma once

#include <cstdint>
#include <string>

#include "platform/common.h"

namespace platform {

// CSIDL values the product asks the shell for.
enum : int {
    kCsidlPrograms = 0x0002,
    kCsidlPersonal = 0x0005,
    kCsidlFavorites = 0x0006,
    kCsidlStartup = 0x0007,
    kCsidlStartMenu = 0x000b,
    kCsidlDesktopDirectory = 0x0010,
    kCsidlCommonStartMenu = 0x0016,
    kCsidlCommonPrograms = 0x0017,
    kCsidlCommonStartup = 0x0018,
    kCsidlCommonDesktopDirectory = 0x0019,
    kCsidlAppData = 0x001a,
    kCsidlLocalAppData = 0x001c,
    kCsidlAltStartup = 0x001d,
    kCsidlCommonAltStartup = 0x001e,
    kCsidlCommonFavorites = 0x001f,
    kCsidlCookies = 0x0021,
    kCsidlCommonAppData = 0x0023,
    kCsidlWindows = 0x0024,
    kCsidlSystem = 0x0025,
    kCsidlProgramFiles = 0x0026,
};

// The fields of VS_FIXEDFILEINFO the product reads.
struct FileVersion {
    uint32_t fileVersionMS = 0;
    uint32_t fileVersionLS = 0;
    uint32_t fileFlagsMask = 0;
    uint32_t fileFlags = 0;
};

constexpr uint32_t kVsFfDebug = 0x1;  // VS_FF_DEBUG
constexpr uint32_t kErrorResourceTypeNotFound = 1813;

class IShell {
public:
    IShell() = default;
    IShell(const IShell&) = delete;
    IShell& operator=(const IShell&) = delete;
    virtual ~IShell() = default;

    // SHGetSpecialFolderPathA with no owner window. False when the folder has no path on
    // this machine (and, with create = false, when it does not exist yet); the call does
    // not promise a last-error value then.
    virtual bool SHGetSpecialFolderPath(int csidl, std::string& out, bool create) = 0;
    // GetSystemDirectoryA / GetWindowsDirectoryA: true with the folder, false with the
    // last error set.
    virtual bool GetSystemDirectory(std::string& out) = 0;
    virtual bool GetWindowsDirectory(std::string& out) = 0;
    // GetUserNameA: the name of the user the thread runs as; false with the last error set.
    virtual bool GetUserName(std::string& out) = 0;
    // GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueA of the root block
    // "\": the fixed file information of `path`. 0, or the Windows error of the first call
    // that failed (1813, ERROR_RESOURCE_TYPE_NOT_FOUND, for a file without a version).
    virtual uint32_t GetFileVersion(const std::string& path, FileVersion& out) = 0;
};

}  // namespace platform
