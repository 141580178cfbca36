// The product's registrations with the Windows Security Center: its anti-virus and its
// firewall entry in the WMI namespace root\SecurityCenter. The step itself,
// RemoveSecurityCenterEntries, is declared with the engine.
#pragma once

#include <cstdint>

#include "platform/guid.h"
#include "platform/platform.h"

namespace actions {

// The instance GUIDs under which the maker's products register with the Security Center.
constexpr platform::Guid kAntiVirusInstanceGuid = {
    0xC6DD34AB, 0x7CF4, 0x47FE, {0xA3, 0xAA, 0x8D, 0x76, 0xDE, 0x52, 0x02, 0xDD}};
constexpr platform::Guid kFirewallInstanceGuid = {
    0xEA4F9727, 0xEA44, 0x4EDA, {0xA1, 0xB1, 0xA5, 0xE8, 0xF3, 0x85, 0x63, 0x17}};

// Object paths are formatted into buffers of this many wide characters, terminator included.
constexpr size_t kObjectPathChars = 228;

// WMI services on "\\.\root\SecurityCenter" into `services` (empty on failure).
int32_t ConnectSecurityCenter(platform::Platform& os, platform::UniqueCom& services);
// Deletes the product's instance of AntiVirusProduct / FirewallProduct. COM must be
// initialised on the calling thread.
int32_t DeleteAntiVirusProductInstance(platform::Platform& os);
int32_t DeleteFirewallProductInstance(platform::Platform& os);

}  // namespace actions
