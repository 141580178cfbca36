// Text in the process's ANSI code page. The simulated machine uses Windows-1252; the
// win32 build uses the C runtime's multibyte functions for the active code page.
#pragma once

#include <string>

namespace platform {

// As _mbsicmp: <0, 0, >0. Single-byte letters fold to lower case, bytes compare unsigned,
// a double-byte character compares as one unit.
int AnsiCompareNoCase(const char* a, const char* b);
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
// As WideCharToMultiByte(CP_ACP), unmappable characters as '?'.
std::string Utf16ToAnsi(const std::u16string& text);

}  // namespace platform
