// The first removal step: every upgrade code of the working list, then the built-in ones,
// handed to the installer tool as the command a user could type.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "actions/builtin_upgrade_codes.h"
#include "engine/cnuke.h"
#include "logging/engine_log.h"

namespace engine {

namespace {

// The command text lives in a buffer of 260 wide characters.
constexpr size_t kCommandChars = 260;

// Upgrade codes and commands are ASCII: each byte is one UTF-16 unit.
std::u16string Widen(const std::string& text) {
    std::u16string wide;
    for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

// "/uninstall /u:" and the code, in both forms: the tool takes UTF-16, the log the narrow
// text. False when the command would not fit.
bool BuildUninstallCommand(const char* code, std::u16string& wide, std::string& narrow) {
    char buffer[kCommandChars];
    int n = std::snprintf(buffer, sizeof(buffer), "/uninstall /u:%s", code);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(buffer)) return false;
    narrow.assign(buffer, static_cast<size_t>(n));
    wide = Widen(narrow);
    return true;
}

// How many products the installer relates to the upgrade code (those it lists before an
// enumeration error); nothing when the counting itself fails. It only feeds the run's
// totals, so its failure must never pass for a failure of the tool.
std::optional<uint32_t> RelatedProductCount(platform::Platform& os, const char* code) noexcept {
    try {
        const std::u16string wide = Widen(code);
        uint32_t count = 0;
        std::u16string product;
        // More related products than this is no installation but a damaged database.
        constexpr uint32_t kMaxRelated = 4096;
        while (count < kMaxRelated && os.msi.EnumRelatedProducts(wide, count, product) == 0) ++count;
        return count;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

uint32_t CNuke::UninstallThroughTool(const char* code, const std::u16string& command) {
    // Counted outside the guard around the tool: only the tool's own exception goes on to
    // the caller, which retries it; what a crashed call took off is still counted.
    const std::optional<uint32_t> before = RelatedProductCount(os_, code);
    uint32_t value = 0;
    std::exception_ptr crash;
    try {
        value = msiTool(command, true);
    } catch (...) {
        crash = std::current_exception();
    }
    const std::optional<uint32_t> after = RelatedProductCount(os_, code);
    if (!before || !after) {
        EngineLog(3, "%s: related products of upgrade code '%s' could not be counted",
                  "CNuke::UninstallThroughTool", code);
    } else if (*after < *before) {
        counts.productsUninstalled += *before - *after;
    }
    if (crash) std::rethrow_exception(crash);
    return value;
}

uint32_t CNuke::MsiUninstall() {
    static const char* const kTag = "CNuke::MsiUninstall";
    EngineLog(5, "%s: MsiUninstall: entry", kTag);
    platform::OsVersionInfo version;
    if (!os_.sys.GetVersionEx(version) || version.platformId != platform::kVerPlatformWin32Nt) return 0;

    EngineLog(5, "%s: MsiUninstall: looping start...", kTag);
    uint32_t result = 0;
    const char* code = nullptr;
    for (uint32_t rc = msiUpgradeCodeList.First(&code); rc == 0; rc = msiUpgradeCodeList.Next(&code)) {
        EngineLog(5, "%s: MsiUninstall Parsing upgrade code...", kTag);
        std::u16string command;
        std::string narrow;
        if (!BuildUninstallCommand(code, command, narrow)) {
            EngineLog(3, "%s: MsiUninstall: upgrade code '%s' is too long for a command, skipped", kTag,
                      code);
            continue;
        }
        uint32_t value = 0;
        EngineLog(5, "%s: MsiUninstall calling KvMsi api using command '%s'...", kTag, narrow.c_str());
        try {
            value = UninstallThroughTool(code, command);
            EngineLog(4, "%s: MsiUninstall returned value '%d'", kTag, static_cast<int>(value));
        } catch (...) {
            EngineLog(3, "%s: MsiUninstall crashed...", kTag);
            EngineLog(5, "%s: Trying again the MsiUninstall uninstall...", kTag);
            try {
                value = UninstallThroughTool(code, command);
                EngineLog(4, "%s: MsiUninstall returned value '%d'", kTag, static_cast<int>(value));
            } catch (...) {
                EngineLog(2, "%s: MsiUninstall crashed two times in row, trying next MsiUninstall", kTag);
                value = 0;
            }
        }
        if (result == 0 && value != 0) result = value;
    }

    HCMSIUninstall();
    EngineLog(5, "%s: MsiUninstall: looping exit", kTag);
    return result;
}

void CNuke::HCMSIUninstall() {
    static const char* const kTag = "CNuke::HCMSIUninstall";
    static constexpr uint32_t kPauseMs = 5000;
    // Built afresh on each call, in the fixed order.
    const std::vector<std::string> codes(kBuiltInUpgradeCodes,
                                         kBuiltInUpgradeCodes + kBuiltInUpgradeCodeCount);
    for (const std::string& code : codes) {
        std::u16string command;
        std::string narrow;
        if (!BuildUninstallCommand(code.c_str(), command, narrow)) continue;
        EngineLog(5, "%s: HCMSIUninstall calling KvMsi api using command '%s'...", kTag, narrow.c_str());
        try {
            uint32_t value = UninstallThroughTool(code.c_str(), command);
            EngineLog(4, "%s: HCMSIUninstall returned value '%d'", kTag, static_cast<int>(value));
            RemoveUpgradeCodeDirectlyFromRegistry(code.c_str());
            os_.sys.Sleep(kPauseMs);
        } catch (...) {
            EngineLog(3, "%s: HCMSIUninstall crashed...", kTag);
            EngineLog(5, "%s: Trying again the HCMSIUninstall uninstall...", kTag);
            try {
                uint32_t value = UninstallThroughTool(code.c_str(), command);
                EngineLog(4, "%s: HCMSIUninstall returned value '%d'", kTag, static_cast<int>(value));
                os_.sys.Sleep(kPauseMs);
            } catch (...) {
                EngineLog(2, "%s: HCMSIUninstall crashed two times in row, trying next MsiUninstall", kTag);
            }
        }
    }
}

}  // namespace engine
