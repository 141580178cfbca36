// The simulated machine's ANSI code page: Windows-1252, as a Western Windows without UTF-8
// process code pages has it, or UTF-8, as the program asks Windows 10 1903 and later.
#include "platform/sim/sim_ansi.h"

#include <atomic>
#include <cstdint>

#include "platform/ansi.h"
#include "platform/unicode_text.h"

namespace platform {

namespace {

std::atomic<uint32_t> g_codePage{1252};

bool Utf8Mode() { return g_codePage.load(std::memory_order_relaxed) == kCodePageUtf8; }

// The letters U+0100..U+017F as Windows' best fit for 1252 writes them; '?' where it has
// none (the few that 1252 holds itself are found before this table is read).
constexpr char kBestFitLatinA[] =
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii??JjKk?LlLlLlL"
    "lLlNnNnNn???OoOo"
    "Oo??RrRrRrSsSsSs"
    "??TtTtTtUuUuUuUu"
    "UuUuWwYy?ZzZz???";

struct BestFit {
    char16_t from;
    unsigned char to;
};
// The Greek letters the best fit for 1252 knows: the reason "Ωmega" lists as "Omega".
constexpr BestFit kBestFitGreek[] = {{0x393, 'G'}, {0x398, 'T'},  {0x3A3, 'S'}, {0x3A6, 'F'}, {0x3A9, 'O'},
                                     {0x3B1, 'a'}, {0x3B2, 0xDF}, {0x3B4, 'd'}, {0x3B5, 'e'}, {0x3BC, 0xB5},
                                     {0x3C0, 'p'}, {0x3C3, 's'},  {0x3C4, 't'}, {0x3C6, 'f'}};

unsigned char BestFit1252(char16_t c) {
    if (c >= 0x100 && c <= 0x17F) return static_cast<unsigned char>(kBestFitLatinA[c - 0x100]);
    for (const BestFit& b : kBestFitGreek)
        if (b.from == c) return b.to;
    if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<unsigned char>(c - 0xFF01 + 0x21);  // full-width
    return '?';
}

// Windows-1252 bytes 0x80..0x9F as UTF-16; 0 marks the five undefined positions.
constexpr char16_t kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

unsigned char ToLower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<unsigned char>(c + 16);  // Š Œ Ž
    if (c == 0x9F) return 0xFF;                                                          // Ÿ
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    return c;
}

unsigned char ToUpper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 16);
    if (c == 0xFF) return 0x9F;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    return c;
}

}  // namespace

namespace sim {

void SetAnsiCodePage(uint32_t codePage) {
    g_codePage.store(codePage == kCodePageUtf8 ? kCodePageUtf8 : 1252);
}

}  // namespace sim

uint32_t AnsiCodePage() { return g_codePage.load(std::memory_order_relaxed); }

uint32_t LegacyAnsiCodePage() { return 1252; }

bool CodePageToUtf16(uint32_t codePage, const char* text, size_t length, std::u16string& out) {
    if (codePage == kCodePageUtf8) {
        if (!IsValidUtf8(text, length)) return false;
        out = Utf8ToUtf16(text, length);
        return true;
    }
    if (codePage != 1252) return false;
    out.clear();
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        // Windows maps the undefined positions to the C1 controls of the same value.
        out.push_back(c >= 0x80 && c <= 0x9F && kHigh1252[c - 0x80] ? kHigh1252[c - 0x80]
                                                                    : static_cast<char16_t>(c));
    }
    return true;
}

int AnsiCompareNoCase(const char* a, const char* b) {
    if (Utf8Mode()) return Utf8CompareNoCase(a, b, SimpleUpper);
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        unsigned char cx = ToLower1252(*x), cy = ToLower1252(*y);
        if (cx != cy) return cx < cy ? -1 : 1;
        if (cx == 0) return 0;
    }
}

size_t AnsiCharLength(const char* text) {
    if (!Utf8Mode() || *text == '\0') return 1;
    size_t pos = 0;
    return DecodeUtf8(text, SIZE_MAX, pos) == kInvalidUtf8 ? 1 : pos;
}

void AnsiUpperInPlace(char* text) {
    if (Utf8Mode()) return Utf8UpperInPlace(text, SimpleUpper);
    for (auto* p = reinterpret_cast<unsigned char*>(text); *p; ++p) *p = ToUpper1252(*p);
}

bool AnsiToUtf16(const char* text, size_t length, std::u16string& out) {
    if (Utf8Mode()) {
        out = Utf8ToUtf16(text, length);  // ill-formed bytes become U+FFFD, as Windows does
        return true;
    }
    return CodePageToUtf16(1252, text, length, out);
}

std::string Utf16ToAnsi(const std::u16string& text) {
    if (Utf8Mode()) return Utf16ToUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size(); ++at) {
        char16_t c = text[at];
        // A character beyond the BMP is one '?', as Windows writes it.
        if (c >= 0xD800 && c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
            text[at + 1] <= 0xDFFF)
            ++at;
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = static_cast<char>(BestFit1252(c));
        for (int i = 0; i < 32; ++i) {
            if (kHigh1252[i] == c || (kHigh1252[i] == 0 && c == 0x80 + i)) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}

}  // namespace platform
