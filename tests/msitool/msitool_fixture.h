// A simulated machine with a family of installer products, for the installer tool.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace msitool_testing {

constexpr char kUpgrade[] = "{6C1F2E4A-0B3D-4E5F-9A8B-7C6D5E4F3A2B}";
constexpr char kUninstallKey[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

inline std::u16string W(const std::string& s) { return std::u16string(s.begin(), s.end()); }
inline std::string N(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// "{000000nn-1111-2222-3333-444444444444}", n below 256.
inline std::string Code(int n) {
    std::string code = "{00000000-1111-2222-3333-444444444444}";
    code[7] = "0123456789abcdef"[(n >> 4) & 15];
    code[8] = "0123456789abcdef"[n & 15];
    return code;
}

class MsiToolTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(0, m.registry.OpenHandles());
        EXPECT_EQ(0, m.system.openTokens);
    }

    // Installs product `n` of the family, the maker's unless said otherwise.
    platform::sim::SimMsiProduct& Add(int n, const std::string& version) {
        platform::sim::SimMsiProduct p;
        p.productCode = Code(n);
        p.upgradeCode = kUpgrade;
        p.version = version;
        p.publisher = "Kelvaris Software";
        p.name = "Product " + std::to_string(n);
        added.push_back(p);
        return added.back();
    }
    void InstallAll() {
        for (const auto& p : added) ASSERT_TRUE(m.installer.Install(p)) << p.productCode;
    }

    // Targets of the calls named `call`, in order.
    std::vector<std::string> Calls(const std::string& call) const {
        std::vector<std::string> out;
        for (const auto& c : m.installer.calls)
            if (c.call == call) out.push_back(c.target);
        return out;
    }
    std::vector<std::string> Uninstalls() const { return Calls("MsiConfigureProductExW"); }

    platform::sim::SimMachine m;
    std::vector<platform::sim::SimMsiProduct> added;
};

}  // namespace msitool_testing
