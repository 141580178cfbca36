#include "platform/sim/sim_services.h"

#include <cctype>

#include "platform/ansi.h"
#include "platform/unicode_text.h"

namespace platform::sim {

namespace {

constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kStandardRights = 0x00020000;  // READ_CONTROL, what every generic right includes
constexpr uint32_t kGenericRead = 0x80000000, kGenericWrite = 0x40000000, kGenericExecute = 0x20000000,
                   kGenericAll = 0x10000000, kMaximumAllowed = 0x02000000;
constexpr uint32_t kScManagerQueryLockStatus = 0x0010, kScManagerModifyBootConfig = 0x0020;
constexpr uint32_t kServiceQueryConfig = 0x0001, kServiceChangeConfig = 0x0002,
                   kServiceEnumerateDependents = 0x0008;
constexpr uint32_t kServicePauseContinue = 0x0040, kServiceUserDefinedControl = 0x0100;
constexpr uint32_t kServiceNameLimit = 256;
// What a service reports while it stops: its first checkpoint and a typical wait hint.
constexpr uint32_t kStopPendingCheckPoint = 1, kStopPendingWaitHint = 3000;

std::string Fold(const std::string& s) {
    std::string r = s;
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

// The database's key of a name as Windows keeps it, whatever the code page.
std::string KeyOf(const std::u16string& name) { return Fold(Utf16ToUtf8(name)); }
// The key of a name an A call gives: converted with the code page of the moment.
std::string KeyOf(const std::string& name) { return KeyOf(AnsiToUtf16(name)); }

// The name an A call reads.
std::string AnsiName(const SimService& s) { return s.wideName.empty() ? s.name : Utf16ToAnsi(s.wideName); }

// The generic rights of a handle mapped to the specific rights of the object, as the
// service control manager's generic mappings do.
uint32_t MapManagerAccess(uint32_t access) {
    uint32_t mapped = access & 0x00FFFFFF;
    if (access & kGenericRead)
        mapped |= kStandardRights | kScManagerEnumerateService | kScManagerQueryLockStatus;
    if (access & kGenericWrite)
        mapped |= kStandardRights | kScManagerCreateService | kScManagerModifyBootConfig;
    if (access & kGenericExecute) mapped |= kStandardRights | kScManagerConnect | kScManagerLock;
    if (access & (kGenericAll | kMaximumAllowed)) mapped |= kScManagerAllAccess;
    return mapped | kScManagerConnect;  // every manager handle may connect
}

uint32_t MapServiceAccess(uint32_t access) {
    uint32_t mapped = access & 0x00FFFFFF;
    if (access & kGenericRead)
        mapped |= kStandardRights | kServiceQueryConfig | kServiceQueryStatus | kServiceEnumerateDependents |
                  kServiceInterrogate;
    if (access & kGenericWrite) mapped |= kStandardRights | kServiceChangeConfig;
    if (access & kGenericExecute)
        mapped |= kStandardRights | kServiceStart | kServiceStop | kServicePauseContinue |
                  kServiceUserDefinedControl;
    if (access & (kGenericAll | kMaximumAllowed)) mapped |= kServiceAllAccess;
    return mapped;
}

uint32_t StateCode(SimServiceState state) {
    switch (state) {
        case SimServiceState::Running:
            return kServiceRunning;
        case SimServiceState::StopPending:
            return kServiceStopPending;
        case SimServiceState::Stopped:
            break;
    }
    return kServiceStopped;
}

bool ValidServiceName(const std::string& name) {
    return !name.empty() && name.size() <= kServiceNameLimit &&
           name.find_first_of("\\/") == std::string::npos;
}

}  // namespace

bool SimServices::Fail(const char* call) {
    uint32_t code = faults_.Take(call);
    if (code == 0) return false;
    system_.SetLastError(code);
    return true;
}

bool SimServices::Refuse(uint32_t code) {
    system_.SetLastError(code);
    return false;
}

bool SimServices::HasHandles(const std::string& folded) const {
    for (const auto& [h, entry] : handles_)
        if (!entry.manager && entry.service == folded) return true;
    return false;
}

void SimServices::Advance() {
    const uint64_t now = system_.GetTickCount64();
    for (auto it = services_.begin(); it != services_.end();) {
        SimService& s = it->second;
        if (s.state == SimServiceState::StopPending && s.stopDelayMs != SimService::kNeverStops &&
            now >= s.stopsAtMs)
            s.state = SimServiceState::Stopped;
        // Windows keeps a deleted service until it has stopped and its last handle is closed.
        if (s.deleted && s.state == SimServiceState::Stopped && !HasHandles(it->first)) {
            removed.push_back(s.name);
            it = services_.erase(it);
        } else {
            ++it;
        }
    }
}

SimService* SimServices::ServiceOf(ScHandle handle, uint32_t& access) {
    auto h = handles_.find(handle);
    if (h == handles_.end() || h->second.manager) {
        system_.SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    access = h->second.access;
    // A service with an open handle never leaves the database, so the name still resolves.
    return &services_[h->second.service];
}

ServiceStatus SimServices::StatusOf(const SimService& s) const {
    ServiceStatus status;
    status.serviceType = s.type;
    status.currentState = StateCode(s.state);
    status.controlsAccepted =
        s.state == SimServiceState::Running && s.acceptsStop ? uint32_t{kServiceAcceptStop} : 0u;
    status.win32ExitCode =
        s.state == SimServiceState::Stopped && !s.everStarted ? uint32_t{kErrorServiceNeverStarted} : 0u;
    if (s.state == SimServiceState::StopPending) {
        status.checkPoint = kStopPendingCheckPoint;
        status.waitHint = kStopPendingWaitHint;
    }
    return status;
}

SimService& SimServices::Add(const std::string& name, SimServiceState state) {
    SimService& s = services_[KeyOf(name)];
    s.name = name;
    s.state = state;
    return s;
}

SimService& SimServices::AddW(const std::u16string& name, SimServiceState state) {
    SimService& s = services_[KeyOf(name)];
    s.name = Utf16ToAnsi(name);
    s.wideName = name;
    s.state = state;
    return s;
}

SimService* SimServices::Find(const std::string& name) {
    Advance();
    auto it = services_.find(KeyOf(name));
    return it == services_.end() ? nullptr : &it->second;
}

void SimServices::CloseServiceHandle(ScHandle handle) {
    handles_.erase(handle);
    Advance();
}

bool SimServices::OpenSCManager(const char*, uint32_t access, ScHandle& out) {
    if (Fail("OpenSCManagerA")) return false;
    out = next_++;
    handles_[out] = Handle{true, {}, MapManagerAccess(access)};
    return true;
}

bool SimServices::OpenService(ScHandle manager, const std::string& name, uint32_t access, ScHandle& out) {
    if (Fail("OpenServiceA")) return false;
    Advance();
    auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) {
        system_.SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (services_.count(KeyOf(name)) == 0) {
        system_.SetLastError(kErrorServiceDoesNotExist);
        return false;
    }
    // A service marked for deletion still opens, as it does on Windows, until it has gone.
    out = next_++;
    handles_[out] = Handle{false, KeyOf(name), MapServiceAccess(access)};
    return true;
}

bool SimServices::StartService(ScHandle service) {
    if (Fail("StartServiceA")) return false;
    Advance();
    uint32_t access = 0;
    SimService* s = ServiceOf(service, access);
    if (s == nullptr) return false;
    if (s->disabled) return Refuse(kErrorServiceDisabled);
    if (s->state != SimServiceState::Stopped) return Refuse(kErrorServiceAlreadyRunning);
    s->state = SimServiceState::Running;
    s->everStarted = true;
    ++s->starts;
    return true;
}

bool SimServices::EnumServicesStatus(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                                     uint32_t bufferSize, std::vector<EnumServiceStatus>& out,
                                     uint32_t& bytesNeeded, uint32_t& servicesReturned,
                                     uint32_t* resumeHandle) {
    out.clear();
    bytesNeeded = 0;
    servicesReturned = 0;
    if (Fail("EnumServicesStatusA")) return false;
    Advance();
    auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) {
        system_.SetLastError(kErrorInvalidHandle);
        return false;
    }
    if ((serviceType & (kServiceDriver | kServiceWin32)) == 0 || serviceState == 0 ||
        serviceState > kServiceStateAll) {
        system_.SetLastError(kErrorInvalidParameter);
        return false;
    }
    std::vector<EnumServiceStatus> matching;
    for (const SimService* s : Listed(serviceType, serviceState)) {
        EnumServiceStatus e;
        e.serviceName = AnsiName(*s);
        e.displayName = s->displayName.empty() ? e.serviceName : s->displayName;
        e.serviceType = s->type;
        e.currentState = StateCode(s->state);
        matching.push_back(std::move(e));
    }
    size_t start = resumeHandle != nullptr ? *resumeHandle : 0;
    uint32_t used = 0;
    size_t i = start;
    for (; i < matching.size(); ++i) {
        uint32_t bytes = EnumServiceStatusBytes(matching[i]);
        if (used + bytes > bufferSize) break;
        used += bytes;
        out.push_back(matching[i]);
    }
    servicesReturned = static_cast<uint32_t>(out.size());
    if (resumeHandle != nullptr) *resumeHandle = static_cast<uint32_t>(i);
    if (i < matching.size()) {
        for (size_t j = i; j < matching.size(); ++j) bytesNeeded += EnumServiceStatusBytes(matching[j]);
        system_.SetLastError(kErrorMoreData);
        return false;
    }
    if (resumeHandle != nullptr) *resumeHandle = 0;
    return true;
}

std::vector<const SimService*> SimServices::Listed(uint32_t serviceType, uint32_t serviceState) const {
    std::vector<const SimService*> out;
    for (const auto& [folded, s] : services_) {
        if ((s.type & serviceType) == 0) continue;
        // A service on its way down still counts as active.
        bool active = s.state != SimServiceState::Stopped;
        if (active && !(serviceState & kServiceActive)) continue;
        if (!active && !(serviceState & kServiceInactive)) continue;
        out.push_back(&s);
    }
    return out;
}

bool SimServices::EnumServiceNamesW(ScHandle manager, uint32_t serviceType, uint32_t serviceState,
                                    std::vector<std::u16string>& out) {
    out.clear();
    if (Fail("EnumServicesStatusW")) return false;
    Advance();
    auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) return Refuse(kErrorInvalidHandle);
    if ((serviceType & (kServiceDriver | kServiceWin32)) == 0 || serviceState == 0 ||
        serviceState > kServiceStateAll)
        return Refuse(kErrorInvalidParameter);
    for (const SimService* s : Listed(serviceType, serviceState))
        out.push_back(s->wideName.empty() ? AnsiToUtf16(s->name) : s->wideName);
    return true;
}

bool SimServices::LockServiceDatabase(ScHandle manager, ScLock& out) {
    if (Fail("LockServiceDatabase")) return false;
    auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) return Refuse(kErrorInvalidHandle);
    if (!(m->second.access & kScManagerLock)) return Refuse(kErrorAccessDenied);
    // Since Vista the lock no longer holds back service starts; it only excludes other lockers.
    if (lock_ != 0) return Refuse(kErrorServiceDatabaseLocked);
    lock_ = next_++;
    out = lock_;
    return true;
}

bool SimServices::UnlockServiceDatabase(ScLock lock) {
    if (Fail("UnlockServiceDatabase")) return false;
    if (lock == 0 || lock != lock_) return Refuse(kErrorInvalidServiceLock);
    lock_ = 0;
    return true;
}

bool SimServices::ControlService(ScHandle service, uint32_t control, ServiceStatus& status) {
    if (Fail("ControlService")) return false;
    Advance();
    uint32_t needed = 0;
    if (control == kServiceControlStop)
        needed = kServiceStop;
    else if (control == kServiceControlInterrogate)
        needed = kServiceInterrogate;
    else if (control == 2 || control == 3 || (control >= 6 && control <= 10))  // pause, continue, ...
        needed = kServicePauseContinue;
    else if (control >= 128 && control <= 255)
        needed = kServiceUserDefinedControl;
    else
        return Refuse(kErrorInvalidParameter);
    uint32_t access = 0;
    SimService* s = ServiceOf(service, access);
    if (s == nullptr) return false;
    if ((access & needed) != needed) return Refuse(kErrorAccessDenied);
    ++s->controls;
    // The call reports the status also when the state refuses the control.
    if (s->state == SimServiceState::Stopped) {
        status = StatusOf(*s);
        return Refuse(kErrorServiceNotActive);
    }
    if (s->state == SimServiceState::StopPending) {
        status = StatusOf(*s);
        return Refuse(kErrorServiceCannotAcceptCtrl);
    }
    if (control == kServiceControlInterrogate) {
        status = StatusOf(*s);
        return true;
    }
    // The simulated services accept no control but stop, and that only when they list it.
    if (control != kServiceControlStop || !s->acceptsStop) return Refuse(kErrorInvalidServiceControl);
    // The service's handler acknowledges with STOP_PENDING; even a prompt one reaches
    // STOPPED only after the call has returned.
    s->state = SimServiceState::StopPending;
    if (s->stopDelayMs != SimService::kNeverStops) s->stopsAtMs = system_.GetTickCount64() + s->stopDelayMs;
    status = StatusOf(*s);
    return true;
}

bool SimServices::QueryServiceStatus(ScHandle service, ServiceStatus& status) {
    if (Fail("QueryServiceStatus")) return false;
    Advance();
    uint32_t access = 0;
    SimService* s = ServiceOf(service, access);
    if (s == nullptr) return false;
    if (!(access & kServiceQueryStatus)) return Refuse(kErrorAccessDenied);
    status = StatusOf(*s);
    return true;
}

bool SimServices::DeleteService(ScHandle service) {
    if (Fail("DeleteService")) return false;
    Advance();
    uint32_t access = 0;
    SimService* s = ServiceOf(service, access);
    if (s == nullptr) return false;
    if (!(access & kDelete)) return Refuse(kErrorAccessDenied);
    if (s->deleted) return Refuse(kErrorServiceMarkedForDelete);
    // It goes when the caller's handle, the last one, is closed and it has stopped.
    s->deleted = true;
    return true;
}

bool SimServices::CreateService(ScHandle manager, const std::string& name, const std::string& displayName,
                                uint32_t access, uint32_t serviceType, uint32_t startType,
                                const std::string& binaryPath, ScHandle& out) {
    if (Fail("CreateServiceA")) return false;
    Advance();
    auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) return Refuse(kErrorInvalidHandle);
    if (!(m->second.access & kScManagerCreateService)) return Refuse(kErrorAccessDenied);
    if (!ValidServiceName(name)) return Refuse(kErrorInvalidName);
    if (binaryPath.empty()) return Refuse(kErrorInvalidParameter);
    if (const SimService* existing = Find(name))
        return Refuse(existing->deleted ? uint32_t{kErrorServiceMarkedForDelete}
                                        : uint32_t{kErrorServiceExists});
    SimService& s = Add(name);
    s.displayName = displayName;
    s.type = serviceType;
    s.startType = startType;
    s.binaryPath = binaryPath;
    out = next_++;
    handles_[out] = Handle{false, KeyOf(name), MapServiceAccess(access)};
    return true;
}

}  // namespace platform::sim
