// The Winsock catalogue of the process's own bitness: the two-call size protocol of
// WSCEnumProtocols and the refusal of a provider that is not there. Neither backend's
// catalogue is changed: Wine's holds base protocols only and cannot take a layered one.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "contract/backend.h"

#ifndef _WIN32
#include "platform/sim/sim_machine.h"
#endif

namespace {

using namespace platform;

constexpr int kSentinel = static_cast<int>(0xdeadbeefu);

// A provider no catalogue holds.
constexpr Guid kNoProvider{0x5A17C0DE, 0x0BAD, 0x4F00, {0x9E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

class WinsockContract : public ::testing::Test {
  protected:
    IWinsock& wsc() { return contract::GetBackend().os().wsc; }

    // The size the catalogue needs, read the way the product reads it.
    uint32_t NeededBytes() {
        uint32_t bytes = 0;
        int error = kSentinel;
        std::vector<ProtocolInfo> out;
        EXPECT_EQ(kSocketError, wsc().WSCEnumProtocols(bytes, out, error));
        EXPECT_EQ(kWsaeNoBufs, error);
        return bytes;
    }
};

TEST_F(WinsockContract, TheSizeIsAskedForWithNoBufferThenAFittingBufferIsFilled) {
    uint32_t bytes = 0;
    int error = kSentinel;
    std::vector<ProtocolInfo> out(1);
    ASSERT_EQ(kSocketError, wsc().WSCEnumProtocols(bytes, out, error));
    EXPECT_EQ(kWsaeNoBufs, error);
    EXPECT_TRUE(out.empty());
    ASSERT_GT(bytes, 0u);
    EXPECT_EQ(0u, bytes % kWsaProtocolInfoWBytes) << bytes;
    const uint32_t needed = bytes;
    const int count = static_cast<int>(needed / kWsaProtocolInfoWBytes);

    // One byte short is still too small, and the size needed is reported again.
    bytes = needed - 1;
    error = kSentinel;
    EXPECT_EQ(kSocketError, wsc().WSCEnumProtocols(bytes, out, error));
    EXPECT_EQ(kWsaeNoBufs, error);
    EXPECT_EQ(needed, bytes);

    for (uint32_t size : {needed, needed + 2 * kWsaProtocolInfoWBytes + 5}) {
        bytes = size;
        error = kSentinel;
        ASSERT_EQ(count, wsc().WSCEnumProtocols(bytes, out, error)) << size << ": " << error;
        EXPECT_EQ(kSentinel, error) << size;
        ASSERT_EQ(static_cast<size_t>(count), out.size());
    }

    // A fresh catalogue holds base protocols only, TCP over IPv4 among them.
    std::set<uint32_t> ids;
    bool tcp = false;
    for (const ProtocolInfo& e : out) {
        EXPECT_EQ(kBaseProtocol, e.chainLen) << e.catalogEntryId;
        EXPECT_FALSE(e.protocolName.empty()) << e.catalogEntryId;
        EXPECT_NE(Guid{}, e.providerId) << e.catalogEntryId;
        ids.insert(e.catalogEntryId);
        tcp = tcp || (e.addressFamily == kAfInet && e.socketType == kSockStream && e.protocol == kIpprotoTcp);
    }
    EXPECT_EQ(out.size(), ids.size()) << "catalogue entry ids are unique";
    EXPECT_TRUE(tcp);
}

TEST_F(WinsockContract, AProviderTheCatalogueDoesNotHoldIsRefused) {
    const uint32_t before = NeededBytes();
    int error = kSentinel;
    const int rc = wsc().WSCDeinstallProvider(kNoProvider, error);
    if (contract::GetBackend().IsSim()) {
        EXPECT_EQ(kSocketError, rc);
        EXPECT_EQ(kWsaeInval, error);
    } else {
        // Windows refuses with WSAEINVAL; Wine's stub answers success and leaves the error
        // as it was, removing nothing.
        EXPECT_TRUE((rc == kSocketError && error == kWsaeInval) || (rc == 0 && error == kSentinel))
            << rc << " " << error;
    }
    EXPECT_EQ(before, NeededBytes());
}

#ifndef _WIN32
// What only the simulated machine can show: a 64-bit catalogue apart from the process's own,
// each with its own faults. (Removal from a layered catalogue: tests/actions.)
class SimWinsockCatalog : public ::testing::Test {
  protected:
    static constexpr Guid kLsp{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    static constexpr Guid kOther{0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};

    void SetUp() override {
        auto& c = m.winsock.catalog32;
        const uint32_t layered = c.AddLayered(kLsp, u"Filter layer");
        c.AddChain(kLsp, {layered, c.BaseEntryId(kAfInet, kSockStream)}, u"Filter over TCP/IP");
        c.AddChain(kLsp, {layered, c.BaseEntryId(kAfInet, kSockDgram)}, u"Filter over UDP/IP");
        c.AddLayered(kOther, u"Other layer");
    }

    std::vector<ProtocolInfo> Read(IWinsock& wsc) {
        uint32_t bytes = 64 * kWsaProtocolInfoWBytes;
        int error = 0;
        std::vector<ProtocolInfo> out;
        EXPECT_NE(kSocketError, wsc.WSCEnumProtocols(bytes, out, error)) << error;
        return out;
    }

    sim::SimMachine m;
    IWinsock& wsc = m.platform().wsc;
};

TEST_F(SimWinsockCatalog, TheTwoBitnessesHaveSeparateCataloguesAndFaults) {
    IWinsock& wide = m.winsock.Catalog64();
    EXPECT_EQ(6u, Read(wide).size());
    m.winsock.catalog64.AddLayered(kLsp, u"64-bit layer");
    m.faults.Fail("WSCDeinstallProvider", 10022, -1);
    int error = 0;
    ASSERT_EQ(0, wide.WSCDeinstallProvider(kLsp, error));
    EXPECT_EQ(6u, Read(wide).size());
    EXPECT_EQ(10u, Read(wsc).size());
    m.faults.Fail("WSCEnumProtocols (64-bit)", 10093);
    uint32_t bytes = 0;
    std::vector<ProtocolInfo> out;
    EXPECT_EQ(kSocketError, wide.WSCEnumProtocols(bytes, out, error));
    EXPECT_EQ(10093, error);
}
#endif

}  // namespace
