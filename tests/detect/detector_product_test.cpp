// The product name and the root folder the detector reads, and what it logs on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "detect/detector.h"
#include "detect/detector_fixture.h"

namespace {

using namespace detecttest;
using platform::sim::View;
using Lines = std::vector<std::string>;

const char kAuaTag[] = "CDetector::RetrieveAuAProductName: RetrieveAuAProductName: ";
const char kPlxTag[] = "CDetector::RetrievePLXProductName: RetrievePLXProductName: ";

class ProductName : public DetectorTest {
  protected:
    std::string Detect() {
        detect::CDetector d(m.platform());
        d.RetrieveProductName();
        return d.productName;
    }
    std::string Aua(int level, const std::string& text) {
        return std::to_string(level) + " " + kAuaTag + text;
    }
    std::string Plx(int level, const std::string& text) {
        return std::to_string(level) + " " + kPlxTag + text;
    }
};

TEST_F(ProductName, TheAgentsNameWinsAndThePluginLineIsNotRead) {
    m.registry.SetString(kAgent, "ProductName", "Aurel Suite");
    m.registry.SetDword(kPlx, "LastInstalledProduct", 2);
    m.registry.SetString(std::string(kPlx) + "\\Products\\2", "ProductName", "Old Suite");
    EXPECT_EQ("Aurel Suite", Detect());
    EXPECT_EQ((Lines{Aua(4, "ProductName=Aurel Suite")}), Records());
}

TEST_F(ProductName, ThePluginLineNamesTheLastInstalledProduct) {
    m.registry.SetDword(kPlx, "LastInstalledProduct", 7);
    m.registry.SetString(std::string(kPlx) + "\\Products\\0", "ProductName", "Zero");
    m.registry.SetString(std::string(kPlx) + "\\Products\\7", "ProductName", "Seven");
    detect::CDetector d(m.platform());
    d.RetrieveProductName();
    EXPECT_EQ("Seven", d.productName);
    EXPECT_EQ(7u, d.lastInstalledProduct);
    EXPECT_EQ((Lines{Aua(3, "RegOpenKeyEx failed for 'SOFTWARE\\Kelvaris\\Aurel Agent'"),
                     Plx(4, "ProductName=Seven")}),
              Records());
}

TEST_F(ProductName, WithoutTheLastInstalledNumberProductZeroIsTried) {
    m.registry.CreatePath(kAgent);  // the agent's key without its name
    m.registry.CreatePath(kPlx);
    m.registry.SetString(std::string(kPlx) + "\\Products\\0", "ProductName", "Zero");
    EXPECT_EQ("Zero", Detect());
    EXPECT_EQ(
        (Lines{Aua(3, "RegQueryValueEx failed for 'ProductName'"),
               Plx(3, "RegQueryValueEx failed for 'LastInstalledProduct'"), Plx(4, "ProductName=Zero")}),
        Records());
}

TEST_F(ProductName, NeitherPlaceLeavesTheNameEmpty) {
    EXPECT_EQ("", Detect());
    EXPECT_EQ((Lines{Aua(3, "RegOpenKeyEx failed for 'SOFTWARE\\Kelvaris\\Aurel Agent'"),
                     Plx(3, "RegOpenKeyEx failed for 'SOFTWARE\\Tessel Works\\Kelvaris\\PLX'"),
                     Plx(3, "RegOpenKeyEx failed for 'SOFTWARE\\Tessel Works\\Kelvaris\\PLX\\Products\\0'")}),
              Records());

    // Only the 32-bit view counts.
    m.registry.SetString(kAgent, "ProductName", "Elsewhere", View::K64);
    EXPECT_EQ("", Detect());
}

TEST_F(ProductName, UnreadableValuesLeaveTheirFieldEmpty) {
    const std::string product0 = std::string(kPlx) + "\\Products\\0";
    // A name that does not fit the 1024-byte buffer, and one of another type.
    m.registry.SetString(kAgent, "ProductName", std::string(1024, 'n'));
    m.registry.SetDword(product0, "ProductName", 5);
    // A product number of the wrong size and of the wrong type.
    m.registry.Set(kPlx, "LastInstalledProduct", platform::kRegDword, {7, 0, 0, 0, 0, 0, 0, 0});
    detect::CDetector d(m.platform());
    d.RetrieveProductName();
    EXPECT_EQ("", d.productName);
    EXPECT_EQ(0u, d.lastInstalledProduct);
    EXPECT_EQ((Lines{Aua(3, "RegQueryValueEx failed for 'ProductName'"),
                     Plx(3, "RegQueryValueEx failed for 'LastInstalledProduct'"),
                     Plx(3, "RegQueryValueEx failed for 'ProductName'")}),
              Records());

    m.registry.SetString(kPlx, "LastInstalledProduct", "7");
    m.registry.SetString(product0, "ProductName", "Zero");
    EXPECT_EQ("Zero", Detect());

    // The longest name that fits, stored without its terminator, is read and no further.
    m.registry.Set(kAgent, "ProductName", platform::kRegSz, std::vector<uint8_t>(1024, 'x'));
    EXPECT_EQ(std::string(1024, 'x'), Detect());
    m.registry.SetString(kAgent, "ProductName", std::string("Aurel\0Tail", 10));
    EXPECT_EQ("Aurel", Detect());
}

// A name or root a standard user could have written would aim the run at any folder. Only
// grants that apply to the key itself count: Users' inherit-only read is every machine key's.
TEST_F(ProductName, AKeyAStandardUserCanChangeNamesNoProductAndNoRoot) {
    const std::string admins = "D:(A;CI;0xf003f;;;S-1-5-32-544)";
    const std::pair<std::string, std::string> cases[] = {
        {"S-1-5-32-544", admins + "(A;CIIO;0x80000000;;;S-1-5-32-545)"},  // trusted
        {"S-1-5-21-7-1001", admins},                                      // a user's own key
        {"S-1-5-32-544", admins + "(A;;0x2;;;S-1-5-21-7-1001)"},          // set value
        {"S-1-5-18", admins + "(A;CI;0x40004;;;S-1-5-32-545)"},           // subkeys, WRITE_DAC
        {"S-1-5-32-544", admins + "(A;CIID;0x2;;;S-1-5-11)"},             // set value, inherited
        {"S-1-5-32-544", ""},                                             // no list at all
    };
    m.registry.SetString(kAgent, "ProductName", "Windows Defender");
    m.registry.SetString(kAgent, "InstallPath", "C:\\Program Files (x86)\\Windows Defender");
    for (const auto& [owner, sddl] : cases) {
        const bool trusted = &owner == &cases[0].first;
        *m.registry.SecurityOf(kAgent) = {owner, sddl, 0};
        const size_t before = Records().size();
        detect::CDetector d(m.platform());
        d.RetrieveProductName();
        d.CheckInstallationPath();
        EXPECT_EQ(d.productName, trusted ? "Windows Defender" : "") << sddl;
        EXPECT_EQ(d.rootInstallPath.empty(), !trusted) << sddl;
        const Lines records = Records();
        EXPECT_EQ(std::count(records.begin() + static_cast<long>(before), records.end(),
                             "3 CDetector::RetrieveAuAProductName: values of 'HKEY_LOCAL_MACHINE\\SOFTWARE\\"
                             "Kelvaris\\Aurel Agent' are not used: a standard user can change that key"),
                  trusted ? 0 : 1)
            << sddl;
    }
}

TEST_F(ProductName, DetectionReadsTheNameFirst) {
    m.registry.SetString(kAgent, "ProductName", "Aurel Suite");
    detect::CDetector d(m.platform());
    (void)d.DetectRunningProducts();
    EXPECT_EQ("Aurel Suite", d.productName);
}

// --- the root folder ---

class RootFolder : public DetectorTest {
  protected:
    detect::CDetector d{m.platform()};
};

TEST_F(RootFolder, TheAgentsPathWinsOverTheVendorKeyAndIsNormalised) {
    StandardEnvironment();
    m.registry.SetString(kAgent, "InstallPath", "\"c:/Program Files (x86)//Kelvaris\\Suite\\\"");
    m.registry.SetString(kVendor, "InstallationRootDirectory", "C:\\Windows");
    EXPECT_EQ(0u, d.CheckInstallationPath());
    EXPECT_EQ("C:\\PROGRAM FILES (X86)\\KELVARIS\\SUITE", d.rootInstallPath);

    // Without the agent's value (missing, or unreadable), the vendor key gives the root.
    for (int round = 0; round < 2; ++round) {
        if (round == 0)
            m.registry.SetDword(kAgent, "InstallPath", 1);
        else
            ASSERT_EQ(0u, m.registry.SHDeleteValue(platform::kHkeyLocalMachine,
                                                   "SOFTWARE\\Kelvaris\\Aurel Agent", "InstallPath"));
        EXPECT_EQ(1u, d.CheckInstallationPath()) << round;
        EXPECT_EQ("C:\\WINDOWS", d.rootInstallPath) << round;
        EXPECT_EQ(1u, d.removalBlocked);
    }
}

TEST_F(RootFolder, AnEmptyOrMissingRootIsNeverUnsafe) {
    d.removalBlocked = 1;
    EXPECT_EQ(0u, d.CheckInstallationPath());
    EXPECT_EQ(0u, d.removalBlocked);
    EXPECT_EQ("", d.rootInstallPath);
    // A value the agent has, though empty, is the agent's answer.
    m.registry.SetString(kAgent, "InstallPath", "");
    m.registry.SetString(kVendor, "InstallationRootDirectory", "C:\\");
    EXPECT_EQ(0u, d.CheckInstallationPath());
    m.registry.SetString(kAgent, "InstallPath", "\"\"");
    EXPECT_EQ(0u, d.CheckInstallationPath());
    EXPECT_EQ("", d.rootInstallPath);
}

TEST_F(RootFolder, AVeryLongPathIsReadWholeAndCheckedWhole) {
    StandardEnvironment();
    std::string deep = "D:\\Kelvaris";
    while (deep.size() < 5000) deep += "\\Level";
    m.registry.SetString(kAgent, "InstallPath", deep);
    EXPECT_EQ(0u, d.CheckInstallationPath());
    EXPECT_EQ(deep.size(), d.rootInstallPath.size());
    EXPECT_EQ("D:\\KELVARIS\\LEVEL", d.rootInstallPath.substr(0, 17));

    // Only its far end makes it unsafe.
    m.registry.SetString(kVendor, "InstallationRootDirectory", "D:\\Kelvaris");
    m.registry.SetString(kAgent, "InstallPath", deep + "\\Users\\bob");
    EXPECT_EQ(1u, d.CheckInstallationPath());
    m.registry.SetString(kAgent, "InstallPath", deep + "\\..\\..");
    EXPECT_EQ(1u, d.CheckInstallationPath());

    // Stored without its terminator, it is read to its last byte and no further.
    m.registry.Set(kAgent, "InstallPath", platform::kRegSz, std::vector<uint8_t>(deep.begin(), deep.end()));
    EXPECT_EQ(0u, d.CheckInstallationPath());
    EXPECT_EQ(deep.size(), d.rootInstallPath.size());

    // Longer than any folder Windows can name: not a path at all, so the vendor key answers.
    m.registry.SetString(kAgent, "InstallPath", "D:\\" + std::string(70000, 'x'));
    EXPECT_EQ(0u, d.CheckInstallationPath());
    EXPECT_EQ("D:\\KELVARIS", d.rootInstallPath);
}

}  // namespace
