// Libraries from System32 only. The tool runs elevated, often from a folder a standard user
// can write (Downloads): a library of a system name placed beside it, or in the current
// folder, must never be loaded. Windows always takes the KnownDLLs from System32; every
// other library is loaded here, by this process, from System32, when first needed.
#pragma once

#include "platform/win32/windows_api.h"

namespace platform::win32 {

// The headers of the oldest Windows the tool supports lack these.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

// The first thing a program does: the libraries it and every library it loads ask for by
// name are searched for in System32 only. Where Windows lacks that call (Windows 7 without
// its update), at least the current folder leaves the search.
inline void LimitLibrarySearchToSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel == nullptr ? nullptr
                                       : reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                             ::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set == nullptr || !set(kLoadLibrarySearchSystem32)) (void)::SetDllDirectoryW(L"");
}

enum class SystemLibrary { kMsi, kVersion };

// The address of `function` in the library, loaded from System32 on first use and kept
// for the life of the process; null with the last error set (126 for a library that could
// not be loaded, 127 for a function it lacks).
FARPROC SystemProc(SystemLibrary library, const char* function);

template <typename Fn>
Fn SystemFunction(SystemLibrary library, const char* function) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemProc(library, function)));
}

}  // namespace platform::win32
