#include "msitool/wide_text.h"

#include <limits>

namespace msitool {
namespace {

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The white space swscanf skips before a number.
bool IsScanSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

bool EqualsNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

std::u16string TrimBlanks(const std::u16string& text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    size_t end = text.size();
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::u16string TrimTrailingBlanks(const std::u16string& text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    return text.substr(0, end);
}

bool ScanDecimal(const std::u16string& text, size_t& pos, int32_t& out) {
    size_t at = pos;
    while (at < text.size() && IsScanSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) negative = text[at++] == u'-';
    if (at >= text.size() || text[at] < u'0' || text[at] > u'9') return false;
    // Accumulated as a negative number, whose range holds INT32_MIN.
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t value = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
        value = value * 10 - (text[at] - u'0');
        if (value < kMin) value = kMin - 1;  // saturated; stays below the range
    }
    if (negative) {
        out = value < kMin ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(value);
    } else {
        out = -value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                           : static_cast<int32_t>(-value);
    }
    pos = at;
    return true;
}

}  // namespace msitool
