// The simulated service control manager.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

enum class SimServiceState { Stopped, Running };

struct SimService {
    std::string name;
    SimServiceState state = SimServiceState::Stopped;
    bool disabled = false;
    int starts = 0;                           // how often StartService started it
    std::string displayName;                  // the name itself when empty
    uint32_t type = kServiceWin32OwnProcess;  // kServiceKernelDriver for a driver
};

class SimServices : public IServiceManager {
public:
    SimServices(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {}

    // --- state a test sets and reads; names compare without regard to case ---
    SimService& Add(const std::string& name, SimServiceState state = SimServiceState::Stopped);
    SimService* Find(const std::string& name);
    int OpenHandles() const { return static_cast<int>(handles_.size()); }

    void CloseServiceHandle(ScHandle handle) override;
    bool OpenSCManager(const char* database, uint32_t access, ScHandle& out) override;
    bool OpenService(ScHandle manager, const std::string& name, uint32_t access, ScHandle& out) override;
    bool StartService(ScHandle service) override;
    bool EnumServicesStatus(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                            uint32_t bufferSize, std::vector<EnumServiceStatus>& out, uint32_t& bytesNeeded,
                            uint32_t& servicesReturned, uint32_t* resumeHandle) override;
    bool LockServiceDatabase(ScHandle manager, ScLock& out) override;
    bool UnlockServiceDatabase(ScLock lock) override;
    bool ControlService(ScHandle service, uint32_t control, ServiceStatus& status) override;
    bool QueryServiceStatus(ScHandle service, ServiceStatus& status) override;
    bool DeleteService(ScHandle service) override;
    bool CreateService(ScHandle manager, const std::string& name, const std::string& displayName, uint32_t access,
                       uint32_t serviceType, uint32_t startType, const std::string& binaryPath,
                       ScHandle& out) override;

private:
    bool Fail(const char* call);
    struct Handle {
        bool manager = false;
        std::string service;  // folded name
    };
    Faults& faults_;
    SimSystem& system_;
    std::map<std::string, SimService> services_;  // by folded name
    std::map<ScHandle, Handle> handles_;
    ScHandle next_ = 0x5000;
};

}  // namespace platform::sim
