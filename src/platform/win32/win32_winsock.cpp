#include "platform/win32/win32_winsock.h"

// winsock2.h before windows.h: a windows.h of its own would bring in the old winsock.h.
#include <winsock2.h>
#include <ws2spi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

static_assert(sizeof(WSAPROTOCOL_INFOW) == kWsaProtocolInfoWBytes, "the catalogue's entry layout");

Guid FromGuid(const GUID& g) {
    Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    std::memcpy(out.data4, g.Data4, sizeof out.data4);
    return out;
}

GUID ToGuid(const Guid& g) {
    GUID out{};
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    std::memcpy(out.Data4, g.data4, sizeof out.Data4);
    return out;
}

ProtocolInfo Convert(const WSAPROTOCOL_INFOW& e) {
    ProtocolInfo out;
    out.providerId = FromGuid(e.ProviderId);
    out.catalogEntryId = e.dwCatalogEntryId;
    out.chainLen = e.ProtocolChain.ChainLen;
    const int listed = std::clamp(e.ProtocolChain.ChainLen, 0, static_cast<int>(MAX_PROTOCOL_CHAIN));
    out.chainEntries.assign(e.ProtocolChain.ChainEntries, e.ProtocolChain.ChainEntries + listed);
    out.addressFamily = e.iAddressFamily;
    out.socketType = e.iSocketType;
    out.protocol = e.iProtocol;
    // The name need not be terminated within its array.
    const wchar_t* name = e.szProtocol;
    size_t length = 0;
    while (length < WSAPROTOCOL_LEN + 1 && name[length] != L'\0') ++length;
    out.protocolName.assign(name, name + length);
    return out;
}

}  // namespace

int Win32Winsock::WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) {
    out.clear();
    // The byte buffer the caller asked for, zero-filled; operator new aligns it for the
    // structures the call writes into it.
    const uint32_t allocated = bufferBytes;
    std::unique_ptr<unsigned char[]> buffer;
    if (allocated != 0) {
        buffer.reset(new (std::nothrow) unsigned char[allocated]());
        if (!buffer) {
            error = WSA_NOT_ENOUGH_MEMORY;
            return kSocketError;
        }
    }
    DWORD length = allocated;
    INT err = 0;
    const int count =
        ::WSCEnumProtocols(nullptr, reinterpret_cast<WSAPROTOCOL_INFOW*>(buffer.get()), &length, &err);
    bufferBytes = length;
    if (count == SOCKET_ERROR) {
        error = err;
        return kSocketError;
    }
    // Never read past what was allocated, whatever the count says.
    const size_t room = allocated / sizeof(WSAPROTOCOL_INFOW);
    const size_t held = std::min(static_cast<size_t>(std::max(count, 0)), room);
    out.reserve(held);
    for (size_t i = 0; i < held; ++i) {
        WSAPROTOCOL_INFOW entry;
        std::memcpy(&entry, buffer.get() + i * sizeof entry, sizeof entry);
        out.push_back(Convert(entry));
    }
    return static_cast<int>(held);
}

int Win32Winsock::WSCDeinstallProvider(const Guid& providerId, int& error) {
    GUID id = ToGuid(providerId);
    INT err = 0;
    if (::WSCDeinstallProvider(&id, &err) == SOCKET_ERROR) {
        error = err;
        return kSocketError;
    }
    return 0;
}

}  // namespace platform::win32
