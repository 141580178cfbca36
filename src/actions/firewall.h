// The Windows Firewall controller: switches the firewall off and on again so that it is
// left on after the run.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace actions {

class CWinFirewall {
  public:
    explicit CWinFirewall(platform::Platform& os) : os_(os) {}
    CWinFirewall(const CWinFirewall&) = delete;
    CWinFirewall& operator=(const CWinFirewall&) = delete;
    virtual ~CWinFirewall() = default;

    // Off, then on, on the current profile; skipped where the major version is 6. The
    // HRESULT of the first failing call, or of the last one.
    int32_t TurnICFOn();

    // The current profile of the local policy into `profile` (empty on failure).
    int32_t WindowsFirewallInitialize(platform::UniqueCom& profile);
    void WindowsFirewallCleanup(platform::UniqueCom& profile);
    int32_t WindowsFirewallIsOn(platform::ComObject profile, bool& on);
    int32_t WindowsFirewallTurnOn(platform::ComObject profile);
    int32_t WindowsFirewallTurnOff(platform::ComObject profile);


  private:
    platform::Platform& os_;
};

}  // namespace actions
