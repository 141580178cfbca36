#include "msitool/user_info.h"

#include <gtest/gtest.h>

#include "msitool_fixture.h"

namespace msitool_testing {
namespace {

using platform::TokenGroup;
constexpr uint32_t kEnabled = platform::kSeGroupEnabled;
constexpr uint32_t kDenyOnly = platform::kSeGroupUseForDenyOnly;

class UserInfoTest : public MsiToolTest {
  protected:
    bool IsAdministrator(const std::vector<TokenGroup>& groups, uint32_t major) {
        m.system.tokenGroups = groups;
        m.system.version.majorVersion = major;
        return msitool::UserInfo(m.platform()).IsAdministrator();
    }
};

TEST_F(UserInfoTest, AdministratorsGroupCountsEnabledOrDenyOnlyFromVistaOn) {
    const std::string admins = platform::kAdministratorsSid;
    EXPECT_TRUE(IsAdministrator({{"S-1-1-0", kEnabled}, {admins, kEnabled | 0x3}}, 5));
    EXPECT_TRUE(IsAdministrator({{admins, kDenyOnly}}, 6));
    EXPECT_FALSE(IsAdministrator({{admins, kDenyOnly}}, 5));
    EXPECT_FALSE(IsAdministrator({{admins, 0x3}}, 6));  // mandatory and default, not enabled
    EXPECT_FALSE(IsAdministrator({{"S-1-5-32-545", kEnabled}, {"S-1-5-32-5440", kEnabled}}, 10));
    EXPECT_FALSE(IsAdministrator({}, 6));
}

TEST_F(UserInfoTest, TheThreadTokenIsPreferredToTheProcessToken) {
    m.system.threadTokenGroups = std::vector<TokenGroup>{{"S-1-1-0", kEnabled}};
    EXPECT_FALSE(msitool::UserInfo(m.platform()).IsAdministrator());  // the process token would say yes
    m.system.threadTokenGroups = std::vector<TokenGroup>{{platform::kAdministratorsSid, kEnabled}};
    m.system.tokenGroups.clear();
    EXPECT_TRUE(msitool::UserInfo(m.platform()).IsAdministrator());
}

TEST_F(UserInfoTest, TokensThatCannotBeOpenedOrReadMeanNoAdministrator) {
    for (const char* call : {"OpenProcessToken", "GetTokenInformation"}) {
        m.faults.Fail(call, platform::kErrorAccessDenied);
        EXPECT_FALSE(msitool::UserInfo(m.platform()).IsAdministrator()) << call;
    }
    m.faults.Fail("OpenThreadToken", platform::kErrorAccessDenied);
    EXPECT_TRUE(msitool::UserInfo(m.platform()).IsAdministrator());  // the process token answers
}

TEST_F(UserInfoTest, TheConsoleMessageIsExactAndOnlyWrittenWhenWanted) {
    m.system.hasConsole = true;
    EXPECT_TRUE(msitool::UserInfo(m.platform()).CheckAdministrator(true));
    m.system.tokenGroups = {{"S-1-1-0", kEnabled}};
    EXPECT_FALSE(msitool::UserInfo(m.platform()).CheckAdministrator(false));
    EXPECT_EQ(u"", m.system.consoleErrorText);

    EXPECT_FALSE(msitool::UserInfo(m.platform()).CheckAdministrator(true));
    EXPECT_EQ(216u, m.system.consoleErrorText.size());
    EXPECT_EQ(
        "Initialization Error: Insufficient privileges.\nThis tool needs to be run with administrative "
        "rights.\n"
        "Please log in as an administrator or use the 'Run as...'\nfunctionality to run the tool with "
        "administrative rights.\n",
        N(m.system.consoleErrorText));

    m.system.hasConsole = false;  // a dialog process: nowhere to write, the answer stays
    EXPECT_FALSE(msitool::UserInfo(m.platform()).CheckAdministrator(true));
}

}  // namespace
}  // namespace msitool_testing
