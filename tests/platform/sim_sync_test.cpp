// What only the simulated mutexes can show: abandoned owners, mutexes of other processes
// with access lists this one lacks, mutual exclusion between threads, faults.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/sim/sim_machine.h"

using namespace platform;
using platform::sim::SimMachine;

namespace {

const std::u16string kName = u"Global\\KvQmrLogging_C:_ProgramData_Kelvaris_Logs_tool_sweeptool.log";

class SimSyncTest : public ::testing::Test {
  protected:
    SimMachine m;
    sim::SimSync& sync = m.sync;
    uint32_t LastError() { return m.system.GetLastError(); }
};

TEST_F(SimSyncTest, AbandonedMutexIsHandedOverOnceWithWaitAbandoned) {
    SyncHandle h = 0;
    ASSERT_TRUE(sync.CreateMutexW("D:", false, kName, h));
    UniqueSync owner(&sync, h);
    uint32_t firstOwner = 0;
    std::thread dead([&] {
        (void)sync.WaitForSingleObject(h, 0);
        firstOwner = m.system.GetCurrentThreadId();
    });
    dead.join();
    EXPECT_EQ(firstOwner, sync.OwnerOf(kName));
    EXPECT_EQ(static_cast<uint32_t>(kWaitTimeout), sync.WaitForSingleObject(h, 0));

    EXPECT_EQ(1, sync.AbandonOwned());
    EXPECT_EQ(0u, sync.OwnerOf(kName));
    EXPECT_EQ(static_cast<uint32_t>(kWaitAbandoned), sync.WaitForSingleObject(h, 500));
    EXPECT_EQ(m.system.GetCurrentThreadId(), sync.OwnerOf(kName));
    EXPECT_TRUE(sync.ReleaseMutex(h));
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync.WaitForSingleObject(h, 0));
    EXPECT_TRUE(sync.ReleaseMutex(h));
    EXPECT_EQ(0, sync.AbandonOwned()) << "a free mutex is not abandoned";
}

TEST_F(SimSyncTest, MutexOfAnotherProcessWithStricterAccess) {
    sync.AddForeignMutex(kName, false, true, "D:(A;;SY;;;WD)");
    SyncHandle h = 0xdeadbeef;
    EXPECT_FALSE(sync.CreateMutexW("D:", false, kName, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), LastError());
    EXPECT_EQ(0xdeadbeefu, h);
    EXPECT_FALSE(sync.OpenMutexW(kMutexAllAccess, false, kName, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), LastError());
    ASSERT_TRUE(sync.OpenMutexW(kSynchronize, false, kName, h));
    UniqueSync opened(&sync, h);
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync.WaitForSingleObject(h, 500));
    EXPECT_TRUE(sync.ReleaseMutex(h));
    EXPECT_EQ("D:(A;;SY;;;WD)", sync.SddlOf(kName));
    opened.reset();
    EXPECT_TRUE(sync.Exists(kName)) << "the other process still holds it open";
}

TEST_F(SimSyncTest, HeldByAnotherProcessTimesOutUntilReleased) {
    sync.AddForeignMutex(kName, true, false);
    SyncHandle h = 0;
    ASSERT_TRUE(sync.CreateMutexW(nullptr, false, kName, h));
    UniqueSync mine(&sync, h);
    EXPECT_EQ(static_cast<uint32_t>(kErrorAlreadyExists), LastError());
    EXPECT_EQ(static_cast<uint32_t>(kWaitTimeout), sync.WaitForSingleObject(h, 500));
    EXPECT_EQ(static_cast<uint32_t>(kWaitTimeout), sync.WaitForSingleObject(h, 0));
    EXPECT_FALSE(sync.ReleaseMutex(h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorNotOwner), LastError());
    sync.ReleaseForeign(kName);
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync.WaitForSingleObject(h, 500));
    EXPECT_TRUE(sync.ReleaseMutex(h));

    // A dying holder elsewhere leaves it abandoned as well.
    sync.AddForeignMutex(kName, true, false);
    EXPECT_EQ(1, sync.AbandonOwned());
    EXPECT_EQ(static_cast<uint32_t>(kWaitAbandoned), sync.WaitForSingleObject(h, 500));
    EXPECT_TRUE(sync.ReleaseMutex(h));
}

TEST_F(SimSyncTest, ThreadsStandingForProcessesExcludeEachOther) {
    const int kThreads = 4, kRounds = 300;
    int counter = 0;  // deliberately unprotected but by the mutex under test
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            SyncHandle h = 0;
            if (!sync.CreateMutexW(nullptr, false, kName, h)) return;
            for (int i = 0; i < kRounds; ++i) {
                uint32_t r = sync.WaitForSingleObject(h, kInfinite);
                if (r != kWaitObject0) continue;
                int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
                (void)sync.ReleaseMutex(h);
            }
            sync.CloseHandle(h);
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(kThreads * kRounds, counter);
    EXPECT_EQ(0, sync.OpenHandles());
    EXPECT_FALSE(sync.Exists(kName)) << "a named mutex ends with its last handle";
}

TEST_F(SimSyncTest, NamesAndFaults) {
    SyncHandle a = 0, b = 0;
    ASSERT_TRUE(sync.CreateMutexW("D:x", true, u"Local\\Same", a));
    ASSERT_TRUE(sync.CreateMutexW(nullptr, false, u"Same", b)) << "Local\\ is the session's own namespace";
    EXPECT_EQ(static_cast<uint32_t>(kErrorAlreadyExists), LastError());
    EXPECT_EQ("D:x", sync.SddlOf(u"Same"));
    EXPECT_FALSE(sync.Exists(u"Global\\Same"));
    EXPECT_FALSE(sync.Exists(u"same")) << "object names are case-sensitive";
    sync.CloseHandle(a);
    sync.CloseHandle(b);

    SyncHandle h = 0xdeadbeef;
    for (const char* call : {"CreateMutexW", "OpenMutexW"}) {
        m.faults.Fail(call, 1450);
        bool ok = std::string(call) == "CreateMutexW" ? sync.CreateMutexW(nullptr, false, kName, h)
                                                      : sync.OpenMutexW(kSynchronize, false, kName, h);
        EXPECT_FALSE(ok) << call;
        EXPECT_EQ(1450u, LastError()) << call;
        EXPECT_EQ(0xdeadbeefu, h) << call;
    }
    ASSERT_TRUE(sync.CreateMutexW(nullptr, false, kName, h));
    m.faults.Fail("WaitForSingleObject", 6);
    EXPECT_EQ(static_cast<uint32_t>(kWaitFailed), sync.WaitForSingleObject(h, 500));
    EXPECT_EQ(0u, sync.OwnerOf(kName));
    ASSERT_EQ(static_cast<uint32_t>(kWaitObject0), sync.WaitForSingleObject(h, 500));
    m.faults.Fail("ReleaseMutex", 5);
    EXPECT_FALSE(sync.ReleaseMutex(h));
    EXPECT_TRUE(sync.ReleaseMutex(h));
    sync.CloseHandle(h);
    EXPECT_EQ(static_cast<uint32_t>(kWaitFailed), sync.WaitForSingleObject(h, 0));
    EXPECT_EQ(static_cast<uint32_t>(kErrorInvalidHandle), LastError());
}

}  // namespace
