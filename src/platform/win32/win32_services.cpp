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
    if (h == nullptr) return false;
    out = reinterpret_cast<ScHandle>(h);
    return true;
}

bool Win32Services::OpenService(ScHandle manager, const std::string& name, uint32_t access, ScHandle& out) {
    SC_HANDLE h = ::OpenServiceA(Sc(manager), name.c_str(), access);
    if (h == nullptr) return false;
    out = reinterpret_cast<ScHandle>(h);
    return true;
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

bool Win32Services::EnumServiceNamesW(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                                      std::vector<std::u16string>& out) {
    out.clear();
    // Room for many services a call; one takes at most about a kilobyte. The resume handle
    // carries the rest into the next call.
    std::vector<ENUM_SERVICE_STATUSW> buffer(64 * 1024 / sizeof(ENUM_SERVICE_STATUSW));
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSW));
    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0, returned = 0;
        const BOOL ok = ::EnumServicesStatusW(Sc(manager), serviceType, serviceState, buffer.data(), bytes,
                                              &needed, &returned, &resume);
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        if (!ok && (error != ERROR_MORE_DATA || returned == 0)) {
            ::SetLastError(error);
            return false;
        }
        for (DWORD i = 0; i < returned; ++i)
            if (buffer[i].lpServiceName != nullptr)
                out.emplace_back(reinterpret_cast<const char16_t*>(buffer[i].lpServiceName));
        if (ok) return true;
    }
}

namespace {
void Copy(const SERVICE_STATUS& from, ServiceStatus& to) {
    to.serviceType = from.dwServiceType;
    to.currentState = from.dwCurrentState;
    to.controlsAccepted = from.dwControlsAccepted;
    to.win32ExitCode = from.dwWin32ExitCode;
    to.serviceSpecificExitCode = from.dwServiceSpecificExitCode;
    to.checkPoint = from.dwCheckPoint;
    to.waitHint = from.dwWaitHint;
}
}  // namespace

bool Win32Services::LockServiceDatabase(ScHandle manager, ScLock& out) {
    SC_LOCK lock = ::LockServiceDatabase(Sc(manager));
    if (lock == nullptr) return false;
    out = reinterpret_cast<ScLock>(lock);
    return true;
}

bool Win32Services::UnlockServiceDatabase(ScLock lock) {
    return ::UnlockServiceDatabase(reinterpret_cast<SC_LOCK>(lock)) != FALSE;
}

bool Win32Services::ControlService(ScHandle service, uint32_t control, ServiceStatus& status) {
    SERVICE_STATUS s{};
    BOOL ok = ::ControlService(Sc(service), control, &s);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    // The status is valid on success and on the refusals that report the service's state.
    if (ok || error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL || error == ERROR_SERVICE_NOT_ACTIVE) Copy(s, status);
    ::SetLastError(error);
    return ok != FALSE;
}

bool Win32Services::QueryServiceStatus(ScHandle service, ServiceStatus& status) {
    SERVICE_STATUS s{};
    if (!::QueryServiceStatus(Sc(service), &s)) return false;
    Copy(s, status);
    return true;
}

bool Win32Services::DeleteService(ScHandle service) { return ::DeleteService(Sc(service)) != FALSE; }

bool Win32Services::CreateService(ScHandle manager, const std::string& name, const std::string& displayName,
                                  uint32_t access, uint32_t serviceType, uint32_t startType,
                                  const std::string& binaryPath, ScHandle& out) {
    SC_HANDLE h = ::CreateServiceA(Sc(manager), name.c_str(), displayName.c_str(), access, serviceType,
                                   startType, SERVICE_ERROR_IGNORE, binaryPath.c_str(), nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
    if (h == nullptr) return false;
    out = reinterpret_cast<ScHandle>(h);
    return true;
}

}  // namespace platform::win32
