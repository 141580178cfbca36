#include "platform/sim/sim_winsock.h"

namespace platform::sim {

SimWinsock::SimWinsock(Faults& faults, SimSystem& system) : faults_(faults), system_(system) {}

int SimWinsock::WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) {
    (void)bufferBytes;
    out.clear();
    error = kWsaeInval;
    return kSocketError;
}

int SimWinsock::WSCDeinstallProvider(const Guid&, int& error) {
    error = kWsaeInval;
    return kSocketError;
}

}  // namespace platform::sim
