#include "expand/path_helpers.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"
#include "platform/common.h"
#include "platform/environment_text.h"

namespace expand {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Root names are ASCII; the text may hold other ANSI bytes, which never equal a letter here.
bool StartsWithNoCaseAscii(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        char a = *text, b = *prefix;
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

struct RootPrefix {
    const char* prefix;
    platform::RegKey key;
};

// The order decides ties; no prefix is the start of another, so it only matters for speed.
constexpr RootPrefix kRootPrefixes[] = {
    {"HKEY_CLASSES_ROOT\\", platform::kHkeyClassesRoot},
    {"HKEY_CURRENT_CONFIG\\", platform::kHkeyCurrentConfig},
    {"HKEY_CURRENT_USER\\", platform::kHkeyCurrentUser},
    {"HKEY_DYN_DATA\\", platform::kHkeyDynData},
    {"HKEY_LOCAL_MACHINE\\", platform::kHkeyLocalMachine},
    {"HKEY_PERFORMANCE_DATA\\", platform::kHkeyPerformanceData},
    {"HKEY_USERS\\", platform::kHkeyUsers},
};

char* UpperCopy(const char* text) {
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, n + 1);
    platform::AnsiUpperInPlace(copy);
    return copy;
}

}  // namespace

const char* CanonicalRootName(platform::RegKey root) {
    switch (root) {
        case platform::kHkeyClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case platform::kHkeyCurrentUser:
            return "HKEY_CURRENT_USER";
        case platform::kHkeyLocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case platform::kHkeyUsers:
            return "HKEY_USERS";
        default:
            return nullptr;
    }
}

void NormalizePath(char* text) {
    if (text == nullptr) return;
    size_t n = std::strlen(text);
    auto* work = static_cast<char*>(std::malloc(n + 1));
    if (work == nullptr) return;

    const char* start = text;
    while (*start == '"') ++start;
    size_t len = std::strlen(start);
    while (len > 0 && start[len - 1] == '"') --len;
    // Only one trailing separator goes; runs are collapsed afterwards, so "C:\A\\" keeps one.
    if (len > 0 && IsSeparator(start[len - 1])) --len;

    size_t out = 0;
    for (size_t i = 0; i < len; ++i) {
        if (IsSeparator(start[i])) {
            if (out > 0 && work[out - 1] == '\\') continue;
            work[out++] = '\\';
        } else {
            work[out++] = start[i];
        }
    }
    work[out] = '\0';
    platform::AnsiUpperInPlace(work);
    std::memcpy(text, work, out + 1);
    std::free(work);
}

bool JoinPath(char* out, size_t outSize, std::initializer_list<const char*> parts) {
    if (out == nullptr || outSize == 0) return false;
    // Built apart and copied at the end, so that `out` may also be one of the parts.
    auto* work = static_cast<char*>(std::malloc(outSize));
    if (work == nullptr) {
        out[0] = '\0';
        return false;
    }
    size_t len = 0;
    bool fits = true;
    for (const char* part : parts) {
        if (part == nullptr || *part == '\0') continue;
        size_t partLen = std::strlen(part);
        bool needSeparator = len > 0 && !IsSeparator(work[len - 1]) && !IsSeparator(part[0]);
        if (len + (needSeparator ? 1 : 0) + partLen >= outSize) {
            fits = false;
            break;
        }
        if (needSeparator) work[len++] = '\\';
        std::memcpy(work + len, part, partLen);
        len += partLen;
    }
    if (fits) {
        std::memcpy(out, work, len);
        out[len] = '\0';
    } else {
        out[0] = '\0';
    }
    std::free(work);
    return fits;
}

platform::RegKey RootKeyOfName(const char* name) {
    if (name == nullptr) return 0;
    const size_t n = std::strlen(name);
    for (const RootPrefix& root : kRootPrefixes) {
        // The prefix is the name and its separator.
        if (std::strlen(root.prefix) == n + 1 && StartsWithNoCaseAscii(root.prefix, name)) return root.key;
    }
    return 0;
}

uint32_t ParseRegistryPath(char* text, platform::RegKey& rootKey, char*& rootName, char*& keyPath,
                           char*& lastComponent) {
    if (text == nullptr || *text == '\0') return platform::kErrorInvalidData;
    NormalizePath(text);
    rootKey = 0;
    rootName = nullptr;
    keyPath = nullptr;
    lastComponent = nullptr;

    char* rest = text;
    for (const RootPrefix& root : kRootPrefixes) {
        if (!StartsWithNoCaseAscii(text, root.prefix)) continue;
        size_t prefixLen = std::strlen(root.prefix);
        rootKey = root.key;
        text[prefixLen - 1] = '\0';
        rootName = text;
        rest = text + prefixLen;
        break;
    }
    if (*rest == '\0') return 0;
    keyPath = rest;
    if (char* slash = std::strrchr(rest, '\\')) {
        *slash = '\0';
        if (slash[1] != '\0') lastComponent = slash + 1;
    }
    return 0;
}

void SplitQuotedFields(char* text, std::initializer_list<char**> fields) {
    if (text == nullptr) return;
    size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == '"') text[n - 1] = '\0';
    char* pos = text;
    while (*pos == '"') ++pos;
    for (char** field : fields) {
        if (pos == nullptr) break;
        if (field != nullptr) *field = pos;
        char* sep = std::strstr(pos, "\",\"");
        if (sep == nullptr) {
            pos = nullptr;
        } else {
            *sep = '\0';
            pos = sep + 3;
        }
    }
}

bool HasWildcards(const char* text) { return text != nullptr && std::strpbrk(text, "*?") != nullptr; }

bool MatchWildcard(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr) return false;
    char* t0 = UpperCopy(text);
    char* p0 = UpperCopy(pattern);
    if (t0 == nullptr || p0 == nullptr) {
        std::free(t0);
        std::free(p0);
        return false;
    }
    char* t = t0;
    char* p = p0;
    bool star = false;
    bool result = false;
    size_t wildcards = 0;
    for (;;) {
        if (*p == '?') {
            ++wildcards;
            star = false;
            ++p;
            if (*t != '\0') t += platform::AnsiCharLength(t);  // one character, whatever its bytes
        } else if (*p == '*') {
            ++wildcards;
            star = true;
            ++p;
        } else if (*p == *t) {
            star = false;
            if (*p != '\0') ++p;
            if (*t != '\0') ++t;
        } else if (star) {
            if (*p == '\0') {
                result = true;
                break;
            }
            star = false;
            // The run after a star is matched at its first occurrence and never retried.
            char* runEnd = p;
            while (*runEnd != '\0' && *runEnd != '*' && *runEnd != '?') ++runEnd;
            char saved = *runEnd;
            *runEnd = '\0';
            char* found = std::strstr(t, p);
            size_t runLen = static_cast<size_t>(runEnd - p);
            *runEnd = saved;
            if (found == nullptr) {
                result = false;
                break;
            }
            t = found + runLen;
            p = runEnd;
        } else {
            result = false;
            break;
        }
        result = true;
        if (*t == '\0' || *p == '\0') break;
    }
    if (*p == '\0' && *t != '\0' && !star) {
        result = false;
    } else if (std::strlen(p0) - wildcards > std::strlen(t0)) {
        result = false;
    }
    std::free(t0);
    std::free(p0);
    return result;
}

size_t FindPathComponent(const std::string& path, const std::string& name) {
    if (name.empty()) return std::string::npos;
    for (size_t at = path.find(name); at != std::string::npos; at = path.find(name, at + 1)) {
        const bool starts = at > 0 && path[at - 1] == '\\';
        const size_t end = at + name.size();
        const bool ends = end == path.size() || path[end] == '\\';
        if (starts && ends) return at;
    }
    return std::string::npos;
}

bool RegistryEntryExists(platform::IRegistry& reg, const char* text, bool isValue, uint32_t view,
                         bool deniedKeyIsPresent) {
    if (text == nullptr || std::strlen(text) >= kRegTextBuffer) return false;
    char parsed[kRegTextBuffer];
    std::strcpy(parsed, text);
    // The parse's normalisation strips the trailing "\" of a default value, leaving the key's
    // own name as the last component.
    const bool defaultValue = isValue && parsed[0] != '\0' && parsed[std::strlen(parsed) - 1] == '\\';
    platform::RegKey root = 0;
    char* rootName = nullptr;
    char* keyPath = nullptr;
    char* last = nullptr;
    if (ParseRegistryPath(parsed, root, rootName, keyPath, last) != 0 || root == 0) return false;
    char key[kRegTextBuffer];
    std::string valueName;
    if (!isValue || defaultValue) {
        if (!JoinPath(key, sizeof(key), {keyPath, last})) return false;
    } else {
        if (keyPath == nullptr || last == nullptr) return false;
        std::strcpy(key, keyPath);
        valueName = last;
        for (size_t at = valueName.find("---"); at != std::string::npos; at = valueName.find("---", at + 1))
            valueName.replace(at, 3, "\\");
    }
    platform::RegKey raw = 0;
    const uint32_t code = reg.OpenKeyEx(root, key, platform::kKeyQueryValue | view, raw);
    if (code == platform::kErrorAccessDenied) return deniedKeyIsPresent && !isValue;
    if (code != 0) return false;
    platform::UniqueRegKey handle(&reg, raw);
    if (!isValue) return true;
    uint32_t type = 0, size = 0;
    const uint32_t rc =
        reg.QueryValueEx(handle.get(), defaultValue ? nullptr : valueName.c_str(), &type, nullptr, &size);
    return rc == 0 || rc == platform::kErrorMoreData;
}

std::string RegistryString(platform::Platform& os, platform::RegKey root, const char* keyPath,
                           const char* name) {
    platform::RegKey raw = 0;
    if (os.reg.OpenKeyEx(root, keyPath, platform::kKeyRead | platform::kKeyWow64_64Key, raw) != 0) return {};
    platform::UniqueRegKey key(&os.reg, raw);
    uint32_t type = 0, size = 0;
    if (os.reg.QueryValueEx(key.get(), name, &type, nullptr, &size) != 0 || size == 0 || size > 32768 ||
        (type != platform::kRegSz && type != platform::kRegExpandSz)) {
        return {};
    }
    std::vector<char> buffer(size + 1u, '\0');
    if (os.reg.QueryValueEx(key.get(), name, &type, buffer.data(), &size) != 0) return {};
    std::string value = buffer.data();
    return type == platform::kRegExpandSz ? platform::ExpandEnvironmentText(os.sys, value) : value;
}

std::vector<std::string> PathComponents(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 3;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsAmbiguousComponent(const std::string& part) {
    if (part.empty() || part.back() == '.' || part.back() == ' ') return true;
    return part.find_first_of(":*?\"<>|") != std::string::npos;
}

// Whether the long name of the object `path` names is one the ANSI code page spells: when
// it is not, the narrow long name is another object's or none, and the short name stays.
static bool SpellsLongName(platform::Platform& os, const std::string& path) {
    platform::FindDataW data;
    platform::FindHandle raw = 0;
    if (!os.fs.FindFirstFileW(platform::AnsiToUtf16(path), data, raw)) return true;
    platform::UniqueFind find(&os.fs, raw);
    return platform::SurvivesAnsi(data.name);
}

std::string LongFormPath(platform::Platform& os, const std::string& path) {
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return path;
    std::string plain = path.substr(0, 2);
    for (const std::string& part : PathComponents(path)) {
        std::string next = plain + "\\" + part;
        if (part.find('~') != std::string::npos && part.find_first_of(":*?\"<>|") == std::string::npos) {
            platform::FindDataA data;
            platform::FindHandle raw = 0;
            if (os.fs.FindFirstFileA(next, data, raw)) {
                platform::UniqueFind find(&os.fs, raw);
                std::string name = data.name;
                if (!name.empty()) platform::AnsiUpperInPlace(&name[0]);
                if (SpellsLongName(os, next)) next = plain + "\\" + name;
            }
        }
        plain = next;
    }
    return plain;
}

}  // namespace expand

namespace engine {

void CNuke::ParseRegKeyPrefix(platform::RegKey root, char* out) {
    if (out == nullptr) return;
    const char* name = expand::CanonicalRootName(root);
    if (name == nullptr) {
        EngineLog(2, "%s: Warning: ParseRegKeyPrefix received invalid hrootKey parameter",
                  "CNuke::ParseRegKeyPrefix");
        return;
    }
    std::memcpy(out, name, std::strlen(name) + 1);  // the longest name fits the 64-byte buffer many times
}

void CNuke::ParseRegKeyPrefixCString(platform::RegKey root, std::string& out) {
    const char* name = expand::CanonicalRootName(root);
    if (name == nullptr) {
        EngineLog(3, "%s: Warning: ParseRegKeyPrefixCString received invalid hrootKey parameter",
                  "CNuke::ParseRegKeyPrefixCString");
        return;
    }
    out = name;
}

}  // namespace engine
