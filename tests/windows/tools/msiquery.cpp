// Asks the real Windows Installer what it knows, for the end-to-end runs:
//   msiquery related {UPGRADE-CODE}        the related product codes, one per line
//   msiquery info {PRODUCT-CODE} PROPERTY  the property's value, or "ERROR <code>"
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/win32_installer.h"

namespace {
std::u16string Wide(const char* s) {
    std::u16string w;
    for (; *s != '\0'; ++s) w.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
    return w;
}
std::string Narrow(const std::u16string& w) {
    std::string s;
    for (char16_t c : w) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
}
}  // namespace

int main(int argc, char** argv) {
    platform::win32::Win32Installer msi;
    if (argc == 3 && std::strcmp(argv[1], "related") == 0) {
        for (uint32_t i = 0;; ++i) {
            std::u16string product;
            uint32_t rc = msi.EnumRelatedProducts(Wide(argv[2]), i, product);
            if (rc == 259) return 0;
            if (rc != 0) {
                std::printf("ERROR %u\n", rc);
                return 1;
            }
            std::printf("%s\n", Narrow(product).c_str());
        }
    }
    if (argc == 4 && std::strcmp(argv[1], "info") == 0) {
        char16_t buffer[1024];
        uint32_t chars = 1024;
        uint32_t rc = msi.GetProductInfo(Wide(argv[2]), Wide(argv[3]), buffer, &chars);
        if (rc != 0) {
            std::printf("ERROR %u\n", rc);
            return 1;
        }
        std::printf("%s\n", Narrow(std::u16string(buffer, chars)).c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: msiquery related {UPGRADE-CODE} | info {PRODUCT-CODE} PROPERTY\n");
    return 2;
}
