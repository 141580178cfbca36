// Registry entries of the configuration: values named directly or by a wildcard, values
// and keys chosen by their string data, the value whose content names the object, and the
// two folders that come from the registry (program files of the 64-bit view, the
// desktop-search plug-in folder).
#include <cstring>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "expand/folder_macros.h"
#include "expand/handlers_internal.h"
#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "expand/registry_trust.h"
#include "expand/unspellable_names.h"
#include "platform/ansi.h"
#include "platform/environment_text.h"
#include "platform/registry_links.h"

namespace engine {

using namespace platform;
using expand::kRegTextBuffer;
using expand::detail::LogTooLong;

namespace {

// A registry text of a key and a name below it must leave its terminator within the first
// 261 bytes of its 264-byte buffer.
constexpr size_t kRegTextLimit = 261;
// Longest value name the registry allows, terminator included; key names are shorter.
constexpr uint32_t kMaxRegName = platform::kValueNameBytes;

// A parsed copy of a registry text; the pointers point into `text`.
struct ParsedRegText {
    std::string text;
    RegKey root = 0;
    char* rootName = nullptr;
    char* keyPath = nullptr;
    char* last = nullptr;

    uint32_t Parse(const char* source) {
        text = source;
        return expand::ParseRegistryPath(&text[0], root, rootName, keyPath, last);
    }
    const char* KeyPath() const { return keyPath != nullptr ? keyPath : ""; }
    const char* ValueName() const { return last != nullptr ? last : ""; }
};

// The string content of a value, as SHGetValueA gives it: REG_EXPAND_SZ data expanded, in
// the default view. kNotString for data that is not a string; 0 with an empty text for a
// value that is missing or empty. `emptyString` (when given) tells an existing empty string
// from a missing value. With `keyOut`, the key is opened with READ_CONTROL as well and handed
// back, so that who could have written the value is judged on the key it was read from.
constexpr uint32_t kNotString = kErrorInvalidData;

uint32_t ReadStringValue(Platform& os, const ParsedRegText& value, std::string& out, uint32_t* sizeAfter,
                         bool* emptyString = nullptr, UniqueRegKey* keyOut = nullptr) {
    out.clear();
    if (emptyString != nullptr) *emptyString = false;
    RegKey raw = 0;
    const uint32_t access = kKeyQueryValue | (keyOut != nullptr ? kReadControl : 0u);
    if (OpenKeyWithoutFollowing(os.reg, value.root, value.KeyPath(), access, raw) != 0) return 0;
    UniqueRegKey key(&os.reg, raw);
    uint32_t type = 0, size = 0;
    if (os.reg.QueryValueEx(key.get(), value.ValueName(), &type, nullptr, &size) != 0) return 0;
    const bool text = type == kRegSz || type == kRegExpandSz;
    if (size == 0) {
        if (emptyString != nullptr) *emptyString = text;
        return 0;
    }
    if (!text) return kNotString;
    std::vector<char> buffer(size + 1u, '\0');
    uint32_t code = os.reg.QueryValueEx(key.get(), value.ValueName(), &type, buffer.data(), &size);
    if (sizeAfter != nullptr) *sizeAfter = size;
    if (code != 0) return code;
    out = buffer.data();
    if (type == kRegExpandSz) out = ExpandEnvironmentText(os.sys, out);
    if (emptyString != nullptr) *emptyString = out.empty();
    if (keyOut != nullptr) *keyOut = std::move(key);
    return 0;
}

}  // namespace

// A key text bound for the list of keys to remove: a protected key is refused there, with
// its record, and never listed. Other lists (the ignore list) take it as it is.
static uint32_t InsertKey(CNuke& nuke, TSet& list, const char* tag, const char* text) {
    if (&list == &nuke.removeRegKeyList) {
        if (const char* reason = nuke.Protected().KeyReason(text)) {
            expand::LogProtectedRefusal(tag, text, reason);
            return 0;
        }
    }
    return list.Insert(text);
}

// Whether the text of a BY_REFERENCE value may go into `list`. A value of a key a standard
// user can change names nothing; one of a user's own hive names only files inside that
// user's profile and keys of that same hive: it must not reach what the user could not.
static bool ValueMayName(CNuke& nuke, Platform& os, const ParsedRegText& value, RegKey key, const TSet& list,
                         const std::string& content) {
    static const char* const kTag = "CNuke::ListRegValueData";
    std::string keyText = value.rootName != nullptr ? value.rootName : "";
    if (value.keyPath != nullptr) keyText += std::string("\\") + value.keyPath;
    switch (expand::WritersOfKey(os, value.root, value.keyPath, key)) {
        case expand::KeyWriters::kMachine:
            return true;
        case expand::KeyWriters::kAnyone:
            expand::LogKeyNotTrusted(kTag, keyText);
            return false;
        case expand::KeyWriters::kOneUser:
            break;
    }
    const char* why = "a user's own hive names only that user's files and keys";
    if (&list == &nuke.fileList || &list == &nuke.removeFileList || &list == &nuke.ignoreFileList) {
        if (expand::IsInsideFolder(os, content, expand::HiveProfile(os, value.root, value.keyPath)))
            return true;
        why = "it lies outside that user's profile";
    } else if (&list == &nuke.regKeyList || &list == &nuke.removeRegKeyList ||
               &list == &nuke.ignoreRegKeyList || &list == &nuke.regValueList ||
               &list == &nuke.removeRegValueList || &list == &nuke.ignoreRegValueList) {
        ParsedRegText named;
        const auto hive = [](const char* path) {
            std::string p = path != nullptr ? path : "";
            return p.substr(0, p.find('\\'));
        };
        if (named.Parse(content.c_str()) == 0 && named.root == value.root &&
            (value.root != kHkeyUsers ||
             AnsiCompareNoCase(hive(named.keyPath).c_str(), hive(value.keyPath).c_str()) == 0))
            return true;
        why = "it lies outside that user's hive";
    }
    EngineLog(3, "%s: '%s' from '%s' is not used: %s", kTag, content.c_str(), keyText.c_str(), why);
    return false;
}

uint32_t CNuke::ListRegValueData(TSet& list, char* data) {
    ParsedRegText value;
    if (uint32_t code = value.Parse(data)) return code;
    if (expand::HasWildcards(value.keyPath)) return kErrorInvalidData;

    std::string content;
    uint32_t size = 0;
    UniqueRegKey key;
    uint32_t code = ReadStringValue(os_, value, content, &size, nullptr, &key);
    if (code == kNotString) return code;
    if (code != 0) {
        EngineLog(2, "%s: ListRegValueData: SHGetValue failed len=%d", "CNuke::ListRegValueData",
                  static_cast<int>(size));
        return code;
    }
    if (content.empty()) return 0;
    if (!ValueMayName(*this, os_, value, key.get(), list, content)) return 0;
    // The registry key section takes the value's text as a key to remove whole.
    if (&list == &removeRegKeyList) return InsertKey(*this, list, "CNuke::ListRegValueData", content.c_str());
    return list.Insert(content.c_str());
}

// REG_VALUE and REG_KEY entries BY_VALUE: a wildcard in the last component is resolved
// against the key's values (default view) or subkeys (64-bit view).
static uint32_t ExpandRegWildcard(CNuke& nuke, IRegistry& reg, TSet& list, char* data, bool keys) {
    const char* const tag = keys ? "CNuke::ExpandRegKey" : "CNuke::ExpandRegValue";
    auto insert = [&](const char* text) {
        return keys ? InsertKey(nuke, list, tag, text) : list.Insert(text);
    };
    ParsedRegText pattern;
    if (uint32_t code = pattern.Parse(data)) return code;
    if (expand::HasWildcards(pattern.keyPath)) return kErrorInvalidData;
    if (!expand::HasWildcards(pattern.last)) return insert(data);

    RegKey raw = 0;
    uint32_t access = keys ? (kKeyRead | kKeyWow64_64Key) : kKeyRead;
    if (OpenKeyWithoutFollowing(reg, pattern.root, pattern.KeyPath(), access, raw) != 0) {
        // Listed as written; the working lists hold on to it and removal reports it missing.
        return insert(data);
    }
    UniqueRegKey key(&reg, raw);

    char prefix[kRegTextBuffer];
    if (!expand::JoinPath(prefix, sizeof(prefix), {pattern.rootName, pattern.keyPath, "\\"}) ||
        std::strlen(prefix) >= kRegTextLimit) {
        LogTooLong(tag, "Registry text", data);
        return 0;
    }
    const size_t prefixLength = std::strlen(prefix);

    std::vector<char> name(kMaxRegName);
    for (uint32_t index = 0;; ++index) {
        uint32_t nameLength = kMaxRegName;
        uint32_t code =
            keys ? reg.EnumKeyEx(key.get(), index, name.data(), &nameLength)
                 : reg.EnumValue(key.get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr);
        if (code != 0) break;
        if (!expand::MatchWildcard(name.data(), pattern.last)) continue;
        // The name matched is a best-fit alias: what it reaches is another object or none.
        const std::u16string real = expand::UnspellableRegName(reg, key.get(), index, keys, name.data());
        if (!real.empty()) {
            if (&list == (keys ? &nuke.removeRegKeyList : &nuke.removeRegValueList)) {
                nuke.RefuseUnspellable(
                    tag, keys ? "Registry key" : "Registry value", AnsiToUtf16(prefix) + real,
                    keys ? &engine::RunCounts::keysFailed : &engine::RunCounts::valuesFailed);
            }
            continue;
        }
        if (prefixLength + nameLength >= kRegTextLimit) {
            LogTooLong(tag, "Registry text", (std::string(prefix) + name.data()).c_str());
            continue;
        }
        char text[kRegTextBuffer];
        std::memcpy(text, prefix, prefixLength);
        std::memcpy(text + prefixLength, name.data(), nameLength + 1u);
        AnsiUpperInPlace(text + prefixLength);
        if (uint32_t inserted = insert(text)) return inserted;
    }
    return 0;
}

uint32_t CNuke::ExpandRegValue(TSet& list, char* data) {
    return ExpandRegWildcard(*this, os_.reg, list, data, false);
}

uint32_t CNuke::ExpandRegKey(TSet& list, char* data) {
    return ExpandRegWildcard(*this, os_.reg, list, data, true);
}

uint32_t CNuke::MatchRegValueData(TSet& list, char* data) {
    std::string copy = data;
    expand::NormalizePath(&copy[0]);
    char* valuePattern = nullptr;
    char* dataPattern = nullptr;
    expand::SplitQuotedFields(&copy[0], {&valuePattern, &dataPattern});
    if (valuePattern == nullptr || dataPattern == nullptr) return kErrorInvalidData;

    TSet candidates;
    if (ExpandRegValue(candidates, valuePattern) != 0) return kErrorInvalidData;

    const char* candidate = nullptr;
    for (uint32_t r = candidates.First(&candidate); r == 0; r = candidates.Next(&candidate)) {
        if (list.Contains(candidate)) continue;
        ParsedRegText value;
        if (uint32_t code = value.Parse(candidate)) return code;
        std::string content;
        bool emptyString = false;
        if (uint32_t code = ReadStringValue(os_, value, content, nullptr, &emptyString)) return code;
        // A missing value matches nothing; an empty string is still a string, which "*" matches.
        if (content.empty() && !emptyString) continue;
        if (!expand::MatchWildcard(content.c_str(), dataPattern)) continue;
        if (uint32_t code = list.Insert(candidate)) return code;
    }
    return 0;
}

uint32_t CNuke::MatchRegKeyValueData(TSet& list, char* data) {
    std::string copy = data;
    expand::NormalizePath(&copy[0]);
    char* keyPattern = nullptr;
    char* valueName = nullptr;
    char* dataPattern = nullptr;
    expand::SplitQuotedFields(&copy[0], {&keyPattern, &valueName, &dataPattern});
    if (keyPattern == nullptr || valueName == nullptr || dataPattern == nullptr) return kErrorInvalidData;
    if (expand::HasWildcards(valueName)) return kErrorInvalidData;

    TSet candidates;
    if (ExpandRegKey(candidates, keyPattern) != 0) return kErrorInvalidData;

    const char* candidate = nullptr;
    for (uint32_t r = candidates.First(&candidate); r == 0; r = candidates.Next(&candidate)) {
        if (list.Contains(candidate)) continue;
        ParsedRegText keyText;
        if (uint32_t code = keyText.Parse(candidate)) return code;
        // A value name that holds a backslash names a subkey of the candidate and a value in it.
        std::string valuePath = valueName;
        std::string nameInKey = valuePath;
        std::string below;
        size_t split = valuePath.rfind('\\');
        if (split != std::string::npos) {
            below = valuePath.substr(0, split);
            nameInKey = valuePath.substr(split + 1);
        }
        char subKey[kRegTextBuffer];
        if (!expand::JoinPath(subKey, sizeof(subKey), {keyText.keyPath, keyText.last, below.c_str()})) {
            LogTooLong("CNuke::MatchRegKeyValueData", "Registry text", candidate);
            continue;
        }
        // Keys that cannot be opened, and values that are missing, not strings or
        // unreadable, simply do not match. An empty string is compared as the empty text.
        RegKey raw = 0;
        if (OpenKeyWithoutFollowing(os_.reg, keyText.root, subKey, kKeyAllAccess | kKeyWow64_64Key, raw) != 0)
            continue;
        UniqueRegKey key(&os_.reg, raw);
        const char* name = !nameInKey.empty() ? nameInKey.c_str() : nullptr;
        uint32_t type = 0, size = 0;
        if (os_.reg.QueryValueEx(key.get(), name, &type, nullptr, &size) != 0 || type != kRegSz) continue;
        std::vector<char> buffer(size + 1u, '\0');
        if (size != 0 && os_.reg.QueryValueEx(key.get(), name, &type, buffer.data(), &size) != 0) continue;
        if (!expand::MatchWildcard(buffer.data(), dataPattern)) continue;
        if (uint32_t code = InsertKey(*this, list, "CNuke::MatchRegKeyValueData", candidate)) return code;
    }
    return 0;
}

uint32_t CNuke::Get64ProgramFilesPath(char* out, uint32_t size) {
    return expand::ReadProgramFilesDir64(os_, out, size, true);
}

}  // namespace engine

namespace expand {

uint32_t ReadProgramFilesDir64(platform::Platform& os, char* out, uint32_t size, bool logFailures) {
    using namespace platform;
    static const char* const kTag = "CNuke::Get64ProgramFilesPath";
    if (out == nullptr || size == 0) {
        if (logFailures) {
            engine::EngineLog(2, "%s: Invalid parameters, path is '%s' and path length is '%d'", kTag,
                              out != nullptr ? out : "(null)", static_cast<int>(size));
        }
        return kErrorInvalidParameter;
    }
    RegKey raw = 0;
    if (os.reg.OpenKeyEx(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                         kKeyAllAccess | kKeyWow64_64Key, raw) != 0) {
        if (logFailures) {
            engine::EngineLog(3, "%s: RegOpenKeyEx FAILED  while trying to get program files path", kTag);
        }
        return kErrorFileNotFound;
    }
    UniqueRegKey key(&os.reg, raw);
    uint32_t got = size;
    uint32_t code = os.reg.QueryValueEx(key.get(), "ProgramFilesDir", nullptr, out, &got);
    // Data stored without its terminator fills the buffer to the end; it must still end
    // as a string inside it.
    bool terminated = code == 0 && got <= size && (got == 0 || out[got - 1] == '\0' || got < size);
    if (!terminated) {
        out[0] = '\0';
        if (logFailures) {
            engine::EngineLog(3, "%s: RegQueryValue FAILED while trying to get program files path", kTag);
        }
        return kErrorFileNotFound;
    }
    if (got < size) out[got] = '\0';
    return 0;
}

void get_google_plugin_dir(platform::Platform& os, std::string& out) {
    using namespace platform;
    out.clear();
    RegKey raw = 0;
    if (os.reg.OpenKeyEx(kHkeyCurrentUser, "SOFTWARE\\Google\\Google Desktop",
                         kKeyAllAccess | kKeyWow64_64Key, raw) != 0) {
        return;
    }
    UniqueRegKey key(&os.reg, raw);
    char buffer[kMaxPathBuffer + 1] = {};
    // One byte less than the buffer, so that the text read always ends inside it.
    uint32_t size = kMaxPathBuffer;
    if (os.reg.QueryValueEx(key.get(), "plugin_dir", nullptr, buffer, &size) != 0) {
        engine::EngineLog(3, "%s: RegQueryValue FAILED", "get_google_plugin_dir");
        return;
    }
    // The user's own value: it may name a folder of that user's, nothing else.
    if (!IsInsideFolder(os, buffer, HiveProfile(os, kHkeyCurrentUser, nullptr))) {
        engine::EngineLog(
            3, "%s: '%s' from 'HKEY_CURRENT_USER\\SOFTWARE\\Google\\Google Desktop' is not used: %s",
            "get_google_plugin_dir", buffer, "it lies outside that user's profile");
        return;
    }
    out = buffer;
}

}  // namespace expand
