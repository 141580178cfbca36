#include "expand/installer_guid.h"

#include <cstring>

namespace expand {

namespace {

// For each packed position, the braced position it is taken from.
constexpr unsigned char kPackedFrom[kPackedGuidChars] = {
    8,  7,  6,  5,  4,  3,  2,  1,                   // first group reversed
    13, 12, 11, 10,                                  // second group reversed
    18, 17, 16, 15,                                  // third group reversed
    21, 20, 23, 22,                                  // fourth group, byte by byte
    26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35,  // last group, byte by byte
};

}  // namespace

bool IsBracedGuidText(const char* text) {
    if (text == nullptr || std::strlen(text) != kBracedGuidChars) return false;
    return text[0] == '{' && text[37] == '}' && text[9] == '-' && text[14] == '-' && text[19] == '-' &&
           text[24] == '-';
}

std::string DarwinTransform(const char* bracedGuid) {
    if (!IsBracedGuidText(bracedGuid)) return {};
    std::string packed(kPackedGuidChars, '\0');
    for (size_t i = 0; i < kPackedGuidChars; ++i) packed[i] = bracedGuid[kPackedFrom[i]];
    return packed;
}

}  // namespace expand
