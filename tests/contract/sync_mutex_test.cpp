// Named mutexes on both backends: create, open, ownership, recursion and waits across threads.
#include <gtest/gtest.h>

#include <thread>

#include "contract/backend.h"
#include "platform/ansi.h"
#include "platform/platform.h"

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xdeadbeef;
constexpr char kMutexSddl[] = "D:(D;OICI;GA;;;AN)(D;OICI;WO;;;WD)(A;OICI;GA;;;WD)";

class SyncContract : public ::testing::Test {
  protected:
    contract::Backend& backend() { return contract::GetBackend(); }
    ISync& sync() { return backend().os().sync; }
    ISystem& sys() { return backend().os().sys; }
    std::u16string UniqueMutexName() {
        std::string name = "Global\\" + backend().UniqueName("SweepSyncContract");
        return std::u16string(name.begin(), name.end());
    }
};

TEST_F(SyncContract, AThreadRunsItsProcedureAndItsHandleSignalsItsEnd) {
    int ran = 0;
    SyncHandle thread = kSentinel;
    ASSERT_TRUE(sync().BeginThread([](void* n) { return static_cast<uint32_t>(++*static_cast<int*>(n)); },
                                   &ran, thread));
    UniqueSync owner(&sync(), thread);
    EXPECT_EQ(kWaitObject0, sync().WaitForSingleObject(thread, 10000));
    EXPECT_EQ(1, ran);
}

TEST_F(SyncContract, CreateOpenWaitRelease) {
    std::u16string name = UniqueMutexName();
    SyncHandle first = kSentinel;
    sys().SetLastError(kSentinel);
    ASSERT_TRUE(sync().CreateMutexW(kMutexSddl, false, name, first)) << sys().GetLastError();
    UniqueSync a(&sync(), first);
    EXPECT_EQ(0u, sys().GetLastError());

    // Opening it again through CreateMutexW asks for all access, which includes the
    // change of owner that the descriptor denies to everyone; SYNCHRONIZE alone is granted.
    SyncHandle refused = kSentinel;
    EXPECT_FALSE(sync().CreateMutexW(kMutexSddl, false, name, refused));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), sys().GetLastError());
    EXPECT_EQ(kSentinel, refused);
    EXPECT_FALSE(sync().OpenMutexW(kMutexAllAccess, false, name, refused));
    EXPECT_EQ(static_cast<uint32_t>(kErrorAccessDenied), sys().GetLastError());
    SyncHandle third = kSentinel;
    ASSERT_TRUE(sync().OpenMutexW(kSynchronize, false, name, third)) << sys().GetLastError();
    UniqueSync c(&sync(), third);

    // With default security the second create opens the same mutex.
    std::u16string plainName = UniqueMutexName();
    SyncHandle plain = 0;
    ASSERT_TRUE(sync().CreateMutexW(nullptr, false, plainName, plain));
    UniqueSync p(&sync(), plain);
    SyncHandle second = kSentinel;
    sys().SetLastError(kSentinel);
    ASSERT_TRUE(sync().CreateMutexW(nullptr, true, plainName, second)) << sys().GetLastError();
    UniqueSync b(&sync(), second);
    EXPECT_EQ(static_cast<uint32_t>(kErrorAlreadyExists), sys().GetLastError());

    // The second create asked for ownership of an existing mutex: that is ignored, so
    // nobody owns it and releasing it is refused.
    EXPECT_FALSE(sync().ReleaseMutex(b.get()));
    EXPECT_EQ(static_cast<uint32_t>(kErrorNotOwner), sys().GetLastError());

    // Ownership is per thread and counts recursion, whichever handle is used.
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync().WaitForSingleObject(a.get(), 0));
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync().WaitForSingleObject(c.get(), 500));
    EXPECT_TRUE(sync().ReleaseMutex(c.get()));
    EXPECT_TRUE(sync().ReleaseMutex(a.get()));
    EXPECT_FALSE(sync().ReleaseMutex(a.get()));
    EXPECT_EQ(static_cast<uint32_t>(kErrorNotOwner), sys().GetLastError());

    SyncHandle missing = kSentinel;
    std::u16string absent = UniqueMutexName();
    EXPECT_FALSE(sync().OpenMutexW(kSynchronize, false, absent, missing));
    EXPECT_EQ(static_cast<uint32_t>(kErrorFileNotFound), sys().GetLastError());
    EXPECT_EQ(kSentinel, missing);
}

TEST_F(SyncContract, AnotherThreadTimesOutWhileOwnedThenGetsIt) {
    std::u16string name = UniqueMutexName();
    SyncHandle h = 0;
    ASSERT_TRUE(sync().CreateMutexW(nullptr, true, name, h));
    UniqueSync owner(&sync(), h);

    uint32_t whileOwned = kSentinel, releaseByStranger = 1, afterRelease = kSentinel;
    std::thread waiter([&] {
        SyncHandle mine = 0;
        if (!sync().OpenMutexW(kSynchronize, false, name, mine)) return;
        UniqueSync m(&sync(), mine);
        whileOwned = sync().WaitForSingleObject(mine, 50);
        releaseByStranger = sync().ReleaseMutex(mine) ? 1 : 0;
    });
    waiter.join();
    EXPECT_EQ(static_cast<uint32_t>(kWaitTimeout), whileOwned);
    EXPECT_EQ(0u, releaseByStranger) << "a thread that does not own the mutex cannot release it";

    ASSERT_TRUE(sync().ReleaseMutex(owner.get()));
    std::thread taker([&] {
        afterRelease = sync().WaitForSingleObject(owner.get(), 1000);
        if (afterRelease == kWaitObject0) (void)sync().ReleaseMutex(owner.get());
    });
    taker.join();
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), afterRelease);
}

TEST_F(SyncContract, OwnerThreadEndingLeavesItAbandoned) {
    CONTRACT_SKIP_ON_SIM("the sim does not watch thread ends; SimSync::AbandonOwned stands for them");
    std::u16string name = UniqueMutexName();
    SyncHandle h = 0;
    ASSERT_TRUE(sync().CreateMutexW(nullptr, false, name, h));
    UniqueSync m(&sync(), h);
    std::thread dying([&] { (void)sync().WaitForSingleObject(h, 0); });
    dying.join();
    EXPECT_EQ(static_cast<uint32_t>(kWaitAbandoned), sync().WaitForSingleObject(h, 500));
    EXPECT_TRUE(sync().ReleaseMutex(h));
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync().WaitForSingleObject(h, 0));
    EXPECT_TRUE(sync().ReleaseMutex(h));
}

TEST_F(SyncContract, NamesAndHandlesThatCannotWork) {
    SyncHandle h = kSentinel;
    std::u16string nested = UniqueMutexName() + u"\\inner";
    EXPECT_FALSE(sync().CreateMutexW(nullptr, false, nested, h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorPathNotFound), sys().GetLastError());
    EXPECT_EQ(kSentinel, h);

    // An unnamed mutex works within the process.
    ASSERT_TRUE(sync().CreateMutexW(nullptr, false, u"", h));
    UniqueSync m(&sync(), h);
    EXPECT_EQ(static_cast<uint32_t>(kWaitObject0), sync().WaitForSingleObject(h, 0));
    EXPECT_TRUE(sync().ReleaseMutex(h));
    EXPECT_FALSE(sync().OpenMutexW(kSynchronize, false, u"", h));
    EXPECT_EQ(static_cast<uint32_t>(kErrorInvalidParameter), sys().GetLastError());
}

}  // namespace
