#include "platform/sim/sim_com.h"

#include <algorithm>
#include <cctype>

#include "platform/ansi.h"

namespace platform::sim {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// WMI takes "\\.\root\x", "//./root/x" and "root\x" for the same local namespace.
std::string NamespaceKey(const std::string& name) {
    std::string key = name;
    std::replace(key.begin(), key.end(), '/', '\\');
    if (key.rfind("\\\\.\\", 0) == 0) key.erase(0, 4);
    return Lower(key);
}

}  // namespace

SimCom::SimCom(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {
    AddNamespace("root\\cimv2");
    AddNamespace("root\\SecurityCenter");
}

void SimCom::AddNamespace(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Namespace& ns = namespaces_[NamespaceKey(name)];
    if (ns.name.empty()) ns.name = name;
}

void SimCom::RemoveNamespace(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    namespaces_.erase(NamespaceKey(name));
}

void SimCom::AddInstance(const std::string& nameSpace, const std::string& objectPath) {
    AddNamespace(nameSpace);
    std::lock_guard<std::mutex> lock(mutex_);
    namespaces_[NamespaceKey(nameSpace)].instances.push_back(objectPath);
}

bool SimCom::HasInstance(const std::string& nameSpace, const std::string& objectPath) const {
    std::vector<std::string> all = Instances(nameSpace);
    const std::string wanted = Lower(objectPath);
    return std::any_of(all.begin(), all.end(), [&](const std::string& p) { return Lower(p) == wanted; });
}

std::vector<std::string> SimCom::Namespaces() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> names;
    for (const auto& n : namespaces_) names.push_back(n.second.name);
    return names;
}

std::vector<std::string> SimCom::Instances(const std::string& nameSpace) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = namespaces_.find(NamespaceKey(nameSpace));
    return it == namespaces_.end() ? std::vector<std::string>() : it->second.instances;
}

int SimCom::OpenObjects() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(objects_.size());
}

ComObject SimCom::Hand(Kind kind, const std::string& nameSpace) {
    std::lock_guard<std::mutex> lock(mutex_);
    ComObject handle = next_++;
    objects_.emplace(handle, Object{kind, nameSpace});
    return handle;
}

bool SimCom::Find(ComObject handle, Kind kind, Object* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end() || it->second.kind != kind) {
        ++misuses;
        return false;
    }
    if (out != nullptr) *out = it->second;
    return true;
}

// Counts the call and answers a planned fault.
int32_t SimCom::Begin(const char* call) { return faults_.TakeHr(call); }

void SimCom::Release(ComObject object) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (objects_.erase(object) == 0) ++misuses;
    // The object's apartment is gone with COM: the release would reach freed memory.
    else if (system_.ComInitDepth() == 0)
        ++misuses;
}

int32_t SimCom::CreateFirewallManager(ComObject& manager) {
    manager = 0;
    if (int32_t hr = Begin("CoCreateInstance(NetFwMgr)")) return hr;
    if (system_.ComInitDepth() == 0) return kCoENotInitialized;
    if (!firewall.installed) return kRegdbEClassNotReg;
    manager = Hand(Kind::FirewallManager);
    return kSOk;
}

int32_t SimCom::GetLocalPolicy(ComObject manager, ComObject& policy) {
    policy = 0;
    if (int32_t hr = Begin("INetFwMgr::get_LocalPolicy")) return hr;
    if (!Find(manager, Kind::FirewallManager)) return kEPointer;
    policy = Hand(Kind::FirewallPolicy);
    return kSOk;
}

int32_t SimCom::GetCurrentProfile(ComObject policy, ComObject& profile) {
    profile = 0;
    if (int32_t hr = Begin("INetFwPolicy::get_CurrentProfile")) return hr;
    if (!Find(policy, Kind::FirewallPolicy)) return kEPointer;
    profile = Hand(Kind::FirewallProfile);
    return kSOk;
}

int32_t SimCom::GetFirewallEnabled(ComObject profile, bool& enabled) {
    if (int32_t hr = Begin("INetFwProfile::get_FirewallEnabled")) return hr;
    if (!Find(profile, Kind::FirewallProfile)) return kEPointer;
    std::lock_guard<std::mutex> lock(mutex_);
    enabled = firewall.enabled;
    return kSOk;
}

int32_t SimCom::PutFirewallEnabled(ComObject profile, bool enabled) {
    if (int32_t hr = Begin("INetFwProfile::put_FirewallEnabled")) return hr;
    if (!Find(profile, Kind::FirewallProfile)) return kEPointer;
    std::lock_guard<std::mutex> lock(mutex_);
    if (firewall.putNotImplemented) return kENotImpl;
    firewall.enabled = enabled;
    firewall.puts.push_back(enabled);
    return kSOk;
}

int32_t SimCom::CreateWbemLocator(ComObject& locator) {
    locator = 0;
    if (int32_t hr = Begin("CoCreateInstance(WbemLocator)")) return hr;
    if (system_.ComInitDepth() == 0) return kCoENotInitialized;
    locator = Hand(Kind::WbemLocator);
    return kSOk;
}

int32_t SimCom::ConnectServer(ComObject locator, const std::u16string& nameSpace, ComObject& services) {
    services = 0;
    if (int32_t hr = Begin("IWbemLocator::ConnectServer")) return hr;
    if (!Find(locator, Kind::WbemLocator)) return kEPointer;
    const std::string key = NamespaceKey(Utf16ToAnsi(nameSpace));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (namespaces_.count(key) == 0) return kWbemEInvalidNamespace;
    }
    services = Hand(Kind::WbemServices, key);
    return kSOk;
}

int32_t SimCom::DeleteInstance(ComObject services, const std::u16string& objectPath) {
    if (int32_t hr = Begin("IWbemServices::DeleteInstance")) return hr;
    Object object{Kind::WbemServices, std::string()};
    if (!Find(services, Kind::WbemServices, &object)) return kEPointer;
    const std::string path = Lower(Utf16ToAnsi(objectPath));
    // A path names a class and its key: "Class.key=value".
    const size_t dot = path.find('.');
    if (dot == 0 || dot == std::string::npos || path.find('=', dot) == std::string::npos) {
        return kWbemEInvalidObjectPath;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto ns = namespaces_.find(object.nameSpace);
    if (ns == namespaces_.end()) return kWbemENotFound;
    std::vector<std::string>& all = ns->second.instances;
    auto it = std::find_if(all.begin(), all.end(), [&](const std::string& p) { return Lower(p) == path; });
    if (it == all.end()) return kWbemENotFound;
    all.erase(it);
    return kSOk;
}

}  // namespace platform::sim
