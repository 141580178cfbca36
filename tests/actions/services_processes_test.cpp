// The steps that deal with running code: every instance of a listed program ended within
// one 10-second budget, services stopped with up to 30 polls and deleted, follow-up
// programs found and started. Time is the simulated machine's virtual clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/removal_fixture.h"

namespace {

using platform::sim::SimProcess;
using platform::sim::SimService;
using platform::sim::SimServiceState;
using removal_testing::RemovalTest;

class StopProcessesTest : public RemovalTest {
  protected:
    int Count(const std::vector<std::string>& messages, const std::string& text) {
        int n = 0;
        for (const std::string& s : messages) n += s == text;
        return n;
    }
};

TEST_F(StopProcessesTest, EveryInstanceOfAListedProgramIsEndedAndOthersAreLeft) {
    List(nuke.stopProcessList, {"KVTRAY.EXE", "KVUI.EXE", "OMEGA.EXE"});
    // On a Windows that keeps 1252, "Ωmega.exe" is reported as "Omega.exe": another program.
    SimProcess& greek = m.processes.Add("x");
    greek.wideExeFile = u"\u03A9mega.exe";
    const uint32_t alias = greek.processId;
    uint32_t a = m.processes.Add("kvtray.exe").processId;
    uint32_t b = m.processes.Add("KvTray.exe").processId;
    m.processes.Add("C:\\Program Files\\Kelvaris\\kvui.exe");  // a full image path: its file name counts
    uint32_t other = m.processes.Add("notkvtray.exe").processId;

    EXPECT_EQ(nuke.StopNTProcesses(), 0u);
    EXPECT_EQ(m.processes.Find(a), nullptr);
    EXPECT_EQ(m.processes.Find(b), nullptr);
    ASSERT_NE(m.processes.Find(other), nullptr);
    ASSERT_NE(m.processes.Find(alias), nullptr);
    ASSERT_EQ(m.processes.exited.size(), 3u);
    for (const auto& e : m.processes.exited) {
        EXPECT_TRUE(e.terminated);
        EXPECT_EQ(e.exitCode, 0xFFFFFFFFu);
    }
    auto messages = Messages();
    EXPECT_EQ(Count(messages, "5 CNuke::StopNTProcesses: Terminating process: 'kvtray.exe'"), 1);
    EXPECT_EQ(Count(messages, "5 CNuke::StopNTProcesses: Terminating process: 'KvTray.exe'"), 1);
    EXPECT_EQ(Count(messages, "5 CNuke::StopNTProcesses: Terminating process: 'kvui.exe'"), 1);
    EXPECT_TRUE(
        Logged(2,
               "CNuke::StopNTProcesses: Process '\xCE\xA9mega.exe' has a name the ANSI code page 1252 "
               "cannot spell: not removed"));
    EXPECT_EQ(messages.back(), "5 CNuke::StopNTProcesses: StopNTProcesses was successful");
    EXPECT_EQ(m.processes.OpenProcessHandles(), 0);
    EXPECT_EQ(m.processes.OpenSnapshots(), 0);
}

TEST_F(StopProcessesTest, AnEmptyListWalksTheSnapshotAndWaitsOnNothing) {
    m.processes.Add("kvtray.exe");
    EXPECT_EQ(nuke.StopNTProcesses(), 0u);
    EXPECT_EQ(m.faults.Calls("Process32First"), 1);
    EXPECT_EQ(m.faults.Calls("WaitForMultipleObjects"), 0);
    EXPECT_TRUE(m.processes.exited.empty());
    EXPECT_TRUE(Logged(5, "CNuke::StopNTProcesses: StopNTProcesses was successful"));
}

TEST_F(StopProcessesTest, MoreThanSixtyFourMatchesAreAllEndedAndWaitedForWithinOneBudget) {
    List(nuke.stopProcessList, {"KVWORKER.EXE"});
    for (int i = 0; i < 150; ++i) m.processes.Add("kvworker.exe").terminateDelayMs = i == 63 ? 6000 : 4000;
    EXPECT_EQ(nuke.StopNTProcesses(), 0u);
    EXPECT_EQ(m.processes.exited.size(), 150u);
    // Three batches (64, 64, 22); the 64th, the slowest, has ended too: 6 s, well inside the budget.
    EXPECT_EQ(m.faults.Calls("WaitForMultipleObjects"), 3);
    EXPECT_EQ(m.system.clockMs, 6000u);
    EXPECT_EQ(m.processes.OpenProcessHandles(), 0);
}

TEST_F(StopProcessesTest, ProcessesThatHangCostTenSecondsInAllHoweverManyBatches) {
    List(nuke.stopProcessList, {"KVHANG.EXE"});
    for (int i = 0; i < 130; ++i) m.processes.Add("kvhang.exe").terminateDelayMs = SimProcess::kNeverEnds;
    EXPECT_EQ(nuke.StopNTProcesses(), 0u);
    EXPECT_EQ(m.system.clockMs, 10000u);
    EXPECT_EQ(m.processes.OpenProcessHandles(), 0);
    EXPECT_TRUE(Logged(5, "CNuke::StopNTProcesses: StopNTProcesses was successful"));
}

TEST_F(StopProcessesTest, AProcessThatRefusesToBeOpenedIsSkippedSilently) {
    List(nuke.stopProcessList, {"KVTRAY.EXE"});
    m.processes.Add("kvtray.exe").denyOpen = true;
    uint32_t second = m.processes.Add("kvtray.exe").processId;
    EXPECT_EQ(nuke.StopNTProcesses(), 0u);
    ASSERT_EQ(m.processes.exited.size(), 1u);
    EXPECT_EQ(m.processes.exited[0].processId, second);
    for (const auto& r : Records()) EXPECT_GE(r.level, 5) << r.message;
}

TEST_F(StopProcessesTest, TheToolNeverEndsItself) {
    List(nuke.stopProcessList, {"SWEEPTOOL.EXE"});
    EXPECT_EQ(nuke.StopNTProcesses(), 0u);
    EXPECT_NE(m.processes.Find(m.system.processId), nullptr);
    EXPECT_TRUE(
        Logged(3, "CNuke::StopNTProcesses: Not terminating process 'sweeptool.exe': it is this tool itself"));
}

TEST_F(StopProcessesTest, ASnapshotThatCannotBeTakenIsTheStepResult) {
    List(nuke.stopProcessList, {"KVTRAY.EXE"});
    m.processes.Add("kvtray.exe");
    m.faults.Fail("CreateToolhelp32Snapshot", platform::kErrorNotEnoughMemory);
    EXPECT_EQ(nuke.StopNTProcesses(), platform::kErrorNotEnoughMemory);
    EXPECT_TRUE(m.processes.exited.empty());
}

class StopServicesTest : public RemovalTest {};

TEST_F(StopServicesTest, ARunningServiceIsStoppedPolledAndDeletedUnderTheDatabaseLock) {
    List(nuke.serviceList, {"KVSVC"});
    SimService& s = m.services.Add("KvSvc", SimServiceState::Running);
    s.stopDelayMs = 2500;
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_EQ(m.services.Find("KvSvc"), nullptr);
    EXPECT_EQ(m.services.removed, std::vector<std::string>{"KvSvc"});
    // Polled at 1, 2 and 3 seconds; stopped at the third.
    EXPECT_EQ(m.system.sleeps, (std::vector<uint32_t>{1000, 1000, 1000}));
    EXPECT_EQ(m.faults.Calls("LockServiceDatabase"), 1);
    EXPECT_EQ(m.faults.Calls("UnlockServiceDatabase"), 1);
    EXPECT_FALSE(m.services.Locked());
    EXPECT_EQ(m.services.OpenHandles(), 0);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"4 CNuke::StopNTServices: Terminating service 'KVSVC' was successful",
                                        "5 CNuke::StopNTServices: StopNTServices was successful"}));
}

TEST_F(StopServicesTest, AServiceThatNeverStopsGetsThirtyPollsAndIsDeletedAllTheSame) {
    List(nuke.serviceList, {"KVHANG"});
    m.services.Add("KvHang", SimServiceState::Running).stopDelayMs = SimService::kNeverStops;
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_EQ(m.system.sleeps, std::vector<uint32_t>(30, 1000));
    EXPECT_EQ(m.faults.Calls("QueryServiceStatus"), 30);
    const SimService* s = m.services.Find("KvHang");
    ASSERT_NE(s, nullptr);  // Windows removes it once it stops
    EXPECT_TRUE(s->deleted);
    EXPECT_TRUE(Logged(4, "CNuke::StopNTServices: Terminating service 'KVHANG' was successful"));
}

TEST_F(StopServicesTest, AStoppedServiceCostsOnePoll) {
    List(nuke.serviceList, {"KVIDLE"});
    m.services.Add("KvIdle", SimServiceState::Stopped);
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_EQ(m.system.sleeps, std::vector<uint32_t>{1000});
    EXPECT_EQ(m.services.Find("KvIdle"), nullptr);
}

TEST_F(StopServicesTest, AMissingServiceIsNotAnError) {
    List(nuke.serviceList, {"KVLEGACY"});
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{
                  "5 CNuke::StopNTServices: Service 'KVLEGACY' doesn't exist. The current product "
                  "installation is not using this legacy service anymore",
                  "5 CNuke::StopNTServices: StopNTServices was successful"}));
    EXPECT_TRUE(m.system.sleeps.empty());
}

TEST_F(StopServicesTest, AServiceThatCannotBeOpenedMarksTheSummaryButTheWalkGoesOn) {
    List(nuke.serviceList, {"KVA", "KVB"});
    m.services.Add("KvA", SimServiceState::Running);
    m.services.Add("KvB", SimServiceState::Running);
    m.faults.Fail("OpenServiceA", platform::kErrorAccessDenied);
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_NE(m.services.Find("KvA"), nullptr);
    EXPECT_EQ(m.services.Find("KvB"), nullptr);
    EXPECT_TRUE(Logged(3, "CNuke::LogErrorCode: Terminating service 'KVA' reported error code '5'"));
    EXPECT_TRUE(Logged(2, "CNuke::StopNTServices: StopNTServices encountered errors"));
    EXPECT_FALSE(Logged(5, "CNuke::StopNTServices: StopNTServices was successful"));
}

TEST_F(StopServicesTest, AFailedDeletionIsAWarningThatLeavesTheSummaryClean) {
    List(nuke.serviceList, {"KVSVC"});
    m.services.Add("KvSvc", SimServiceState::Running);
    m.faults.Fail("DeleteService", platform::kErrorServiceMarkedForDelete);
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_TRUE(Logged(
        3, "CNuke::StopNTServices: Service 'KVSVC' stopped, service delete returned with error '1072'"));
    EXPECT_TRUE(Logged(5, "CNuke::StopNTServices: StopNTServices was successful"));
}

TEST_F(StopServicesTest, WithoutTheLockTheWalkGoesOnAndNothingIsUnlocked) {
    List(nuke.serviceList, {"KVSVC"});
    m.services.Add("KvSvc", SimServiceState::Running);
    m.faults.Fail("LockServiceDatabase", platform::kErrorServiceDatabaseLocked);
    EXPECT_EQ(nuke.StopNTServices(), 0u);
    EXPECT_EQ(m.services.Find("KvSvc"), nullptr);
    EXPECT_EQ(m.faults.Calls("UnlockServiceDatabase"), 0);
}

TEST_F(StopServicesTest, AServiceManagerThatCannotBeOpenedIsTheStepResult) {
    List(nuke.serviceList, {"KVSVC"});
    m.services.Add("KvSvc", SimServiceState::Running);
    m.faults.Fail("OpenSCManagerA", platform::kErrorAccessDenied);
    EXPECT_EQ(nuke.StopNTServices(), platform::kErrorAccessDenied);
    EXPECT_NE(m.services.Find("KvSvc"), nullptr);
    EXPECT_TRUE(Records().empty());
}

class StartProcessesTest : public RemovalTest {};

TEST_F(StartProcessesTest, AFullPathIsStartedAsWritten) {
    m.files.CreateFile("C:\\Tools\\after.exe", "MZ");
    MachineOnly("C:\\Tools\\after.exe");
    List(nuke.startProcessList, {"C:\\TOOLS\\AFTER.EXE"});
    EXPECT_EQ(nuke.StartNTProcesses(), 0u);
    EXPECT_EQ(m.processes.started, std::vector<std::string>{"C:\\TOOLS\\AFTER.EXE"});
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "5 CNuke::StartNTProcesses: Starting process 'C:\\TOOLS\\AFTER.EXE'...",
                              "4 CNuke::StartNTProcesses: Process 'C:\\TOOLS\\AFTER.EXE' started "
                              "successfully"}));
}

TEST_F(StartProcessesTest, ABareNameIsLookedForInTheWindowsFolderThenTheRootAndNowhereElse) {
    m.files.CreateFile("C:\\after.exe", "MZ");
    m.files.CreateFile("C:\\windows\\after.exe", "MZ");
    m.files.CreateFile("C:\\other.exe", "MZ");
    m.files.CreateFile("C:\\Windows\\System32\\other.exe", "MZ");
    MachineOnly("C:\\after.exe");
    MachineOnly("C:\\windows\\after.exe");
    MachineOnly("C:\\other.exe");
    // What a standard user made in the root, and a listed program anyone may rewrite.
    ASSERT_EQ(0u, m.files.UserCreateFile("S-1-5-21-7-7-7-1001", "C:\\rooted.exe", "MZ"));
    m.files.CreateFile("C:\\Tools\\open.exe", "MZ");
    // Where a standard user may put programs: the search path, the current folder.
    m.system.currentDirectory = "C:\\Users\\u";
    m.system.environment[u"PATH"] = u"C:\\UserTools";
    for (const char* planted : {"C:\\UserTools\\planted.exe", "C:\\Users\\u\\here.exe",
                                "C:\\Users\\u\\sub\\x.exe", "C:\\Windows\\System32\\system.exe"})
        m.files.CreateFile(planted, "MZ");
    // A folder made at the root takes the root's grant to signed-in users by inheritance.
    m.files.CreateFile("C:\\Shared\\kv.exe", "MZ");
    MachineOnly("C:\\Shared\\kv.exe");
    m.files.SecurityOf("C:\\")->sddl =
        std::string(removal_testing::kMachineList) + "(A;CIIO;0x1301bf;;;S-1-5-11)";
    m.files.SecurityOf("C:\\Shared")->sddl = "D:(A;OICI;0x1f01ff;;;S-1-5-32-544)";
    List(nuke.startProcessList, {"AFTER.EXE", "OTHER.EXE", "PLANTED.EXE", "HERE.EXE", "SUB\\X.EXE",
                                 "SYSTEM.EXE", "ROOTED.EXE", "C:\\TOOLS\\OPEN.EXE", "C:\\SHARED\\KV.EXE"});
    EXPECT_EQ(nuke.StartNTProcesses(), 0u);
    EXPECT_EQ(m.processes.started, (std::vector<std::string>{"C:\\Windows\\AFTER.EXE", "C:\\OTHER.EXE"}));
    for (const char* name : {"PLANTED.EXE", "HERE.EXE", "SUB\\X.EXE", "SYSTEM.EXE"})
        EXPECT_TRUE(Logged(3, std::string("CNuke::LogErrorCode: Starting of process '") + name +
                                  "' reported \"file\" not found"));
    EXPECT_TRUE(
        Logged(2,
               "CNuke::StartNTProcesses: Process 'ROOTED.EXE' not started: a standard user can change "
               "'C:\\ROOTED.EXE' or a folder above it"));
    EXPECT_TRUE(Logged(2,
                       "CNuke::StartNTProcesses: Process 'C:\\TOOLS\\OPEN.EXE' not started: a standard user "
                       "can change 'C:\\TOOLS\\OPEN.EXE' or a folder above it"));
    EXPECT_TRUE(Logged(2,
                       "CNuke::StartNTProcesses: Process 'C:\\SHARED\\KV.EXE' not started: a standard user "
                       "can change 'C:\\SHARED\\KV.EXE' or a folder above it"));
}

TEST_F(StartProcessesTest, AProgramThatCannotBeFoundGivesOneWarningAndNoSuccess) {
    m.files.CreateDirectories("C:\\Tools");
    List(nuke.startProcessList, {"NOPE.EXE", "C:\\TOOLS\\GONE.EXE", "C:\\NOWHERE\\GONE.EXE"});
    EXPECT_EQ(nuke.StartNTProcesses(), 0u);
    EXPECT_TRUE(m.processes.started.empty());
    EXPECT_TRUE(Logged(3, "CNuke::LogErrorCode: Starting of process 'NOPE.EXE' reported \"file\" not found"));
    EXPECT_TRUE(Logged(
        3, "CNuke::LogErrorCode: Starting of process 'C:\\TOOLS\\GONE.EXE' reported \"file\" not found"));
    EXPECT_TRUE(Logged(
        3, "CNuke::LogErrorCode: Starting of process 'C:\\NOWHERE\\GONE.EXE' reported error code '3'"));
    for (const auto& r : Records()) EXPECT_NE(r.level, 4) << r.message;
}

TEST_F(StartProcessesTest, ANameTooLongForTheSearchBufferIsNotCut) {
    std::string name = "C:\\" + std::string(280, 'A') + ".EXE";
    List(nuke.startProcessList, {name.c_str()});
    EXPECT_EQ(nuke.StartNTProcesses(), 0u);
    EXPECT_TRUE(m.processes.started.empty());
    EXPECT_TRUE(
        Logged(3, "CNuke::LogErrorCode: Starting of process '" + name + "' reported error code '206'"));
}

}  // namespace
