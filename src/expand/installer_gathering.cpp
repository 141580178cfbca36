// The maker's leftovers in the Windows Installer registry database: the registrations of
// each of its products found through the local system account's product list, and the
// folder, shell-cache and component registrations that hold the maker's name. Everything
// found goes into the configured remove lists; nothing is deleted here, except by
// RemoveUpgradeCodeDirectlyFromRegistry, which the uninstall step calls.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/cnuke.h"
#include "expand/handlers_internal.h"
#include "expand/installer_guid.h"
#include "expand/path_helpers.h"
#include "expand/registry_trust.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"

namespace engine {

using namespace platform;
using expand::kPackedGuidChars;
using expand::kRegTextBuffer;
using expand::kViewInstallerDatabase;
using expand::detail::LogTooLong;

namespace {

constexpr uint32_t kReadAccess = kKeyRead | kViewInstallerDatabase;

constexpr char kMakerName[] = "Kelvaris";
constexpr char kMakerNameLower[] = "kelvaris";

constexpr char kRootMachine[] = "HKEY_LOCAL_MACHINE";
constexpr char kProductsArea[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
constexpr char kComponentsArea[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
constexpr char kCurrentVersionUpgradeCodes[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
constexpr char kClassesUpgradeCodes[] = "SOFTWARE\\Classes\\Installer\\UpgradeCodes";
constexpr char kFoldersArea[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr char kUserMuiCache[] = "SOFTWARE\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
constexpr char kDefaultUserMuiCache[] = ".DEFAULT\\Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
constexpr char kFeaturesKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features\\";
constexpr char kProductsKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\";

// The upgrade-code registrations deleted directly, in the order they are deleted.
constexpr const char* kUpgradeCodeRegistrations[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\",
    "HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\",
};

// Publisher and LocalPackage are read into MAX_PATH buffers.
constexpr uint32_t kPropertyBuffer = 260;

// Longer name or data than this cannot be held in one buffer of a 32-bit process.
constexpr uint32_t kMaxEnumBuffer = 0x7FFFFF00;

// A zeroed buffer of `length` + `extra` bytes, or null when it cannot be had: the lengths
// come from the registry and are not trusted to be small.
std::unique_ptr<char[]> ZeroedBuffer(uint32_t length, uint32_t extra) {
    const uint64_t bytes = uint64_t{length} + extra;
    if (bytes == 0 || bytes > kMaxEnumBuffer) return nullptr;
    return std::unique_ptr<char[]>(new (std::nothrow) char[static_cast<size_t>(bytes)]());
}

// Lower case for the letters of the Western code pages; with
// `escapeBackslash` every "\" is written "---", as value names travel in registry text.
// The text goes through UTF-16 so that no trail byte of a double-byte character is taken
// for a letter or for "\". Text that does not come back unchanged from UTF-16 is done byte
// by byte, ASCII letters only.
std::string LowerAnsi(const std::string& text, bool escapeBackslash = false) {
    std::u16string wide;
    if (!AnsiToUtf16(text.c_str(), text.size(), wide) || Utf16ToAnsi(wide) != text) {
        std::string lowered;
        for (char c : text) {
            if (escapeBackslash && c == '\\') {
                lowered += "---";
            } else {
                lowered.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c);
            }
        }
        return lowered;
    }
    std::u16string lowered;
    lowered.reserve(wide.size());
    for (char16_t c : wide) {
        if ((c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7)) {
            c = static_cast<char16_t>(c + 0x20);
        } else if (c == 0x0160 || c == 0x0152 || c == 0x017D) {  // Š Œ Ž
            c = static_cast<char16_t>(c + 1);
        } else if (c == 0x0178) {  // Ÿ
            c = 0x00FF;
        }
        if (escapeBackslash && c == u'\\') {
            lowered += u"---";
        } else {
            lowered.push_back(c);
        }
    }
    return Utf16ToAnsi(lowered);
}

bool ContainsLower(const std::string& text, const char* lowerNeedle) {
    return LowerAnsi(text).find(lowerNeedle) != std::string::npos;
}

// Packed product codes are 32 characters; a name of another length (the installer writes
// none) must not be joined into key paths, where an empty one would name a whole area.
bool IsPackedCode(const char* text) {
    return text != nullptr && std::strlen(text) == kPackedGuidChars && std::strchr(text, '\\') == nullptr;
}

// Reads a value as text into a MAX_PATH buffer. Data that does not fit is a failed read
// (234); data without a terminator ends at the end of what was read.
uint32_t ReadPropertyText(IRegistry& reg, RegKey key, const char* name, std::string& out) {
    out.clear();
    char buffer[kPropertyBuffer + 1] = {};
    uint32_t size = kPropertyBuffer;
    if (uint32_t code = reg.QueryValueEx(key, name, nullptr, buffer, &size)) return code;
    buffer[size < kPropertyBuffer ? size : kPropertyBuffer] = '\0';
    out = buffer;
    return 0;
}

// The installer's package cache, "%SystemRoot%\INSTALLER", upper case and in long form as
// IsInsideFolder compares; empty when the system folder is unknown. The Windows folder is
// System32's parent: GetWindowsDirectory may answer a private folder on a terminal server.
std::string InstallerCacheFolder(Platform& os) {
    std::string folder;
    if (!os.shell.GetSystemDirectory(folder) || folder.size() < 3) return {};
    expand::NormalizePath(&folder[0]);
    folder.resize(std::strlen(folder.c_str()));
    const size_t cut = folder.rfind('\\');
    if (cut == std::string::npos || cut < 2 || folder[1] != ':') return {};
    return expand::LongFormPath(os, folder.substr(0, cut) + "\\INSTALLER");
}

// A cached package is deleted at the restart, and its access list opened before that:
// only a file directly in the cache folder qualifies, never a folder, a file elsewhere, a
// way out with "..", a stream or another name of something else.
bool IsCachedPackagePath(Platform& os, const std::string& path, const std::string& cacheFolder) {
    if (!expand::IsInsideFolder(os, path, cacheFolder)) return false;
    std::string plain = path;
    expand::NormalizePath(&plain[0]);
    plain = expand::LongFormPath(os, plain.c_str());
    const std::string leaf = plain.substr(cacheFolder.size() + 1);
    if (leaf.find('\\') != std::string::npos || expand::IsAmbiguousComponent(leaf)) return false;
    const uint32_t attributes = os.fs.GetFileAttributesA(plain);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
}

// The packed code of a product of another publisher named by a value of HKLM\`keyPath`
// (64-bit view), or an empty text when there is none or the key cannot be read.
std::string OtherPublishersProductIn(CNuke& nuke, IRegistry& reg, const char* keyPath) {
    RegKey raw = 0;
    if (reg.OpenKeyEx(kHkeyLocalMachine, keyPath, kReadAccess, raw) != 0) return {};
    UniqueRegKey key(&reg, raw);
    char name[kPackedGuidChars + 2];
    for (uint32_t index = 0;; ++index) {
        uint32_t length = sizeof(name);
        uint32_t code = reg.EnumValue(key.get(), index, name, &length, nullptr, nullptr, nullptr);
        if (code == kErrorNoMoreItems) break;
        // A longer name does not fit and is no product code; any other failure is the
        // key's own and would repeat.
        if (code == kErrorMoreData) continue;
        if (code != 0) break;
        if (nuke.IsOtherPublishersProduct(name)) return name;
    }
    return {};
}

// The keys gathered for `tag` (component or upgrade-code keys) go into the remove list,
// except a key that also names a product of another publisher: that product still needs it.
uint32_t ListUnsharedKeys(CNuke& nuke, IRegistry& reg, const char* tag, const char* what, TSet& found) {
    const char* const operation = std::strchr(tag, ':') + 2;
    const size_t rootPrefix = std::strlen(kRootMachine) + 1;
    const char* text = nullptr;
    for (uint32_t r = found.First(&text); r == 0; r = found.Next(&text)) {
        std::string otherProduct;
        if (std::strlen(text) > rootPrefix)
            otherProduct = OtherPublishersProductIn(nuke, reg, text + rootPrefix);
        if (!otherProduct.empty()) {
            EngineLog(4, "%s: %s: %s '%s' is shared with product '%s' of another publisher, not listed", tag,
                      operation, what, text, otherProduct.c_str());
            continue;
        }
        if (uint32_t code = nuke.removeRegKeyList.Insert(text)) return code;
    }
    return 0;
}

}  // namespace

uint32_t CNuke::EnumerateRegKeyAndMatchValue(platform::RegKey root, const char* keyPath, const char* match,
                                             TSet& target, bool exactName, bool dataContains) {
    static const char* const kTag = "CNuke::EnumerateRegKeyAndMatchValue";
    if (keyPath == nullptr || match == nullptr) return kErrorInvalidParameter;
    RegKey raw = 0;
    if (uint32_t code = os_.reg.OpenKeyEx(root, keyPath, kReadAccess, raw)) {
        EngineLog(3, "%s: EnumerateRegKeyAndMatchValue: Failed to open '%s' with error '%d'", kTag, keyPath,
                  static_cast<int>(code));
        return code;
    }
    UniqueRegKey key(&os_.reg, raw);

    uint32_t valueCount = 0, maxName = 0, maxData = 0;
    uint32_t code = os_.reg.QueryInfoKey(key.get(), nullptr, nullptr, &valueCount, &maxName, &maxData);
    const bool compareData = !exactName && dataContains;
    std::unique_ptr<char[]> name, data;
    if (code == 0) {
        // One more for the terminator; the data buffer has one byte beyond what a read may
        // fill, so that data stored without a terminator still ends inside it.
        name = ZeroedBuffer(maxName, 1);
        if (compareData) data = ZeroedBuffer(maxData, 2);
        if (name == nullptr || (compareData && data == nullptr)) code = kErrorNotEnoughMemory;
    }
    if (code != 0) {
        EngineLog(3, "%s: EnumerateRegKeyAndMatchValue: Failed to query info for '%s' with error '%d'", kTag,
                  keyPath, static_cast<int>(code));
        return code;
    }
    ++maxName;
    ++maxData;

    std::string rootName;
    ParseRegKeyPrefixCString(root, rootName);
    const std::string keyText = rootName + "\\" + keyPath;
    const std::string lowerMatch = LowerAnsi(match);

    uint32_t result = 0;
    for (uint32_t index = 0;; ++index) {
        uint32_t nameLength = maxName;
        uint32_t dataSize = maxData;
        std::memset(name.get(), 0, maxName);
        if (compareData) std::memset(data.get(), 0, maxData + 1u);
        uint32_t read =
            os_.reg.EnumValue(key.get(), index, name.get(), &nameLength, nullptr,
                              compareData ? data.get() : nullptr, compareData ? &dataSize : nullptr);
        if (read == kErrorNoMoreItems) break;
        if (read != 0) {
            // A value that cannot be read is passed over; a failure that repeats past the
            // values the key held when asked is the key's, and ends the walk.
            if (index >= valueCount) break;
            continue;
        }
        name[maxName - 1] = '\0';

        if (exactName || dataContains) {
            bool matched;
            if (exactName) {
                matched = AnsiCompareNoCase(name.get(), match) == 0;
            } else {
                data[dataSize < maxData ? dataSize : maxData] = '\0';
                matched = ContainsLower(data.get(), lowerMatch.c_str());
            }
            if (!matched) continue;
            // The key is the one text listed, whatever else of it matches.
            if (keyText.size() >= kRegTextBuffer) {
                LogTooLong(kTag, "Registry text", keyText.c_str());
            } else {
                result = target.Insert(keyText.c_str());
            }
            break;
        }

        if (!ContainsLower(name.get(), lowerMatch.c_str())) continue;
        const std::string valueText = keyText + "\\" + LowerAnsi(name.get(), true);
        if (valueText.size() >= kRegTextBuffer) {
            LogTooLong(kTag, "Registry text", valueText.c_str());
            continue;
        }
        result = target.Insert(valueText.c_str());
        if (result != 0) break;
    }
    return result;
}

namespace {

// Opens root\`keyPath` for reading and sizes a name buffer for its subkeys (longest name
// plus a terminator, in `room`). On failure logs it at level 3 for `tag` and returns the
// open or query error, as both subkey walks of the installer database report it.
uint32_t OpenForSubkeyWalk(IRegistry& reg, RegKey root, const char* keyPath, const char* tag,
                           UniqueRegKey& key, std::unique_ptr<char[]>& name, uint32_t& room) {
    const char* const operation = std::strchr(tag, ':') + 2;
    RegKey raw = 0;
    if (uint32_t code = reg.OpenKeyEx(root, keyPath, kReadAccess, raw)) {
        EngineLog(3, "%s: %s: Failed to open '%s', reported error '%d'", tag, operation, keyPath,
                  static_cast<int>(code));
        return code;
    }
    key.reset(&reg, raw);
    uint32_t maxSubKey = 0;
    uint32_t code = reg.QueryInfoKey(key.get(), nullptr, &maxSubKey, nullptr, nullptr, nullptr);
    if (code == 0) {
        name = ZeroedBuffer(maxSubKey, 1);
        if (name == nullptr) code = kErrorNotEnoughMemory;
    }
    if (code != 0) {
        EngineLog(3, "%s: %s: Failed to query info for '%s' with error '%d'", tag, operation, keyPath,
                  static_cast<int>(code));
        key.reset();
        return code;
    }
    room = maxSubKey + 1;
    return 0;
}

}  // namespace

uint32_t CNuke::EnumerateRegKeyEnumerateSubKeysAndMatchValue(platform::RegKey root, const char* keyPath,
                                                             const char* match, TSet& target, bool dataMode) {
    static const char* const kTag = "CNuke::EnumerateRegKeyEnumerateSubKeysAndMatchValue";
    if (keyPath == nullptr || match == nullptr) return kErrorInvalidParameter;
    UniqueRegKey key;
    std::unique_ptr<char[]> name;
    uint32_t maxSubKey = 0;
    if (uint32_t code = OpenForSubkeyWalk(os_.reg, root, keyPath, kTag, key, name, maxSubKey)) return code;

    uint32_t result = 0;
    for (uint32_t index = 0;; ++index) {
        uint32_t length = maxSubKey;
        std::memset(name.get(), 0, maxSubKey);
        if (os_.reg.EnumKeyEx(key.get(), index, name.get(), &length) != 0) break;
        name[maxSubKey - 1] = '\0';
        const std::string subKey = std::string(keyPath) + "\\" + name.get();
        if (subKey.size() >= kRegTextBuffer) {
            LogTooLong(kTag, "Registry key", subKey.c_str());
            result = kErrorFilenameExcedRange;
            continue;
        }
        result = EnumerateRegKeyAndMatchValue(root, subKey.c_str(), match, target, !dataMode, dataMode);
    }
    return result;
}

namespace {

// The keys of HKLM\`area` that have a value named after the product, except those that
// another publisher's product names too; the gatherer `tag` logs its failure.
uint32_t GatherKeysNaming(CNuke& nuke, IRegistry& reg, const char* area, const char* packedProductCode,
                          const char* tag, const char* what) {
    uint32_t code = kErrorInvalidParameter;
    if (IsPackedCode(packedProductCode)) {
        TSet found;
        code = nuke.EnumerateRegKeyEnumerateSubKeysAndMatchValue(kHkeyLocalMachine, area, packedProductCode,
                                                                 found, false);
        uint32_t listed = ListUnsharedKeys(nuke, reg, tag, what, found);
        if (code == 0) code = listed;
    }
    if (code != 0) {
        EngineLog(3, "%s: %s: EnumerateRegKeyEnumerateSubKeysAndMatchValue returned error '%d'", tag,
                  std::strchr(tag, ':') + 2, static_cast<int>(code));
    }
    return code;
}

}  // namespace

uint32_t CNuke::GatherCurrentVersionInstallerUpgradeCodeKeys(const char* packedProductCode) {
    return GatherKeysNaming(*this, os_.reg, kCurrentVersionUpgradeCodes, packedProductCode,
                            "CNuke::GatherCurrentVersionInstallerUpgradeCodeKeys", "upgrade-code key");
}

uint32_t CNuke::GatherClassesInstallerUpgradeCodeKeys(const char* packedProductCode) {
    return GatherKeysNaming(*this, os_.reg, kClassesUpgradeCodes, packedProductCode,
                            "CNuke::GatherClassesInstallerUpgradeCodeKeys", "upgrade-code key");
}

uint32_t CNuke::GatherS1518ComponentKeys(const char* packedProductCode) {
    return GatherKeysNaming(*this, os_.reg, kComponentsArea, packedProductCode,
                            "CNuke::GatherS1518ComponentKeys", "component key");
}

// The Features and Products keys are listed whether or not they exist; the working lists
// keep only what does.
static uint32_t ListProductKey(TSet& list, const char* tag, const char* prefix,
                               const char* packedProductCode) {
    if (!IsPackedCode(packedProductCode)) {
        EngineLog(3, "%s: %s: '%s' is not a packed product code, nothing listed", tag,
                  std::strchr(tag, ':') + 2, packedProductCode != nullptr ? packedProductCode : "(null)");
        return kErrorInvalidParameter;
    }
    return list.Insert((std::string(prefix) + packedProductCode).c_str());
}

uint32_t CNuke::GatherClassesInstallerFeaturesKey(const char* packedProductCode) {
    return ListProductKey(removeRegKeyList, "CNuke::GatherClassesInstallerFeaturesKey", kFeaturesKeyText,
                          packedProductCode);
}

uint32_t CNuke::GatherClassesInstallerProductsKey(const char* packedProductCode) {
    return ListProductKey(removeRegKeyList, "CNuke::GatherClassesInstallerProductsKey", kProductsKeyText,
                          packedProductCode);
}

uint32_t CNuke::GatherInstallerFolderValues() {
    uint32_t code = EnumerateRegKeyAndMatchValue(kHkeyLocalMachine, kFoldersArea, kMakerName,
                                                 removeRegValueList, false, false);
    if (code != 0) {
        EngineLog(3, "%s: GatherInstallerFolderValues: EnumerateRegKeyAndMatchValue returned error '%d'",
                  "CNuke::GatherInstallerFolderValues", static_cast<int>(code));
    }
    return code;
}

uint32_t CNuke::GatherMUICaches() {
    static const char* const kTag = "CNuke::GatherMUICaches";
    uint32_t code = 0;
    const struct {
        RegKey root;
        const char* path;
    } caches[] = {{kHkeyCurrentUser, kUserMuiCache}, {kHkeyUsers, kDefaultUserMuiCache}};
    for (const auto& cache : caches) {
        code = EnumerateRegKeyAndMatchValue(cache.root, cache.path, kMakerName, removeRegValueList, false,
                                            false);
        if (code != 0) {
            EngineLog(3, "%s: GatherMUICaches: EnumerateRegKeyAndMatchValue returned error '%d'", kTag,
                      static_cast<int>(code));
        }
    }
    return code;
}

uint32_t CNuke::GatherS1518ComponentQtAssemblies() {
    TSet found;
    uint32_t code = EnumerateRegKeyEnumerateSubKeysAndMatchValue(kHkeyLocalMachine, kComponentsArea,
                                                                 kMakerName, found, true);
    uint32_t listed =
        ListUnsharedKeys(*this, os_.reg, "CNuke::GatherS1518ComponentQtAssemblies", "component key", found);
    if (code == 0) code = listed;
    if (code != 0) {
        EngineLog(
            3,
            "%s: GatherS1518ComponentQtAssemblies: EnumerateRegKeyEnumerateSubKeysAndMatchValue returned "
            "error '%d'",
            "CNuke::GatherS1518ComponentQtAssemblies", static_cast<int>(code));
    }
    return code;
}

bool CNuke::IsOtherPublishersProduct(const char* packedProductCode) {
    if (!IsPackedCode(packedProductCode)) return false;
    const std::string product = std::string(kProductsArea) + "\\" + packedProductCode;
    RegKey raw = 0;
    if (os_.reg.OpenKeyEx(kHkeyLocalMachine, product, kReadAccess, raw) != 0) return false;
    UniqueRegKey productKey(&os_.reg, raw);
    // Only a publisher read makes a product another's: one whose properties are gone is
    // most often the maker's own, half removed, and its registrations would block the next
    // installation.
    if (os_.reg.OpenKeyEx(productKey.get(), "InstallProperties", kReadAccess, raw) != 0) return false;
    UniqueRegKey properties(&os_.reg, raw);
    std::string publisher;
    if (ReadPropertyText(os_.reg, properties.get(), "Publisher", publisher) != 0) return false;
    return !ContainsLower(publisher, kMakerNameLower);
}

void CNuke::ProductBasedMSIRemoval() {
    static const char* const kTag = "CNuke::ProductBasedMSIRemoval";
    UniqueRegKey products;
    std::unique_ptr<char[]> name;
    uint32_t maxSubKey = 0;
    if (OpenForSubkeyWalk(os_.reg, kHkeyLocalMachine, kProductsArea, kTag, products, name, maxSubKey)) return;
    const std::string cacheFolder = InstallerCacheFolder(os_);

    for (uint32_t index = 0;; ++index) {
        uint32_t length = maxSubKey;
        std::memset(name.get(), 0, maxSubKey);
        if (os_.reg.EnumKeyEx(products.get(), index, name.get(), &length) != 0) break;
        name[maxSubKey - 1] = '\0';
        const char* packed = name.get();
        if (!IsPackedCode(packed)) {
            EngineLog(3, "%s: ProductBasedMSIRemoval: '%s' is not a packed product code, skipped", kTag,
                      packed);
            continue;
        }
        const std::string productText = std::string(kRootMachine) + "\\" + kProductsArea + "\\" + packed;
        const std::string propertiesPath = std::string(kProductsArea) + "\\" + packed + "\\InstallProperties";
        RegKey raw = 0;
        if (os_.reg.OpenKeyEx(kHkeyLocalMachine, propertiesPath, kReadAccess, raw) != 0) continue;
        UniqueRegKey properties(&os_.reg, raw);

        std::string publisher;
        if (ReadPropertyText(os_.reg, properties.get(), "Publisher", publisher) != 0) continue;
        if (!ContainsLower(publisher, kMakerNameLower)) continue;

        (void)removeRegKeyList.Insert(productText.c_str());
        EngineLog(5, "%s: ProductBasedMSIRemoval: cleaning MSI registry database with product id '%s'...",
                  kTag, packed);
        (void)GatherCurrentVersionInstallerUpgradeCodeKeys(packed);
        (void)GatherClassesInstallerFeaturesKey(packed);
        (void)GatherClassesInstallerUpgradeCodeKeys(packed);
        (void)GatherClassesInstallerProductsKey(packed);
        (void)GatherS1518ComponentKeys(packed);

        std::string package;
        // The file named goes at the restart: only the machine may have named it.
        uint32_t read =
            expand::MachineWroteKey(os_, kHkeyLocalMachine, propertiesPath.c_str(), properties.get(), kTag)
                ? ReadPropertyText(os_.reg, properties.get(), "LocalPackage", package)
                : kErrorAccessDenied;
        // An empty value names no file.
        if (read == 0 && package.empty()) read = kErrorInvalidData;
        if (read != 0) {
            EngineLog(
                3,
                "%s: ProductBasedMSIRemoval: local cache MSI package '%s' retrieve failed with error '%d'...",
                kTag, "", static_cast<int>(read));
        } else if (!IsCachedPackagePath(os_, package, cacheFolder)) {
            EngineLog(3,
                      "%s: ProductBasedMSIRemoval: value 'LocalPackage' of '%s\\%s' names no file in '%s', "
                      "not listed: '%s'",
                      kTag, kRootMachine, propertiesPath.c_str(), cacheFolder.c_str(), package.c_str());
        } else {
            EngineLog(4, "%s: ProductBasedMSIRemoval: adding local cache MSI package '%s' for deletion...",
                      kTag, package.c_str());
            (void)fileList.Insert(package.c_str());
        }
    }
    products.reset();

    (void)GatherInstallerFolderValues();
    (void)GatherMUICaches();
}

void CNuke::RemoveUpgradeCodeDirectlyFromRegistry(const char* upgradeCode) {
    static const char* const kTag = "CNuke::RemoveUpgradeCodeDirectlyFromRegistry";
    const char* code = upgradeCode != nullptr ? upgradeCode : "";
    const std::string packed = expand::DarwinTransform(code);
    if (packed.empty()) {
        EngineLog(3, "%s: RemoveUpgradeCodeDirectlyFromRegistry: failed do Darwin transform UpgradeCode '%s'",
                  kTag, code);
        return;
    }
    EngineLog(4, "%s: RemoveUpgradeCodeDirectlyFromRegistry: removing upgradecode '%s' (Darwin %s)", kTag,
              code, packed.c_str());
    for (const char* registration : kUpgradeCodeRegistrations) {
        const std::string key = std::string(registration) + packed;
        // The same upgrade code in another publisher's product keeps its registration.
        const char* underMachine = std::strchr(key.c_str(), '\\') + 1;
        std::string other =
            std::strncmp(key.c_str(), kRootMachine, std::strlen(kRootMachine)) == 0
                ? OtherPublishersProductIn(*this, os_.reg, underMachine)
                : OtherPublishersProductIn(*this, os_.reg,
                                           ("SOFTWARE\\Classes\\" + std::string(underMachine)).c_str());
        if (!other.empty()) {
            EngineLog(4,
                      "%s: RemoveUpgradeCodeDirectlyFromRegistry: '%s' also names product '%s' of another "
                      "publisher, kept",
                      kTag, key.c_str(), other.c_str());
            continue;
        }
        (void)DeleteRegistryKey(key.c_str());
    }
    (void)VerifyRelatedProductsRemoved(code);
}

bool CNuke::VerifyRelatedProductsRemoved(const char* upgradeCode) {
    static const char* const kTag = "CNuke::VerifyRelatedProductsRemoved";
    const char* code = upgradeCode != nullptr ? upgradeCode : "";
    std::u16string wideCode;
    if (!AnsiToUtf16(code, std::strlen(code), wideCode)) wideCode.clear();

    uint32_t index = 0;
    std::u16string product;
    uint32_t result = os_.msi.EnumRelatedProducts(wideCode, index, product);
    if (result == kErrorNoMoreItems) {
        EngineLog(5, "%s: VerifyRelatedProductsRemoved: No products left related to UpgradeCode %s (ret %d)",
                  kTag, code, static_cast<int>(result));
        return true;
    }
    while (result == 0) {
        EngineLog(3, "%s: VerifyRelatedProductsRemoved: Warning! UpgradeCode %s still has related product %s",
                  kTag, code, Utf16ToAnsi(product).c_str());
        product.clear();
        result = os_.msi.EnumRelatedProducts(wideCode, ++index, product);
    }
    if (result != kErrorNoMoreItems) {
        EngineLog(
            3,
            "%s: VerifyRelatedProductsRemoved: Enumerating products related to UpgradeCode %s failed with "
            "error '%d'",
            kTag, code, static_cast<int>(result));
    }
    return false;
}

}  // namespace engine
