#include "logging/wide_format.h"

#include <climits>
#include <cstdint>
#include <string>

#include "platform/ansi.h"

namespace KvQmrLogging {

namespace {

// Writes what fits and counts everything, so the caller learns the size the text needs
// without the formatter ever touching memory past the buffer.
class Output {
  public:
    Output(char16_t* out, size_t capacity) : out_(out), room_(capacity == 0 ? 0 : capacity - 1) {}

    void Put(char16_t c) {
        if (length_ < room_) out_[length_] = c;
        ++length_;
    }
    void Repeat(char16_t c, size_t count) {
        for (size_t i = length_; i < room_ && i < length_ + count; ++i) out_[i] = c;
        length_ += count;
    }
    void Append(const char16_t* text, size_t count) {
        for (size_t i = 0; i < count && length_ + i < room_; ++i) out_[length_ + i] = text[i];
        length_ += count;
    }
    // Only for a buffer of at least one unit.
    void Terminate() { out_[length_ < room_ ? length_ : room_] = u'\0'; }
    size_t length() const { return length_; }

  private:
    char16_t* out_;
    size_t room_;
    size_t length_ = 0;
};

struct Spec {
    bool left = false, plus = false, space = false, zero = false, alternate = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    enum class Size { Int, Char, Short, Long, LongLong, SizeT } size = Size::Int;
    bool narrowString = false, wideString = false;
};

// Widths and precisions above this are refused: they could only ever produce a text far
// larger than any buffer the logger offers, and counting them would overflow.
constexpr size_t kMaxField = 1u << 24;

void PadAndAppend(Output& out, const Spec& spec, const char16_t* body, size_t length) {
    size_t pad = spec.width > length ? spec.width - length : 0;
    if (!spec.left) out.Repeat(u' ', pad);
    out.Append(body, length);
    if (spec.left) out.Repeat(u' ', pad);
}

void FormatInteger(Output& out, const Spec& spec, char16_t conversion, uint64_t magnitude, bool negative) {
    const char16_t* digitsOf = conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
    unsigned base = conversion == u'o'                                                 ? 8
                    : (conversion == u'x' || conversion == u'X' || conversion == u'p') ? 16
                                                                                       : 10;

    char16_t digits[64];
    size_t count = 0;
    for (uint64_t v = magnitude; v != 0; v /= base) digits[count++] = digitsOf[v % base];
    // A precision of 0 prints nothing for the value 0; without a precision, 0 prints "0".
    size_t minimum = spec.hasPrecision ? spec.precision : 1;
    size_t zeros = minimum > count ? minimum - count : 0;

    char16_t prefix[2];
    size_t prefixLength = 0;
    bool isSigned = conversion == u'd' || conversion == u'i';
    if (isSigned && negative)
        prefix[prefixLength++] = u'-';
    else if (isSigned && spec.plus)
        prefix[prefixLength++] = u'+';
    else if (isSigned && spec.space)
        prefix[prefixLength++] = u' ';
    if (spec.alternate && magnitude != 0 && (base == 16 && conversion != u'p')) {
        prefix[prefixLength++] = u'0';
        prefix[prefixLength++] = conversion == u'X' ? u'X' : u'x';
    } else if (spec.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != u'0')) {
        zeros = 1;
    }

    size_t body = prefixLength + zeros + count;
    size_t pad = spec.width > body ? spec.width - body : 0;
    bool zeroPad = spec.zero && !spec.left && !spec.hasPrecision;
    if (!spec.left && !zeroPad) out.Repeat(u' ', pad);
    out.Append(prefix, prefixLength);
    if (zeroPad) out.Repeat(u'0', pad);
    out.Repeat(u'0', zeros);
    while (count > 0) out.Put(digits[--count]);
    if (spec.left) out.Repeat(u' ', pad);
}

bool FormatWideString(Output& out, const Spec& spec, const char16_t* text) {
    if (text == nullptr) text = u"(null)";
    size_t length = 0;
    while (text[length] != 0 && (!spec.hasPrecision || length < spec.precision)) ++length;
    PadAndAppend(out, spec, text, length);
    return true;
}

bool FormatAnsiString(Output& out, const Spec& spec, const char* text) {
    if (text == nullptr) return FormatWideString(out, spec, nullptr);
    size_t length = 0;
    while (text[length] != 0) ++length;
    std::u16string wide;
    if (!platform::AnsiToUtf16(text, length, wide)) return false;
    if (spec.hasPrecision && wide.size() > spec.precision) wide.resize(spec.precision);
    PadAndAppend(out, spec, wide.data(), wide.size());
    return true;
}

// Reads digits or a '*' argument; false when the field is absurdly large.
bool ReadField(const char16_t*& p, va_list& args, size_t& value, bool& negativeStar) {
    negativeStar = false;
    if (*p == u'*') {
        ++p;
        int v = va_arg(args, int);
        if (v < 0) {
            negativeStar = true;
            v = v == INT_MIN ? INT_MAX : -v;
        }
        value = static_cast<size_t>(v);
    } else {
        value = 0;
        while (*p >= u'0' && *p <= u'9') {
            value = value * 10 + static_cast<size_t>(*p - u'0');
            if (value > kMaxField) return false;
            ++p;
        }
    }
    return value <= kMaxField;
}

int Format(Output& out, const char16_t* format, va_list& args) {
    if (format == nullptr) return -1;
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            out.Put(*p);
            continue;
        }
        ++p;
        Spec spec;
        for (;; ++p) {
            if (*p == u'-')
                spec.left = true;
            else if (*p == u'+')
                spec.plus = true;
            else if (*p == u' ')
                spec.space = true;
            else if (*p == u'0')
                spec.zero = true;
            else if (*p == u'#')
                spec.alternate = true;
            else
                break;
        }
        bool negative = false;
        if (!ReadField(p, args, spec.width, negative)) return -1;
        if (negative) spec.left = true;  // a negative '*' width means left-justified
        if (*p == u'.') {
            ++p;
            spec.hasPrecision = true;
            if (!ReadField(p, args, spec.precision, negative)) return -1;
            if (negative) spec.hasPrecision = false;  // a negative '*' precision counts as none
        }
        if (p[0] == u'h' && p[1] == u'h') {
            spec.size = Spec::Size::Char;
            p += 2;
        } else if (p[0] == u'h') {
            spec.size = Spec::Size::Short;
            spec.narrowString = true;
            ++p;
        } else if (p[0] == u'l' && p[1] == u'l') {
            spec.size = Spec::Size::LongLong;
            p += 2;
        } else if (p[0] == u'l' || p[0] == u'w') {
            spec.size = Spec::Size::Long;
            spec.wideString = true;
            ++p;
        } else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            spec.size = Spec::Size::LongLong;
            p += 3;
        } else if (p[0] == u'z' || p[0] == u'I') {
            spec.size = Spec::Size::SizeT;
            ++p;
        }

        char16_t conversion = *p;
        switch (conversion) {
            case u'%':
                out.Put(u'%');
                break;
            case u'd':
            case u'i': {
                int64_t v = 0;
                switch (spec.size) {
                    case Spec::Size::Char:
                        v = static_cast<signed char>(va_arg(args, int));
                        break;
                    case Spec::Size::Short:
                        v = static_cast<short>(va_arg(args, int));
                        break;
                    case Spec::Size::Long:
                        v = va_arg(args, long);
                        break;
                    case Spec::Size::LongLong:
                        v = va_arg(args, long long);
                        break;
                    case Spec::Size::SizeT:
                        v = static_cast<int64_t>(va_arg(args, ptrdiff_t));
                        break;
                    default:
                        v = va_arg(args, int);
                        break;
                }
                uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                FormatInteger(out, spec, conversion, magnitude, v < 0);
                break;
            }
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                uint64_t v = 0;
                switch (spec.size) {
                    case Spec::Size::Char:
                        v = static_cast<unsigned char>(va_arg(args, unsigned));
                        break;
                    case Spec::Size::Short:
                        v = static_cast<unsigned short>(va_arg(args, unsigned));
                        break;
                    case Spec::Size::Long:
                        v = va_arg(args, unsigned long);
                        break;
                    case Spec::Size::LongLong:
                        v = va_arg(args, unsigned long long);
                        break;
                    case Spec::Size::SizeT:
                        v = va_arg(args, size_t);
                        break;
                    default:
                        v = va_arg(args, unsigned);
                        break;
                }
                FormatInteger(out, spec, conversion, v, false);
                break;
            }
            case u'p': {
                Spec pointer = spec;
                pointer.hasPrecision = true;
                pointer.precision = sizeof(void*) * 2;
                FormatInteger(out, pointer, u'X', reinterpret_cast<uintptr_t>(va_arg(args, void*)), false);
                break;
            }
            case u'c':
            case u'C': {
                int v = va_arg(args, int);
                bool narrow = spec.narrowString || (conversion == u'C' && !spec.wideString);
                char16_t c = static_cast<char16_t>(v);
                if (narrow) {
                    char byte = static_cast<char>(v);
                    std::u16string wide;
                    if (!platform::AnsiToUtf16(&byte, 1, wide) || wide.size() != 1) return -1;
                    c = wide[0];
                }
                PadAndAppend(out, spec, &c, 1);
                break;
            }
            case u's':
            case u'S': {
                bool narrow = spec.narrowString || (conversion == u'S' && !spec.wideString);
                bool ok = narrow ? FormatAnsiString(out, spec, va_arg(args, const char*))
                                 : FormatWideString(out, spec, va_arg(args, const char16_t*));
                if (!ok) return -1;
                break;
            }
            default:
                // Includes the end of the format in the middle of a conversion.
                return -1;
        }
        if (out.length() > static_cast<size_t>(INT_MAX)) return -1;
    }
    if (out.length() > static_cast<size_t>(INT_MAX)) return -1;
    return static_cast<int>(out.length());
}

}  // namespace

int VFormatW(char16_t* out, size_t capacity, const char16_t* format, va_list args) {
    Output sink(out, capacity);
    va_list copy;
    va_copy(copy, args);
    int result = Format(sink, format, copy);
    va_end(copy);
    if (capacity > 0) sink.Terminate();
    return result;
}

int FormatW(char16_t* out, size_t capacity, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = VFormatW(out, capacity, format, args);
    va_end(args);
    return result;
}

size_t WideLength(const char16_t* text) {
    size_t n = 0;
    if (text != nullptr)
        while (text[n] != 0) ++n;
    return n;
}

}  // namespace KvQmrLogging
