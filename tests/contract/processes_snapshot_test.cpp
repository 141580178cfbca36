// Toolhelp process snapshots, on the sim and on the real machine.
#include <gtest/gtest.h>

#include <vector>

#include "contract/backend.h"

namespace {

using namespace platform;

std::vector<ProcessEntry> Walk(IProcesses& proc, SnapshotHandle snapshot, uint32_t& endError) {
    std::vector<ProcessEntry> all;
    ProcessEntry e;
    for (bool ok = proc.Process32First(snapshot, e); ok; ok = proc.Process32Next(snapshot, e))
        all.push_back(e);
    endError = contract::GetBackend().os().sys.GetLastError();
    return all;
}

TEST(ProcessesContract, SnapshotListsTheCallingProcessAndEndsWithNoMoreFiles) {
    Platform& os = contract::GetBackend().os();
    SnapshotHandle raw = 0xdeadbeef;
    ASSERT_TRUE(os.proc.CreateToolhelp32Snapshot(kTh32csSnapProcess, 0, raw));
    UniqueSnapshot snapshot(&os.proc, raw);
    uint32_t endError = 0;
    std::vector<ProcessEntry> all = Walk(os.proc, snapshot.get(), endError);
    EXPECT_EQ(endError, kErrorNoMoreFiles);
    ASSERT_GE(all.size(), 2u);
    bool self = false;
    for (const ProcessEntry& e : all) {
        EXPECT_FALSE(e.exeFile.empty()) << e.processId;
        if (e.processId == os.sys.GetCurrentProcessId()) self = true;
    }
    EXPECT_TRUE(self);
}

TEST(ProcessesContract, FirstStartsTheWalkAgain) {
    Platform& os = contract::GetBackend().os();
    SnapshotHandle raw = 0;
    ASSERT_TRUE(os.proc.CreateToolhelp32Snapshot(kTh32csSnapProcess, 0, raw));
    UniqueSnapshot snapshot(&os.proc, raw);
    uint32_t endError = 0;
    std::vector<ProcessEntry> once = Walk(os.proc, snapshot.get(), endError);
    std::vector<ProcessEntry> again = Walk(os.proc, snapshot.get(), endError);
    ASSERT_EQ(once.size(), again.size());
    for (size_t i = 0; i < once.size(); ++i) EXPECT_EQ(once[i].processId, again[i].processId);
}

}  // namespace
