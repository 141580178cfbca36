// The Winsock catalogue of the process's own bitness, on ws2_32.
#pragma once

#include <vector>

#include "platform/winsock.h"

namespace platform::win32 {

class Win32Winsock : public IWinsock {
  public:
    Win32Winsock() = default;

    int WSCEnumProtocols(uint32_t& bufferBytes, std::vector<ProtocolInfo>& out, int& error) override;
    int WSCDeinstallProvider(const Guid& providerId, int& error) override;
};

}  // namespace platform::win32
