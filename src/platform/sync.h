// Named kernel objects (mutexes) shared between processes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common.h"

namespace platform {

// A mutex or thread handle of this seam; 0 is "no handle".
using SyncHandle = uintptr_t;

// What a thread of this seam runs; its result is the thread's exit code.
using ThreadProcedure = uint32_t (*)(void* argument);

enum : uint32_t {
    kWaitObject0 = 0,
    kWaitAbandoned = 0x80,
    kWaitTimeout = 258,
    kWaitFailed = 0xFFFFFFFF,
    kInfinite = 0xFFFFFFFF,

    kSynchronize = 0x00100000,
    kMutexAllAccess = 0x001F0001,

    kErrorNotOwner = 288,  // ERROR_NOT_OWNER, from ReleaseMutex
};

// Shaped after the kernel32 calls of the same names; false means the thread's last error
// says why. `sddl` stands for SECURITY_ATTRIBUTES built from that SDDL text, or null.
class ISync {
  public:
    ISync() = default;
    ISync(const ISync&) = delete;
    ISync& operator=(const ISync&) = delete;
    virtual ~ISync() = default;

    virtual void CloseHandle(SyncHandle handle) = 0;
    // CreateMutexW. An empty name makes an unnamed mutex. When the name exists the call
    // opens it, ignores `initialOwner` and leaves 183 (ERROR_ALREADY_EXISTS) as the last
    // error; when it exists with an access list that does not grant this process full
    // access, it fails with 5.
    virtual bool CreateMutexW(const char* sddl, bool initialOwner, const std::u16string& name,
                              SyncHandle& out) = 0;
    // OpenMutexW.
    virtual bool OpenMutexW(uint32_t access, bool inheritHandle, const std::u16string& name,
                            SyncHandle& out) = 0;
    // WaitForSingleObject: kWaitObject0, kWaitAbandoned, kWaitTimeout or kWaitFailed.
    virtual uint32_t WaitForSingleObject(SyncHandle handle, uint32_t milliseconds) = 0;
    virtual bool ReleaseMutex(SyncHandle handle) = 0;
    // _beginthreadex: runs `procedure(argument)` on a new thread of the C runtime; the handle
    // is signalled when it has ended (WaitForSingleObject) and is closed with CloseHandle.
    // False when no thread could be made, with the last error saying why.
    virtual bool BeginThread(ThreadProcedure procedure, void* argument, SyncHandle& out) = 0;
};

using UniqueSync = UniqueIn<ISync, SyncHandle, &ISync::CloseHandle>;

}  // namespace platform
