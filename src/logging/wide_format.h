// A small, bounded printf for UTF-16 text, behaving like the Windows wide printf family
// for the conversions the logging library and its callers use: wchar_t is 32 bits on some
// of our build hosts, so the library cannot lean on the C runtime's wide printf.
//
// Conversions: %d %i %u %x %X %o %c %C %s %S %p %%, with the flags "-+ 0#", a width and a
// precision (digits or '*') and the sizes h, hh, l, ll, z and I64. As in the Windows wide
// family, %s is a UTF-16 string (const char16_t*) and %S an ANSI one (const char*, converted
// from the ANSI code page); %hs and %ls name the width explicitly. "l" means the C type long.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace KvQmrLogging {

// Formats into out[0 .. capacity) and always terminates the text when capacity > 0.
// Returns the length the whole text needs without its terminator, so the text fitted
// exactly when 0 <= result < capacity, or -1 when the format cannot be rendered
// (an unknown conversion, or a text longer than INT_MAX).
int VFormatW(char16_t* out, size_t capacity, const char16_t* format, va_list args);
int FormatW(char16_t* out, size_t capacity, const char16_t* format, ...);

// Length of a terminated UTF-16 string.
size_t WideLength(const char16_t* text);

}  // namespace KvQmrLogging
