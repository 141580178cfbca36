// Windows Installer on both backends: related products of an upgrade code, the product
// properties and their buffer protocol, the registrations a per-machine installation
// leaves, the uninstall by product code and through a copy of the cached package, and the
// internal UI level.
//
// On the sim a test installs its products with SimInstaller::Install. Under Wine it installs
// real packages with msiexec: SWEEP_TEST_PACKAGES must name a folder holding the packages
// tests/windows/packages/contract_packages.sh builds; without it these tests skip. Each
// package is installed from a copy in the temporary folder that is deleted afterwards, so
// that, as on most machines, the installation source is gone and the cached package is the
// only copy left.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "contract/backend.h"
#include "msitool/product.h"
#include "platform/platform.h"

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include "platform/sim/sim_installer.h"
#endif

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xdeadbeef;
constexpr uint32_t kErrorInstallSourceAbsent = 1612;
const char kUninstallCommand[] = "REMOVE=ALL REBOOT=ReallySuppress";

struct Package {
    const char* file;
    const char* productCode;
    const char* packedProduct;
    const char* upgradeCode;
    const char* packedUpgrade;
    const char* name;
    const char* version;
    const char* publisher;
};

const Package kOne{"family1.msi",
                   "{5EE7C0DE-0001-4A11-9A11-000000000001}",
                   "ED0C7EE5100011A4A911000000000010",
                   "{5EE7C0DE-00F0-4A11-9A11-0000000000F1}",
                   "ED0C7EE50F0011A4A91100000000001F",
                   "Sweep Contract One",
                   "1.0.0",
                   "Kelvaris Contract"};
const Package kTwo{"family2.msi",
                   "{5EE7C0DE-0002-4A11-9A11-000000000002}",
                   "ED0C7EE5200011A4A911000000000020",
                   "{5EE7C0DE-00F0-4A11-9A11-0000000000F1}",
                   "ED0C7EE50F0011A4A91100000000001F",
                   "Sweep Contract Two",
                   "2.0.1",
                   "Kelvaris Contract"};
const Package kOther{"other.msi",
                     "{5EE7C0DE-0003-4A11-9A11-000000000003}",
                     "ED0C7EE5300011A4A911000000000030",
                     "{5EE7C0DE-00F0-4A11-9A11-0000000000F2}",
                     "ED0C7EE50F0011A4A91100000000002F",
                     "Sweep Contract Other",
                     "3.1",
                     "Other Contract Vendor"};
const Package* const kAll[] = {&kOne, &kTwo, &kOther};

const std::string kInstallerKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";

std::u16string W(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::string N(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}
std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}
// Where a package installs its one file: "[ProgramFilesFolder]<name>\<name>.txt" of a 32-bit package.
std::string InstalledFile(const Package& p) {
    return std::string("C:\\Program Files (x86)\\") + p.name + "\\" + p.name + ".txt";
}

#ifdef _WIN32
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

uint32_t RunMsiexec(const std::wstring& arguments) {
    std::wstring command = L"msiexec.exe " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return ::GetLastError();
    ::WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return code;
}
#endif

class InstallerContract : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        wchar_t folder[MAX_PATH] = {};
        DWORD n = ::GetEnvironmentVariableW(L"SWEEP_TEST_PACKAGES", folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) GTEST_SKIP() << "SWEEP_TEST_PACKAGES names no folder of test packages";
        packages_ = folder;
#endif
        Clean();
    }
    void TearDown() override { Clean(); }

    contract::Backend& backend() { return contract::GetBackend(); }
    IInstaller& msi() { return backend().os().msi; }
    IRegistry& reg() { return backend().os().reg; }
    IFileSystem& fs() { return backend().os().fs; }

    // Installs a package per machine, as an administrator does with msiexec /i.
    void Install(const Package& p) {
#ifdef _WIN32
        wchar_t temp[MAX_PATH] = {};
        ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
        std::wstring dir = std::wstring(temp) + L"SweepContractSource";
        ::CreateDirectoryW(dir.c_str(), nullptr);
        std::wstring copy = dir + L"\\" + Wide(p.file);
        ASSERT_TRUE(::CopyFileW((packages_ + L"\\" + Wide(p.file)).c_str(), copy.c_str(), FALSE))
            << p.file << " not in SWEEP_TEST_PACKAGES: " << ::GetLastError();
        uint32_t rc = RunMsiexec(L"/i \"" + copy + L"\" /qn");
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(dir.c_str());
        ASSERT_EQ(0u, rc) << "msiexec /i " << p.file;
#else
        auto& sim = dynamic_cast<sim::SimInstaller&>(msi());
        sim::SimMsiProduct product;
        product.productCode = p.productCode;
        product.upgradeCode = p.upgradeCode;
        product.name = p.name;
        product.version = p.version;
        product.publisher = p.publisher;
        product.packageName = p.file;
        std::string component = p.productCode;
        component[1] = 'C';
        product.components.push_back({component, InstalledFile(p)});
        component[2] = 'C';
        product.components.push_back(
            {component, std::string("02:\\SOFTWARE\\") + p.publisher + "\\" + p.name + "\\Version"});
        ASSERT_TRUE(sim.Install(product));
#endif
    }

    // Uninstalls what an earlier or failed case left (nothing on a fresh simulated machine).
    void Clean() {
#ifdef _WIN32
        for (const Package* p : kAll) {
            uint32_t chars = 0;
            if (msi().GetProductInfo(W(p->productCode), u"ProductName", nullptr, &chars) == 0)
                RunMsiexec(L"/x " + Wide(p->productCode) + L" /qn");
        }
#endif
    }

    // The related products of an upgrade code, until the first result other than 0.
    std::set<std::string> Related(const std::string& upgradeCode, uint32_t* end = nullptr) {
        std::set<std::string> codes;
        for (uint32_t i = 0; i < 10; ++i) {
            std::u16string code = u"untouched";
            uint32_t rc = msi().EnumRelatedProducts(W(upgradeCode), i, code);
            if (rc != 0) {
                EXPECT_EQ(u"untouched", code) << "index " << i;
                if (end) *end = rc;
                break;
            }
            codes.insert(N(code));
        }
        return codes;
    }

    uint32_t Info(const Package& p, const char16_t* property, std::string& value) {
        char16_t buffer[260];
        uint32_t chars = 260;
        uint32_t rc = msi().GetProductInfo(W(p.productCode), property, buffer, &chars);
        if (rc == 0) value = N(std::u16string(buffer, chars));
        return rc;
    }
    uint32_t InfoStatus(const Package& p, const char16_t* property) {
        std::string ignored;
        return Info(p, property, ignored);
    }

    // Keys and values of HKLM in the 64-bit view, where the installer keeps its database.
    bool Exists64(const std::string& path) { return Open(path, kKeyWow64_64Key) != 0; }
    RegKey Open(const std::string& path, uint32_t view) {
        RegKey key = 0;
        if (reg().OpenKeyEx(kHkeyLocalMachine, path, kKeyRead | view, key) != 0) return 0;
        opened_.emplace_back(&reg(), key);
        return key;
    }
    std::string Text64(const std::string& path, const char* name) {
        RegKey key = Open(path, kKeyWow64_64Key);
        char data[300] = {};
        uint32_t size = sizeof(data) - 1;
        if (key == 0 || reg().QueryValueEx(key, name, nullptr, data, &size) != 0) return "<missing>";
        return data;
    }
    // The data of the product's value in every component key that has one.
    std::vector<std::string> ComponentKeyPaths(const Package& p) {
        std::vector<std::string> paths;
        const std::string area = kInstallerKey + "\\UserData\\S-1-5-18\\Components";
        RegKey key = Open(area, kKeyWow64_64Key);
        if (key == 0) return paths;
        char name[64];
        for (uint32_t i = 0;; ++i) {
            uint32_t length = sizeof(name);
            if (reg().EnumKeyEx(key, i, name, &length) != 0) break;
            std::string value = Text64(area + "\\" + name, p.packedProduct);
            if (value != "<missing>") paths.push_back(value);
        }
        return paths;
    }
    bool FileExists(const std::string& path) {
        return fs().GetFileAttributesW(W(path)) != kInvalidFileAttributes;
    }

#ifdef _WIN32
    std::wstring packages_;
#endif
    std::vector<UniqueRegKey> opened_;
};

TEST_F(InstallerContract, RelatedProductsOfAnUpgradeCode) {
    Install(kOne);
    Install(kTwo);
    Install(kOther);

    uint32_t end = kSentinel;
    EXPECT_EQ((std::set<std::string>{kOne.productCode, kTwo.productCode}), Related(kOne.upgradeCode, &end));
    EXPECT_EQ(kErrorNoMoreItems, end);
    // The upgrade code is GUID text: its letter case does not matter.
    EXPECT_EQ(2u, Related(Lower(kOne.upgradeCode)).size());
    EXPECT_EQ(std::set<std::string>{kOther.productCode}, Related(kOther.upgradeCode));

    end = kSentinel;
    EXPECT_TRUE(Related("{5EE7C0DE-00F0-4A11-9A11-0000000000F9}", &end).empty());
    EXPECT_EQ(kErrorNoMoreItems, end);
}

TEST_F(InstallerContract, UpgradeCodeThatIsNotGuidText) {
    for (const char* bad : {"5EE7C0DE-00F0-4A11-9A11-0000000000F1", "{5EE7C0DE-00F0-4A11-9A11-0000000000F}",
                            "{5EE7C0DEx00F0-4A11-9A11-0000000000F1}", ""}) {
        uint32_t end = kSentinel;
        EXPECT_TRUE(Related(bad, &end).empty()) << bad;
        // Windows refuses it as a bad parameter; Wine's installer only finds no such key.
        EXPECT_EQ(backend().IsSim() ? kErrorInvalidParameter : kErrorNoMoreItems, end) << bad;
    }
}

TEST_F(InstallerContract, ProductProperties) {
    Install(kOne);
    std::string value;
    ASSERT_EQ(0u, Info(kOne, u"VersionString", value));
    EXPECT_EQ("1.0.0", value);
    ASSERT_EQ(0u, Info(kOne, u"Publisher", value));
    EXPECT_EQ("Kelvaris Contract", value);
    ASSERT_EQ(0u, Info(kOne, u"PackageName", value));
    EXPECT_EQ("family1.msi", value);
    ASSERT_EQ(0u, Info(kOne, u"ProductName", value));
    EXPECT_EQ("Sweep Contract One", value);
    ASSERT_EQ(0u, Info(kOne, u"LocalPackage", value));
    EXPECT_EQ(0u, Lower(value).find("c:\\windows\\installer\\")) << value;
    EXPECT_EQ(".msi", Lower(value.substr(value.size() - 4)));
    EXPECT_TRUE(FileExists(value)) << value;

    EXPECT_EQ(kErrorUnknownProperty, InfoStatus(kOne, u"NoSuchProperty"));
    EXPECT_EQ(kErrorUnknownProduct, InfoStatus(kTwo, u"VersionString"));
    Package notGuid = kOne;
    notGuid.productCode = "5EE7C0DE-0001-4A11-9A11-000000000001";
    EXPECT_EQ(kErrorInvalidParameter, InfoStatus(notGuid, u"VersionString"));
}

TEST_F(InstallerContract, ProductInfoBufferProtocol) {
    Install(kOne);
    const std::u16string code = W(kOne.productCode);
    char16_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), u'#');

    // Room for the text but not its terminator: 234 with the length, the buffer untouched.
    uint32_t chars = 5;
    EXPECT_EQ(kErrorMoreData, msi().GetProductInfo(code, u"VersionString", buffer, &chars));
    EXPECT_EQ(5u, chars);
    EXPECT_EQ(u'#', buffer[0]);
    chars = 0;
    EXPECT_EQ(kErrorMoreData, msi().GetProductInfo(code, u"VersionString", buffer, &chars));
    EXPECT_EQ(5u, chars);

    chars = 6;
    EXPECT_EQ(0u, msi().GetProductInfo(code, u"VersionString", buffer, &chars));
    EXPECT_EQ(5u, chars);
    EXPECT_EQ(u"1.0.0", std::u16string(buffer));
    EXPECT_EQ(u'#', buffer[6]);

    // No buffer asks the size.
    chars = kSentinel;
    EXPECT_EQ(0u, msi().GetProductInfo(code, u"Publisher", nullptr, &chars));
    EXPECT_EQ(17u, chars);
    // A buffer without its size is refused.
    EXPECT_EQ(kErrorInvalidParameter, msi().GetProductInfo(code, u"Publisher", buffer, nullptr));

    // Failures leave the size alone.
    chars = 16;
    EXPECT_EQ(kErrorUnknownProduct,
              msi().GetProductInfo(W(kTwo.productCode), u"VersionString", buffer, &chars));
    EXPECT_EQ(16u, chars);
    EXPECT_EQ(u'#', buffer[7]);
}

TEST_F(InstallerContract, RegistrationsOfAPerMachineInstallation) {
    Install(kOne);
    const std::string product = kOne.packedProduct;
    const std::string properties =
        kInstallerKey + "\\UserData\\S-1-5-18\\Products\\" + product + "\\InstallProperties";
    EXPECT_EQ("Kelvaris Contract", Text64(properties, "Publisher"));
    EXPECT_EQ("Sweep Contract One", Text64(properties, "DisplayName"));
    EXPECT_EQ("1.0.0", Text64(properties, "DisplayVersion"));
    std::string local;
    ASSERT_EQ(0u, Info(kOne, u"LocalPackage", local));
    EXPECT_EQ(local, Text64(properties, "LocalPackage"));

    EXPECT_TRUE(Exists64("SOFTWARE\\Classes\\Installer\\Products\\" + product));
    EXPECT_TRUE(Exists64("SOFTWARE\\Classes\\Installer\\Features\\" + product));
    EXPECT_EQ("", Text64("SOFTWARE\\Classes\\Installer\\UpgradeCodes\\" + std::string(kOne.packedUpgrade),
                         kOne.packedProduct));
    EXPECT_EQ("", Text64(kInstallerKey + "\\UpgradeCodes\\" + kOne.packedUpgrade, kOne.packedProduct));
    // The database is not in the 32-bit view.
    EXPECT_EQ(0u, Open(kInstallerKey + "\\UserData\\S-1-5-18\\Products\\" + product, 0));

    // One component holds the file, the other the registry value; both name the product.
    std::set<std::string> keyPaths;
    for (const auto& path : ComponentKeyPaths(kOne)) keyPaths.insert(path);
    EXPECT_EQ((std::set<std::string>{InstalledFile(kOne),
                                     "02:\\SOFTWARE\\Kelvaris Contract\\Sweep Contract One\\Version"}),
              keyPaths);
    EXPECT_TRUE(FileExists(InstalledFile(kOne)));

    // The add/remove-programs entry of a 32-bit package is in the 32-bit view.
    const std::string uninstall =
        std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kOne.productCode;
    EXPECT_NE(0u, Open(uninstall, 0));
    EXPECT_EQ(0u, Open(uninstall, kKeyWow64_64Key));
}

TEST_F(InstallerContract, UninstallByProductCode) {
    Install(kOne);
    Install(kOther);
    std::string local;
    ASSERT_EQ(0u, Info(kOne, u"LocalPackage", local));

    EXPECT_EQ(0u, msi().ConfigureProductEx(W(kOne.productCode), kInstallLevelMaximum, kInstallStateAbsent,
                                           W(kUninstallCommand)));
    EXPECT_FALSE(FileExists(InstalledFile(kOne)));
    EXPECT_FALSE(FileExists(local));
    EXPECT_EQ(kErrorUnknownProduct, InfoStatus(kOne, u"VersionString"));
    uint32_t end = kSentinel;
    EXPECT_TRUE(Related(kOne.upgradeCode, &end).empty());
    EXPECT_EQ(kErrorNoMoreItems, end);
    EXPECT_FALSE(Exists64(kInstallerKey + "\\UserData\\S-1-5-18\\Products\\" + kOne.packedProduct));
    EXPECT_FALSE(Exists64(std::string("SOFTWARE\\Classes\\Installer\\Products\\") + kOne.packedProduct));
    EXPECT_FALSE(Exists64(kInstallerKey + "\\UpgradeCodes\\" + kOne.packedUpgrade));
    EXPECT_TRUE(ComponentKeyPaths(kOne).empty());
    EXPECT_EQ(
        0u,
        Open(std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kOne.productCode, 0));

    // The other product is untouched; the removed one is unknown from now on.
    EXPECT_EQ(0u, InfoStatus(kOther, u"VersionString"));
    EXPECT_TRUE(FileExists(InstalledFile(kOther)));
    EXPECT_EQ(kErrorUnknownProduct, msi().ConfigureProductEx(W(kOne.productCode), kInstallLevelMaximum,
                                                             kInstallStateAbsent, W(kUninstallCommand)));
}

TEST_F(InstallerContract, UninstallOfOneProductOfAFamily) {
    Install(kOne);
    Install(kTwo);
    ASSERT_EQ(0u, msi().ConfigureProductEx(W(kTwo.productCode), kInstallLevelMaximum, kInstallStateAbsent,
                                           W(kUninstallCommand)));
    EXPECT_EQ(0u, InfoStatus(kOne, u"VersionString"));
    EXPECT_TRUE(FileExists(InstalledFile(kOne)));
    // Windows drops only the removed product's value; Wine's installer drops the whole
    // upgrade-code key, so the product left is no longer related to it.
    EXPECT_EQ(backend().IsSim() ? std::set<std::string>{kOne.productCode} : std::set<std::string>{},
              Related(kOne.upgradeCode));
}

TEST_F(InstallerContract, UninstallThroughACopyOfTheCachedPackage) {
    Install(kOne);
    std::string local, name;
    ASSERT_EQ(0u, Info(kOne, u"LocalPackage", local));
    ASSERT_EQ(0u, Info(kOne, u"PackageName", name));
    std::u16string temp;
    ASSERT_NE(0u, fs().GetTempPathW(260, temp));
    const std::u16string copy = temp + W(name);
    ASSERT_TRUE(fs().CopyFileW(W(local), copy, false)) << backend().os().sys.GetLastError();

    EXPECT_EQ(0u, msi().InstallProduct(copy, W(kUninstallCommand)));
    EXPECT_TRUE(fs().DeleteFileW(copy));
    EXPECT_EQ(kErrorUnknownProduct, InfoStatus(kOne, u"VersionString"));
    EXPECT_FALSE(FileExists(InstalledFile(kOne)));
    EXPECT_FALSE(FileExists(local));
    uint32_t end = kSentinel;
    EXPECT_TRUE(Related(kOne.upgradeCode, &end).empty());
    EXPECT_EQ(kErrorNoMoreItems, end);
}

// The tool's own way: through a copy in a folder made for it, gone afterwards.
TEST_F(InstallerContract, TheToolsCopyOfTheCachedPackageGoesThroughAFolderOfItsOwn) {
    Install(kOne);
    EXPECT_TRUE(msitool::Product(backend().os(), W(kOne.productCode)).UninstallFromCachedPackage());
    EXPECT_EQ(kErrorUnknownProduct, InfoStatus(kOne, u"VersionString"));
    std::u16string temp;
    ASSERT_NE(0u, fs().GetTempPathW(260, temp));
    FindDataW data;
    FindHandle find = 0;
    EXPECT_FALSE(fs().FindFirstFileW(temp + u"SweepTool.Package.*", data, find));
    if (find != 0) fs().FindClose(find);
}

TEST_F(InstallerContract, PackageThatIsNotThere) {
    std::u16string temp;
    ASSERT_NE(0u, fs().GetTempPathW(260, temp));
    // Windows cannot open the package (1619); Wine reports the missing file itself.
    EXPECT_EQ(backend().IsSim() ? uint32_t{kErrorInstallPackageOpenFailed} : uint32_t{kErrorFileNotFound},
              msi().InstallProduct(temp + u"SweepContractMissing.msi", W(kUninstallCommand)));
}

TEST_F(InstallerContract, CachedPackageMissingAndSourceGone) {
    Install(kOne);
    std::string local;
    ASSERT_EQ(0u, Info(kOne, u"LocalPackage", local));
    std::u16string temp;
    ASSERT_NE(0u, fs().GetTempPathW(260, temp));
    const std::u16string kept = temp + u"SweepContractKept.msi";
    ASSERT_TRUE(fs().CopyFileW(W(local), kept, false));
    ASSERT_TRUE(fs().DeleteFileW(W(local)));

    EXPECT_EQ(kErrorInstallSourceAbsent, msi().ConfigureProductEx(W(kOne.productCode), kInstallLevelMaximum,
                                                                  kInstallStateAbsent, W(kUninstallCommand)));
    EXPECT_EQ(0u, InfoStatus(kOne, u"VersionString"));
    EXPECT_TRUE(FileExists(InstalledFile(kOne)));

    // With the cache back, the uninstall goes through.
    ASSERT_TRUE(fs().CopyFileW(kept, W(local), false));
    EXPECT_TRUE(fs().DeleteFileW(kept));
    EXPECT_EQ(0u, msi().ConfigureProductEx(W(kOne.productCode), kInstallLevelMaximum, kInstallStateAbsent,
                                           W(kUninstallCommand)));
    EXPECT_EQ(kErrorUnknownProduct, InfoStatus(kOne, u"VersionString"));
}

TEST_F(InstallerContract, DeletedUpgradeCodeRegistrationsHideTheProduct) {
    Install(kOne);
    RegKey software = 0;
    ASSERT_EQ(0u, reg().OpenKeyEx(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key, software));
    UniqueRegKey owner(&reg(), software);
    EXPECT_EQ(0u, reg().SHDeleteKey(software,
                                    std::string("Classes\\Installer\\UpgradeCodes\\") + kOne.packedUpgrade));
    EXPECT_EQ(0u, reg().SHDeleteKey(
                      software, std::string("Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\") +
                                    kOne.packedUpgrade));

    uint32_t end = kSentinel;
    EXPECT_TRUE(Related(kOne.upgradeCode, &end).empty());
    EXPECT_EQ(kErrorNoMoreItems, end);
    // The product itself is still installed and can still be removed by its code.
    EXPECT_EQ(0u, InfoStatus(kOne, u"VersionString"));
    EXPECT_EQ(0u, msi().ConfigureProductEx(W(kOne.productCode), kInstallLevelMaximum, kInstallStateAbsent,
                                           W(kUninstallCommand)));
    EXPECT_FALSE(FileExists(InstalledFile(kOne)));
}

TEST_F(InstallerContract, InternalUiLevel) {
    const uint32_t original = msi().SetInternalUI(kInstallUiLevelNone);
    EXPECT_EQ(kInstallUiLevelNone, msi().SetInternalUI(kInstallUiLevelBasic));
    EXPECT_EQ(kInstallUiLevelBasic, msi().SetInternalUI(kInstallUiLevelNoChange));
    EXPECT_EQ(kInstallUiLevelBasic, msi().SetInternalUI(kInstallUiLevelNoChange));
    // A level the installer does not know changes nothing and answers "no change".
    EXPECT_EQ(kInstallUiLevelNoChange, msi().SetInternalUI(77));
    EXPECT_EQ(kInstallUiLevelBasic, msi().SetInternalUI(original));
}

}  // namespace
