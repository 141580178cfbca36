#include "platform/win32/win32_sync.h"

#include <windows.h>
// After windows.h: it needs its types.
#include <process.h>

#include <memory>

#include "platform/win32/win32_sddl.h"

namespace platform::win32 {

namespace {
HANDLE H(SyncHandle h) { return reinterpret_cast<HANDLE>(h); }
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

struct ThreadStart {
    ThreadProcedure procedure;
    void* argument;
};

unsigned __stdcall RunThread(void* start) {
    std::unique_ptr<ThreadStart> owned(static_cast<ThreadStart*>(start));
    return owned->procedure(owned->argument);
}
}  // namespace

void Win32Sync::CloseHandle(SyncHandle handle) { ::CloseHandle(H(handle)); }

bool Win32Sync::CreateMutexW(const char* sddl, bool initialOwner, const std::u16string& name,
                             SyncHandle& out) {
    SddlAttributes attributes;
    if (!attributes.Init(sddl)) return false;
    HANDLE h =
        ::CreateMutexW(attributes.get(), initialOwner ? TRUE : FALSE, name.empty() ? nullptr : W(name));
    if (!h) return false;
    // The last error (0 or ERROR_ALREADY_EXISTS) stays as CreateMutexW left it.
    out = reinterpret_cast<SyncHandle>(h);
    return true;
}

bool Win32Sync::OpenMutexW(uint32_t access, bool inheritHandle, const std::u16string& name, SyncHandle& out) {
    HANDLE h = ::OpenMutexW(access, inheritHandle ? TRUE : FALSE, name.empty() ? nullptr : W(name));
    if (!h) return false;
    out = reinterpret_cast<SyncHandle>(h);
    return true;
}

uint32_t Win32Sync::WaitForSingleObject(SyncHandle handle, uint32_t milliseconds) {
    return ::WaitForSingleObject(H(handle), milliseconds);
}

bool Win32Sync::ReleaseMutex(SyncHandle handle) { return ::ReleaseMutex(H(handle)) != FALSE; }

bool Win32Sync::BeginThread(ThreadProcedure procedure, void* argument, SyncHandle& out) {
    auto start = std::make_unique<ThreadStart>(ThreadStart{procedure, argument});
    uintptr_t thread = ::_beginthreadex(nullptr, 0, &RunThread, start.get(), 0, nullptr);
    if (thread == 0) {
        // The C runtime keeps CreateThread's error; a refusal of its own leaves none.
        if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    (void)start.release();  // the thread's now
    out = static_cast<SyncHandle>(thread);
    return true;
}

}  // namespace platform::win32
