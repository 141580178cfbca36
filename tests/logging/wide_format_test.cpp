#include "logging/wide_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace KvQmrLogging {
namespace {

std::u16string Format(const char16_t* format, ...) {
    char16_t buffer[256];
    va_list args;
    va_start(args, format);
    int n = VFormatW(buffer, 256, format, args);
    va_end(args);
    EXPECT_GE(n, 0);
    EXPECT_EQ(static_cast<size_t>(n), WideLength(buffer));
    return buffer;
}

TEST(LoggingWideFormat, ConversionsAsTheWindowsWidePrintf) {
    struct Case {
        std::u16string got;
        const char16_t* expected;
    } cases[] = {
        {Format(u"%d|%i|%u", -42, 7, 4000000000u), u"-42|7|4000000000"},
        {Format(u"%x|%X|%04x|%#x|%o", 0xbeefu, 0xbeefu, 0xau, 255u, 8u), u"beef|BEEF|000a|0xff|10"},
        {Format(u"%lu|%ld|%llu", 4294967295ul, -5l, 18446744073709551615ull),
         u"4294967295|-5|18446744073709551615"},
        {Format(u"%+02d:%02d", 2, 0), u"+2:00"},
        {Format(u"%+02d:%02d", -3, -30), u"-3:-30"},
        {Format(u"%+02d:%02d", 59, 59), u"+59:59"},
        {Format(u"%5d|%-5d|%05d|%.3d|%.0d", 42, 42, -42, 7, 0), u"   42|42   |-0042|007|"},
        {Format(u"%*d|%-*d", 4, 1, 3, 2), u"   1|2  "},
        {Format(u"[%s] [%S]", u"wide", "narrow"), u"[wide] [narrow]"},
        {Format(u"[%ls] [%hs]", u"wide", "narrow"), u"[wide] [narrow]"},
        {Format(u"[%6s] [%-6s] [%.2s]", u"ab", u"ab", u"abcdef"), u"[    ab] [ab    ] [ab]"},
        {Format(u"%s %S", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)),
         u"(null) (null)"},
        {Format(u"%c%C%%", u'W', 'n'), u"Wn%"},
        {Format(u"%d %d", INT_MIN, INT_MAX), u"-2147483648 2147483647"},
        // Windows-1252 is the simulated machine's code page: 0x80 is the euro sign.
        {Format(u"%S", "\x80"), u"\u20ac"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, std::u16string(c.expected));
}

TEST(LoggingWideFormat, TruncatesInsideTheBufferAndReportsTheFullLength) {
    char16_t buffer[8];
    for (auto& c : buffer) c = u'#';
    int n = FormatW(buffer, 6, u"%s-%d", u"abcdef", 12345);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(buffer[6], u'#');  // nothing past the stated capacity

    // Exactly capacity - 1 units fit; capacity units do not.
    EXPECT_EQ(FormatW(buffer, 6, u"%s", u"12345"), 5);
    EXPECT_EQ(std::u16string(buffer), u"12345");
    EXPECT_EQ(FormatW(buffer, 6, u"%s", u"123456"), 6);
    EXPECT_EQ(std::u16string(buffer), u"12345");

    // Padding larger than the buffer is counted, not written.
    EXPECT_EQ(FormatW(buffer, 4, u"%100d", 1), 100);
    EXPECT_EQ(std::u16string(buffer), u"   ");

    // A zero capacity writes nothing at all.
    buffer[0] = u'#';
    EXPECT_EQ(FormatW(buffer, 0, u"abc"), 3);
    EXPECT_EQ(buffer[0], u'#');
}

TEST(LoggingWideFormat, RefusesWhatItCannotRender) {
    char16_t buffer[16];
    EXPECT_EQ(FormatW(buffer, 16, u"%q"), -1);
    EXPECT_EQ(FormatW(buffer, 16, u"abc%"), -1);
    EXPECT_EQ(FormatW(buffer, 16, u"%999999999d", 1), -1);
    EXPECT_EQ(FormatW(buffer, 16, nullptr), -1);
    EXPECT_EQ(buffer[0], u'\0');  // still terminated
}

}  // namespace
}  // namespace KvQmrLogging
