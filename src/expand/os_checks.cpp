#include "expand/os_checks.h"

namespace expand {

int GetOsMajorVersion(platform::Platform& os) {
    platform::OsVersionInfo v;
    if (!os.sys.GetVersionEx(v)) return -1;
    return static_cast<int>(v.majorVersion);
}

int GetOsPlatformId(platform::Platform& os) {
    platform::OsVersionInfo v;
    if (!os.sys.GetVersionEx(v)) return -1;
    return static_cast<int>(v.platformId);
}

bool IsOlderThanXpSp2(platform::Platform& os) {
    // A failed query leaves the structure zeroed, which reads as version 0: old.
    platform::OsVersionInfo v;
    if (!os.sys.GetVersionEx(v)) v = platform::OsVersionInfo{};
    if (v.majorVersion < 5) return true;
    if (v.majorVersion == 5 && v.minorVersion == 0) return true;
    return v.majorVersion == 5 && v.minorVersion == 1 && v.servicePackMajor < 2;
}

uint32_t InitComUnlessOldOs(platform::Platform& os) {
    if (IsOlderThanXpSp2(os)) return platform::kErrorCanNotComplete;
    if (os.sys.CoInitialize() < 0) return platform::kErrorCanNotComplete;
    return 0;
}

void UninitComUnlessOldOs(platform::Platform& os) {
    if (!IsOlderThanXpSp2(os)) os.sys.CoUninitialize();
}

}  // namespace expand
