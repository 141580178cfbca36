// The first step of the run sequence: the log and its version record, the configuration
// file, the installer-database gatherings, the customised-edition rules and the twelve
// configured lists.
#include "engine/list_init.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "detect/detector.h"
#include "engine/cnuke.h"
#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "logging/engine_log.h"
#include "logging/log.h"
#include "platform/ansi.h"
#include "platform/common.h"

namespace engine {

namespace {

constexpr char kNoVersion[] = "NO_VERSION";
// Four 16-bit parts and " DEBUG" fit with room to spare.
char versionText[48] = "NO_VERSION";

constexpr char kMakerUpper[] = "KELVARIS";
constexpr char kMakerName[] = "Kelvaris";
constexpr char kRetryMarkerKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris ClearoutTool";

const std::string& ProductName(const detect::CDetector* detector) {
    static const std::string kEmpty;
    return detector != nullptr ? detector->productName : kEmpty;
}

const std::string& RootInstallPath(const detect::CDetector* detector) {
    static const std::string kEmpty;
    return detector != nullptr ? detector->rootInstallPath : kEmpty;
}

// The twelve initialisers in the order they run, with the list each fills.
struct Initialiser {
    const char* name;
    uint32_t (CNuke::*run)();
    TSet CNuke::*list;
    bool skippedWithRemoveAll;
};

const Initialiser kInitialisers[] = {
    {"InitIgnoreServiceList", &CNuke::InitIgnoreServiceList, &CNuke::ignoreServiceList, true},
    {"InitRemoveServiceList", &CNuke::InitRemoveServiceList, &CNuke::removeServiceList, false},
    {"InitStopProcessList", &CNuke::InitStopProcessList, &CNuke::stopProcessList, false},
    {"InitStartProcessList", &CNuke::InitStartProcessList, &CNuke::startProcessList, false},
    {"InitIgnoreRegValueList", &CNuke::InitIgnoreRegValueList, &CNuke::ignoreRegValueList, true},
    {"InitRemoveRegValueList", &CNuke::InitRemoveRegValueList, &CNuke::removeRegValueList, false},
    {"InitIgnoreRegKeyList", &CNuke::InitIgnoreRegKeyList, &CNuke::ignoreRegKeyList, true},
    {"InitRemoveRegKeyList", &CNuke::InitRemoveRegKeyList, &CNuke::removeRegKeyList, false},
    {"InitIgnoreFileList", &CNuke::InitIgnoreFileList, &CNuke::ignoreFileList, true},
    {"InitRemoveFileList", &CNuke::InitRemoveFileList, &CNuke::removeFileList, false},
    {"InitIgnoreMsiUpgradeCodeList", &CNuke::InitIgnoreMsiUpgradeCodeList, &CNuke::ignoreMsiUpgradeCodeList,
     true},
    {"InitRemoveMsiUpgradeCodeList", &CNuke::InitRemoveMsiUpgradeCodeList, &CNuke::removeMsiUpgradeCodeList,
     false},
};

// The entries of a set as a plain list, so the set can be rebuilt from them.
std::vector<std::string> TakeAll(TSet& list) {
    std::vector<std::string> items;
    const char* s = nullptr;
    for (uint32_t r = list.First(&s); r == 0; r = list.Next(&s)) items.emplace_back(s);
    for (uint32_t r = list.First(&s); r == 0; r = list.RemoveCurrent(&s)) {
    }
    return items;
}

int ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
        ++count;
    }
    return count;
}

}  // namespace

const char* VersionText() { return versionText; }

bool IsSafeNameComponent(const char* name) {
    if (name == nullptr || *name == '\0') return false;
    bool onlyDots = true;
    for (const char* p = name; *p != '\0'; ++p) {
        if (std::strchr("\\/:*?\"<>|", *p) != nullptr) return false;
        if (static_cast<unsigned char>(*p) < 0x20) return false;
        if (*p != '.') onlyDots = false;
    }
    return !onlyDots;
}

void ReadVersionText(platform::Platform& os) {
    std::string module;
    platform::FileVersion version;
    std::snprintf(versionText, sizeof(versionText), "%s", kNoVersion);
    // A module path that would not fit MAX_PATH is one the version calls would cut.
    if (os.sys.GetModuleFileName(module) == 0 && !module.empty() && module.size() < platform::kMaxPath &&
        os.shell.GetFileVersion(module, version) == 0) {
        std::snprintf(
            versionText, sizeof(versionText), "%d.%d.%d.%d%s", static_cast<int>(version.fileVersionMS >> 16),
            static_cast<int>(version.fileVersionMS & 0xFFFF), static_cast<int>(version.fileVersionLS >> 16),
            static_cast<int>(version.fileVersionLS & 0xFFFF),
            (version.fileFlags & platform::kVsFfDebug) != 0 ? " DEBUG" : "");
    }
}

void LogVersionBanner(platform::Platform& os) {
    ReadVersionText(os);
    KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0);
    KvQmrLogging::LogWriteA(4, "Binary version: %s, compilation time: %s %s", versionText, __DATE__,
                            __TIME__);
    // What names the run can act on: a Windows that ignored the request for UTF-8 leaves alone,
    // with an error record each, the objects its code page cannot spell.
    const uint32_t codePage = platform::AnsiCodePage();
    KvQmrLogging::LogWriteA(4, "ANSI code page %u%s", codePage,
                            codePage == platform::kCodePageUtf8
                                ? " (UTF-8): names of every script are read as written"
                                : ": names this code page cannot spell are left alone");
}

uint32_t CNuke::InitializeLists(uint32_t removeAllOption, uint32_t forceMsiOption) {
    static const char* const kTag = "CNuke::InitializeLists";
    // From here on every refusal of a protected folder or key, by the entry handlers and by
    // the expansion, is an object the run keeps; one record per object.
    Protected().ObserveRefusals([this](const char* object, const char*) {
        static const char kReason[] = "protected location";
        for (const KeptObject& k : kept)
            if (k.reason == kReason && k.object == object) return;
        kept.push_back(KeptObject{object, kReason});
    });
    // A preview changes nothing, the log included: opening it makes its folders and may rotate
    // it, deleting the oldest generation. Its records are dropped, as before any opening.
    if (previewOnly) {
        ReadVersionText(os_);
    } else {
        LogVersionBanner(os_);
        // The detector ran before there was a log to write to.
        if (detector != nullptr) detector->LogPassedOverProcesses();
    }

    uint32_t code = InitConfigFile();
    if (code != 0) {
        EngineLog(2, "%s: InitConfigFile failed and returned error code '%04d'", kTag,
                  static_cast<int>(code));
        return code;
    }
    EngineLog(5, "%s: InitConfigFile was successful.", kTag);
    if (!configPath.empty())
        EngineLog(4, "%s: InitializeLists: Config file found as '%s'", kTag, configPath.c_str());

    removeAll = removeAllOption;
    forceMsi = forceMsiOption;

    (void)GatherS1518ComponentQtAssemblies();
    if (forceMsi == 1) ProductBasedMSIRemoval();
    InitISPCustomizationOverride();

    for (const Initialiser& init : kInitialisers) {
        if (init.skippedWithRemoveAll && removeAll != 0) continue;
        code = (this->*init.run)();
        const int count = static_cast<int>((this->*init.list).Count());
        if (code == 0) {
            EngineLog(4, "%s: %s was successful with '%d' items in the list", kTag, init.name, count);
            continue;
        }
        if (!errorText.empty()) {
            EngineLog(2, "%s: %s reported error message '%s' and returned error code '%04d'", kTag, init.name,
                      errorText.c_str(), static_cast<int>(code));
        } else {
            EngineLog(3, "%s: %s constructed list with '%d' items and returned code '%04d'", kTag, init.name,
                      count, static_cast<int>(code));
        }
        return code;
    }
    return 0;
}

uint32_t CNuke::InitIgnoreServiceList() { return ReadConfigSection(ignoreServiceList, "service", "ignore"); }

uint32_t CNuke::InitRemoveServiceList() { return ReadConfigSection(removeServiceList, "service", "remove"); }

uint32_t CNuke::InitStopProcessList() { return ReadConfigSection(stopProcessList, "process", "stop"); }

uint32_t CNuke::InitStartProcessList() { return ReadConfigSection(startProcessList, "process", "start"); }

uint32_t CNuke::InitIgnoreRegValueList() {
    return ReadConfigSection(ignoreRegValueList, "registry value", "ignore");
}

uint32_t CNuke::InitRemoveRegValueList() {
    uint32_t code = ReadConfigSection(removeRegValueList, "registry value", "remove");
    LogListContent(removeRegValueList);
    return code;
}

uint32_t CNuke::InitIgnoreRegKeyList() {
    return ReadConfigSection(ignoreRegKeyList, "registry key", "ignore");
}

uint32_t CNuke::InitRemoveRegKeyList() {
    uint32_t code = ReadConfigSection(removeRegKeyList, "registry key", "remove");
    if (removeAll == 1 && retryKeyFound == 1) {
        // The marker a former run left has served its purpose once the product goes whole.
        EngineLog(5, "%s: InitRemoveRegKeyList: removeRegKeyList.Insert(%s)", "CNuke::InitRemoveRegKeyList",
                  kRetryMarkerKeyText);
        (void)AddConfigEntry(removeRegKeyList, kTypeRegKey, kKindByValue, kRetryMarkerKeyText);
    }
    LogListContent(removeRegKeyList);
    return code;
}

uint32_t CNuke::InitIgnoreFileList() {
    uint32_t code = ReadConfigSection(ignoreFileList, "file", "ignore");
    if (code == 0) {
        for (std::string& item : TakeAll(ignoreFileList)) {
            expand::NormalizePath(&item[0]);
            (void)ignoreFileList.Insert(item.c_str());
        }
    }
    ApplyISPCustomization(ignoreFileList, startMenuMask);
    return code;
}

uint32_t CNuke::InitRemoveFileList() {
    static const char* const kTag = "CNuke::InitRemoveFileList";
    uint32_t code = ReadConfigSection(removeFileList, "file", "remove");
    ApplyISPCustomization(removeFileList, startMenuMask);
    if (removeAll != 1) return code;

    const std::string& root = RootInstallPath(detector);
    if (root.empty()) {
        EngineLog(3,
                  "%s: InitRemoveFileList: --removeall parameter in use, but root installation path empty!!",
                  kTag);
    } else if (root.size() >= platform::kMaxPath) {
        EngineLog(3, "%s: InitRemoveFileList: root installation path too long, not listed: '%.64s...'", kTag,
                  root.c_str());
    } else if (const char* reason = Protected().FolderReason(root.c_str())) {
        // A product installed straight into a folder of the machine does not take it along.
        expand::LogProtectedRefusal(kTag, root.c_str(), reason);
    } else {
        EngineLog(5, "%s: InitRemoveFileList: removeFileList.Insert(%s)", kTag, root.c_str());
        (void)removeFileList.Insert(root.c_str());
    }

    const std::string& product = ProductName(detector);
    if (product.empty()) {
        EngineLog(3, "%s: InitRemoveFileList: --removeall parameter in use, but product name empty!!", kTag);
        return code;
    }
    if (!IsSafeNameComponent(product.c_str())) {
        EngineLog(3,
                  "%s: InitRemoveFileList: product name '%s' cannot name a folder, start menu and desktop "
                  "left intact",
                  kTag, product.c_str());
        return code;
    }

    std::string programs;
    if (!os_.shell.SHGetSpecialFolderPath(platform::kCsidlCommonPrograms, programs, false) ||
        programs.empty()) {
        // Without the folder the text would be a path relative to the current drive.
        EngineLog(3, "%s: InitRemoveFileList: all-users programs folder not found, start menu left intact",
                  kTag);
    } else {
        std::string folder = programs + "\\" + product;
        if (folder.size() >= platform::kMaxPath) {
            EngineLog(3, "%s: InitRemoveFileList: start menu folder too long, not listed: '%.64s...'", kTag,
                      folder.c_str());
        } else {
            EngineLog(5, "%s: InitRemoveFileList: removeFileList.Insert(%s)", kTag, folder.c_str());
            (void)removeFileList.Insert(folder.c_str());
        }
    }

    std::string desktop = "%COMMON_DESKTOPDIRECTORY%\\" + product + "*";
    EngineLog(5, "%s: InitRemoveFileList: removeFileList.Insert(%s)", kTag, desktop.c_str());
    (void)AddConfigEntry(removeFileList, kTypeFileNameExpand, kKindByValue, desktop.c_str());
    return code;
}

uint32_t CNuke::InitIgnoreMsiUpgradeCodeList() {
    return ReadConfigSection(ignoreMsiUpgradeCodeList, "msi upgradecode", "ignore");
}

uint32_t CNuke::InitRemoveMsiUpgradeCodeList() {
    return ReadConfigSection(removeMsiUpgradeCodeList, "msi upgradecode", "remove");
}

void CNuke::InitISPCustomizationOverride() {
    static const char* const kTag = "CNuke::InitISPCustomizationOverride";
    const std::string& product = ProductName(detector);
    EngineLog(4, "%s: InitISPCustomizationOverride: the \"detector\" says product name is '%s'", kTag,
              product.c_str());
    startMenuMask = product;

    if (startMenuMask.find(kMakerName) != std::string::npos) {
        EngineLog(5,
                  "%s: InitISPCustomizationOverride: product name is not ISP customized. Override is not "
                  "committed.",
                  kTag);
        return;
    }
    if (removeAll != 0) {
        EngineLog(
            5,
            "%s: InitISPCustomizationOverride: removeall -parameter in use, specific removal for customized "
            "content will be executed.",
            kTag);
    } else if (startMenuMask.find(' ') == std::string::npos) {
        EngineLog(
            3,
            "%s: InitISPCustomizationOverride: '%s' override not considered safe enough for start menu item "
            "deletion. Start menu items will be left intact.",
            kTag, startMenuMask.c_str());
        startMenuMask.clear();
        MarkRegistryForPossibleRemovalRetry();
    }
    ReadRegistryForRemovalRetry();

    // The mask is written into file paths in place of the maker's name.
    if (!startMenuMask.empty() && !IsSafeNameComponent(startMenuMask.c_str())) {
        EngineLog(3,
                  "%s: InitISPCustomizationOverride: '%s' cannot name a folder. Start menu items will be "
                  "left intact.",
                  kTag, startMenuMask.c_str());
        startMenuMask.clear();
    }
    EngineLog(4, "%s: InitISPCustomizationOverride: customization start menu mask=%s", kTag,
              startMenuMask.c_str());
}

void CNuke::ApplyISPCustomization(TSet& list, const std::string& mask) {
    if (mask.empty()) return;
    TSet variants;
    const char* s = nullptr;
    for (uint32_t r = list.First(&s); r == 0; r = list.Next(&s)) {
        std::string copy = s;
        if (ReplaceAll(copy, kMakerUpper, mask) == 0) continue;
        if (copy.size() >= platform::kMaxPath) {
            EngineLog(3, "%s: customised path too long, not listed: '%.64s...'",
                      "CNuke::ApplyISPCustomization", copy.c_str());
            continue;
        }
        (void)variants.Insert(copy.c_str());
    }
    for (uint32_t r = variants.First(&s); r == 0; r = variants.Next(&s)) (void)list.Insert(s);
}

}  // namespace engine
