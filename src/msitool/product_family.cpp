#include "msitool/product_family.h"

#include <algorithm>

namespace msitool {
namespace {

// Puts the installer's user-interface level back whatever way the uninstalls end.
class InternalUiRestorer {
  public:
    InternalUiRestorer(platform::IInstaller& msi, uint32_t previous) : msi_(msi), previous_(previous) {}
    InternalUiRestorer(const InternalUiRestorer&) = delete;
    InternalUiRestorer& operator=(const InternalUiRestorer&) = delete;
    ~InternalUiRestorer() { (void)msi_.SetInternalUI(previous_); }

  private:
    platform::IInstaller& msi_;
    uint32_t previous_;
};

}  // namespace

ProductFamily::ProductFamily(platform::Platform& os, const std::u16string& code)
    : os_(os), upgradeCode(code) {
    std::u16string productCode;
    for (uint32_t index = 0;; ++index) {
        productCode.clear();
        if (os_.msi.EnumRelatedProducts(upgradeCode, index, productCode) != platform::kErrorSuccess) break;
        products.push_back(std::make_unique<Product>(os_, productCode));
    }
}

uint32_t ProductFamily::Count() const { return static_cast<uint32_t>(products.size()); }

Product* ProductFamily::Newest() const {
    Product* newest = nullptr;
    for (const auto& product : products)
        if (newest == nullptr || product->IsNewerThan(*newest)) newest = product.get();
    return newest;
}

uint32_t ProductFamily::HideOldAddRemoves() {
    if (products.size() < 2) return 0;
    const Product* newest = Newest();
    uint32_t hidden = 0;
    for (const auto& product : products)
        if (product.get() != newest && product->HideAddRemoveEntry()) ++hidden;
    return hidden;
}

uint32_t ProductFamily::UninstallAll() {
    if (products.empty()) return 0;
    uint32_t removed = 0;
    {
        InternalUiRestorer restorer(os_.msi, os_.msi.SetInternalUI(platform::kInstallUiLevelNone));
        std::stable_sort(products.begin(), products.end(),
                         [](const std::unique_ptr<Product>& a, const std::unique_ptr<Product>& b) {
                             return a->IsNewerThan(*b);
                         });
        // The upgrade code is the maker's own exact identifier: whoever a product names as
        // its publisher (a customised edition names its distributor), it belongs to the family.
        for (auto& product : products) {
            if (!product->Uninstall()) {
                installerBusy = installerBusy || product->installerBusy;
                continue;
            }
            product.reset();
            ++removed;
        }
    }
    products.erase(std::remove(products.begin(), products.end(), nullptr), products.end());
    return removed;
}

}  // namespace msitool
