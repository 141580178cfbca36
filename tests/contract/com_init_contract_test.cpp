// CoInitialize on a thread of its own, so the answers do not depend on what the test
// runner's thread has already done.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "contract/backend.h"

namespace {

TEST(ComContract, SecondInitialisationOnAThreadIsSFalseAndEachIsBalanced) {
    platform::Platform& os = contract::GetBackend().os();
    int32_t first = static_cast<int32_t>(0xdeadbeef);
    int32_t second = static_cast<int32_t>(0xdeadbeef);
    int32_t again = static_cast<int32_t>(0xdeadbeef);
    std::thread worker([&] {
        first = os.sys.CoInitialize();
        second = os.sys.CoInitialize();
        os.sys.CoUninitialize();
        os.sys.CoUninitialize();
        // Fully released: the next call starts COM afresh.
        again = os.sys.CoInitialize();
        if (again >= 0) os.sys.CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(0, first);   // S_OK
    EXPECT_EQ(1, second);  // S_FALSE
    EXPECT_EQ(0, again);
}

}  // namespace
