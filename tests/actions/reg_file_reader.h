// A small reader of the registry editor's file format (version 5: UTF-16LE, "[key]"
// sections, quoted strings, dword and hex lines with "\" continuations), for putting a
// backup back into a simulated registry the way "reg import file /reg:64" does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/sim/sim_registry.h"

namespace reg_file_testing {

struct FileValue {
    std::string name;  // "" is the default value
    uint32_t type = 0;
    std::vector<uint8_t> data;  // string types as UTF-16LE bytes, as the file holds them
};

struct FileKey {
    std::string name;  // "HKEY_LOCAL_MACHINE\SOFTWARE\X"
    std::vector<FileValue> values;
};

struct RegFile {
    bool hasMark = false;  // FF FE first
    bool crlfOnly = true;  // every line ends in CR LF
    std::string header;    // the first line
    std::vector<FileKey> keys;
    std::vector<std::string> errors;  // lines the reader did not understand
};

inline std::u16string DecodeUtf16(const std::string& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

inline std::string Narrow(const std::u16string& text) { return platform::Utf16ToAnsi(text); }

inline std::vector<uint8_t> Utf16Bytes(const std::u16string& text, bool terminator) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminator) out.insert(out.end(), {0, 0});
    return out;
}

// Reads a quoted text starting at `at` (the opening quote); `at` ends after the closing one.
inline bool ReadQuoted(const std::u16string& line, size_t& at, std::u16string& out) {
    if (at >= line.size() || line[at] != u'"') return false;
    for (++at; at < line.size(); ++at) {
        if (line[at] == u'\\' && at + 1 < line.size()) {
            out.push_back(line[++at]);
        } else if (line[at] == u'"') {
            ++at;
            return true;
        } else {
            out.push_back(line[at]);
        }
    }
    return false;
}

inline bool ReadHex(const std::u16string& text, std::vector<uint8_t>& out) {
    auto digit = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    };
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == u' ' || text[at] == u',')) ++at;
        if (at == text.size()) break;
        if (at + 1 >= text.size() || digit(text[at]) < 0 || digit(text[at + 1]) < 0) return false;
        out.push_back(static_cast<uint8_t>(digit(text[at]) << 4 | digit(text[at + 1])));
        at += 2;
    }
    return true;
}

inline bool ReadData(const std::u16string& text, FileValue& v) {
    if (!text.empty() && text[0] == u'"') {
        size_t at = 0;
        std::u16string s;
        if (!ReadQuoted(text, at, s) || at != text.size()) return false;
        v.type = platform::kRegSz;
        v.data = Utf16Bytes(s, true);
        return true;
    }
    if (text.rfind(u"dword:", 0) == 0 && text.size() == 14) {
        std::vector<uint8_t> be;
        if (!ReadHex(text.substr(6), be) || be.size() != 4) return false;
        v.type = platform::kRegDword;
        v.data = {be[3], be[2], be[1], be[0]};
        return true;
    }
    size_t colon = text.find(u':');
    if (colon == std::u16string::npos) return false;
    std::u16string kind = text.substr(0, colon);
    if (kind == u"hex") {
        v.type = platform::kRegBinary;
    } else if (kind.size() > 5 && kind.rfind(u"hex(", 0) == 0 && kind.back() == u')') {
        v.type = static_cast<uint32_t>(std::stoul(Narrow(kind.substr(4, kind.size() - 5)), nullptr, 16));
    } else {
        return false;
    }
    return ReadHex(text.substr(colon + 1), v.data);
}

inline RegFile ParseRegFile(const std::string& bytes) {
    RegFile file;
    file.hasMark = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                   static_cast<unsigned char>(bytes[1]) == 0xFE;
    std::u16string text = DecodeUtf16(bytes.substr(file.hasMark ? 2 : 0));
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos) end = text.size();
        std::u16string line = text.substr(start, end - start);
        if (line.empty() || line.back() != u'\r')
            file.crlfOnly = false;
        else
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    if (!lines.empty()) file.header = Narrow(lines[0]);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::u16string line = lines[i];
        if (line.empty()) continue;
        if (line[0] == u'[') {
            if (line.back() != u']') file.errors.push_back(Narrow(line));
            file.keys.push_back(FileKey{Narrow(line.substr(1, line.size() - 2)), {}});
            continue;
        }
        // A hex line goes on after a trailing backslash, the next line indented.
        while (line.back() == u'\\' && i + 1 < lines.size()) {
            line.pop_back();
            std::u16string next = lines[++i];
            size_t lead = next.find_first_not_of(u' ');
            line += lead == std::u16string::npos ? std::u16string() : next.substr(lead);
        }
        FileValue v;
        size_t at = 0;
        std::u16string name;
        if (line[0] == u'@') {
            at = 1;
        } else if (!ReadQuoted(line, at, name)) {
            file.errors.push_back(Narrow(line));
            continue;
        }
        v.name = Narrow(name);
        if (file.keys.empty() || at >= line.size() || line[at] != u'=' || !ReadData(line.substr(at + 1), v)) {
            file.errors.push_back(Narrow(line));
            continue;
        }
        file.keys.back().values.push_back(v);
    }
    return file;
}

// Writes every key and value of the file into `reg` in the 64-bit view, string data
// converted to the ANSI form the simulated registry keeps.
inline void Import(const RegFile& file, platform::sim::SimRegistry& reg) {
    for (const FileKey& key : file.keys) {
        reg.CreatePath(key.name, platform::sim::View::K64);
        for (const FileValue& v : key.values) {
            std::vector<uint8_t> data = v.data;
            if (v.type == platform::kRegSz || v.type == platform::kRegExpandSz ||
                v.type == platform::kRegMultiSz) {
                std::string ansi = Narrow(DecodeUtf16(std::string(v.data.begin(), v.data.end())));
                data.assign(ansi.begin(), ansi.end());
            }
            reg.Set(key.name, v.name, v.type, data, platform::sim::View::K64);
        }
    }
}

}  // namespace reg_file_testing
