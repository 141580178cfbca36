#include "detect/detector.h"

#include <vector>

namespace detect {

uint32_t CDetector::DetectRunningProducts() { return 0; }
uint32_t CDetector::CheckConflictingProducts() { return removalBlocked; }
uint32_t CDetector::CheckInstallationPath() { return removalBlocked; }

uint32_t IsAdministrator(platform::Platform& os) {
    platform::OsVersionInfo version;
    if (os.sys.GetVersionEx(version) && version.platformId != platform::kVerPlatformWin32Nt) return 1;
    platform::TokenHandle raw = 0;
    if (!os.sys.OpenProcessToken(platform::kTokenQuery, raw)) return 0;
    platform::UniqueToken token(&os.sys, raw);
    std::vector<platform::TokenGroup> groups;
    if (!os.sys.GetTokenGroups(token.get(), groups)) return 0;
    for (const auto& g : groups) {
        // A group kept only for deny checks (a filtered, not elevated token) does not count.
        if (g.sid == platform::kAdministratorsSid && (g.attributes & platform::kSeGroupEnabled)) return 1;
    }
    return 0;
}

}  // namespace detect
