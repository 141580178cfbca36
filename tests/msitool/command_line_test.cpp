#include "msitool/command_line.h"

#include <gtest/gtest.h>

namespace msitool {
namespace {

constexpr char16_t kCode[] = u"{6C1F2E4A-0B3D-4E5F-9A8B-7C6D5E4F3A2B}";

struct Parsed {
    bool valid, uninstall, hide, help;
    std::u16string upgradeCode;
};

Parsed Parse(const std::u16string& text) {
    CommandLine c(text);
    EXPECT_TRUE(c.programName.empty());
    return Parsed{c.IsValid(), c.uninstall, c.hideOldAddRemoves, c.help, c.upgradeCode};
}

TEST(CommandLineTest, UninstallWithUpgradeCodeInEitherOrderAndAnyBlanks) {
    for (const std::u16string& text :
         {u"/uninstall /u:" + std::u16string(kCode), u"/u:" + std::u16string(kCode) + u" /UNINSTALL",
          u"  /Uninstall   /u:" + std::u16string(kCode) + u" "}) {
        Parsed p = Parse(text);
        EXPECT_TRUE(p.valid && p.uninstall && !p.hide && !p.help);
        EXPECT_EQ(kCode, p.upgradeCode);
    }
    CommandLine c(u"/uninstall /u:x");
    EXPECT_EQ(3, c.argc);
}

TEST(CommandLineTest, TheUpgradeCodeIsTheTextAfterTheLastColon) {
    EXPECT_EQ(u"{B}", Parse(u"/hideoldaddremoves /u:a:{B}").upgradeCode);
    EXPECT_EQ(u"x", Parse(u"pre/u:x").upgradeCode);
    Parsed empty = Parse(u"/uninstall /u:");
    EXPECT_TRUE(empty.valid);
    EXPECT_EQ(u"", empty.upgradeCode);
    EXPECT_TRUE(Parse(u"/HideOldAddRemoves /u:x").hide);
}

TEST(CommandLineTest, UnknownArgumentsAndWrongCountsAreInvalid) {
    for (const char16_t* text : {u"", u"   ", u"/U:{X}", u"/uninstall /U:{X}", u"/uninstall /u:x /u:y",
                                 u"/uninstall /u:x /?", u"/remove /u:x", u"/uninstall x"})
        EXPECT_FALSE(Parse(text).valid) << std::string(text, text + std::char_traits<char16_t>::length(text));
}

TEST(CommandLineTest, HelpSwitchesStopTheReading) {
    for (const char16_t* help : {u"-?", u"--?", u"/?", u"-H", u"--h", u"/h", u"-help", u"--HELP", u"/Help"}) {
        Parsed p = Parse(std::u16string(help) + u" /bogus");
        EXPECT_TRUE(p.valid && p.help);
    }
    Parsed afterBogus = Parse(u"/bogus /?");
    EXPECT_FALSE(afterBogus.valid);
    EXPECT_FALSE(afterBogus.help);
    EXPECT_FALSE(Parse(u"/??").help);
}

}  // namespace
}  // namespace msitool
