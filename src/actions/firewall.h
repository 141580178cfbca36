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

    void TurnICFOn();

    // How often TurnICFOn ran in this process, on any controller. The firewall itself
    // arrives with its subsystem; the count lets the run sequence's order be checked.
    static int TurnOnCount();
    static void ResetTurnOnCount();

private:
    [[maybe_unused]] platform::Platform& os_;
};

}  // namespace actions
