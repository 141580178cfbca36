#include "expand/os_checks.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_machine.h"

namespace {

using expand::InitComUnlessOldOs;
using expand::IsOlderThanXpSp2;
using expand::UninitComUnlessOldOs;

TEST(OsChecks, OlderThanXpSp2ByVersionAndServicePack) {
    struct Case {
        uint32_t major, minor;
        uint16_t servicePack;
        bool old;
    } cases[] = {
        {4, 0, 6, true},                     // NT 4
        {5, 0, 4, true},                     // 2000, any service pack
        {5, 1, 1, true},                     // XP SP1
        {5, 1, 2, false},                    // XP SP2
        {5, 1, 3, false}, {5, 2, 0, false},  // Server 2003 without a service pack
        {6, 0, 0, false}, {6, 1, 1, false}, {10, 0, 0, false},
    };
    for (const Case& c : cases) {
        platform::sim::SimMachine machine;
        machine.system.version.majorVersion = c.major;
        machine.system.version.minorVersion = c.minor;
        machine.system.version.servicePackMajor = c.servicePack;
        EXPECT_EQ(c.old, IsOlderThanXpSp2(machine.platform()))
            << c.major << "." << c.minor << " SP" << c.servicePack;
    }
}

TEST(OsChecks, VersionQueryFailure) {
    platform::sim::SimMachine machine;
    machine.faults.Fail("GetVersionExA", 87, -1);
    EXPECT_EQ(-1, expand::GetOsMajorVersion(machine.platform()));
    EXPECT_EQ(-1, expand::GetOsPlatformId(machine.platform()));
    // A system that refuses the query is counted as old, so COM is left alone.
    EXPECT_TRUE(IsOlderThanXpSp2(machine.platform()));
    EXPECT_EQ(1003u, InitComUnlessOldOs(machine.platform()));
    EXPECT_EQ(0, machine.faults.Calls("CoInitialize"));
}

TEST(ComGuard, InitialisesAndReleasesOnCurrentSystems) {
    platform::sim::SimMachine machine;
    ASSERT_EQ(0, machine.system.ComInitDepth());
    EXPECT_EQ(0u, InitComUnlessOldOs(machine.platform()));
    EXPECT_EQ(1, machine.system.ComInitDepth());
    // Already initialised on this thread (S_FALSE) is still a success to be balanced.
    EXPECT_EQ(0u, InitComUnlessOldOs(machine.platform()));
    EXPECT_EQ(2, machine.system.ComInitDepth());
    UninitComUnlessOldOs(machine.platform());
    UninitComUnlessOldOs(machine.platform());
    EXPECT_EQ(0, machine.system.ComInitDepth());
}

TEST(ComGuard, OldSystemsAndFailuresGive1003) {
    platform::sim::SimMachine old;
    old.system.version = {5, 1, 2600, platform::kVerPlatformWin32Nt, "Service Pack 1", 1, 0};
    EXPECT_EQ(1003u, InitComUnlessOldOs(old.platform()));
    EXPECT_EQ(0, old.faults.Calls("CoInitialize"));
    UninitComUnlessOldOs(old.platform());
    EXPECT_EQ(0, old.system.coUninitializeCalls);

    platform::sim::SimMachine failing;
    failing.faults.Fail("CoInitialize", 0x80004005);  // E_FAIL
    EXPECT_EQ(1003u, InitComUnlessOldOs(failing.platform()));
    EXPECT_EQ(0, failing.system.ComInitDepth());
}

}  // namespace
