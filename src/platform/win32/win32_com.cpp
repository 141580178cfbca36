#include "platform/win32/win32_com.h"

#include "platform/win32/windows_api.h"
// After windows.h.
#include <netfw.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <memory>

namespace platform::win32 {

namespace {

// mingw's uuid library lacks these; the headers carry them for __uuidof.
const CLSID kClsidNetFwMgr = __uuidof(NetFwMgr);
const IID kIidINetFwMgr = __uuidof(INetFwMgr);
const CLSID kClsidWbemLocator = __uuidof(WbemLocator);
const IID kIidIWbemLocator = __uuidof(IWbemLocator);

template <typename Interface>
Interface* As(ComObject object) {
    return reinterpret_cast<Interface*>(object);
}

template <typename Interface>
ComObject Handle(Interface* pointer) {
    return reinterpret_cast<ComObject>(pointer);
}

struct BstrFree {
    void operator()(OLECHAR* text) const { ::SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

UniqueBstr Bstr(const std::u16string& text) {
    return UniqueBstr(
        ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
}

}  // namespace

void Win32Com::Release(ComObject object) {
    if (object != 0) As<IUnknown>(object)->Release();
}

int32_t Win32Com::CreateFirewallManager(ComObject& manager) {
    INetFwMgr* out = nullptr;
    HRESULT hr = ::CoCreateInstance(kClsidNetFwMgr, nullptr, CLSCTX_INPROC_SERVER, kIidINetFwMgr,
                                    reinterpret_cast<void**>(&out));
    manager = Handle(out);
    return hr;
}

// A 0 object would be dereferenced by the call: answer E_POINTER instead.
int32_t Win32Com::GetLocalPolicy(ComObject manager, ComObject& policy) {
    policy = 0;
    if (manager == 0) return E_POINTER;
    INetFwPolicy* out = nullptr;
    HRESULT hr = As<INetFwMgr>(manager)->get_LocalPolicy(&out);
    policy = Handle(out);
    return hr;
}

int32_t Win32Com::GetCurrentProfile(ComObject policy, ComObject& profile) {
    profile = 0;
    if (policy == 0) return E_POINTER;
    INetFwProfile* out = nullptr;
    HRESULT hr = As<INetFwPolicy>(policy)->get_CurrentProfile(&out);
    profile = Handle(out);
    return hr;
}

int32_t Win32Com::GetFirewallEnabled(ComObject profile, bool& enabled) {
    if (profile == 0) return E_POINTER;
    VARIANT_BOOL value = VARIANT_FALSE;
    HRESULT hr = As<INetFwProfile>(profile)->get_FirewallEnabled(&value);
    if (SUCCEEDED(hr)) enabled = value != VARIANT_FALSE;
    return hr;
}

int32_t Win32Com::PutFirewallEnabled(ComObject profile, bool enabled) {
    if (profile == 0) return E_POINTER;
    return As<INetFwProfile>(profile)->put_FirewallEnabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}

int32_t Win32Com::CreateWbemLocator(ComObject& locator) {
    IWbemLocator* out = nullptr;
    HRESULT hr = ::CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    kIidIWbemLocator, reinterpret_cast<void**>(&out));
    locator = Handle(out);
    return hr;
}

int32_t Win32Com::ConnectServer(ComObject locator, const std::u16string& nameSpace, ComObject& services) {
    services = 0;
    if (locator == 0) return E_POINTER;
    UniqueBstr name = Bstr(nameSpace);
    if (!name) return E_OUTOFMEMORY;
    IWbemServices* out = nullptr;
    HRESULT hr = As<IWbemLocator>(locator)->ConnectServer(name.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                                          nullptr, &out);
    services = Handle(out);
    return hr;
}

int32_t Win32Com::DeleteInstance(ComObject services, const std::u16string& objectPath) {
    if (services == 0) return E_POINTER;
    UniqueBstr path = Bstr(objectPath);
    if (!path) return E_OUTOFMEMORY;
    return As<IWbemServices>(services)->DeleteInstance(path.get(), 0, nullptr, nullptr);
}

}  // namespace platform::win32
