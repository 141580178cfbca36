#include "platform/win32/win32_com.h"

namespace platform::win32 {

void Win32Com::Release(ComObject) {}
int32_t Win32Com::CreateFirewallManager(ComObject& manager) {
    manager = 0;
    return kRegdbEClassNotReg;
}
int32_t Win32Com::GetLocalPolicy(ComObject, ComObject& policy) {
    policy = 0;
    return kENotImpl;
}
int32_t Win32Com::GetCurrentProfile(ComObject, ComObject& profile) {
    profile = 0;
    return kENotImpl;
}
int32_t Win32Com::GetFirewallEnabled(ComObject, bool& enabled) {
    enabled = false;
    return kENotImpl;
}
int32_t Win32Com::PutFirewallEnabled(ComObject, bool) { return kENotImpl; }
int32_t Win32Com::CreateWbemLocator(ComObject& locator) {
    locator = 0;
    return kRegdbEClassNotReg;
}
int32_t Win32Com::ConnectServer(ComObject, const std::u16string&, ComObject& services) {
    services = 0;
    return kWbemEInvalidNamespace;
}
int32_t Win32Com::DeleteInstance(ComObject, const std::u16string&) { return kWbemENotFound; }

}  // namespace platform::win32
