#include "platform/sim/sim_winsock.h"

#include <algorithm>

namespace platform::sim {

namespace {

// The providers of a fresh machine's base protocols, as Windows registers them.
constexpr Guid kTcpipProvider{0xE70F1AA0, 0xAB8B, 0x11CF, {0x8C, 0xA3, 0x00, 0x80, 0x5F, 0x48, 0xA1, 0x92}};
constexpr Guid kTcpip6Provider{0xF9EAB0C0, 0x26D4, 0x11D0, {0xBB, 0xBF, 0x00, 0xAA, 0x00, 0x6C, 0x34, 0xE4}};

}  // namespace

void SimProtocolCatalog::ResetToBase() {
    entries.clear();
    nextCatalogEntryId = 1001;
    const struct {
        const Guid& provider;
        int family;
        int type;
        int protocol;
        const char16_t* name;
    } base[] = {
        {kTcpipProvider, kAfInet, kSockStream, kIpprotoTcp, u"MSAFD Tcpip [TCP/IP]"},
        {kTcpipProvider, kAfInet, kSockDgram, kIpprotoUdp, u"MSAFD Tcpip [UDP/IP]"},
        {kTcpip6Provider, kAfInet6, kSockStream, kIpprotoTcp, u"MSAFD Tcpip [TCP/IPv6]"},
        {kTcpip6Provider, kAfInet6, kSockDgram, kIpprotoUdp, u"MSAFD Tcpip [UDP/IPv6]"},
        {kTcpipProvider, kAfInet, kSockRaw, 0, u"MSAFD Tcpip [RAW/IP]"},
        {kTcpip6Provider, kAfInet6, kSockRaw, 0, u"MSAFD Tcpip [RAW/IPv6]"},
    };
    for (const auto& b : base) {
        ProtocolInfo e;
        e.providerId = b.provider;
        e.catalogEntryId = nextCatalogEntryId++;
        e.chainLen = kBaseProtocol;
        e.chainEntries = {e.catalogEntryId};
        e.addressFamily = b.family;
        e.socketType = b.type;
        e.protocol = b.protocol;
        e.protocolName = b.name;
        entries.push_back(e);
    }
}

uint32_t SimProtocolCatalog::AddLayered(const Guid& provider, const std::u16string& name) {
    ProtocolInfo e;
    e.providerId = provider;
    e.catalogEntryId = nextCatalogEntryId++;
    e.chainLen = kLayeredProtocol;
    e.chainEntries = {e.catalogEntryId};
    e.protocolName = name;
    entries.push_back(e);
    return e.catalogEntryId;
}

uint32_t SimProtocolCatalog::AddChain(const Guid& provider, const std::vector<uint32_t>& through,
                                      const std::u16string& name) {
    ProtocolInfo e;
    e.providerId = provider;
    e.catalogEntryId = nextCatalogEntryId++;
    e.chainEntries.assign(through.begin(),
                          through.begin() + std::min<size_t>(through.size(), kMaxProtocolChain));
    e.chainLen = static_cast<int>(e.chainEntries.size());
    // A chain takes the family, type and protocol of the base entry it ends in.
    for (const ProtocolInfo& b : entries) {
        if (e.chainEntries.empty() || b.catalogEntryId != e.chainEntries.back()) continue;
        e.addressFamily = b.addressFamily;
        e.socketType = b.socketType;
        e.protocol = b.protocol;
    }
    e.protocolName = name;
    entries.push_back(e);
    return e.catalogEntryId;
}

uint32_t SimProtocolCatalog::BaseEntryId(int addressFamily, int socketType) const {
    for (const ProtocolInfo& e : entries)
        if (e.chainLen == kBaseProtocol && e.addressFamily == addressFamily && e.socketType == socketType)
            return e.catalogEntryId;
    return 0;
}

int SimProtocolCatalog::LayeredCount() const {
    return static_cast<int>(
        std::count_if(entries.begin(), entries.end(), [](const ProtocolInfo& e) { return e.chainLen != 1; }));
}

bool SimProtocolCatalog::HasProvider(const Guid& provider) const {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const ProtocolInfo& e) { return e.providerId == provider; });
}

// One catalogue as a program of its bitness reaches it.
class SimWinsock::View : public IWinsock {
  public:
    View(Faults& faults, SimProtocolCatalog& catalog, const char* suffix)
        : faults_(faults),
          catalog_(catalog),
          enumCall_(std::string("WSCEnumProtocols") + suffix),
          deinstallCall_(std::string("WSCDeinstallProvider") + suffix) {}

    int WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) override {
        out.clear();
        if (uint32_t code = faults_.Take(enumCall_)) return Fail(error, static_cast<int>(code));
        const uint64_t needed = uint64_t{kWsaProtocolInfoWBytes} * catalog_.entries.size();
        if (bufferBytes < needed) {
            bufferBytes = static_cast<uint32_t>(needed);
            return Fail(error, kWsaeNoBufs);
        }
        out = catalog_.entries;
        return static_cast<int>(out.size());
    }

    int WSCDeinstallProvider(const Guid& providerId, int& error) override {
        catalog_.deinstallCalls.push_back(providerId);
        if (uint32_t code = faults_.Take(deinstallCall_)) return Fail(error, static_cast<int>(code));
        if (!catalog_.HasProvider(providerId)) return Fail(error, kWsaeInval);
        const auto& locked = catalog_.undeletable;
        if (std::find(locked.begin(), locked.end(), providerId) != locked.end())
            return Fail(error, catalog_.undeletableError);
        auto& entries = catalog_.entries;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const ProtocolInfo& e) { return e.providerId == providerId; }),
                      entries.end());
        return 0;
    }

  private:
    static int Fail(int& error, int code) {
        error = code;
        return kSocketError;
    }

    Faults& faults_;
    SimProtocolCatalog& catalog_;
    const std::string enumCall_;
    const std::string deinstallCall_;
};

SimWinsock::SimWinsock(Faults& faults, SimSystem&)
    : view32_(std::make_unique<View>(faults, catalog32, "")),
      view64_(std::make_unique<View>(faults, catalog64, " (64-bit)")) {
    catalog32.ResetToBase();
    catalog64.ResetToBase();
}

SimWinsock::~SimWinsock() = default;

IWinsock& SimWinsock::Catalog64() { return *view64_; }

int SimWinsock::WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) {
    return view32_->WSCEnumProtocols(bufferBytes, out, error);
}

int SimWinsock::WSCDeinstallProvider(const Guid& providerId, int& error) {
    return view32_->WSCDeinstallProvider(providerId, error);
}

}  // namespace platform::sim
