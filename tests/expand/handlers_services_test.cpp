// Service and process entries, on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expand/handlers_test_util.h"

namespace {

using namespace platform;
using engine::CNuke;
using handlers_test::HandlerTest;
using platform::sim::SimServiceState;
using Strings = std::vector<std::string>;

class ServiceHandlers : public ::testing::Test, public HandlerTest {
protected:
    void SetUp() override {
        machine.services.Add("kvAgent", SimServiceState::Running);
        machine.services.Add("KVSrv");
        machine.services.Add("kvflt").type = kServiceFileSystemDriver;
        machine.services.Add("Spooler", SimServiceState::Running);
    }
};

TEST_F(ServiceHandlers, NameWithoutWildcardIsListedWhetherOrNotItExists) {
    EXPECT_EQ(Handle(&CNuke::ExpandServiceName, "NOSUCHSERVICE"), 0u);
    EXPECT_EQ(Listed(), Strings{"NOSUCHSERVICE"});
}

TEST_F(ServiceHandlers, WildcardListsExistingServicesAndDriversAsTheSystemSpellsThem) {
    EXPECT_EQ(Handle(&CNuke::ExpandServiceName, "KV*"), 0u);
    EXPECT_EQ(Listed(), (Strings{"kvAgent", "kvflt", "KVSrv"}));
    EXPECT_EQ(machine.services.OpenHandles(), 0);
}

TEST_F(ServiceHandlers, FailuresOfTheManager) {
    machine.faults.Fail("OpenSCManagerA", kErrorAccessDenied);
    EXPECT_EQ(Handle(&CNuke::ExpandServiceName, "KV*"), kErrorAccessDenied);
    // An enumeration that fails leaves nothing to match; the entry itself is fine.
    machine.faults.Fail("EnumServicesStatusA", kErrorAccessDenied, -1);
    EXPECT_EQ(Handle(&CNuke::ExpandServiceName, "KV*"), 0u);
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(machine.services.OpenHandles(), 0);
}

TEST(ProcessHandlers, OnlyRunningProcessesAreListedByTheirImageName) {
    HandlerTest t;
    t.machine.processes.Add("kvtray.exe");
    t.machine.processes.Add("C:\\Program Files\\Kelvaris\\KVSCAN.EXE");
    t.machine.processes.Add("explorer.exe");
    EXPECT_EQ(t.Handle(&CNuke::ExpandProcessName, "KV*.EXE"), 0u);
    EXPECT_EQ(t.Handle(&CNuke::ExpandProcessName, "KVUPDATE.EXE"), 0u);
    EXPECT_EQ(t.Listed(), (Strings{"KVSCAN.EXE", "kvtray.exe"}));
    EXPECT_EQ(t.machine.processes.OpenSnapshots(), 0);

    t.machine.faults.Fail("CreateToolhelp32Snapshot", kErrorAccessDenied);
    EXPECT_EQ(t.Handle(&CNuke::ExpandProcessName, "*"), kErrorAccessDenied);
}

}  // namespace
