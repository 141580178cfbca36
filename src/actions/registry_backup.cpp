#include "actions/registry_backup.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "actions/acl.h"
#include "expand/path_helpers.h"
#include "expand/unspellable_names.h"
#include "guard/tool_folder.h"
#include "logging/engine_log.h"
#include "logging/file_utils.h"
#include "logging/log_settings.h"
#include "platform/acl_text.h"
#include "platform/ansi.h"
#include "platform/registry_links.h"

namespace actions {

namespace {

using engine::EngineLog;
using platform::kErrorAccessDenied;
using platform::kErrorFileNotFound;
using platform::kErrorSuccess;

// Failures carry the engine's tag, as the removal steps' own failures do; the record that
// names the file is this class's own, beside the steps' records rather than among them.
constexpr char kTag[] = "CNuke::RegistryBackup";
// The record that names the file stays out of the engine's own records.
constexpr char kSaveTag[] = "RegistryBackup::Save";
constexpr uint32_t kErrorNoUnicodeTranslation = 1113;
// Names longer than these are not registry names.
constexpr uint32_t kWideValueNameBuffer = 16384;  // 16383 UTF-16 units and the terminator
constexpr uint32_t kKeyNameBuffer = platform::kKeyNameBytes;
constexpr uint32_t kWideKeyNameBuffer = 256;  // 255 UTF-16 units and the terminator
// Far beyond any value a product stores; a larger one is reported, not read.
constexpr uint32_t kMaxValueData = 16u * 1024 * 1024;
// Deeper than the registry allows keys to nest.
constexpr int kMaxDepth = 512;
// A name taken at every try up to this suffix is a folder someone filled on purpose.
constexpr int kMaxNameTries = 99;
// The registry editor breaks hex lines after the comma that passes this column.
constexpr size_t kWrapColumn = 76;

bool SameName(const std::string& a, const char* b) { return platform::AnsiCompareNoCase(a.c_str(), b) == 0; }

// COM's class keys that the 32-bit view keeps in a WOW6432Node beside them; the rest of a
// classes key is shared by both views.
void RedirectClasses(std::vector<std::string>& parts, size_t at) {
    static const char* const kRedirected[] = {"CLSID", "DirectShow", "Interface", "Media Type",
                                              "MediaFoundation"};
    if (at >= parts.size()) return;
    for (const char* name : kRedirected) {
        if (SameName(parts[at], name)) {
            parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(at), "WOW6432Node");
            return;
        }
    }
}

const char* RootName(platform::RegKey root) {
    return root == platform::kHkeyCurrentConfig ? "HKEY_CURRENT_CONFIG" : expand::CanonicalRootName(root);
}

std::u16string Widen(const std::string& text) {
    std::u16string out;
    if (!platform::AnsiToUtf16(text.data(), text.size(), out)) {
        out.clear();
        for (char c : text)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?');
    }
    return out;
}

std::string Narrow(const std::u16string& text) { return platform::Utf16ToAnsi(text); }

// A name the registry keeps that an ANSI text names: only one the code page can spell.
bool SameWideName(const std::u16string& name, const std::string& ansi) {
    const std::string narrow = Narrow(name);
    return platform::AnsiToUtf16(narrow) == name && SameName(narrow, ansi.c_str());
}

std::u16string Quoted(const std::u16string& text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') out.push_back(u'\\');
        out.push_back(c);
    }
    out.push_back(u'"');
    return out;
}

void AppendHexBytes(std::u16string& line, const uint8_t* bytes, size_t count, std::u16string& out) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        line.push_back(kDigits[bytes[i] >> 4]);
        line.push_back(kDigits[bytes[i] & 0xF]);
        if (i + 1 == count) break;
        line.push_back(u',');
        if (line.size() > kWrapColumn) {
            out += line;
            out += u"\\\r\n";
            line = u"  ";
        }
    }
}

// UTF-16 string data as text; false when the bytes are no whole UTF-16 units.
bool Utf16Text(const std::vector<uint8_t>& data, std::u16string& text) {
    if (data.size() % 2 != 0) return false;
    text.clear();
    for (size_t i = 0; i < data.size(); i += 2)
        text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    return true;
}

// A REG_SZ that the quoted form gives back exactly: one terminator, at the end, and no
// character the line format cannot carry.
bool PlainString(const std::vector<uint8_t>& data, std::u16string& text) {
    if (!Utf16Text(data, text) || text.empty() || text.back() != 0) return false;
    text.pop_back();
    return text.find_first_of(std::u16string(u"\r\n\0", 3)) == std::u16string::npos;
}

std::u16string FormatValue(const SavedValue& v) {
    std::u16string line = v.name.empty() ? u"@" : Quoted(v.name);
    line.push_back(u'=');
    std::u16string text;
    if (v.type == platform::kRegSz && PlainString(v.data, text)) {
        line += Quoted(text);
        return line + u"\r\n";
    }
    if (v.type == platform::kRegDword && v.data.size() == 4) {
        char text[16];
        uint32_t value = static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                         static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
        return line + Widen(text) + u"\r\n";
    }
    const std::vector<uint8_t>& bytes = v.data;
    if (v.type == platform::kRegBinary) {
        line += u"hex:";
    } else {
        char text[24];
        std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(v.type));
        line += Widen(text);
    }
    std::u16string out;
    AppendHexBytes(line, bytes.data(), bytes.size(), out);
    return out + line + u"\r\n";
}

// --- reading ---

class TreeReader {
  public:
    TreeReader(platform::IRegistry& reg, bool view64)
        : reg_(reg), view_(view64 ? uint32_t{platform::kKeyWow64_64Key} : 0u) {}

    // Reads the key and, when `subtree`, every key below it, depth first, into `out`. A key
    // below the top one that cannot be read is left out; its error is the result. A link is
    // never read through: the key itself being one gives 681, one below is left out.
    uint32_t Read(platform::RegKey root, const std::string& path, const std::u16string& name, bool subtree,
                  std::vector<SavedKey>& out) {
        platform::RegKey raw = 0;
        uint32_t rc = platform::OpenKeyWithoutFollowing(reg_, root, path, platform::kKeyRead | view_, raw);
        if (rc != kErrorSuccess) return rc;
        platform::UniqueRegKey key(&reg_, raw);
        return ReadOpen(key.get(), name, subtree, 0, out);
    }

    // The key's values; `subKeys` (when given) gets how many subkeys it had when asked.
    static uint32_t ReadValues(platform::IRegistry& reg, platform::RegKey key, std::vector<SavedValue>& out,
                               uint32_t* subKeys = nullptr) {
        uint32_t maxData = 0, values = 0;
        uint32_t rc = reg.QueryInfoKey(key, subKeys, nullptr, &values, nullptr, &maxData);
        if (rc != kErrorSuccess) return rc;
        // Most keys a product leaves hold no value or no subkey: nothing more to ask them.
        if (values == 0) return kErrorSuccess;
        if (maxData > kMaxValueData) return platform::kErrorNotEnoughMemory;
        std::vector<char16_t> name(kWideValueNameBuffer);
        std::vector<uint8_t> data(maxData + 2);
        for (uint32_t i = 0;;) {
            uint32_t nameLength = kWideValueNameBuffer;
            uint32_t size = static_cast<uint32_t>(data.size());
            uint32_t type = 0;
            rc = reg.EnumValueW(key, i, name.data(), &nameLength, &type, data.data(), &size);
            if (rc == platform::kErrorNoMoreItems) return kErrorSuccess;
            if (rc == platform::kErrorMoreData && size > data.size() && size <= kMaxValueData) {
                data.resize(size);  // the value grew since the key was queried
                continue;
            }
            if (rc != kErrorSuccess) return rc;
            if (size > data.size()) return platform::kErrorInvalidData;
            out.push_back(SavedValue{std::u16string(name.data(), nameLength), type,
                                     std::vector<uint8_t>(data.begin(), data.begin() + size)});
            ++i;
        }
    }

    uint32_t ReadOpen(platform::RegKey key, const std::u16string& name, bool subtree, int depth,
                      std::vector<SavedKey>& out) {
        out.push_back(SavedKey{name, {}});
        size_t at = out.size() - 1;
        uint32_t subKeys = 0;
        uint32_t rc = ReadValues(reg_, key, out[at].values, &subKeys);
        if (rc != kErrorSuccess || !subtree || subKeys == 0) return rc;
        if (depth >= kMaxDepth) return platform::kErrorInvalidData;
        char16_t child[kWideKeyNameBuffer];
        uint32_t result = kErrorSuccess;
        for (uint32_t i = 0;; ++i) {
            uint32_t length = kWideKeyNameBuffer;
            rc = reg_.EnumKeyExW(key, i, child, &length);
            if (rc == platform::kErrorNoMoreItems) break;
            if (rc != kErrorSuccess) return rc;
            std::u16string childName(child, length);
            platform::RegKey raw = 0;
            rc = reg_.OpenKeyExOptionsW(key, childName, platform::kRegOptionOpenLink,
                                        platform::kKeyRead | view_, raw);
            if (rc == kErrorSuccess) {
                platform::UniqueRegKey opened(&reg_, raw);
                if (platform::IsLinkKey(reg_, opened.get())) continue;
                rc = ReadOpen(opened.get(), name + u"\\" + childName, true, depth + 1, out);
            }
            if (rc != kErrorSuccess && result == kErrorSuccess) result = rc;
        }
        return result;
    }

  private:
    platform::IRegistry& reg_;
    uint32_t view_;
};

bool HasLineBreak(const std::u16string& name) { return name.find_first_of(u"\r\n") != std::u16string::npos; }

std::string TrimSlashes(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '\\') --end;
    return path.substr(0, end);
}

}  // namespace

std::string RealKeyName(platform::RegKey root, const std::string& keyPath, bool redirected) {
    const char* rootName = RootName(root);
    if (rootName == nullptr) return std::string();
    std::vector<std::string> parts = platform::KeyPathParts(keyPath);
    if (redirected) {
        auto is = [&parts](size_t i, const char* name) {
            return i < parts.size() && SameName(parts[i], name);
        };
        switch (root) {
            case platform::kHkeyLocalMachine:
                if (!is(0, "SOFTWARE") || is(1, "WOW6432Node")) break;
                if (is(1, "Classes"))
                    RedirectClasses(parts, 2);
                else
                    parts.insert(parts.begin() + 1, "WOW6432Node");
                break;
            case platform::kHkeyClassesRoot:
                RedirectClasses(parts, 0);
                break;
            case platform::kHkeyCurrentUser:
                if (is(0, "Software") && is(1, "Classes")) RedirectClasses(parts, 2);
                break;
            case platform::kHkeyUsers:
                if (is(1, "Software") && is(2, "Classes"))
                    RedirectClasses(parts, 3);
                else if (!parts.empty() && parts[0].size() > 8 &&
                         SameName(parts[0].substr(parts[0].size() - 8), "_Classes"))
                    RedirectClasses(parts, 1);
                break;
            default:
                break;
        }
    }
    std::string name = rootName;
    for (const std::string& p : parts) name += "\\" + p;
    return name;
}

std::u16string FormatSections(const std::vector<SavedKey>& keys, std::vector<std::string>* left) {
    std::u16string out;
    for (const SavedKey& key : keys) {
        // A line break inside a name would end the line that names it: such an entry cannot
        // be written in this format at all.
        if (HasLineBreak(key.name)) {
            if (left != nullptr) left->push_back(Narrow(key.name));
            continue;
        }
        out += u"[" + key.name + u"]\r\n";
        for (const SavedValue& v : key.values) {
            if (HasLineBreak(v.name)) {
                if (left != nullptr) left->push_back(Narrow(key.name + u"\\" + v.name));
                continue;
            }
            out += FormatValue(v);
        }
        out += u"\r\n";
    }
    return out;
}

RegistryBackup::RegistryBackup(platform::Platform& os) : os_(os) {}

RegistryBackup::~RegistryBackup() = default;

bool RegistryBackup::Redirected() {
    if (wow64_ < 0) {
        bool wow64 = false;
        wow64_ =
            os_.sys.HasEntryPoint("kernel32", "IsWow64Process") && os_.sys.IsWow64Process(wow64) && wow64;
    }
    return wow64_ == 1;
}

// The key path as the registry spells it. Registry texts of the lists are upper case, and a
// key that the import has to create again takes the name the file gives it: each part is
// looked up among its parent's subkeys. A part that cannot be looked up keeps the spelling
// it came with, and so does every part below a link, since a name opened there would run
// on to its target.
std::string RegistryBackup::SpelledAsStored(platform::RegKey root, const std::string& path, uint32_t view) {
    std::string spelled;
    for (const std::string& part : platform::KeyPathParts(path)) {
        const Spellings& below = SpellingsBelow(root, spelled, view);
        std::string folded = part;
        platform::AnsiUpperInPlace(&folded[0]);
        auto found = below.names.find(folded);
        spelled += (spelled.empty() ? "" : "\\") + (found != below.names.end() ? found->second : part);
    }
    return spelled;
}

const RegistryBackup::Spellings& RegistryBackup::SpellingsBelow(platform::RegKey root,
                                                                const std::string& spelled, uint32_t view) {
    std::string id = std::to_string(root) + "|" + std::to_string(view) + "|" + spelled;
    platform::AnsiUpperInPlace(&id[0]);
    auto at = spellings_.find(id);
    if (at != spellings_.end()) return at->second;
    Spellings& out = spellings_[id];
    platform::RegKey raw = root;
    if (!spelled.empty() &&
        platform::OpenKeyWithoutFollowing(os_.reg, root, spelled,
                                          platform::kKeyEnumerateSubKeys | platform::kKeyQueryValue | view,
                                          raw) != kErrorSuccess)
        return out;
    platform::UniqueRegKey opened(&os_.reg, spelled.empty() ? 0 : raw);
    out.readable = true;
    char child[kKeyNameBuffer];
    for (uint32_t i = 0;; ++i) {
        uint32_t length = sizeof child;
        if (os_.reg.EnumKeyEx(raw, i, child, &length) != kErrorSuccess) break;
        // A best-fit alias may spell another key beside it, and is no spelling of its own.
        if (!expand::UnspellableRegName(os_.reg, raw, i, true, std::string(child, length)).empty()) continue;
        std::string name(child, length), folded = name;
        platform::AnsiUpperInPlace(&folded[0]);
        out.names.emplace(folded, name);
    }
    return out;
}

std::string RegistryBackup::FileName(platform::RegKey root, const std::string& keyPath, bool view64) {
    const uint32_t view = view64 ? uint32_t{platform::kKeyWow64_64Key} : 0u;
    return RealKeyName(root, SpelledAsStored(root, TrimSlashes(keyPath), view), !view64 && Redirected());
}

uint32_t RegistryBackup::SaveKey(platform::RegKey root, const std::string& keyPath, bool view64,
                                 bool mayRetry) {
    if (broken_) return platform::kErrorCanNotComplete;
    if (TakeAhead(root, keyPath, nullptr, view64)) return kErrorSuccess;
    // A key that is not there needs no saving, nor its name spelled.
    platform::RegKey raw = 0;
    uint32_t rc = platform::OpenKeyWithoutFollowing(
        os_.reg, root, TrimSlashes(keyPath), platform::kKeyRead | (view64 ? platform::kKeyWow64_64Key : 0u),
        raw);
    if ((rc == kErrorFileNotFound || rc == platform::kErrorKeyIsLink) && RootName(root) != nullptr) return rc;
    platform::UniqueRegKey key(&os_.reg, rc == kErrorSuccess ? raw : 0);
    const std::string name = FileName(root, keyPath, view64);
    if (name.empty()) {
        EngineLog(2, "%s: Registry key '%s' cannot be saved, its root has no name in the file, error '%d'",
                  kTag, TrimSlashes(keyPath).c_str(), static_cast<int>(platform::kErrorInvalidParameter));
        return platform::kErrorInvalidParameter;
    }
    std::vector<SavedKey> keys;
    if (rc == kErrorSuccess) rc = TreeReader(os_.reg, view64).ReadOpen(key.get(), Widen(name), true, 0, keys);
    return SaveRead(rc, keys, name, mayRetry);
}

uint32_t RegistryBackup::SaveOpenKey(platform::RegKey key, platform::RegKey root, const std::string& keyPath,
                                     bool view64, bool mayRetry) {
    if (broken_) return platform::kErrorCanNotComplete;
    if (TakeAhead(root, keyPath, nullptr, view64)) return kErrorSuccess;
    const std::string name = FileName(root, keyPath, view64);
    if (name.empty()) return platform::kErrorInvalidParameter;
    std::vector<SavedKey> keys;
    uint32_t rc = TreeReader(os_.reg, view64).ReadOpen(key, Widen(name), true, 0, keys);
    return SaveRead(rc, keys, name, mayRetry);
}

// Writes what a key's reading gave, `rc` its result.
uint32_t RegistryBackup::SaveRead(uint32_t rc, const std::vector<SavedKey>& keys, const std::string& name,
                                  bool mayRetry) {
    if ((rc == kErrorFileNotFound || rc == platform::kErrorKeyIsLink) && keys.empty()) return rc;
    if (rc == kErrorAccessDenied && mayRetry) {
        // A key below refused: the deletion, which goes in the order of the reading, takes
        // the keys read before it ahead of the retry, so they are written now.
        if (!keys.empty()) (void)Write(keys, name);
        return rc;
    }
    uint32_t written = keys.empty() ? kErrorSuccess : Write(keys, name);
    if (rc != kErrorSuccess) Report(rc, name);
    return rc != kErrorSuccess ? rc : written;
}

uint32_t RegistryBackup::SaveValue(platform::RegKey root, const std::string& keyPath,
                                   const std::string& valueName, bool view64, bool mayRetry) {
    if (broken_) return platform::kErrorCanNotComplete;
    if (TakeAhead(root, keyPath, valueName.c_str(), view64)) return kErrorSuccess;
    const std::string path = TrimSlashes(keyPath);
    if (RealKeyName(root, path, false).empty()) {
        EngineLog(2, "%s: Registry value '%s' cannot be saved, its root has no name in the file, error '%d'",
                  kTag, valueName.c_str(), static_cast<int>(platform::kErrorInvalidParameter));
        return platform::kErrorInvalidParameter;
    }
    platform::RegKey raw = 0;
    uint32_t rc = platform::OpenKeyWithoutFollowing(
        os_.reg, root, path, platform::kKeyRead | (view64 ? platform::kKeyWow64_64Key : 0u), raw);
    if (rc == kErrorFileNotFound || rc == platform::kErrorKeyIsLink) return rc;
    if (rc == kErrorAccessDenied && mayRetry) return rc;
    if (rc != kErrorSuccess) {
        Report(rc, FileName(root, path, view64) + "\\" + valueName);
        return rc;
    }
    platform::UniqueRegKey key(&os_.reg, raw);
    return SaveOpenValue(key.get(), root, path, valueName, view64, mayRetry);
}

uint32_t RegistryBackup::SaveOpenValue(platform::RegKey key, platform::RegKey root,
                                       const std::string& keyPath, const std::string& valueName, bool view64,
                                       bool mayRetry) {
    if (broken_) return platform::kErrorCanNotComplete;
    if (TakeAhead(root, keyPath, valueName.c_str(), view64)) return kErrorSuccess;
    std::vector<SavedValue> all;
    // Read through the enumeration, as the key's own listing spells the value. A value that
    // is not there needs no saving, nor its key's name spelled.
    uint32_t rc = TreeReader::ReadValues(os_.reg, key, all);
    SavedValue* found = nullptr;
    for (SavedValue& v : all)
        if (found == nullptr && SameWideName(v.name, valueName)) found = &v;
    if (rc == kErrorSuccess && found == nullptr) return kErrorFileNotFound;
    if (rc == kErrorAccessDenied && mayRetry) return rc;
    const std::string name = FileName(root, keyPath, view64);
    if (name.empty()) return platform::kErrorInvalidParameter;
    const std::string object = name + "\\" + valueName;
    if (rc != kErrorSuccess) {
        Report(rc, object);
        return rc;
    }
    std::vector<SavedKey> keys{SavedKey{Widen(name), {}}};
    keys[0].values.push_back(std::move(*found));
    return Write(keys, object);
}

void RegistryBackup::ReportUnsaved(uint32_t error, platform::RegKey root, const std::string& keyPath,
                                   const char* valueName, bool view64) {
    std::string name = RealKeyName(root, TrimSlashes(keyPath), !view64 && Redirected());
    if (valueName != nullptr) name += std::string("\\") + valueName;
    Report(error, name);
}

void RegistryBackup::Report(uint32_t error, const std::string& object) {
    if (ahead_) return;
    EngineLog(2, "%s: '%s' could not be saved and is not in the backup, error '%d'", kTag, object.c_str(),
              static_cast<int>(error));
}

uint32_t RegistryBackup::Write(const std::vector<SavedKey>& keys, const std::string& object) {
    std::vector<std::string> left;
    std::u16string text = FormatSections(keys, &left);
    // What the file cannot hold is left to the deletion's own save, which reports it.
    if (ahead_ && !left.empty()) return platform::kErrorInvalidData;
    for (const std::string& name : left) Report(platform::kErrorInvalidData, name);
    uint32_t rc = EnsureFile();
    if (rc == kErrorSuccess) rc = Append(text);
    if (rc != kErrorSuccess) Broke(rc, object);
    return rc;
}

void RegistryBackup::Broke(uint32_t error, const std::string& object) {
    if (broken_) return;
    broken_ = true;
    file_.reset();
    EngineLog(2,
              "%s: '%s' could not be written to the backup '%s', error '%d'; no registry entry is "
              "deleted for the "
              "rest of the run",
              kTag, object.c_str(), path_.c_str(), static_cast<int>(error));
}

std::string RegistryBackup::AheadName(platform::RegKey root, const std::string& keyPath,
                                      const char* valueName, bool view64) {
    // Names are compared as the registry does, letter case ignored; a value's name may hold a
    // backslash, so it follows the key's path after a separator no path holds.
    std::string name = std::to_string(root) + (view64 ? "|64|" : "|def|") + TrimSlashes(keyPath);
    platform::AnsiUpperInPlace(&name[0]);
    if (valueName == nullptr) return name;
    std::string value = valueName;
    if (!value.empty()) platform::AnsiUpperInPlace(&value[0]);
    return name + '\0' + value;
}

bool RegistryBackup::TakeAhead(platform::RegKey root, const std::string& keyPath, const char* valueName,
                               bool view64) {
    if (savedAhead_.empty()) return false;
    return savedAhead_.erase(AheadName(root, keyPath, valueName, view64)) != 0;
}

uint32_t RegistryBackup::SaveAhead(platform::RegKey key, platform::RegKey root, const std::string& keyPath,
                                   const char* valueName, bool view64) {
    if (broken_) return platform::kErrorCanNotComplete;
    if (valueName == nullptr) {
        char first[256];
        uint32_t length = sizeof first;
        const uint32_t rc = os_.reg.EnumKeyEx(key, 0, first, &length);
        if (rc != platform::kErrorNoMoreItems) return rc == kErrorSuccess ? platform::kErrorDirNotEmpty : rc;
    }
    ahead_ = true;
    const uint32_t rc = valueName != nullptr ? SaveOpenValue(key, root, keyPath, valueName, view64, true)
                                             : SaveOpenKey(key, root, keyPath, view64, true);
    ahead_ = false;
    if (rc == kErrorSuccess) savedAhead_.insert(AheadName(root, keyPath, valueName, view64));
    return rc;
}

uint32_t RegistryBackup::Flush() {
    if (!unflushed_ || !file_) return broken_ ? platform::kErrorCanNotComplete : kErrorSuccess;
    unflushed_ = false;
    if (os_.fs.FlushFileBuffers(file_.get())) return kErrorSuccess;
    uint32_t error = os_.sys.GetLastError();
    if (error == kErrorSuccess) error = platform::kErrorCanNotComplete;
    Broke(error, path_);
    return error;
}

uint32_t RegistryBackup::EnsureFile() {
    if (file_) return kErrorSuccess;
    if (broken_) return platform::kErrorCanNotComplete;
    guard::ToolFolder folder(os_);
    uint32_t rc = folder.Open(kBackupFolderName);
    if (rc == kErrorSuccess) rc = CreateFile(folder);
    if (rc != kErrorSuccess) {
        broken_ = true;
        std::string where =
            folder.path().empty() ? guard::ToolFolderPath(os_) + "\\" + kBackupFolderName : folder.path();
        EngineLog(
            2,
            "%s: The backup of registry entries cannot be made in '%s', error '%d'; no registry entry is "
            "deleted without one",
            kTag, where.c_str(), static_cast<int>(rc));
        return rc;
    }
    std::u16string head = u"\xFEFF";
    head += Widen(kBackupFileHeader) + u"\r\n\r\n";
    rc = Append(head);
    if (rc == kErrorSuccess)
        EngineLog(4, "%s: Registry entries are saved to '%s' before they are deleted", kSaveTag,
                  path_.c_str());
    return rc;
}

uint32_t RegistryBackup::CreateFile(guard::ToolFolder& folder) {
    platform::SystemTime t = os_.sys.GetLocalTime();
    char stem[64];
    std::snprintf(stem, sizeof stem, "sweeptool-%04u%02u%02u-%02u%02u%02u", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    for (int n = 1; n <= kMaxNameTries; ++n) {
        std::string name = stem;
        if (n > 1) name += "-" + std::to_string(n);
        name += ".reg";
        // A new file only: the backup of an earlier run is never written over.
        platform::UniqueFile file;
        uint32_t rc = folder.CreateFile(name, true, file);
        if (rc == platform::kErrorFileExists || rc == platform::kErrorAlreadyExists) continue;
        if (rc != kErrorSuccess) return rc;
        file_ = std::move(file);
        path_ = folder.path() + "\\" + name;
        return kErrorSuccess;
    }
    return platform::kErrorFileExists;
}

uint32_t RegistryBackup::Append(const std::u16string& text) {
    if (!file_) return platform::kErrorInvalidHandle;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t written = 0;
        uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!os_.fs.WriteFile(file_.get(), bytes.data() + done, chunk, written) || written == 0) {
            uint32_t error = os_.sys.GetLastError();
            return error != kErrorSuccess ? error : platform::kErrorCanNotComplete;
        }
        done += written;
    }
    // The saved entries reach the disk before the deletion they are kept for: a power cut
    // after it must not find the key gone and its lines still in a cache. Saved ahead, a
    // batch shares one flush, made before the first of its deletions.
    if (ahead_) {
        unflushed_ = true;
        return kErrorSuccess;
    }
    if (!os_.fs.FlushFileBuffers(file_.get())) {
        uint32_t error = os_.sys.GetLastError();
        return error != kErrorSuccess ? error : platform::kErrorCanNotComplete;
    }
    return kErrorSuccess;
}

}  // namespace actions
