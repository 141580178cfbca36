// The simulated COM objects: the Windows Firewall manager with its current profile, and
// WMI with its namespaces and instances. Objects are handed out as numbered handles, so a
// test can prove that every one was released, and calls need COM initialised on the
// calling thread, as CoCreateInstance does.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

// The current profile of the firewall as INetFwMgr shows it.
struct SimFirewall {
    // False: CoCreateInstance(CLSID_NetFwMgr) answers REGDB_E_CLASSNOTREG.
    bool installed = true;
    bool enabled = true;
    // put_FirewallEnabled answers E_NOTIMPL and changes nothing, as Wine's does.
    bool putNotImplemented = false;
    // Every accepted put_FirewallEnabled, its value, in order.
    std::vector<bool> puts;
};

// Faults, by call: "CoCreateInstance(NetFwMgr)", "INetFwMgr::get_LocalPolicy",
// "INetFwPolicy::get_CurrentProfile", "INetFwProfile::get_FirewallEnabled",
// "INetFwProfile::put_FirewallEnabled", "CoCreateInstance(WbemLocator)",
// "IWbemLocator::ConnectServer", "IWbemServices::DeleteInstance". The planned code is
// the HRESULT answered.
class SimCom : public ICom {
  public:
    SimCom(Faults& faults, SimSystem& system);

    // --- state a test sets and reads ---
    SimFirewall firewall;
    // Namespaces by name without the machine prefix ("root\\SecurityCenter"), case ignored.
    // A new machine has "root\\cimv2" and an empty "root\\SecurityCenter".
    void AddNamespace(const std::string& name);
    void RemoveNamespace(const std::string& name);
    // Adds the namespace when it is missing. `objectPath` as DeleteInstance takes it:
    // "AntiVirusProduct.instanceGuid=\"{...}\"".
    void AddInstance(const std::string& nameSpace, const std::string& objectPath);
    bool HasInstance(const std::string& nameSpace, const std::string& objectPath) const;
    std::vector<std::string> Instances(const std::string& nameSpace) const;
    // The namespaces' names, as first added, in lower-case order.
    std::vector<std::string> Namespaces() const;
    // Objects handed out and not yet released.
    int OpenObjects() const;
    // Releases of objects that were not open or on a thread that COM has left, and calls
    // on them or on an object of the wrong kind (each would be a crash on Windows).
    int misuses = 0;

    void Release(ComObject object) override;
    int32_t CreateFirewallManager(ComObject& manager) override;
    int32_t GetLocalPolicy(ComObject manager, ComObject& policy) override;
    int32_t GetCurrentProfile(ComObject policy, ComObject& profile) override;
    int32_t GetFirewallEnabled(ComObject profile, bool& enabled) override;
    int32_t PutFirewallEnabled(ComObject profile, bool enabled) override;
    int32_t CreateWbemLocator(ComObject& locator) override;
    int32_t ConnectServer(ComObject locator, const std::u16string& nameSpace, ComObject& services) override;
    int32_t DeleteInstance(ComObject services, const std::u16string& objectPath) override;

  private:
    enum class Kind { FirewallManager, FirewallPolicy, FirewallProfile, WbemLocator, WbemServices };
    struct Object {
        Kind kind;
        std::string nameSpace;  // the key of namespaces_, for WbemServices
    };
    struct Namespace {
        std::string name;
        std::vector<std::string> instances;
    };

    ComObject Hand(Kind kind, const std::string& nameSpace = std::string());
    // Whether `handle` is open and of `kind` (a copy of it in `out`); counts a misuse otherwise.
    bool Find(ComObject handle, Kind kind, Object* out = nullptr);
    int32_t Begin(const char* call);

    Faults& faults_;
    SimSystem& system_;
    mutable std::mutex mutex_;
    std::map<ComObject, Object> objects_;
    ComObject next_ = 0x1000;
    std::map<std::string, Namespace> namespaces_;  // by lower-case name
};

}  // namespace platform::sim
