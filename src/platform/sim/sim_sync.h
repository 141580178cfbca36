// The simulated named mutexes. They really block across threads, so several threads of
// a test can stand for processes that share one mutex; a mutex held by another
// (simulated) process makes a timed wait fail at once instead of sleeping.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"
#include "platform/sync.h"

namespace platform::sim {

class SimSync : public ISync {
  public:
    SimSync(Faults& faults, SimSystem& system);
    ~SimSync() override;

    // --- state a test arranges and inspects ---
    // A mutex another process created and keeps open. `owned`: that process holds it now.
    // `accessDenied`: its access list grants this process no more than SYNCHRONIZE. Deny
    // entries for Everyone (WD) in `sddl` take effect as well, as they do for a mutex this
    // process created: a second CreateMutexW of such a mutex fails with 5.
    void AddForeignMutex(const std::u16string& name, bool owned, bool accessDenied,
                         const std::string& sddl = {});
    // The other process releases the mutex it holds.
    void ReleaseForeign(const std::u16string& name);
    // Every mutex held now, by a thread of this process or by another process, is left
    // abandoned as when its owner dies: the next wait gets kWaitAbandoned and the ownership.
    int AbandonOwned();
    bool Exists(const std::u16string& name) const;
    // The SDDL text the mutex was created with; empty for default security or when absent.
    std::string SddlOf(const std::u16string& name) const;
    // The owning thread's id (ISystem::GetCurrentThreadId), 0 when free or held elsewhere.
    uint32_t OwnerOf(const std::u16string& name) const;
    int OpenHandles() const;

    // --- ISync ---
    void CloseHandle(SyncHandle handle) override;
    bool CreateMutexW(const char* sddl, bool initialOwner, const std::u16string& name,
                      SyncHandle& out) override;
    bool OpenMutexW(uint32_t access, bool inheritHandle, const std::u16string& name,
                    SyncHandle& out) override;
    uint32_t WaitForSingleObject(SyncHandle handle, uint32_t milliseconds) override;
    bool ReleaseMutex(SyncHandle handle) override;
    // The procedure runs to its end on the calling thread before the call returns: the
    // handle is one of a thread that has already ended. Fault "_beginthreadex".
    bool BeginThread(ThreadProcedure procedure, void* argument, SyncHandle& out) override;

    struct Mutex;

  private:
    bool Fail(const char* call);
    SyncHandle AddHandle(const std::shared_ptr<Mutex>& m);
    void Forget(const std::shared_ptr<Mutex>& m);

    Faults& faults_;
    SimSystem& system_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::u16string, std::shared_ptr<Mutex>> named_;
    std::map<SyncHandle, std::shared_ptr<Mutex>> handles_;
    std::map<SyncHandle, uint32_t> threads_;  // ended threads' handles and exit codes
    SyncHandle next_ = 0x2000;
};

}  // namespace platform::sim
