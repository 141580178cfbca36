// EnumServicesStatusA: the two-call size protocol, and the wide names beside it, on the sim and
// on the real machine.
#include <gtest/gtest.h>

#include <vector>

#include "contract/backend.h"
#include "platform/ansi.h"

namespace {

using namespace platform;

constexpr uint32_t kWin32AndDrivers = kServiceDriver | kServiceWin32;

TEST(ServicesContract, EmptyBufferAsksForMoreAndTheSizeAskedForHoldsThemAll) {
    CONTRACT_SKIP_ON_SIM("the simulated service database starts empty");
    Platform& os = contract::GetBackend().os();
    ScHandle raw = 0;
    ASSERT_TRUE(os.scm.OpenSCManager(nullptr, kGenericRead, raw));
    UniqueScHandle manager(&os.scm, raw);

    std::vector<EnumServiceStatus> got;
    uint32_t needed = 0xdeadbeef, returned = 0xdeadbeef;
    ASSERT_FALSE(os.scm.EnumServicesStatus(manager.get(), kWin32AndDrivers, kServiceStateAll, 0, got, needed,
                                           returned, nullptr));
    EXPECT_EQ(os.sys.GetLastError(), kErrorMoreData);
    EXPECT_EQ(returned, 0u);
    ASSERT_GT(needed, 0u);
    ASSERT_NE(needed, 0xdeadbeef);

    const uint32_t offered = needed + 100;
    ASSERT_TRUE(os.scm.EnumServicesStatus(manager.get(), kWin32AndDrivers, kServiceStateAll, offered, got,
                                          needed, returned, nullptr));
    ASSERT_GT(returned, 0u);
    EXPECT_EQ(returned, got.size());
    uint32_t bytes = 0;
    for (const EnumServiceStatus& s : got) {
        EXPECT_FALSE(s.serviceName.empty());
        EXPECT_NE(s.serviceType & kWin32AndDrivers, 0u) << s.serviceName;
        bytes += EnumServiceStatusBytes(s);
    }
    EXPECT_LE(bytes, offered);

    // The names as the database keeps them, in the same order, are what the narrow ones show.
    std::vector<std::u16string> wide;
    ASSERT_TRUE(os.scm.EnumServiceNamesW(manager.get(), kWin32AndDrivers, kServiceStateAll, wide));
    ASSERT_EQ(got.size(), wide.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].serviceName, Utf16ToAnsi(wide[i]));
}

TEST(ServicesContract, StateFilterSplitsTheDatabase) {
    CONTRACT_SKIP_ON_SIM("the simulated service database starts empty");
    Platform& os = contract::GetBackend().os();
    ScHandle raw = 0;
    ASSERT_TRUE(os.scm.OpenSCManager(nullptr, kGenericRead, raw));
    UniqueScHandle manager(&os.scm, raw);
    auto count = [&](uint32_t state) {
        std::vector<EnumServiceStatus> got;
        uint32_t needed = 0, returned = 0;
        os.scm.EnumServicesStatus(manager.get(), kServiceWin32, state, 0, got, needed, returned, nullptr);
        EXPECT_TRUE(os.scm.EnumServicesStatus(manager.get(), kServiceWin32, state, needed + 100, got, needed,
                                              returned, nullptr));
        for (const EnumServiceStatus& s : got) {
            if (state == kServiceActive) {
                EXPECT_NE(s.currentState, kServiceStopped) << s.serviceName;
            }
            if (state == kServiceInactive) {
                EXPECT_EQ(s.currentState, kServiceStopped) << s.serviceName;
            }
        }
        return got.size();
    };
    size_t all = count(kServiceStateAll);
    EXPECT_EQ(count(kServiceActive) + count(kServiceInactive), all);
}

TEST(ServicesContract, BadManagerHandleFails) {
    Platform& os = contract::GetBackend().os();
    std::vector<EnumServiceStatus> got;
    uint32_t needed = 0, returned = 0;
    EXPECT_FALSE(
        os.scm.EnumServicesStatus(0, kServiceWin32, kServiceStateAll, 1000, got, needed, returned, nullptr));
    EXPECT_EQ(os.sys.GetLastError(), kErrorInvalidHandle);
    EXPECT_TRUE(got.empty());
}

}  // namespace
