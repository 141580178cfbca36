// Deleting the listed registry values and keys, in the default view first and, under
// WOW64, in the 64-bit view when the default view does not have them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "actions/acl.h"
#include "actions/registry_backup.h"
#include "engine/cnuke.h"
#include "expand/handlers_internal.h"
#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "expand/unspellable_names.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"
#include "platform/registry_links.h"

namespace engine {

namespace {

using platform::kErrorAccessDenied;
using platform::kErrorFileNotFound;
using platform::kErrorSuccess;

// ERROR_CAN_NOT_COMPLETE for an entry kept because the backup that must hold it first
// cannot be written.
constexpr uint32_t kErrorNoBackup = platform::kErrorCanNotComplete;

// The run's backup, made at its first deletion; a preview deletes nothing and makes none.
actions::RegistryBackup* BackupOf(CNuke& nuke, platform::Platform& os) {
    if (nuke.previewOnly) return nullptr;
    if (!nuke.registryBackup) nuke.registryBackup = std::make_shared<actions::RegistryBackup>(os);
    return nuke.registryBackup.get();
}

// Saves what one deletion is about to take. A read that the object's access list refuses
// is tried again once the list has been opened up; a deletion that went ahead without that
// retry reports the loss.
class SaveBefore {
  public:
    // `opened`: the key, held open as itself with KEY_READ by the deletion that follows, is
    // read through that handle rather than opened again.
    SaveBefore(actions::RegistryBackup* backup, platform::RegKey root, std::string keyPath,
               const char* valueName, bool view64, platform::RegKey opened = 0)
        : backup_(backup),
          root_(root),
          keyPath_(std::move(keyPath)),
          isValue_(valueName != nullptr),
          valueName_(valueName != nullptr ? valueName : ""),
          view64_(view64),
          opened_(opened) {
        if (backup_ != nullptr) rc_ = Save(true);
        opened_ = 0;  // a retry reads under the new access list, through a new handle
    }
    SaveBefore(const SaveBefore&) = delete;
    SaveBefore& operator=(const SaveBefore&) = delete;
    ~SaveBefore() {
        if (backup_ != nullptr && rc_ == kErrorAccessDenied && !retried_)
            backup_->ReportUnsaved(rc_, root_, keyPath_, isValue_ ? valueName_.c_str() : nullptr, view64_);
    }

    // The object's access list refused the reading, which has not been tried again yet.
    bool ReadRefused() const { return backup_ != nullptr && rc_ == kErrorAccessDenied && !retried_; }

    // The backup cannot be written: the deletion must not go ahead.
    bool Refused() const { return backup_ != nullptr && backup_->Broken(); }

    // The reading was refused again under the rewritten access list: not all is saved.
    bool Unread() const { return backup_ != nullptr && retried_ && rc_ == kErrorAccessDenied; }

    // Called after the access list was rewritten; the one retry of a refused reading, which
    // reports its own failure.
    void AccessOpened() {
        if (!ReadRefused()) return;
        rc_ = Save(false);
        retried_ = true;
    }

  private:
    uint32_t Save(bool mayRetry) {
        if (opened_ != 0)
            return isValue_ ? backup_->SaveOpenValue(opened_, root_, keyPath_, valueName_, view64_, mayRetry)
                            : backup_->SaveOpenKey(opened_, root_, keyPath_, view64_, mayRetry);
        return isValue_ ? backup_->SaveValue(root_, keyPath_, valueName_, view64_, mayRetry)
                        : backup_->SaveKey(root_, keyPath_, view64_, mayRetry);
    }

    actions::RegistryBackup* backup_;
    platform::RegKey root_;
    std::string keyPath_;
    bool isValue_;
    std::string valueName_;
    bool view64_;
    platform::RegKey opened_;
    uint32_t rc_ = kErrorSuccess;
    bool retried_ = false;
};

constexpr uint32_t kErrorBadEnvironment = 10;  // what a 64-bit deletion without RegDeleteKeyExA gives
constexpr uint32_t kAllAccess64 = platform::kKeyAllAccess | platform::kKeyWow64_64Key;
constexpr size_t kDisplayBuffer = 8192;
constexpr size_t kRootNameBuffer = 64;

// One listed entry, split in a buffer of its own (ParseRegistryPath works in place).
struct SplitEntry {
    char text[expand::kRegTextBuffer] = {};
    platform::RegKey root = 0;
    char* rootName = nullptr;
    char* keyPath = nullptr;
    char* last = nullptr;
};

// Copies and splits a listed entry. An entry too long for the buffer, or without one of
// the root prefixes, is refused with a warning (none when `tag` is null): the registry API
// would read a null root as a handle, and a cut text would name some other key.
bool Split(const char* tag, const char* entry, SplitEntry& out) {
    size_t length = std::strlen(entry);
    if (length >= sizeof out.text) {
        if (tag != nullptr) EngineLog(3, "%s: Registry entry '%s' is too long, skipped", tag, entry);
        return false;
    }
    std::memcpy(out.text, entry, length + 1);
    if (expand::ParseRegistryPath(out.text, out.root, out.rootName, out.keyPath, out.last) != kErrorSuccess ||
        out.root == 0) {
        if (tag != nullptr) EngineLog(3, "%s: Registry entry '%s' has no root key, skipped", tag, entry);
        return false;
    }
    // Nothing below the root: an empty key path would make the whole root the object.
    if (out.keyPath == nullptr || *out.keyPath == '\0') {
        if (tag != nullptr)
            EngineLog(3, "%s: Registry entry '%s' names no key below its root, skipped", tag, entry);
        return false;
    }
    return true;
}

// "%s\%s" into a display buffer; a text that does not fit is cut, which only shortens a record.
void Display(char (&out)[kDisplayBuffer], const char* first, const char* second) {
    std::snprintf(out, sizeof out, "%s\\%s", first, second);
}

// Turns every "---" of a listed value name back into the backslash it stands for.
void RestoreBackslashes(char* name) {
    char* write = name;
    for (const char* read = name; *read != '\0';) {
        if (std::strncmp(read, "---", 3) == 0) {
            *write++ = '\\';
            read += 3;
        } else {
            *write++ = *read++;
        }
    }
    *write = '\0';
}

// A listed value's key and name. The key's default value is listed with a trailing
// backslash: its key is the entry's text after its root, as listed, and its name "".
bool ListedValue(const char* tag, const char* entry, SplitEntry& e, const char*& keyText, const char*& name) {
    if (!Split(tag, entry, e)) return false;
    if (entry[std::strlen(entry) - 1] == '\\') {
        keyText = std::strchr(entry, '\\') + 1;
        name = "";
        return true;
    }
    if (e.last == nullptr) {
        if (tag != nullptr) EngineLog(3, "%s: Registry entry '%s' names no value, skipped", tag, entry);
        return false;
    }
    RestoreBackslashes(e.last);
    keyText = e.keyPath;
    name = e.last;
    return true;
}

bool DeleteListedValue(CNuke& nuke, const char* entry) {
    static const char* const kTag = "CNuke::CleanupRegValues";
    SplitEntry e;
    const char* keyText = nullptr;
    const char* name = nullptr;
    if (!ListedValue(kTag, entry, e, keyText, name)) return false;
    char rootText[kRootNameBuffer] = "";
    nuke.ParseRegKeyPrefix(e.root, rootText);
    char display[kDisplayBuffer];
    Display(display, rootText, keyText);
    return nuke.DeleteRegistryValue(e.root, keyText, name, display);
}

// Saving each object just before its deletion would put one flush of the backup, a wait
// for the disk, before every deletion; a batch saved ahead shares one.
constexpr size_t kSaveAheadBatch = 64;

// The step's entries in the order it deletes them.
std::vector<const char*> StepEntries(engine::TSet& list, bool largestFirst) {
    std::vector<const char*> entries;
    entries.reserve(list.Count());
    const char* entry = nullptr;
    if (largestFirst)
        for (uint32_t rc = list.Last(&entry); rc == 0; rc = list.Previous(&entry)) entries.push_back(entry);
    else
        for (uint32_t rc = list.First(&entry); rc == 0; rc = list.Next(&entry)) entries.push_back(entry);
    return entries;
}

// The ignore lists as the subtraction applies them: an entry covers every object text that
// holds it, letter case ignored.
class IgnoreCover {
  public:
    explicit IgnoreCover(engine::TSet& list) {
        const char* s = nullptr;
        for (uint32_t r = list.First(&s); r == 0; r = list.Next(&s)) entries_.push_back(Upper(s));
    }
    bool Empty() const { return entries_.empty(); }
    bool Covers(const std::string& text) const {
        std::string upper = Upper(text.c_str());
        for (const std::string& e : entries_)
            if (std::strstr(upper.c_str(), e.c_str()) != nullptr) return true;
        return false;
    }

  private:
    static std::string Upper(const char* text) {
        std::string s = text;
        if (!s.empty()) platform::AnsiUpperInPlace(&s[0]);
        return s;
    }
    std::vector<std::string> entries_;
};

// One key of the default view, read for the ignore check: its subkeys and value names, as
// the registry spells them, apart from those the ANSI code page cannot spell, which come
// separately as the registry keeps them.
struct KeyContents {
    std::vector<std::string> keys;
    std::vector<std::string> values;
    std::vector<std::u16string> unspellableKeys;
    std::vector<std::u16string> unspellableValues;
};

// `parents`: the step's held parents, for a listed key.
bool ReadContents(platform::IRegistry& reg, platform::RegKey root, const std::string& path, KeyContents& out,
                  platform::KeyParents* parents = nullptr) {
    platform::RegKey raw = 0;
    const uint32_t rc = parents != nullptr
                            ? parents->Open(root, path, platform::kKeyRead, raw)
                            : platform::OpenKeyWithoutFollowing(reg, root, path, platform::kKeyRead, raw);
    if (rc != kErrorSuccess) return false;
    platform::UniqueRegKey key(&reg, raw);
    char name[platform::kKeyNameBytes];
    for (uint32_t i = 0;; ++i) {
        uint32_t length = sizeof name;
        if (reg.EnumKeyEx(key.get(), i, name, &length) != kErrorSuccess) break;
        std::u16string real = expand::UnspellableRegName(reg, key.get(), i, true, std::string(name, length));
        if (real.empty())
            out.keys.emplace_back(name, length);
        else
            out.unspellableKeys.push_back(std::move(real));
    }
    std::vector<char> valueName(platform::kValueNameBytes);
    for (uint32_t i = 0;; ++i) {
        uint32_t length = static_cast<uint32_t>(valueName.size());
        if (reg.EnumValue(key.get(), i, valueName.data(), &length, nullptr, nullptr, nullptr) !=
            kErrorSuccess)
            break;
        std::u16string real =
            expand::UnspellableRegName(reg, key.get(), i, false, std::string(valueName.data(), length));
        if (real.empty())
            out.values.emplace_back(valueName.data(), length);
        else
            out.unspellableValues.push_back(std::move(real));
    }
    return true;
}

// The one record of a link met where a key was to be deleted or read.
void LogLink(const char* tag, const std::string& text) {
    EngineLog(3, actions::kLinkNotFollowedRecord, tag, text.c_str());
}

// The parents a registry step's keys share, held from one key to the next while the step
// runs, and known to the engine (`slot`) for that time only.
class StepParents {
  public:
    StepParents(platform::IRegistry& reg, platform::KeyParents*& slot) : parents_(reg), slot_(slot) {
        slot_ = &parents_;
    }
    ~StepParents() { slot_ = nullptr; }
    StepParents(const StepParents&) = delete;
    StepParents& operator=(const StepParents&) = delete;

  private:
    platform::KeyParents parents_;
    platform::KeyParents*& slot_;
};

// Opens a key as itself, inside its held parent when the step holds one.
uint32_t OpenAsItself(platform::KeyParents* parents, platform::IRegistry& reg, platform::RegKey root,
                      const std::string& path, uint32_t access, platform::RegKey& out,
                      bool* isLink = nullptr) {
    return parents != nullptr ? parents->Open(root, path, access, out, isLink)
                              : platform::OpenKeyWithoutFollowing(reg, root, path, access, out, isLink);
}

// One object a registry step deletes, with what the sequence that saves it first needs.
struct Doomed {
    platform::KeyParents* parents;
    platform::IRegistry& reg;
    actions::RegistryBackup* backup;
    platform::RegKey root;
    const std::string& path;
    const char* valueName;  // null for the key itself
    uint32_t access;        // what the deletion needs of the key's handle
    // The deletion reads every key before it deletes it, and so stops where the reading was
    // refused: what could be read before that is saved.
    bool deletionReads;
    bool view64;
    platform::RegKey opened = 0;  // the key, when the caller holds it open already
};

// The usual case in one open: the key opened as itself for reading and the deletion's access,
// saved through that handle and changed by `change`, whose code `rc` gets. False when the
// open or the reading was refused: nothing was changed, and the caller saves and changes its
// own way round the access list. A key or value that is missing, or a link on the way, gives
// its code and changes nothing. A link at the key itself is `change`d, unread.
template <typename Change>
bool SavedAndChanged(const Doomed& d, Change change, uint32_t& rc) {
    const uint32_t view = d.view64 ? uint32_t{platform::kKeyWow64_64Key} : 0u;
    platform::RegKey raw = 0;
    bool link = false;
    rc = OpenAsItself(d.parents, d.reg, d.root, d.path, platform::kKeyRead | d.access | view, raw,
                      d.valueName ? nullptr : &link);
    if (rc == kErrorFileNotFound || rc == platform::kErrorKeyIsLink) return true;
    if (rc != kErrorSuccess) return false;
    platform::UniqueRegKey key(&d.reg, raw);
    if (d.backup != nullptr && !link) {
        const uint32_t saved = d.valueName != nullptr
                                   ? d.backup->SaveOpenValue(raw, d.root, d.path, d.valueName, d.view64, true)
                                   : d.backup->SaveOpenKey(raw, d.root, d.path, d.view64, true);
        if (saved == kErrorAccessDenied) return false;
        if (d.backup->Broken()) {
            rc = saved;
            return true;
        }
    }
    rc = change(raw, link);
    return true;
}

// The one way the registry steps delete an object: saved to the backup first, then deleted.
// The object's access list is rewritten by `openUp` at most once: when the reading is
// refused, before anything is deleted (a key or value may refuse reading and still allow its
// deletion), and the object saved again, or kept when it still cannot be; else when the
// deletion is refused, and the object deleted once more. `change(key, link)` deletes
// through the key opened as itself (the caller's handle, when it holds one); `again()`
// deletes through a handle it opens anew. The deletion's code.
template <typename Change, typename Again, typename OpenUp>
uint32_t SaveThenDelete(const Doomed& d, Change change, Again again, OpenUp openUp) {
    uint32_t rc = kErrorSuccess;
    if (d.opened == 0 && SavedAndChanged(d, change, rc)) {
        if (rc != kErrorAccessDenied) return rc;
        openUp();
        return again();
    }
    SaveBefore save(d.backup, d.root, d.path, d.valueName, d.view64, d.opened);
    const bool openedUp = save.ReadRefused();
    if (openedUp) {
        openUp();
        save.AccessOpened();
    }
    if (save.Refused()) return kErrorNoBackup;
    if (save.Unread() && !d.deletionReads) return kErrorAccessDenied;
    rc = d.opened != 0 ? change(d.opened, false) : again();
    if (rc != kErrorAccessDenied || openedUp) return rc;
    openUp();
    return again();
}

// Deletes the value `name` of the key `path` below `root` through a handle of that key
// itself: a link on the way gives 681 and deletes nothing. 2 when the key or value is missing.
uint32_t DeleteValueWithoutFollowing(platform::IRegistry& reg, platform::RegKey root, const std::string& path,
                                     const char* name, uint32_t view) {
    platform::RegKey raw = 0;
    if (uint32_t rc = platform::OpenKeyWithoutFollowing(reg, root, path, platform::kKeySetValue | view, raw))
        return rc;
    platform::UniqueRegKey key(&reg, raw);
    return reg.DeleteValue(key.get(), name);
}

// A value's text as the lists write it: a backslash in its name travels as "---".
std::string ValueText(const std::string& keyText, const std::string& name) {
    std::string text = keyText + "\\";
    for (char c : name) {
        if (c == '\\')
            text += "---";
        else
            text += c;
    }
    return text;
}

// The deletion of a key in the default view, with the ignore lists at hand: under WOW64 that
// view is the 32-bit copy, which the 64-bit walk of the working lists never saw.
class DefaultViewTree {
  public:
    DefaultViewTree(engine::CNuke& nuke, platform::IRegistry& reg, platform::RegKey root,
                    actions::RegistryBackup* backup, platform::KeyParents* parents)
        : nuke_(nuke),
          reg_(reg),
          root_(root),
          backup_(backup),
          parents_(parents),
          keys_(nuke.ignoreRegKeyList),
          values_(nuke.ignoreRegValueList) {}

    // Whether an ignore entry covers the key `text` (at `path`) or anything below it, or
    // something below it has a name the ANSI code page cannot spell (HoldsUnspellable).
    bool HoldsIgnored(const std::string& path, const std::string& text, int depth = 0) {
        // With nothing ignored, and every name spelled by the code page, nothing below needs
        // reading to know it.
        if (keys_.Empty() && values_.Empty() && platform::AnsiCodePage() == platform::kCodePageUtf8)
            return false;
        if (keys_.Covers(text)) return true;
        KeyContents c;
        // The listed key itself is read inside the parent the step holds for it.
        if (depth > kMaxDepth || !ReadContents(reg_, root_, path, c, depth == 0 ? parents_ : nullptr))
            return false;
        if (!c.unspellableKeys.empty() || !c.unspellableValues.empty()) {
            unspellable_ = true;
            return true;
        }
        for (const std::string& v : c.values)
            if (values_.Covers(ValueText(text, v))) return true;
        for (const std::string& k : c.keys)
            if (HoldsIgnored(path + "\\" + k, text + "\\" + k, depth + 1)) return true;
        return false;
    }

    // Deletes, depth first, every key and value below and in `path` that no ignore entry
    // covers, and the key itself when nothing was kept in it. True when something was kept.
    bool DeleteUncovered(const std::string& path, const std::string& text, int depth = 0) {
        if (keys_.Covers(text)) return true;
        if (IsLink(path)) {
            // The link goes itself; what it points to is not the product's.
            LogLink(kTag, text);
            uint32_t rc = platform::DeleteTreeWithoutFollowing(reg_, root_, path, 0);
            if (rc == kErrorSuccess || rc == kErrorFileNotFound) return false;
            nuke_.LogErrorCode(rc, "Deleting registry key", text.c_str());
            return true;
        }
        KeyContents c;
        if (depth > kMaxDepth || !ReadContents(reg_, root_, path, c)) return true;
        // Its narrow name would reach another object or none; the key holding it stays.
        for (const std::u16string& k : c.unspellableKeys) {
            expand::detail::LogUnspellable(kTag, "Registry key", platform::AnsiToUtf16(text) + u"\\" + k);
            ++nuke_.counts.keysFailed;
        }
        for (const std::u16string& v : c.unspellableValues) {
            expand::detail::LogUnspellable(kTag, "Registry value", platform::AnsiToUtf16(text) + u"\\" + v);
            ++nuke_.counts.valuesFailed;
        }
        bool kept = !c.unspellableKeys.empty() || !c.unspellableValues.empty();
        for (const std::string& k : c.keys)
            kept |= DeleteUncovered(path + "\\" + k, text + "\\" + k, depth + 1);
        platform::RegKey raw = 0;
        if (platform::OpenKeyWithoutFollowing(reg_, root_, path, platform::kKeyAllAccess, raw) !=
            kErrorSuccess)
            return true;
        platform::UniqueRegKey key(&reg_, raw);
        for (const std::string& v : c.values) {
            if (values_.Covers(ValueText(text, v))) {
                kept = true;
                continue;
            }
            SaveBefore save(backup_, root_, path, v.c_str(), false);
            uint32_t rc = save.Refused() ? kErrorNoBackup : reg_.DeleteValue(key.get(), v.c_str());
            if (rc != kErrorSuccess && rc != kErrorFileNotFound) {
                nuke_.LogErrorCode(rc, "Deleting registry value", ValueText(text, v).c_str());
                kept = true;
            }
        }
        key.reset();
        if (kept) return true;
        SaveBefore save(backup_, root_, path, nullptr, false);
        uint32_t rc =
            save.Refused() ? kErrorNoBackup : platform::DeleteTreeWithoutFollowing(reg_, root_, path, 0);
        if (rc != kErrorSuccess && rc != kErrorFileNotFound) {
            nuke_.LogErrorCode(rc, "Deleting registry key", text.c_str());
            return true;
        }
        return false;
    }

    // Whether HoldsIgnored found a name the ANSI code page cannot spell.
    bool HoldsUnspellable() const { return unspellable_; }

  private:
    static constexpr const char* kTag = "CNuke::DeleteRegistryKey";
    // Deeper than the registry allows keys to nest.
    static constexpr int kMaxDepth = 512;

    bool IsLink(const std::string& path) {
        platform::RegKey raw = 0;
        bool link = false;
        if (platform::OpenKeyWithoutFollowing(reg_, root_, path, platform::kKeyQueryValue, raw, &link) !=
            kErrorSuccess)
            return false;
        reg_.CloseKey(raw);
        return link;
    }

    engine::CNuke& nuke_;
    platform::IRegistry& reg_;
    platform::RegKey root_;
    actions::RegistryBackup* backup_;
    platform::KeyParents* parents_;
    IgnoreCover keys_;
    IgnoreCover values_;
    bool unspellable_ = false;
};

}  // namespace

bool CNuke::IsWow64() {
    // Asked once: a process does not change its kind, and the answer is wanted per object.
    if (wow64_ < 0) {
        bool wow64 = false;
        wow64_ =
            os_.sys.HasEntryPoint("kernel32", "IsWow64Process") && os_.sys.IsWow64Process(wow64) && wow64;
    }
    return wow64_ == 1;
}

uint32_t CNuke::CleanupRegValues() {
    StepParents parents(os_.reg, keyParents_);
    int count = 0;
    bool errors = false;
    const std::vector<const char*> entries = StepEntries(regValueList, false);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i % kSaveAheadBatch == 0) SaveAhead(entries, i, false);
        if (DeleteListedValue(*this, entries[i])) {
            ++counts.valuesDeleted;
        } else {
            errors = true;
            ++counts.valuesFailed;
        }
        ++count;
    }
    counts.valuesListed = static_cast<uint32_t>(count);
    if (errors)
        EngineLog(3, "%s: CleanupRegValues encountered errors but deleted '%d' values",
                  "CNuke::CleanupRegValues", count);
    else
        EngineLog(5, "%s: CleanupRegValues was successful with '%d' deleted values",
                  "CNuke::CleanupRegValues", count);
    return 0;
}

void CNuke::SaveAhead(const std::vector<const char*>& entries, size_t begin, bool keys) {
    actions::RegistryBackup* backup = BackupOf(*this, os_);
    if (backup == nullptr || backup->Broken()) return;
    const size_t end = std::min(entries.size(), begin + kSaveAheadBatch);
    for (size_t i = begin; i < end; ++i) {
        SplitEntry e;
        std::string path;
        const char* name = nullptr;
        if (keys) {
            char full[expand::kRegTextBuffer];
            if (!Split(nullptr, entries[i], e) || Protected().KeyReason(entries[i]) != nullptr ||
                !expand::JoinPath(full, sizeof full, {e.keyPath, e.last}))
                continue;
            path = full;
        } else {
            const char* keyText = nullptr;
            if (!ListedValue(nullptr, entries[i], e, keyText, name)) continue;
            path = keyText;
        }
        // The deletions look in the default view first, then, not found there under WOW64,
        // in the 64-bit one.
        for (const bool view64 : {false, true}) {
            if (view64 && !IsWow64()) break;
            const uint32_t access = platform::kKeyRead | (view64 ? platform::kKeyWow64_64Key : 0u);
            platform::RegKey raw = 0;
            uint32_t rc = OpenAsItself(keyParents_, os_.reg, e.root, path, access, raw);
            if (rc == kErrorSuccess) {
                platform::UniqueRegKey key(&os_.reg, raw);
                rc = backup->SaveAhead(key.get(), e.root, path, name, view64);
            }
            if (rc != kErrorFileNotFound) break;
        }
    }
    (void)backup->Flush();
}

bool CNuke::DeleteRegistryValue(platform::RegKey root, const char* keyPath, const char* valueName,
                                const char* displayText) {
    static const char* const kTag = "CNuke::DeleteRegistryValue";
    const char* key = keyPath != nullptr ? keyPath : "";
    const char* name = valueName != nullptr ? valueName : "";
    const char* display = displayText != nullptr ? displayText : "";
    const std::string path = key;
    const uint32_t rc = SaveThenDelete(
        Doomed{keyParents_, os_.reg, BackupOf(*this, os_), root, path, name, platform::kKeySetValue, false,
               false},
        [&](platform::RegKey opened, bool) { return os_.reg.DeleteValue(opened, name); },
        [&] { return DeleteValueWithoutFollowing(os_.reg, root, path, name, 0); },
        [&] { (void)actions::DropRegKeyAcl(os_, root, key); });
    if (rc == platform::kErrorKeyIsLink) {
        LogLink(kTag, display);
        return false;
    }
    if (rc == kErrorSuccess) {
        EngineLog(5, "%s: Deleting registry value '%s' was successful", kTag, display);
        return true;
    }
    if (rc == kErrorFileNotFound) {
        if (IsWow64()) {
            EngineLog(4, "%s: Registry value '%s' not found, let's try 64bit side...", kTag, display);
            return DeleteRegistryValue64bit(root, key, name) == kErrorSuccess;
        }
        EngineLog(5, "%s: Registry value '%s' is missing already, nothing to delete...", kTag, display);
        return false;
    }
    LogErrorCode(rc, "Deleting registry value", display);
    return false;
}

uint32_t CNuke::DeleteRegistryValue64bit(platform::RegKey root, const char* keyPath, const char* valueName) {
    static const char* const kTag = "CNuke::DeleteRegistryValue64bit";
    // RegDeleteValueA does the deletion, but the view only exists where RegDeleteKeyExA does.
    if (!os_.sys.HasEntryPoint("AdvAPI32.dll", "RegDeleteKeyExA")) {
        EngineLog(2, "%s: GetProcAddress for RegDeleteKeyValue failed. 64 bit deletion aborted.", kTag);
        return kErrorBadEnvironment;
    }
    const char* key = keyPath != nullptr ? keyPath : "";
    const char* name = valueName != nullptr ? valueName : "";
    char display[kDisplayBuffer];
    Display(display, key, name);

    platform::RegKey h = 0;
    uint32_t rc = OpenAsItself(keyParents_, os_.reg, root, key, kAllAccess64, h);
    if (rc == platform::kErrorKeyIsLink) {
        LogLink(kTag, key);
        return rc;
    }
    if (rc != kErrorSuccess) {
        LogErrorCode(rc, "Opening registry key", key);
        return rc;
    }
    platform::UniqueRegKey opened(&os_.reg, h);
    const std::string path = key;
    rc = SaveThenDelete(
        Doomed{keyParents_, os_.reg, BackupOf(*this, os_), root, path, name, kAllAccess64, false, true,
               opened.get()},
        [&](platform::RegKey held, bool) { return os_.reg.DeleteValue(held, name); },
        [&] {
            // A handle keeps the access it was opened with; the retry needs one opened under the new list.
            platform::RegKey again = 0;
            if (platform::OpenKeyWithoutFollowing(os_.reg, root, path, kAllAccess64, again) == kErrorSuccess)
                opened.reset(&os_.reg, again);
            return os_.reg.DeleteValue(opened.get(), name);
        },
        [&] { (void)actions::DropRegKeyAcl64bit(os_, root, key); });
    opened.reset();
    if (rc == kErrorSuccess)
        EngineLog(5, "%s: Deleting registry value '%s' was successful", kTag, display);
    else if (rc == kErrorFileNotFound)
        EngineLog(5, "%s: Registry value '%s' is missing already, nothing to delete...", kTag, display);
    else
        LogErrorCode(rc, "Deleting registry value", display);
    return rc;
}

uint32_t CNuke::CleanupRegKeys() {
    StepParents parents(os_.reg, keyParents_);
    int count = 0;
    bool errors = false;
    // Largest first: a key's subkeys listed beside it go before it.
    const std::vector<const char*> entries = StepEntries(regKeyList, true);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i % kSaveAheadBatch == 0) SaveAhead(entries, i, true);
        if (DeleteRegistryKey(entries[i])) {
            ++counts.keysDeleted;
        } else {
            errors = true;
            ++counts.keysFailed;
        }
        ++count;
    }
    counts.keysListed = static_cast<uint32_t>(count);
    if (errors)
        EngineLog(3, "%s: CleanupRegKeys encountered errors but deleted '%d' values", "CNuke::CleanupRegKeys",
                  count);
    else
        EngineLog(5, "%s: CleanupRegKeys was successful with '%d' deleted values", "CNuke::CleanupRegKeys",
                  count);
    return 0;
}

bool CNuke::DeleteRegistryKey(const char* entry) {
    static const char* const kTag = "CNuke::DeleteRegistryKey";
    if (entry == nullptr) return false;
    SplitEntry e;
    if (!Split(kTag, entry, e)) return false;
    // The lists never hold a protected key; this holds whatever else calls here.
    if (const char* reason = Protected().KeyReason(entry)) {
        expand::LogProtectedRefusal(kTag, entry, reason);
        return false;
    }
    char full[expand::kRegTextBuffer];
    if (!expand::JoinPath(full, sizeof full, {e.keyPath, e.last})) {
        EngineLog(3, "%s: Registry entry '%s' is too long, skipped", kTag, entry);
        return false;
    }
    char rootText[kRootNameBuffer] = "";
    ParseRegKeyPrefix(e.root, rootText);
    char display[kDisplayBuffer];
    Display(display, rootText, full);

    // SHDeleteKey takes the default view's whole subtree, which the walk of the working
    // lists (64-bit view) never saw: what an ignore entry covers there stays.
    actions::RegistryBackup* backup = BackupOf(*this, os_);
    DefaultViewTree tree(*this, os_.reg, e.root, backup, keyParents_);
    const std::string text = std::string(rootText) + "\\" + full;
    if (tree.HoldsIgnored(full, text)) {
        if (tree.HoldsUnspellable())
            EngineLog(3,
                      "%s: Registry key '%s' holds names the ANSI code page cannot spell, only the rest is "
                      "deleted and the keys holding them are kept",
                      kTag, display);
        else
            EngineLog(3,
                      "%s: Registry key '%s' holds ignored entries, only what they do not cover is deleted",
                      kTag, display);
        (void)tree.DeleteUncovered(full, text);
        return true;
    }

    // The tree is walked here, never by a helper that follows the links below it: a link
    // goes itself, and what it points to stays.
    std::vector<std::string> links;
    const std::string path = full;
    const uint32_t rc = SaveThenDelete(
        Doomed{keyParents_, os_.reg, backup, e.root, path, nullptr, 0, true, false},
        [&](platform::RegKey, bool) {
            return platform::DeleteTreeWithoutFollowing(os_.reg, e.root, full, 0, &links, keyParents_);
        },
        [&] { return platform::DeleteTreeWithoutFollowing(os_.reg, e.root, full, 0, &links); },
        [&] { (void)actions::DropRegKeyAcl(os_, e.root, full); });
    for (const std::string& link : links) LogLink(kTag, std::string(rootText) + "\\" + link);
    if (rc == platform::kErrorKeyIsLink) {
        LogLink(kTag, display);
        return false;
    }
    if (rc == kErrorSuccess) {
        EngineLog(5, "%s: Deleting registry key '%s' was successful", kTag, display);
        return true;
    }
    if (rc == kErrorFileNotFound) {
        if (IsWow64()) {
            EngineLog(4, "%s: Registry key '%s' not found, let's try 64bit side...", kTag, display);
            return DeleteRegistryKey64bit(entry) == kErrorSuccess;
        }
        EngineLog(5, "%s: Registry key '%s' is missing already, nothing to delete...", kTag, display);
        return true;
    }
    LogErrorCode(rc, "Deleting registry key", display);
    return false;
}

uint32_t CNuke::DeleteRegistryKey64bit(const char* entry) {
    static const char* const kTag = "CNuke::DeleteRegistryKey64bit";
    if (!os_.sys.HasEntryPoint("AdvAPI32.dll", "RegDeleteKeyExA")) {
        EngineLog(2, "%s: GetProcAddress for RegDeleteKeyEx failed. 64 bit deletion aborted.", kTag);
        return kErrorBadEnvironment;
    }
    if (entry == nullptr) return platform::kErrorInvalidParameter;
    SplitEntry e;
    if (!Split(kTag, entry, e)) return platform::kErrorInvalidData;
    if (const char* reason = Protected().KeyReason(entry)) {
        expand::LogProtectedRefusal(kTag, entry, reason);
        return kErrorAccessDenied;
    }
    // A key right below the root has the root itself as its parent.
    const char* parentPath = e.last != nullptr ? e.keyPath : "";
    const char* name = e.last != nullptr ? e.last : e.keyPath;
    char full[expand::kRegTextBuffer];
    if (!expand::JoinPath(full, sizeof full, {parentPath, name})) return platform::kErrorInvalidData;

    // One key, not a tree: a key that still has subkeys stays. It is deleted through its own
    // handle, so that a link goes itself and what it points to stays.
    auto deleteOpen = [&](platform::RegKey h, bool link) {
        if (link) LogLink(kTag, entry);
        return os_.reg.DeleteOpenKey(h);
    };
    const std::string path = full;
    uint32_t rc = SaveThenDelete(
        Doomed{keyParents_, os_.reg, BackupOf(*this, os_), e.root, path, nullptr, platform::kDelete, false,
               true},
        deleteOpen,
        [&] {
            const uint32_t access = platform::kDelete | platform::kKeyQueryValue | platform::kKeyWow64_64Key;
            platform::RegKey h = 0;
            bool link = false;
            const uint32_t err = platform::OpenKeyWithoutFollowing(os_.reg, e.root, full, access, h, &link);
            if (err != kErrorSuccess) return err;
            platform::UniqueRegKey opened(&os_.reg, h);
            return deleteOpen(h, link);
        },
        [&] { (void)actions::DropRegKeyAcl64bit(os_, e.root, full); });
    // The key is opened inside its parent, so a missing key and a missing parent give the same
    // code; a missing parent is a failure to open it, not a key that is already gone.
    if (rc == kErrorFileNotFound && *parentPath != '\0') {
        platform::RegKey h = 0;
        const uint32_t err = platform::OpenKeyWithoutFollowing(
            os_.reg, e.root, parentPath, platform::kKeyQueryValue | platform::kKeyWow64_64Key, h);
        if (err == kErrorSuccess) os_.reg.CloseKey(h);
        if (err == kErrorFileNotFound) {
            LogErrorCode(err, "Opening registry key", parentPath);
            return err;
        }
    }
    if (rc == kErrorSuccess)
        EngineLog(5, "%s: Deleting registry key '%s' was successful", kTag, entry);
    else if (rc == kErrorFileNotFound)
        EngineLog(5, "%s: Registry key '%s' is missing already, nothing to delete...", kTag, entry);
    else
        LogErrorCode(rc, "Deleting registry key", entry);
    return rc;
}

}  // namespace engine
