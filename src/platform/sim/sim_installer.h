// The simulated Windows Installer. Its database is the simulated registry itself, laid out
// as the real installer writes it for a per-machine installation, and its cached packages
// are files of the simulated file system: whatever removes those registrations or files
// changes what the installer answers, as on a real machine.
#pragma once

#include <string>
#include <vector>

#include "platform/installer.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/sim/sim_registry.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

// One component of a simulated package: its code and its key path (the file it installs).
struct SimMsiComponent {
    std::string componentCode;  // braced GUID text
    // Full path of the component's file, written with the product's files; or a registry
    // value in the installer's own notation, "02:\SOFTWARE\Maker\Product\Name" (00 HKCR,
    // 01 HKCU, 02 HKLM, 03 HKU; 2x for the 64-bit view), written as a REG_SZ value.
    std::string keyPath;
};

// A product as a test installs it.
struct SimMsiProduct {
    std::string productCode;  // braced GUID text
    std::string upgradeCode;  // braced GUID text; empty: no upgrade code
    std::string name = "Product";
    std::string version = "1.0.0";  // ProductVersion / VersionString
    std::string publisher;
    std::string packageName = "product.msi";  // PackageName: the name it was installed from
    std::vector<SimMsiComponent> components;
    std::vector<std::string> folders;  // folders created by the installation (Installer\Folders)
    // What the uninstall by product code returns and whether it removes the product: a
    // result other than 0 and 3010 leaves it installed. 3010 removes it and says so.
    uint32_t configureResult = 0;
    // The same for an uninstall through the cached package (InstallProduct with REMOVE=ALL).
    uint32_t packageRemoveResult = 0;
    // The folder the package was installed from (the source list). The installer falls
    // back to it when the cached package is missing.
    std::string sourceFolder = "C:\\Setup\\";
    // Whether the package is still there: by default the source media is long gone.
    bool sourceKept = false;
};

// One call the product made, for tests to read.
struct SimMsiCall {
    // "MsiConfigureProductExW", "MsiInstallProductW", "MsiSetInternalUI" in `calls`;
    // "MsiEnumRelatedProductsW", "MsiGetProductInfoW" in `queries`.
    std::string call;
    // Product code, package path, upgrade code; for MsiSetInternalUI the level asked for.
    std::string target;
    // As passed; for MsiGetProductInfoW the property, for MsiEnumRelatedProductsW the index.
    std::string commandLine;
    uint32_t uiLevel = 0;  // the internal UI level when the call was made
    uint32_t result = 0;
};

class SimInstaller : public IInstaller {
  public:
    SimInstaller(Faults& faults, SimSystem& system, SimRegistry& registry, SimFileSystem& files);

    // --- state a test arranges and inspects ---
    // Installs as a per-machine installation does: the product's files and its cached
    // package, and every registration the real installer writes (see the .cpp). Also makes
    // sure the temporary folder exists, as it does on any real machine. False, with
    // nothing written, when a code is not braced GUID text.
    bool Install(const SimMsiProduct& product);
    // A half-removed product: its registrations stay, its files and cached package go.
    void RemoveFilesOnly(const std::string& productCode);
    // The installer knows the product (as MsiGetProductInfo does: by its registrations).
    bool IsInstalled(const std::string& productCode) const;
    // Path of the cached package the installation wrote ("C:\Windows\Installer\<n>.msi");
    // empty for a product never installed here.
    std::string CachedPackagePath(const std::string& productCode) const;
    // The product codes Install was given, in that order, removed ones included.
    std::vector<std::string> ProductCodes() const;
    // The calls that change something, in order.
    std::vector<SimMsiCall> calls;
    // The calls that only read.
    std::vector<SimMsiCall> queries;
    uint32_t uiLevel = kInstallUiLevelDefault;

    uint32_t EnumRelatedProducts(const std::u16string& upgradeCode, uint32_t index,
                                 std::u16string& productCode) override;
    uint32_t GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                            char16_t* buffer, uint32_t* chars) override;
    uint32_t ConfigureProductEx(const std::u16string& productCode, int installLevel, int installState,
                                const std::u16string& commandLine) override;
    uint32_t InstallProduct(const std::u16string& packagePath, const std::u16string& commandLine) override;
    uint32_t SetInternalUI(uint32_t level) override;

  private:
    struct Record {
        SimMsiProduct product;
        std::string cachedPackage;
    };

    const Record* Find(const std::string& productCode) const;
    uint32_t Uninstall(const std::string& productCode, uint32_t result);
    void Remove(const std::string& productCode);
    void RemoveComponentResource(const std::string& keyPath);
    void RemoveEmptyDirectory(const std::string& path);
    uint32_t ConfigureAbsent(const std::string& productCode);
    uint32_t ReadProperty(const std::string& productCode, const std::string& property,
                          std::string& value) const;

    Faults& faults_;
    SimSystem& system_;
    SimRegistry& registry_;
    SimFileSystem& files_;
    std::vector<Record> products_;  // what Install was given, for uninstall results and files
    int nextPackage_ = 0x1a2b;
};

}  // namespace platform::sim
