#include "msitool/product.h"

#include <gmock/gmock.h>

#include <climits>

#include "msitool_fixture.h"

namespace msitool_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

class ProductTest : public MsiToolTest {
  protected:
    // The product `n`, installed with `version`.
    msitool::Product Installed(int n, const std::string& version) {
        Add(n, version);
        EXPECT_TRUE(m.installer.Install(added.back()));
        return msitool::Product(m.platform(), W(Code(n)));
    }
    std::string TempCopy(const std::string& name = "product.msi") {
        return m.files.TempDirectory() + "\\" + name;
    }
};

TEST_F(ProductTest, VersionTextsReadAsTheFirstFormatThatConvertsAllItsNumbers) {
    struct Case {
        const char* text;
        bool ok;
        int32_t v[4];
    } const cases[] = {
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"2.0.5", true, {2, 0, 5, -1}},
        {"  3.1  ", true, {3, 1, -1, -1}},
        {"7", true, {7, -1, -1, -1}},
        {"1.2.x", true, {1, 2, -1, -1}},
        {"1..2", true, {1, -1, -1, -1}},
        {"-1.+2", true, {-1, 2, -1, -1}},
        {"1. 2", true, {1, 2, -1, -1}},
        {"4294967296.1", true, {INT32_MAX, 1, -1, -1}},
        {"-9999999999", true, {INT32_MIN, -1, -1, -1}},
        {"garbage", false, {9, 9, 9, 9}},
        {"", false, {9, 9, 9, 9}},
        {"v1.0", false, {9, 9, 9, 9}},
        {"- 1", false, {9, 9, 9, 9}},
    };
    int n = 0;
    for (const Case& c : cases) {
        msitool::Product product = Installed(n++, c.text);
        int32_t v[4] = {9, 9, 9, 9};
        EXPECT_EQ(c.ok, product.GetVersion(v[0], v[1], v[2], v[3])) << c.text;
        EXPECT_THAT(v, ElementsAre(c.v[0], c.v[1], c.v[2], c.v[3])) << c.text;
    }
}

TEST_F(ProductTest, AVersionTooLongForItsBufferIsNoVersion) {
    msitool::Product product = Installed(1, "5.0.0.0" + std::string(100, ' '));
    EXPECT_EQ(u"", product.GetVersionString());
    int32_t v[4] = {9, 9, 9, 9};
    EXPECT_FALSE(product.GetVersion(v[0], v[1], v[2], v[3]));
}

TEST_F(ProductTest, NewerComparesTheFourNumbersAsSignedAndUnreadableAsZero) {
    struct Case {
        const char* a;
        const char* b;
        bool aNewer, bNewer;
    } const cases[] = {{"2.0.5.0", "2.0.5", true, false},    {"1.10", "1.9", true, false},
                       {"1.2.3.4", "1.2.3.4", false, false}, {"junk", "0.0.0.0", false, false},
                       {"junk", "-1", true, false},          {"0.0.0.1", "junk", true, false}};
    for (const Case& c : cases) {
        m.installer.calls.clear();
        msitool::Product a = Installed(1, c.a);
        msitool::Product b = Installed(2, c.b);
        EXPECT_EQ(c.aNewer, a.IsNewerThan(b)) << c.a << " vs " << c.b;
        EXPECT_EQ(c.bNewer, b.IsNewerThan(a)) << c.b << " vs " << c.a;
    }
}

TEST_F(ProductTest, PlainRemovalNeedsNoPackage) {
    msitool::Product product = Installed(1, "1.0");
    EXPECT_TRUE(product.Uninstall());
    EXPECT_FALSE(m.installer.IsInstalled(Code(1)));
    ASSERT_EQ(1u, m.installer.calls.size());
    EXPECT_EQ("MsiConfigureProductExW", m.installer.calls[0].call);
    EXPECT_EQ("REMOVE=ALL REBOOT=ReallySuppress", m.installer.calls[0].commandLine);
    EXPECT_EQ(0, m.faults.Calls("CopyFileW"));
}

TEST_F(ProductTest, AFailedRemovalGoesThroughACopyOfTheCachedPackageWhichIsDeletedAfterwards) {
    m.files.CreateFile(TempCopy(), "planted");  // where the copy went once, by the same name
    std::string folder;
    for (uint32_t packageResult : {0u, 1603u}) {
        m.installer.calls.clear();
        Add(1, "1.0").configureResult = 1603;
        added.back().packageRemoveResult = packageResult;
        ASSERT_TRUE(m.installer.Install(added.back()));
        msitool::Product product(m.platform(), W(Code(1)));

        EXPECT_EQ(packageResult == 0, product.Uninstall());
        EXPECT_EQ(packageResult != 0, m.installer.IsInstalled(Code(1)));
        const std::vector<std::string> given = Calls("MsiInstallProductW");
        // "<temp>\SweepTool.Package.<32 hex digits>\product.msi", a new folder each time.
        ASSERT_THAT(given,
                    ElementsAre(MatchesRegex(".*\\\\SweepTool\\.Package\\.[0-9A-F]{32}\\\\product\\.msi")));
        EXPECT_EQ(0u, given[0].find(m.files.TempDirectory() + "\\"));
        EXPECT_NE(folder, given[0].substr(0, given[0].rfind('\\')));
        folder = given[0].substr(0, given[0].rfind('\\'));
        EXPECT_EQ("REMOVE=ALL REBOOT=ReallySuppress", m.installer.calls.back().commandLine);
        EXPECT_FALSE(m.files.Exists(folder));
        EXPECT_EQ("planted", m.files.Contents(TempCopy()));
    }
}

TEST_F(ProductTest, RebootRequiredStillTriesTheCachedPackage) {
    Add(1, "1.0").configureResult = platform::kErrorSuccessRebootRequired;
    InstallAll();
    msitool::Product product(m.platform(), W(Code(1)));
    m.installer.queries.clear();

    (void)product.Uninstall();
    ASSERT_FALSE(m.installer.queries.empty());
    EXPECT_EQ("LocalPackage", m.installer.queries[0].commandLine);
    EXPECT_FALSE(m.installer.IsInstalled(Code(1)));
}

TEST_F(ProductTest, EachStepOfThePackageRemovalCanFailItWithoutLeavingACopy) {
    struct Case {
        const char* call;
        int skip;
        uint32_t code = 1605;
    } const cases[] = {{"MsiGetProductInfoW", 0}, {"MsiGetProductInfoW", 1},
                       {"GetTempPathW", 0},       {"CoCreateGuid", 0, 0x80004005u},
                       {"CopyFileW", 0},          {"MsiInstallProductW", 0}};
    for (const Case& c : cases) {
        m.installer.calls.clear();
        Add(1, "1.0").configureResult = 1603;
        ASSERT_TRUE(m.installer.Install(added.back()));
        msitool::Product product(m.platform(), W(Code(1)));
        m.faults.Fail(c.call, c.code, 1, c.skip);

        EXPECT_FALSE(product.Uninstall()) << c.call << c.skip;
        EXPECT_TRUE(m.installer.IsInstalled(Code(1))) << c.call << c.skip;
        EXPECT_FALSE(m.files.Exists(TempCopy())) << c.call << c.skip;
        // The copy's folder goes with it.
        EXPECT_TRUE(m.files.List(m.files.TempDirectory()).empty()) << c.call << c.skip;
        m.faults.ClearAll();
    }
}

TEST_F(ProductTest, APropertyTooLongForItsBufferIsNeverUsedCut) {
    Add(1, "1.0").configureResult = 1603;
    added.back().packageName = std::string(255, 'p') + ".msi";
    InstallAll();
    msitool::Product product(m.platform(), W(Code(1)));
    m.faults.ResetCounts();
    EXPECT_FALSE(product.Uninstall());
    EXPECT_EQ(0, m.faults.Calls("CopyFileW"));
}

TEST_F(ProductTest, TheTemporaryCopyIsMadeOnlyWhenItsWholePathFits) {
    // "C:\" + folder + "\" + "product.msi" (11): 259 characters fit with the terminator, 260 do not.
    for (size_t folder : {244u, 245u}) {
        m.files.tempDirectory = "C:\\" + std::string(folder, 't');
        m.installer.calls.clear();
        Add(1, "1.0").configureResult = 1603;
        ASSERT_TRUE(m.installer.Install(added.back()));
        msitool::Product product(m.platform(), W(Code(1)));
        m.faults.ResetCounts();

        EXPECT_EQ(folder == 193, product.Uninstall()) << folder;
        EXPECT_EQ(folder == 193 ? 1 : 0, m.faults.Calls("CopyFileW")) << folder;
    }
}

TEST_F(ProductTest, APackageNameThatLeavesTheTemporaryFolderIsRefused) {
    for (const char* name : {"..\\outside.msi", "sub/inner.msi", "C:evil.msi", ".."}) {
        m.installer.calls.clear();
        Add(1, "1.0").configureResult = 1603;
        added.back().packageName = name;
        ASSERT_TRUE(m.installer.Install(added.back()));
        msitool::Product product(m.platform(), W(Code(1)));
        m.faults.ResetCounts();

        EXPECT_FALSE(product.Uninstall()) << name;
        EXPECT_EQ(0, m.faults.Calls("CopyFileW")) << name;
        EXPECT_THAT(Calls("MsiInstallProductW"), IsEmpty()) << name;
    }
}

}  // namespace
}  // namespace msitool_testing
