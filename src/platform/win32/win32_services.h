#pragma once

#include "platform/services.h"

namespace platform::win32 {

class Win32Services : public IServiceManager {
  public:
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
};

}  // namespace platform::win32
