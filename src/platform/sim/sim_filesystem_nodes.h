// What the parts of the simulated file system share: the nodes of its tree, its handles and
// listings, and the helpers that read names and paths. Only the simulated file system's own
// sources include it.
#pragma once

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/sim/sim_filesystem.h"
#include "platform/unicode_text.h"

namespace platform::sim {

namespace simfs {

constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorDirectory = 267;             // ERROR_DIRECTORY: the name is not a directory
constexpr uint32_t kErrorCantResolveFilename = 1921;  // a chain of links too long or circular
// Windows gives up on a name after this many links.
constexpr int kMaxLinkDepth = 31;

// The rights an open asks for that the object's access list does not grant as data access:
// whether they are granted is the security area's decision, made when they are used.
constexpr uint32_t kSecurityRights = kReadControl | kWriteDac | kWriteOwner | kFileReadAttributes;

// The attribute bits SetFileAttributes and CreateFile may set.
constexpr uint32_t kSettableAttributes =
    kFileAttributeReadonly | kFileAttributeHidden | kFileAttributeSystem | kFileAttributeArchive;
constexpr uint32_t kReadRights = kGenericRead | kGenericAll | 0x1;  // FILE_READ_DATA
constexpr uint32_t kWriteRights =
    kGenericWrite | kGenericAll | 0x2 | 0x4;  // FILE_WRITE_DATA, FILE_APPEND_DATA
constexpr uint32_t kDeleteRights = kDeleteAccess | kGenericAll;
constexpr uint32_t kExecuteRights = 0x20;  // FILE_EXECUTE, FILE_TRAVERSE on a directory
// Opens with none of these take no part in sharing: Windows neither checks nor records them.
constexpr uint32_t kSharedRights = kReadRights | kWriteRights | kDeleteRights | kExecuteRights;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorWriteProtect = 19;

// Names are kept as Windows keeps them, in Unicode (here as UTF-8), and compared as NTFS
// compares them: each letter by its one-to-one upper case, whatever the ANSI code page.
inline std::string Fold(const std::string& s) {
    std::string r = s;
    if (!r.empty()) Utf8UpperInPlace(&r[0], SimpleUpper);
    return r;
}

// The real name of a narrow name: what an "A" call hands the "W" call it is built on.
inline std::string Real(const std::string& ansi) {
    std::u16string wide;
    AnsiToUtf16(ansi.data(), ansi.size(), wide);
    return Utf16ToUtf8(wide);
}
inline std::string Real(const std::u16string& wide) { return Utf16ToUtf8(wide); }
inline std::u16string Wide(const std::string& real) { return Utf8ToUtf16(real.data(), real.size()); }
// A real name as an "A" call gives it back: a character the code page lacks becomes its
// best-fit look-alike or '?', so the result may name another object or none.
inline std::string Narrow(const std::string& real) { return Utf16ToAnsi(Wide(real)); }

// Whether a narrow path is too long for an "A" call, which converts it into a buffer of
// MAX_PATH characters.
inline bool TooLong(const std::string& ansi) { return Wide(Real(ansi)).size() >= kMaxPath; }

// Past the character at `s`: wildcards match characters, not bytes.
inline const char* NextChar(const char* s) {
    size_t length = 0;
    while (length < 4 && s[length] != '\0') ++length;
    size_t pos = 0;
    (void)DecodeUtf8(s, length, pos);
    return s + pos;
}

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits "C:\a\b" into its drive letter and components; "." and ".." are resolved as
// Windows resolves them before the file system sees the name. False for a relative path.
inline bool ParsePath(const std::string& path, char& drive, std::vector<std::string>& parts) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return false;
    if (path.size() > 2 && !IsSeparator(path[2])) return false;
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    parts.clear();
    size_t i = 2;
    while (i < path.size()) {
        while (i < path.size() && IsSeparator(path[i])) ++i;
        size_t start = i;
        while (i < path.size() && !IsSeparator(path[i])) ++i;
        if (i == start) break;
        std::string part = path.substr(start, i - start);
        if (part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return true;
}

inline bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// FindFirstFile's matching of one name against the last component of a pattern: "*" any
// run of characters, "?" exactly one, case ignored; a trailing ".*" also matches a name
// without an extension, so "*.*" matches every name.
inline bool MatchName(const char* p, const char* n) {
    for (; *p; ++p) {
        if (p[0] == '.' && p[1] == '*' && p[2] == '\0' && *n == '\0') return true;
        if (*p == '*') {
            while (p[1] == '*') ++p;
            if (p[1] == '\0') return true;
            for (const char* s = n; *s; s = NextChar(s))
                if (MatchName(p + 1, s)) return true;
            return MatchName(p + 1, "");
        }
        if (*n == '\0') return false;
        if (*p == '?') {
            n = NextChar(n);
            continue;
        }
        if (*p != *n) return false;
        ++n;
    }
    return *n == '\0';
}

}  // namespace simfs

// One name in a folder and the object it leads to. A file with several names (hard links) is
// one object in several entries; each of those keeps its own name, which renaming the object
// by another of its names leaves as it is.
struct SimNameEntry : std::shared_ptr<SimFileSystem::Node> {
    SimNameEntry() = default;
    SimNameEntry(std::shared_ptr<SimFileSystem::Node> node) : shared_ptr(std::move(node)) {}
    std::string name;  // empty: the object's own name
};

struct SimFileSystem::Node {
    std::string name;
    bool directory = false;
    uint32_t attributes = 0;  // the settable bits
    std::string contents;
    SimFileSecurity security;
    std::map<std::string, SimNameEntry> children;  // by folded name
    std::string linkTarget;      // a junction (directory) or symbolic link (file) to this full path
    std::string shortName;       // the 8.3 name, when the volume made one
    bool deletePending = false;  // goes when its last handle closes; opens fail meanwhile
    // The file index: never the same for two objects, as a volume's file references are not.
    uint64_t index = NextIndex();

    static uint64_t NextIndex() {
        static std::atomic<uint64_t> last{0};
        return ++last;
    }

    bool IsLink() const { return !linkTarget.empty(); }
    uint32_t Reported() const {
        uint32_t link = IsLink() ? uint32_t{kFileAttributeReparsePoint} : 0u;
        if (directory) return attributes | kFileAttributeDirectory | link;
        return attributes == 0 && link == 0 ? kFileAttributeNormal : attributes | link;
    }
    bool Denies(uint32_t access) const {
        if (security.deniedAccess & kGenericAll) return access != 0;
        return (security.deniedAccess & access) != 0;
    }
};

namespace simfs {

inline const std::string& NameOf(const SimNameEntry& entry) {
    return entry.name.empty() ? entry->name : entry.name;
}

// The key of the entry in `dir` that leads to `node`; empty when none does.
inline std::string KeyIn(const SimFileSystem::Node& dir, const SimFileSystem::Node* node) {
    auto it = dir.children.find(Fold(node->name));
    if (it != dir.children.end() && it->second.get() == node) return it->first;
    for (const auto& [key, child] : dir.children)
        if (child.get() == node) return key;
    return std::string();
}

// The name by which `dir` holds `node`.
inline std::string NameIn(const SimFileSystem::Node& dir, const SimFileSystem::Node* node) {
    auto it = dir.children.find(KeyIn(dir, node));
    return it == dir.children.end() ? node->name : NameOf(it->second);
}

}  // namespace simfs

struct SimFileSystem::Lookup {
    // 3 when the parent is missing or the path is not valid; 123 for a wildcard in a name,
    // with `parent` and `leaf` still set when it stands in the last one.
    uint32_t error = 0;
    std::shared_ptr<Node> parent;  // null for a drive root
    std::shared_ptr<Node> node;    // null when the last component does not exist
    std::string leaf;
    char drive = 0;
};

struct SimFileSystem::OpenFile {
    std::shared_ptr<Node> node;
    std::weak_ptr<Node> openedIn;  // the folder of the name it was opened by, when known
    uint32_t access = 0;
    uint32_t share = 0;
    uint64_t position = 0;
};

struct SimFileSystem::Listing {
    std::vector<FindDataA> entries;  // real names, narrowed or widened as they are handed out
    size_t next = 0;
};

namespace simfs {

inline bool FindChain(const std::shared_ptr<SimFileSystem::Node>& dir, const SimFileSecurity* target,
                      std::vector<const SimFileSystem::Node*>& chain) {
    for (const auto& [key, child] : dir->children) {
        if (&child->security == target || (child->directory && FindChain(child, target, chain))) {
            chain.push_back(child.get());
            return true;
        }
    }
    return false;
}

inline SimFileSystem::Node* FindNode(SimFileSystem::Node* dir, const SimFileSecurity* target) {
    if (&dir->security == target) return dir;
    for (const auto& [key, child] : dir->children) {
        SimFileSystem::Node* found = child->directory ? FindNode(child.get(), target) : nullptr;
        if (found == nullptr && &child->security == target) found = child.get();
        if (found != nullptr) return found;
    }
    return nullptr;
}

// "O:BA" or "O:S-1-..." at the start of an SDDL text: the owner it names ("" for none), and
// the rest of the text in `rest`.
inline std::string SplitSddlOwner(const std::string& sddl, std::string& rest) {
    rest = sddl;
    if (sddl.compare(0, 2, "O:") != 0) return std::string();
    size_t end = 2;
    while (end < sddl.size() && !(sddl[end + 1] == ':' && std::strchr("GDS", sddl[end]) != nullptr)) ++end;
    std::string owner = sddl.substr(2, end - 2);
    rest = sddl.substr(end);
    if (owner == "BA") return kAdministratorsSid;
    if (owner == "SY") return "S-1-5-18";
    return owner;
}

inline bool IsComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?") == std::string::npos;
}

inline bool DeniesOpen(const SimFileSystem::Node& n, uint32_t access) {
    uint32_t classes = 0;
    if (access & (kReadRights | kExecuteRights)) classes |= kGenericRead;
    if (access & kWriteRights) classes |= kGenericWrite;
    if (access & kDeleteRights) classes |= kDeleteAccess;
    return n.Denies(classes);
}

}  // namespace simfs

}  // namespace platform::sim
