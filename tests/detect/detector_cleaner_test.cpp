// The detector's refusals as a whole run sees them: the sequence never starts, nothing on
// the machine changes, and the exit code says the removal was refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_machine.h"
#include "app/cleaner.h"
#include "detect/detector_fixture.h"

namespace {

using namespace detecttest;

constexpr char kConfig[] =
    "[msi upgradecode 1]\r\n[service 1]\r\n[process 1]\r\n[registry value 1]\r\n"
    "[registry key 1]\r\nremove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Suite Settings\r\n"
    "[file 1]\r\n";
constexpr char kSettings[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Suite Settings";

class BlockedRun : public ::testing::Test {
  protected:
    void SetUp() override {
        apptest::UseWindows10(m);
        m.files.CreateFile("C:\\Tools\\sweeptool.cfg", kConfig);
        m.registry.SetString(kSettings, "Theme", "blue", platform::sim::View::K64);
        m.system.environment[u"ProgramFiles"] = u"C:\\Program Files";
        m.files.CreateFile("C:\\Program Files\\Kelvaris\\Suite\\suite.exe", "MZ");
        m.files.CreateFile("C:\\Program Files\\Other\\other.exe", "MZ");
    }

    uint32_t Run(uint32_t removeAll) {
        app::Cleaner c(m.platform());
        c.autoRestart = 0;
        c.removeAll = removeAll;
        c.Run();
        return c.ExitCode();
    }

    bool Untouched() {
        return m.registry.Exists(kSettings, platform::sim::View::K64) && m.files.PendingDeletes().empty() &&
               m.system.shutdowns.empty();
    }

    apptest::ToolMachine m;
};

TEST_F(BlockedRun, AShellClientOnTheMachineRefusesTheRemoval) {
    m.registry.CreatePath(kShellClient);
    EXPECT_EQ(1625u, Run(0));
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(1, apptest::TurnOns(m));
}

TEST_F(BlockedRun, AnEncryptionServiceWithItsKeyRefusesTheRemoval) {
    m.services.Add("kvcrypt1", platform::sim::SimServiceState::Running);
    m.registry.CreatePath(kDiskSealer);
    EXPECT_EQ(1625u, Run(0));
    EXPECT_TRUE(Untouched());
    EXPECT_NE(nullptr, m.services.Find("kvcrypt1"));
}

TEST_F(BlockedRun, RemoveAllOfAProductRootedInProgramFilesIsRefused) {
    m.registry.SetString(kAgent, "ProductName", "Aurel Suite");
    m.registry.SetString(kAgent, "InstallPath", "C:\\Program Files\\");
    EXPECT_EQ(1625u, Run(1));
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(1, apptest::TurnOns(m));
}

TEST_F(BlockedRun, RemoveAllOfAProductInItsOwnFolderTakesThatFolderOnly) {
    // The same machine, the root one level down: the run goes ahead.
    m.registry.SetString(kAgent, "ProductName", "Aurel Suite");
    m.registry.SetString(kAgent, "InstallPath", "C:\\Program Files\\Kelvaris\\Suite\\");
    EXPECT_EQ(3010u, Run(1));
    EXPECT_FALSE(m.registry.Exists(kSettings, platform::sim::View::K64));
    EXPECT_TRUE(m.files.Exists("C:\\Program Files\\Other\\other.exe"));
    EXPECT_FALSE(m.files.Exists("C:\\Program Files\\Kelvaris\\Suite"));
    EXPECT_TRUE(m.files.Exists("C:\\Program Files\\Kelvaris"));
    const std::vector<std::string> queued = apptest::QueuedInStaging(m);
    ASSERT_EQ(1u, queued.size()) << "suite.exe";
    EXPECT_EQ("MZ", m.files.Contents(queued[0]));
}

}  // namespace
