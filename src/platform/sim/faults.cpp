#include "platform/sim/faults.h"

#include <unordered_set>

#include "platform/common.h"

namespace platform::sim {

void Faults::Fail(const std::string& call, uint32_t code, int times, int skip) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[call] = Rule{code, times, skip};
}

void Faults::Clear(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.erase(call);
}

void Faults::ClearAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

void Faults::SetHook(std::function<void(const std::string& call)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

bool Faults::IsChanging(const std::string& call) {
    // clang-format off
    static const std::unordered_set<std::string> kChanging = {
        // registry
        "RegCreateKeyExA", "RegCreateKeyExW", "RegSetValueExA", "RegSetValueExW", "RegDeleteKeyA",
        "RegDeleteKeyExA", "NtDeleteKey", "RegDeleteValueA", "RegDeleteValueW", "SHDeleteKeyA",
        "SHDeleteValueA",
        // files (a file opened for writing counts where it is opened)
        "WriteFile", "SetFileAttributesA", "DeleteFileA", "DeleteFileW", "MoveFileExA", "MoveFileExW",
        "CreateDirectoryA", "CreateDirectoryW", "RemoveDirectoryA", "CopyFileW", "NtSetInformationFile",
        // access lists and owners
        "SetNamedSecurityInfoA", "SetSecurityInfo", "SetFileSecurityInfo", "SetKernelObjectSecurity",
        "RegSetKeySecurity",
        // services and processes
        "StartServiceA", "ControlService", "DeleteService", "CreateServiceA", "TerminateProcess",
        "CreateProcessA", "CreateProcessW",
        // installer, network, Security Center, firewall, restart
        "MsiConfigureProductExW", "MsiInstallProductW", "WSCDeinstallProvider", "WSCDeinstallProvider (64-bit)",
        "IWbemServices::DeleteInstance", "INetFwProfile::put_FirewallEnabled",
        "ExitWindowsEx", "InitiateSystemShutdownExA",
    };
    // clang-format on
    return kChanging.count(call) != 0;
}

void Faults::CutAtChange(int k) {
    std::lock_guard<std::mutex> lock(mutex_);
    cutAt_ = k > 0 ? k : 0;
    changes_ = 0;
    cut_ = false;
}

void Faults::Restore() {
    std::lock_guard<std::mutex> lock(mutex_);
    cutAt_ = 0;
    cut_ = false;
}

bool Faults::IsCut() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cut_;
}

int Faults::Changes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
}

namespace {
thread_local int withinOneCall = 0;
}

Faults::WithinOneCall::WithinOneCall() { ++withinOneCall; }
Faults::WithinOneCall::~WithinOneCall() { --withinOneCall; }

bool Faults::ServiceAtWork() { return withinOneCall > 0; }

uint32_t Faults::Take(const std::string& call) { return TakeImpl(call, IsChanging(call)); }

uint32_t Faults::TakeChange(const std::string& call) { return TakeImpl(call, true); }

int32_t Faults::TakeHr(const std::string& call) {
    uint32_t code = Take(call);
    if (code == kErrorNotReady && IsCut()) return static_cast<int32_t>(0x80070000u | kErrorNotReady);
    return static_cast<int32_t>(code);
}

uint32_t Faults::TakeImpl(const std::string& call, bool changes) {
    thread_local bool inHook = false;
    if (!inHook) {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hook = hook_;
        }
        if (hook) {
            // A hook may throw (a fault the test raises as an exception): the flag is reset
            // all the same, or no hook would run on this thread again.
            struct Reset {
                ~Reset() { inHook = false; }
            } reset;
            inHook = true;
            hook(call);
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_[call];
    if (cut_ && withinOneCall == 0) return kErrorNotReady;
    if (changes && withinOneCall == 0 && ++changes_ == cutAt_) {
        cut_ = true;
        return kErrorNotReady;
    }
    auto it = rules_.find(call);
    if (it == rules_.end()) return 0;
    Rule& rule = it->second;
    if (rule.skip > 0) {
        --rule.skip;
        return 0;
    }
    uint32_t code = rule.code;
    if (rule.times > 0 && --rule.times == 0) rules_.erase(it);
    return code;
}

int Faults::Calls(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

void Faults::ResetCounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

}  // namespace platform::sim
