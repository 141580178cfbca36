// What a per-machine installation of a 32-bit package leaves on 64-bit Windows, and what
// the installer's own calls read back. P, U and C are the packed forms (32 characters:
// the first three groups reversed, the characters of each byte of the last two swapped)
// of the product, upgrade and component codes. All keys are under HKEY_LOCAL_MACHINE in
// the native (64-bit) view unless said otherwise; HKEY_CLASSES_ROOT\Installer is the same
// as SOFTWARE\Classes\Installer.
//
//   SOFTWARE\Classes\Installer\Products\P            AdvertiseFlags 0x184, Assignment 0,
//       AuthorizedLUAApp 0, Clients (multi-string ":"), InstanceType 0, Language 0x409,
//       PackageCode, ProductName, Version (major << 24 | minor << 16 | build)
//     ...\SourceList                                 LastUsedSource "n;1;<folder>", PackageName
//     ...\SourceList\Media                           "1" = ";", DiskPrompt, MediaPackage
//     ...\SourceList\Net                             "1" = <folder> (expandable)
//   SOFTWARE\Classes\Installer\Features\P            one value per feature
//   SOFTWARE\Classes\Installer\UpgradeCodes\U        value P = ""
//   SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UpgradeCodes\U      value P = ""
//   ...\Installer\UserData\S-1-5-18\Components\C     value P = key path: a file path, or a
//       registry value as "02:\SOFTWARE\Maker\Product\Name" (02 = HKLM, 22 = its 64-bit view)
//   ...\Installer\UserData\S-1-5-18\Products\P\Features             one value per feature
//   ...\Installer\UserData\S-1-5-18\Products\P\InstallProperties    DisplayName,
//       DisplayVersion, Publisher, LocalPackage, InstallDate (yyyymmdd), InstallSource,
//       InstallLocation, UninstallString and ModifyPath ("MsiExec.exe /I{code}",
//       expandable), Version, VersionMajor, VersionMinor, Language, WindowsInstaller 1,
//       and empty texts for the other entries of the add/remove-programs list
//   ...\Installer\Folders                            value "<folder>\" = "" per folder
//       created (Windows writes these; Wine's installer does not)
//   32-bit view: SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{code}: the same
//       values as InstallProperties without LocalPackage
//   The cached package: C:\Windows\Installer\<hex>.msi, a copy of the package.
//
// MsiEnumRelatedProducts lists the value names of ...\CurrentVersion\Installer\UpgradeCodes\U
// (the Classes copy plays no part). MsiGetProductInfo knows a product while
// Classes\Installer\Products\P exists (else 1605); the installed properties (VersionString,
// Publisher, LocalPackage, ...) come from InstallProperties (1608 when that key is gone, an
// empty text for a missing value), the advertised ones (ProductName, PackageName, ...) from
// the Products key. An uninstall runs the cached package; when it is missing the installer
// looks for the package at its source and fails with 1612 when that is gone too (1610 when
// InstallProperties itself is gone). It removes every registration above: the product's
// value in each Components key, and the key with the component's file or registry value
// once no other product holds it; the product's value in each UpgradeCodes key, and the key
// once empty (Wine's installer drops the whole key, siblings included); the Products,
// Features and UserData keys; the Uninstall entry; the folders; the cached package.
//
// The sim's package files are texts naming the product they install; InstallProduct reads
// that name to find the product, as the real one reads the package's ProductCode property.
#include "platform/sim/sim_installer.h"

#include <cstdio>
#include <cstring>

#include "platform/ansi.h"

namespace platform::sim {

namespace {

const std::string kLm = "HKEY_LOCAL_MACHINE\\";
const std::string kInstaller = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::string kUserData = kInstaller + "\\UserData\\S-1-5-18";
const std::string kComponents = kUserData + "\\Components";
const std::string kUserDataProducts = kUserData + "\\Products";
const std::string kUpgradeCodes = kInstaller + "\\UpgradeCodes";
const std::string kFolders = kInstaller + "\\Folders";
const std::string kClassesInstaller = "SOFTWARE\\Classes\\Installer";
const std::string kClassesProducts = kClassesInstaller + "\\Products";
const std::string kClassesFeatures = kClassesInstaller + "\\Features";
const std::string kClassesUpgradeCodes = kClassesInstaller + "\\UpgradeCodes";
const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kSoftwarePrefix = "SOFTWARE\\";
const char kFeature[] = "DefaultFeature";
const char kPackageMagic[] = "SimMsiPackage";
const char kPackageProductCode[] = "ProductCode=";

constexpr uint32_t kErrorInstallSourceAbsent = 1612;
constexpr uint32_t kErrorInstallPackageInvalid = 1620;
// The bits of an INSTALLUILEVEL that are flags rather than the level.
constexpr uint32_t kUiLevelFlags = 0x20 | 0x40 | 0x80 | 0x100 | 0x200;

// For each packed position, the position of the braced text it comes from.
constexpr unsigned char kPackedFrom[32] = {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
                                           21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsGuidText(const std::string& s) {
    if (s.size() != kGuidTextChars || s.front() != '{' || s.back() != '}') return false;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? s[i] != '-' : !IsHex(s[i])) return false;
    }
    return true;
}

bool IsPacked(const std::string& s) {
    if (s.size() != sizeof(kPackedFrom)) return false;
    for (char c : s)
        if (!IsHex(c)) return false;
    return true;
}

std::string Pack(const std::string& braced) {
    std::string packed(sizeof(kPackedFrom), '0');
    for (size_t i = 0; i < packed.size(); ++i) packed[i] = braced[kPackedFrom[i]];
    return packed;
}

std::string Unpack(const std::string& packed) {
    std::string braced = "{00000000-0000-0000-0000-000000000000}";
    for (size_t i = 0; i < packed.size(); ++i) braced[kPackedFrom[i]] = packed[i];
    return braced;
}

bool SameText(const std::string& a, const std::string& b) {
    return AnsiCompareNoCase(a.c_str(), b.c_str()) == 0;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::string WithBackslash(std::string path) {
    if (path.empty() || path.back() != '\\') path += '\\';
    return path;
}

std::string WithoutBackslash(std::string path) {
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

std::string Parent(const std::string& path) {
    size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::u16string Wide(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

// "1.2.3" as the installer's Version value: major << 24 | minor << 16 | build.
void ParseVersion(const std::string& text, uint32_t& major, uint32_t& minor, uint32_t& build) {
    uint32_t parts[3] = {0, 0, 0};
    size_t part = 0;
    for (char c : text) {
        if (c == '.') {
            if (++part == 3) break;
        } else if (c >= '0' && c <= '9' && parts[part] < 0x10000) {
            parts[part] = parts[part] * 10 + static_cast<uint32_t>(c - '0');
        }
    }
    major = parts[0] & 0xff;
    minor = parts[1] & 0xff;
    build = parts[2] & 0xffff;
}

// A key path in the installer's registry notation ("02:\SOFTWARE\X\Name").
struct RegistryKeyPath {
    RegKey root = 0;
    std::string rootName;
    bool view64 = false;
    std::string key;
    std::string value;
};

bool ParseRegistryKeyPath(const std::string& keyPath, RegistryKeyPath& out) {
    if (keyPath.size() < 5 || keyPath[2] != ':' || keyPath[3] != '\\') return false;
    if ((keyPath[0] != '0' && keyPath[0] != '2') || keyPath[1] < '0' || keyPath[1] > '3') return false;
    static const std::pair<RegKey, const char*> roots[] = {{kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
                                                           {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
                                                           {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
                                                           {kHkeyUsers, "HKEY_USERS"}};
    const auto& root = roots[keyPath[1] - '0'];
    out.root = root.first;
    out.rootName = root.second;
    out.view64 = keyPath[0] == '2';
    std::string rest = keyPath.substr(4);
    size_t cut = rest.find_last_of('\\');
    if (cut == std::string::npos || cut == 0) return false;
    out.key = rest.substr(0, cut);
    out.value = rest.substr(cut + 1);
    return true;
}

std::string PackageContents(const SimMsiProduct& product) {
    return std::string(kPackageMagic) + "\r\n" + kPackageProductCode + product.productCode +
           "\r\nPackageName=" + product.packageName + "\r\n";
}

// The product code a package file names; empty when it is not a package.
std::string PackageProductCode(const std::string& contents) {
    if (contents.compare(0, std::strlen(kPackageMagic), kPackageMagic) != 0) return {};
    size_t at = contents.find(std::string("\n") + kPackageProductCode);
    if (at == std::string::npos) return {};
    std::string code = contents.substr(at + 1 + std::strlen(kPackageProductCode), kGuidTextChars);
    return IsGuidText(code) ? code : std::string();
}

// REMOVE=ALL among the properties of a command line.
bool RemovesAll(const std::string& commandLine) {
    size_t pos = 0;
    while (pos < commandLine.size()) {
        size_t end = commandLine.find(' ', pos);
        if (end == std::string::npos) end = commandLine.size();
        std::string token = commandLine.substr(pos, end - pos);
        if (token.compare(0, 7, "REMOVE=") == 0 && SameText(token.substr(7), "ALL")) return true;
        pos = end + 1;
    }
    return false;
}

bool IsUninstallSuccess(uint32_t result) {
    return result == kErrorSuccess || result == kErrorSuccessRebootRequired ||
           result == kErrorSuccessRebootInitiated;
}

// Where MsiGetProductInfo finds a property.
enum class Area { InstallProperties, Product, SourceList };
struct Property {
    const char* name;
    Area area;
    const char* value;
};
constexpr Property kProperties[] = {
    {"VersionString", Area::InstallProperties, "DisplayVersion"},
    {"Publisher", Area::InstallProperties, "Publisher"},
    {"LocalPackage", Area::InstallProperties, "LocalPackage"},
    {"InstalledProductName", Area::InstallProperties, "DisplayName"},
    {"InstallLocation", Area::InstallProperties, "InstallLocation"},
    {"InstallSource", Area::InstallProperties, "InstallSource"},
    {"InstallDate", Area::InstallProperties, "InstallDate"},
    {"HelpLink", Area::InstallProperties, "HelpLink"},
    {"HelpTelephone", Area::InstallProperties, "HelpTelephone"},
    {"URLInfoAbout", Area::InstallProperties, "URLInfoAbout"},
    {"URLUpdateInfo", Area::InstallProperties, "URLUpdateInfo"},
    {"Version", Area::InstallProperties, "Version"},
    {"VersionMajor", Area::InstallProperties, "VersionMajor"},
    {"VersionMinor", Area::InstallProperties, "VersionMinor"},
    {"ProductName", Area::Product, "ProductName"},
    {"Language", Area::Product, "Language"},
    {"AssignmentType", Area::Product, "Assignment"},
    {"InstanceType", Area::Product, "InstanceType"},
    {"AuthorizedLUAApp", Area::Product, "AuthorizedLUAApp"},
    {"Transforms", Area::Product, "Transforms"},
    {"ProductIcon", Area::Product, "ProductIcon"},
    {"PackageName", Area::SourceList, "PackageName"},
    {"LastUsedSource", Area::SourceList, "LastUsedSource"},
};

// A value as MsiGetProductInfo gives it: texts up to their terminator, numbers in decimal.
std::string ValueText(const SimRegValue* v) {
    if (v == nullptr) return {};
    if (v->type == kRegDword && v->data.size() >= 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | v->data[i];
        return std::to_string(n);
    }
    std::string text(v->data.begin(), v->data.end());
    return text.substr(0, text.find('\0'));
}

}  // namespace

SimInstaller::SimInstaller(Faults& faults, SimSystem& system, SimRegistry& registry, SimFileSystem& files)
    : faults_(faults), system_(system), registry_(registry), files_(files) {}

const SimInstaller::Record* SimInstaller::Find(const std::string& productCode) const {
    for (const auto& r : products_)
        if (SameText(r.product.productCode, productCode)) return &r;
    return nullptr;
}

// --- test helpers ---

std::vector<std::string> SimInstaller::ProductCodes() const {
    std::vector<std::string> codes;
    for (const auto& r : products_) codes.push_back(r.product.productCode);
    return codes;
}

bool SimInstaller::Install(const SimMsiProduct& product) {
    if (!IsGuidText(product.productCode)) return false;
    if (!product.upgradeCode.empty() && !IsGuidText(product.upgradeCode)) return false;
    for (const auto& c : product.components)
        if (!IsGuidText(c.componentCode)) return false;

    std::string cached;
    if (const Record* old = Find(product.productCode)) {
        cached = old->cachedPackage;  // a reinstallation keeps its cache entry
    } else {
        char name[16];
        std::snprintf(name, sizeof(name), "%x", static_cast<unsigned>(nextPackage_));
        nextPackage_ += 0x2f5;
        cached = "C:\\Windows\\Installer\\" + std::string(name) + ".msi";
    }
    Record record{product, cached};
    record.product.sourceFolder = WithBackslash(product.sourceFolder);
    const SimMsiProduct& p = record.product;
    const std::string packed = Pack(p.productCode);
    const View k64 = View::K64;

    // Files: the cached package, the source if it was kept, the folders and the components.
    files_.CreateFile(cached, PackageContents(p));
    if (p.sourceKept) files_.CreateFile(p.sourceFolder + p.packageName, PackageContents(p));
    files_.CreateDirectories(files_.TempDirectory());
    for (const auto& folder : p.folders) files_.CreateDirectories(WithoutBackslash(folder));
    for (const auto& c : p.components) {
        RegistryKeyPath reg;
        if (ParseRegistryKeyPath(c.keyPath, reg))
            registry_.SetString(reg.rootName + "\\" + reg.key, reg.value, p.version,
                                reg.view64 ? k64 : View::K32);
        else
            files_.CreateFile(c.keyPath, p.name + " " + p.version + "\r\n");
    }

    uint32_t major = 0, minor = 0, build = 0;
    ParseVersion(p.version, major, minor, build);
    const uint32_t version = major << 24 | minor << 16 | build;
    const SystemTime today = SimTimeFromMs(system_.clockMs);
    char date[16];
    std::snprintf(date, sizeof(date), "%04u%02u%02u", today.year, today.month, today.day);

    // The advertised registration.
    const std::string advertised = kLm + kClassesProducts + "\\" + packed;
    registry_.SetDword(advertised, "AdvertiseFlags", 0x184, k64);
    registry_.SetDword(advertised, "Assignment", 0, k64);
    registry_.SetDword(advertised, "AuthorizedLUAApp", 0, k64);
    registry_.Set(advertised, "Clients", kRegMultiSz, {':', 0, 0}, k64);
    registry_.SetDword(advertised, "InstanceType", 0, k64);
    registry_.SetDword(advertised, "Language", 0x409, k64);
    std::string packageCode(packed.rbegin(), packed.rend());
    registry_.SetString(advertised, "PackageCode", packageCode, k64);
    registry_.SetString(advertised, "ProductName", p.name, k64);
    registry_.SetDword(advertised, "Version", version, k64);
    registry_.SetString(advertised + "\\SourceList", "LastUsedSource", "n;1;" + p.sourceFolder, k64);
    registry_.SetString(advertised + "\\SourceList", "PackageName", p.packageName, k64);
    registry_.SetString(advertised + "\\SourceList\\Media", "1", ";", k64);
    registry_.SetString(advertised + "\\SourceList\\Media", "DiskPrompt", "", k64);
    registry_.SetString(advertised + "\\SourceList\\Media", "MediaPackage", "", k64);
    registry_.SetString(advertised + "\\SourceList\\Net", "1", p.sourceFolder, k64, kRegExpandSz);
    registry_.SetString(kLm + kClassesFeatures + "\\" + packed, kFeature, "", k64);
    if (!p.upgradeCode.empty()) {
        const std::string upgrade = Pack(p.upgradeCode);
        registry_.SetString(kLm + kClassesUpgradeCodes + "\\" + upgrade, packed, "", k64);
        registry_.SetString(kLm + kUpgradeCodes + "\\" + upgrade, packed, "", k64);
    }

    // The installed registration.
    std::string featureComponents;
    for (const auto& c : p.components) {
        registry_.SetString(kLm + kComponents + "\\" + Pack(c.componentCode), packed, c.keyPath, k64);
        featureComponents += Pack(c.componentCode);
    }
    const std::string userData = kLm + kUserDataProducts + "\\" + packed;
    registry_.SetString(userData + "\\Features", kFeature, featureComponents, k64);
    const std::string uninstallCommand = "MsiExec.exe /I" + p.productCode;
    auto properties = [&](const std::string& key, View view) {
        for (const char* empty : {"AuthorizedCDFPrefix", "Comments", "Contact", "HelpLink", "HelpTelephone",
                                  "InstallLocation", "ReadMe", "Size", "URLInfoAbout", "URLUpdateInfo"})
            registry_.SetString(key, empty, "", view);
        registry_.SetString(key, "DisplayName", p.name, view);
        registry_.SetString(key, "DisplayVersion", p.version, view);
        registry_.SetDword(key, "EstimatedSize", 0, view);
        registry_.SetString(key, "InstallDate", date, view);
        registry_.SetString(key, "InstallSource", p.sourceFolder, view);
        registry_.SetDword(key, "Language", 0x409, view);
        registry_.SetString(key, "ModifyPath", uninstallCommand, view, kRegExpandSz);
        registry_.SetString(key, "Publisher", p.publisher, view);
        registry_.SetString(key, "UninstallString", uninstallCommand, view, kRegExpandSz);
        registry_.SetDword(key, "Version", version, view);
        registry_.SetDword(key, "VersionMajor", major, view);
        registry_.SetDword(key, "VersionMinor", minor, view);
        registry_.SetDword(key, "WindowsInstaller", 1, view);
    };
    properties(userData + "\\InstallProperties", k64);
    registry_.SetString(userData + "\\InstallProperties", "LocalPackage", cached, k64);
    // A 32-bit package's add/remove-programs entry goes to the 32-bit view.
    properties(kLm + kUninstall + "\\" + p.productCode, View::K32);
    for (const auto& folder : p.folders) registry_.SetString(kLm + kFolders, WithBackslash(folder), "", k64);

    for (auto& r : products_) {
        if (SameText(r.product.productCode, p.productCode)) {
            r = std::move(record);
            return true;
        }
    }
    products_.push_back(std::move(record));
    return true;
}

void SimInstaller::RemoveFilesOnly(const std::string& productCode) {
    if (!IsGuidText(productCode)) return;
    const std::string packed = Pack(productCode);
    for (const auto& component : registry_.KeysUnder(kLm + kComponents, View::K64)) {
        std::string keyPath =
            ValueText(registry_.GetValue(kLm + kComponents + "\\" + component, packed, View::K64));
        RegistryKeyPath reg;
        if (keyPath.empty() || ParseRegistryKeyPath(keyPath, reg)) continue;
        files_.Remove(keyPath);
        RemoveEmptyDirectory(Parent(keyPath));
    }
    std::string local = ValueText(registry_.GetValue(
        kLm + kUserDataProducts + "\\" + packed + "\\InstallProperties", "LocalPackage", View::K64));
    if (!local.empty()) files_.Remove(local);
}

bool SimInstaller::IsInstalled(const std::string& productCode) const {
    return IsGuidText(productCode) &&
           registry_.Exists(kLm + kClassesProducts + "\\" + Pack(productCode), View::K64);
}

std::string SimInstaller::CachedPackagePath(const std::string& productCode) const {
    const Record* r = Find(productCode);
    return r ? r->cachedPackage : std::string();
}

// --- removal ---

void SimInstaller::RemoveEmptyDirectory(const std::string& path) {
    std::string dir = WithoutBackslash(path);
    if (dir.size() <= 3) return;  // a drive root
    uint32_t attributes = files_.Attributes(dir);
    if (attributes == kInvalidFileAttributes || !(attributes & kFileAttributeDirectory)) return;
    if (files_.List(dir).empty()) files_.Remove(dir);
}

void SimInstaller::RemoveComponentResource(const std::string& keyPath) {
    RegistryKeyPath reg;
    if (!ParseRegistryKeyPath(keyPath, reg)) {
        files_.Remove(keyPath);
        RemoveEmptyDirectory(Parent(keyPath));
        return;
    }
    // Keys below HKLM\SOFTWARE are reached in the 64-bit view through a handle opened in it.
    RegKey parent = reg.root;
    std::string key = reg.key;
    UniqueRegKey software;
    if (reg.view64 && reg.root == kHkeyLocalMachine && StartsWithNoCase(key, kSoftwarePrefix)) {
        RegKey h = 0;
        if (registry_.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key, h) != 0)
            return;
        software.reset(&registry_, h);
        parent = h;
        key = key.substr(kSoftwarePrefix.size());
    }
    (void)registry_.SHDeleteValue(parent, key, reg.value);
    const std::string full = reg.rootName + "\\" + reg.key;
    const View view = reg.view64 ? View::K64 : View::K32;
    if (registry_.ValuesUnder(full, view).empty() && registry_.KeysUnder(full, view).empty())
        (void)registry_.DeleteKey(parent, key);
}

void SimInstaller::Remove(const std::string& productCode) {
    const std::string packed = Pack(productCode);
    const View k64 = View::K64;
    const std::string userData = kUserDataProducts + "\\" + packed;
    const std::string local =
        ValueText(registry_.GetValue(kLm + userData + "\\InstallProperties", "LocalPackage", k64));

    // Everything but the add/remove-programs entry is in the 64-bit view, reached through
    // a handle to HKLM\SOFTWARE opened in it.
    RegKey h = 0;
    if (registry_.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE", kKeyAllAccess | kKeyWow64_64Key, h) == 0) {
        UniqueRegKey software(&registry_, h);
        auto relative = [](const std::string& path) { return path.substr(kSoftwarePrefix.size()); };
        // A value of this product in each key of an area; a key left empty goes, and for a
        // component so does what it installed, since no other product holds it any more.
        auto dropValues = [&](const std::string& area, bool component) {
            for (const auto& name : registry_.KeysUnder(kLm + area, k64)) {
                const std::string key = area + "\\" + name;
                const SimRegValue* v = registry_.GetValue(kLm + key, packed, k64);
                if (v == nullptr) continue;
                const std::string keyPath = ValueText(v);
                (void)registry_.SHDeleteValue(h, relative(key), packed);
                if (!registry_.ValuesUnder(kLm + key, k64).empty()) continue;
                if (registry_.KeysUnder(kLm + key, k64).empty()) (void)registry_.DeleteKey(h, relative(key));
                if (component && !keyPath.empty()) RemoveComponentResource(keyPath);
            }
        };
        dropValues(kComponents, true);
        dropValues(kUpgradeCodes, false);
        dropValues(kClassesUpgradeCodes, false);
        (void)registry_.SHDeleteKey(h, relative(kClassesProducts + "\\" + packed));
        (void)registry_.SHDeleteKey(h, relative(kClassesFeatures + "\\" + packed));
        (void)registry_.SHDeleteKey(h, relative(userData));

        if (const Record* r = Find(productCode)) {
            for (const auto& folder : r->product.folders) {
                bool shared = false;
                for (const auto& other : products_)
                    if (&other != r && IsInstalled(other.product.productCode))
                        for (const auto& f : other.product.folders) shared = shared || SameText(f, folder);
                if (shared) continue;
                (void)registry_.SHDeleteValue(h, relative(kFolders), WithBackslash(folder));
                RemoveEmptyDirectory(folder);
            }
        }
    }
    (void)registry_.SHDeleteKey(kHkeyLocalMachine, kUninstall + "\\" + productCode);
    if (!local.empty()) files_.Remove(local);
}

uint32_t SimInstaller::Uninstall(const std::string& productCode, uint32_t result) {
    if (IsUninstallSuccess(result)) Remove(productCode);
    return result;
}

uint32_t SimInstaller::ConfigureAbsent(const std::string& productCode) {
    const std::string packed = Pack(productCode);
    const std::string properties = kLm + kUserDataProducts + "\\" + packed + "\\InstallProperties";
    if (!registry_.Exists(properties, View::K64)) return kErrorBadConfiguration;
    auto isFile = [&](const std::string& path) {
        uint32_t attributes = files_.Attributes(path);
        return !path.empty() && attributes != kInvalidFileAttributes &&
               !(attributes & kFileAttributeDirectory);
    };
    if (!isFile(ValueText(registry_.GetValue(properties, "LocalPackage", View::K64)))) {
        // The cached package is gone: the installer looks for the package where it came from.
        const std::string sourceList = kLm + kClassesProducts + "\\" + packed + "\\SourceList";
        std::string folder = ValueText(registry_.GetValue(sourceList + "\\Net", "1", View::K64));
        std::string name = ValueText(registry_.GetValue(sourceList, "PackageName", View::K64));
        if (folder.empty() || name.empty() || !isFile(WithBackslash(folder) + name))
            return kErrorInstallSourceAbsent;
    }
    const Record* r = Find(productCode);
    return Uninstall(productCode, r ? r->product.configureResult : 0);
}

uint32_t SimInstaller::ReadProperty(const std::string& productCode, const std::string& property,
                                    std::string& value) const {
    const Property* found = nullptr;
    for (const auto& p : kProperties)
        if (property == p.name) found = &p;
    if (found == nullptr) return kErrorUnknownProperty;
    if (!IsInstalled(productCode)) return kErrorUnknownProduct;
    const std::string packed = Pack(productCode);
    std::string key;
    switch (found->area) {
        case Area::InstallProperties:
            key = kLm + kUserDataProducts + "\\" + packed + "\\InstallProperties";
            // Advertised but not installed: the installed properties are unknown.
            if (!registry_.Exists(key, View::K64)) return kErrorUnknownProperty;
            break;
        case Area::Product:
            key = kLm + kClassesProducts + "\\" + packed;
            break;
        case Area::SourceList:
            key = kLm + kClassesProducts + "\\" + packed + "\\SourceList";
            break;
    }
    value = ValueText(registry_.GetValue(key, found->value, View::K64));
    return kErrorSuccess;
}

// --- IInstaller ---

uint32_t SimInstaller::EnumRelatedProducts(const std::u16string& upgradeCode, uint32_t index,
                                           std::u16string& productCode) {
    const std::string code = Utf16ToAnsi(upgradeCode);
    uint32_t result = faults_.Take("MsiEnumRelatedProductsW");
    if (result == 0 && !IsGuidText(code)) result = kErrorInvalidParameter;
    if (result == 0) {
        // Only value names that are packed codes count; anything else in the key is skipped.
        std::vector<std::string> related;
        for (const auto& name : registry_.ValuesUnder(kLm + kUpgradeCodes + "\\" + Pack(code), View::K64))
            if (IsPacked(name)) related.push_back(name);
        if (index < related.size())
            productCode = Wide(Unpack(related[index]));
        else
            result = kErrorNoMoreItems;
    }
    queries.push_back(SimMsiCall{"MsiEnumRelatedProductsW", code, std::to_string(index), uiLevel, result});
    return result;
}

uint32_t SimInstaller::GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                                      char16_t* buffer, uint32_t* chars) {
    const std::string code = Utf16ToAnsi(productCode);
    const std::string name = Utf16ToAnsi(property);
    std::string value;
    uint32_t result = faults_.Take("MsiGetProductInfoW");
    if (result == 0 && (!IsGuidText(code) || (buffer != nullptr && chars == nullptr)))
        result = kErrorInvalidParameter;
    if (result == 0) result = ReadProperty(code, name, value);
    if (result == 0) {
        std::u16string text = Wide(value);
        const uint32_t length = static_cast<uint32_t>(text.size());
        if (buffer != nullptr && *chars <= length) {
            result = kErrorMoreData;  // the buffer stays as it was
        } else if (buffer != nullptr) {
            std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
        }
        if (chars != nullptr) *chars = length;
    }
    queries.push_back(SimMsiCall{"MsiGetProductInfoW", code, name, uiLevel, result});
    return result;
}

uint32_t SimInstaller::ConfigureProductEx(const std::u16string& productCode, int installLevel,
                                          int installState, const std::u16string& commandLine) {
    (void)installLevel;
    const std::string code = Utf16ToAnsi(productCode);
    const uint32_t level = uiLevel;
    uint32_t result = faults_.Take("MsiConfigureProductExW");
    Faults::WithinOneCall installerWork;
    if (result == 0) {
        if (!IsGuidText(code) || installState < 1 || installState > kInstallStateDefault)
            result = kErrorInvalidParameter;
        else if (!IsInstalled(code))
            result = kErrorUnknownProduct;
        else if (installState == kInstallStateAbsent)
            result = ConfigureAbsent(code);
        // Any other state: the product is installed and stays as it is.
    }
    calls.push_back(SimMsiCall{"MsiConfigureProductExW", code, Utf16ToAnsi(commandLine), level, result});
    return result;
}

uint32_t SimInstaller::InstallProduct(const std::u16string& packagePath, const std::u16string& commandLine) {
    const std::string path = Utf16ToAnsi(packagePath);
    const std::string properties = Utf16ToAnsi(commandLine);
    const uint32_t level = uiLevel;
    uint32_t result = faults_.Take("MsiInstallProductW");
    Faults::WithinOneCall installerWork;
    if (result == 0) {
        uint32_t attributes = files_.Attributes(path);
        std::string code;
        if (path.empty() || attributes == kInvalidFileAttributes || (attributes & kFileAttributeDirectory)) {
            result = kErrorInstallPackageOpenFailed;
        } else if ((code = PackageProductCode(files_.Contents(path))).empty()) {
            result = kErrorInstallPackageInvalid;
        } else if (RemovesAll(properties)) {
            // Removing a product that is not there does nothing and succeeds.
            const Record* r = Find(code);
            if (IsInstalled(code)) result = Uninstall(code, r ? r->product.packageRemoveResult : 0);
        } else if (!IsInstalled(code)) {
            const Record* r = Find(code);
            if (r == nullptr) {
                result = kErrorInstallPackageInvalid;
            } else {
                SimMsiProduct again = r->product;
                Install(again);
            }
        }
    }
    calls.push_back(SimMsiCall{"MsiInstallProductW", path, properties, level, result});
    return result;
}

uint32_t SimInstaller::SetInternalUI(uint32_t level) {
    const uint32_t before = uiLevel;
    uint32_t previous = kInstallUiLevelNoChange;
    // The call cannot fail; a fault, like a level it does not know, changes nothing and
    // answers INSTALLUILEVEL_NOCHANGE.
    if (faults_.Take("MsiSetInternalUI") == 0 && (level & ~kUiLevelFlags) <= kInstallUiLevelFull) {
        previous = uiLevel;
        if ((level & ~kUiLevelFlags) != kInstallUiLevelNoChange) uiLevel = level;
    }
    calls.push_back(SimMsiCall{"MsiSetInternalUI", std::to_string(level), "", before, previous});
    return previous;
}

}  // namespace platform::sim
