// Service and process entries, on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/log_capture.h"
#include "expand/handlers_test_util.h"
#include "platform/sim/sim_ansi.h"

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

// Under a legacy code page "Ωmega" lists as "Omega", the name of another service, and "报告" as
// "??": nothing is listed by those names, and each service a remove entry reaches is recorded
// and counted failed. In UTF-8 every name is its own.
TEST(ServiceNames, ThoseTheCodePageCannotSpellAreNotListedUnderTheirAliases) {
    for (const uint32_t codePage : {1252u, kCodePageUtf8}) {
        sim::ScopedAnsiCodePage ansi(codePage);
        HandlerTest t;
        enginetest::LogCapture log(t.machine);
        t.machine.services.AddW(u"\u03a9mega");
        t.machine.services.AddW(u"\u62a5\u544a");
        t.machine.services.Add("Omega");
        handlers_test::Data all("*");
        EXPECT_EQ(0u, t.nuke.ExpandServiceName(t.nuke.removeServiceList, all.get()));
        const bool legacy = codePage == 1252;
        const Strings expected = legacy ? Strings{"Omega"} : Strings{"Omega", "\u03a9mega", "\u62a5\u544a"};
        EXPECT_EQ(expected, handlers_test::Items(t.nuke.removeServiceList));
        EXPECT_EQ(legacy ? 2u : 0u, t.nuke.counts.servicesFailed);
        for (const char* alias : {"Omega", "??"})
            EXPECT_EQ(legacy, log.Has(std::string("*E: CNuke::ExpandServiceName: Service '") + alias +
                                      "' has a name the ANSI code page 1252 cannot spell: not removed"))
                << log.Text();
    }
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
