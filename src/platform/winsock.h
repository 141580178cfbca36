// The Winsock service-provider catalogue (ws2_32), as the product uses it: listing the
// catalogue of the process's own bitness and removing a provider from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/guid.h"

namespace platform {

enum : int {
    kSocketError = -1,
    kWsaeFault = 10014,
    kWsaeInval = 10022,
    kWsaeNoBufs = 10055,
    kWsaNoRecovery = 11003,  // WSANO_RECOVERY: the catalogue may not be changed by this caller
};

// Bytes one WSAPROTOCOL_INFOW takes in a WSCEnumProtocols buffer.
enum : uint32_t { kWsaProtocolInfoWBytes = 628 };

// Protocol-chain lengths: 1 a base protocol, 0 a layered protocol, more than 1 a chain that
// runs through layered protocols down to a base one.
enum : int {
    kLayeredProtocol = 0,
    kBaseProtocol = 1,
    kMaxProtocolChain = 7,
};

// Address families, socket types and protocols of the entries a fresh machine has.
enum : int {
    kAfInet = 2,
    kAfInet6 = 23,
    kSockStream = 1,
    kSockDgram = 2,
    kSockRaw = 3,
    kIpprotoTcp = 6,
    kIpprotoUdp = 17,
};

// WSAPROTOCOL_INFOW, the fields the product and its tests read.
struct ProtocolInfo {
    Guid providerId;
    uint32_t catalogEntryId = 0;
    int chainLen = kBaseProtocol;
    std::vector<uint32_t> chainEntries;  // catalogue entry ids, at most kMaxProtocolChain
    int addressFamily = 0;
    int socketType = 0;
    int protocol = 0;
    std::u16string protocolName;
};

class IWinsock {
  public:
    IWinsock() = default;
    IWinsock(const IWinsock&) = delete;
    IWinsock& operator=(const IWinsock&) = delete;
    virtual ~IWinsock() = default;

    // WSCEnumProtocols(all protocols, a zero-filled buffer of `bufferBytes` bytes,
    // &bufferBytes, &error): the number of entries written to `out`, or kSocketError with
    // `error` set (kWsaeNoBufs and `bufferBytes` the size needed when the buffer is too
    // small, which a size of 0 always is).
    virtual int WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) = 0;
    // WSCDeinstallProvider: removes every catalogue entry of that provider. 0, or
    // kSocketError with `error` set (kWsaeInval for a provider the catalogue does not
    // hold; Wine's stub answers 0 for any provider and removes nothing).
    virtual int WSCDeinstallProvider(const Guid& providerId, int& error) = 0;
};

}  // namespace platform
