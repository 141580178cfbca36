#include "platform/win32/win32_services.h"

#include "platform/win32/windows_api.h"
// The interface names the calls without the A/W suffix that windows.h maps them to.
#undef OpenSCManager
#undef OpenService
#undef StartService
#undef EnumServicesStatus

#include <vector>

namespace platform::win32 {

namespace {
SC_HANDLE Sc(ScHandle h) { return reinterpret_cast<SC_HANDLE>(h); }
}  // namespace

void Win32Services::CloseServiceHandle(ScHandle handle) { ::CloseServiceHandle(Sc(handle)); }

bool Win32Services::OpenSCManager(const char* database, uint32_t access, ScHandle& out) {
    SC_HANDLE h = ::OpenSCManagerA(nullptr, database, access);
    out = reinterpret_cast<ScHandle>(h);
    return h != nullptr;
}

bool Win32Services::OpenService(ScHandle manager, const std::string& name, uint32_t access, ScHandle& out) {
    SC_HANDLE h = ::OpenServiceA(Sc(manager), name.c_str(), access);
    out = reinterpret_cast<ScHandle>(h);
    return h != nullptr;
}

bool Win32Services::StartService(ScHandle service) {
    return ::StartServiceA(Sc(service), 0, nullptr) != FALSE;
}

bool Win32Services::EnumServicesStatus(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                                       uint32_t bufferSize, std::vector<EnumServiceStatus>& out,
                                       uint32_t& bytesNeeded, uint32_t& servicesReturned,
                                       uint32_t* resumeHandle) {
    out.clear();
    // ENUM_SERVICE_STATUSA holds pointers into the same buffer, so it must be aligned for them.
    std::vector<ENUM_SERVICE_STATUSA> buffer((bufferSize + sizeof(ENUM_SERVICE_STATUSA) - 1) /
                                             sizeof(ENUM_SERVICE_STATUSA));
    DWORD needed = 0, returned = 0, resume = resumeHandle != nullptr ? *resumeHandle : 0;
    BOOL ok =
        ::EnumServicesStatusA(Sc(manager), serviceType, serviceState, bufferSize ? buffer.data() : nullptr,
                              bufferSize, &needed, &returned, resumeHandle != nullptr ? &resume : nullptr);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    bytesNeeded = needed;
    servicesReturned = 0;
    if (resumeHandle != nullptr) *resumeHandle = resume;
    if (ok || error == ERROR_MORE_DATA) {
        for (DWORD i = 0; i < returned && bufferSize != 0; ++i) {
            const ENUM_SERVICE_STATUSA& e = buffer[i];
            EnumServiceStatus s;
            s.serviceName = e.lpServiceName ? e.lpServiceName : "";
            s.displayName = e.lpDisplayName ? e.lpDisplayName : "";
            s.serviceType = e.ServiceStatus.dwServiceType;
            s.currentState = e.ServiceStatus.dwCurrentState;
            out.push_back(std::move(s));
        }
        servicesReturned = static_cast<uint32_t>(out.size());
    }
    ::SetLastError(error);
    return ok != FALSE;
}

}  // namespace platform::win32

namespace platform::win32 {
// Placeholders until the service calls are wired.
bool Win32Services::LockServiceDatabase(ScHandle, ScLock&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Services::UnlockServiceDatabase(ScLock) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Services::ControlService(ScHandle, uint32_t, ServiceStatus&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Services::QueryServiceStatus(ScHandle, ServiceStatus&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Services::DeleteService(ScHandle) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
bool Win32Services::CreateService(ScHandle, const std::string&, const std::string&, uint32_t, uint32_t, uint32_t,
                                  const std::string&, ScHandle&) { ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); return false; }
}  // namespace platform::win32
