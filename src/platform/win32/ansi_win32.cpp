// Text in the active ANSI code page. Where that is UTF-8, letters fold as the invariant
// locale folds them, one UTF-16 unit at a time, as names compare on Windows' file systems
// and in the registry; elsewhere the C runtime's multibyte functions serve, as they always did.
#include <mbstring.h>
#include <windows.h>

#include "platform/ansi.h"
#include "platform/unicode_text.h"

namespace platform {

namespace {

bool Utf8Mode() {
    static const bool utf8 = GetACP() == CP_UTF8;
    return utf8;
}

uint32_t InvariantUpper(uint32_t codePoint) {
    if (codePoint >= 0x10000) return codePoint;
    wchar_t in = static_cast<wchar_t>(codePoint), out = 0;
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1) return codePoint;
    return out;
}

}  // namespace

uint32_t AnsiCodePage() { return GetACP(); }

uint32_t LegacyAnsiCodePage() {
    if (!Utf8Mode()) return GetACP();
    // The system locale's own code page, which the manifest's request for UTF-8 hides from GetACP.
    UINT codePage = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof(codePage) / sizeof(WCHAR)) == 0 ||
        codePage == 0)
        return 1252;
    return codePage;
}

bool CodePageToUtf16(uint32_t codePage, const char* text, size_t length, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, static_cast<int>(length),
                               reinterpret_cast<wchar_t*>(&out[0]), n) == n;
}

int AnsiCompareNoCase(const char* a, const char* b) {
    if (Utf8Mode()) return Utf8CompareNoCase(a, b, InvariantUpper);
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b));
}

size_t AnsiCharLength(const char* text) {
    // A legacy code page keeps the byte the matcher has always stepped over.
    if (*text == '\0' || !Utf8Mode()) return 1;
    size_t pos = 0;
    return DecodeUtf8(text, SIZE_MAX, pos) == kInvalidUtf8 ? 1 : pos;
}

void AnsiUpperInPlace(char* text) {
    if (Utf8Mode()) return Utf8UpperInPlace(text, InvariantUpper);
    _mbsupr(reinterpret_cast<unsigned char*>(text));
}

bool AnsiToUtf16(const char* text, size_t length, std::u16string& out) {
    out.clear();
    if (length == 0) return true;
    int n = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), reinterpret_cast<wchar_t*>(&out[0]),
                               n) == n;
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
