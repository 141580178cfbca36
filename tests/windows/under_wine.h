// Whether the Windows-side tests run under Wine, for the marks where Wine knowingly differs.
#pragma once

#include <windows.h>

inline bool UnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
