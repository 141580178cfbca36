#include "msitool/product_family.h"

#include <gmock/gmock.h>

#include "msitool_fixture.h"

namespace msitool_testing {
namespace {

using platform::sim::View;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ProductFamilyTest : public MsiToolTest {
  protected:
    std::vector<std::string> Codes(const msitool::ProductFamily& family) {
        std::vector<std::string> out;
        for (const auto& p : family.Products()) out.push_back(N(p->GetProductCode()));
        return out;
    }
    bool Hidden(int n, View view) {
        const platform::sim::SimRegValue* v =
            m.registry.GetValue(kUninstallKey + Code(n), "SystemComponent", view);
        return v != nullptr && v->type == platform::kRegDword && v->data == std::vector<uint8_t>{1, 0, 0, 0};
    }
};

TEST_F(ProductFamilyTest, NewestIsUninstalledFirstWithTheInstallerInterfaceOffAndRestoredAfter) {
    Add(1, "1.0");
    Add(2, "2.0.5");
    Add(3, "2.0.5.0");
    InstallAll();
    m.installer.uiLevel = platform::kInstallUiLevelFull;
    msitool::ProductFamily family(m.platform(), W(kUpgrade));
    ASSERT_EQ(3u, family.Count());
    EXPECT_EQ(W(Code(3)), family.Newest()->GetProductCode());

    EXPECT_EQ(3u, family.UninstallAll());

    EXPECT_THAT(Uninstalls(), ElementsAre(Code(3), Code(2), Code(1)));
    for (const auto& call : m.installer.calls)
        if (call.call == "MsiConfigureProductExW") {
            EXPECT_EQ(platform::kInstallUiLevelNone, call.uiLevel);
        }
    EXPECT_EQ("MsiSetInternalUI", m.installer.calls.front().call);
    EXPECT_EQ("MsiSetInternalUI", m.installer.calls.back().call);
    EXPECT_EQ(platform::kInstallUiLevelFull, m.installer.uiLevel);
    EXPECT_EQ(0u, family.Count());
}

TEST_F(ProductFamilyTest, EqualVersionsKeepTheirEnumerationOrder) {
    // Enough products that an unstable sort would show.
    for (int n = 0; n < 40; ++n) Add(n * 37 % 256, n % 3 == 0 ? "4.0" : "4.0.0");
    InstallAll();
    msitool::ProductFamily family(m.platform(), W(kUpgrade));
    std::vector<std::string> expected;
    for (const char* version : {"4.0.0", "4.0"})
        for (const auto& p : family.Products())
            if (N(p->GetVersionString()) == version) expected.push_back(N(p->GetProductCode()));
    ASSERT_EQ(40u, expected.size());
    EXPECT_EQ(W(expected[0]), family.Newest()->GetProductCode());

    family.UninstallAll();
    EXPECT_THAT(Uninstalls(), ElementsAreArray(expected));
}

TEST_F(ProductFamilyTest, ProductsNotRemovedStayInTheListWhateverThePublisherOfTheOthers) {
    Add(1, "1.0").configureResult = 1603;
    added.back().packageRemoveResult = 1603;
    Add(2, "2.0").publisher = "Other Vendor Inc.";  // a customised edition under the maker's code
    Add(3, "3.0").publisher = "KELVARIS Software GmbH";
    Add(4, "4.0");
    InstallAll();
    msitool::ProductFamily family(m.platform(), W(kUpgrade));

    EXPECT_EQ(3u, family.UninstallAll());
    EXPECT_THAT(Uninstalls(), ElementsAre(Code(4), Code(3), Code(2), Code(1)));
    EXPECT_THAT(Codes(family), ElementsAre(Code(1)));
    EXPECT_FALSE(m.installer.IsInstalled(Code(2)));
    EXPECT_TRUE(m.installer.IsInstalled(Code(1)));
}

TEST_F(ProductFamilyTest, AnUnreadablePublisherDoesNotKeepAProduct) {
    Add(1, "1.0");
    InstallAll();
    msitool::ProductFamily family(m.platform(), W(kUpgrade));
    m.faults.Fail("MsiGetProductInfoW", platform::kErrorUnknownProperty);
    EXPECT_EQ(1u, family.UninstallAll());
    EXPECT_FALSE(m.installer.IsInstalled(Code(1)));
}

TEST_F(ProductFamilyTest, AnEmptyFamilyLeavesTheInstallerAlone) {
    Add(1, "1.0").upgradeCode = "{99999999-1111-2222-3333-444444444444}";
    InstallAll();
    msitool::ProductFamily family(m.platform(), W(kUpgrade));
    EXPECT_EQ(0u, family.Count());
    EXPECT_EQ(nullptr, family.Newest());
    EXPECT_EQ(0u, family.UninstallAll());
    EXPECT_EQ(0u, family.HideOldAddRemoves());
    EXPECT_TRUE(m.installer.calls.empty());
}

TEST_F(ProductFamilyTest, OldEntriesAreHiddenInEachViewThatHasThemAndTheNewestKeepsItsOwn) {
    Add(1, "1.0");
    Add(2, "3.0");
    Add(3, "2.0");
    Add(4, "0.5");
    InstallAll();
    const std::string uninstall = std::string(kUninstallKey).substr(sizeof "HKEY_LOCAL_MACHINE");
    // Product 3 has its entry in both views, product 1 only in the 64-bit one, product 4 in none.
    m.registry.SetString(kUninstallKey + Code(3), "DisplayName", "Product 3", View::K64);
    m.registry.SetString(kUninstallKey + Code(1), "DisplayName", "Product 1", View::K64);
    for (int n : {1, 4})
        ASSERT_EQ(0u,
                  m.registry.SHDeleteValue(platform::kHkeyLocalMachine, uninstall + Code(n), "DisplayName"));
    msitool::ProductFamily family(m.platform(), W(kUpgrade));

    EXPECT_EQ(2u, family.HideOldAddRemoves());

    EXPECT_FALSE(Hidden(2, View::K32));
    EXPECT_TRUE(Hidden(3, View::K32));
    EXPECT_TRUE(Hidden(3, View::K64));
    EXPECT_FALSE(Hidden(1, View::K32));
    EXPECT_TRUE(Hidden(1, View::K64));
    EXPECT_FALSE(Hidden(4, View::K32));
    EXPECT_FALSE(m.registry.Exists(kUninstallKey + Code(4), View::K64));
    EXPECT_EQ(4u, family.Count());
    EXPECT_TRUE(Uninstalls().empty());
}

TEST_F(ProductFamilyTest, AFamilyOfOneHidesNothing) {
    Add(1, "1.0");
    InstallAll();
    msitool::ProductFamily family(m.platform(), W(kUpgrade));
    EXPECT_EQ(0u, family.HideOldAddRemoves());
    EXPECT_FALSE(Hidden(1, View::K32));
}

}  // namespace
}  // namespace msitool_testing
