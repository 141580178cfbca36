// Over many generated machines with installed products of the maker and of other publishers
// (families that mix them, components shared between them, folders named after the maker,
// half-removed products, uninstalls that fail): the whole removal run leaves no product of
// the maker known to the installer, asks the installer to remove every product under an
// upgrade code it removes, whatever its publisher, and never uninstalls, unregisters or
// deletes anything of another publisher's product under an upgrade code of its own.
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "actions/builtin_upgrade_codes.h"
#include "expand/installer_guid.h"
#include "expand/lists_fixture.h"

namespace {

using lists_test::Sections;
using platform::sim::SimMachine;
using platform::sim::SimMsiComponent;
using platform::sim::SimMsiProduct;
using platform::sim::View;

const std::string kHklm = "HKEY_LOCAL_MACHINE\\";
const std::string kInstaller = kHklm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::string kClasses = kHklm + "SOFTWARE\\Classes\\Installer";

struct Generated {
    SimMsiProduct product;
    bool maker = false;
};

class Generator {
  public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    std::vector<Generated> Build(SimMachine& m, std::string& config, std::set<std::string>& removed) {
        std::vector<std::string> upgrades = {Guid(), Guid(), Guid(), engine::kBuiltInUpgradeCodes[2]};
        std::vector<Generated> out;
        std::vector<SimMsiComponent> components;  // so far, for sharing
        const int count = 3 + Pick(5);
        for (int i = 0; i < count; ++i) {
            Generated g;
            g.maker = Chance(55);
            static const char* const kMakers[] = {"Kelvaris Corporation", "KELVARIS Corp."};
            static const char* const kOthers[] = {"Norvane Systems", "Kelvari Ltd", "Acme Software"};
            SimMsiProduct& p = g.product;
            p.publisher = g.maker ? kMakers[Pick(2)] : kOthers[Pick(3)];
            p.productCode = Guid();
            if (!Chance(10)) p.upgradeCode = upgrades[Pick(static_cast<int>(upgrades.size()))];
            p.name = "Product" + std::to_string(i);
            p.version = std::to_string(1 + Pick(3)) + "." + std::to_string(Pick(10));
            p.packageName = "p" + std::to_string(i) + ".msi";
            // Other publishers' folders may hold the maker's name too.
            std::string folder = "C:\\Program Files (x86)\\" +
                                 std::string(g.maker      ? "Kelvaris "
                                             : Chance(50) ? "Norvane Kelvaris Bridge "
                                                          : "Acme ") +
                                 std::to_string(i);
            for (int c = 1 + Pick(3); c > 0; --c)
                p.components.push_back({Guid(), folder + "\\file" + std::to_string(c) + ".dll"});
            if (!components.empty() && Chance(30))
                p.components.push_back(components[Pick(static_cast<int>(components.size()))]);
            for (const auto& c : p.components) components.push_back(c);
            static const uint32_t kResults[] = {0, 0, 3010, 1603};
            p.configureResult = kResults[Pick(4)];
            p.packageRemoveResult = Chance(50) ? 0 : 1603;
            EXPECT_TRUE(m.installer.Install(p)) << p.productCode;
            if (g.maker && Chance(25)) m.installer.RemoveFilesOnly(p.productCode);
            out.push_back(g);
        }
        Sections s;
        for (size_t i = 0; i + 1 < upgrades.size(); ++i)
            if (Chance(60) && removed.insert(upgrades[i]).second)
                s.msi += "remove=GUID,BY_VALUE," + upgrades[i] + "\n";
        config = s.Text();
        return out;
    }

  private:
    bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::string Hex(int digits) {
        static const char kDigits[] = "0123456789ABCDEF";
        std::string s;
        for (int i = 0; i < digits; ++i) s += kDigits[Pick(16)];
        return s;
    }
    std::string Guid() {
        return "{" + Hex(8) + "-" + Hex(4) + "-" + Hex(4) + "-" + Hex(4) + "-" + Hex(12) + "}";
    }
    std::mt19937 rng_;
};

// Everything a product of another publisher owns: keys with their values, its values in
// shared keys, its files and its cached package.
std::set<std::string> Owned(SimMachine& m, const SimMsiProduct& p) {
    std::set<std::string> out;
    const std::string packed = expand::DarwinTransform(p.productCode.c_str());
    auto tree = [&](const std::string& key, auto& self) -> void {
        if (!m.registry.Exists(key, View::K64)) return;
        out.insert("key " + key);
        for (const auto& v : m.registry.ValuesUnder(key, View::K64)) out.insert("value " + key + "|" + v);
        for (const auto& k : m.registry.KeysUnder(key, View::K64)) self(key + "\\" + k, self);
    };
    tree(kInstaller + "\\UserData\\S-1-5-18\\Products\\" + packed, tree);
    tree(kClasses + "\\Products\\" + packed, tree);
    tree(kClasses + "\\Features\\" + packed, tree);
    if (!p.upgradeCode.empty()) {
        const std::string u = expand::DarwinTransform(p.upgradeCode.c_str());
        for (const std::string& area : {kInstaller + "\\UpgradeCodes\\", kClasses + "\\UpgradeCodes\\"})
            if (m.registry.ValueExists(area + u, packed, View::K64))
                out.insert("value " + area + u + "|" + packed);
    }
    for (const auto& c : p.components) {
        const std::string key = kInstaller + "\\UserData\\S-1-5-18\\Components\\" +
                                expand::DarwinTransform(c.componentCode.c_str());
        if (m.registry.ValueExists(key, packed, View::K64)) out.insert("value " + key + "|" + packed);
        if (m.files.Exists(c.keyPath)) out.insert("file " + c.keyPath);
    }
    const std::string package = m.installer.CachedPackagePath(p.productCode);
    if (m.files.Exists(package)) out.insert("file " + package);
    return out;
}

TEST(InstallerPropertyTest, TheMakersProductsGoAndNothingOfAnotherPublisherIsTouched) {
    int makers = 0, others = 0, sharedWithOthers = 0, editions = 0;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        SimMachine m;
        lists_test::ScopedLog log(m);
        m.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "LogLevel", 3);
        std::string config;
        std::set<std::string> removed = {engine::kBuiltInUpgradeCodes[2]};
        std::vector<Generated> products = Generator(seed).Build(m, config, removed);
        m.files.CreateFile(lists_test::kConfigPath, config);
        std::vector<std::set<std::string>> before;
        for (const Generated& g : products)
            before.push_back(g.maker ? std::set<std::string>{} : Owned(m, g.product));

        detect::CDetector detector(m.platform());
        engine::CNuke nuke(m.platform());
        nuke.SetDetector(&detector);
        ASSERT_EQ(0u, nuke.InitializeLists(0, 1));
        ASSERT_EQ(0u, nuke.ExpandLists());
        (void)nuke.MsiUninstall();  // a failed uninstall of a configured code is its result; the run is
                                    // judged below
        EXPECT_EQ(0u, nuke.CleanupFiles());
        EXPECT_EQ(0u, nuke.CleanupRegValues());
        EXPECT_EQ(0u, nuke.CleanupRegKeys());
        m.files.SimulateRestart();

        for (size_t i = 0; i < products.size(); ++i) {
            const SimMsiProduct& p = products[i].product;
            if (products[i].maker) {
                ++makers;
                EXPECT_FALSE(m.installer.IsInstalled(p.productCode)) << p.productCode;
                continue;
            }
            if (removed.count(p.upgradeCode) != 0) {  // an edition the maker's upgrade code names
                ++editions;
                EXPECT_TRUE(std::any_of(m.installer.calls.begin(), m.installer.calls.end(),
                                        [&](const auto& c) { return c.target == p.productCode; }));
                continue;
            }
            ++others;
            EXPECT_TRUE(m.installer.IsInstalled(p.productCode)) << p.productCode;
            std::set<std::string> after = Owned(m, p);
            for (const std::string& item : before[i])
                EXPECT_EQ(after.count(item), 1u) << p.productCode << " " << item;
            for (const auto& call : m.installer.calls) {
                EXPECT_NE(call.target, p.productCode) << call.call;
                EXPECT_NE(call.target.find(m.installer.CachedPackagePath(p.productCode)), 0u) << call.call;
            }
            for (const auto& c : p.components)
                for (const Generated& g : products)
                    if (g.maker)
                        for (const auto& mc : g.product.components)
                            sharedWithOthers += mc.componentCode == c.componentCode;
        }
    }
    // The generator must reach the cases the property is about.
    EXPECT_GT(makers, 60);
    EXPECT_GT(others, 40);
    EXPECT_GT(sharedWithOthers, 10);
    EXPECT_GT(editions, 10);
}

}  // namespace
