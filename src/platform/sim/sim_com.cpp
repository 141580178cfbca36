#include "platform/sim/sim_com.h"

namespace platform::sim {

SimCom::SimCom(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {}

void SimCom::Release(ComObject) {}
int32_t SimCom::CreateFirewallManager(ComObject& manager) {
    manager = 0;
    return kRegdbEClassNotReg;
}
int32_t SimCom::GetLocalPolicy(ComObject, ComObject& policy) {
    policy = 0;
    return kENotImpl;
}
int32_t SimCom::GetCurrentProfile(ComObject, ComObject& profile) {
    profile = 0;
    return kENotImpl;
}
int32_t SimCom::GetFirewallEnabled(ComObject, bool& enabled) {
    enabled = false;
    return kENotImpl;
}
int32_t SimCom::PutFirewallEnabled(ComObject, bool) { return kENotImpl; }
int32_t SimCom::CreateWbemLocator(ComObject& locator) {
    locator = 0;
    return kRegdbEClassNotReg;
}
int32_t SimCom::ConnectServer(ComObject, const std::u16string&, ComObject& services) {
    services = 0;
    return kWbemEInvalidNamespace;
}
int32_t SimCom::DeleteInstance(ComObject, const std::u16string&) { return kWbemENotFound; }

}  // namespace platform::sim
