#include "actions/firewall.h"

#include "logging/engine_log.h"

namespace actions {

namespace {

using platform::Succeeded;

constexpr uint32_t kWarning = 3;
constexpr uint32_t kInformation = 4;

// "0x%08lx" of an HRESULT, the same on both data models.
unsigned long Hex(int32_t hr) { return static_cast<unsigned long>(static_cast<uint32_t>(hr)); }

}  // namespace

int32_t CWinFirewall::WindowsFirewallInitialize(platform::UniqueCom& profile) {
    static const char kTag[] = "CWinFirewall::WindowsFirewallInitialize";
    profile.reset();
    platform::ComObject raw = 0;
    int32_t hr = os_.com.CreateFirewallManager(raw);
    platform::UniqueCom manager(&os_.com, raw);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: CoCreateInstance failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    raw = 0;
    hr = os_.com.GetLocalPolicy(manager.get(), raw);
    platform::UniqueCom policy(&os_.com, raw);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: get_LocalPolicy failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    raw = 0;
    hr = os_.com.GetCurrentProfile(policy.get(), raw);
    profile.reset(&os_.com, raw);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: get_CurrentProfile failed: 0x%08lx", kTag, Hex(hr));
        profile.reset();
    }
    return hr;
}

void CWinFirewall::WindowsFirewallCleanup(platform::UniqueCom& profile) { profile.reset(); }

int32_t CWinFirewall::WindowsFirewallIsOn(platform::ComObject profile, bool& on) {
    static const char kTag[] = "CWinFirewall::WindowsFirewallIsOn";
    on = false;
    bool enabled = false;
    int32_t hr = os_.com.GetFirewallEnabled(profile, enabled);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: get_FirewallEnabled failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    on = enabled;
    engine::EngineLog(kInformation, on ? "%s: The firewall is on." : "%s: The firewall is off.", kTag);
    return hr;
}

int32_t CWinFirewall::WindowsFirewallTurnOn(platform::ComObject profile) {
    static const char kTag[] = "CWinFirewall::WindowsFirewallTurnOn";
    bool on = false;
    int32_t hr = WindowsFirewallIsOn(profile, on);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: WindowsFirewallIsOn failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    if (on) return hr;
    hr = os_.com.PutFirewallEnabled(profile, true);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: put_FirewallEnabled failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    engine::EngineLog(kInformation, "%s: The firewall is now on.", kTag);
    return hr;
}

int32_t CWinFirewall::WindowsFirewallTurnOff(platform::ComObject profile) {
    static const char kTag[] = "CWinFirewall::WindowsFirewallTurnOff";
    bool on = false;
    int32_t hr = WindowsFirewallIsOn(profile, on);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: WindowsFirewallIsOn failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    if (!on) return hr;
    hr = os_.com.PutFirewallEnabled(profile, false);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: put_FirewallEnabled failed: 0x%08lx", kTag, Hex(hr));
        return hr;
    }
    engine::EngineLog(kInformation, "%s: The firewall is now off.", kTag);
    return hr;
}

int32_t CWinFirewall::TurnICFOn() {
    static const char kTag[] = "CWinFirewall::TurnICFOn";
    // On major version 6 the firewall is left as it is. A failed query leaves the version
    // at 0, which takes the switch.
    platform::OsVersionInfo version;
    (void)os_.sys.GetVersionEx(version);
    if (version.majorVersion == 6) return platform::kSOk;

    const int32_t init =
        os_.sys.CoInitializeEx(platform::kCoinitApartmentThreaded | platform::kCoinitDisableOle1Dde);
    // RPC_E_CHANGED_MODE: COM is already up on this thread in the other model, which
    // serves as well; it is not ours to uninitialise.
    if (!Succeeded(init) && init != platform::kRpcEChangedMode) {
        engine::EngineLog(kWarning, "%s: CoInitializeEx failed: 0x%08lx", kTag, Hex(init));
        return init;
    }
    platform::UniqueCom profile;
    int32_t hr = WindowsFirewallInitialize(profile);
    if (!Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: WindowsFirewallInitialize failed: 0x%08lx", kTag, Hex(hr));
    } else if (hr = WindowsFirewallTurnOff(profile.get()); !Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: WindowsFirewallTurnOff failed: 0x%08lx", kTag, Hex(hr));
    } else if (hr = WindowsFirewallTurnOn(profile.get()); !Succeeded(hr)) {
        engine::EngineLog(kWarning, "%s: WindowsFirewallTurnOn failed: 0x%08lx", kTag, Hex(hr));
    }
    // The profile must go before COM does.
    WindowsFirewallCleanup(profile);
    if (Succeeded(init)) os_.sys.CoUninitialize();
    return hr;
}

}  // namespace actions
