#include "expand/installer_guid.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PackingCase {
    const char* braced;
    const char* packed;  // "" when the text is refused
};

// Each group's digits are distinct, so a position taken from the wrong place shows.
const PackingCase kPackingCases[] = {
    {"{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "87654321CBA90FED21436587A9CBED0F"},
    // Letter case is kept, digit by digit.
    {"{12345678-9abc-DEF0-1234-56789abcDEF0}", "87654321cba90FED21436587a9cbED0F"},
    {"{00000000-0000-0000-C000-000000000046}", "00000000000000000C00000000000064"},
    // Only the punctuation is checked: whatever stands between it is moved alike.
    {"{ghijklmn-opqr-stuv-wxyz-ABCDEFGHIJKL}", "nmlkjihgrqpovutsxwzyBADCFEHGJILK"},
    {"{#$%&'()*-+,./-:;<=-> @[-]^_`|~!\"?.,;}", "*)('&%$#/.,+=<;: >[@^]`_~|\"!.?;,"},
    // Wrong lengths: no braces, one digit too few or too many, the empty text.
    {"12345678-9ABC-DEF0-1234-56789ABCDEF0", ""},
    {"{12345678-9ABC-DEF0-1234-56789ABCDEF}", ""},
    {"{12345678-9ABC-DEF0-1234-56789ABCDEF01}", ""},
    {"", ""},
    // Right length, punctuation out of place.
    {"(12345678-9ABC-DEF0-1234-56789ABCDEF0}", ""},
    {"{12345678-9ABC-DEF0-1234-56789ABCDEF0)", ""},
    {"{123456789-ABC-DEF0-1234-56789ABCDEF0}", ""},
    {"{12345678-9ABCD-EF0-1234-56789ABCDEF0}", ""},
    {"{12345678-9ABC-DEF01-234-56789ABCDEF0}", ""},
    {"{12345678-9ABC-DEF0-12345-6789ABCDEF0}", ""},
    {"{12345678_9ABC_DEF0_1234_56789ABCDEF0}", ""},
};

class DarwinTransformTable : public ::testing::TestWithParam<PackingCase> {};

TEST_P(DarwinTransformTable, PacksOrRefuses) {
    const PackingCase& c = GetParam();
    EXPECT_EQ(expand::DarwinTransform(c.braced), c.packed) << c.braced;
    EXPECT_EQ(expand::IsBracedGuidText(c.braced), *c.packed != '\0') << c.braced;
}

INSTANTIATE_TEST_SUITE_P(Cases, DarwinTransformTable, ::testing::ValuesIn(kPackingCases));

TEST(DarwinTransform, NullTextIsRefused) {
    EXPECT_FALSE(expand::IsBracedGuidText(nullptr));
    EXPECT_EQ(expand::DarwinTransform(nullptr), "");
}

}  // namespace
