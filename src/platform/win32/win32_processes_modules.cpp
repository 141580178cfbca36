// The process list and module names of the process-status calls (psapi).
#include <vector>

#include "platform/win32/win32_processes.h"
#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

HANDLE H(ProcessHandle h) { return reinterpret_cast<HANDLE>(h); }

// The largest buffers these calls are given: 4 MB of process ids, and the longest path
// Windows can name.
constexpr uint32_t kMaxIdBytes = 4u << 20;
constexpr uint32_t kMaxPathChars = 32768;

}  // namespace

bool Win32Processes::EnumProcesses(uint32_t bufferBytes, std::vector<uint32_t>& ids,
                                   uint32_t& bytesReturned) {
    ids.clear();
    bytesReturned = 0;
    if (bufferBytes > kMaxIdBytes) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // Room for the whole ids of the buffer; the call never writes a partial one.
    std::vector<DWORD> raw(bufferBytes / sizeof(DWORD) + 1, 0);
    DWORD used = 0;
    if (!::K32EnumProcesses(raw.data(), bufferBytes, &used)) return false;
    if (used > bufferBytes) used = bufferBytes;
    const size_t count = used / sizeof(DWORD);
    ids.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(count));
    bytesReturned = static_cast<uint32_t>(count * sizeof(DWORD));
    return true;
}

bool Win32Processes::EnumProcessModulesFirst(ProcessHandle process, ModuleHandle& module) {
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (!::K32EnumProcessModules(H(process), &first, sizeof(first), &needed)) return false;
    if (needed < sizeof(first)) {
        // A process without modules yet (still starting): nothing was written.
        ::SetLastError(ERROR_PARTIAL_COPY);
        return false;
    }
    module = reinterpret_cast<ModuleHandle>(first);
    return true;
}

bool Win32Processes::GetModuleFileNameEx(ProcessHandle process, ModuleHandle module, uint32_t bufferChars,
                                         std::string& path) {
    if (bufferChars == 0 || bufferChars > kMaxPathChars) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::vector<char> buffer(bufferChars + 1u, '\0');
    DWORD length =
        ::GetModuleFileNameExA(H(process), reinterpret_cast<HMODULE>(module), buffer.data(), bufferChars);
    if (length == 0) return false;
    // A cut path is terminated inside the buffer; the length returned is not trusted past it.
    size_t n = 0;
    while (n < bufferChars && buffer[n] != '\0') ++n;
    path.assign(buffer.data(), n);
    return true;
}

}  // namespace platform::win32
