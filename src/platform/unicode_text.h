// UTF-8 and UTF-16 as Windows converts them, and the simple one-to-one letter case of names,
// without the operating system: the console and report writers, the configuration reader and
// the simulated machine share these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// The code point at `text[pos]`, `pos` moved past it; an ill-formed byte (a stray
// continuation, an overlong or surrogate form, a cut sequence) is kInvalidUtf8 and moves one.
constexpr uint32_t kInvalidUtf8 = 0xFFFFFFFF;
uint32_t DecodeUtf8(const char* text, size_t length, size_t& pos);
void AppendUtf8(std::string& out, uint32_t codePoint);
// How many bytes UTF-8 takes for the code point.
size_t Utf8Length(uint32_t codePoint);
// Whether every byte belongs to a well-formed sequence.
bool IsValidUtf8(const char* text, size_t length);
// As MultiByteToWideChar(CP_UTF8, 0): ill-formed bytes become U+FFFD.
std::u16string Utf8ToUtf16(const char* text, size_t length);
// As WideCharToMultiByte(CP_UTF8, 0): an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// The one-to-one case mapping of a code point as a name compares: `upper` gives the upper
// case of a letter, or the letter itself.
using CaseMapping = uint32_t (*)(uint32_t codePoint);
// The simple upper case of the Latin, Greek, Cyrillic, Armenian and full-width letters, as the
// Unicode data gives it one-to-one; every other code point is its own.
uint32_t SimpleUpper(uint32_t codePoint);

// UTF-8 names compared without regard to letter case: ASCII letters fold to lower case (so
// "_" sorts below the letters, as in a single-byte code page), every other character to
// `upper` of it; ill-formed bytes compare by value after every character. A character whose
// upper case takes a different number of bytes keeps its case here and in Utf8UpperInPlace,
// so that the two always agree. <0, 0, >0.
int Utf8CompareNoCase(const char* a, const char* b, CaseMapping upper);
// Upper case in place, each character by `upper` where its UTF-8 length does not change.
void Utf8UpperInPlace(char* text, CaseMapping upper);

}  // namespace platform
