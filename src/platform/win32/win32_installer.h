#pragma once

#include "platform/installer.h"

namespace platform::win32 {

class Win32Installer : public IInstaller {
public:
    uint32_t EnumRelatedProducts(const std::u16string& upgradeCode, uint32_t index,
                                 std::u16string& productCode) override;
    uint32_t GetProductInfo(const std::u16string& productCode, const std::u16string& property, char16_t* buffer,
                            uint32_t* chars) override;
    uint32_t ConfigureProductEx(const std::u16string& productCode, int installLevel, int installState,
                                const std::u16string& commandLine) override;
    uint32_t InstallProduct(const std::u16string& packagePath, const std::u16string& commandLine) override;
    uint32_t SetInternalUI(uint32_t level) override;
};

}  // namespace platform::win32
