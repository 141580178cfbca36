#include "actions/protocol_catalog.h"

#include <algorithm>

namespace actions {

using platform::kSocketError;
using platform::ProtocolInfo;

bool ProtocolCatalog::Enumerate() {
    Clear();
    lastError_ = 0;
    uint32_t bytes = 0;
    int error = 0;
    std::vector<ProtocolInfo> entries;
    // A size of 0 is always too small; a call that succeeds anyway (an empty catalogue)
    // carries on all the same.
    if (wsc_.WSCEnumProtocols(bytes, entries, error) == kSocketError && error != platform::kWsaeNoBufs) {
        lastError_ = error;
        return false;
    }
    if (bytes > kMaxEntries * platform::kWsaProtocolInfoWBytes) {
        lastError_ = platform::kWsaeNoBufs;
        return false;
    }
    error = 0;
    entries.clear();
    const int count = wsc_.WSCEnumProtocols(bytes, entries, error);
    if (count == kSocketError) {
        lastError_ = error;
        return false;
    }
    // Only what the call said it wrote counts.
    entries.resize(std::min(entries.size(), static_cast<size_t>(std::max(count, 0))));
    entries_ = std::move(entries);
    return true;
}

LayeredRemoval RemoveLayeredProviders(platform::IWinsock& wsc, int maxPasses) {
    LayeredRemoval result;
    ProtocolCatalog catalog(wsc);
    for (int pass = 0; pass < maxPasses; ++pass) {
        ++result.passes;
        if (!catalog.Enumerate()) {
            result.enumerationFailed = true;
            result.lastError = catalog.LastError();
            break;
        }
        uint32_t base = 0;
        // One deinstallation removes all of a provider's entries, so its later entries in
        // the same pass fail without meaning anything.
        std::vector<platform::Guid> removed;
        for (uint32_t i = 0; i < catalog.GetCount(); ++i) {
            const ProtocolInfo& entry = *catalog.GetEntry(i);
            if (entry.chainLen == platform::kBaseProtocol) {
                ++base;
                continue;
            }
            int error = 0;
            ++result.deinstallCalls;
            if (wsc.WSCDeinstallProvider(entry.providerId, error) != kSocketError)
                removed.push_back(entry.providerId);
            else if (std::find(removed.begin(), removed.end(), entry.providerId) == removed.end())
                result.lastError = error;
        }
        const bool onlyBase = base == catalog.GetCount();
        catalog.Clear();
        result.layeredLeft = !onlyBase;
        if (onlyBase) {
            result.lastError = 0;
            break;
        }
    }
    return result;
}

uint32_t RemoveLayeredProvidersToBase(platform::IWinsock& wsc) {
    constexpr int kPasses = 5;
    constexpr uint32_t kErrorCanNotComplete = 1003;
    auto code = [](int error) { return error != 0 ? static_cast<uint32_t>(error) : kErrorCanNotComplete; };
    const LayeredRemoval removal = RemoveLayeredProviders(wsc, kPasses);
    if (removal.enumerationFailed) return code(removal.lastError);
    if (!removal.layeredLeft) return 0;
    ProtocolCatalog catalog(wsc);
    if (!catalog.Enumerate()) return code(catalog.LastError());
    for (uint32_t i = 0; i < catalog.GetCount(); ++i)
        if (catalog.GetEntry(i)->chainLen != platform::kBaseProtocol) return code(removal.lastError);
    return 0;
}

}  // namespace actions
