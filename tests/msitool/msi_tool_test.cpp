#include "msitool/msi_tool.h"

#include <gmock/gmock.h>

#include "msitool_fixture.h"

namespace msitool_testing {
namespace {

using platform::sim::View;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class MsiToolRunTest : public MsiToolTest {
  protected:
    void SetUp() override {
        Add(1, "1.0");
        Add(2, "2.0");
        InstallAll();
        m.system.hasConsole = true;
    }
    uint32_t Run(const std::u16string& command, bool skip = true) {
        return msitool::MsiToolRunCommand(m.platform(), command, skip);
    }
    bool NothingDone() {
        return m.installer.calls.empty() && m.installer.queries.empty() && m.installer.IsInstalled(Code(1)) &&
               m.installer.IsInstalled(Code(2));
    }
};

TEST_F(MsiToolRunTest, UninstallRemovesTheFamilyWhicheverOrderTheArgumentsCome) {
    EXPECT_EQ(0u, Run(u"/u:" + W(kUpgrade) + u" /uninstall"));
    EXPECT_THAT(Uninstalls(), ElementsAre(Code(2), Code(1)));
    EXPECT_FALSE(m.installer.IsInstalled(Code(1)));
}

TEST_F(MsiToolRunTest, CommandsOutsideTheLanguageAreRefusedAndDoNothing) {
    for (const std::u16string& command :
         {std::u16string(), u"/uninstall /U:" + W(kUpgrade),
          u"/uninstall /u:" + W(kUpgrade) + u" /hideoldaddremoves", u"/remove /u:" + W(kUpgrade)}) {
        EXPECT_EQ(160u, Run(command, false)) << N(command);
        EXPECT_TRUE(NothingDone()) << N(command);
    }
    EXPECT_EQ(u"", m.system.consoleErrorText);
}

TEST_F(MsiToolRunTest, HelpAndAMissingUpgradeCodeSucceedWithoutDoingAnything) {
    m.system.tokenGroups = {{"S-1-1-0", platform::kSeGroupEnabled}};
    EXPECT_EQ(0u, Run(u"/? /uninstall", false));
    m.system.tokenGroups = {{platform::kAdministratorsSid, platform::kSeGroupEnabled}};
    EXPECT_EQ(0u, Run(u"/uninstall /u:", false));
    EXPECT_EQ(0u, Run(u"/uninstall", false));
    EXPECT_TRUE(NothingDone());
    EXPECT_EQ(0u, Run(u"/uninstall /u:{01234567-89AB-CDEF-0123-456789ABCDEF}"));
    EXPECT_TRUE(m.installer.calls.empty());
}

TEST_F(MsiToolRunTest, TheAdministratorCheckRunsUnlessSkipped) {
    m.system.tokenGroups = {{"S-1-1-0", platform::kSeGroupEnabled}};
    EXPECT_EQ(5u, Run(u"/uninstall /u:" + W(kUpgrade), false));
    EXPECT_TRUE(NothingDone());
    EXPECT_EQ(216u, m.system.consoleErrorText.size());

    EXPECT_EQ(0u, Run(u"/uninstall /u:" + W(kUpgrade), true));
    EXPECT_FALSE(m.installer.IsInstalled(Code(2)));
}

TEST_F(MsiToolRunTest, HideOldAddRemovesHidesAndUninstallsNothing) {
    EXPECT_EQ(160u, Run(u"/hideoldaddremoves /uninstall /u:" + W(kUpgrade)));  // three arguments
    EXPECT_EQ(0u, Run(u"/uninstall /hideoldaddremoves"));
    EXPECT_TRUE(NothingDone());
    EXPECT_EQ(0u, Run(u"/hideoldaddremoves /u:" + W(kUpgrade)));
    EXPECT_THAT(Uninstalls(), IsEmpty());
    EXPECT_TRUE(m.registry.ValueExists(kUninstallKey + Code(1), "SystemComponent", View::K32));
    EXPECT_FALSE(m.registry.ValueExists(kUninstallKey + Code(2), "SystemComponent", View::K32));
}

}  // namespace
}  // namespace msitool_testing
