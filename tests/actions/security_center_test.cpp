#include "actions/security_center.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/cnuke.h"
#include "platform/ansi.h"
#include "platform/sim/sim_machine.h"

namespace {

using platform::OsVersionInfo;
using platform::sim::SimMachine;

constexpr char kNamespace[] = "root\\SecurityCenter";

std::string Path(const char* cls, const platform::Guid& guid) {
    return std::string(cls) + ".instanceGuid=\"" + platform::Utf16ToAnsi(platform::GuidText(guid)) + "\"";
}

const std::string kAntiVirus = Path("AntiVirusProduct", actions::kAntiVirusInstanceGuid);
const std::string kFirewall = Path("FirewallProduct", actions::kFirewallInstanceGuid);
const std::string kOther = "AntiVirusProduct.instanceGuid=\"{00000000-0000-0000-0000-000000000001}\"";

// A machine with the product's two registrations and one of somebody else's.
void Register(SimMachine& m) {
    m.com.AddInstance(kNamespace, kOther);
    m.com.AddInstance(kNamespace, kAntiVirus);
    m.com.AddInstance(kNamespace, kFirewall);
}

// RemoveSecurityCenterEntries on a thread of its own, where COM starts from nothing.
void Remove(SimMachine& m) {
    std::thread worker([&] { engine::RemoveSecurityCenterEntries(m.platform()); });
    worker.join();
}

TEST(SecurityCenter, TheInstanceGuidsAreTheMakersOwnAndDistinct) {
    EXPECT_NE(actions::kAntiVirusInstanceGuid, actions::kFirewallInstanceGuid);
    EXPECT_EQ(kAntiVirus.size(), std::string("AntiVirusProduct.instanceGuid=\"\"").size() + 38);
    EXPECT_LT(kAntiVirus.size(), actions::kObjectPathChars);
}

TEST(SecurityCenter, BothRegistrationsGoFromXpSp2OnAndNothingElse) {
    const OsVersionInfo versions[] = {
        {5, 1, 2600, platform::kVerPlatformWin32Nt, "Service Pack 2", 2, 0},
        {5, 1, 2600, platform::kVerPlatformWin32Nt, "Service Pack 3", 3, 0},
        {5, 2, 3790, platform::kVerPlatformWin32Nt, "", 0, 0},
        {6, 1, 7601, platform::kVerPlatformWin32Nt, "Service Pack 1", 1, 0},
        {10, 0, 19045, platform::kVerPlatformWin32Nt, "", 0, 0},
    };
    for (const OsVersionInfo& v : versions) {
        SCOPED_TRACE(std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion) + " SP" +
                     std::to_string(v.servicePackMajor));
        SimMachine m;
        m.system.version = v;
        Register(m);
        Remove(m);
        EXPECT_EQ(m.com.Instances(kNamespace), std::vector<std::string>{kOther});
        EXPECT_EQ(2, m.faults.Calls("IWbemServices::DeleteInstance"));
        EXPECT_EQ(0, m.com.OpenObjects());
        EXPECT_EQ(0, m.com.misuses);
        EXPECT_EQ(1, m.faults.Calls("CoInitialize"));
        EXPECT_EQ(1, m.system.coUninitializeCalls);
    }
}

TEST(SecurityCenter, OlderOrNonNtWindowsIsNotTouched) {
    const OsVersionInfo versions[] = {
        {5, 1, 2600, platform::kVerPlatformWin32Nt, "Service Pack 1", 1, 0},
        {5, 1, 2600, platform::kVerPlatformWin32Nt, "", 0, 0},
        {5, 0, 2195, platform::kVerPlatformWin32Nt, "Service Pack 4", 4, 0},
        {4, 0, 1381, platform::kVerPlatformWin32Nt, "Service Pack 6", 6, 0},
        {4, 90, 3000, platform::kVerPlatformWin32Windows, "", 0, 0},
        {10, 0, 19045, platform::kVerPlatformWin32Windows, "", 0, 0},
    };
    for (const OsVersionInfo& v : versions) {
        SCOPED_TRACE(std::to_string(v.platformId) + ":" + std::to_string(v.majorVersion) + "." +
                     std::to_string(v.minorVersion) + " SP" + std::to_string(v.servicePackMajor));
        SimMachine m;
        m.system.version = v;
        Register(m);
        Remove(m);
        EXPECT_EQ(3u, m.com.Instances(kNamespace).size());
        EXPECT_EQ(0, m.faults.Calls("CoInitialize"));
    }
}

TEST(SecurityCenter, AFailedVersionQueryTouchesNothing) {
    SimMachine m;
    Register(m);
    m.faults.Fail("GetVersionExA", platform::kErrorInvalidParameter);
    Remove(m);
    EXPECT_EQ(3u, m.com.Instances(kNamespace).size());
    EXPECT_EQ(0, m.faults.Calls("CoInitialize"));
}

TEST(SecurityCenter, AMissingNamespaceOrRegistrationIsHarmless) {
    SimMachine absent;
    absent.com.RemoveNamespace(kNamespace);
    Remove(absent);
    EXPECT_EQ(2, absent.faults.Calls("IWbemLocator::ConnectServer"));
    EXPECT_EQ(0, absent.faults.Calls("IWbemServices::DeleteInstance"));
    EXPECT_EQ(0, absent.com.OpenObjects());
    EXPECT_EQ(1, absent.system.coUninitializeCalls);

    SimMachine empty;  // the namespace, but only the firewall registration
    empty.com.AddInstance(kNamespace, kFirewall);
    Remove(empty);
    EXPECT_TRUE(empty.com.Instances(kNamespace).empty());
    EXPECT_EQ(0, empty.com.OpenObjects());
}

TEST(SecurityCenter, ACoInitializeFailureEndsTheStep) {
    SimMachine m;
    Register(m);
    m.faults.Fail("CoInitialize", 0x8007000E);
    Remove(m);
    EXPECT_EQ(3u, m.com.Instances(kNamespace).size());
    EXPECT_EQ(0, m.faults.Calls("CoCreateInstance(WbemLocator)"));
    EXPECT_EQ(0, m.system.coUninitializeCalls);
}

// COM already initialised on the thread: CoInitialize answers S_FALSE, which must still be
// balanced, leaving the caller's own initialisation in place.
TEST(SecurityCenter, ASecondInitialisationOnTheThreadIsBalanced) {
    SimMachine m;
    Register(m);
    int depthAfter = -1;
    std::thread worker([&] {
        ASSERT_EQ(platform::kSOk, m.system.CoInitialize());
        engine::RemoveSecurityCenterEntries(m.platform());
        depthAfter = m.system.ComInitDepth();
        m.system.CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(1, depthAfter);
    EXPECT_EQ(m.com.Instances(kNamespace), std::vector<std::string>{kOther});
}

// Each of the two deletions stands alone: a failure of one does not keep the other from
// running, and every object is released whichever call failed.
TEST(SecurityCenter, EachDeletionConnectsOnItsOwnAndReleasesOnFailure) {
    for (const char* call :
         {"CoCreateInstance(WbemLocator)", "IWbemLocator::ConnectServer", "IWbemServices::DeleteInstance"}) {
        SCOPED_TRACE(call);
        SimMachine m;
        Register(m);
        m.faults.Fail(call, 0x80041003);  // WBEM_E_ACCESS_DENIED, the first time only
        int32_t antiVirus = 0, firewall = 0;
        std::thread worker([&] {
            ASSERT_EQ(platform::kSOk, m.system.CoInitialize());
            antiVirus = actions::DeleteAntiVirusProductInstance(m.platform());
            firewall = actions::DeleteFirewallProductInstance(m.platform());
            m.system.CoUninitialize();
        });
        worker.join();
        EXPECT_EQ(static_cast<int32_t>(0x80041003), antiVirus);
        EXPECT_EQ(platform::kSOk, firewall);
        EXPECT_TRUE(m.com.HasInstance(kNamespace, kAntiVirus));
        EXPECT_FALSE(m.com.HasInstance(kNamespace, kFirewall));
        EXPECT_EQ(0, m.com.OpenObjects());
        EXPECT_EQ(0, m.com.misuses);
    }
}

TEST(SecurityCenter, ConnectReturnsTheServicesOnlyOnSuccess) {
    SimMachine m;
    std::thread worker([&] {
        ASSERT_EQ(platform::kSOk, m.system.CoInitialize());
        {
            platform::UniqueCom services;
            EXPECT_EQ(platform::kSOk, actions::ConnectSecurityCenter(m.platform(), services));
            EXPECT_TRUE(services);
            EXPECT_EQ(1, m.com.OpenObjects());  // the locator is gone
            m.com.RemoveNamespace(kNamespace);
            EXPECT_EQ(platform::kWbemEInvalidNamespace,
                      actions::ConnectSecurityCenter(m.platform(), services));
            EXPECT_FALSE(services);
        }
        m.system.CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(0, m.com.OpenObjects());
    EXPECT_EQ(0, m.com.misuses);
}

}  // namespace
