#include "platform/win32/system_library.h"

#include <string>

namespace platform::win32 {

namespace {

struct Loaded {
    HMODULE module = nullptr;
    DWORD error = 0;
};

Loaded Load(const wchar_t* name) {
    Loaded loaded;
    loaded.module = ::LoadLibraryExW(name, nullptr, kLoadLibrarySearchSystem32);
    // Windows without the System32-only search refuses the flag: the library is then named
    // by its full path, and the libraries it needs are looked for beside it first.
    if (loaded.module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        wchar_t system[MAX_PATH] = {};
        const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::wstring path = std::wstring(system, length) + L"\\" + name;
            loaded.module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    if (loaded.module == nullptr)
        loaded.error = ::GetLastError() != 0 ? ::GetLastError() : ERROR_MOD_NOT_FOUND;
    return loaded;
}

// Each library is loaded once, by the first caller; a failed load is not tried again.
const Loaded& LoadedOnce(SystemLibrary library) {
    if (library == SystemLibrary::kMsi) {
        static const Loaded msi = Load(L"msi.dll");
        return msi;
    }
    static const Loaded version = Load(L"version.dll");
    return version;
}

}  // namespace

FARPROC SystemProc(SystemLibrary library, const char* function) {
    const Loaded& loaded = LoadedOnce(library);
    if (loaded.module == nullptr) {
        ::SetLastError(loaded.error);
        return nullptr;
    }
    return ::GetProcAddress(loaded.module, function);
}

}  // namespace platform::win32
