// The service control manager (advapi32), as the product uses it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common.h"

namespace platform {

using ScHandle = uintptr_t;

enum : uint32_t {
    kScManagerAllAccess = 0x000F003F,
    kServiceAllAccess = 0x000F01FF,
};

enum : uint32_t {
    kScManagerConnect = 0x0001,
    kScManagerCreateService = 0x0002,
    kScManagerEnumerateService = 0x0004,
    kScManagerLock = 0x0008,
    kServiceQueryStatus = 0x0004,
    kServiceStop = 0x0020,
};

// ControlService codes and the states QueryServiceStatus reports.
enum : uint32_t {
    kServiceControlStop = 0x1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceContinuePending = 5,
    kServicePausePending = 6,
    kServicePaused = 7,
    kServiceAcceptStop = 0x1,
    kServiceDemandStart = 3,
    kServiceErrorIgnore = 0,
    kServiceControlInterrogate = 0x4,
    kServiceStart = 0x0010,
    kServiceInterrogate = 0x0080,
};

// Errors of the service calls that platform/common.h does not list.
enum : uint32_t {
    kErrorInvalidName = 123,
    kErrorInvalidServiceControl = 1052,  // the service does not accept that control
    kErrorInvalidServiceLock = 1071,
    kErrorServiceExists = 1073,
    kErrorServiceNeverStarted = 1077,  // the exit code a service reports before it first ran
};

// SERVICE_STATUS.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// The lock of LockServiceDatabase; 0 is "no lock".
using ScLock = uintptr_t;

// Service types and states as EnumServicesStatusA takes and reports them.
enum : uint32_t {
    kServiceKernelDriver = 0x01,
    kServiceFileSystemDriver = 0x02,
    kServiceAdapter = 0x04,
    kServiceRecognizerDriver = 0x08,
    kServiceDriver = 0x0B,
    kServiceWin32OwnProcess = 0x10,
    kServiceWin32ShareProcess = 0x20,
    kServiceWin32 = 0x30,
    kServiceActive = 1,
    kServiceInactive = 2,
    kServiceStateAll = 3,
    kServiceStopped = 1,
    kServiceRunning = 4,
};

// ENUM_SERVICE_STATUSA: one service as the enumeration reports it.
struct EnumServiceStatus {
    std::string serviceName;
    std::string displayName;
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
};

// Bytes one service takes in an EnumServicesStatusA buffer of a 32-bit process: the fixed
// structure (two pointers and SERVICE_STATUS) followed by both names.
inline uint32_t EnumServiceStatusBytes(const EnumServiceStatus& s) {
    return 36u + static_cast<uint32_t>(s.serviceName.size() + 1 + s.displayName.size() + 1);
}

constexpr char kServicesActiveDatabase[] = "ServicesActive";

class IServiceManager {
  public:
    IServiceManager() = default;
    IServiceManager(const IServiceManager&) = delete;
    IServiceManager& operator=(const IServiceManager&) = delete;
    virtual ~IServiceManager() = default;

    // CloseServiceHandle.
    virtual void CloseServiceHandle(ScHandle handle) = 0;
    // OpenSCManagerA on the local machine; false with the last error set on failure.
    virtual bool OpenSCManager(const char* database, uint32_t access, ScHandle& out) = 0;
    // OpenServiceA.
    virtual bool OpenService(ScHandle manager, const std::string& name, uint32_t access, ScHandle& out) = 0;
    // StartServiceA with no arguments.
    virtual bool StartService(ScHandle service) = 0;
    // EnumServicesStatusA into a buffer of `bufferSize` bytes (0: no buffer). As the real
    // call, it fails with ERROR_MORE_DATA when the services do not all fit, sets
    // `bytesNeeded` to what the rest needs and still returns the ones that fit; with a
    // resume handle, the next call goes on after them.
    virtual bool EnumServicesStatus(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                                    uint32_t bufferSize, std::vector<EnumServiceStatus>& out,
                                    uint32_t& bytesNeeded, uint32_t& servicesReturned,
                                    uint32_t* resumeHandle) = 0;
    // EnumServicesStatusW, the names only: every service of those types and states, named as
    // the database keeps it, whatever the ANSI code page can spell. False with the last error.
    virtual bool EnumServiceNamesW(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                                   std::vector<std::u16string>& out) = 0;

    // LockServiceDatabase: false with the last error (1055 when another holds it).
    virtual bool LockServiceDatabase(ScHandle manager, ScLock& out) = 0;
    // UnlockServiceDatabase.
    virtual bool UnlockServiceDatabase(ScLock lock) = 0;
    // ControlService: `status` receives the service's status as the call reports it,
    // also on some failures (1061, 1062), as the real call fills it.
    virtual bool ControlService(ScHandle service, uint32_t control, ServiceStatus& status) = 0;
    // QueryServiceStatus.
    virtual bool QueryServiceStatus(ScHandle service, ServiceStatus& status) = 0;
    // DeleteService: marks the service for deletion; it goes once it has stopped and
    // every handle to it is closed. 1072 when it is already marked.
    virtual bool DeleteService(ScHandle service) = 0;
    // CreateServiceA (no load-order group, dependencies or account): how tests and the
    // demo install a real service; the product itself never creates one.
    virtual bool CreateService(ScHandle manager, const std::string& name, const std::string& displayName,
                               uint32_t access, uint32_t serviceType, uint32_t startType,
                               const std::string& binaryPath, ScHandle& out) = 0;
};

using UniqueScHandle = UniqueIn<IServiceManager, ScHandle, &IServiceManager::CloseServiceHandle>;

}  // namespace platform
