#include "platform/unicode_text.h"

#include <cstdint>

namespace platform {

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// An ill-formed byte sorts after every character, by its value among its kind.
constexpr uint32_t kInvalidKeyBase = 0x110000;

// In a run of letters paired side by side, the upper case of the lower one: the upper letter
// sits at the even code point, or at the odd one where `upperOdd`.
uint32_t PairUpper(uint32_t c, bool upperOdd) { return (c & 1u) == (upperOdd ? 0u : 1u) ? c - 1 : c; }

uint32_t FoldKey(uint32_t c, CaseMapping upper) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    uint32_t u = upper(c);
    return Utf8Length(u) == Utf8Length(c) ? u : c;
}

// The key of the character at text[pos] of a terminated text, pos moved past it; 0 at the end.
// A sequence cut by the terminator is ill-formed there, so decoding never reads past it.
uint32_t NextKey(const char* text, size_t& pos, CaseMapping upper) {
    unsigned char byte = static_cast<unsigned char>(text[pos]);
    if (byte == 0) return 0;
    uint32_t c = DecodeUtf8(text, SIZE_MAX, pos);
    return c == kInvalidUtf8 ? kInvalidKeyBase + byte : FoldKey(c, upper);
}

}  // namespace

uint32_t DecodeUtf8(const char* text, size_t length, size_t& pos) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    unsigned char lead = s[pos];
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (extra == 0 || lead > 0xF4 || length - pos <= extra) {
        ++pos;
        return kInvalidUtf8;
    }
    uint32_t cp = lead & (0x3Fu >> extra);
    for (size_t i = 1; i <= extra; ++i) {
        if (!IsContinuation(s[pos + i])) {
            ++pos;
            return kInvalidUtf8;
        }
        cp = (cp << 6) | (s[pos + i] & 0x3Fu);
    }
    static constexpr uint32_t kLowest[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLowest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kInvalidUtf8;
    }
    pos += extra + 1;
    return cp;
}

size_t Utf8Length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsValidUtf8(const char* text, size_t length) {
    for (size_t pos = 0; pos < length;)
        if (DecodeUtf8(text, length, pos) == kInvalidUtf8) return false;
    return true;
}

std::u16string Utf8ToUtf16(const char* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    for (size_t pos = 0; pos < length;) {
        uint32_t cp = DecodeUtf8(text, length, pos);
        if (cp == kInvalidUtf8) cp = 0xFFFD;
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

uint32_t SimpleUpper(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c < 0xB5) return c;
    if (c == 0xB5) return 0x39C;                               // micro sign
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;  // Latin-1
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x137) return c == 0x131 ? 'I' : PairUpper(c, false);
    if (c >= 0x139 && c <= 0x148) return PairUpper(c, true);
    if (c >= 0x14A && c <= 0x177) return PairUpper(c, false);
    if (c >= 0x179 && c <= 0x17E) return PairUpper(c, true);
    if (c == 0x17F) return 'S';
    if (c == 0x3AC) return 0x386;  // Greek with tonos
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3C2) return 0x3A3;  // final sigma
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return c - 0x20;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return PairUpper(c, false);
    if (c >= 0x4C1 && c <= 0x4CE) return PairUpper(c, true);
    if (c == 0x4CF) return 0x4C0;
    if (c >= 0x561 && c <= 0x586) return c - 0x30;  // Armenian
    if (c >= 0x1E00 && c <= 0x1E95) return PairUpper(c, false);
    if (c >= 0x1EA0 && c <= 0x1EFF) return PairUpper(c, false);
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // full-width Latin
    return c;
}

int Utf8CompareNoCase(const char* a, const char* b, CaseMapping upper) {
    size_t pa = 0, pb = 0;
    for (;;) {
        // The common case, ASCII on both sides, needs no decoding.
        unsigned char ca = static_cast<unsigned char>(a[pa]), cb = static_cast<unsigned char>(b[pb]);
        uint32_t ka, kb;
        if (ca < 0x80 && cb < 0x80) {
            ka = (ca >= 'A' && ca <= 'Z') ? ca + 32u : ca;
            kb = (cb >= 'A' && cb <= 'Z') ? cb + 32u : cb;
            ++pa;
            ++pb;
        } else {
            ka = NextKey(a, pa, upper);
            kb = NextKey(b, pb, upper);
        }
        if (ka != kb) return ka < kb ? -1 : 1;
        if (ka == 0) return 0;
    }
}

void Utf8UpperInPlace(char* text, CaseMapping upper) {
    size_t length = std::char_traits<char>::length(text);
    for (size_t pos = 0; pos < length;) {
        auto c = static_cast<unsigned char>(text[pos]);
        if (c < 0x80) {
            if (c >= 'a' && c <= 'z') text[pos] = static_cast<char>(c - 32);
            ++pos;
            continue;
        }
        size_t start = pos;
        uint32_t cp = DecodeUtf8(text, length, pos);
        if (cp == kInvalidUtf8) continue;
        uint32_t u = upper(cp);
        if (u == cp || Utf8Length(u) != pos - start) continue;
        std::string bytes;
        AppendUtf8(bytes, u);
        bytes.copy(text + start, bytes.size());
    }
}

}  // namespace platform
