// The configuration file beside the executable and the reader that turns one section key
// of it into entries of one list.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/cnuke.h"
#include "engine/config_text.h"
#include "expand/path_helpers.h"
#include "logging/engine_log.h"
#include "logging/log.h"
#include "platform/ansi.h"
#include "platform/common.h"
#include "platform/unicode_text.h"

namespace engine {

namespace {

constexpr uint32_t kFormatNumber = 1;
constexpr uint32_t kErrorNoUnicodeTranslation = 1113;
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

bool IsAscii(const std::string& bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The UTF-16 text in the process's code page, line by line, noting the lines it cannot spell:
// their narrow form would name other objects (best fit) or none.
void ToProcessCodePage(const std::u16string& wide, ConfigText& out) {
    uint32_t number = 1;
    for (size_t pos = 0; pos <= wide.size(); ++number) {
        size_t nl = wide.find(u'\n', pos);
        if (nl == std::u16string::npos) nl = wide.size();
        std::u16string line = wide.substr(pos, nl - pos);
        std::string narrow = platform::Utf16ToAnsi(line);
        if (platform::AnsiToUtf16(narrow) != line) {
            while (!line.empty() && line.back() == u'\r') line.pop_back();
            out.unspellable[number] = line;
        }
        out.text += narrow;
        if (nl < wide.size()) out.text += '\n';
        pos = nl + 1;
    }
}

struct ConfigFormat {
    uint32_t number;
    const char* typeNames[9];
    const char* kindNames[3];
};

// Only one format exists; the reader always asks for number 1.
constexpr ConfigFormat kConfigFormats[] = {
    {1,
     {"REG_VALUE", "REG_KEY", "REG_VALUE_EXPAND", "REG_KEY_EXPAND", "FILE_NAME", "FILE_NAME_EXPAND",
      "SERVICE_NAME", "PROCESS_NAME", "GUID"},
     {"BY_REFERENCE", "BY_VALUE", "BY_DATA_MATCH"}},
};

const ConfigFormat* FindFormat(uint32_t number) {
    for (const ConfigFormat& f : kConfigFormats)
        if (f.number == number) return &f;
    return nullptr;
}

using Handler = uint32_t (CNuke::*)(TSet&, char*);

struct Dispatch {
    uint32_t type;
    uint32_t kind;
    Handler handler;  // null: the data itself is the entry
};

constexpr Dispatch kDispatch[] = {
    {kTypeRegValue, kKindByReference, &CNuke::ListRegValueData},
    {kTypeRegValue, kKindByValue, &CNuke::ExpandRegValue},
    {kTypeRegValue, kKindByDataMatch, &CNuke::MatchRegValueData},
    {kTypeRegKey, kKindByValue, &CNuke::ExpandRegKey},
    {kTypeRegKey, kKindByDataMatch, &CNuke::MatchRegKeyValueData},
    {kTypeFileName, kKindByValue, &CNuke::ExpandFileName},
    {kTypeFileName, kKindByDataMatch, &CNuke::MatchFileDirectory},
    {kTypeFileNameExpand, kKindByValue, &CNuke::ExpandFileMacro},
    {kTypeFileNameExpand, kKindByDataMatch, &CNuke::MatchFileMacroDirectory},
    {kTypeServiceName, kKindByValue, &CNuke::ExpandServiceName},
    {kTypeProcessName, kKindByValue, &CNuke::ExpandProcessName},
    {kTypeGuid, kKindByValue, nullptr},
};

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Section, key, type and kind names are ASCII, so folding ASCII letters compares them
// exactly as the ANSI comparison would.
bool StartsWithNoCase(const char* text, const char* prefix, size_t prefixLen) {
    for (size_t i = 0; i < prefixLen; ++i)
        if (text[i] == '\0' || FoldAscii(text[i]) != FoldAscii(prefix[i])) return false;
    return true;
}

// Index of the first name that begins `text` and is followed by ",", or -1.
int MatchName(const char* text, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        size_t len = std::strlen(names[i]);
        if (StartsWithNoCase(text, names[i], len) && text[len] == ',') return static_cast<int>(i);
    }
    return -1;
}

// Where PathFindExtensionA puts the extension: the last "." of the file name, or the end
// of the path when the file name has none. A blank or a "\" after a dot ends that candidate.
size_t ExtensionPosition(const std::string& path) {
    size_t dot = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == ' ')
            dot = std::string::npos;
        else if (path[i] == '.')
            dot = i;
    }
    return dot == std::string::npos ? path.size() : dot;
}

// The configuration text as a text-mode stream yields it: reading ends at a Ctrl-Z, and
// every line is handed out without its line end. A line longer than the limit is handed
// out cut to the limit, flagged, so the caller can refuse it instead of reading its tail
// as a line of its own.
class LineReader {
  public:
    explicit LineReader(const std::string& bytes) : bytes_(bytes) {
        size_t eof = bytes_.find('\x1a');
        end_ = eof == std::string::npos ? bytes_.size() : eof;
    }

    bool AtEnd() const { return pos_ >= end_; }
    // The number of the line Next handed out last, counted from 1.
    uint32_t Number() const { return number_; }

    // The next line, as a C string (text after an embedded zero byte is not seen, as with
    // a line buffer), and whether it was longer than kMaxConfigLine.
    void Next(std::string& line, bool& tooLong) {
        size_t nl = bytes_.find('\n', pos_);
        if (nl == std::string::npos || nl > end_) nl = end_;
        size_t len = nl - pos_;
        while (len > 0 && bytes_[pos_ + len - 1] == '\r') --len;
        tooLong = len > kMaxConfigLine;
        line.assign(bytes_, pos_, tooLong ? kMaxConfigLine : len);
        line.resize(std::strlen(line.c_str()));
        pos_ = nl + 1;
        ++number_;
    }

  private:
    const std::string& bytes_;
    size_t end_ = 0;
    size_t pos_ = 0;
    uint32_t number_ = 0;
};

}  // namespace

uint32_t DecodeConfigText(const std::string& bytes, ConfigText& out) {
    out = ConfigText();
    const bool marked = bytes.compare(0, 3, kUtf8Mark) == 0;
    const std::string body = marked ? bytes.substr(3) : bytes;
    if (!marked && IsAscii(body)) {
        out.text = body;
        return 0;
    }
    if (platform::IsValidUtf8(body.data(), body.size())) {
        out.encoding = marked ? ConfigEncoding::kUtf8WithMark : ConfigEncoding::kUtf8;
        if (platform::AnsiCodePage() == platform::kCodePageUtf8)
            out.text = body;
        else
            ToProcessCodePage(platform::Utf8ToUtf16(body.data(), body.size()), out);
        return 0;
    }
    out.encoding = ConfigEncoding::kLegacy;
    out.codePage = platform::LegacyAnsiCodePage();
    if (out.codePage == platform::AnsiCodePage()) {
        out.text = bytes;  // as every earlier version read it, byte for byte
        return 0;
    }
    std::u16string wide;
    if (!platform::CodePageToUtf16(out.codePage, bytes.data(), bytes.size(), wide))
        return kErrorNoUnicodeTranslation;
    ToProcessCodePage(wide, out);
    return 0;
}

std::string DescribeEncoding(const ConfigText& text) {
    switch (text.encoding) {
        case ConfigEncoding::kAscii:
            return "ASCII";
        case ConfigEncoding::kUtf8:
            return "UTF-8";
        case ConfigEncoding::kUtf8WithMark:
            return "UTF-8 with a byte order mark";
        case ConfigEncoding::kLegacy:
            break;
    }
    return "ANSI code page " + std::to_string(text.codePage);
}

uint32_t CNuke::InitConfigFile() {
    std::string path;
    if (uint32_t code = os_.sys.GetModuleFileName(path)) return code;
    if (path.empty()) return platform::kErrorInvalidParameter;
    path.resize(ExtensionPosition(path));
    path += ".cfg";
    // Every file call takes MAX_PATH-sized names; a longer one would be cut to another name.
    if (path.size() >= platform::kMaxPath) {
        EngineLog(2, "%s: configuration path is longer than %d characters: '%.259s'", "CNuke::InitConfigFile",
                  static_cast<int>(platform::kMaxPath - 1), path.c_str());
        return platform::kErrorFilenameExcedRange;
    }
    configPath = path;
    if (os_.fs.Access(configPath, platform::kAccessRead) != 0) return platform::kErrorFileNotFound;
    return 0;
}

uint32_t CNuke::ReadConfigSection(TSet& list, const char* section, const char* key) {
    if (section == nullptr || key == nullptr) return platform::kErrorInvalidParameter;
    const std::string header = "[" + std::string(section) + " " + std::to_string(kFormatNumber) + "]";
    const std::string prefix = std::string(key) + "=";

    std::string bytes;
    if (uint32_t code = os_.fs.ReadWholeFile(configPath, bytes)) return code;
    configBytes = bytes;
    ConfigText decoded;
    if (uint32_t code = DecodeConfigText(bytes, decoded)) {
        EngineLog(2, "%s: the configuration is neither UTF-8 nor text of the ANSI code page %u, error %04u",
                  "CNuke::ReadConfigSection", decoded.codePage, code);
        return code;
    }
    LineReader reader(decoded.text);
    std::string line;
    bool tooLong = false;

    for (;;) {
        if (reader.AtEnd()) return platform::kErrorBadConfiguration;
        reader.Next(line, tooLong);
        if (tooLong) break;
        if (StartsWithNoCase(line.c_str(), header.c_str(), header.size())) break;
    }

    uint32_t result = 0;
    if (tooLong) {
        result = platform::kErrorBadConfiguration;
    } else {
        while (!reader.AtEnd()) {
            reader.Next(line, tooLong);
            if (tooLong) {
                result = platform::kErrorBadConfiguration;
                break;
            }
            if (line[0] == '[') break;
            if (!StartsWithNoCase(line.c_str(), prefix.c_str(), prefix.size())) continue;
            auto lost = decoded.unspellable.find(reader.Number());
            if (lost != decoded.unspellable.end()) {
                // Its narrow text would name other objects, or none: nothing of the run may rest on it.
                KvQmrLogging::LogWriteW(
                    2,
                    u"%S: line %u of the configuration names what the ANSI code page %u cannot spell: '%s'",
                    "CNuke::ReadConfigSection", reader.Number(), platform::AnsiCodePage(),
                    lost->second.c_str());
                result = platform::kErrorBadConfiguration;
                break;
            }
            result = ParseConfigEntry(list, line.c_str() + prefix.size());
            if (result != 0) break;
        }
    }
    if (tooLong) {
        EngineLog(2, "%s: line longer than %d characters in section '%s': '%s'", "CNuke::ReadConfigSection",
                  static_cast<int>(kMaxConfigLine), header.c_str(), line.c_str());
    }
    if (result != 0) SetErrorText(line.c_str());
    return result;
}

uint32_t CNuke::ParseConfigEntry(TSet& list, const char* text) {
    const ConfigFormat* format = FindFormat(kFormatNumber);
    if (format == nullptr || text == nullptr) return platform::kErrorBadConfiguration;
    int type = MatchName(text, format->typeNames, 9);
    if (type < 0) {
        EngineLog(3, "%s: unknown type name in '%s'", "CNuke::ParseConfigEntry", text);
        return platform::kErrorBadConfiguration;
    }
    text += std::strlen(format->typeNames[type]) + 1;
    int kind = MatchName(text, format->kindNames, 3);
    if (kind < 0) {
        EngineLog(3, "%s: unknown kind name in '%s'", "CNuke::ParseConfigEntry", text);
        return platform::kErrorBadConfiguration;
    }
    text += std::strlen(format->kindNames[kind]) + 1;
    return AddConfigEntry(list, static_cast<uint32_t>(type), static_cast<uint32_t>(kind), text);
}

uint32_t CNuke::AddConfigEntry(TSet& list, uint32_t typeIndex, uint32_t kindIndex, const char* data) {
    if (data == nullptr) return platform::kErrorInvalidParameter;
    const Dispatch* entry = nullptr;
    for (const Dispatch& d : kDispatch)
        if (d.type == typeIndex && d.kind == kindIndex) entry = &d;
    if (entry == nullptr) {
        EngineLog(3, "%s: no handler for type %u and kind %u", "CNuke::AddConfigEntry", typeIndex, kindIndex);
        return platform::kErrorBadConfiguration;
    }

    size_t len = std::strlen(data);
    auto* copy = static_cast<char*>(std::malloc(len + 1));
    if (copy == nullptr) return platform::kErrorNotEnoughMemory;
    std::memcpy(copy, data, len + 1);
    expand::NormalizePath(copy);

    uint32_t result = entry->handler != nullptr ? (this->*(entry->handler))(list, copy) : list.Insert(copy);
    std::free(copy);
    return result;
}

void CNuke::SetErrorText(const char* text) {
    // One record, one log line: the failing line is quoted without its line end.
    std::string t = text != nullptr ? text : "";
    size_t end = t.find_first_of("\r\n");
    if (end != std::string::npos) t.resize(end);
    errorText = t;
}

}  // namespace engine
