// All installed products that share one upgrade code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "msitool/product.h"
#include "platform/platform.h"

namespace msitool {

class ProductFamily {
  public:
    // Enumerates the related products of `upgradeCode`, in the installer's order.
    ProductFamily(platform::Platform& os, const std::u16string& upgradeCode);
    ProductFamily(const ProductFamily&) = delete;
    ProductFamily& operator=(const ProductFamily&) = delete;
    virtual ~ProductFamily() = default;

    virtual uint32_t Count() const;
    // Hides the entry of every product but the newest; the number of entries hidden.
    virtual uint32_t HideOldAddRemoves();
    // Uninstalls every product of the family, newest first, with the installer's own user
    // interface off; the number removed. Those removed leave the list, the others stay.
    virtual uint32_t UninstallAll();
    // One of the uninstalls met another installation in progress (1618).
    bool installerBusy = false;

    // The product with the highest version, the earliest of equals; null for no product.
    Product* Newest() const;
    const std::vector<std::unique_ptr<Product>>& Products() const { return products; }

  private:
    platform::Platform& os_;
    std::u16string upgradeCode;
    std::vector<std::unique_ptr<Product>> products;
};

}  // namespace msitool
