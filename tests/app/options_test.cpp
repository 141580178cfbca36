#include <gtest/gtest.h>

#include "app/scour_app.h"
#include "platform/sim/sim_machine.h"

namespace {

using app::ApplyCommandLine;
using app::Cleaner;

struct OptionCase {
    std::vector<std::string> args;
    bool usage;
    bool dialog;
    uint32_t removeAll, noReboot, autoRestart, rebootDelay;
};

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, SetsTheCleanersOptions) {
    const OptionCase& c = GetParam();
    platform::sim::SimMachine m;
    Cleaner cleaner(m.platform());
    cleaner.autoRestart = 0;
    std::vector<std::string> argv{"C:\\t\\sweeptool.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    app::ParsedOptions p = ApplyCommandLine(argv, cleaner);
    EXPECT_EQ(p.showUsage, c.usage);
    if (c.usage) return;
    EXPECT_EQ(p.showDialog, c.dialog);
    EXPECT_EQ(cleaner.removeAll, c.removeAll);
    EXPECT_EQ(cleaner.noReboot, c.noReboot);
    EXPECT_EQ(cleaner.autoRestart, c.autoRestart);
    EXPECT_EQ(cleaner.rebootDelay, c.rebootDelay);
    EXPECT_EQ(cleaner.forceMsi, 1u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Options, OptionTable, ::testing::Values(
    OptionCase{{}, false, true, 0, 0, 0, 0},
    OptionCase{{"--NOGUI"}, false, false, 0, 0, 1, 0},
    OptionCase{{"--nogui"}, false, false, 0, 0, 1, 0},                      // whole-argument options ignore case
    OptionCase{{"--NoReboot", "--REMOVEALL"}, false, true, 1, 1, 0, 0},
    OptionCase{{"--forcemsi"}, false, true, 0, 0, 0, 0},                    // already the default
    OptionCase{{"--server"}, false, true, 0, 0, 0, 0},                      // accepted, no effect
    OptionCase{{"--reboot-delay=30"}, false, true, 0, 0, 0, 30},
    OptionCase{{"x--reboot-delay=30"}, false, true, 0, 0, 0, 30},           // found anywhere in the argument
    OptionCase{{"--reboot-delay=  +45s"}, false, true, 0, 0, 0, 45},        // atol: blanks, sign, stops at a non-digit
    OptionCase{{"--reboot-delay="}, false, true, 0, 0, 0, 0},
    OptionCase{{"--reboot-delay=abc"}, false, true, 0, 0, 0, 0},
    OptionCase{{"--reboot-delay=10", "--reboot-delay=0"}, false, true, 0, 0, 0, 10},
    OptionCase{{"--reboot-delay=10", "--reboot-delay=-5"}, false, true, 0, 0, 0, 10},  // negative keeps the delay
    OptionCase{{"--reboot-delay=315360001"}, false, true, 0, 0, 0, 315360000},         // lowered to the maximum
    OptionCase{{"--reboot-delay=99999999999999999999999"}, false, true, 0, 0, 0, 315360000},
    OptionCase{{"a--reboot-delay=5=7"}, false, true, 0, 0, 0, 5},           // the number follows the first "="
    OptionCase{{"--REBOOT-DELAY=30"}, true, true, 0, 0, 0, 0},              // that match is case-sensitive
    OptionCase{{"--help"}, true, true, 0, 0, 0, 0},
    OptionCase{{"--noreboot", "--help"}, true, true, 0, 0, 0, 0},
    OptionCase{{"--NOGUI", "bogus", "--noreboot"}, true, true, 0, 0, 0, 0},
    OptionCase{{" --NOGUI"}, true, true, 0, 0, 0, 0},
    OptionCase{{""}, true, true, 0, 0, 0, 0}));
// clang-format on

struct ModeCase {
    std::vector<std::string> args;
    bool usage, check, preview;
};

class ModeOptions : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeOptions, CheckAndPreviewAreWholeArgumentsInAnyCase) {
    const ModeCase& c = GetParam();
    platform::sim::SimMachine m;
    Cleaner cleaner(m.platform());
    std::vector<std::string> argv{"sweeptool"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    app::ParsedOptions p = ApplyCommandLine(argv, cleaner);
    EXPECT_EQ(p.showUsage, c.usage);
    if (c.usage) return;
    EXPECT_EQ(p.check, c.check);
    EXPECT_EQ(p.preview, c.preview);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Modes, ModeOptions, ::testing::Values(
    ModeCase{{}, false, false, false},
    ModeCase{{"--check"}, false, true, false},
    ModeCase{{"--CHECK"}, false, true, false},
    ModeCase{{"--Preview", "--NOGUI", "--removeall"}, false, false, true},
    ModeCase{{"--preview", "--check"}, false, true, true},
    ModeCase{{"--check=1"}, true, false, false},
    ModeCase{{"-check"}, true, false, false},
    ModeCase{{"--check "}, true, false, false},
    ModeCase{{"--check", "--help"}, true, false, false},   // the usage box still wins
    ModeCase{{"--preview", "bogus"}, true, false, false}));
// clang-format on

TEST(ModeOptions, OtherOptionsStillReachTheCleanerForThePreview) {
    platform::sim::SimMachine m;
    Cleaner cleaner(m.platform());
    cleaner.autoRestart = 0;
    app::ParsedOptions p =
        ApplyCommandLine({"sweeptool", "--preview", "--NOGUI", "--noreboot", "--removeall"}, cleaner);
    EXPECT_TRUE(p.preview);
    EXPECT_FALSE(p.showDialog);
    EXPECT_EQ(cleaner.autoRestart, 1u);
    EXPECT_EQ(cleaner.noReboot, 1u);
    EXPECT_EQ(cleaner.removeAll, 1u);
}

TEST(Usage, TextNamesTheProgramAsTyped) {
    EXPECT_EQ(app::UsageText("sweeptool"),
              "Usage:\nsweeptool [switch]\n--NOGUI to hide the user interface\n--help to see this message\n");
    // A path with printf directives in it is text, not a format.
    EXPECT_EQ(app::UsageText("C:\\%s%n\\x.exe").substr(0, 21), "Usage:\nC:\\%s%n\\x.exe ");
}

}  // namespace
