#include "platform/sim/sim_services.h"

#include <cctype>

namespace platform::sim {

namespace {
std::string Fold(const std::string& s) {
    std::string r = s;
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}
}  // namespace

bool SimServices::Fail(const char* call) {
    uint32_t code = faults_.Take(call);
    if (code == 0) return false;
    system_.SetLastError(code);
    return true;
}

SimService& SimServices::Add(const std::string& name, SimServiceState state) {
    SimService& s = services_[Fold(name)];
    s.name = name;
    s.state = state;
    return s;
}

SimService* SimServices::Find(const std::string& name) {
    auto it = services_.find(Fold(name));
    return it == services_.end() ? nullptr : &it->second;
}

void SimServices::CloseServiceHandle(ScHandle handle) { handles_.erase(handle); }

bool SimServices::OpenSCManager(const char*, uint32_t, ScHandle& out) {
    if (Fail("OpenSCManagerA")) return false;
    out = next_++;
    handles_[out] = Handle{true, {}};
    return true;
}

bool SimServices::OpenService(ScHandle manager, const std::string& name, uint32_t, ScHandle& out) {
    if (Fail("OpenServiceA")) return false;
    auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) {
        system_.SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (services_.count(Fold(name)) == 0) {
        system_.SetLastError(kErrorServiceDoesNotExist);
        return false;
    }
    out = next_++;
    handles_[out] = Handle{false, Fold(name)};
    return true;
}

bool SimServices::StartService(ScHandle service) {
    if (Fail("StartServiceA")) return false;
    auto h = handles_.find(service);
    if (h == handles_.end() || h->second.manager) {
        system_.SetLastError(kErrorInvalidHandle);
        return false;
    }
    SimService& s = services_[h->second.service];
    if (s.disabled) {
        system_.SetLastError(kErrorServiceDisabled);
        return false;
    }
    if (s.state == SimServiceState::Running) {
        system_.SetLastError(kErrorServiceAlreadyRunning);
        return false;
    }
    s.state = SimServiceState::Running;
    ++s.starts;
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
    for (const auto& [folded, s] : services_) {
        if ((s.type & serviceType) == 0) continue;
        bool running = s.state == SimServiceState::Running;
        if (running && !(serviceState & kServiceActive)) continue;
        if (!running && !(serviceState & kServiceInactive)) continue;
        EnumServiceStatus e;
        e.serviceName = s.name;
        e.displayName = s.displayName.empty() ? s.name : s.displayName;
        e.serviceType = s.type;
        e.currentState = running ? kServiceRunning : kServiceStopped;
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

}  // namespace platform::sim

namespace platform::sim {
// Placeholders until the simulated service control manager grows these calls.
bool SimServices::LockServiceDatabase(ScHandle, ScLock&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimServices::UnlockServiceDatabase(ScLock) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimServices::ControlService(ScHandle, uint32_t, ServiceStatus&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimServices::QueryServiceStatus(ScHandle, ServiceStatus&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimServices::DeleteService(ScHandle) { system_.SetLastError(kErrorCallNotImplemented); return false; }
bool SimServices::CreateService(ScHandle, const std::string&, const std::string&, uint32_t, uint32_t, uint32_t,
                                const std::string&, ScHandle&) { system_.SetLastError(kErrorCallNotImplemented); return false; }
}  // namespace platform::sim
