#include "actions/security_center.h"

#include <algorithm>
#include <string>

#include "engine/cnuke.h"

namespace actions {

namespace {

using platform::Succeeded;

// STRSAFE_E_INSUFFICIENT_BUFFER: what a bounded wide printf answers for text that does not fit.
constexpr int32_t kStrsafeEInsufficientBuffer = static_cast<int32_t>(0x8007007A);
// StringFromGUID2's buffer, terminator included.
constexpr size_t kGuidTextChars = 128;

// `prefix` + braced GUID + `"` into `out`, as a bounded wide printf would: false, with
// `out` empty, when the text and its terminator do not fit.
template <size_t N>
bool FormatObjectPath(const char* prefix, const platform::Guid& guid, char16_t (&out)[N]) {
    out[0] = u'\0';
    const std::u16string braced = platform::GuidText(guid);
    if (braced.size() + 1 > kGuidTextChars) return false;
    std::u16string text(prefix, prefix + std::char_traits<char>::length(prefix));
    text += braced;
    text.push_back(u'"');
    if (text.size() + 1 > N) return false;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = u'\0';
    return true;
}

int32_t DeleteInstance(platform::Platform& os, const char* prefix, const platform::Guid& guid) {
    platform::UniqueCom services;
    int32_t hr = ConnectSecurityCenter(os, services);
    if (!Succeeded(hr)) return hr;
    char16_t path[kObjectPathChars];
    if (!FormatObjectPath(prefix, guid, path)) return kStrsafeEInsufficientBuffer;
    return os.com.DeleteInstance(services.get(), path);
}

}  // namespace

int32_t ConnectSecurityCenter(platform::Platform& os, platform::UniqueCom& services) {
    services.reset();
    platform::ComObject raw = 0;
    int32_t hr = os.com.CreateWbemLocator(raw);
    platform::UniqueCom locator(&os.com, raw);
    if (!Succeeded(hr)) return hr;
    raw = 0;
    hr = os.com.ConnectServer(locator.get(), u"\\\\.\\root\\SecurityCenter", raw);
    services.reset(&os.com, raw);
    if (!Succeeded(hr)) services.reset();
    return hr;
}

int32_t DeleteAntiVirusProductInstance(platform::Platform& os) {
    return DeleteInstance(os, "AntiVirusProduct.instanceGuid=\"", kAntiVirusInstanceGuid);
}

int32_t DeleteFirewallProductInstance(platform::Platform& os) {
    return DeleteInstance(os, "FirewallProduct.instanceGuid=\"", kFirewallInstanceGuid);
}

}  // namespace actions

namespace engine {

void RemoveSecurityCenterEntries(platform::Platform& os) {
    // The Security Center arrived with Windows XP Service Pack 2.
    platform::OsVersionInfo v;
    if (!os.sys.GetVersionEx(v) || v.platformId != platform::kVerPlatformWin32Nt) return;
    if (v.majorVersion < 5) return;
    if (v.majorVersion == 5 && v.minorVersion == 0) return;
    if (v.majorVersion == 5 && v.minorVersion == 1 && v.servicePackMajor < 2) return;

    if (!platform::Succeeded(os.sys.CoInitialize())) return;
    (void)actions::DeleteAntiVirusProductInstance(os);
    (void)actions::DeleteFirewallProductInstance(os);
    os.sys.CoUninitialize();
}

}  // namespace engine
