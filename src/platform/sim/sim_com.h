// The simulated COM objects: the Windows Firewall manager and WMI's Security Center.
#pragma once

#include "platform/com.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

class SimCom : public ICom {
  public:
    SimCom(Faults& faults, SimSystem& system);

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
    Faults& faults_;
    SimSystem& system_;
};

}  // namespace platform::sim
