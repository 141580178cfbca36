#include "platform/win32/win32_winsock.h"

namespace platform::win32 {

int Win32Winsock::WSCEnumProtocols(uint32_t&, std::vector<ProtocolInfo>& out, int& error) {
    out.clear();
    error = kWsaeInval;
    return kSocketError;
}

int Win32Winsock::WSCDeinstallProvider(const Guid&, int& error) {
    error = kWsaeInval;
    return kSocketError;
}

}  // namespace platform::win32
