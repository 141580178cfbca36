// The configuration check: the file is split into lines exactly as the reader splits it, each
// line is judged the way the run would take it, and every problem is reported at once, so an
// administrator fixes a file in one pass instead of one failed run per mistake. The machine is
// only asked questions (its folders, the protected-location table); nothing is changed.
#include "engine/config_check.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "engine/config_text.h"
#include "expand/folder_macros.h"
#include "expand/path_helpers.h"
#include "expand/protected_locations.h"
#include "platform/ansi.h"
#include "platform/common.h"

namespace engine {

namespace {

using platform::Platform;

constexpr Severity kError = Severity::kError;
constexpr Severity kWarn = Severity::kWarning;

enum SectionId : int { kMsi, kService, kProcess, kRegValue, kRegKey, kFile, kSectionCount };
// The lines before the first header, and those below a header the reader never looks for.
constexpr int kBeforeFirstSection = -1;
constexpr int kUnreadSection = -2;

enum class Role { kRemove, kIgnore, kStop, kStart };

struct KeyRule {
    const char* name;
    Role role;
    const char* takes;  // the types that make sense in the key's list, for messages
};

struct SectionRule {
    const char* name;
    KeyRule keys[2];
};

constexpr char kRemoveAndIgnore[] = "remove= and ignore=";

const SectionRule kSections[kSectionCount] = {
    {"msi upgradecode", {{"remove", Role::kRemove, "GUID"}, {"ignore", Role::kIgnore, "GUID"}}},
    {"service", {{"remove", Role::kRemove, "SERVICE_NAME"}, {"ignore", Role::kIgnore, "SERVICE_NAME"}}},
    {"process",
     {{"stop", Role::kStop, "PROCESS_NAME"},
      {"start", Role::kStart, "FILE_NAME, FILE_NAME_EXPAND and PROCESS_NAME"}}},
    {"registry value", {{"remove", Role::kRemove, "REG_VALUE"}, {"ignore", Role::kIgnore, "REG_VALUE"}}},
    {"registry key", {{"remove", Role::kRemove, "REG_KEY"}, {"ignore", Role::kIgnore, "REG_KEY"}}},
    {"file",
     {{"remove", Role::kRemove, "FILE_NAME and FILE_NAME_EXPAND"},
      {"ignore", Role::kIgnore, "FILE_NAME and FILE_NAME_EXPAND"}}},
};

const char* const kTypeNames[] = {"REG_VALUE",      "REG_KEY",      "REG_VALUE_EXPAND",
                                  "REG_KEY_EXPAND", "FILE_NAME",    "FILE_NAME_EXPAND",
                                  "SERVICE_NAME",   "PROCESS_NAME", "GUID"};
const char* const kKindNames[] = {"BY_REFERENCE", "BY_VALUE", "BY_DATA_MATCH"};

struct Pair {
    uint32_t type;
    uint32_t kind;
};
// The pairs the reader hands to a handler; every other one stops the run with 1610.
constexpr Pair kSupportedPairs[] = {
    {kTypeRegValue, kKindByReference},       {kTypeRegValue, kKindByValue},
    {kTypeRegValue, kKindByDataMatch},       {kTypeRegKey, kKindByValue},
    {kTypeRegKey, kKindByDataMatch},         {kTypeFileName, kKindByValue},
    {kTypeFileName, kKindByDataMatch},       {kTypeFileNameExpand, kKindByValue},
    {kTypeFileNameExpand, kKindByDataMatch}, {kTypeServiceName, kKindByValue},
    {kTypeProcessName, kKindByValue},        {kTypeGuid, kKindByValue},
};

bool IsSupportedPair(uint32_t type, uint32_t kind) {
    for (const Pair& p : kSupportedPairs)
        if (p.type == type && p.kind == kind) return true;
    return false;
}

// Whether objects of this type make sense in the list of a section key. The text a registry
// value holds (REG_VALUE,BY_REFERENCE) may be a folder, a key, a name or a code: any list.
bool TypeFits(int section, Role role, uint32_t type, uint32_t kind) {
    if (type == kTypeRegValue && kind == kKindByReference) return true;
    switch (section) {
        case kMsi:
            return type == kTypeGuid;
        case kService:
            return type == kTypeServiceName;
        case kProcess:
            if (role == Role::kStop) return type == kTypeProcessName;
            return type == kTypeFileName || type == kTypeFileNameExpand || type == kTypeProcessName;
        case kRegValue:
            return type == kTypeRegValue;
        case kRegKey:
            return type == kTypeRegKey;
        case kFile:
            return type == kTypeFileName || type == kTypeFileNameExpand;
        default:
            return false;
    }
}

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Section, key, type and kind names are ASCII: folding ASCII letters compares them as the reader does.
bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
    return true;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Index of the first name that begins `text` and is followed by ",", or -1: the reader's rule.
int MatchName(const std::string& text, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::string name = names[i];
        if (StartsWithNoCase(text, name) && text.size() > name.size() && text[name.size()] == ',')
            return static_cast<int>(i);
    }
    return -1;
}

std::string Header(int section) { return std::string("[") + kSections[section].name + " 1]"; }

std::string Normalized(const std::string& text) {
    std::string copy = text;
    if (copy.empty()) return copy;
    expand::NormalizePath(&copy[0]);
    copy.resize(std::strlen(copy.c_str()));
    return copy;
}

bool HasWildcards(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// Every field of a quoted multi-field text ("A","B","C"), as the data-match handlers split it.
std::vector<std::string> QuotedFields(const std::string& normalized) {
    std::vector<std::string> fields;
    std::string text = normalized;
    if (!text.empty() && text.back() == '"') text.pop_back();
    size_t pos = text.find_first_not_of('"');
    if (pos == std::string::npos) pos = text.size();
    for (;;) {
        size_t sep = text.find("\",\"", pos);
        fields.push_back(text.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos));
        if (sep == std::string::npos) return fields;
        pos = sep + 3;
    }
}

// Whether `text` could match `pattern` under either matcher the run uses ("*" for any run,
// "?" for one character, or none at the end of the text): wider than both, so that a "no"
// is certain.
bool MayMatch(const std::string& text, const std::string& pattern) {
    const size_t n = text.size(), m = pattern.size();
    std::vector<char> next(n + 1, 0), cur(n + 1, 0);
    next[n] = 1;  // the empty pattern matches the empty rest of the text
    for (size_t j = m; j-- > 0;) {
        for (size_t i = n + 1; i-- > 0;) {
            char p = pattern[j];
            bool ok = false;
            if (p == '*')
                ok = next[i] || (i < n && cur[i + 1]);
            else if (p == '?')
                ok = next[i] || (i < n && next[i + 1]);
            else
                ok = i < n && text[i] == p && next[i + 1];
            cur[i] = ok ? 1 : 0;
        }
        std::swap(next, cur);
    }
    return next[0] != 0;
}

bool ComponentsMayMeet(const std::string& a, const std::string& b) {
    if (a == b) return true;
    bool wildA = HasWildcards(a), wildB = HasWildcards(b);
    if (wildA && wildB) return true;
    if (wildA) return MayMatch(b, a);
    if (wildB) return MayMatch(a, b);
    return false;
}

// Whether the objects a remove text lists may hold the text of an ignore entry: the remove
// text names the ignored object itself, something above it or below it. Ignoring is a
// substring test, so an ignore text whose last part begins a longer name keeps that name too.
bool Reaches(const std::string& removeText, const std::string& ignoreText) {
    std::vector<std::string> r = Components(removeText), i = Components(ignoreText);
    size_t n = std::min(r.size(), i.size());
    for (size_t j = 0; j < n; ++j) {
        if (ComponentsMayMeet(r[j], i[j])) continue;
        bool ignoreEndsHere = j + 1 == i.size();
        if (ignoreEndsHere && (r[j].compare(0, i[j].size(), i[j]) == 0 || HasWildcards(r[j]) ||
                               (HasWildcards(i[j]) && MayMatch(r[j], i[j] + "*"))))
            continue;
        return false;
    }
    return true;
}

// "C:", "C:\..." (normalised texts are upper case).
bool IsFullPath(const std::string& path) {
    return path.size() >= 2 && path[0] >= 'A' && path[0] <= 'Z' && path[1] == ':' &&
           (path.size() == 2 || path[2] == '\\');
}

// As JoinPath joins a macro's folder and the rest of the entry.
std::string Join(const std::string& folder, const std::string& rest) {
    if (rest.empty()) return folder;
    if (folder.empty()) return rest;
    bool separated = folder.back() == '\\' || folder.back() == '/' || rest[0] == '\\' || rest[0] == '/';
    return folder + (separated ? "" : "\\") + rest;
}

// Registry texts of HKEY_LOCAL_MACHINE\SOFTWARE are reached in either view: the walk lists the
// 64-bit view while the deletion tries the 32-bit copy first. Both spellings are compared.
void AddOtherViewSpelling(std::vector<std::string>& forms) {
    static const std::string kSoftware = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    static const std::string kWow = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\";
    std::vector<std::string> extra;
    for (const std::string& f : forms) {
        if (f.compare(0, kWow.size(), kWow) == 0)
            extra.push_back(kSoftware + f.substr(kWow.size()));
        else if (f.compare(0, kSoftware.size(), kSoftware) == 0)
            extra.push_back(kWow + f.substr(kSoftware.size()));
    }
    forms.insert(forms.end(), extra.begin(), extra.end());
}

// The key of a value text: the text without its last part ("\" at the end names the key's
// default value); empty when there is no key part.
std::string ValueKey(const std::string& value) {
    if (!value.empty() && value.back() == '\\') return value.substr(0, value.size() - 1);
    size_t at = value.rfind('\\');
    return at == std::string::npos ? std::string() : value.substr(0, at);
}

const char* const kRootAliases[][2] = {
    {"HKLM\\", "HKEY_LOCAL_MACHINE"}, {"HKCU\\", "HKEY_CURRENT_USER"},   {"HKCR\\", "HKEY_CLASSES_ROOT"},
    {"HKU\\", "HKEY_USERS"},          {"HKCC\\", "HKEY_CURRENT_CONFIG"},
};

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// One entry line of a section that is read, with what the reach test needs.
struct Entry {
    uint32_t line = 0;
    std::string section;  // the header as written
    std::string text;
    int sectionId = 0;
    Role role = Role::kRemove;
    uint32_t type = 0;
    uint32_t kind = 0;
    // What the entry names, as paths, key or value texts, names or codes (patterns allowed).
    std::vector<std::string> forms;
    // Its objects are known only when the run reads the machine (a value's text, a type that
    // does not belong in the list): a remove entry of this sort may reach anything, and an
    // ignore entry of this sort is never judged.
    bool open = false;
};

class Checker {
  public:
    Checker(CNuke& engine, std::vector<ConfigProblem>& problems)
        : engine_(engine), os_(engine.Os()), problems_(problems) {
        if (!os_.shell.GetUserName(user_) || user_.size() >= 128) user_.clear();
        if (!user_.empty()) platform::AnsiUpperInPlace(&user_[0]);
    }

    void Run(const ConfigText& decoded);

  private:
    void Add(Severity severity, uint32_t line, const std::string& section, const std::string& text,
             const std::string& message) {
        problems_.push_back(ConfigProblem{severity, section, line, text, message});
        flawed_.insert(line);
    }
    void AddOn(Severity severity, const Entry& e, const std::string& message) {
        Add(severity, e.line, e.section, e.text, message);
    }

    void Line(uint32_t number, const std::string& seen);
    void HeaderLine(uint32_t number, const std::string& seen);
    void EntryLine(Entry& e, const std::string& afterKey);
    void CheckData(Entry& e, const std::string& data);
    void CheckRegistryText(Entry& e, const std::string& text, bool isValue);
    void CheckFilePath(Entry& e, const std::string& path, bool removes);
    void CheckMacroEntry(Entry& e, const std::string& data, const std::string& firstField);
    void CheckProtected(Entry& e, const std::string& path, bool isKey);
    void CheckIgnoresReached();
    bool Reached(const Entry& ignore);

    CNuke& engine_;
    Platform& os_;
    std::vector<ConfigProblem>& problems_;
    std::string user_;
    std::set<uint32_t> flawed_;
    const std::map<uint32_t, std::u16string>* unspellable_ = nullptr;

    int section_ = kBeforeFirstSection;
    std::string sectionText_;
    uint32_t headerLine_[kSectionCount] = {};
    std::map<std::string, uint32_t> seenEntries_;
    std::vector<Entry> entries_;
};

void Checker::Run(const ConfigText& decoded) {
    const std::string& bytes = decoded.text;
    unspellable_ = &decoded.unspellable;
    // The stream of the reader ends at a Ctrl-Z; what follows is never read.
    size_t end = bytes.find('\x1a');
    if (end == std::string::npos) end = bytes.size();
    bool zeroByteReported = false;

    uint32_t number = 1;
    for (size_t pos = 0; pos < end; ++number) {
        size_t nl = bytes.find('\n', pos);
        if (nl == std::string::npos || nl > end) nl = end;
        size_t len = nl - pos;
        while (len > 0 && bytes[pos + len - 1] == '\r') --len;
        std::string text = bytes.substr(pos, len);
        pos = nl + 1;

        // The reader sees a line up to its first zero byte, as a C string.
        std::string seen = text.substr(0, text.find('\0'));
        if (number == 1 && seen.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            Add(kWarn, number, "", seen,
                "the file begins with a UTF-8 byte order mark, which becomes part of this line; save the "
                "file "
                "as ANSI text");
        }
        if (seen.size() != text.size() && !zeroByteReported) {
            zeroByteReported = true;
            Add(kWarn, number, section_ >= 0 ? sectionText_ : "", seen,
                "the line holds a zero byte and is read only up to it; save the file as ANSI text, not "
                "Unicode");
        }
        if (len > kMaxConfigLine) {
            Add(kError, number, section_ >= 0 ? sectionText_ : "", text,
                "line of " + std::to_string(len) + " characters, longer than " +
                    std::to_string(kMaxConfigLine) + "; the run stops here with 1610");
            continue;
        }
        Line(number, seen);
    }
    if (end < bytes.size() && bytes.find_first_not_of(" \t\r\n\x1a", end) != std::string::npos) {
        uint32_t line = static_cast<uint32_t>(std::count(bytes.begin(), bytes.begin() + end, '\n')) + 1;
        Add(kWarn, line, section_ >= 0 ? sectionText_ : "", "",
            "end-of-file character (Ctrl-Z); nothing after it is read");
    }

    for (int s = 0; s < kSectionCount; ++s) {
        if (headerLine_[s] == 0)
            Add(kError, 0, Header(s), "",
                "section missing; the run stops with 1610 (an empty section is enough)");
    }
    CheckIgnoresReached();
    std::stable_sort(problems_.begin(), problems_.end(),
                     [](const ConfigProblem& a, const ConfigProblem& b) { return a.line < b.line; });
}

void Checker::HeaderLine(uint32_t number, const std::string& seen) {
    for (int s = 0; s < kSectionCount; ++s) {
        std::string header = Header(s);
        if (!StartsWithNoCase(seen, header)) continue;
        std::string written = seen.substr(0, header.size());
        if (headerLine_[s] != 0) {
            Add(kWarn, number, written, seen,
                "section repeated (first on line " + std::to_string(headerLine_[s]) +
                    "); only the first one is read, the lines below this one never are");
            section_ = kUnreadSection;
            return;
        }
        headerLine_[s] = number;
        section_ = s;
        sectionText_ = written;
        return;
    }
    size_t close = seen.find(']');
    std::string written = close == std::string::npos ? seen : seen.substr(0, close + 1);
    std::string message = "unknown section header; the lines below it are never read";
    for (int s = 0; s < kSectionCount; ++s) {
        if (StartsWithNoCase(seen, std::string("[") + kSections[s].name + " "))
            message = "only section number 1 is read; the lines below this header never are";
    }
    Add(kWarn, number, written, seen, message);
    section_ = kUnreadSection;
}

void Checker::Line(uint32_t number, const std::string& seen) {
    if (!seen.empty() && seen[0] == '[') {
        HeaderLine(number, seen);
        return;
    }
    size_t lead = seen.find_first_not_of(" \t");
    if (lead == std::string::npos) return;
    if (lead > 0 && seen[lead] == '[') {
        for (int s = 0; s < kSectionCount; ++s) {
            if (StartsWithNoCase(seen.substr(lead), Header(s))) {
                Add(kWarn, number, section_ >= 0 ? sectionText_ : "", seen,
                    "blank before the section header; it is not taken as a header");
                return;
            }
        }
    }
    if (section_ == kUnreadSection) return;

    // An entry-like line: a word, then "=", blanks around the word allowed for the diagnosis.
    size_t wordEnd = lead;
    while (wordEnd < seen.size() && (std::isalnum(static_cast<unsigned char>(seen[wordEnd])) ||
                                     seen[wordEnd] == '_' || seen[wordEnd] == '-'))
        ++wordEnd;
    if (wordEnd == lead) return;
    size_t equals = seen.find_first_not_of(" \t", wordEnd);
    if (equals == std::string::npos || seen[equals] != '=') return;
    const std::string word = seen.substr(lead, wordEnd - lead);

    if (section_ == kBeforeFirstSection) {
        Add(kWarn, number, "", seen, "entry before the first section header; it is never read");
        return;
    }
    const SectionRule& rule = kSections[section_];
    int key = -1;
    for (int k = 0; k < 2; ++k)
        if (EqualNoCase(word, rule.keys[k].name)) key = k;
    if (key < 0) {
        std::string reads = section_ == kProcess ? "stop= and start=" : kRemoveAndIgnore;
        Add(kWarn, number, sectionText_, seen,
            "key " + Quoted(word) + " is not read in this section (it reads " + reads +
                "); the line is skipped");
        return;
    }
    if (lead > 0) {
        Add(kWarn, number, sectionText_, seen, "blank before the key; the line is skipped");
        return;
    }
    if (equals != wordEnd) {
        Add(kWarn, number, sectionText_, seen, "blank between the key and '='; the line is skipped");
        return;
    }
    if (unspellable_->count(number) != 0) {
        Add(kError, number, sectionText_, seen,
            "names what the ANSI code page " + std::to_string(platform::AnsiCodePage()) +
                " of this Windows cannot spell; the run stops here with 1610 (Windows 10 1903 and later read "
                "such names)");
        return;
    }
    Entry e;
    e.line = number;
    e.section = sectionText_;
    e.text = seen;
    e.sectionId = section_;
    e.role = rule.keys[key].role;
    EntryLine(e, seen.substr(equals + 1));
}

void Checker::EntryLine(Entry& e, const std::string& afterKey) {
    const std::string stops1610 = "; the run stops here with 1610";
    int type = MatchName(afterKey, kTypeNames, 9);
    if (type < 0) {
        size_t comma = afterKey.find(',');
        if (comma == std::string::npos)
            AddOn(kError, e, "not an entry of the form TYPE,KIND,data" + stops1610);
        else
            AddOn(kError, e, "unknown type " + Quoted(afterKey.substr(0, comma)) + stops1610);
        return;
    }
    std::string rest = afterKey.substr(std::strlen(kTypeNames[type]) + 1);
    int kind = MatchName(rest, kKindNames, 3);
    if (kind < 0) {
        size_t comma = rest.find(',');
        if (comma == std::string::npos)
            AddOn(kError, e, "no kind after the type (TYPE,KIND,data)" + stops1610);
        else
            AddOn(kError, e, "unknown kind " + Quoted(rest.substr(0, comma)) + stops1610);
        return;
    }
    e.type = static_cast<uint32_t>(type);
    e.kind = static_cast<uint32_t>(kind);
    const std::string pair = std::string(kTypeNames[type]) + "," + kKindNames[kind];
    if (!IsSupportedPair(e.type, e.kind)) {
        AddOn(kError, e, pair + " is not a supported type and kind pair" + stops1610);
        return;
    }
    const KeyRule& key =
        kSections[e.sectionId].keys[e.role == Role::kIgnore || e.role == Role::kStart ? 1 : 0];
    if (!TypeFits(e.sectionId, e.role, e.type, e.kind)) {
        std::string where =
            e.sectionId == kProcess ? std::string(key.name) + "= takes " : "this section takes ";
        AddOn(
            kWarn, e,
            "a " + std::string(kTypeNames[type]) + " entry does not belong here (" + where + key.takes + ")");
        e.open = true;
    }

    const std::string data = rest.substr(std::strlen(kKindNames[kind]) + 1);
    const std::string normalized = Normalized(data);
    std::string identity = std::to_string(e.sectionId) + "|" + key.name + "|" + pair + "|" + normalized;
    auto first = seenEntries_.emplace(identity, e.line);
    if (!first.second) AddOn(kWarn, e, "repeats line " + std::to_string(first.first->second));

    CheckData(e, normalized);
    entries_.push_back(e);
}

void Checker::CheckData(Entry& e, const std::string& data) {
    const std::string stops13 = "; the run stops here with 13";
    const bool registry = e.type == kTypeRegValue || e.type == kTypeRegKey;
    if (data.empty()) {
        // The handlers that need a key, a macro or a folder pattern refuse an empty text.
        const char* stops = registry || (e.type == kTypeFileName && e.kind == kKindByDataMatch)
                                ? "; the run stops here with 13"
                            : e.type == kTypeFileNameExpand ? "; the run stops here with 1610"
                                                            : nullptr;
        const char* effect = stops != nullptr ? stops
                             : e.role == Role::kIgnore
                                 ? "; an empty ignore text names nothing and is not used"
                                 : "";
        AddOn(stops != nullptr ? kError : kWarn, e, std::string("no data after the type and kind") + effect);
        e.open = e.role == Role::kIgnore;
        return;
    }
    switch (e.type) {
        case kTypeGuid: {
            bool ok = data.size() == 38 && data[0] == '{' && data[37] == '}';
            for (size_t i = 1; ok && i < 37; ++i) {
                bool dash = i == 9 || i == 14 || i == 19 || i == 24;
                ok = dash ? data[i] == '-' : std::isxdigit(static_cast<unsigned char>(data[i])) != 0;
            }
            // The installer step splits its command at blanks: a code holding one makes the
            // command invalid, and the run stops there.
            const bool stops =
                e.sectionId == kMsi && e.role == Role::kRemove && data.find(' ') != std::string::npos;
            if (!ok)
                AddOn(stops ? kError : kWarn, e,
                      std::string("malformed upgrade code; write it as a braced GUID, "
                                  "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}") +
                          (stops ? "; the run stops at the uninstall with 160" : ""));
            e.forms.push_back(data);
            return;
        }
        case kTypeServiceName:
        case kTypeProcessName:
            if (data.find('\\') != std::string::npos) {
                AddOn(kWarn, e,
                      e.type == kTypeServiceName
                          ? "a service name holds no backslash; this line finds nothing"
                          : "a process is matched by its file name alone; a path finds nothing");
            }
            e.forms.push_back(data);
            return;
        case kTypeRegValue:
        case kTypeRegKey: {
            if (e.kind == kKindByReference) {
                // The value is read when the run starts: its text is the object.
                CheckRegistryText(e, data, true);
                e.open = true;
                return;
            }
            if (e.kind == kKindByValue) {
                CheckRegistryText(e, data, e.type == kTypeRegValue);
                e.forms.push_back(data);
                if (e.type == kTypeRegKey && e.role == Role::kRemove && e.sectionId == kRegKey &&
                    !HasWildcards(data))
                    CheckProtected(e, data, true);
                return;
            }
            std::vector<std::string> fields = QuotedFields(data);
            const size_t wanted = e.type == kTypeRegValue ? 2 : 3;
            if (fields.size() < wanted) {
                AddOn(
                    kError, e,
                    e.type == kTypeRegValue
                        ? "needs two quoted fields, \"<key>\\<value name pattern>\",\"<data pattern>\"" +
                              stops13
                        : "needs three quoted fields, \"<key pattern>\",\"<value name>\",\"<data pattern>\"" +
                              stops13);
                return;
            }
            if (fields.size() > wanted)
                AddOn(kWarn, e,
                      std::string("the fields after the ") + (wanted == 2 ? "second" : "third") +
                          " are never used");
            if (e.type == kTypeRegKey && HasWildcards(fields[1]))
                AddOn(kError, e, "wildcard in the value name field" + stops13);
            CheckRegistryText(e, fields[0], e.type == kTypeRegValue);
            e.forms.push_back(fields[0]);
            if (e.type == kTypeRegKey && e.role == Role::kRemove && e.sectionId == kRegKey &&
                !HasWildcards(fields[0]))
                CheckProtected(e, fields[0], true);
            return;
        }
        case kTypeFileName:
        case kTypeFileNameExpand: {
            std::string first = data;
            if (e.kind == kKindByDataMatch) {
                std::vector<std::string> fields = QuotedFields(data);
                bool named = false;
                for (size_t i = 1; i < fields.size(); ++i) named = named || !fields[i].empty();
                if (fields[0].empty() || !named) {
                    AddOn(kError, e,
                          "needs a quoted folder pattern and at least one quoted name, "
                          "\"<folder>\",\"<name>\"" +
                              stops13);
                    return;
                }
                first = fields[0];
            }
            if (e.type == kTypeFileNameExpand) {
                CheckMacroEntry(e, data, first);
                return;
            }
            const bool removes = e.role == Role::kRemove && e.sectionId == kFile;
            CheckFilePath(e, first, removes);
            e.forms.push_back(first);
            if (removes && !HasWildcards(first)) CheckProtected(e, first, false);
            return;
        }
        default:
            return;
    }
}

void Checker::CheckRegistryText(Entry& e, const std::string& text, bool isValue) {
    std::string parsed = text;
    platform::RegKey root = 0;
    char* rootName = nullptr;
    char* keyPath = nullptr;
    char* last = nullptr;
    if (expand::ParseRegistryPath(&parsed[0], root, rootName, keyPath, last) != 0) return;
    if (root == 0) {
        std::string message =
            "registry path without a root; it must begin with HKEY_LOCAL_MACHINE\\, HKEY_CURRENT_USER\\, "
            "HKEY_CLASSES_ROOT\\ or HKEY_USERS\\ (this line finds nothing)";
        for (const auto& alias : kRootAliases) {
            if (StartsWithNoCase(text, alias[0]))
                message = "registry root " + Quoted(std::string(alias[0], std::strlen(alias[0]) - 1)) +
                          " must be written in full, " + alias[1] + "\\ (this line finds nothing)";
        }
        AddOn(kWarn, e, message);
    }
    // The handlers refuse a wildcard anywhere but in the last part (key name or value name).
    if (keyPath != nullptr && HasWildcards(keyPath))
        AddOn(kError, e,
              std::string("wildcard before the last part of the registry ") + (isValue ? "value" : "key") +
                  " path; the run stops here with 13");
}

void Checker::CheckFilePath(Entry& e, const std::string& path, bool removes) {
    std::vector<std::string> parts = Components(path);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (HasWildcards(parts[i])) {
            AddOn(kWarn, e, "wildcard before the last part of the path; it matches nothing");
            break;
        }
    }
    // An ignore text may be any part of a path (ignoring is a substring test), and start=
    // looks a bare program name up on the search path; a folder to remove must be complete.
    if (removes && !IsFullPath(path))
        AddOn(kWarn, e,
              "not a full path (drive letter and folders); it would be taken from the tool's current folder");
}

void Checker::CheckMacroEntry(Entry& e, const std::string& data, const std::string& firstField) {
    const expand::FolderMacro* macro = expand::FindFolderMacro(data.c_str());
    std::string leading;
    if (data.size() > 1 && data[0] == '%') {
        size_t close = data.find('%', 1);
        if (close != std::string::npos) leading = data.substr(0, close + 1);
    }
    if (macro == nullptr || data.compare(0, std::strlen(macro->name), macro->name) != 0) {
        std::string effect = macro == nullptr ? "; the run stops here with 1610" : "";
        const Severity severity = macro == nullptr ? kError : kWarn;
        if (!leading.empty() && (macro == nullptr || leading != macro->name))
            AddOn(severity, e, "unknown folder macro " + Quoted(leading) + effect);
        else if (macro == nullptr)
            AddOn(severity, e, "no folder macro at the start of the path" + effect);
        else
            AddOn(kWarn, e, "the folder macro " + Quoted(macro->name) + " must begin the path");
        // With a macro further on, the handler goes on with a path cut at the wrong place.
        e.open = macro != nullptr;
        return;
    }
    const bool byValue = e.kind == kKindByValue;
    if (!byValue && macro->folder == expand::MacroFolder::kGoogleGadgets)
        AddOn(kWarn, e, "%GOOGLE_GADGETS% names no folder in BY_DATA_MATCH entries; this line finds nothing");

    const std::string rest = firstField.substr(std::min(firstField.size(), std::strlen(macro->name)));
    CheckFilePath(e, rest, false);
    e.forms.push_back(firstField);

    std::string folder;
    if (!expand::ResolveFolderMacroQuietly(os_, *macro, byValue, folder) ||
        folder.size() >= expand::kMaxPathBuffer)
        return;
    folder = Normalized(folder);
    const std::string current = Join(folder, rest);
    size_t at = expand::FindPathComponent(folder, user_);
    // A folder in the user's profile stands for the same folder in every profile.
    e.forms.push_back(at == std::string::npos
                          ? current
                          : Join(folder.substr(0, at) + "*" + folder.substr(at + user_.size()), rest));
    if (e.role == Role::kRemove && e.sectionId == kFile && !HasWildcards(current))
        CheckProtected(e, current, false);
}

void Checker::CheckProtected(Entry& e, const std::string& path, bool isKey) {
    expand::ProtectedLocations& table = engine_.Protected();
    const char* reason = isKey ? table.KeyReason(path.c_str()) : table.FolderReason(path.c_str());
    if (reason != nullptr)
        AddOn(kWarn, e,
              std::string("names a protected location (") + reason + "); the tool never removes it");
}

bool Checker::Reached(const Entry& ignore) {
    std::vector<std::string> ignoreForms = ignore.forms;
    const bool registry = ignore.sectionId == kRegKey || ignore.sectionId == kRegValue;
    if (registry) AddOtherViewSpelling(ignoreForms);

    for (const Entry& r : entries_) {
        if (r.role != Role::kRemove) continue;
        const bool related = r.sectionId == ignore.sectionId ||
                             (registry && (r.sectionId == kRegKey || r.sectionId == kRegValue));
        if (!related) continue;
        if (r.open) return true;
        std::vector<std::string> removeForms = r.forms;
        if (registry) AddOtherViewSpelling(removeForms);
        for (const std::string& rf : removeForms) {
            for (const std::string& inf : ignoreForms) {
                switch (ignore.sectionId) {
                    case kMsi:
                    case kService:
                        // Names and codes: the ignore text kept wherever a listed name holds it.
                        if (HasWildcards(rf) || rf.find(inf) != std::string::npos) return true;
                        break;
                    case kRegValue: {
                        // A value is reached by a value entry of its key, or by a key above it.
                        std::string removeKey = r.sectionId == kRegValue ? ValueKey(rf) : rf;
                        if (!removeKey.empty() && Reaches(removeKey, ValueKey(inf))) return true;
                        break;
                    }
                    default:
                        if (Reaches(rf, inf)) return true;
                        break;
                }
            }
        }
    }
    return false;
}

void Checker::CheckIgnoresReached() {
    for (const Entry& e : entries_) {
        if (e.role != Role::kIgnore || e.open || flawed_.count(e.line) != 0 || e.forms.empty()) continue;
        // Only ignore texts whose place is certain are judged: a partial path, a name pattern
        // or a macro with no folder here may hold on to anything.
        bool judged = true;
        for (const std::string& f : e.forms) {
            switch (e.sectionId) {
                case kMsi:
                case kService:
                    judged = judged && !HasWildcards(f);
                    break;
                case kRegKey:
                case kRegValue:
                    judged = judged && expand::RootKeyOfName(f.substr(0, f.find('\\')).c_str()) != 0 &&
                             f.find('\\') != std::string::npos;
                    break;
                default:
                    break;
            }
        }
        if (e.sectionId == kFile) {
            bool placed = false;
            for (const std::string& f : e.forms) placed = placed || IsFullPath(f);
            judged = placed;
        }
        if (!judged || Reached(e)) continue;
        const char* what = e.sectionId == kMsi ? "no remove line of this section names this upgrade code"
                           : e.sectionId == kService ? "no remove line of this section names this service"
                           : e.sectionId == kFile
                               ? "no remove line of this section reaches this path"
                               : "no remove line of [registry key 1] or [registry value 1] "
                                 "reaches this registry entry";
        Add(kWarn, e.line, e.section, e.text, std::string(what) + ", so the ignore line keeps nothing");
    }
}

}  // namespace

ConfigCheckResult CheckConfiguration(CNuke& engine) {
    ConfigCheckResult result;
    result.code = engine.InitConfigFile();
    result.path = engine.configPath;
    if (result.code != 0) return result;
    std::string bytes;
    result.code = engine.Os().fs.ReadWholeFile(engine.configPath, bytes);
    if (result.code != 0) return result;
    ConfigText decoded;
    result.code = DecodeConfigText(bytes, decoded);
    result.encoding = DescribeEncoding(decoded);
    if (result.code != 0) return result;

    Checker(engine, result.problems).Run(decoded);
    // Only what would stop a run fails the check: a deployment goes on with warnings.
    result.code = result.Count(kError) == 0 ? 0u : static_cast<uint32_t>(platform::kErrorBadConfiguration);
    return result;
}

size_t ConfigCheckResult::Count(Severity severity) const {
    return static_cast<size_t>(std::count_if(problems.begin(), problems.end(),
                                             [&](const ConfigProblem& p) { return p.severity == severity; }));
}

namespace {

// An overlong line is quoted by its start: enough to find it in the file.
std::string Shown(const std::string& text) {
    constexpr size_t kShownStart = 60;
    return text.size() > kMaxConfigLine ? text.substr(0, kShownStart) + "..." : text;
}

}  // namespace

std::string FormatCheckResult(const ConfigCheckResult& result) {
    std::string out;
    if (!result.encoding.empty())
        out += (result.path.empty() ? std::string("configuration file") : result.path) + ": read as " +
               result.encoding + "\n";
    for (const ConfigProblem& p : result.problems) {
        std::string where = p.line != 0 ? "line " + std::to_string(p.line) : "";
        if (!p.section.empty()) where += (where.empty() ? "" : " ") + p.section;
        const std::string message = (p.severity == kWarn ? "warning: " : "") + p.message;
        out += where.empty() ? message : where + ": " + message;
        if (p.line != 0 && !p.text.empty()) out += ": " + Shown(p.text);
        out += "\n";
    }
    out += result.path.empty() ? std::string("configuration file") : result.path;
    const size_t errors = result.Count(kError), warnings = result.Count(kWarn);
    if (result.code == 0 && result.problems.empty()) {
        out += ": no problems\n";
    } else if (result.code == 0 || result.code == platform::kErrorBadConfiguration) {
        out += ": " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
               std::to_string(warnings) + (warnings == 1 ? " warning\n" : " warnings\n");
    } else {
        out += ": cannot be read (error " + std::to_string(result.code) + ")\n";
    }
    return out;
}

}  // namespace engine
