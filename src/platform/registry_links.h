// Opening and deleting keys without ever passing through a registry link. A link key
// (made with REG_OPTION_CREATE_LINK) sends every name that runs through it to its target,
// wherever that is; a standard user may plant one in a key of theirs. Each part of a path
// is opened here with REG_OPTION_OPEN_LINK, relative to the part before it, and checked
// before a name is opened below it: a name runs on through a link even when opened relative
// to a handle of the link itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace platform {

// ERROR_STOPPED_ON_SYMLINK: a link stands where a key was expected.
constexpr uint32_t kErrorKeyIsLink = 681;

// The names of a key path ("A\\B\\C": A, B, C), empty parts left out.
std::vector<std::string> KeyPathParts(const std::string& path);

// Whether `key`, opened with kRegOptionOpenLink and KEY_QUERY_VALUE, is a link: it holds the
// REG_LINK value "SymbolicLinkValue". An ordinary key may carry such a value too; it counts
// as a link, and is left alone rather than entered.
bool IsLinkKey(IRegistry& reg, RegKey key);

// Opens `path` below `parent` part by part, each part with kRegOptionOpenLink and the view
// flags of `access`. The first part (with WOW6432Node or Classes when it is SOFTWARE) is
// opened as one, following the links the system itself puts there (the 32-bit view's
// SOFTWARE\Classes, a user's Software\Classes), when it lies below HKEY_LOCAL_MACHINE,
// which only administrators change, or is such a pair. HKLM\SYSTEM\CurrentControlSet, and
// a name below it, is opened in the control set HKLM\SYSTEM\Select "Current" names when it
// is the system's link to that set, unless `isLink` asks of the link itself.
// 0 with `out` open; 681 when a part before the last is a link, 5 when one may not be asked
// to tell. For the last part, with `isLink` null a link gives 681; with `isLink` the link
// itself is opened and *isLink says so. Else the error of the open.
[[nodiscard]] uint32_t OpenKeyWithoutFollowing(IRegistry& reg, RegKey parent, const std::string& path,
                                               uint32_t access, RegKey& out, bool* isLink = nullptr);

// OpenKeyWithoutFollowing for many keys that share their parents, as the listed keys of a
// tree do one after another. The parent of the last key opened stays open, checked once, and
// the next key below that same parent is opened inside it: one open and one check per key,
// with the answers the walk from the root gives. A held parent that is deleted or replaced
// meanwhile stays the object that was checked; nothing is opened through its new name.
class KeyParents {
  public:
    explicit KeyParents(IRegistry& reg) : reg_(reg) {}
    KeyParents(const KeyParents&) = delete;
    KeyParents& operator=(const KeyParents&) = delete;

    [[nodiscard]] uint32_t Open(RegKey root, const std::string& path, uint32_t access, RegKey& out,
                                bool* isLink = nullptr);
    // The held parent of `path` (opened now if it is another), or 0 with its error in `rc`.
    RegKey ParentOf(RegKey root, const std::string& path, uint32_t view, std::string& leaf, uint32_t& rc);

  private:
    // One parent per view: a step that tries the default view before the 64-bit one keeps
    // its parent in each.
    // A parent found missing stays missing for the step: the step only deletes.
    struct Held {
        RegKey root = 0;
        std::string parent;  // upper case
        UniqueRegKey key;
        RegKey missingRoot = 0;
        std::string missing;  // upper case
    };
    IRegistry& reg_;
    Held held_[3];  // the default view, KEY_WOW64_64KEY, KEY_WOW64_32KEY
};

// Deletes the key `path` below `parent` with everything below it, never through a link: a
// link met there, or named by `path`, is deleted itself by its handle, and what it points
// to stays. `view` is KEY_WOW64_64KEY or 0. The path of each link deleted, relative to
// `parent`, is added to `links` when given. 0; 2 when the key is missing; 681 when a link
// lies on the way to it; else the first error, after deleting what could go before it.
[[nodiscard]] uint32_t DeleteTreeWithoutFollowing(IRegistry& reg, RegKey parent, const std::string& path,
                                                  uint32_t view, std::vector<std::string>* links = nullptr,
                                                  KeyParents* parents = nullptr);

}  // namespace platform
