#include "platform/sim/sim_installer.h"

namespace platform::sim {

SimInstaller::SimInstaller(Faults& faults, SimSystem& system, SimRegistry& registry, SimFileSystem& files)
    : faults_(faults), system_(system), registry_(registry), files_(files) {}

void SimInstaller::Install(const SimMsiProduct& product) { products_.push_back(product); }
void SimInstaller::RemoveFilesOnly(const std::string&) {}
bool SimInstaller::IsInstalled(const std::string&) const { return false; }
std::string SimInstaller::CachedPackagePath(const std::string&) const { return {}; }

uint32_t SimInstaller::EnumRelatedProducts(const std::u16string&, uint32_t, std::u16string&) {
    return kErrorNoMoreItems;
}
uint32_t SimInstaller::GetProductInfo(const std::u16string&, const std::u16string&, char16_t*, uint32_t*) {
    return kErrorUnknownProduct;
}
uint32_t SimInstaller::ConfigureProductEx(const std::u16string&, int, int, const std::u16string&) {
    return kErrorUnknownProduct;
}
uint32_t SimInstaller::InstallProduct(const std::u16string&, const std::u16string&) {
    return kErrorInstallPackageOpenFailed;
}
uint32_t SimInstaller::SetInternalUI(uint32_t level) {
    uint32_t previous = uiLevel;
    if (level != kInstallUiLevelNoChange) uiLevel = level;
    return previous;
}

}  // namespace platform::sim
