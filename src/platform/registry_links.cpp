#include "platform/registry_links.h"

#include <algorithm>
#include <utility>

#include "platform/ansi.h"
#include "platform/common.h"

namespace platform {

namespace {

constexpr uint32_t kViewFlags = kKeyWow64_64Key | kKeyWow64_32Key;
// Deeper than the registry lets keys nest.
constexpr int kMaxDepth = 512;
constexpr uint32_t kKeyNameBuffer = kKeyNameBytes;

bool SameName(const std::string& a, const char* b) { return AnsiCompareNoCase(a.c_str(), b) == 0; }

// Deletes `name` below `parent` with everything below it. Each key is read through one
// handle and deleted through another opened for DELETE alone, both as itself: a key
// swapped for a link in between is then the link, which goes itself.
uint32_t DeleteKeyBelow(IRegistry& reg, RegKey parent, const std::string& name, uint32_t view,
                        const std::string& at, std::vector<std::string>* links, int depth) {
    RegKey raw = 0;
    if (uint32_t rc = reg.OpenKeyExOptions(parent, name, kRegOptionOpenLink, kKeyRead | view, raw)) return rc;
    {
        UniqueRegKey key(&reg, raw);
        if (IsLinkKey(reg, key.get())) {
            if (links != nullptr) links->push_back(at);
        } else {
            if (depth > kMaxDepth) return kErrorInvalidData;
            // Each subkey deleted moves the next one to the front.
            for (;;) {
                char child[kKeyNameBuffer];
                uint32_t length = sizeof child;
                uint32_t rc = reg.EnumKeyEx(key.get(), 0, child, &length);
                if (rc == kErrorNoMoreItems) break;
                if (rc != kErrorSuccess) return rc;
                const std::string childName(child, length);
                if ((rc = DeleteKeyBelow(reg, key.get(), childName, view, at + "\\" + childName, links,
                                         depth + 1)) != kErrorSuccess)
                    return rc;
            }
        }
    }
    if (uint32_t rc = reg.OpenKeyExOptions(parent, name, kRegOptionOpenLink, kDelete | view, raw)) return rc;
    UniqueRegKey doomed(&reg, raw);
    return reg.DeleteOpenKey(doomed.get());
}

// The name of the control set in use ("ControlSet001"): the one the machine's Select key
// names, when HKLM\SYSTEM\CurrentControlSet is the system's link to that very set. Empty
// when either cannot be read, is odd, or they disagree.
std::string ControlSetInUse(IRegistry& reg, uint32_t view) {
    RegKey raw = 0;
    if (reg.OpenKeyExOptions(kHkeyLocalMachine, "SYSTEM\\Select", 0, kKeyQueryValue | view, raw) !=
        kErrorSuccess)
        return std::string();
    UniqueRegKey select(&reg, raw);
    uint32_t type = kRegNone;
    uint32_t current = 0;
    uint32_t size = sizeof current;
    if (reg.QueryValueEx(select.get(), "Current", &type, &current, &size) != kErrorSuccess ||
        type != kRegDword || size != sizeof current || current == 0 || current > 999)
        return std::string();
    char name[] = "ControlSet000";
    for (int at = 12; current != 0; --at, current /= 10) name[at] = static_cast<char>('0' + current % 10);

    if (reg.OpenKeyExOptions(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet", kRegOptionOpenLink,
                             kKeyQueryValue | view, raw) != kErrorSuccess)
        return std::string();
    UniqueRegKey link(&reg, raw);
    char16_t target[64] = {};
    size = sizeof target - sizeof(char16_t);
    if (reg.QueryValueExW(link.get(), u"SymbolicLinkValue", &type, target, &size) != kErrorSuccess ||
        type != kRegLink)
        return std::string();
    std::string text = Utf16ToAnsi(std::u16string(target, size / sizeof(char16_t)));
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return SameName(text, (std::string("\\Registry\\Machine\\SYSTEM\\") + name).c_str()) ? name
                                                                                         : std::string();
}

}  // namespace

std::vector<std::string> KeyPathParts(const std::string& path) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

bool IsLinkKey(IRegistry& reg, RegKey key) {
    uint32_t type = kRegNone;
    uint32_t size = 0;
    uint32_t rc = reg.QueryValueEx(key, "SymbolicLinkValue", &type, nullptr, &size);
    return (rc == kErrorSuccess || rc == kErrorMoreData) && type == kRegLink;
}

uint32_t OpenKeyWithoutFollowing(IRegistry& reg, RegKey parent, const std::string& path, uint32_t access,
                                 RegKey& out, bool* isLink) {
    if (isLink != nullptr) *isLink = false;
    std::vector<std::string> parts = KeyPathParts(path);
    if (parts.empty()) return reg.OpenKeyExOptions(parent, path, kRegOptionOpenLink, access, out);
    size_t head = 1;
    if (parts.size() > 1 && SameName(parts[0], "SOFTWARE") &&
        (SameName(parts[1], "WOW6432Node") || SameName(parts[1], "Classes")))
        head = 2;
    const uint32_t view = access & kViewFlags;
    // The system links CurrentControlSet to the control set in use at each start: a name
    // below it, or the key itself opened as a key, is opened in that set, and each part
    // further down is checked as any other. Asked whether it is a link, it still is one;
    // a CurrentControlSet that is no link at all is walked as any key.
    if (parent == kHkeyLocalMachine && (parts.size() > 2 || (parts.size() == 2 && isLink == nullptr)) &&
        SameName(parts[0], "SYSTEM") && SameName(parts[1], "CurrentControlSet")) {
        std::string controlSet = ControlSetInUse(reg, view);
        if (!controlSet.empty()) parts[1] = std::move(controlSet);
    }
    UniqueRegKey at;
    RegKey from = parent;
    size_t i = 0;
    while (i < parts.size()) {
        std::string name = parts[i];
        const size_t take = i == 0 ? std::min(head, parts.size()) : 1;
        for (size_t j = 1; j < take; ++j) name += "\\" + parts[i + j];
        const bool head = i == 0 && (parent == kHkeyLocalMachine || take == 2);
        i += take;
        const bool last = i == parts.size();
        RegKey raw = 0;
        if (head) {
            // The system's own keys, which only administrators may change, or the links the
            // system makes itself: the 32-bit view reaches SOFTWARE\Classes through one, and a
            // user's SOFTWARE\Classes is one to that user's classes hive.
            if (uint32_t rc =
                    reg.OpenKeyExOptions(from, name, 0, last ? access : (kKeyQueryValue | view), raw))
                return rc;
            if (last) {
                out = raw;
                return kErrorSuccess;
            }
            at.reset(&reg, raw);
            from = at.get();
            continue;
        }
        if (last) {
            // Asked with KEY_QUERY_VALUE as well, to tell a link. A key that refuses that is
            // opened as asked and counts as none: the handle is the key itself in any case.
            uint32_t rc = reg.OpenKeyExOptions(from, name, kRegOptionOpenLink, access | kKeyQueryValue, raw);
            const bool asked = rc == kErrorSuccess;
            if (rc == kErrorAccessDenied && !(access & kKeyQueryValue))
                rc = reg.OpenKeyExOptions(from, name, kRegOptionOpenLink, access, raw);
            if (rc != kErrorSuccess) return rc;
            UniqueRegKey opened(&reg, raw);
            const bool link = asked && IsLinkKey(reg, opened.get());
            if (link && isLink == nullptr) return kErrorKeyIsLink;
            if (isLink != nullptr) *isLink = link;
            out = opened.release();
            return kErrorSuccess;
        }
        // A name opened relative to a link runs on through it, even from a handle of the link
        // itself: a key on the way that cannot be asked is not passed.
        if (uint32_t rc = reg.OpenKeyExOptions(from, name, kRegOptionOpenLink, kKeyQueryValue | view, raw))
            return rc;
        at.reset(&reg, raw);
        if (IsLinkKey(reg, at.get())) return kErrorKeyIsLink;
        from = at.get();
    }
    return kErrorFileNotFound;
}

RegKey KeyParents::ParentOf(RegKey root, const std::string& path, uint32_t view, std::string& leaf,
                            uint32_t& rc) {
    rc = kErrorSuccess;
    const std::vector<std::string> parts = KeyPathParts(path);
    // A key of one or two parts may lie inside the head the walk opens as one: it is not
    // opened as a name inside its parent. Only a predefined root is known by its value for
    // as long as a parent is held.
    if (parts.size() < 3 || (root & 0x80000000u) == 0) return 0;
    std::string parentPath = parts[0];
    for (size_t i = 1; i + 1 < parts.size(); ++i) parentPath += "\\" + parts[i];
    leaf = parts.back();
    std::string folded = parentPath;
    AnsiUpperInPlace(&folded[0]);
    Held& held = held_[view == kKeyWow64_64Key ? 1 : view == kKeyWow64_32Key ? 2 : 0];
    if (root == held.missingRoot && folded == held.missing) {
        rc = kErrorFileNotFound;
        return 0;
    }
    if (!held.key || root != held.root || folded != held.parent) {
        RegKey raw = 0;
        if ((rc = OpenKeyWithoutFollowing(reg_, root, parentPath, kKeyQueryValue | view, raw)) !=
            kErrorSuccess) {
            if (rc == kErrorFileNotFound) {
                held.missingRoot = root;
                held.missing = folded;
            }
            return 0;
        }
        held.key.reset(&reg_, raw);
        held.root = root;
        held.parent = folded;
    }
    return held.key.get();
}

uint32_t KeyParents::Open(RegKey root, const std::string& path, uint32_t access, RegKey& out, bool* isLink) {
    uint32_t rc = kErrorKeyDeleted;
    // A held parent that went (a tree deleted above it) is looked up afresh, once.
    for (int tries = 0; tries < 2 && rc == kErrorKeyDeleted; ++tries) {
        if (tries > 0)
            for (Held& held : held_) held.key.reset();
        std::string leaf;
        const RegKey parent = ParentOf(root, path, access & kViewFlags, leaf, rc);
        if (rc != kErrorSuccess) {
            if (isLink != nullptr) *isLink = false;
            return rc;
        }
        if (parent == 0) return OpenKeyWithoutFollowing(reg_, root, path, access, out, isLink);
        rc = OpenKeyWithoutFollowing(reg_, parent, leaf, access, out, isLink);
    }
    return rc;
}

uint32_t DeleteTreeWithoutFollowing(IRegistry& reg, RegKey parent, const std::string& path, uint32_t view,
                                    std::vector<std::string>* links, KeyParents* parents) {
    std::string trimmed = path;
    while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
    const size_t cut = trimmed.rfind('\\');
    if (trimmed.empty()) return kErrorInvalidParameter;
    UniqueRegKey above;
    RegKey from = parent;
    std::string leaf;
    uint32_t rc = kErrorSuccess;
    const RegKey held = parents != nullptr ? parents->ParentOf(parent, trimmed, view, leaf, rc) : 0;
    if (rc != kErrorSuccess) return rc;
    if (held != 0) {
        from = held;
    } else if (cut != std::string::npos) {
        RegKey raw = 0;
        if (uint32_t rc =
                OpenKeyWithoutFollowing(reg, parent, trimmed.substr(0, cut), kKeyQueryValue | view, raw))
            return rc;
        above.reset(&reg, raw);
        from = raw;
    }
    const std::string name = cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
    return DeleteKeyBelow(reg, from, name, view, path, links, 0);
}

}  // namespace platform
