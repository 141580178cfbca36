#include "platform/win32/win32_installer.h"

// clang-format off
#include "platform/win32/windows_api.h"
#include <msi.h>
// clang-format on
#include "platform/win32/system_library.h"

namespace platform::win32 {

namespace {
const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// msi.dll is no KnownDLL: its functions are taken from System32's copy, never through the
// import table. A library that cannot be loaded fails each call with the load's error.
template <typename Fn>
Fn Msi(const char* name) {
    return SystemFunction<Fn>(SystemLibrary::kMsi, name);
}
#define MSI_CALL(fn) Msi<decltype(&::fn)>(#fn)
}  // namespace

uint32_t Win32Installer::EnumRelatedProducts(const std::u16string& upgradeCode, uint32_t index,
                                             std::u16string& productCode) {
    // The installer writes a braced code and its terminator: 39 characters.
    wchar_t buffer[kGuidTextChars + 1] = {};
    const auto call = MSI_CALL(MsiEnumRelatedProductsW);
    if (call == nullptr) return ::GetLastError();
    UINT rc = call(W(upgradeCode), 0, index, buffer);
    if (rc == ERROR_SUCCESS) {
        buffer[kGuidTextChars] = L'\0';
        productCode = reinterpret_cast<const char16_t*>(buffer);
    }
    return rc;
}

uint32_t Win32Installer::GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                                        char16_t* buffer, uint32_t* chars) {
    DWORD size = chars != nullptr ? *chars : 0;
    const auto call = MSI_CALL(MsiGetProductInfoW);
    if (call == nullptr) return ::GetLastError();
    UINT rc = call(W(productCode), W(property), reinterpret_cast<wchar_t*>(buffer),
                   chars != nullptr ? &size : nullptr);
    if (chars != nullptr) *chars = size;
    return rc;
}

uint32_t Win32Installer::ConfigureProductEx(const std::u16string& productCode, int installLevel,
                                            int installState, const std::u16string& commandLine) {
    const auto call = MSI_CALL(MsiConfigureProductExW);
    if (call == nullptr) return ::GetLastError();
    return call(W(productCode), installLevel, static_cast<INSTALLSTATE>(installState), W(commandLine));
}

uint32_t Win32Installer::InstallProduct(const std::u16string& packagePath,
                                        const std::u16string& commandLine) {
    const auto call = MSI_CALL(MsiInstallProductW);
    if (call == nullptr) return ::GetLastError();
    return call(W(packagePath), W(commandLine));
}

uint32_t Win32Installer::SetInternalUI(uint32_t level) {
    // Without the library there is no level to change; "no change" restores nothing.
    const auto call = MSI_CALL(MsiSetInternalUI);
    if (call == nullptr) return INSTALLUILEVEL_NOCHANGE;
    return static_cast<uint32_t>(call(static_cast<INSTALLUILEVEL>(level), nullptr));
}

}  // namespace platform::win32
