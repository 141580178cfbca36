// Text in the active ANSI code page, through the C runtime's multibyte functions.
#include <mbstring.h>
#include <windows.h>

#include "platform/ansi.h"

namespace platform {

int AnsiCompareNoCase(const char* a, const char* b) {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}

void AnsiUpperInPlace(char* text) { _mbsupr(reinterpret_cast<unsigned char*>(text)); }

bool AnsiToUtf16(const char* text, size_t length, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), reinterpret_cast<wchar_t*>(&out[0]), n) ==
           n;
}

std::string Utf16ToAnsi(const std::u16string& text) {
    if (text.empty()) return {};
    const auto* w = reinterpret_cast<const wchar_t*>(text.c_str());
    int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace platform
