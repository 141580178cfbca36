// The COM objects the product drives: the Windows Firewall manager (INetFwMgr, its local
// policy and current profile) and WMI (IWbemLocator, IWbemServices). Each call is shaped
// after the interface method of the same name and answers its HRESULT. COM is initialised
// through ISystem.
#pragma once

#include <cstdint>
#include <string>

#include "platform/common.h"

namespace platform {

// An interface pointer handed out by this seam; 0 is "none". Each one is given back with
// Release exactly once.
using ComObject = uintptr_t;

// HRESULTs the product and its tests tell apart.
enum : int32_t {
    kSOk = 0,
    kSFalse = 1,
    kENotImpl = static_cast<int32_t>(0x80004001),
    kENoInterface = static_cast<int32_t>(0x80004002),
    kEPointer = static_cast<int32_t>(0x80004003),
    kEFail = static_cast<int32_t>(0x80004005),
    kEAccessDenied = static_cast<int32_t>(0x80070005),
    kEOutOfMemory = static_cast<int32_t>(0x8007000E),
    kEInvalidArg = static_cast<int32_t>(0x80070057),
    kRegdbEClassNotReg = static_cast<int32_t>(0x80040154),
    kRpcEChangedMode = static_cast<int32_t>(0x80010106),
    kCoENotInitialized = static_cast<int32_t>(0x800401F0),
    kWbemEFailed = static_cast<int32_t>(0x80041001),
    kWbemENotFound = static_cast<int32_t>(0x80041002),
    kWbemEInvalidNamespace = static_cast<int32_t>(0x8004100E),
    kWbemEInvalidObjectPath = static_cast<int32_t>(0x8004103A),
};

inline bool Succeeded(int32_t hr) { return hr >= 0; }

// CoInitializeEx flags.
enum : uint32_t {
    kCoinitMultithreaded = 0x0,
    kCoinitApartmentThreaded = 0x2,
    kCoinitDisableOle1Dde = 0x4,
};

class ICom {
  public:
    ICom() = default;
    ICom(const ICom&) = delete;
    ICom& operator=(const ICom&) = delete;
    virtual ~ICom() = default;

    // IUnknown::Release of an object this seam handed out.
    virtual void Release(ComObject object) = 0;

    // CoCreateInstance(CLSID_NetFwMgr, NULL, CLSCTX_INPROC_SERVER, IID_INetFwMgr).
    virtual int32_t CreateFirewallManager(ComObject& manager) = 0;
    // INetFwMgr::get_LocalPolicy.
    virtual int32_t GetLocalPolicy(ComObject manager, ComObject& policy) = 0;
    // INetFwPolicy::get_CurrentProfile.
    virtual int32_t GetCurrentProfile(ComObject policy, ComObject& profile) = 0;
    // INetFwProfile::get_FirewallEnabled / put_FirewallEnabled.
    virtual int32_t GetFirewallEnabled(ComObject profile, bool& enabled) = 0;
    virtual int32_t PutFirewallEnabled(ComObject profile, bool enabled) = 0;

    // CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
    // IID_IWbemLocator).
    virtual int32_t CreateWbemLocator(ComObject& locator) = 0;
    // IWbemLocator::ConnectServer(namespace, no user, password, locale, flags, authority
    // or context).
    virtual int32_t ConnectServer(ComObject locator, const std::u16string& nameSpace,
                                  ComObject& services) = 0;
    // IWbemServices::DeleteInstance(objectPath, no flags, no context, no call result).
    virtual int32_t DeleteInstance(ComObject services, const std::u16string& objectPath) = 0;
};

using UniqueCom = UniqueIn<ICom, ComObject, &ICom::Release>;

}  // namespace platform
