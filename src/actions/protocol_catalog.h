// A snapshot of the Winsock catalogue of the caller's bitness, and the removal of every
// layered provider and protocol chain from it. Nothing here logs and nothing here uses
// the engine: the 64-bit provider remover links this file on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/winsock.h"

namespace actions {

class ProtocolCatalog {
  public:
    // More than any real catalogue holds; a larger size reported by Winsock is refused
    // rather than allocated.
    static constexpr uint32_t kMaxEntries = 4096;

    explicit ProtocolCatalog(platform::IWinsock& wsc) : wsc_(wsc) {}
    virtual ~ProtocolCatalog() = default;
    ProtocolCatalog(const ProtocolCatalog&) = delete;
    ProtocolCatalog& operator=(const ProtocolCatalog&) = delete;

    // Replaces the snapshot with the catalogue as it is now. False, with the snapshot
    // empty and LastError() set, when the catalogue could not be read.
    bool Enumerate();
    uint32_t GetCount() const { return static_cast<uint32_t>(entries_.size()); }
    // Null past the end.
    const platform::ProtocolInfo* GetEntry(uint32_t index) const {
        return index < entries_.size() ? &entries_[index] : nullptr;
    }
    void Clear() { std::vector<platform::ProtocolInfo>().swap(entries_); }
    // The Winsock error of the last failed Enumerate.
    int LastError() const { return lastError_; }

  private:
    platform::IWinsock& wsc_;
    std::vector<platform::ProtocolInfo> entries_;
    int lastError_ = 0;
};

// What RemoveLayeredProviders did.
struct LayeredRemoval {
    int passes = 0;          // snapshots taken, a failed one included
    int deinstallCalls = 0;  // WSCDeinstallProvider calls, failed ones included
    bool enumerationFailed = false;
    // The last pass still found layered entries: the passes ran out, and what is left is
    // unknown until the catalogue is read again.
    bool layeredLeft = false;
    // The Winsock error that stands in the way: of the failed enumeration, or of the last
    // deinstallation that failed for a provider not already removed in that pass; 0 if none.
    int lastError = 0;
};

// Up to `maxPasses` passes over fresh snapshots: every entry whose chain length is not 1
// is deinstalled by its provider, in catalogue order; base entries are counted and left.
// Stops after a pass that held only base entries, or when the catalogue cannot be read
// (which counts as a pass without entries).
LayeredRemoval RemoveLayeredProviders(platform::IWinsock& wsc, int maxPasses);

// The 64-bit remover's work on its catalogue: five passes as above, then, when the last
// pass still deinstalled something, one more look. Its exit code: 0 when only base
// protocols are left, else the Winsock error that stopped it (1003 when there was none).
uint32_t RemoveLayeredProvidersToBase(platform::IWinsock& wsc);

}  // namespace actions
