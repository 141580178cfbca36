// Text in the process's ANSI code page. The program asks Windows for UTF-8 as that code
// page, so that every name Windows allows passes through the narrow calls; Windows before
// 10 1903 ignores the request and keeps the system locale's code page, whose names may be
// lossy. The simulated machine plays either: Windows-1252 (with Windows' best-fit mapping)
// or UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t kCodePageUtf8 = 65001;
// GetACP: the process's ANSI code page.
uint32_t AnsiCodePage();
// The ANSI code page of the system locale, which text files written on this machine by
// programs of the old kind are in; the process's own when that is not UTF-8.
uint32_t LegacyAnsiCodePage();
// As MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS) for a code page the machine knows;
// false when the text cannot be converted.
bool CodePageToUtf16(uint32_t codePage, const char* text, size_t length, std::u16string& out);

// As _mbsicmp: <0, 0, >0. Single-byte letters fold to lower case, bytes compare unsigned,
// a double-byte character compares as one unit. In UTF-8 every letter with a one-to-one
// upper case folds (see Utf8CompareNoCase).
int AnsiCompareNoCase(const char* a, const char* b);
// What a "?" of a pattern steps over at `text`: in UTF-8 one character (the length of a
// well-formed sequence), else one byte, as the matcher always did.
size_t AnsiCharLength(const char* text);
// As _mbsupr, in place.
void AnsiUpperInPlace(char* text);
// As MultiByteToWideChar(CP_ACP); false when the text cannot be converted.
bool AnsiToUtf16(const char* text, size_t length, std::u16string& out);
// The same, for names known to convert (they were read from the system or built of ASCII):
// empty when one does not.
inline std::u16string AnsiToUtf16(const std::string& text) {
    std::u16string out;
    if (!AnsiToUtf16(text.data(), text.size(), out)) out.clear();
    return out;
}
// As WideCharToMultiByte(CP_ACP): in a legacy code page a character it lacks becomes its
// best-fit look-alike or '?', so the result may name another object.
std::string Utf16ToAnsi(const std::u16string& text);
// Whether the name comes back from the ANSI code page as itself: one that does not must not
// be acted on by its narrow spelling, which is an alias or no name at all.
inline bool SurvivesAnsi(const std::u16string& text) { return AnsiToUtf16(Utf16ToAnsi(text)) == text; }

}  // namespace platform
