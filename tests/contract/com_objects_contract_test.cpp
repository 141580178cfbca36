// The firewall manager and WMI, on the sim and on the real machine. Each test works on a
// thread of its own, where COM starts from nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "contract/backend.h"

#ifndef _WIN32
#include "platform/sim/sim_machine.h"
#endif

namespace {

using namespace platform;

constexpr int32_t kSentinel = static_cast<int32_t>(0xdeadbeef);
constexpr ComObject kSentinelObject = 0xdeadbeef;

class ComObjectsContract : public ::testing::Test {
  protected:
    Platform& os() { return contract::GetBackend().os(); }
    ICom& com() { return os().com; }

    // Runs `body` on a new thread with COM initialised as the firewall step does it.
    template <typename Body>
    void OnComThread(Body body) {
        std::thread worker([&] {
            int32_t init = os().sys.CoInitializeEx(kCoinitApartmentThreaded | kCoinitDisableOle1Dde);
            ASSERT_EQ(kSOk, init);
            body();
            os().sys.CoUninitialize();
        });
        worker.join();
    }

#ifndef _WIN32
    sim::SimCom& simCom() { return dynamic_cast<sim::SimCom&>(com()); }
#endif
};

TEST_F(ComObjectsContract, WithoutComTheObjectsCannotBeCreated) {
    int32_t firewall = kSentinel, wmi = kSentinel;
    ComObject manager = kSentinelObject, locator = kSentinelObject;
    std::thread worker([&] {
        firewall = com().CreateFirewallManager(manager);
        wmi = com().CreateWbemLocator(locator);
    });
    worker.join();
    EXPECT_EQ(kCoENotInitialized, firewall);
    EXPECT_EQ(kCoENotInitialized, wmi);
    EXPECT_EQ(0u, manager);
    EXPECT_EQ(0u, locator);
}

TEST_F(ComObjectsContract, TheCurrentProfileOfTheLocalPolicyAnswersWhetherItIsEnabled) {
    OnComThread([&] {
        ComObject raw = kSentinelObject;
        ASSERT_EQ(kSOk, com().CreateFirewallManager(raw));
        UniqueCom manager(&com(), raw);
        ASSERT_TRUE(manager);
        raw = kSentinelObject;
        ASSERT_EQ(kSOk, com().GetLocalPolicy(manager.get(), raw));
        UniqueCom policy(&com(), raw);
        ASSERT_TRUE(policy);
        raw = kSentinelObject;
        ASSERT_EQ(kSOk, com().GetCurrentProfile(policy.get(), raw));
        UniqueCom profile(&com(), raw);
        ASSERT_TRUE(profile);
        bool enabled = true;
        EXPECT_EQ(kSOk, com().GetFirewallEnabled(profile.get(), enabled));
        bool again = !enabled;
        EXPECT_EQ(kSOk, com().GetFirewallEnabled(profile.get(), again));
        EXPECT_EQ(enabled, again);
    });
#ifndef _WIN32
    EXPECT_EQ(0, simCom().OpenObjects());
    EXPECT_EQ(0, simCom().misuses);
#endif
}

TEST_F(ComObjectsContract, SwitchingTheProfileIsNotImplementedOnWine) {
    CONTRACT_SKIP_ON_SIM("the simulated machine has a working firewall, as Windows has");
    OnComThread([&] {
        ComObject raw = 0;
        ASSERT_EQ(kSOk, com().CreateFirewallManager(raw));
        UniqueCom manager(&com(), raw);
        ASSERT_EQ(kSOk, com().GetLocalPolicy(manager.get(), raw));
        UniqueCom policy(&com(), raw);
        ASSERT_EQ(kSOk, com().GetCurrentProfile(policy.get(), raw));
        UniqueCom profile(&com(), raw);
        bool before = true;
        ASSERT_EQ(kSOk, com().GetFirewallEnabled(profile.get(), before));
        EXPECT_EQ(kENotImpl, com().PutFirewallEnabled(profile.get(), !before));
        EXPECT_EQ(kENotImpl, com().PutFirewallEnabled(profile.get(), before));
        bool after = !before;
        ASSERT_EQ(kSOk, com().GetFirewallEnabled(profile.get(), after));
        EXPECT_EQ(before, after);
    });
}

TEST_F(ComObjectsContract, TheSecurityCenterNamespaceIsAbsentOnWine) {
#ifndef _WIN32
    simCom().RemoveNamespace("root\\SecurityCenter");
#endif
    OnComThread([&] {
        ComObject raw = kSentinelObject;
        ASSERT_EQ(kSOk, com().CreateWbemLocator(raw));
        UniqueCom locator(&com(), raw);
        ASSERT_TRUE(locator);
        ComObject services = kSentinelObject;
        EXPECT_EQ(kWbemEInvalidNamespace,
                  com().ConnectServer(locator.get(), u"\\\\.\\root\\SecurityCenter", services));
        EXPECT_EQ(0u, services);
    });
}

TEST_F(ComObjectsContract, AnExistingNamespaceConnectsAndAMadeUpInstanceIsNotDeleted) {
    OnComThread([&] {
        ComObject raw = 0;
        ASSERT_EQ(kSOk, com().CreateWbemLocator(raw));
        UniqueCom locator(&com(), raw);
        for (const char16_t* name : {u"\\\\.\\root\\cimv2", u"root\\CIMV2"}) {
            raw = kSentinelObject;
            ASSERT_EQ(kSOk, com().ConnectServer(locator.get(), name, raw));
            UniqueCom services(&com(), raw);
            ASSERT_TRUE(services);
            int32_t hr = com().DeleteInstance(
                services.get(), u"AntiVirusProduct.instanceGuid=\"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\"");
            // Windows answers WBEM_E_NOT_FOUND (or WBEM_E_INVALID_CLASS, the class being
            // unknown there); Wine's DeleteInstance is a stub that answers WBEM_E_FAILED.
            if (contract::GetBackend().IsSim()) {
                EXPECT_EQ(kWbemENotFound, hr);
            } else {
                EXPECT_EQ(kWbemEFailed, hr);
            }
        }
    });
#ifndef _WIN32
    EXPECT_EQ(0, simCom().OpenObjects());
#endif
}

#ifndef _WIN32
// Arrangements only the simulated machine can make: a firewall that is missing or on, the
// Security Center's instances, and objects used after their release.
TEST(SimComObjects, TheFirewallRecordsEachAcceptedSwitchAndCanBeMissing) {
    sim::SimMachine m;
    ICom& com = m.platform().com;
    std::thread worker([&] {
        ASSERT_EQ(kSOk, m.system.CoInitialize());
        ComObject manager = 0, policy = 0, profile = 0;
        ASSERT_EQ(kSOk, com.CreateFirewallManager(manager));
        ASSERT_EQ(kSOk, com.GetLocalPolicy(manager, policy));
        ASSERT_EQ(kSOk, com.GetCurrentProfile(policy, profile));
        EXPECT_EQ(kSOk, com.PutFirewallEnabled(profile, false));
        EXPECT_EQ(kSOk, com.PutFirewallEnabled(profile, true));
        m.com.firewall.putNotImplemented = true;
        EXPECT_EQ(kENotImpl, com.PutFirewallEnabled(profile, false));
        EXPECT_TRUE(m.com.firewall.enabled);
        EXPECT_EQ(3, m.com.OpenObjects());
        for (ComObject o : {profile, policy, manager}) com.Release(o);
        com.Release(manager);  // once too often
        bool enabled = false;
        EXPECT_EQ(kEPointer, com.GetFirewallEnabled(profile, enabled));  // after its release
        EXPECT_EQ(2, m.com.misuses);

        m.com.firewall.installed = false;
        manager = kSentinelObject;
        EXPECT_EQ(kRegdbEClassNotReg, com.CreateFirewallManager(manager));
        EXPECT_EQ(0u, manager);
        ComObject late = 0;
        ASSERT_EQ(kSOk, com.CreateWbemLocator(late));
        m.system.CoUninitialize();
        com.Release(late);  // after COM has left the thread
        EXPECT_EQ(3, m.com.misuses);
    });
    worker.join();
    EXPECT_EQ(m.com.firewall.puts, (std::vector<bool>{false, true}));
    EXPECT_EQ(0, m.com.OpenObjects());
}

TEST(SimComObjects, DeleteInstanceRemovesOneInstanceByItsPath) {
    sim::SimMachine m;
    ICom& com = m.platform().com;
    const std::string a = "AntiVirusProduct.instanceGuid=\"{A}\"";
    const std::string b = "FirewallProduct.instanceGuid=\"{B}\"";
    m.com.AddInstance("root\\SecurityCenter", a);
    m.com.AddInstance("root\\SecurityCenter", b);
    std::thread worker([&] {
        ASSERT_EQ(kSOk, m.system.CoInitialize());
        ComObject locator = 0, services = 0;
        ASSERT_EQ(kSOk, com.CreateWbemLocator(locator));
        ASSERT_EQ(kSOk, com.ConnectServer(locator, u"\\\\.\\ROOT\\securitycenter", services));
        EXPECT_EQ(kSOk, com.DeleteInstance(services, u"antivirusproduct.instanceGuid=\"{a}\""));
        EXPECT_EQ(kWbemENotFound, com.DeleteInstance(services, u"AntiVirusProduct.instanceGuid=\"{A}\""));
        EXPECT_EQ(kWbemEInvalidObjectPath, com.DeleteInstance(services, u""));
        EXPECT_EQ(kWbemEInvalidObjectPath, com.DeleteInstance(services, u"garbage"));
        com.Release(services);
        com.Release(locator);
        m.system.CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(m.com.Instances("root\\SecurityCenter"), std::vector<std::string>{b});
    EXPECT_EQ(0, m.com.OpenObjects());
    EXPECT_EQ(0, m.com.misuses);
}
#endif

}  // namespace
