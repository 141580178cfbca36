// The Windows Firewall manager and WMI, on COM.
#pragma once

#include "platform/com.h"

namespace platform::win32 {

class Win32Com : public ICom {
  public:
    Win32Com() = default;

    void Release(ComObject object) override;
    int32_t CreateFirewallManager(ComObject& manager) override;
    int32_t GetLocalPolicy(ComObject manager, ComObject& policy) override;
    int32_t GetCurrentProfile(ComObject policy, ComObject& profile) override;
    int32_t GetFirewallEnabled(ComObject profile, bool& enabled) override;
    int32_t PutFirewallEnabled(ComObject profile, bool enabled) override;
    int32_t CreateWbemLocator(ComObject& locator) override;
    int32_t ConnectServer(ComObject locator, const std::u16string& nameSpace, ComObject& services) override;
    int32_t DeleteInstance(ComObject services, const std::u16string& objectPath) override;
};

}  // namespace platform::win32
