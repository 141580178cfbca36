// The installer uninstall step: which codes reach the installer tool, in which order, what
// its results and exceptions make of the step, and the pauses of the built-in list.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "actions/builtin_upgrade_codes.h"
#include "actions/removal_fixture.h"

namespace {

using removal_testing::Record;
using removal_testing::RemovalTest;

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

class MsiUninstallTest : public RemovalTest {
  protected:
    // The fake tool answers from `answers` by command (0 when absent); a negative answer
    // throws that many times before it answers 0.
    void SetUp() override {
        RemovalTest::SetUp();
        nuke.msiTool = [this](const std::u16string& command, bool skip) -> uint32_t {
            commands.push_back(Narrow(command));
            EXPECT_TRUE(skip) << "the run already holds administrator rights";
            auto it = throws.find(Narrow(command));
            if (it != throws.end() && it->second > 0) {
                --it->second;
                throw std::runtime_error("tool failure");
            }
            auto a = answers.find(Narrow(command));
            return a == answers.end() ? 0 : a->second;
        };
    }
    std::vector<std::string> BuiltInCommands() {
        std::vector<std::string> out;
        for (const char* code : engine::kBuiltInUpgradeCodes)
            out.push_back(std::string("/uninstall /u:") + code);
        return out;
    }
    std::vector<std::string> commands;
    std::map<std::string, uint32_t> answers;
    std::map<std::string, int> throws;
};

TEST_F(MsiUninstallTest, ConfiguredCodesInSetOrderThenTheSixteenBuiltInOnesWithTheirPauses) {
    List(nuke.msiUpgradeCodeList,
         {"{BBBBBBBB-0000-0000-0000-000000000002}", "{AAAAAAAA-0000-0000-0000-000000000001}"});
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    std::vector<std::string> expected = {"/uninstall /u:{AAAAAAAA-0000-0000-0000-000000000001}",
                                         "/uninstall /u:{BBBBBBBB-0000-0000-0000-000000000002}"};
    for (const std::string& c : BuiltInCommands()) expected.push_back(c);
    EXPECT_EQ(commands, expected);
    // Lower-case built-in codes reach the tool exactly as written.
    EXPECT_EQ(commands[2 + 3], "/uninstall /u:{b315d5a3-9a2c-4388-a77b-0c794b351172}");
    EXPECT_EQ(m.system.sleeps, std::vector<uint32_t>(16, 5000));
    EXPECT_EQ(m.system.clockMs, 80000u);

    auto messages = Messages();
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages.front(), "5 CNuke::MsiUninstall: MsiUninstall: entry");
    EXPECT_EQ(messages[1], "5 CNuke::MsiUninstall: MsiUninstall: looping start...");
    EXPECT_EQ(messages[2], "5 CNuke::MsiUninstall: MsiUninstall Parsing upgrade code...");
    EXPECT_EQ(messages[3],
              "5 CNuke::MsiUninstall: MsiUninstall calling KvMsi api using command "
              "'/uninstall /u:{AAAAAAAA-0000-0000-0000-000000000001}'...");
    EXPECT_EQ(messages[4], "4 CNuke::MsiUninstall: MsiUninstall returned value '0'");
    EXPECT_EQ(messages.back(), "5 CNuke::MsiUninstall: MsiUninstall: looping exit");
    EXPECT_TRUE(Logged(5,
                       "CNuke::HCMSIUninstall: HCMSIUninstall calling KvMsi api using command "
                       "'/uninstall /u:{C6E6DE62-3579-4AB7-84F4-DD97EFA97976}'..."));
    EXPECT_TRUE(Logged(4, "CNuke::HCMSIUninstall: HCMSIUninstall returned value '0'"));
}

TEST_F(MsiUninstallTest, TheFirstNonZeroResultOfAConfiguredCodeIsTheStepResultAfterTheWholeStep) {
    List(nuke.msiUpgradeCodeList,
         {"{A0000000-0000-0000-0000-000000000000}", "{B0000000-0000-0000-0000-000000000000}",
          "{C0000000-0000-0000-0000-000000000000}"});
    answers["/uninstall /u:{B0000000-0000-0000-0000-000000000000}"] = 160;
    answers["/uninstall /u:{C0000000-0000-0000-0000-000000000000}"] = 1603;
    // Built-in results never reach the step result.
    answers[BuiltInCommands()[0]] = 1618;
    EXPECT_EQ(nuke.MsiUninstall(), 160u);
    EXPECT_EQ(commands.size(), 3u + 16u);
    EXPECT_TRUE(Logged(4, "CNuke::MsiUninstall: MsiUninstall returned value '1603'"));
    EXPECT_TRUE(Logged(4, "CNuke::HCMSIUninstall: HCMSIUninstall returned value '1618'"));
}

TEST_F(MsiUninstallTest, BuiltInResultsAloneLeaveTheStepAtZero) {
    for (const std::string& c : BuiltInCommands()) answers[c] = 1603;
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    EXPECT_EQ(commands, BuiltInCommands());
}

TEST_F(MsiUninstallTest, AnExceptionIsRetriedOnceAndASecondOneSkipsTheCode) {
    const std::string once = "/uninstall /u:{A0000000-0000-0000-0000-000000000000}";
    const std::string twice = "/uninstall /u:{B0000000-0000-0000-0000-000000000000}";
    List(nuke.msiUpgradeCodeList,
         {"{A0000000-0000-0000-0000-000000000000}", "{B0000000-0000-0000-0000-000000000000}"});
    throws[once] = 1;
    answers[once] = 0;
    throws[twice] = 5;  // would throw again on a third call, which must not come
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    std::vector<std::string> configured(commands.begin(), commands.begin() + 4);
    EXPECT_EQ(configured, (std::vector<std::string>{once, once, twice, twice}));
    EXPECT_EQ(throws[twice], 3);
    EXPECT_TRUE(Logged(3, "CNuke::MsiUninstall: MsiUninstall crashed..."));
    EXPECT_TRUE(Logged(5, "CNuke::MsiUninstall: Trying again the MsiUninstall uninstall..."));
    EXPECT_TRUE(
        Logged(2, "CNuke::MsiUninstall: MsiUninstall crashed two times in row, trying next MsiUninstall"));
}

TEST_F(MsiUninstallTest, ARetryAfterAnExceptionCountsWithItsOwnResult) {
    const std::string code = "/uninstall /u:{A0000000-0000-0000-0000-000000000000}";
    List(nuke.msiUpgradeCodeList, {"{A0000000-0000-0000-0000-000000000000}"});
    throws[code] = 1;
    answers[code] = 1605;
    EXPECT_EQ(nuke.MsiUninstall(), 1605u);
}

TEST_F(MsiUninstallTest, BuiltInCodesThatThrowArePausedOnlyAfterASuccessfulRetry) {
    auto builtIn = BuiltInCommands();
    throws[builtIn[0]] = 1;  // retried, answers, pauses
    throws[builtIn[1]] = 2;  // skipped without a pause
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    EXPECT_EQ(commands.size(), 18u);
    EXPECT_EQ(m.system.sleeps, std::vector<uint32_t>(15, 5000));
    int removals = 0;  // the registrations go only after a first call that returned
    for (const Record& r : Records())
        removals += r.level == 4 && r.message.find(": removing upgradecode") != std::string::npos;
    EXPECT_EQ(removals, 14);
    EXPECT_TRUE(Logged(3, "CNuke::HCMSIUninstall: HCMSIUninstall crashed..."));
    EXPECT_TRUE(Logged(5, "CNuke::HCMSIUninstall: Trying again the HCMSIUninstall uninstall..."));
    EXPECT_TRUE(Logged(
        2, "CNuke::HCMSIUninstall: HCMSIUninstall crashed two times in row, trying next MsiUninstall"));
}

TEST_F(MsiUninstallTest, AFailureToCountTheRelatedProductsIsNoCrashOfTheTool) {
    const char* code = "{A0000000-0000-0000-0000-000000000000}";
    List(nuke.msiUpgradeCodeList, {code});
    int left = 1;
    m.faults.SetHook([&](const std::string& call) {
        if (call == "MsiEnumRelatedProductsW" && left-- > 0) throw std::runtime_error("count failure");
    });
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    EXPECT_EQ(commands.size(), 17u);
    EXPECT_FALSE(Logged(3, "CNuke::MsiUninstall: MsiUninstall crashed..."));
    EXPECT_TRUE(Logged(3, "CNuke::UninstallThroughTool: related products of upgrade code '" +
                              std::string(code) + "' could not be counted"));
}

TEST_F(MsiUninstallTest, NothingHappensOffTheNtPlatform) {
    List(nuke.msiUpgradeCodeList, {"{A0000000-0000-0000-0000-000000000000}"});
    m.system.version.platformId = platform::kVerPlatformWin32Windows;
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(m.system.sleeps.empty());
}

TEST_F(MsiUninstallTest, ACodeTooLongForTheCommandIsSkippedWithAWarning) {
    std::string longCode(300, 'A');
    List(nuke.msiUpgradeCodeList, {longCode.c_str()});
    EXPECT_EQ(nuke.MsiUninstall(), 0u);
    EXPECT_EQ(commands, BuiltInCommands());
    EXPECT_TRUE(Logged(3, "CNuke::MsiUninstall: MsiUninstall: upgrade code '" + longCode +
                              "' is too long for a command, skipped"));
}

}  // namespace
