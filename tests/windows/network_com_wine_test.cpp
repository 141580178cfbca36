// The firewall step and the Security Center cleanup on the real COM objects. Wine's
// firewall profile is off and cannot be switched (E_NOTIMPL), and its WMI has no
// root\SecurityCenter: the steps must report exactly that and release everything.
// Wine reports Windows 7, where the firewall step is skipped; the tests give the step a
// system that reports Windows 10 and otherwise asks the real one.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "actions/firewall.h"
#include "actions/security_center.h"
#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/win32/win32_machine.h"
#include "windows/log_records.h"
// Without the SDK's A/W renaming, which would miss the overrides of the system below.
#include "platform/win32/windows_api.h"

namespace {

class Windows10System : public platform::win32::Win32System {
  public:
    bool GetVersionEx(platform::OsVersionInfo& out) override {
        if (!Win32System::GetVersionEx(out)) return false;
        out.majorVersion = 10;
        out.minorVersion = 0;
        return true;
    }
};

// The real COM objects, with a note of what each call answered.
class RecordingCom : public platform::win32::Win32Com {
  public:
    std::vector<std::string> calls;
    int open = 0;

    void Release(platform::ComObject object) override {
        if (object != 0) --open;
        Win32Com::Release(object);
    }
    int32_t CreateFirewallManager(platform::ComObject& manager) override {
        const int32_t hr = Win32Com::CreateFirewallManager(manager);
        return Note("CoCreateInstance(NetFwMgr)", hr, manager);
    }
    int32_t GetLocalPolicy(platform::ComObject manager, platform::ComObject& policy) override {
        const int32_t hr = Win32Com::GetLocalPolicy(manager, policy);
        return Note("get_LocalPolicy", hr, policy);
    }
    int32_t GetCurrentProfile(platform::ComObject policy, platform::ComObject& profile) override {
        const int32_t hr = Win32Com::GetCurrentProfile(policy, profile);
        return Note("get_CurrentProfile", hr, profile);
    }
    int32_t GetFirewallEnabled(platform::ComObject profile, bool& enabled) override {
        return Note("get_FirewallEnabled", Win32Com::GetFirewallEnabled(profile, enabled));
    }
    int32_t PutFirewallEnabled(platform::ComObject profile, bool enabled) override {
        return Note(enabled ? "put_FirewallEnabled(true)" : "put_FirewallEnabled(false)",
                    Win32Com::PutFirewallEnabled(profile, enabled));
    }
    int32_t CreateWbemLocator(platform::ComObject& locator) override {
        const int32_t hr = Win32Com::CreateWbemLocator(locator);
        return Note("CoCreateInstance(WbemLocator)", hr, locator);
    }
    int32_t ConnectServer(platform::ComObject locator, const std::u16string& nameSpace,
                          platform::ComObject& services) override {
        const int32_t hr = Win32Com::ConnectServer(locator, nameSpace, services);
        return Note("ConnectServer", hr, services);
    }
    int32_t DeleteInstance(platform::ComObject services, const std::u16string& objectPath) override {
        return Note("DeleteInstance", Win32Com::DeleteInstance(services, objectPath));
    }

  private:
    int32_t Note(const char* call, int32_t hr, platform::ComObject object = 0) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
        calls.push_back(std::string(call) + " " + text);
        if (object != 0) ++open;
        return hr;
    }
};

std::vector<std::string> Records(const std::wstring& path) {
    return wintest::LogRecords(path, "CWinFirewall|CNuke");
}

class NetworkComWine : public ::testing::Test {
  protected:
    void SetUp() override {
        log_ = L"C:\\ProgramData\\Kelvaris\\Logs\\comwine\\sweeptool.log";
        ::DeleteFileW(log_.c_str());
        KvQmrLogging::ResetForTests(&os_);
        KvQmrLogging::LogInitA("comwine", "sweeptool", 6, 0);
    }
    void TearDown() override {
        KvQmrLogging::ResetForTests(nullptr);
        ::DeleteFileW(log_.c_str());
    }
    std::vector<std::string> Log() {
        KvQmrLogging::ResetForTests(nullptr);
        return Records(log_);
    }
    // On a thread of its own, where COM starts from nothing, as on the run's worker thread.
    template <typename Body>
    void OnNewThread(Body body) {
        std::thread worker(body);
        worker.join();
    }

    platform::win32::Win32Machine m_;
    Windows10System windows10_;
    RecordingCom com_;
    platform::Platform os_{windows10_, m_.registry, m_.files,     m_.services, m_.processes, m_.security,
                           m_.sync,    m_.shell,    m_.installer, m_.winsock,  com_};
    std::wstring log_;
};

TEST_F(NetworkComWine, TheFirewallStepReportsThatWinesProfileCannotBeSwitched) {
    actions::CWinFirewall firewall(os_);
    int32_t hr = 0;
    OnNewThread([&] { hr = firewall.TurnICFOn(); });
    EXPECT_EQ(platform::kENotImpl, hr);
    // Wine's profile is off: the turn-off has nothing to do, the turn-on is refused.
    EXPECT_EQ(com_.calls, (std::vector<std::string>{
                              "CoCreateInstance(NetFwMgr) 0x00000000",
                              "get_LocalPolicy 0x00000000",
                              "get_CurrentProfile 0x00000000",
                              "get_FirewallEnabled 0x00000000",
                              "get_FirewallEnabled 0x00000000",
                              "put_FirewallEnabled(true) 0x80004001",
                          }));
    EXPECT_EQ(0, com_.open);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         " I CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                         " I CWinFirewall::WindowsFirewallIsOn: The firewall is off.",
                         ".W CWinFirewall::WindowsFirewallTurnOn: put_FirewallEnabled failed: 0x80004001",
                         ".W CWinFirewall::TurnICFOn: WindowsFirewallTurnOn failed: 0x80004001",
                     }));
}

TEST_F(NetworkComWine, OnTheWindows7WineReportsTheFirewallStepDoesNothing) {
    platform::Platform real{m_.system, m_.registry, m_.files,     m_.services, m_.processes, m_.security,
                            m_.sync,   m_.shell,    m_.installer, m_.winsock,  com_};
    platform::OsVersionInfo version;
    ASSERT_TRUE(m_.system.GetVersionEx(version));
    if (version.majorVersion != 6) GTEST_SKIP() << "this Wine reports " << version.majorVersion;
    actions::CWinFirewall firewall(real);
    OnNewThread([&] { EXPECT_EQ(platform::kSOk, firewall.TurnICFOn()); });
    EXPECT_TRUE(com_.calls.empty());
    EXPECT_TRUE(Log().empty());
}

TEST_F(NetworkComWine, TheSecurityCenterCleanupFindsNoNamespaceAndSaysNothing) {
    OnNewThread([&] { engine::RemoveSecurityCenterEntries(os_); });
    // Each deletion connects on its own; Wine has no root\SecurityCenter.
    EXPECT_EQ(com_.calls, (std::vector<std::string>{
                              "CoCreateInstance(WbemLocator) 0x00000000",
                              "ConnectServer 0x8004100e",
                              "CoCreateInstance(WbemLocator) 0x00000000",
                              "ConnectServer 0x8004100e",
                          }));
    EXPECT_EQ(0, com_.open);
    EXPECT_TRUE(Log().empty());

    // The deletions themselves answer the connection's failure.
    int32_t antiVirus = 0, firewall = 0;
    OnNewThread([&] {
        ASSERT_EQ(platform::kSOk, os_.sys.CoInitialize());
        antiVirus = actions::DeleteAntiVirusProductInstance(os_);
        firewall = actions::DeleteFirewallProductInstance(os_);
        os_.sys.CoUninitialize();
    });
    EXPECT_EQ(platform::kWbemEInvalidNamespace, antiVirus);
    EXPECT_EQ(platform::kWbemEInvalidNamespace, firewall);
}

}  // namespace
