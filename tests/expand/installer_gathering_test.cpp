// The installer-database gathering on a simulated 64-bit machine whose registry is laid out
// as the installer writes it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "actions/removal_fixture.h"
#include "expand/installer_guid.h"

namespace removal_testing {
namespace {

using platform::sim::View;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

const std::string kHklm = "HKEY_LOCAL_MACHINE\\";
const std::string kInstaller = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::string kProducts = kInstaller + "\\UserData\\S-1-5-18\\Products";
const std::string kComponents = kInstaller + "\\UserData\\S-1-5-18\\Components";
const std::string kUpgradeCodes = kInstaller + "\\UpgradeCodes";
const std::string kFolders = kInstaller + "\\Folders";
const std::string kClasses = "SOFTWARE\\Classes\\Installer";
const std::string kUserMuiCache = "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
const std::string kDefaultMuiCache =
    "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";

const std::string kMakerCode = "{6B1A2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}";
const std::string kMakerUpgrade = "{0F1E2D3C-4B5A-4968-8776-655443322110}";
const std::string kOtherCode = "{A1B2C3D4-E5F6-4071-8293-A4B5C6D7E8F9}";
const std::string kOtherUpgrade = "{99887766-5544-4332-9110-FFEEDDCCBBAA}";
const std::string kSharedComponent = "{C0C0C0C0-1111-4222-8333-444455556666}";
const std::string kMakerComponent = "{D0D0D0D0-1111-4222-8333-444455556666}";
const std::string kOtherComponent = "{E0E0E0E0-1111-4222-8333-444455556666}";

std::string Packed(const std::string& braced) { return expand::DarwinTransform(braced.c_str()); }

std::vector<std::string> Items(engine::TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) out.emplace_back(s);
    return out;
}

// The bytes of a literal, without the terminator the literal itself adds.
template <size_t N>
std::vector<uint8_t> Raw(const char (&text)[N]) {
    return std::vector<uint8_t>(text, text + N - 1);
}

struct Registration {
    std::string code, upgrade;
    const char* publisher;
    const char* localPackage;
    std::vector<std::pair<std::string, std::string>> components;  // code, key path
};

class InstallerGatheringTest : public RemovalTest {
  protected:
    void SetUp() override {
        RemovalTest::SetUp();
        // Every area present, so that only what a test takes away is reported missing.
        for (const std::string& area : {kProducts, kComponents, kUpgradeCodes, kFolders})
            m.registry.CreatePath(kHklm + area, View::K64);
        m.registry.CreatePath(kHklm + kClasses + "\\UpgradeCodes", View::K64);
        m.registry.CreatePath(kUserMuiCache, View::K64);
        m.registry.CreatePath(kDefaultMuiCache, View::K64);
    }

    // Deletes a key with its subtree in the 64-bit view.
    void DeleteKey64(platform::RegKey root, const std::string& parent, const std::string& name) {
        platform::RegKey key = 0;
        ASSERT_EQ(
            0u, m.registry.OpenKeyEx(root, parent, platform::kKeyAllAccess | platform::kKeyWow64_64Key, key));
        EXPECT_EQ(0u, m.registry.SHDeleteKey(key, name));
        m.registry.CloseKey(key);
    }

    // What the installer writes for a per-machine product.
    void Register(const Registration& r) {
        const std::string p = Packed(r.code), u = Packed(r.upgrade);
        const std::string properties = kHklm + kProducts + "\\" + p + "\\InstallProperties";
        m.registry.CreatePath(properties, View::K64);
        if (r.publisher) m.registry.SetString(properties, "Publisher", r.publisher, View::K64);
        if (r.localPackage) m.registry.SetString(properties, "LocalPackage", r.localPackage, View::K64);
        m.registry.SetString(kHklm + kUpgradeCodes + "\\" + u, p, "", View::K64);
        m.registry.SetString(kHklm + kClasses + "\\UpgradeCodes\\" + u, p, "", View::K64);
        m.registry.SetString(kHklm + kClasses + "\\Features\\" + p, "Main", "", View::K64);
        m.registry.SetString(kHklm + kClasses + "\\Products\\" + p, "ProductName", "X", View::K64);
        for (const auto& c : r.components)
            m.registry.SetString(kHklm + kComponents + "\\" + Packed(c.first), p, c.second, View::K64);
    }
    void RegisterMaker(const char* localPackage = "C:\\Windows\\Installer\\1a2b.msi") {
        if (localPackage) m.files.CreateFile(localPackage);
        Register({kMakerCode,
                  kMakerUpgrade,
                  "KELVARIS Corp.",
                  localPackage,
                  {{kMakerComponent, "C:\\Program Files\\Kelvaris\\kv.exe"},
                   {kSharedComponent, "C:\\Program Files\\Common Files\\shared.dll"}}});
    }
    // What the product scan lists for the maker's product of RegisterMaker.
    std::vector<std::string> MakerKeys() {
        const std::string p = Packed(kMakerCode), u = Packed(kMakerUpgrade);
        return {kHklm + kProducts + "\\" + p,
                kHklm + kUpgradeCodes + "\\" + u,
                kHklm + kClasses + "\\UpgradeCodes\\" + u,
                kHklm + kClasses + "\\Features\\" + p,
                kHklm + kClasses + "\\Products\\" + p,
                kHklm + kComponents + "\\" + Packed(kMakerComponent),
                kHklm + kComponents + "\\" + Packed(kSharedComponent)};
    }
};

// --- the match modes ---

TEST_F(InstallerGatheringTest, ExactNameModeListsEachUpgradeCodeKeyNamingTheProductInAnyCase) {
    const std::string p = Packed("{6b1a2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}");  // lower-case digits
    m.registry.SetString(kHklm + kUpgradeCodes + "\\A", p, "", View::K64);
    m.registry.SetString(kHklm + kUpgradeCodes + "\\B", p + "0", "", View::K64);     // longer name
    m.registry.SetString(kHklm + kUpgradeCodes + "\\C", "Other", p, View::K64);      // data only
    m.registry.SetString(kHklm + kClasses + "\\UpgradeCodes\\D", p, "", View::K32);  // shared Classes

    EXPECT_EQ(0u, nuke.GatherCurrentVersionInstallerUpgradeCodeKeys(Packed(kMakerCode).c_str()));
    EXPECT_EQ(0u, nuke.GatherClassesInstallerUpgradeCodeKeys(Packed(kMakerCode).c_str()));

    EXPECT_THAT(Items(nuke.removeRegKeyList),
                ElementsAre(kHklm + kClasses + "\\UpgradeCodes\\D", kHklm + kUpgradeCodes + "\\A"));
    EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(InstallerGatheringTest, NameContainsModeListsFolderValuesLowerCasedAndTheyAreDeletedBack) {
    const std::string folders = kHklm + kFolders;
    m.registry.SetString(folders, "C:\\Program Files\\Kelvaris\\Common\\", "", View::K64);
    m.registry.SetString(folders, "C:\\Program Files\\Other\\", "Kelvaris", View::K64);  // data only
    m.registry.SetString(folders, "C:\\" + std::string(250, 'K') + "\\Kelvaris\\", "", View::K64);

    EXPECT_EQ(0u, nuke.GatherInstallerFolderValues());

    const std::string listed = folders + "\\c:---program files---kelvaris---common---";
    EXPECT_THAT(Items(nuke.removeRegValueList), ElementsAre(listed));
    ASSERT_EQ(1u, Records().size());
    EXPECT_EQ(3, Records()[0].level);
    EXPECT_THAT(
        Records()[0].message,
        ::testing::StartsWith("CNuke::EnumerateRegKeyAndMatchValue: Registry text too long, not listed: "
                              "'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"));

    // The value deletion turns the text back into the folder's own value name.
    EXPECT_EQ(0u, nuke.ExpandLists());
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_FALSE(m.registry.ValueExists(folders, "C:\\Program Files\\Kelvaris\\Common\\", View::K64));
    EXPECT_TRUE(m.registry.ValueExists(folders, "C:\\Program Files\\Other\\", View::K64));
}

TEST_F(InstallerGatheringTest, MuiCachesAreMatchedByTheExecutablePathInBothProfiles) {
    m.registry.SetString(kUserMuiCache, "C:\\Program Files\\KELVARIS\\kv.exe", "Agent", View::K64);
    m.registry.SetString(kUserMuiCache, "C:\\Tools\\x.exe", "Kelvaris helper", View::K64);
    m.registry.SetString(kDefaultMuiCache, "C:\\Kelvaris\\setup.exe", "Setup", View::K64);

    EXPECT_EQ(0u, nuke.GatherMUICaches());
    EXPECT_THAT(Items(nuke.removeRegValueList),
                UnorderedElementsAre(kUserMuiCache + "\\c:---program files---kelvaris---kv.exe",
                                     kDefaultMuiCache + "\\c:---kelvaris---setup.exe"));

    // A missing first cache is reported, and the second is still read.
    engine::CNuke second(m.platform());
    DeleteKey64(platform::kHkeyCurrentUser, "SOFTWARE\\Microsoft\\Windows", "ShellNoRoam");
    EXPECT_EQ(0u, second.GatherMUICaches());
    EXPECT_THAT(Items(second.removeRegValueList),
                ElementsAre(kDefaultMuiCache + "\\c:---kelvaris---setup.exe"));
    EXPECT_THAT(Messages(),
                ElementsAre("3 CNuke::EnumerateRegKeyAndMatchValue: EnumerateRegKeyAndMatchValue: "
                            "Failed to open 'SOFTWARE\\Microsoft\\Windows\\ShellNoRoam\\MUICache' "
                            "with error '2'",
                            "3 CNuke::GatherMUICaches: GatherMUICaches: EnumerateRegKeyAndMatchValue "
                            "returned error '2'"));
}

TEST_F(InstallerGatheringTest, DataContainsModeReadsEveryValueTypeAsTextUpToItsFirstZero) {
    const std::string c = kHklm + kComponents + "\\";
    m.registry.SetString(c + "SZ", "P1", "C:\\Program Files\\KELVARIS\\x.dll", View::K64);
    m.registry.SetString(c + "EXPAND", "P1", "%ProgramFiles%\\Kelvaris\\y.dll", View::K64,
                         platform::kRegExpandSz);
    // Binary data that ends in the name, with no terminator anywhere.
    m.registry.Set(c + "BINARY", "P1", platform::kRegBinary, Raw("C:\\kelvaris"), View::K64);
    m.registry.Set(c + "MULTI", "P1", platform::kRegMultiSz, Raw("C:\\KELVARIS\\a\0b\0"), View::K64);
    m.registry.Set(c + "MULTI2", "P1", platform::kRegMultiSz, Raw("C:\\a\0C:\\Kelvaris\\b\0"), View::K64);
    m.registry.Set(c + "AFTERZERO", "P1", platform::kRegBinary, Raw("C:\\\0Kelvaris"), View::K64);
    m.registry.SetString(c + "OTHER", "P1", "C:\\Program Files\\Kelvari\\z.dll", View::K64);

    EXPECT_EQ(0u, nuke.GatherS1518ComponentQtAssemblies());
    EXPECT_THAT(Items(nuke.removeRegKeyList), ElementsAre(c + "BINARY", c + "EXPAND", c + "MULTI", c + "SZ"));
}

// --- failures ---

TEST_F(InstallerGatheringTest, MissingAreaOrFailingQueryIsReportedAndAddsNothing) {
    DeleteKey64(platform::kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "Installer");
    EXPECT_EQ(2u, nuke.GatherS1518ComponentQtAssemblies());
    m.faults.Fail("RegQueryInfoKeyA", platform::kErrorAccessDenied);
    EXPECT_EQ(5u, nuke.GatherClassesInstallerUpgradeCodeKeys(Packed(kMakerCode).c_str()));

    EXPECT_TRUE(nuke.removeRegKeyList.IsEmpty());
    EXPECT_THAT(
        Messages(),
        ElementsAre("3 CNuke::EnumerateRegKeyEnumerateSubKeysAndMatchValue: "
                    "EnumerateRegKeyEnumerateSubKeysAndMatchValue: Failed to open '" +
                        kComponents + "', reported error '2'",
                    "3 CNuke::GatherS1518ComponentQtAssemblies: GatherS1518ComponentQtAssemblies: "
                    "EnumerateRegKeyEnumerateSubKeysAndMatchValue returned error '2'",
                    "3 CNuke::EnumerateRegKeyEnumerateSubKeysAndMatchValue: "
                    "EnumerateRegKeyEnumerateSubKeysAndMatchValue: Failed to query info for "
                    "'SOFTWARE\\Classes\\Installer\\UpgradeCodes' with error '5'",
                    "3 CNuke::GatherClassesInstallerUpgradeCodeKeys: GatherClassesInstallerUpgradeCodeKeys: "
                    "EnumerateRegKeyEnumerateSubKeysAndMatchValue returned error '5'"));
}

TEST_F(InstallerGatheringTest, OnlyTheLastSubkeysFailureBecomesTheGatherersResult) {
    const std::string p = Packed(kMakerCode);
    for (const char* key : {"A", "B", "C"})
        m.registry.SetString(kHklm + kUpgradeCodes + "\\" + key, p, "", View::K64);
    const std::string failedOpen =
        "3 CNuke::EnumerateRegKeyAndMatchValue: EnumerateRegKeyAndMatchValue: Failed to "
        "open '" +
        kUpgradeCodes + "\\B' with error '5'";

    // Opens: the area, then A, B, C.
    m.faults.Fail("RegOpenKeyExA", platform::kErrorAccessDenied, 1, 2);
    EXPECT_EQ(0u, nuke.GatherCurrentVersionInstallerUpgradeCodeKeys(p.c_str()));
    EXPECT_THAT(Messages(), ElementsAre(failedOpen));
    EXPECT_THAT(Items(nuke.removeRegKeyList),
                ElementsAre(kHklm + kUpgradeCodes + "\\A", kHklm + kUpgradeCodes + "\\C"));

    m.faults.Fail("RegOpenKeyExA", platform::kErrorAccessDenied, 1, 3);
    EXPECT_EQ(5u, nuke.GatherCurrentVersionInstallerUpgradeCodeKeys(p.c_str()));
    EXPECT_THAT(Messages(), Contains("3 CNuke::GatherCurrentVersionInstallerUpgradeCodeKeys: "
                                     "GatherCurrentVersionInstallerUpgradeCodeKeys: "
                                     "EnumerateRegKeyEnumerateSubKeysAndMatchValue returned error '5'"));
}

// --- the product scan ---

TEST_F(InstallerGatheringTest, ProductScanListsTheMakersProductsWithEverythingThatNamesThem) {
    RegisterMaker();
    Register({kOtherCode,
              kOtherUpgrade,
              "Kelvari Ltd",
              "C:\\Windows\\Installer\\9f.msi",
              {{kOtherComponent, "C:\\Program Files\\Kelvari\\k.exe"}}});
    m.registry.SetString(kHklm + kFolders, "C:\\Program Files\\Kelvaris\\", "", View::K64);

    nuke.ProductBasedMSIRemoval();

    EXPECT_THAT(Items(nuke.removeRegKeyList), UnorderedElementsAreArray(MakerKeys()));
    EXPECT_THAT(Items(nuke.fileList), ElementsAre("C:\\Windows\\Installer\\1a2b.msi"));
    EXPECT_THAT(Items(nuke.removeRegValueList),
                ElementsAre(kHklm + kFolders + "\\c:---program files---kelvaris---"));
    EXPECT_THAT(Messages(),
                ElementsAre("5 CNuke::ProductBasedMSIRemoval: ProductBasedMSIRemoval: cleaning MSI "
                            "registry database with product id '" +
                                Packed(kMakerCode) + "'...",
                            "4 CNuke::ProductBasedMSIRemoval: ProductBasedMSIRemoval: adding local "
                            "cache MSI package 'C:\\Windows\\Installer\\1a2b.msi' for deletion..."));
}

TEST_F(InstallerGatheringTest, ProductWithoutCachedPackageStillHasItsKeysListed) {
    RegisterMaker(nullptr);
    nuke.ProductBasedMSIRemoval();
    EXPECT_EQ(MakerKeys().size(), nuke.removeRegKeyList.Count());
    EXPECT_TRUE(nuke.fileList.IsEmpty());
    EXPECT_TRUE(Logged(3,
                       "CNuke::ProductBasedMSIRemoval: ProductBasedMSIRemoval: local cache MSI package '' "
                       "retrieve failed with error '2'..."));
}

TEST_F(InstallerGatheringTest, OnlyAFileDirectlyInTheInstallersCacheFolderIsListedAsThePackage) {
    const std::string in = "C:\\Windows\\Installer\\",
                      notListed =
                          "CNuke::ProductBasedMSIRemoval: "
                          "ProductBasedMSIRemoval: value 'LocalPackage' of '" +
                          kHklm + kProducts + "\\" + Packed(kMakerCode) +
                          "\\InstallProperties' names no file in 'C:\\WINDOWS\\INSTALLER', not listed: '";
    m.files.AddDrive('D');
    for (const std::string& f :
         {in + "x.msi", in + "Sub\\x.msi", in + "Folder\\y", "D" + in.substr(1) + "x.msi"})
        m.files.CreateFile(f);
    ASSERT_TRUE(m.files.SetShortName("C:\\Windows\\Installer", "INSTAL~1"));
    const std::pair<std::string, size_t> rows[] = {{"c:/windows//INSTAL~1\\x.msi", 1},
                                                   {in + "Sub\\x.msi", 0},
                                                   {in + "..\\Installer\\x.msi", 0},
                                                   {in + "Folder", 0},
                                                   {"D" + in.substr(1) + "x.msi", 0},
                                                   {in + "x.msi:s", 0},
                                                   {in + "gone.msi", 0}};
    for (const auto& row : rows) {
        engine::CNuke fresh(m.platform());
        Register({kMakerCode, kMakerUpgrade, "Kelvaris", row.first.c_str(), {}});
        fresh.ProductBasedMSIRemoval();
        EXPECT_EQ(row.second, fresh.fileList.Count()) << row.first;
        EXPECT_EQ(row.second == 0, Logged(3, notListed + row.first + "'")) << row.first;
    }
}

TEST_F(InstallerGatheringTest, ACachedPackageNamedInAKeyAStandardUserCanWriteIsNotListed) {
    RegisterMaker();
    const std::string properties = kHklm + kProducts + "\\" + Packed(kMakerCode) + "\\InstallProperties";
    m.registry.SecurityOf(properties, View::K64)->sddl += "(A;;0x2;;;S-1-5-32-545)";
    nuke.ProductBasedMSIRemoval();
    EXPECT_EQ(MakerKeys().size(), nuke.removeRegKeyList.Count());
    EXPECT_TRUE(nuke.fileList.IsEmpty());
    EXPECT_TRUE(Logged(3, "CNuke::ProductBasedMSIRemoval: values of '" + properties +
                              "' are not used: a standard user can change that key"));
}

TEST_F(InstallerGatheringTest, WithoutMakerProductsOnlyFoldersAndCachesAddAndWithoutTheAreaNothingRuns) {
    Register({kOtherCode, kOtherUpgrade, "Kelvari Ltd", "C:\\x.msi", {}});
    m.registry.SetString(kHklm + kFolders, "C:\\Kelvaris\\", "", View::K64);
    m.registry.SetString(kUserMuiCache, "C:\\Kelvaris\\kv.exe", "", View::K64);
    nuke.ProductBasedMSIRemoval();
    EXPECT_TRUE(nuke.removeRegKeyList.IsEmpty());
    EXPECT_TRUE(nuke.fileList.IsEmpty());
    EXPECT_EQ(2u, nuke.removeRegValueList.Count());

    engine::CNuke fresh(m.platform());
    DeleteKey64(platform::kHkeyLocalMachine, kInstaller + "\\UserData\\S-1-5-18", "Products");
    fresh.ProductBasedMSIRemoval();
    EXPECT_TRUE(fresh.removeRegValueList.IsEmpty());
    EXPECT_TRUE(Logged(3, "CNuke::ProductBasedMSIRemoval: ProductBasedMSIRemoval: Failed to open '" +
                              kProducts + "', reported error '2'"));
}

TEST_F(InstallerGatheringTest, PublisherAndSubkeyNamesAreReadWithinTheirBuffers) {
    const std::string properties = kHklm + kProducts + "\\" + Packed(kMakerCode) + "\\InstallProperties";
    RegisterMaker();
    // 260 bytes without a terminator fill the buffer exactly; 261 do not fit and are a failed read.
    std::string publisher = std::string(252, ' ') + "Kelvaris";
    m.registry.Set(properties, "Publisher", platform::kRegSz, {publisher.begin(), publisher.end()},
                   View::K64);
    ASSERT_EQ(260u, m.registry.GetValue(properties, "Publisher", View::K64)->data.size());
    nuke.ProductBasedMSIRemoval();
    EXPECT_EQ(MakerKeys().size(), nuke.removeRegKeyList.Count());

    engine::CNuke longer(m.platform());
    publisher.insert(0, " ");
    m.registry.Set(properties, "Publisher", platform::kRegSz, {publisher.begin(), publisher.end()},
                   View::K64);
    longer.ProductBasedMSIRemoval();
    EXPECT_TRUE(longer.removeRegKeyList.IsEmpty());

    // A product subkey that is no packed code is not joined into any key text.
    engine::CNuke odd(m.platform());
    DeleteKey64(platform::kHkeyLocalMachine, kInstaller + "\\UserData\\S-1-5-18", "Products");
    m.registry.SetString(kHklm + kProducts + "\\X\\InstallProperties", "Publisher", "Kelvaris", View::K64);
    odd.ProductBasedMSIRemoval();
    EXPECT_TRUE(odd.removeRegKeyList.IsEmpty());
    EXPECT_TRUE(Logged(3,
                       "CNuke::ProductBasedMSIRemoval: ProductBasedMSIRemoval: 'X' is not a packed product "
                       "code, skipped"));
    EXPECT_EQ(87u, odd.GatherClassesInstallerFeaturesKey(""));
    EXPECT_TRUE(odd.removeRegKeyList.IsEmpty());
}

// --- other publishers' products ---

TEST_F(InstallerGatheringTest, ComponentsSharedWithAnotherPublishersProductAreLeftAlone) {
    RegisterMaker();
    Register({kOtherCode,
              kOtherUpgrade,
              "Norvane Systems",
              "C:\\n.msi",
              {{kSharedComponent, "C:\\Program Files\\Common Files\\shared.dll"},
               {kOtherComponent, "C:\\Program Files\\Kelvaris\\plugin.dll"}}});
    // An orphaned registration of a product nobody has installed any more is a leftover.
    m.registry.SetString(kHklm + kComponents + "\\" + Packed(kMakerComponent), Packed(kOtherUpgrade), "C:\\y",
                         View::K64);

    nuke.ProductBasedMSIRemoval();
    EXPECT_EQ(0u, nuke.GatherS1518ComponentQtAssemblies());

    const std::string shared = kHklm + kComponents + "\\" + Packed(kSharedComponent);
    const std::string plugin = kHklm + kComponents + "\\" + Packed(kOtherComponent);
    EXPECT_THAT(Items(nuke.removeRegKeyList), Not(Contains(shared)));
    EXPECT_THAT(Items(nuke.removeRegKeyList), Not(Contains(plugin)));
    EXPECT_THAT(Items(nuke.removeRegKeyList), Contains(kHklm + kComponents + "\\" + Packed(kMakerComponent)));
    EXPECT_TRUE(Logged(4, "CNuke::GatherS1518ComponentKeys: GatherS1518ComponentKeys: component key '" +
                              shared + "' is shared with product '" + Packed(kOtherCode) +
                              "' of another publisher, not listed"));
    EXPECT_TRUE(Logged(4,
                       "CNuke::GatherS1518ComponentQtAssemblies: GatherS1518ComponentQtAssemblies: component "
                       "key '" +
                           plugin + "' is shared with product '" + Packed(kOtherCode) +
                           "' of another publisher, not listed"));

    EXPECT_TRUE(nuke.IsOtherPublishersProduct(Packed(kOtherCode).c_str()));
    EXPECT_FALSE(nuke.IsOtherPublishersProduct(Packed(kMakerCode).c_str()));
    EXPECT_FALSE(nuke.IsOtherPublishersProduct(Packed(kOtherUpgrade).c_str()));  // not registered
    EXPECT_FALSE(nuke.IsOtherPublishersProduct("X"));
    // Half removed, its publisher or all its properties gone: most likely the maker's own.
    Register({kMakerComponent, kOtherUpgrade, nullptr, nullptr, {}});
    EXPECT_FALSE(nuke.IsOtherPublishersProduct(Packed(kMakerComponent).c_str()));
    DeleteKey64(platform::kHkeyLocalMachine, kProducts + "\\" + Packed(kOtherCode), "InstallProperties");
    EXPECT_FALSE(nuke.IsOtherPublishersProduct(Packed(kOtherCode).c_str()));
}

// --- upgrade codes deleted directly ---

TEST_F(InstallerGatheringTest, UpgradeCodeRegistrationsAreDeletedInOrderAndTheInstallerAsked) {
    RegisterMaker();
    Register({kOtherCode, kOtherUpgrade, "Norvane Systems", nullptr, {}});
    const std::string u = Packed(kMakerUpgrade);

    nuke.RemoveUpgradeCodeDirectlyFromRegistry(kMakerUpgrade.c_str());

    EXPECT_THAT(m.registry.KeysUnder(kHklm + kUpgradeCodes, View::K64), ElementsAre(Packed(kOtherUpgrade)));
    EXPECT_THAT(m.registry.KeysUnder(kHklm + kClasses + "\\UpgradeCodes", View::K64),
                ElementsAre(Packed(kOtherUpgrade)));
    EXPECT_THAT(
        Messages(),
        ElementsAre(
            "4 CNuke::RemoveUpgradeCodeDirectlyFromRegistry: RemoveUpgradeCodeDirectlyFromRegistry: "
            "removing upgradecode '" +
                kMakerUpgrade + "' (Darwin " + u + ")",
            // The default view's records show the entries as normalised for the deletion.
            "5 CNuke::DeleteRegistryKey: Deleting registry key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\"
            "INSTALLER\\UPGRADECODES\\" +
                u + "' was successful",
            "4 CNuke::DeleteRegistryKey: Registry key 'HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\"
            "CURRENTVERSION\\INSTALLER\\UPGRADECODES\\" +
                u + "' not found, let's try 64bit side...",
            "5 CNuke::DeleteRegistryKey64bit: Deleting registry key 'HKEY_LOCAL_MACHINE\\" + kUpgradeCodes +
                "\\" + u + "' was successful",
            "4 CNuke::DeleteRegistryKey: Registry key 'HKEY_CLASSES_ROOT\\INSTALLER\\UPGRADECODES\\" + u +
                "' not found, let's try 64bit side...",
            "5 CNuke::DeleteRegistryKey64bit: Registry key 'HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\" +
                u + "' is missing already, nothing to delete...",
            "5 CNuke::VerifyRelatedProductsRemoved: VerifyRelatedProductsRemoved: No products left related "
            "to UpgradeCode " +
                kMakerUpgrade + " (ret 259)"));
}

TEST_F(InstallerGatheringTest, AnUpgradeCodeSharedWithAnotherPublishersProductKeepsItsRegistrations) {
    RegisterMaker();
    // Another publisher's product under the maker's upgrade code: its family must stay whole.
    Register({kOtherCode, kMakerUpgrade, "Norvane Systems", nullptr, {}});
    const std::string u = Packed(kMakerUpgrade);
    const std::string current = kHklm + kUpgradeCodes + "\\" + u;
    const std::string classes = kHklm + kClasses + "\\UpgradeCodes\\" + u;

    nuke.ProductBasedMSIRemoval();
    EXPECT_THAT(Items(nuke.removeRegKeyList), Not(Contains(current)));
    EXPECT_THAT(Items(nuke.removeRegKeyList), Not(Contains(classes)));
    EXPECT_TRUE(Logged(4,
                       "CNuke::GatherCurrentVersionInstallerUpgradeCodeKeys: "
                       "GatherCurrentVersionInstallerUpgradeCodeKeys: upgrade-code key '" +
                           current + "' is shared with product '" + Packed(kOtherCode) +
                           "' of another publisher, not listed"));

    nuke.RemoveUpgradeCodeDirectlyFromRegistry(kMakerUpgrade.c_str());
    EXPECT_TRUE(m.registry.ValueExists(current, Packed(kOtherCode), View::K64));
    EXPECT_TRUE(m.registry.ValueExists(classes, Packed(kOtherCode), View::K64));
    EXPECT_TRUE(
        Logged(4, "CNuke::RemoveUpgradeCodeDirectlyFromRegistry: RemoveUpgradeCodeDirectlyFromRegistry: '" +
                      std::string("HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\") + u +
                      "' also names product '" + Packed(kOtherCode) + "' of another publisher, kept"));
}

TEST_F(InstallerGatheringTest, UpgradeCodeThatIsNoBracedGuidTouchesNothing) {
    RegisterMaker();
    const std::string unbraced = kMakerUpgrade.substr(1, 36);
    nuke.RemoveUpgradeCodeDirectlyFromRegistry(unbraced.c_str());
    EXPECT_TRUE(m.registry.Exists(kHklm + kUpgradeCodes + "\\" + Packed(kMakerUpgrade), View::K64));
    EXPECT_THAT(Messages(), ElementsAre("3 CNuke::RemoveUpgradeCodeDirectlyFromRegistry: "
                                        "RemoveUpgradeCodeDirectlyFromRegistry: failed do Darwin transform "
                                        "UpgradeCode '" +
                                        unbraced + "'"));
}

// --- the installer's own answer ---

platform::sim::SimMsiProduct Product(const std::string& code, const std::string& upgrade,
                                     const char* publisher) {
    platform::sim::SimMsiProduct p;
    p.productCode = code;
    p.upgradeCode = upgrade;
    p.publisher = publisher;
    return p;
}

TEST_F(InstallerGatheringTest, EveryProductStillRelatedToTheUpgradeCodeIsReported) {
    const std::string noneLeft =
        "CNuke::VerifyRelatedProductsRemoved: VerifyRelatedProductsRemoved: No products "
        "left related to UpgradeCode " +
        kMakerUpgrade + " (ret 259)";
    const std::string stillHas =
        "CNuke::VerifyRelatedProductsRemoved: VerifyRelatedProductsRemoved: Warning! "
        "UpgradeCode " +
        kMakerUpgrade + " still has related product ";
    EXPECT_TRUE(nuke.VerifyRelatedProductsRemoved(kMakerUpgrade.c_str()));
    EXPECT_THAT(Messages(), ElementsAre("5 " + noneLeft));

    ASSERT_TRUE(m.installer.Install(Product(kMakerCode, kMakerUpgrade, "Kelvaris")));
    EXPECT_FALSE(nuke.VerifyRelatedProductsRemoved(kMakerUpgrade.c_str()));
    ASSERT_TRUE(m.installer.Install(Product(kOtherCode, kMakerUpgrade, "Kelvaris")));
    EXPECT_FALSE(nuke.VerifyRelatedProductsRemoved(kMakerUpgrade.c_str()));
    // One warning per product, in the order of the packed codes.
    EXPECT_THAT(Messages(), ElementsAre("5 " + noneLeft, "3 " + stillHas + kMakerCode,
                                        "3 " + stillHas + kOtherCode, "3 " + stillHas + kMakerCode));

    // A failing enumeration is no proof that nothing is left.
    m.faults.Fail("MsiEnumRelatedProductsW", platform::kErrorBadConfiguration, 1, 1);
    EXPECT_FALSE(nuke.VerifyRelatedProductsRemoved(kMakerUpgrade.c_str()));
    m.faults.Fail("MsiEnumRelatedProductsW", platform::kErrorBadConfiguration);
    EXPECT_FALSE(nuke.VerifyRelatedProductsRemoved(kMakerUpgrade.c_str()));
    const std::string failed =
        "3 CNuke::VerifyRelatedProductsRemoved: VerifyRelatedProductsRemoved: Enumerating "
        "products related to UpgradeCode " +
        kMakerUpgrade + " failed with error '1610'";
    EXPECT_THAT(Messages(),
                ElementsAre("5 " + noneLeft, "3 " + stillHas + kMakerCode, "3 " + stillHas + kOtherCode,
                            "3 " + stillHas + kMakerCode, "3 " + stillHas + kOtherCode, failed, failed));
}

// The whole path on an installation the installer itself wrote: gathered at list
// initialisation, expanded, deleted; the other publisher's product keeps working.
TEST_F(InstallerGatheringTest, InstalledMakerProductIsGoneAfterTheRemovalStepsAndTheOtherOneStays) {
    auto maker = Product(kMakerCode, kMakerUpgrade, "Kelvaris Corp.");
    maker.components = {{kMakerComponent, "C:\\Program Files\\Kelvaris\\kv.exe"},
                        {kSharedComponent, "C:\\Program Files\\Common Files\\shared.dll"}};
    maker.folders = {"C:\\Program Files\\Kelvaris\\"};
    auto other = Product(kOtherCode, kOtherUpgrade, "Norvane Systems");
    other.components = {{kSharedComponent, "C:\\Program Files\\Common Files\\shared.dll"},
                        {kOtherComponent, "C:\\Program Files\\Norvane\\n.exe"}};
    ASSERT_TRUE(m.installer.Install(maker));
    ASSERT_TRUE(m.installer.Install(other));
    const std::string cached = m.installer.CachedPackagePath(kMakerCode);
    const std::string package = m.files.Contents(cached);

    (void)nuke.GatherS1518ComponentQtAssemblies();
    nuke.ProductBasedMSIRemoval();
    EXPECT_EQ(0u, nuke.ExpandLists());
    EXPECT_EQ(0u, nuke.CleanupFiles());
    EXPECT_EQ(0u, nuke.CleanupRegValues());
    EXPECT_EQ(0u, nuke.CleanupRegKeys());

    EXPECT_FALSE(m.installer.IsInstalled(kMakerCode));
    EXPECT_TRUE(m.installer.IsInstalled(kOtherCode));
    EXPECT_TRUE(nuke.VerifyRelatedProductsRemoved(kMakerUpgrade.c_str()));
    EXPECT_FALSE(m.registry.Exists(kHklm + kProducts + "\\" + Packed(kMakerCode), View::K64));
    EXPECT_FALSE(m.registry.Exists(kHklm + kComponents + "\\" + Packed(kMakerComponent), View::K64));
    EXPECT_TRUE(m.registry.ValueExists(kHklm + kComponents + "\\" + Packed(kSharedComponent),
                                       Packed(kOtherCode), View::K64));
    EXPECT_TRUE(m.registry.Exists(kHklm + kComponents + "\\" + Packed(kOtherComponent), View::K64));
    EXPECT_THAT(m.registry.ValuesUnder(kHklm + kFolders, View::K64), IsEmpty());
    // The cached package leaves its place for the staging folder, where it is queued.
    EXPECT_FALSE(m.files.Exists(cached));
    std::vector<std::string> staged;
    for (const std::string& path : m.files.PendingDeletes())
        if (path.rfind("C:\\$SweepTool.Staging.", 0) == 0) staged.push_back(m.files.Contents(path));
    EXPECT_THAT(staged, Contains(package));
}

}  // namespace
}  // namespace removal_testing
