// The installed-product detector: finds the product's name and root folder and refuses
// removal where it would be unsafe. The conflict and path checks arrive with the detector
// subsystem; until then they find nothing to refuse.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace detect {

class CDetector {
public:
    explicit CDetector(platform::Platform& os) : os_(os) {}
    CDetector(const CDetector&) = delete;
    CDetector& operator=(const CDetector&) = delete;
    virtual ~CDetector() = default;

    uint32_t DetectRunningProducts();
    uint32_t CheckConflictingProducts();
    uint32_t CheckInstallationPath();

    uint32_t removalBlocked = 0;
    std::string productName;
    std::string rootInstallPath;

protected:
    [[maybe_unused]] platform::Platform& os_;
};

// 1 when the process runs with the built-in Administrators group enabled in its token
// (an elevated administrator), else 0. Platforms without NT security count as administrator.
uint32_t IsAdministrator(platform::Platform& os);

}  // namespace detect
