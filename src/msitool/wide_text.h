// Small UTF-16 text helpers of the installer tool: ASCII case folding, trimming and the
// decimal conversion its version and registry texts need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace msitool {

// Whole-text comparison, ASCII letters folded (the tool's switches and names are ASCII).
bool EqualsNoCase(const std::u16string& a, const std::u16string& b);
// The text without leading and trailing blanks (space and tab).
std::u16string TrimBlanks(const std::u16string& text);
// The text without trailing blanks.
std::u16string TrimTrailingBlanks(const std::u16string& text);

// One decimal number read from `text` at `pos` as swscanf's %d reads it: white space
// skipped, an optional sign, then at least one digit. A value beyond 32 bits saturates at
// INT32_MIN or INT32_MAX instead of being undefined. On success `pos` is past the last
// digit; on failure `pos` and `out` are left as they were.
bool ScanDecimal(const std::u16string& text, size_t& pos, int32_t& out);

}  // namespace msitool
