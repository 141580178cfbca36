#include "platform/win32/win32_installer.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

// Placeholders until the installer calls are wired.
uint32_t Win32Installer::EnumRelatedProducts(const std::u16string&, uint32_t, std::u16string&) { return ERROR_NO_MORE_ITEMS; }
uint32_t Win32Installer::GetProductInfo(const std::u16string&, const std::u16string&, char16_t*, uint32_t*) { return 1605; }
uint32_t Win32Installer::ConfigureProductEx(const std::u16string&, int, int, const std::u16string&) { return 1605; }
uint32_t Win32Installer::InstallProduct(const std::u16string&, const std::u16string&) { return 1619; }
uint32_t Win32Installer::SetInternalUI(uint32_t) { return 1; }

}  // namespace platform::win32
