// Operating-system checks: version, platform, and the COM guard of the Security Center step.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace expand {

// dwMajorVersion of GetVersionExA, or -1 when the call fails.
int GetOsMajorVersion(platform::Platform& os);
// dwPlatformId of GetVersionExA, or -1 when the call fails (2 is VER_PLATFORM_WIN32_NT).
int GetOsPlatformId(platform::Platform& os);
// Before Windows XP Service Pack 2. A system that refuses the version query counts as old.
bool IsOlderThanXpSp2(platform::Platform& os);
// COM on the calling thread, except on systems older than XP SP2: 0, or 1003 when the
// system is too old or CoInitialize fails. Balance a 0 with UninitComUnlessOldOs.
[[nodiscard]] uint32_t InitComUnlessOldOs(platform::Platform& os);
void UninitComUnlessOldOs(platform::Platform& os);

}  // namespace expand
