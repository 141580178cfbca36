// The working lists the removal steps read: every listed key with its subtree, every
// listed directory with its contents, keeping only what exists, less what is ignored.
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "actions/acl.h"
#include "engine/cnuke.h"
#include "expand/handlers_internal.h"
#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "expand/unspellable_names.h"
#include "guard/held_path.h"
#include "guard/tool_folder.h"
#include "logging/engine_log.h"
#include "logging/log_settings.h"
#include "platform/ansi.h"
#include "platform/common.h"
#include "platform/registry_links.h"

namespace engine {

using namespace platform;
using expand::kMaxPathBuffer;
using expand::kRegTextBuffer;
using expand::detail::LogTooLong;

namespace {

constexpr char kExpandTag[] = "CNuke::ExpandLists";
constexpr char kExcludeTag[] = "CNuke::ExcludeIgnoreList";
constexpr char kKeyTreeTag[] = "CNuke::AddRegKeyTree";
constexpr char kFileTreeTag[] = "CNuke::AddFileTree";

// The text the retry marker key is listed under when the marker was found at start.
constexpr char kRetryMarkerKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS CLEAROUTTOOL";

// A listed object text (key, value, path) holds at most this many characters: a name
// written after its key or directory gets what is left of 261 bytes, terminator included.
constexpr size_t kMaxObjectText = 260;
constexpr uint32_t kKeyNameBuffer = platform::kKeyNameBytes;
constexpr uint32_t kValueNameBuffer = platform::kValueNameBytes;

std::string Upper(const char* text) {
    std::string s = text;
    if (!s.empty()) AnsiUpperInPlace(&s[0]);
    return s;
}

// The entries of an ignore list, upper-cased once, so that each object is tested with
// one case-insensitive substring search per entry.
class IgnoreMatcher {
  public:
    explicit IgnoreMatcher(TSet& ignore) {
        const char* s = nullptr;
        for (uint32_t r = ignore.First(&s); r == 0; r = ignore.Next(&s)) {
            // An empty entry ("ignore=FILE_NAME,BY_VALUE,") is held by every text: it would
            // keep the whole section. It names nothing, so it keeps nothing.
            if (*s == '\0') {
                EngineLog(3, "%s: ExcludeIgnoreList: an empty ignore entry names nothing and is not used",
                          kExcludeTag);
                continue;
            }
            entries_.push_back(Upper(s));
        }
    }
    bool Empty() const { return entries_.empty(); }
    bool CoversUpper(const std::string& upperText) const {
        for (const std::string& e : entries_)
            if (std::strstr(upperText.c_str(), e.c_str()) != nullptr) return true;
        return false;
    }
    bool Covers(const char* text) const { return !entries_.empty() && CoversUpper(Upper(text)); }

  private:
    std::vector<std::string> entries_;
};

void LogExcluded(const char* object) {
    EngineLog(5, "%s: ExcludeIgnoreList: object '%s' excluded", kExcludeTag, object);
}

// What the run keeps although a remove entry reached it, in the words the plan uses.
constexpr char kKeptIgnored[] = "ignored";
constexpr char kKeptHolder[] = "holds an ignored object";
constexpr char kKeptLink[] = "a link";
constexpr char kKeptUnreadable[] = "unreadable";
constexpr char kKeptOwnFiles[] = "the tool's own files";
constexpr char kKeptOwnFilesHolder[] = "holds the tool's own files";
constexpr char kKeptUnspellableHolder[] = "holds a name the run cannot name";

void Keep(std::vector<KeptObject>* kept, const char* object, const char* reason) {
    if (kept != nullptr) kept->push_back(KeptObject{object, reason});
}

// The 64-bit view's name of the 32-bit view's copy of a key below HKEY_LOCAL_MACHINE\SOFTWARE
// (the upper-case key path), which the walk reaches; empty for a key elsewhere, or one that
// names its view already.
std::string WowPathOf(RegKey root, const char* rootName, const std::string& keyPath) {
    static const std::string kSoftware = "SOFTWARE\\", kWow = "WOW6432NODE";
    if (root != kHkeyLocalMachine || keyPath.compare(0, kSoftware.size(), kSoftware) != 0) return {};
    const std::string below = keyPath.substr(kSoftware.size());
    const bool namesView = below.compare(0, kWow.size(), kWow) == 0 &&
                           (below.size() == kWow.size() || below[kWow.size()] == '\\');
    if (below.empty() || namesView) return {};
    return std::string(rootName) + "\\SOFTWARE\\WOW6432Node\\" + below;
}

// Removes from `list` every object that holds, below itself, one of `excluded`: a key or
// directory removed whole would take the excluded object with it.
void DropHolders(TSet& list, TSet& excluded, std::vector<KeptObject>* kept,
                 const char* reason = kKeptHolder) {
    std::unordered_set<std::string> holders;
    const char* s = nullptr;
    for (uint32_t r = excluded.First(&s); r == 0; r = excluded.Next(&s)) {
        std::string text = Upper(s);
        for (size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at + 1))
            holders.insert(text.substr(0, at));
    }
    if (holders.empty()) return;
    uint32_t r = list.First(&s);
    while (r == 0) {
        if (holders.count(Upper(s)) != 0) {
            LogExcluded(s);
            Keep(kept, s, reason);
            r = list.RemoveCurrent(&s);
        } else {
            r = list.Next(&s);
        }
    }
}

// Removes from `values` every value whose key an entry of `ignoreKeys` covers: ignoring a
// key keeps its values. Each removed text also goes into `excluded`.
void ExcludeValuesOfIgnoredKeys(TSet& values, TSet& ignoreKeys, TSet& excluded,
                                std::vector<KeptObject>* kept) {
    IgnoreMatcher matcher(ignoreKeys);
    if (matcher.Empty()) return;
    const char* s = nullptr;
    uint32_t r = values.First(&s);
    while (r == 0) {
        std::string key = Upper(s);
        size_t last = key.rfind('\\');
        key.resize(last == std::string::npos ? 0 : last);
        if (!key.empty() && matcher.CoversUpper(key)) {
            LogExcluded(s);
            Keep(kept, s, kKeptIgnored);
            (void)excluded.Insert(s);
            r = values.RemoveCurrent(&s);
        } else {
            r = values.Next(&s);
        }
    }
}

// A path the file tree may take: absolute on a drive ("X:\..."), below the drive's root,
// without "." or ".." components. Anything else could reach far beyond the product.
bool IsPathBelowDriveRoot(const char* path) {
    if (!((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) return false;
    if (path[1] != ':' || path[2] != '\\' || path[3] == '\0') return false;
    const char* component = path + 3;
    for (;;) {
        const char* end = std::strchr(component, '\\');
        size_t n = end != nullptr ? static_cast<size_t>(end - component) : std::strlen(component);
        if ((n == 1 && component[0] == '.') || (n == 2 && component[0] == '.' && component[1] == '.'))
            return false;
        if (end == nullptr) return true;
        component = end + 1;
    }
}

// Walks the subtree with the ignore lists at hand, so that an ignored key is neither
// forced open nor left out of the subtraction.
class WorkingListBuilder {
  public:
    WorkingListBuilder(CNuke& nuke, Platform& os)
        : nuke_(nuke),
          os_(os),
          ignoreKeys_(nuke.ignoreRegKeyList),
          ignoreValues_(nuke.ignoreRegValueList),
          ignoreFiles_(nuke.ignoreFileList) {}

    uint32_t KeyTree(const char* keyText);
    uint32_t FileTree(const char* path);
    // The directories whose access lists had to be rewritten before they could be listed.
    const std::vector<std::string>& OpenedToList() const { return openedToList_; }
    // A preview's directories that could not be listed: what they hold is unknown.
    const std::vector<std::string>& Unreadable() const { return unreadable_; }
    // The texts (under their aliases) of the keys and values left out for names the ANSI code
    // page cannot spell: the keys above them must stay.
    const std::vector<std::string>& Unspellable() const { return unspellable_; }

  private:
    void ListDirectory(const std::string& directory);
    uint32_t KeyAndBelow(RegKey root, const char* rootName, const std::string& fullPath,
                         const std::string& prefix, RegKey parent, const std::string& name);
    void NoteOnlyIn32BitView(RegKey root, const char* rootName, const char* keyPath, const std::string& text);
    void LeaveUnspellable(const std::string& prefix, const std::string& alias, const std::u16string& real,
                          bool isKey);
    void LeaveTooLong(const std::string& prefix, const std::string& text, bool isKey);
    std::vector<std::string> unspellable_;
    std::vector<std::string> openedToList_;
    std::vector<std::string> unreadable_;
    CNuke& nuke_;
    Platform& os_;
    IgnoreMatcher ignoreKeys_;
    IgnoreMatcher ignoreValues_;
    IgnoreMatcher ignoreFiles_;
};

}  // namespace

uint32_t WorkingListBuilder::KeyTree(const char* keyText) {
    if (keyText == nullptr) return kErrorInvalidParameter;
    if (std::strlen(keyText) >= kRegTextBuffer) {
        LogTooLong(kKeyTreeTag, "Registry key", keyText);
        return kErrorFilenameExcedRange;
    }
    char text[kRegTextBuffer];
    std::strcpy(text, keyText);
    expand::NormalizePath(text);

    char parsed[kRegTextBuffer];
    std::strcpy(parsed, text);
    RegKey root = 0;
    char* rootName = nullptr;
    char* keyPath = nullptr;
    char* last = nullptr;
    if (uint32_t code = expand::ParseRegistryPath(parsed, root, rootName, keyPath, last)) return code;
    char fullPath[kRegTextBuffer];
    if (!expand::JoinPath(fullPath, sizeof(fullPath), {keyPath, last})) {
        LogTooLong(kKeyTreeTag, "Registry key", text);
        return kErrorFilenameExcedRange;
    }
    if (rootName == nullptr || fullPath[0] == '\0') {
        // A bare root would open the whole hive for deletion.
        EngineLog(3, "%s: AddRegKeyTree: '%s' names no key below a root, not listed", kKeyTreeTag, text);
        return kErrorInvalidData;
    }
    const std::string prefix = std::string(rootName) + "\\" + fullPath;
    if (prefix.size() > kMaxObjectText) {
        LogTooLong(kKeyTreeTag, "Registry key", prefix.c_str());
        return kErrorFilenameExcedRange;
    }
    return KeyAndBelow(root, rootName, fullPath, prefix, 0, std::string());
}

// The key `prefix` (`fullPath` below `root`) and everything below it. The listed key is
// opened from its root, part by part; each key below it by its name inside its parent's
// handle (`parent`, `name`), which was opened as itself already: no key on the way is
// looked at twice, and none is passed through a link.
uint32_t WorkingListBuilder::KeyAndBelow(RegKey root, const char* rootName, const std::string& fullPath,
                                         const std::string& prefix, RegKey parent, const std::string& name) {
    if (const char* reason = nuke_.Protected().KeyReason(prefix.c_str())) {
        expand::LogProtectedRefusal(kKeyTreeTag, prefix.c_str(), reason);
        return kErrorAccessDenied;
    }

    // Every key is opened as itself: a link is never entered, and a link on the way keeps
    // what lies past it out of the lists.
    RegKey raw = 0;
    bool isLink = false;
    auto open = [&](uint32_t access) {
        return parent != 0
                   ? OpenKeyWithoutFollowing(os_.reg, parent, name, access | kKeyWow64_64Key, raw, &isLink)
                   : OpenKeyWithoutFollowing(os_.reg, root, fullPath, access | kKeyWow64_64Key, raw, &isLink);
    };
    uint32_t code = open(kKeyAllAccess);
    if (code == kErrorAccessDenied) {
        if (ignoreKeys_.Covers(prefix.c_str())) {
            // Ignored: its access list stays as it is. Listed only so that the subtraction
            // sees it and keeps the keys that hold it.
            (void)nuke_.regKeyList.Insert(prefix.c_str());
            return code;
        }
        if (nuke_.previewOnly) {
            // A preview rewrites no access list: it lists what it may read, as the run would
            // after opening the key up, and keeps out what it may not.
            code = open(kKeyRead);
            if (code != 0) {
                Keep(&nuke_.kept, prefix.c_str(), kKeptUnreadable);
                return code;
            }
        } else {
            // The key was opened in the 64-bit view; its access list is rewritten in that view.
            (void)actions::DropRegKeyAcl64bit(os_, root, fullPath.c_str());
            code = open(kKeyAllAccess);
        }
    }
    if (code == kErrorKeyIsLink) {
        EngineLog(3, actions::kLinkNotFollowedRecord, kKeyTreeTag, prefix.c_str());
        Keep(&nuke_.kept, prefix.c_str(), kKeptLink);
        return code;
    }
    if (code == kErrorFileNotFound) NoteOnlyIn32BitView(root, rootName, fullPath.c_str(), prefix);
    if (code != 0) return code;
    UniqueRegKey key(&os_.reg, raw);

    if (uint32_t inserted = nuke_.regKeyList.Insert(prefix.c_str())) return inserted;
    if (isLink) {
        // Listed to go itself, by its own handle; what it points to is never read.
        EngineLog(3, actions::kLinkNotFollowedRecord, kKeyTreeTag, prefix.c_str());
        return 0;
    }

    char keyName[kKeyNameBuffer];
    for (uint32_t index = 0;; ++index) {
        uint32_t length = sizeof(keyName);
        if (os_.reg.EnumKeyEx(key.get(), index, keyName, &length) != 0) break;
        const std::u16string real =
            expand::UnspellableRegName(os_.reg, key.get(), index, true, std::string(keyName, length));
        if (!real.empty()) {
            LeaveUnspellable(prefix, std::string(keyName, length), real, true);
            continue;
        }
        std::string child = prefix + "\\" + std::string(keyName, length);
        if (child.size() > kMaxObjectText) {
            if (ignoreKeys_.Covers(child.c_str()))
                (void)nuke_.regKeyList.Insert(child.c_str());
            else
                LeaveTooLong(prefix, child, true);
            continue;
        }
        // Listed as the text names it; a name that the text cannot name as it stands (a "/"
        // in it reads as a separator) is looked up by that text, as every listed key is.
        char normalized[kRegTextBuffer];
        std::strcpy(normalized, child.c_str());
        expand::NormalizePath(normalized);
        const std::string childName(keyName, length);
        if (Upper(child.c_str()) == normalized)
            (void)KeyAndBelow(root, rootName, fullPath + "\\" + childName, normalized, key.get(), childName);
        else
            (void)KeyTree(child.c_str());
    }

    uint32_t result = 0;
    std::vector<char> valueName(kValueNameBuffer);
    for (uint32_t index = 0;; ++index) {
        uint32_t length = kValueNameBuffer;
        if (os_.reg.EnumValue(key.get(), index, valueName.data(), &length, nullptr, nullptr, nullptr) != 0)
            break;
        const std::u16string real = expand::UnspellableRegName(os_.reg, key.get(), index, false,
                                                               std::string(valueName.data(), length));
        if (!real.empty()) {
            LeaveUnspellable(prefix, std::string(valueName.data(), length), real, false);
            continue;
        }
        std::string name = Upper(std::string(valueName.data(), length).c_str());
        // A backslash inside a value name travels as "---".
        std::string escaped;
        for (char c : name) {
            if (c == '\\')
                escaped += "---";
            else
                escaped += c;
        }
        std::string value = prefix + "\\" + escaped;
        if (value.size() > kMaxObjectText) {
            if (ignoreValues_.Covers(value.c_str()))
                (void)nuke_.regValueList.Insert(value.c_str());
            else
                LeaveTooLong(prefix, value, false);
            continue;
        }
        result = nuke_.regValueList.Insert(value.c_str());
        if (result != 0) break;
    }
    return result;
}

// A key or value that the narrow enumeration shows under an alias (`alias`, where Windows keeps
// `real`): neither listed nor walked, since its narrow name reaches another object or none.
// One inside an ignored key is left alone without a word.
void WorkingListBuilder::LeaveUnspellable(const std::string& prefix, const std::string& alias,
                                          const std::u16string& real, bool isKey) {
    if (ignoreKeys_.Covers(prefix.c_str())) return;
    std::u16string escaped;
    for (char16_t c : real) {
        if (c == u'\\')
            escaped += u"---";
        else
            escaped += c;
    }
    nuke_.RefuseUnspellable(kKeyTreeTag, isKey ? "Registry key" : "Registry value",
                            AnsiToUtf16(prefix) + u"\\" + (isKey ? real : escaped),
                            isKey ? &RunCounts::keysFailed : &RunCounts::valuesFailed);
    // Only the keys above it matter here: a backslash in the alias must not make one up.
    std::string text = prefix + "\\";
    for (char c : alias) text += c == '\\' ? '-' : c;
    unspellable_.push_back(text);
}

// A key or value below a listed key whose text would pass the limit of a listed object (a long
// name, as a UTF-8 one of CJK letters easily is): never cut into another name, it stays, an error
// the report counts, and so do the keys above it.
void WorkingListBuilder::LeaveTooLong(const std::string& prefix, const std::string& text, bool isKey) {
    EngineLog(2, "%s: Registry %s '%s' is longer than %u bytes as a listed object: not removed", kKeyTreeTag,
              isKey ? "key" : "value", text.c_str(), static_cast<unsigned>(kMaxObjectText));
    ++(isKey ? nuke_.counts.keysFailed : nuke_.counts.valuesFailed);
    unspellable_.push_back(prefix + "\\-");  // only the keys above it matter
}

// A 32-bit product writes its keys into the 32-bit view of 64-bit Windows, which the walk does not
// see: a configuration that names them the way the product does leaves them all. They stay
// unlisted, but not unnoticed.
void WorkingListBuilder::NoteOnlyIn32BitView(RegKey root, const char* rootName, const char* keyPath,
                                             const std::string& text) {
    const std::string wow = WowPathOf(root, rootName, keyPath);
    if (wow.empty() || !nuke_.IsWow64() ||
        !expand::RegistryEntryExists(os_.reg, wow.c_str(), false, kKeyWow64_64Key, true))
        return;
    EngineLog(3, "%s: AddRegKeyTree: '%s' exists only in the 32-bit view, not listed; '%s' would reach it",
              kKeyTreeTag, text.c_str(), wow.c_str());
    Keep(&nuke_.kept, text.c_str(), ("only in the 32-bit view; " + wow + " would reach it").c_str());
}

uint32_t WorkingListBuilder::FileTree(const char* path) {
    if (path == nullptr) return kErrorInvalidParameter;
    if (std::strlen(path) >= kMaxPathBuffer) {
        LogTooLong(kFileTreeTag, "Path", path);
        return kErrorFilenameExcedRange;
    }
    char text[kMaxPathBuffer];
    std::strcpy(text, path);
    expand::NormalizePath(text);
    if (!IsPathBelowDriveRoot(text)) {
        EngineLog(3, "%s: AddFileTree: '%s' is not a full path below a drive's root, not listed",
                  kFileTreeTag, text);
        return kErrorInvalidParameter;
    }
    // A stream is some file's or folder's content under another name, never a product object.
    if (std::strchr(text + 2, ':') != nullptr) {
        EngineLog(3, "%s: AddFileTree: '%s' names a stream, not listed", kFileTreeTag, text);
        return kErrorInvalidName;
    }
    // Listed, checked and removed under its long name, the one every table knows it by.
    const std::string longForm = expand::LongFormPath(os_, text);
    if (longForm.size() < sizeof(text)) std::strcpy(text, longForm.c_str());

    uint32_t attributes = os_.fs.GetFileAttributesA(text);
    if (attributes == kInvalidFileAttributes) return os_.sys.GetLastError();
    // Never through a link, wherever on the path it stands: what it points to is not the
    // product's, and a standard user can plant one in a folder of theirs.
    std::string link = actions::FindLinkOnPath(os_, text);
    if (!link.empty()) {
        EngineLog(3, actions::kLinkNotFollowedRecord, kFileTreeTag, link.c_str());
        Keep(&nuke_.kept, link.c_str(), kKeptLink);
        return guard::kErrorStoppedOnSymlink;
    }
    if ((attributes & kFileAttributeDirectory) != 0) {
        if (const char* reason = nuke_.Protected().FolderReason(text)) {
            expand::LogProtectedRefusal(kFileTreeTag, text, reason);
            return kErrorAccessDenied;
        }
    }
    if (uint32_t inserted = nuke_.fileList.Insert(text)) return inserted;
    if ((attributes & kFileAttributeDirectory) != 0) ListDirectory(text);
    return 0;
}

// Lists what a listed directory holds, and below it. Access lists stay as they are unless
// the directory cannot be listed otherwise; the rest waits until the ignore list has had
// its say.
void WorkingListBuilder::ListDirectory(const std::string& directory) {
    if (directory.size() + 2 >= kMaxPathBuffer) {
        LogTooLong(kFileTreeTag, "Path", (directory + "\\*").c_str());
        return;
    }
    // Listed by the names Windows keeps: one the ANSI code page cannot spell is refused, never
    // taken (or walked below) by its narrow spelling, which may be another object's name.
    const std::u16string pattern = AnsiToUtf16(directory + "\\*");
    FindDataW found;
    FindHandle raw = 0;
    bool listed = os_.fs.FindFirstFileW(pattern, found, raw);
    if (!listed && os_.sys.GetLastError() == kErrorAccessDenied && !ignoreFiles_.Covers(directory.c_str())) {
        if (nuke_.previewOnly) {
            // A preview rewrites no access list; the run would, and take what is inside.
            unreadable_.push_back(directory);
            Keep(&nuke_.kept, directory.c_str(), kKeptUnreadable);
        } else if (nuke_.DropFileAcl(directory.c_str()) == 1) {
            openedToList_.push_back(directory);
            listed = os_.fs.FindFirstFileW(pattern, found, raw);
        }
    }
    if (!listed) return;
    UniqueFind find(&os_.fs, raw);
    do {
        if (found.name == u"." || found.name == u"..") continue;
        if (!SurvivesAnsi(found.name)) {
            const bool folder = (found.attributes & kFileAttributeDirectory) != 0;
            nuke_.RefuseUnspellable(kFileTreeTag, folder ? "Folder" : "File",
                                    AnsiToUtf16(directory) + u"\\" + found.name);
            continue;
        }
        std::string child = directory + "\\" + Upper(Utf16ToAnsi(found.name).c_str());
        if (child.size() >= kMaxPathBuffer) {
            // It stays, never cut into another name: an error of the run, as any object kept.
            EngineLog(2, "%s: AddFileTree: '%s' is longer than %u bytes as a path: not removed", kFileTreeTag,
                      child.c_str(), static_cast<unsigned>(kMaxPathBuffer - 1));
            ++nuke_.counts.filesFailed;
            continue;
        }
        if ((found.attributes & kFileAttributeReparsePoint) != 0) {
            EngineLog(3, actions::kLinkNotFollowedRecord, kFileTreeTag, child.c_str());
            Keep(&nuke_.kept, child.c_str(), kKeptLink);
            continue;
        }
        if ((found.attributes & kFileAttributeDirectory) != 0) {
            if (const char* reason = nuke_.Protected().FolderReason(child.c_str())) {
                expand::LogProtectedRefusal(kFileTreeTag, child.c_str(), reason);
                continue;
            }
            if (nuke_.fileList.Insert(child.c_str()) == 0) ListDirectory(child);
        } else {
            (void)nuke_.fileList.Insert(child.c_str());
        }
    } while (os_.fs.FindNextFileW(find.get(), found));
}

// The tool's own files stay whatever the configuration says, with --removeall too: the log
// other processes share, the report and plan, and the backups an administrator may still
// need, those of earlier versions beside the log included.
static void ExcludeOwnFiles(Platform& os, TSet& list, std::vector<KeptObject>* kept) {
    std::vector<std::string> folders;
    std::u16string base;
    if (KvQmrLogging::ResolveBaseDirectory(os, false, base)) {
        folders.push_back(Upper(Utf16ToAnsi(base + u"\\Logs\\tool").c_str()));
        folders.push_back(Upper(Utf16ToAnsi(base + u"\\Backup").c_str()));
    }
    std::string tool = guard::ToolFolderPath(os);
    if (!tool.empty()) folders.push_back(Upper(tool.c_str()));
    TSet own;
    const char* s = nullptr;
    uint32_t r = list.First(&s);
    while (r == 0) {
        std::string text = Upper(s);
        bool mine = false;
        for (const std::string& folder : folders)
            mine = mine || text == folder ||
                   (text.size() > folder.size() && text.compare(0, folder.size(), folder) == 0 &&
                    text[folder.size()] == '\\');
        if (!mine) {
            r = list.Next(&s);
            continue;
        }
        EngineLog(5, "%s: '%s' is the tool's own and is kept", kFileTreeTag, s);
        Keep(kept, s, kKeptOwnFiles);
        (void)own.Insert(s);
        r = list.RemoveCurrent(&s);
    }
    // The folders above them, down from the log's base folder, are found by name as well:
    // a file made after the listing must still find them there.
    for (const std::string& folder : folders) (void)own.Insert(folder.c_str());
    DropHolders(list, own, kept, kKeptOwnFilesHolder);
}

uint32_t CNuke::AddRegKeyTree(const char* keyText) { return WorkingListBuilder(*this, os_).KeyTree(keyText); }

uint32_t CNuke::AddFileTree(const char* path) { return WorkingListBuilder(*this, os_).FileTree(path); }

uint32_t CNuke::ExcludeIgnoreList(TSet& list, TSet& ignore, TSet* excluded) {
    IgnoreMatcher matcher(ignore);
    if (matcher.Empty()) return 0;
    const char* s = nullptr;
    uint32_t r = list.First(&s);
    while (r == 0) {
        if (matcher.CoversUpper(Upper(s))) {
            LogExcluded(s);
            Keep(&kept, s, kKeptIgnored);
            if (excluded != nullptr) (void)excluded->Insert(s);
            r = list.RemoveCurrent(&s);
        } else {
            r = list.Next(&s);
        }
    }
    return 0;
}

uint32_t CNuke::PopulateRemoveServiceList() {
    const char* s = nullptr;
    for (uint32_t r = removeServiceList.First(&s); r == 0; r = removeServiceList.Next(&s))
        (void)serviceList.Insert(s);
    (void)ExcludeIgnoreList(serviceList, ignoreServiceList);
    return 0;
}

uint32_t CNuke::PopulateRemoveRegList() {
    WorkingListBuilder builder(*this, os_);
    const char* s = nullptr;
    for (uint32_t r = removeRegKeyList.First(&s); r == 0; r = removeRegKeyList.Next(&s))
        (void)builder.KeyTree(s);
    // Asked only when the marker is to go: each protected answer counts as a refusal.
    const bool markerGoes = removeAll == 1 && retryKeyFound == 1;
    const char* markerReason = markerGoes ? Protected().KeyReason(kRetryMarkerKeyText) : nullptr;
    if (markerReason != nullptr) {
        expand::LogProtectedRefusal(kExpandTag, kRetryMarkerKeyText, markerReason);
    } else if (markerGoes && !regKeyList.Contains(kRetryMarkerKeyText)) {
        // The marker was written and found in the default view, which the 64-bit walk above
        // does not see on 64-bit Windows; the key deletion tries the default view first.
        EngineLog(5, "%s: PopulateRemoveRegList: removal-retry marker '%s' listed", kExpandTag,
                  kRetryMarkerKeyText);
        (void)regKeyList.Insert(kRetryMarkerKeyText);
    }
    for (uint32_t r = removeRegValueList.First(&s); r == 0; r = removeRegValueList.Next(&s)) {
        if (std::strlen(s) >= kRegTextBuffer) {
            LogTooLong(kExpandTag, "Registry value", s);
            continue;
        }
        if (regValueList.Insert(s) != 0) break;
    }

    TSet excluded;
    (void)ExcludeIgnoreList(regKeyList, ignoreRegKeyList, &excluded);
    (void)ExcludeIgnoreList(regValueList, ignoreRegValueList, &excluded);
    ExcludeValuesOfIgnoredKeys(regValueList, ignoreRegKeyList, excluded, &kept);
    DropHolders(regKeyList, excluded, &kept);
    // A key deleted whole would take the object it holds under a name the code page cannot
    // spell with it, unsaved: it stays.
    TSet unspellable;
    for (const std::string& text : builder.Unspellable()) (void)unspellable.Insert(text.c_str());
    const size_t keptBefore = kept.size();
    DropHolders(regKeyList, unspellable, &kept, kKeptUnspellableHolder);
    for (size_t i = keptBefore; i < kept.size(); ++i)
        EngineLog(3,
                  "%s: Registry key '%s' holds a name the run cannot name (too long, or not in the ANSI code "
                  "page), kept",
                  kKeyTreeTag, kept[i].object.c_str());
    // The walk above sees the 64-bit view only, while the deletion tries the default view
    // first: an ignored key or value that exists only in the 32-bit copy of a listed tree was
    // never listed, so nothing above marks its keys. Keep every key above such an entry.
    TSet presentInDefaultView;
    for (uint32_t r = ignoreRegKeyList.First(&s); r == 0; r = ignoreRegKeyList.Next(&s))
        if (expand::RegistryEntryExists(os_.reg, s, false, 0, false)) (void)presentInDefaultView.Insert(s);
    for (uint32_t r = ignoreRegValueList.First(&s); r == 0; r = ignoreRegValueList.Next(&s))
        if (expand::RegistryEntryExists(os_.reg, s, true, 0, false)) (void)presentInDefaultView.Insert(s);
    DropHolders(regKeyList, presentInDefaultView, &kept);
    return 0;
}

uint32_t CNuke::PopulateRemoveMsiUpgradeCodeList() {
    const char* s = nullptr;
    for (uint32_t r = removeMsiUpgradeCodeList.First(&s); r == 0; r = removeMsiUpgradeCodeList.Next(&s))
        (void)msiUpgradeCodeList.Insert(s);
    (void)ExcludeIgnoreList(msiUpgradeCodeList, ignoreMsiUpgradeCodeList);
    return 0;
}

uint32_t CNuke::PopulateRemoveFileList() {
    WorkingListBuilder builder(*this, os_);
    const char* s = nullptr;
    for (uint32_t r = removeFileList.First(&s); r == 0; r = removeFileList.Next(&s))
        (void)builder.FileTree(s);
    TSet excluded;
    (void)ExcludeIgnoreList(fileList, ignoreFileList, &excluded);
    DropHolders(fileList, excluded, &kept);
    ExcludeOwnFiles(os_, fileList, &kept);
    if (previewOnly) {
        // What an unreadable directory holds is unknown, an ignored object among it too:
        // the preview does not promise the directory.
        TSet unreadable;
        for (const std::string& directory : builder.Unreadable()) (void)unreadable.Insert(directory.c_str());
        uint32_t r = fileList.First(&s);
        while (r == 0) r = unreadable.Contains(s) ? fileList.RemoveCurrent(&s) : fileList.Next(&s);
        return 0;
    }
    // Only what will go is opened up: a kept directory and the ignored objects in it keep
    // their access lists, and so does everything that inherits from them.
    TSet opened;
    for (const std::string& directory : builder.OpenedToList()) {
        (void)opened.Insert(directory.c_str());
        if (!fileList.Contains(directory.c_str()))
            EngineLog(3, "%s: '%s' had its access list rewritten to be listed, and is kept", kFileTreeTag,
                      directory.c_str());
    }
    // In list order a folder's objects follow one another: the folders above them stay held
    // from one to the next. They are let go before anything is moved.
    guard::HeldPath held(os_);
    for (uint32_t r = fileList.First(&s); r == 0; r = fileList.Next(&s))
        if (!opened.Contains(s)) (void)DropFileAcl(s, &held);
    return 0;
}

uint32_t CNuke::ExpandLists() {
    (void)PopulateRemoveServiceList();
    EngineLog(4, "%s: PopulateRemoveServiceList was successful with '%d' items in the list", kExpandTag,
              static_cast<int>(serviceList.Count()));
    (void)PopulateRemoveRegList();
    EngineLog(4, "%s: PopulateRemoveRegList was successful with '%d' keys and '%d' values in the lists",
              kExpandTag, static_cast<int>(regKeyList.Count()), static_cast<int>(regValueList.Count()));
    (void)PopulateRemoveMsiUpgradeCodeList();
    EngineLog(4, "%s: PopulateRemoveMsiUpgradeCodeList was successful with '%d' items in the list",
              kExpandTag, static_cast<int>(msiUpgradeCodeList.Count()));
    (void)PopulateRemoveFileList();
    EngineLog(4, "%s: PopulateRemoveFileList was successful with '%d' items in the list", kExpandTag,
              static_cast<int>(fileList.Count()));
    return 0;
}

}  // namespace engine
