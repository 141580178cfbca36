// What only the simulated installer can show: the uninstall results a product is given,
// components and folders shared between products, half-removed products, the source the
// installer falls back to, faults, and the record of the calls.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"

using namespace platform;
using platform::sim::SimMachine;
using platform::sim::SimMsiProduct;
using platform::sim::View;

namespace {

const char kCode[] = "{8A3F0C11-2B4D-4E5F-9A6B-7C8D9E0F1A2B}";
const char kPacked[] = "11C0F3A8D4B2F5E4A9B6C7D8E9F0A1B2";
const char kOtherCode[] = "{8A3F0C11-2B4D-4E5F-9A6B-7C8D9E0F1A2C}";
const char kUpgrade[] = "{0D1E2F30-4152-4637-8899-AABBCCDDEEFF}";
const char kPackedUpgrade[] = "03F2E1D0251473648899AABBCCDDEEFF";
const char kFile[] = "C:\\Program Files (x86)\\Kelvaris\\Agent\\agent.exe";
const char kSharedFile[] = "C:\\Program Files (x86)\\Kelvaris\\Common\\shared.dll";
const char kUninstall[] = "REMOVE=ALL REBOOT=ReallySuppress";
const std::string kLm = "HKEY_LOCAL_MACHINE\\";
const std::string kInstaller = kLm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::string kProperties =
    kInstaller + "\\UserData\\S-1-5-18\\Products\\" + kPacked + "\\InstallProperties";

std::u16string W(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class SimInstallerTest : public ::testing::Test {
  protected:
    SimMachine m;
    sim::SimInstaller& msi = m.installer;

    SimMsiProduct Product(const std::string& code = kCode) {
        SimMsiProduct p;
        p.productCode = code;
        p.upgradeCode = kUpgrade;
        p.name = "Kelvaris Agent";
        p.version = "4.2.17";
        p.publisher = "Kelvaris Corp";
        p.packageName = "agent.msi";
        std::string component = code;
        component[1] = 'C';
        p.components = {
            {component, kFile},
            {"{5A5A5A5A-0000-4000-8000-00000000C0DE}", kSharedFile},
            {"{5A5A5A5A-0000-4000-8000-0000000000AB}", "02:\\SOFTWARE\\Kelvaris\\Agent\\Version"}};
        p.folders = {"C:\\Program Files (x86)\\Kelvaris\\Agent\\"};
        return p;
    }
    uint32_t Configure(const std::string& code = kCode) {
        return msi.ConfigureProductEx(W(code), kInstallLevelMaximum, kInstallStateAbsent, W(kUninstall));
    }
    std::string Text(const std::string& path, const std::string& name, View view = View::K64) {
        const sim::SimRegValue* v = m.registry.GetValue(path, name, view);
        return v ? std::string(v->data.begin(), v->data.end() - 1) : "<missing>";
    }
};

TEST_F(SimInstallerTest, InstallWritesTheLayoutOfARealInstallation) {
    m.system.clockMs = 86400000ull * 31;  // 2016-02-20
    ASSERT_TRUE(msi.Install(Product()));
    const std::string cached = msi.CachedPackagePath(kCode);
    EXPECT_EQ(cached, Text(kProperties, "LocalPackage"));
    EXPECT_EQ(0u, cached.find("C:\\Windows\\Installer\\"));
    EXPECT_NE(std::string::npos, m.files.Contents(cached).find(kCode)) << "the package names its product";
    EXPECT_EQ("Kelvaris Corp", Text(kProperties, "Publisher"));
    EXPECT_EQ("4.2.17", Text(kProperties, "DisplayVersion"));
    EXPECT_EQ("20160220", Text(kProperties, "InstallDate"));
    EXPECT_EQ("MsiExec.exe /I" + std::string(kCode), Text(kProperties, "UninstallString"));
    const sim::SimRegValue* version = m.registry.GetValue(kProperties, "Version", View::K64);
    ASSERT_NE(nullptr, version);
    EXPECT_EQ((std::vector<uint8_t>{17, 0, 2, 4}), version->data);

    const std::string product = kLm + "SOFTWARE\\Classes\\Installer\\Products\\" + kPacked;
    EXPECT_EQ("agent.msi", Text(product + "\\SourceList", "PackageName"));
    EXPECT_EQ("Kelvaris Agent", Text(product, "ProductName"));
    EXPECT_TRUE(m.registry.Exists(kLm + "SOFTWARE\\Classes\\Installer\\Features\\" + kPacked, View::K64));
    EXPECT_EQ("", Text(kInstaller + "\\UpgradeCodes\\" + kPackedUpgrade, kPacked));
    EXPECT_EQ("", Text(kLm + "SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + kPackedUpgrade, kPacked));
    EXPECT_EQ("", Text(kInstaller + "\\Folders", "C:\\Program Files (x86)\\Kelvaris\\Agent\\"));
    EXPECT_EQ(
        kSharedFile,
        Text(kInstaller + "\\UserData\\S-1-5-18\\Components\\A5A5A5A5000000040800000000000CED", kPacked));
    // Nothing of the database lands in the 32-bit view; the add/remove-programs entry does.
    EXPECT_FALSE(m.registry.Exists(kInstaller + "\\UserData", View::K32));
    EXPECT_EQ("Kelvaris Agent",
              Text(kLm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCode, "DisplayName",
                   View::K32));
    EXPECT_FALSE(m.registry.Exists(kLm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kCode,
                                   View::K64));
    // A registry key path of a 32-bit component is written in the 32-bit view.
    EXPECT_EQ("4.2.17", Text(kLm + "SOFTWARE\\Kelvaris\\Agent", "Version", View::K32));
    EXPECT_TRUE(m.files.Exists(kFile));
    EXPECT_TRUE(m.files.Exists("C:\\Users\\Tester\\AppData\\Local\\Temp"));

    // A reinstallation keeps its cache entry.
    ASSERT_TRUE(msi.Install(Product()));
    EXPECT_EQ(cached, msi.CachedPackagePath(kCode));
    SimMsiProduct bad = Product();
    bad.upgradeCode = "0D1E2F30-4152-4637-8899-AABBCCDDEEFF";
    EXPECT_FALSE(msi.Install(bad));
}

TEST_F(SimInstallerTest, UninstallResultsDecideWhetherTheProductGoes) {
    SimMsiProduct p = Product();
    p.configureResult = kErrorInstallFailure;
    p.packageRemoveResult = kErrorSuccessRebootRequired;
    ASSERT_TRUE(msi.Install(p));
    const std::string cached = msi.CachedPackagePath(kCode);

    EXPECT_EQ(static_cast<uint32_t>(kErrorInstallFailure), Configure());
    EXPECT_TRUE(msi.IsInstalled(kCode));
    EXPECT_TRUE(m.files.Exists(kFile));

    ASSERT_TRUE(m.files.CopyFileW(W(cached), u"C:\\Users\\Tester\\AppData\\Local\\Temp\\agent.msi", false));
    EXPECT_EQ(static_cast<uint32_t>(kErrorSuccessRebootRequired),
              msi.InstallProduct(u"C:\\Users\\Tester\\AppData\\Local\\Temp\\agent.msi", W(kUninstall)));
    EXPECT_FALSE(msi.IsInstalled(kCode));
    EXPECT_FALSE(m.files.Exists(kFile));
    EXPECT_FALSE(m.files.Exists("C:\\Program Files (x86)\\Kelvaris\\Agent")) << "the emptied folder goes";
    EXPECT_FALSE(m.files.Exists(cached));
    EXPECT_FALSE(m.registry.ValueExists(kLm + "SOFTWARE\\Kelvaris\\Agent", "Version", View::K32));
    EXPECT_TRUE(m.registry.ValuesUnder(kInstaller + "\\Folders", View::K64).empty());

    // The copy can reinstall the product it names; removing it again twice is harmless.
    EXPECT_EQ(0u, msi.InstallProduct(u"C:\\Users\\Tester\\AppData\\Local\\Temp\\agent.msi", u""));
    EXPECT_TRUE(msi.IsInstalled(kCode));
    EXPECT_EQ(static_cast<uint32_t>(kErrorSuccessRebootRequired),
              msi.InstallProduct(u"C:\\Users\\Tester\\AppData\\Local\\Temp\\agent.msi", W(kUninstall)));
    EXPECT_EQ(0u, msi.InstallProduct(u"C:\\Users\\Tester\\AppData\\Local\\Temp\\agent.msi", W(kUninstall)));
}

TEST_F(SimInstallerTest, SharedComponentsAndFoldersStayUntilTheLastProductGoes) {
    SimMsiProduct other = Product(kOtherCode);
    other.components.erase(other.components.begin());  // keeps the shared file and value
    ASSERT_TRUE(msi.Install(Product()));
    ASSERT_TRUE(msi.Install(other));

    ASSERT_EQ(0u, Configure());
    EXPECT_FALSE(m.files.Exists(kFile));
    EXPECT_TRUE(m.files.Exists(kSharedFile));
    EXPECT_EQ("4.2.17", Text(kLm + "SOFTWARE\\Kelvaris\\Agent", "Version", View::K32));
    EXPECT_EQ(1u, m.registry.ValuesUnder(kInstaller + "\\Folders", View::K64).size());
    EXPECT_EQ(std::vector<std::string>{"11C0F3A8D4B2F5E4A9B6C7D8E9F0A1C2"},
              m.registry.ValuesUnder(kInstaller + "\\UpgradeCodes\\" + kPackedUpgrade, View::K64));

    ASSERT_EQ(0u, Configure(kOtherCode));
    EXPECT_FALSE(m.files.Exists(kSharedFile));
    EXPECT_FALSE(m.files.Exists("C:\\Program Files (x86)\\Kelvaris\\Common"));
    EXPECT_FALSE(m.registry.Exists(kLm + "SOFTWARE\\Kelvaris\\Agent", View::K32));
    EXPECT_TRUE(m.registry.KeysUnder(kInstaller + "\\UserData\\S-1-5-18\\Components", View::K64).empty());
    EXPECT_FALSE(m.registry.Exists(kInstaller + "\\UpgradeCodes\\" + kPackedUpgrade, View::K64));
}

TEST_F(SimInstallerTest, HalfRemovedProductAndTheInstallationSource) {
    SimMsiProduct p = Product();
    p.sourceFolder = "D:\\Setup";
    ASSERT_TRUE(msi.Install(p));
    msi.RemoveFilesOnly(kCode);
    EXPECT_FALSE(m.files.Exists(kFile));
    EXPECT_FALSE(m.files.Exists(msi.CachedPackagePath(kCode)));
    EXPECT_TRUE(msi.IsInstalled(kCode));
    std::u16string related;
    EXPECT_EQ(0u, msi.EnumRelatedProducts(W(kUpgrade), 0, related));
    // No cached package and no source: the uninstall cannot run.
    EXPECT_EQ(1612u, Configure());
    EXPECT_TRUE(msi.IsInstalled(kCode));

    // The package back at its source lets it run.
    m.files.AddDrive('D');
    p.sourceKept = true;
    ASSERT_TRUE(msi.Install(p));
    ASSERT_TRUE(m.files.Remove(msi.CachedPackagePath(kCode)));
    EXPECT_TRUE(m.files.Exists("D:\\Setup\\agent.msi"));
    EXPECT_EQ(0u, Configure());
    EXPECT_FALSE(msi.IsInstalled(kCode));
}

TEST_F(SimInstallerTest, InstalledPropertiesNeedTheirKey) {
    ASSERT_TRUE(msi.Install(Product()));
    RegKey software = 0;
    ASSERT_EQ(0u,
              m.registry.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key, software));
    ASSERT_EQ(0u, m.registry.SHDeleteKey(
                      software, std::string("Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
                                            "S-1-5-18\\Products\\") +
                                    kPacked));
    m.registry.CloseKey(software);
    char16_t buffer[64];
    uint32_t chars = 64;
    EXPECT_EQ(kErrorUnknownProperty, msi.GetProductInfo(W(kCode), u"VersionString", buffer, &chars));
    chars = 64;
    EXPECT_EQ(0u, msi.GetProductInfo(W(kCode), u"PackageName", buffer, &chars));
    EXPECT_EQ(u"agent.msi", std::u16string(buffer, chars));
    EXPECT_EQ(kErrorBadConfiguration, Configure());
}

TEST_F(SimInstallerTest, PackagesThatCannotBeUsed) {
    m.files.CreateFile("C:\\Temp\\notes.msi", "not a package");
    m.files.CreateDirectories("C:\\Temp\\folder.msi");
    EXPECT_EQ(1620u, msi.InstallProduct(u"C:\\Temp\\notes.msi", W(kUninstall)));
    EXPECT_EQ(kErrorInstallPackageOpenFailed, msi.InstallProduct(u"C:\\Temp\\folder.msi", W(kUninstall)));
    EXPECT_EQ(kErrorInstallPackageOpenFailed, msi.InstallProduct(u"", W(kUninstall)));
    EXPECT_EQ(kErrorInvalidParameter,
              msi.ConfigureProductEx(W(kCode), kInstallLevelMaximum, 99, W(kUninstall)));
    EXPECT_EQ(kErrorUnknownProduct, Configure());
}

TEST_F(SimInstallerTest, ValuesThatAreNotProductCodesAreSkipped) {
    ASSERT_TRUE(msi.Install(Product()));
    m.registry.SetString(kInstaller + "\\UpgradeCodes\\" + kPackedUpgrade, "0Stray", "", View::K64);
    std::u16string code;
    EXPECT_EQ(0u, msi.EnumRelatedProducts(W(kUpgrade), 0, code));
    EXPECT_EQ(W(kCode), code);
    EXPECT_EQ(kErrorNoMoreItems, msi.EnumRelatedProducts(W(kUpgrade), 1, code));
}

TEST_F(SimInstallerTest, FaultsAndTheRecordOfCalls) {
    ASSERT_TRUE(msi.Install(Product()));
    EXPECT_EQ(static_cast<uint32_t>(kInstallUiLevelDefault), msi.SetInternalUI(kInstallUiLevelNone));

    m.faults.Fail("MsiEnumRelatedProductsW", kErrorInstallFailure);
    m.faults.Fail("MsiGetProductInfoW", kErrorOutOfMemory);
    m.faults.Fail("MsiConfigureProductExW", kErrorInstallAlreadyRunning);
    m.faults.Fail("MsiInstallProductW", kErrorInstallUserexit);
    m.faults.Fail("MsiSetInternalUI", kErrorInstallFailure);
    std::u16string code = u"untouched";
    EXPECT_EQ(static_cast<uint32_t>(kErrorInstallFailure), msi.EnumRelatedProducts(W(kUpgrade), 0, code));
    EXPECT_EQ(u"untouched", code);
    uint32_t chars = 7;
    EXPECT_EQ(static_cast<uint32_t>(kErrorOutOfMemory),
              msi.GetProductInfo(W(kCode), u"Publisher", nullptr, &chars));
    EXPECT_EQ(7u, chars);
    EXPECT_EQ(static_cast<uint32_t>(kErrorInstallAlreadyRunning), Configure());
    EXPECT_EQ(static_cast<uint32_t>(kErrorInstallUserexit),
              msi.InstallProduct(W(msi.CachedPackagePath(kCode)), W(kUninstall)));
    EXPECT_EQ(static_cast<uint32_t>(kInstallUiLevelNoChange), msi.SetInternalUI(kInstallUiLevelFull));
    EXPECT_EQ(static_cast<uint32_t>(kInstallUiLevelNone), msi.uiLevel);
    EXPECT_TRUE(msi.IsInstalled(kCode));

    ASSERT_EQ(0u, Configure());
    EXPECT_EQ(static_cast<uint32_t>(kInstallUiLevelNone), msi.SetInternalUI(kInstallUiLevelDefault));

    struct Expected {
        const char* call;
        uint32_t uiLevel;
        uint32_t result;
    };
    const Expected expected[] = {{"MsiSetInternalUI", kInstallUiLevelDefault, kInstallUiLevelDefault},
                                 {"MsiConfigureProductExW", kInstallUiLevelNone, kErrorInstallAlreadyRunning},
                                 {"MsiInstallProductW", kInstallUiLevelNone, kErrorInstallUserexit},
                                 {"MsiSetInternalUI", kInstallUiLevelNone, kInstallUiLevelNoChange},
                                 {"MsiConfigureProductExW", kInstallUiLevelNone, 0},
                                 {"MsiSetInternalUI", kInstallUiLevelNone, kInstallUiLevelNone}};
    ASSERT_EQ(std::size(expected), msi.calls.size());
    for (size_t i = 0; i < msi.calls.size(); ++i) {
        EXPECT_EQ(expected[i].call, msi.calls[i].call) << i;
        EXPECT_EQ(expected[i].uiLevel, msi.calls[i].uiLevel) << i;
        EXPECT_EQ(expected[i].result, msi.calls[i].result) << i;
    }
    EXPECT_EQ(kCode, msi.calls[1].target);
    EXPECT_EQ(kUninstall, msi.calls[1].commandLine);
    ASSERT_EQ(2u, msi.queries.size());
    EXPECT_EQ("MsiGetProductInfoW", msi.queries[1].call);
    EXPECT_EQ("Publisher", msi.queries[1].commandLine);
}

}  // namespace
