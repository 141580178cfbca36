#pragma once

#include "platform/sync.h"

namespace platform::win32 {

class Win32Sync : public ISync {
  public:
    void CloseHandle(SyncHandle handle) override;
    bool CreateMutexW(const char* sddl, bool initialOwner, const std::u16string& name,
                      SyncHandle& out) override;
    bool OpenMutexW(uint32_t access, bool inheritHandle, const std::u16string& name,
                    SyncHandle& out) override;
    uint32_t WaitForSingleObject(SyncHandle handle, uint32_t milliseconds) override;
    bool ReleaseMutex(SyncHandle handle) override;
    bool BeginThread(ThreadProcedure procedure, void* argument, SyncHandle& out) override;
};

}  // namespace platform::win32
