// Small pieces the configuration entry handlers share.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "logging/engine_log.h"
#include "logging/log.h"
#include "platform/ansi.h"

namespace expand::detail {

// How much of an overlong text a log record quotes.
constexpr int kQuotedStart = 64;

// A text that would not fit its buffer is not listed; the record quotes its start so the
// entry can be found in the configuration file.
inline void LogTooLong(const char* tag, const char* what, const char* text) {
    if (text == nullptr) text = "";
    // The quote ends on a whole character, so that the record converts as written.
    int quoted = 0;
    while (text[quoted] != '\0') {
        int next = quoted + static_cast<int>(platform::AnsiCharLength(text + quoted));
        if (next > kQuotedStart) break;
        quoted = next;
    }
    engine::EngineLog(3, "%s: %s too long, not listed: '%.*s...'", tag, what, quoted, text);
}

// An object this Windows lists under a name its ANSI code page cannot spell (a Windows without
// UTF-8 process code pages): the narrow spelling is a best-fit alias of another name or no name
// at all, so the object is left alone, and the caller counts it failed. The record gives the
// name as Windows keeps it. `what` is "File", "Registry key", ...
inline void LogUnspellable(const char* tag, const char* what, const std::u16string& name) {
    KvQmrLogging::LogWriteW(2, u"%S: %S '%s' has a name the ANSI code page %u cannot spell: not removed", tag,
                            what, name.c_str(), platform::AnsiCodePage());
}

// PathFindFileNameA: the text after the last "\", "/" or ":" that is not the last character.
inline const char* FileNamePart(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if ((*p == '\\' || *p == '/' || *p == ':') && p[1] != '\0' && p[1] != '\\' && p[1] != '/')
            name = p + 1;
    }
    return name;
}

// Replaces every occurrence of `what` in `text` by `with`; the number of replacements.
inline int ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) return 0;
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
        ++count;
    }
    return count;
}

}  // namespace expand::detail
