// The simulated Winsock catalogues: one per bitness, with base protocols, layered
// protocols and chains.
//
// The 32-bit product sees only the 32-bit catalogue (SimWinsock itself, Platform::wsc);
// the 64-bit catalogue, which only a 64-bit program can change, is reached through
// `Catalog64()`. Both start as a fresh machine's: TCP and UDP over IPv4 and IPv6, and raw
// IPv4 and IPv6. Faults are Winsock errors and come back in the call's error out-parameter:
// the 32-bit catalogue's calls are named "WSCEnumProtocols" and "WSCDeinstallProvider", the
// 64-bit catalogue's "WSCEnumProtocols (64-bit)" and "WSCDeinstallProvider (64-bit)".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"
#include "platform/winsock.h"

namespace platform::sim {

// One catalogue: its entries in catalogue order, and what a test arranged about it.
struct SimProtocolCatalog {
    std::vector<ProtocolInfo> entries;
    // Providers whose deinstallation fails with `undeletableError` (a provider whose
    // registry entries the caller may not change).
    std::vector<Guid> undeletable;
    int undeletableError = kWsaNoRecovery;
    // WSCDeinstallProvider calls made, successful or not, in order.
    std::vector<Guid> deinstallCalls;
    uint32_t nextCatalogEntryId = 1001;

    // The entries of a fresh machine (the catalogue's previous content is dropped).
    void ResetToBase();
    // A layered protocol of `provider` (chain length 0); its catalogue entry id.
    uint32_t AddLayered(const Guid& provider, const std::u16string& name);
    // A chain of `provider` that runs through the entries `through` (layered ids, ending
    // in a base id); its catalogue entry id. The chain is cut to kMaxProtocolChain entries.
    uint32_t AddChain(const Guid& provider, const std::vector<uint32_t>& through, const std::u16string& name);
    // The catalogue entry id of the first base entry of that family and type (0: none).
    uint32_t BaseEntryId(int addressFamily, int socketType) const;
    // Entries whose chain length is not 1.
    int LayeredCount() const;
    bool HasProvider(const Guid& provider) const;
};

class SimWinsock : public IWinsock {
  public:
    SimWinsock(Faults& faults, SimSystem& system);
    ~SimWinsock() override;

    // --- state a test sets and reads ---
    SimProtocolCatalog catalog32;
    SimProtocolCatalog catalog64;
    // The 64-bit catalogue as a 64-bit program sees it.
    IWinsock& Catalog64();

    int WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) override;
    int WSCDeinstallProvider(const Guid& providerId, int& error) override;

  private:
    class View;
    std::unique_ptr<View> view32_;
    std::unique_ptr<View> view64_;
};

}  // namespace platform::sim
