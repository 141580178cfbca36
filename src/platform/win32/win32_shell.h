#pragma once

#include "platform/shell.h"

namespace platform::win32 {

class Win32Shell : public IShell {
public:
    bool SHGetSpecialFolderPath(int csidl, std::string& out, bool create) override;
    bool GetSystemDirectory(std::string& out) override;
    bool GetWindowsDirectory(std::string& out) override;
    bool GetUserName(std::string& out) override;
    uint32_t GetFileVersion(const std::string& path, FileVersion& out) override;
};

}  // namespace platform::win32
