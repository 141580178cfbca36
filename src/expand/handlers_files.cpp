// File entries of the configuration: paths and patterns, directories chosen by their
// contents, and paths that begin with a folder macro (with the per-user rule).
#include <cstring>
#include <string>
#include <vector>

#include "actions/acl.h"
#include "engine/cnuke.h"
#include "expand/folder_macros.h"
#include "expand/handlers_internal.h"
#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "guard/held_path.h"
#include "logging/engine_log.h"
#include "platform/ansi.h"
#include "platform/unicode_text.h"

namespace engine {

using namespace platform;
using expand::kMaxPathBuffer;
using expand::detail::FileNamePart;
using expand::detail::LogTooLong;

namespace {

constexpr char kMakerName[] = "KELVARIS";

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

const char* KindOf(const FindDataW& found) {
    return (found.attributes & kFileAttributeDirectory) != 0 ? "Folder" : "File";
}

// Every field of a quoted multi-field text, in place. SplitQuotedFields ends each field it
// hands out at the next separator, so the fields are taken one at a time; a field that
// ends before the text does was ended at a separator, and the next begins after it.
void SplitAllFields(char* text, std::vector<char*>& fields) {
    const char* const end = text + std::strlen(text);
    char* rest = text;
    for (;;) {
        char* field = nullptr;
        expand::SplitQuotedFields(rest, {&field});
        if (field == nullptr) return;
        fields.push_back(field);
        char* after = field + std::strlen(field);
        if (after + 3 > end) return;
        rest = after + 3;
    }
}

}  // namespace

// "*" and "?" over a whole name, case ignored, with backtracking: the long-name half of
// what FindFirstFile does. The project's one-pass matcher takes the first occurrence after
// a star and so misses names the listing rightly returned ("SWEEPHT*" for "SweepHT").
static bool MatchWholeName(const std::string& name, const char* pattern) {
    std::string n = name;
    std::string p = pattern;
    if (!n.empty()) AnsiUpperInPlace(&n[0]);
    if (!p.empty()) AnsiUpperInPlace(&p[0]);
    size_t ni = 0, pi = 0, starP = std::string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++ni;
            ++pi;
        } else if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

// Whether a name FindFirstFile returned for `pattern` matches it by its long name: on
// volumes with 8.3 names the call also returns names whose short name alone matches
// ("*.TMP" finds "REPORT.TMPL" through "REPORT~1.TMP"). A trailing ".*" still matches a
// name without an extension, as it does for the call.
static bool LongNameMatches(const std::string& name, const char* pattern) {
    if (!expand::HasWildcards(pattern)) return true;
    if (expand::MatchWildcard(name.c_str(), pattern) || MatchWholeName(name, pattern)) return true;
    const size_t n = std::strlen(pattern);
    return name.find('.') == std::string::npos && n >= 2 && pattern[n - 2] == '.' && pattern[n - 1] == '*' &&
           MatchWholeName(name + ".", pattern);
}

// The objects a path or pattern names, upper-cased, into `list`; the text as written when
// nothing matches. A link is never listed; with `refuseProtected`, neither is a protected
// folder. Each is left out with its record, under the caller's `kTag`.
static uint32_t ListPattern(CNuke& nuke, Platform& os, TSet& list, char* path, const char* kTag,
                            bool refuseProtected) {
    expand::NormalizePath(path);
    auto insert = [&](const char* object) -> uint32_t {
        if (refuseProtected) {
            if (const char* reason = nuke.Protected().FolderReason(object)) {
                expand::LogProtectedRefusal(kTag, object, reason);
                return 0;
            }
        }
        return list.Insert(object);
    };

    // Listed by the names Windows keeps: one the ANSI code page cannot spell is refused, never
    // taken by its narrow spelling, which may be another object's name.
    FindDataW found;
    FindHandle raw = 0;
    if (!os.fs.FindFirstFileW(AnsiToUtf16(std::string(path)), found, raw)) {
        // Nothing matches (or the path does not exist): the text is kept as written, and
        // the working lists drop it later if it still names nothing.
        return insert(path);
    }
    UniqueFind find(&os.fs, raw);

    char directory[kMaxPathBuffer] = {};
    const char* lastSeparator = std::strrchr(path, '\\');
    const char* leafPattern = lastSeparator != nullptr ? lastSeparator + 1 : path;
    if (lastSeparator != nullptr) {
        size_t n = static_cast<size_t>(lastSeparator - path) + 1;
        if (n >= sizeof(directory)) {
            LogTooLong(kTag, "Path", path);
            return 0;
        }
        std::memcpy(directory, path, n);
        directory[n] = '\0';
    }

    uint32_t result = 0;
    do {
        if (IsDotEntry(found.name)) continue;
        std::string name = Utf16ToAnsi(found.name);
        if (!LongNameMatches(name, leafPattern)) continue;
        if (!SurvivesAnsi(found.name)) {
            nuke.RefuseUnspellable(kTag, KindOf(found), AnsiToUtf16(std::string(directory)) + found.name);
            continue;
        }
        AnsiUpperInPlace(&name[0]);
        char full[kMaxPathBuffer];
        if (std::strlen(directory) + name.size() >= sizeof(full)) {
            LogTooLong(kTag, "Path", (std::string(directory) + name).c_str());
            continue;
        }
        std::strcpy(full, directory);
        std::strcat(full, name.c_str());
        if ((found.attributes & kFileAttributeReparsePoint) != 0) {
            EngineLog(3, actions::kLinkNotFollowedRecord, kTag, full);
            continue;
        }
        uint32_t code = insert(full);
        if (code != 0 && result == 0) result = code;
    } while (os.fs.FindNextFileW(find.get(), found));
    return result;
}

void CNuke::RefuseUnspellable(const char* tag, const char* what, const std::u16string& name,
                              uint32_t RunCounts::*failed) {
    std::string key = std::string(what) + ":" + Utf16ToUtf8(name);
    Utf8UpperInPlace(&key[0], SimpleUpper);
    if (!unspellable_.insert(key).second) return;
    expand::detail::LogUnspellable(tag, what, name);
    ++(counts.*failed);
}

uint32_t CNuke::ExpandFilePattern(TSet& list, char* path) {
    return ListPattern(*this, os_, list, path, "CNuke::ExpandFilePattern", true);
}

// The customised edition's variant: the maker's name in the entry replaced by the
// product's own, expanded beside the entry itself.
static uint32_t ExpandMaskedVariant(CNuke& nuke, TSet& list, const char* data,
                                    uint32_t (CNuke::*expand)(TSet&, char*)) {
    if (nuke.startMenuMask.empty() || nuke.removeAll != 0) return 0;
    std::string variant = data;
    AnsiUpperInPlace(&variant[0]);
    if (expand::detail::ReplaceAll(variant, kMakerName, nuke.startMenuMask) == 0) return 0;
    return (nuke.*expand)(list, &variant[0]);
}

uint32_t CNuke::ExpandFileName(TSet& list, char* data) {
    uint32_t variant = ExpandMaskedVariant(*this, list, data, &CNuke::ExpandFilePattern);
    uint32_t result = ExpandFilePattern(list, data);
    return result != 0 ? result : variant;
}

uint32_t CNuke::MatchFileDirectory(TSet& list, char* data) {
    uint32_t variant = ExpandMaskedVariant(*this, list, data, &CNuke::MatchDirectoryContents);
    uint32_t result = MatchDirectoryContents(list, data);
    return result != 0 ? result : variant;
}

uint32_t CNuke::MatchDirectoryContents(TSet& list, char* data) {
    static const char* const kTag = "CNuke::MatchDirectoryContents";
    std::string copy = data;
    expand::NormalizePath(&copy[0]);

    std::vector<char*> fields;
    SplitAllFields(&copy[0], fields);
    char* directoryPattern = fields.empty() ? nullptr : fields[0];
    if (directoryPattern == nullptr || *directoryPattern == '\0') return kErrorInvalidData;

    TSet names;
    for (size_t i = 1; i < fields.size(); ++i) {
        // An empty field names nothing that a directory could hold.
        if (*fields[i] == '\0') continue;
        if (uint32_t code = names.Insert(fields[i])) return code;
    }
    if (names.IsEmpty()) return kErrorInvalidData;

    // Only this entry's own folders: MatchFileDirectory expands the customised edition's
    // variant as an entry of its own, so that one folder's contents never decide for another.
    TSet candidates;
    if (uint32_t code = ListPattern(*this, os_, candidates, directoryPattern, kTag, false)) return code;

    const char* directory = nullptr;
    for (uint32_t r = candidates.First(&directory); r == 0; r = candidates.Next(&directory)) {
        char children[kMaxPathBuffer];
        if (!expand::JoinPath(children, sizeof(children), {directory, "*"})) {
            LogTooLong(kTag, "Path", directory);
            continue;
        }
        TSet wanted;
        wanted.AddAll(names);
        TSet found;
        if (uint32_t code = ListPattern(*this, os_, found, children, kTag, false)) return code;

        const char* child = nullptr;
        std::vector<std::string> markers;
        for (uint32_t c = found.First(&child); c == 0 && !wanted.IsEmpty(); c = found.Next(&child)) {
            const char* fileName = FileNamePart(child);
            const char* pattern = nullptr;
            for (uint32_t w = wanted.First(&pattern); w == 0;) {
                if (!expand::MatchWildcard(fileName, pattern)) {
                    w = wanted.Next(&pattern);
                    continue;
                }
                if (markers.empty() || markers.back() != child) markers.push_back(child);
                w = wanted.RemoveCurrent(&pattern);
            }
        }
        if (wanted.IsEmpty()) {
            // Anyone may drop a file into a folder open to users: only a marker and a folder
            // that the machine's own accounts own speak for the product.
            const std::string* foreign = nullptr;
            if (!guard::OwnedByMachineAccount(os_, directory)) foreign = &markers.front();
            for (const std::string& marker : markers)
                if (foreign == nullptr && !guard::OwnedByMachineAccount(os_, marker)) foreign = &marker;
            if (foreign != nullptr) {
                EngineLog(
                    3,
                    "%s: '%s' holds '%s', but it or the folder is not owned by Administrators, SYSTEM or "
                    "TrustedInstaller: not selected",
                    kTag, directory, foreign->c_str());
                continue;
            }
            if (const char* reason = Protected().FolderReason(directory)) {
                expand::LogProtectedRefusal(kTag, directory, reason);
                continue;
            }
            if (uint32_t code = list.Insert(directory)) return code;
        }
    }
    return 0;
}

// Resolves the macro's folder; false when there is none on this machine.
static bool ResolveMacroFolder(CNuke& nuke, Platform& os, const expand::FolderMacro& macro, bool byValue,
                               std::string& folder) {
    folder.clear();
    switch (macro.folder) {
        case expand::MacroFolder::kShell:
            return os.shell.SHGetSpecialFolderPath(macro.csidl, folder, false);
        case expand::MacroFolder::kSystem:
            return byValue ? os.shell.SHGetSpecialFolderPath(macro.csidl, folder, false)
                           : os.shell.GetSystemDirectory(folder);
        case expand::MacroFolder::kWindows:
            return os.shell.GetWindowsDirectory(folder);
        case expand::MacroFolder::kProgramFiles64: {
            char buffer[kMaxPathBuffer] = {};
            if (nuke.Get64ProgramFilesPath(buffer, sizeof(buffer)) != 0) return false;
            folder = buffer;
            return true;
        }
        case expand::MacroFolder::kGoogleGadgets:
            // Only the BY_VALUE form knows this folder.
            if (byValue) expand::get_google_plugin_dir(os, folder);
            return true;
    }
    return false;
}

// FILE_NAME_EXPAND entries, both kinds: the macro resolved, then the entry handed on to
// ExpandFileName (BY_VALUE) or MatchFileDirectory (BY_DATA_MATCH), once for every profile
// beside the current user's when the folder lies in that user's profile.
static uint32_t ExpandMacroEntry(CNuke& nuke, Platform& os, TSet& list, char* data, bool byValue) {
    const char* const tag = byValue ? "CNuke::ExpandFileMacro" : "CNuke::MatchFileMacroDirectory";
    uint32_t (CNuke::*next)(TSet&, char*) = byValue ? &CNuke::ExpandFileName : &CNuke::MatchFileDirectory;

    expand::NormalizePath(data);
    const expand::FolderMacro* macro = expand::FindFolderMacro(data);
    if (macro == nullptr) return kErrorBadConfiguration;

    std::string folder;
    if (!ResolveMacroFolder(nuke, os, *macro, byValue, folder) || folder.empty()) {
        // No folder: the entry goes on as written, macro and all; the working lists drop it.
        return (nuke.*next)(list, data);
    }
    if (folder.size() >= kMaxPathBuffer) {
        LogTooLong(tag, "Folder", folder.c_str());
        return 0;
    }
    expand::NormalizePath(&folder[0]);
    folder.resize(std::strlen(folder.c_str()));

    // Only entries that begin with their macro are defined; the first L characters are
    // dropped wherever the macro stands.
    size_t dataLength = std::strlen(data);
    size_t macroLength = std::strlen(macro->name);
    const char* afterMacro = data + (macroLength < dataLength ? macroLength : dataLength);

    char path[kMaxPathBuffer];
    if (!expand::JoinPath(path, sizeof(path), {folder.c_str(), afterMacro})) {
        LogTooLong(tag, "Path", (folder + afterMacro).c_str());
        return 0;
    }

    // Per-user folders: the same folder in every profile beside the current user's.
    std::string user;
    if (!os.shell.GetUserName(user) || user.size() >= 128) user.clear();
    AnsiUpperInPlace(&user[0]);
    size_t at = user.empty() ? std::string::npos : expand::FindPathComponent(folder, user);
    if (at == std::string::npos) return (nuke.*next)(list, path);

    const std::string profiles = folder.substr(0, at);  // ends with "\"
    char tail[kMaxPathBuffer];
    if (!expand::JoinPath(tail, sizeof(tail), {folder.c_str() + at + user.size(), afterMacro})) {
        LogTooLong(tag, "Path", path);
        return 0;
    }
    FindDataW found;
    FindHandle raw = 0;
    if (!os.fs.FindFirstFileW(AnsiToUtf16(profiles + "*"), found, raw)) return (nuke.*next)(list, path);
    UniqueFind find(&os.fs, raw);

    uint32_t result = 0;
    do {
        if ((found.attributes & kFileAttributeDirectory) == 0 || IsDotEntry(found.name)) continue;
        // A profile the ANSI code page cannot spell: its narrow spelling is another profile's
        // name or a pattern, so nothing in it is listed.
        if (!SurvivesAnsi(found.name)) {
            nuke.RefuseUnspellable(tag, "Folder", AnsiToUtf16(profiles) + found.name);
            continue;
        }
        char profilePath[kMaxPathBuffer];
        std::string profileDirectory = profiles + Utf16ToAnsi(found.name);
        if ((found.attributes & kFileAttributeReparsePoint) != 0) {
            // Windows' own "All Users" and "Default User" are such links, and so may be a
            // planted one: the profiles they lead to are walked by their own names.
            EngineLog(3, actions::kLinkNotFollowedRecord, tag, profileDirectory.c_str());
            continue;
        }
        if (!expand::JoinPath(profilePath, sizeof(profilePath), {profileDirectory.c_str(), tail})) {
            LogTooLong(tag, "Path", (profileDirectory + tail).c_str());
            continue;
        }
        uint32_t code = (nuke.*next)(list, profilePath);
        // A malformed entry fails the same way in every profile: report it, do not hide it.
        if (code != 0) {
            result = code;
            break;
        }
    } while (os.fs.FindNextFileW(find.get(), found));
    return result;
}

uint32_t CNuke::ExpandFileMacro(TSet& list, char* data) {
    return ExpandMacroEntry(*this, os_, list, data, true);
}

uint32_t CNuke::MatchFileMacroDirectory(TSet& list, char* data) {
    return ExpandMacroEntry(*this, os_, list, data, false);
}

}  // namespace engine
