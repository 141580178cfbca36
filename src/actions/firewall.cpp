#include "actions/firewall.h"

#include <atomic>

namespace actions {

namespace {
std::atomic<int> turnOnCount{0};
}

void CWinFirewall::TurnICFOn() { ++turnOnCount; }
int CWinFirewall::TurnOnCount() { return turnOnCount.load(); }
void CWinFirewall::ResetTurnOnCount() { turnOnCount = 0; }

}  // namespace actions
