#include "actions/firewall.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/log_capture.h"
#include "platform/sim/sim_machine.h"

namespace {

using platform::sim::SimMachine;

// The records of `machine` whose tag starts with `tag`, as "<level> <message>".
std::vector<std::string> Records(SimMachine& machine, const std::string& tag = "CWinFirewall::") {
    static const char* const kMarks[] = {"*F", "*E", ".W", " I", " D", " V"};
    std::vector<std::string> out;
    for (const std::u16string& wide : machine.system.debugOutput) {
        std::string line = platform::Utf16ToAnsi(wide);
        size_t at = line.find("] ");
        if (at == std::string::npos || line.size() < at + 6) continue;
        std::string message = line.substr(at + 6);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
        if (message.rfind(tag, 0) != 0) continue;
        int level = 0;
        for (int i = 0; i < 6; ++i)
            if (line.compare(at + 2, 2, kMarks[i]) == 0) level = i + 1;
        out.push_back(std::to_string(level) + " " + message);
    }
    return out;
}

std::string Hr(uint32_t hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", hr);
    return text;
}

class FirewallTest : public ::testing::Test {
  protected:
    // Windows 10: the step runs there (it is skipped on major version 6).
    void SetUp() override { m.system.version = {10, 0, 19045, platform::kVerPlatformWin32Nt, "", 0, 0}; }

    // TurnICFOn on a thread of its own, so that COM starts from nothing as it does on the
    // worker thread of a run.
    int32_t TurnICFOn() {
        int32_t hr = static_cast<int32_t>(0xdeadbeef);
        std::thread worker([&] { hr = firewall.TurnICFOn(); });
        worker.join();
        return hr;
    }

    void ExpectClean() {
        EXPECT_EQ(0, m.com.OpenObjects());
        EXPECT_EQ(0, m.com.misuses);
        EXPECT_EQ(m.faults.Calls("CoInitializeEx"), m.system.coUninitializeCalls);
    }

    SimMachine m;
    enginetest::LogCapture log{m};
    actions::CWinFirewall firewall{m.platform()};
};

TEST_F(FirewallTest, AFirewallThatIsOnIsSwitchedOffAndOnAgain) {
    EXPECT_EQ(platform::kSOk, TurnICFOn());
    EXPECT_EQ(m.com.firewall.puts, (std::vector<bool>{false, true}));
    EXPECT_TRUE(m.com.firewall.enabled);
    EXPECT_EQ(Records(m), (std::vector<std::string>{
                              "4 CWinFirewall::WindowsFirewallIsOn: The firewall is on.",
                              "4 CWinFirewall::WindowsFirewallTurnOff: The firewall is now off.",
                              "4 CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                              "4 CWinFirewall::WindowsFirewallTurnOn: The firewall is now on.",
                          }));
    EXPECT_EQ(1, m.system.coUninitializeCalls);
    ExpectClean();
}

TEST_F(FirewallTest, AFirewallThatIsOffIsSwitchedOnOnce) {
    m.com.firewall.enabled = false;
    EXPECT_EQ(platform::kSOk, TurnICFOn());
    EXPECT_EQ(m.com.firewall.puts, (std::vector<bool>{true}));
    EXPECT_TRUE(m.com.firewall.enabled);
    EXPECT_EQ(Records(m), (std::vector<std::string>{
                              "4 CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                              "4 CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                              "4 CWinFirewall::WindowsFirewallTurnOn: The firewall is now on.",
                          }));
    ExpectClean();
}

// Each failing call is logged with its HRESULT, ends the switch there and still releases
// every object and uninitialises COM.
TEST_F(FirewallTest, EachFailingCallStopsTheRestAndReleasesEverything) {
    const uint32_t kFail = 0x80070005;
    const std::string kInit = "3 CWinFirewall::TurnICFOn: WindowsFirewallInitialize failed: " + Hr(kFail);
    const std::string kOff = "3 CWinFirewall::TurnICFOn: WindowsFirewallTurnOff failed: " + Hr(kFail);
    const std::string kOn = "3 CWinFirewall::TurnICFOn: WindowsFirewallTurnOn failed: " + Hr(kFail);
    const struct {
        const char* call;
        int skip;  // successful calls before the failing one
        std::vector<bool> puts;
        std::vector<std::string> records;
    } cases[] = {
        {"CoCreateInstance(NetFwMgr)",
         0,
         {},
         {"3 CWinFirewall::WindowsFirewallInitialize: CoCreateInstance failed: " + Hr(kFail), kInit}},
        {"INetFwMgr::get_LocalPolicy",
         0,
         {},
         {"3 CWinFirewall::WindowsFirewallInitialize: get_LocalPolicy failed: " + Hr(kFail), kInit}},
        {"INetFwPolicy::get_CurrentProfile",
         0,
         {},
         {"3 CWinFirewall::WindowsFirewallInitialize: get_CurrentProfile failed: " + Hr(kFail), kInit}},
        {"INetFwProfile::get_FirewallEnabled",
         0,
         {},
         {"3 CWinFirewall::WindowsFirewallIsOn: get_FirewallEnabled failed: " + Hr(kFail),
          "3 CWinFirewall::WindowsFirewallTurnOff: WindowsFirewallIsOn failed: " + Hr(kFail), kOff}},
        {"INetFwProfile::get_FirewallEnabled",
         1,
         {false},
         {"4 CWinFirewall::WindowsFirewallIsOn: The firewall is on.",
          "4 CWinFirewall::WindowsFirewallTurnOff: The firewall is now off.",
          "3 CWinFirewall::WindowsFirewallIsOn: get_FirewallEnabled failed: " + Hr(kFail),
          "3 CWinFirewall::WindowsFirewallTurnOn: WindowsFirewallIsOn failed: " + Hr(kFail), kOn}},
        {"INetFwProfile::put_FirewallEnabled",
         0,
         {},
         {"4 CWinFirewall::WindowsFirewallIsOn: The firewall is on.",
          "3 CWinFirewall::WindowsFirewallTurnOff: put_FirewallEnabled failed: " + Hr(kFail), kOff}},
        {"INetFwProfile::put_FirewallEnabled",
         1,
         {false},
         {"4 CWinFirewall::WindowsFirewallIsOn: The firewall is on.",
          "4 CWinFirewall::WindowsFirewallTurnOff: The firewall is now off.",
          "4 CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
          "3 CWinFirewall::WindowsFirewallTurnOn: put_FirewallEnabled failed: " + Hr(kFail), kOn}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(std::string(t.call) + " after " + std::to_string(t.skip));
        SimMachine machine;
        machine.system.version = m.system.version;
        enginetest::LogCapture capture(machine);
        machine.faults.Fail(t.call, kFail, 1, t.skip);
        actions::CWinFirewall subject(machine.platform());
        int32_t hr = 0;
        std::thread worker([&] { hr = subject.TurnICFOn(); });
        worker.join();
        EXPECT_EQ(static_cast<int32_t>(kFail), hr);
        EXPECT_EQ(t.puts, machine.com.firewall.puts);
        EXPECT_EQ(t.records, Records(machine));
        EXPECT_EQ(0, machine.com.OpenObjects());
        EXPECT_EQ(0, machine.com.misuses);
        EXPECT_EQ(1, machine.system.coUninitializeCalls);
    }
}

TEST_F(FirewallTest, AFirewallThatIsNotInstalledIsReportedAsAClassNotRegistered) {
    m.com.firewall.installed = false;
    EXPECT_EQ(platform::kRegdbEClassNotReg, TurnICFOn());
    EXPECT_EQ(Records(m),
              (std::vector<std::string>{
                  "3 CWinFirewall::WindowsFirewallInitialize: CoCreateInstance failed: 0x80040154",
                  "3 CWinFirewall::TurnICFOn: WindowsFirewallInitialize failed: 0x80040154",
              }));
    ExpectClean();
}

// Wine's profile answers get_FirewallEnabled (off) but not put_FirewallEnabled.
TEST_F(FirewallTest, AProfileThatCannotBeSwitchedIsReportedAsOnWine) {
    m.com.firewall.enabled = false;
    m.com.firewall.putNotImplemented = true;
    EXPECT_EQ(platform::kENotImpl, TurnICFOn());
    EXPECT_TRUE(m.com.firewall.puts.empty());
    EXPECT_EQ(1, m.faults.Calls("INetFwProfile::put_FirewallEnabled"));
    EXPECT_EQ(Records(m), (std::vector<std::string>{
                              "4 CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                              "4 CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                              "3 CWinFirewall::WindowsFirewallTurnOn: put_FirewallEnabled failed: 0x80004001",
                              "3 CWinFirewall::TurnICFOn: WindowsFirewallTurnOn failed: 0x80004001",
                          }));
    ExpectClean();
}

TEST_F(FirewallTest, AFailedCoInitializeExEndsTheStepWithoutTouchingCom) {
    m.faults.Fail("CoInitializeEx", 0x80004005);
    EXPECT_EQ(platform::kEFail, TurnICFOn());
    EXPECT_EQ(Records(m),
              (std::vector<std::string>{"3 CWinFirewall::TurnICFOn: CoInitializeEx failed: 0x80004005"}));
    EXPECT_EQ(0, m.faults.Calls("CoCreateInstance(NetFwMgr)"));
    EXPECT_EQ(0, m.system.coUninitializeCalls);
}

// COM already up on the calling thread: in the same model (S_FALSE) the step balances its
// own initialisation; in the other one (RPC_E_CHANGED_MODE) it works on and leaves COM alone.
TEST_F(FirewallTest, ComAlreadyInitialisedOnTheThreadIsUsedAndLeftAsItWas) {
    for (uint32_t model : {platform::kCoinitApartmentThreaded, platform::kCoinitMultithreaded}) {
        SCOPED_TRACE(model);
        SimMachine machine;
        machine.system.version = m.system.version;
        actions::CWinFirewall subject(machine.platform());
        int depthAfter = -1;
        int32_t hr = -1;
        std::thread worker([&] {
            ASSERT_EQ(platform::kSOk, machine.system.CoInitializeEx(model));
            hr = subject.TurnICFOn();
            depthAfter = machine.system.ComInitDepth();
            machine.system.CoUninitialize();
        });
        worker.join();
        EXPECT_EQ(platform::kSOk, hr);
        EXPECT_EQ(machine.com.firewall.puts, (std::vector<bool>{false, true}));
        EXPECT_EQ(1, depthAfter);
        EXPECT_EQ(0, machine.com.OpenObjects());
    }
}

TEST_F(FirewallTest, MajorVersionSixIsLeftAloneButOtherVersionsAreSwitched) {
    const struct {
        uint32_t major, minor;
        bool switched;
    } cases[] = {{5, 1, true}, {6, 0, false}, {6, 1, false}, {6, 3, false}, {10, 0, true}};
    for (const auto& t : cases) {
        SCOPED_TRACE(std::to_string(t.major) + "." + std::to_string(t.minor));
        SimMachine machine;
        machine.system.version = {t.major,          t.minor, 2600, platform::kVerPlatformWin32Nt,
                                  "Service Pack 2", 2,       0};
        actions::CWinFirewall subject(machine.platform());
        std::thread worker([&] { EXPECT_EQ(platform::kSOk, subject.TurnICFOn()); });
        worker.join();
        EXPECT_EQ(t.switched ? 1 : 0, machine.faults.Calls("CoInitializeEx"));
        EXPECT_EQ(t.switched ? 1 : 0, machine.faults.Calls("CoCreateInstance(NetFwMgr)"));
        const std::vector<bool> expected = t.switched ? std::vector<bool>{false, true} : std::vector<bool>{};
        EXPECT_EQ(expected, machine.com.firewall.puts);
    }
}

TEST_F(FirewallTest, CleanupReleasesTheProfileOnce) {
    std::thread worker([&] {
        ASSERT_EQ(platform::kSOk, m.system.CoInitializeEx(platform::kCoinitApartmentThreaded));
        platform::UniqueCom profile;
        ASSERT_EQ(platform::kSOk, firewall.WindowsFirewallInitialize(profile));
        EXPECT_EQ(1, m.com.OpenObjects());  // the manager and the policy are already gone
        firewall.WindowsFirewallCleanup(profile);
        EXPECT_FALSE(profile);
        firewall.WindowsFirewallCleanup(profile);
        m.system.CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(0, m.com.OpenObjects());
    EXPECT_EQ(0, m.com.misuses);
}

}  // namespace
