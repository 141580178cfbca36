// The simulated Winsock catalogues: one per bitness, with base protocols, layered
// protocols and chains.
#pragma once

#include <vector>

#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"
#include "platform/winsock.h"

namespace platform::sim {

class SimWinsock : public IWinsock {
  public:
    SimWinsock(Faults& faults, SimSystem& system);

    int WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) override;
    int WSCDeinstallProvider(const Guid& providerId, int& error) override;

  private:
    Faults& faults_;
    SimSystem& system_;
};

}  // namespace platform::sim
