// The two forms of an installer GUID: the braced text products and upgrade codes are
// written in ("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"), and the packed 32-character form
// the installer uses for its registry key and value names.
#pragma once

#include <cstddef>
#include <string>

namespace expand {

constexpr size_t kBracedGuidChars = 38;
constexpr size_t kPackedGuidChars = 32;

// True for 38 characters with "{" first, "}" last and "-" at 9, 14, 19 and 24. The digits
// themselves are not examined. False for a null text.
bool IsBracedGuidText(const char* text);

// The packed form of braced GUID text: each of the first three groups reversed, and the two
// characters of each byte of the last two groups swapped. Characters keep their case.
// Empty when the text is not braced GUID text.
std::string DarwinTransform(const char* bracedGuid);

}  // namespace expand
