// Windows Installer (msi.dll), the calls the installer tool and the installer-database
// cleanup make. Every call returns the Windows error code the real call returns (UINT).
#pragma once

#include <cstdint>
#include <string>

#include "platform/common.h"

namespace platform {

// INSTALLUILEVEL.
enum : uint32_t {
    kInstallUiLevelNoChange = 0,
    kInstallUiLevelDefault = 1,
    kInstallUiLevelNone = 2,
    kInstallUiLevelBasic = 3,
    kInstallUiLevelReduced = 4,
    kInstallUiLevelFull = 5,
};

// INSTALLLEVEL and INSTALLSTATE values the product passes.
enum : int {
    kInstallLevelDefault = 0,
    kInstallLevelMinimum = 1,
    kInstallLevelMaximum = 0xFFFF,
    kInstallStateAbsent = 2,
    kInstallStateLocal = 3,
    kInstallStateDefault = 5,
};

// Installer results the product tests for by value.
enum : uint32_t {
    kErrorBadArguments = 160,
    kErrorUnknownProduct = 1605,
    kErrorUnknownProperty = 1608,
    kErrorInstallPackageOpenFailed = 1619,
};

// The braced GUID text: 38 characters.
constexpr uint32_t kGuidTextChars = 38;

class IInstaller {
public:
    IInstaller() = default;
    IInstaller(const IInstaller&) = delete;
    IInstaller& operator=(const IInstaller&) = delete;
    virtual ~IInstaller() = default;

    // MsiEnumRelatedProductsW(upgradeCode, 0, index, buffer of 39 characters): 0 with the
    // braced product code of that index, 259 (ERROR_NO_MORE_ITEMS) past the last, 87 for
    // an upgrade code that is not braced GUID text (Wine's installer answers 259 there).
    virtual uint32_t EnumRelatedProducts(const std::u16string& upgradeCode, uint32_t index,
                                         std::u16string& productCode) = 0;
    // MsiGetProductInfoW into `buffer` of *chars characters (terminator included). On
    // success *chars is the length without terminator; 234 (ERROR_MORE_DATA) when it does
    // not fit, with *chars the length needed (without terminator); 1605 for a product the
    // installer does not know, 1608 for an unknown property. A null buffer asks the size.
    virtual uint32_t GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                                    char16_t* buffer, uint32_t* chars) = 0;
    // MsiConfigureProductExW.
    virtual uint32_t ConfigureProductEx(const std::u16string& productCode, int installLevel, int installState,
                                        const std::u16string& commandLine) = 0;
    // MsiInstallProductW.
    virtual uint32_t InstallProduct(const std::u16string& packagePath, const std::u16string& commandLine) = 0;
    // MsiSetInternalUI(level, no window): the previous level.
    virtual uint32_t SetInternalUI(uint32_t level) = 0;
};

}  // namespace platform
