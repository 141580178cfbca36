// The configuration file's bytes as the engine reads them: text in the process's ANSI code
// page. A file that is valid UTF-8 (with or without a byte order mark) is UTF-8; any other is
// in the machine's legacy ANSI code page, as every configuration written before was.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace engine {

enum class ConfigEncoding { kAscii, kUtf8, kUtf8WithMark, kLegacy };

struct ConfigText {
    std::string text;  // in the process's ANSI code page, the byte order mark left out
    ConfigEncoding encoding = ConfigEncoding::kAscii;
    uint32_t codePage = 0;  // the legacy code page read, for kLegacy
    // The lines (counted from 1) whose text the process's code page cannot spell, as written:
    // a UTF-8 file naming Greek or CJK objects on a Windows without UTF-8 process code pages.
    std::map<uint32_t, std::u16string> unspellable;
};

// 0, or 1113 (ERROR_NO_UNICODE_TRANSLATION) when the file is neither UTF-8 nor text of the
// legacy code page.
uint32_t DecodeConfigText(const std::string& bytes, ConfigText& out);

// "UTF-8", "ANSI code page 1252", ...: what --check and the report say the file was read as.
std::string DescribeEncoding(const ConfigText& text);

}  // namespace engine
