// The simulated service control manager.
//
// Time is the virtual clock of SimSystem: a service told to stop reports STOP_PENDING and
// reaches STOPPED `stopDelayMs` virtual milliseconds later (so a caller polling with
// Sleep(1000) sees it stopped at the first poll at or after that time), or never. A service
// marked for deletion leaves the database once it is stopped and no handle refers to it.
// The state is brought up to the clock at every call, Find included.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

enum class SimServiceState { Stopped, Running, StopPending };

struct SimService {
    static constexpr uint32_t kNeverStops = 0xFFFFFFFF;

    std::string name;         // as a caller of the A functions read it when it was added
    std::u16string wideName;  // the name as the database keeps it, when added by it (AddW)
    SimServiceState state = SimServiceState::Stopped;
    bool disabled = false;
    int starts = 0;                           // how often StartService started it
    std::string displayName;                  // the name itself when empty
    uint32_t type = kServiceWin32OwnProcess;  // kServiceKernelDriver for a driver
    uint32_t startType = kServiceDemandStart;
    std::string binaryPath;  // as CreateService recorded it

    // --- how it answers the stop control ---
    // False: the service does not list the stop control; ControlService(STOP) fails with 1052.
    bool acceptsStop = true;
    // Virtual milliseconds from the stop control to SERVICE_STOPPED; kNeverStops: it hangs
    // in STOP_PENDING (a further stop control gets 1061).
    uint32_t stopDelayMs = 0;

    // --- what happened to it ---
    int controls = 0;      // ControlService calls made on it, whatever they answered
    bool deleted = false;  // marked for deletion by DeleteService
    bool everStarted = false;
    uint64_t stopsAtMs = 0;  // while StopPending with a finite delay: when it reports STOPPED
};

class SimServices : public IServiceManager {
  public:
    SimServices(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {}

    // --- state a test sets and reads; names compare without regard to case ---
    SimService& Add(const std::string& name, SimServiceState state = SimServiceState::Stopped);
    // A service named as Windows keeps it: the A functions see it through the code page of the
    // moment ("Ωmega" as "Omega" in 1252), and an A call naming that alias reaches a service
    // of that name, never this one.
    SimService& AddW(const std::u16string& name, SimServiceState state = SimServiceState::Stopped);
    // Null once the service has left the database. The pointer is valid until the next call.
    SimService* Find(const std::string& name);
    int OpenHandles() const { return static_cast<int>(handles_.size()); }
    // Every service in the database, by folded name, as it stood at the last call.
    const std::map<std::string, SimService>& All() const { return services_; }
    // Whether a LockServiceDatabase lock is held.
    bool Locked() const { return lock_ != 0; }
    // The services that left the database after DeleteService, in that order.
    std::vector<std::string> removed;

    void CloseServiceHandle(ScHandle handle) override;
    bool OpenSCManager(const char* database, uint32_t access, ScHandle& out) override;
    bool OpenService(ScHandle manager, const std::string& name, uint32_t access, ScHandle& out) override;
    bool StartService(ScHandle service) override;
    bool EnumServicesStatus(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                            uint32_t bufferSize, std::vector<EnumServiceStatus>& out, uint32_t& bytesNeeded,
                            uint32_t& servicesReturned, uint32_t* resumeHandle) override;
    bool EnumServiceNamesW(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                           std::vector<std::u16string>& out) override;
    bool LockServiceDatabase(ScHandle manager, ScLock& out) override;
    bool UnlockServiceDatabase(ScLock lock) override;
    bool ControlService(ScHandle service, uint32_t control, ServiceStatus& status) override;
    bool QueryServiceStatus(ScHandle service, ServiceStatus& status) override;
    bool DeleteService(ScHandle service) override;
    bool CreateService(ScHandle manager, const std::string& name, const std::string& displayName,
                       uint32_t access, uint32_t serviceType, uint32_t startType,
                       const std::string& binaryPath, ScHandle& out) override;

  private:
    struct Handle {
        bool manager = false;
        std::string service;  // folded name
        uint32_t access = 0;  // generic rights already mapped
    };
    bool Fail(const char* call);
    bool Refuse(uint32_t code);
    // Moves every service along the virtual clock and drops the deleted ones that may go.
    void Advance();
    // The service a handle refers to, or null with 6 (ERROR_INVALID_HANDLE) as the last error.
    SimService* ServiceOf(ScHandle handle, uint32_t& access);
    bool HasHandles(const std::string& folded) const;
    ServiceStatus StatusOf(const SimService& s) const;
    // The services the enumerations list, in database order.
    std::vector<const SimService*> Listed(uint32_t serviceType, uint32_t serviceState) const;

    Faults& faults_;
    SimSystem& system_;
    std::map<std::string, SimService> services_;  // by folded name
    std::map<ScHandle, Handle> handles_;
    ScHandle next_ = 0x5000;
    ScLock lock_ = 0;
};

}  // namespace platform::sim
