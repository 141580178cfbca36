#include "platform/win32/win32_shell.h"

#include <windows.h>
// windows.h first: the shell headers rely on its types.
#include <lmcons.h>
#include <shlobj.h>
// The interface names the calls without the A/W suffix that windows.h maps them to.
#undef SHGetSpecialFolderPath
#undef GetSystemDirectory
#undef GetWindowsDirectory
#undef GetUserName
#include <winver.h>

#include <vector>

#include "platform/win32/system_library.h"

namespace platform::win32 {

namespace {
// GetSystemDirectoryA and GetWindowsDirectoryA answer the size they need when the buffer
// is too small; a cut folder name would be some other folder.
bool FromSizedCall(UINT n, const char* buffer, std::string& out) {
    if (n == 0) return false;
    if (n >= MAX_PATH) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    out.assign(buffer, n);
    return true;
}
}  // namespace

bool Win32Shell::SHGetSpecialFolderPath(int csidl, std::string& out, bool create) {
    char buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, buffer, csidl, create ? TRUE : FALSE)) return false;
    out = buffer;
    return true;
}

bool Win32Shell::GetSystemDirectory(std::string& out) {
    char buffer[MAX_PATH] = {};
    return FromSizedCall(::GetSystemDirectoryA(buffer, MAX_PATH), buffer, out);
}

bool Win32Shell::GetWindowsDirectory(std::string& out) {
    char buffer[MAX_PATH] = {};
    return FromSizedCall(::GetWindowsDirectoryA(buffer, MAX_PATH), buffer, out);
}

bool Win32Shell::GetUserName(std::string& out) {
    char buffer[UNLEN + 1] = {};
    DWORD size = sizeof(buffer);
    if (!::GetUserNameA(buffer, &size)) return false;
    out = buffer;
    return true;
}

uint32_t Win32Shell::GetFileVersion(const std::string& path, FileVersion& out) {
    // version.dll is no KnownDLL: see system_library.h.
    const auto sizeOf = SystemFunction<decltype(&::GetFileVersionInfoSizeA)>(SystemLibrary::kVersion,
                                                                             "GetFileVersionInfoSizeA");
    const auto infoOf =
        SystemFunction<decltype(&::GetFileVersionInfoA)>(SystemLibrary::kVersion, "GetFileVersionInfoA");
    const auto query = SystemFunction<decltype(&::VerQueryValueA)>(SystemLibrary::kVersion, "VerQueryValueA");
    if (sizeOf == nullptr || infoOf == nullptr || query == nullptr) return ::GetLastError();
    DWORD ignored = 0;
    DWORD size = sizeOf(path.c_str(), &ignored);
    if (size == 0) return ::GetLastError();
    std::vector<char> block(size);
    if (!infoOf(path.c_str(), 0, size, block.data())) return ::GetLastError();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!query(block.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        DWORD code = ::GetLastError();
        return code != 0 ? code : kErrorResourceTypeNotFound;
    }
    out.fileVersionMS = info->dwFileVersionMS;
    out.fileVersionLS = info->dwFileVersionLS;
    out.fileFlagsMask = info->dwFileFlagsMask;
    out.fileFlags = info->dwFileFlags;
    return 0;
}

}  // namespace platform::win32
