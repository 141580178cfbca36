#include "logging/log_settings.h"

#include <cstdarg>
#include <cstring>

#include "logging/wide_format.h"
#include "platform/registry.h"

namespace KvQmrLogging {

namespace {

constexpr char16_t kShellFoldersKey[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char16_t kLocalLowFolder[] = u"{A520A1A4-1780-4FF6-BD18-167343C5AF16}";
constexpr uint32_t kLowIntegrityRid = 0x1000;
constexpr size_t kFolderBuffer = 260;  // characters, terminator included
constexpr size_t kDebugTraceBuffer = 1024;

std::u16string Widen(const char* text) {
    std::u16string out;
    for (; *text != 0; ++text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
    return out;
}

// The first 4 bytes of a value, whatever its type; false when the key or value is absent
// or cannot be read (a value longer than 4 bytes does not fit and counts as absent).
bool ReadNumber(platform::IRegistry& reg, const std::u16string& keyPath, const char16_t* name,
                uint32_t& out) {
    platform::RegKey raw = 0;
    if (reg.OpenKeyExW(platform::kHkeyLocalMachine, keyPath, platform::kKeyQueryValue, raw) != 0)
        return false;
    platform::UniqueRegKey key(&reg, raw);
    unsigned char bytes[4] = {0, 0, 0, 0};
    uint32_t size = sizeof(bytes);
    if (reg.QueryValueExW(key.get(), name, nullptr, bytes, &size) != 0) return false;
    out = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
          static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

// A Shell Folders value as a path: a non-empty string, cut to the 260-character buffer
// with its terminator inside it.
bool ReadFolder(platform::IRegistry& reg, platform::RegKey root, const char16_t* name, std::u16string& out) {
    platform::RegKey raw = 0;
    if (reg.OpenKeyExW(root, kShellFoldersKey, platform::kKeyQueryValue, raw) != 0) return false;
    platform::UniqueRegKey key(&reg, raw);
    char16_t buffer[kFolderBuffer] = {};
    uint32_t type = 0;
    uint32_t size = sizeof(buffer);
    if (reg.QueryValueExW(key.get(), name, &type, buffer, &size) != 0) return false;
    if (type != platform::kRegSz && type != platform::kRegExpandSz) return false;
    // The value need not carry a terminator; one that fills the buffer loses its last unit.
    size_t units = size / sizeof(char16_t);
    buffer[units < kFolderBuffer ? units : kFolderBuffer - 1] = 0;
    out = buffer;
    return !out.empty();
}

}  // namespace

uint32_t ReadLoggingSetting(platform::Platform& os, const char16_t* name, const char16_t* product,
                            const char16_t* component, uint32_t defaultValue) {
    std::u16string key = Widen(kLoggingSettingsKey);
    std::u16string productKey = key + u"\\" + (product != nullptr ? product : kMiscProduct);
    std::u16string componentKey = productKey + u"\\" + (component != nullptr ? component : u"");
    uint32_t value = 0;
    if (ReadNumber(os.reg, componentKey, name, value) && value != kSettingNotSet) return value;
    if (ReadNumber(os.reg, productKey, name, value) && value != kSettingNotSet) return value;
    if (ReadNumber(os.reg, key, name, value)) return value;
    return defaultValue;
}

bool IsLowIntegrityProcess(platform::Platform& os) {
    uint32_t rid = 0;
    return os.sys.GetProcessIntegrityRid(rid) && rid == kLowIntegrityRid;
}

bool ResolveBaseDirectory(platform::Platform& os, bool perUser, std::u16string& out) {
    std::u16string root;
    bool found = false;
    if (perUser) {
        if (IsLowIntegrityProcess(os))
            found = ReadFolder(os.reg, platform::kHkeyCurrentUser, kLocalLowFolder, root);
        if (!found) found = ReadFolder(os.reg, platform::kHkeyCurrentUser, u"Local AppData", root);
    } else {
        found = ReadFolder(os.reg, platform::kHkeyLocalMachine, u"Common AppData", root);
        // An unset variable stays unexpanded, and a relative path would put the log wherever
        // the process happens to run: treat it as no folder at all.
        if (!found) found = os.sys.GetEnvironmentVariable(u"ProgramData", root) && !root.empty();
    }
    if (!found) return false;
    std::u16string base = root + u"\\Kelvaris";
    if (base.size() >= platform::kMaxPath) return false;
    out = base;
    return true;
}

void DebugTrace(platform::ISystem& sys, const char16_t* format, ...) {
    char16_t buffer[kDebugTraceBuffer];
    va_list args;
    va_start(args, format);
    VFormatW(buffer, kDebugTraceBuffer, format, args);
    va_end(args);
    sys.OutputDebugString(buffer);
}

}  // namespace KvQmrLogging
