// Stopping, deleting and creating services and the database lock, on the sim and on the
// real machine. The real runs install copies of programs\kvsvc.exe as services.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/backend.h"
#include "platform/ansi.h"

#ifndef _WIN32
#include "platform/sim/sim_machine.h"
#endif

namespace {

using namespace platform;

constexpr uint32_t kSentinel = 0xdeadbeef;

std::u16string W(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

ServiceStatus Unwritten() {
    ServiceStatus s;
    s.currentState = s.controlsAccepted = s.win32ExitCode = kSentinel;
    return s;
}

class ServicesControlContract : public ::testing::Test {
  protected:
    void SetUp() override {
        ScHandle raw = 0;
        ASSERT_TRUE(scm().OpenSCManager(nullptr, kScManagerAllAccess, raw)) << os().sys.GetLastError();
        manager = UniqueScHandle(&scm(), raw);
        dir = "C:\\" + backend().UniqueName("SweepSvc");
        ASSERT_TRUE(os().fs.CreateDirectoryA(dir, nullptr)) << os().sys.GetLastError();
    }

    void TearDown() override {
        for (const std::string& name : created) {
            ScHandle raw = 0;
            if (!scm().OpenService(manager.get(), name, kServiceAllAccess, raw)) continue;
            UniqueScHandle s(&scm(), raw);
            ServiceStatus status;
            (void)scm().ControlService(s.get(), kServiceControlStop, status);
            (void)scm().DeleteService(s.get());
        }
        for (const std::string& name : created) EndProcessOf(name);
        for (int attempt = 0; attempt < 50; ++attempt) {
            bool clean = true;
            for (const std::string& name : created) {
                const std::string exe = dir + "\\" + name + ".exe";
                clean =
                    (os().fs.DeleteFileA(exe) || os().fs.GetFileAttributesA(exe) == kInvalidFileAttributes) &&
                    clean;
            }
            if (clean && os().fs.RemoveDirectoryA(dir)) break;
            os().sys.Sleep(100);
        }
    }

    contract::Backend& backend() { return contract::GetBackend(); }
    Platform& os() { return backend().os(); }
    IServiceManager& scm() { return os().scm; }

    // A new demand-start service of the test program (a copy named after the service, so
    // that its process can be told apart); `mode` is kvsvc's word for how it treats a stop.
    UniqueScHandle Create(const std::string& mode, std::string& name) {
        name = backend().UniqueName("SweepSvc");
        const std::string exe = dir + "\\" + name + ".exe";
        if (!backend().IsSim()) {
            std::string module;
            EXPECT_EQ(0u, os().sys.GetModuleFileName(module));
            const std::string source = module.substr(0, module.find_last_of('\\')) + "\\programs\\kvsvc.exe";
            EXPECT_TRUE(os().fs.CopyFileW(W(source), W(exe), false))
                << source << ": " << os().sys.GetLastError();
        }
        ScHandle raw = kSentinel;
        EXPECT_TRUE(scm().CreateService(manager.get(), name, name + " (test)", kServiceAllAccess,
                                        kServiceWin32OwnProcess, kServiceDemandStart,
                                        "\"" + exe + "\" " + mode, raw))
            << name << ": " << os().sys.GetLastError();
        created.push_back(name);
        ArrangeOnSim(name, mode);
        return UniqueScHandle(&scm(), raw);
    }

    // The sim cannot run the program: its service is told how the program behaves.
    void ArrangeOnSim(const std::string& name, const std::string& mode) {
#ifndef _WIN32
        if (sim::SimService* s = static_cast<sim::SimServices&>(scm()).Find(name)) {
            s->acceptsStop = mode != "nostop";
            if (mode == "slowstop") s->stopDelayMs = sim::SimService::kNeverStops;
        }
#else
        (void)name, (void)mode;
#endif
    }

    // Ends the process behind a service, as a crash or a kill would.
    void EndProcessOf(const std::string& name) {
#ifndef _WIN32
        if (sim::SimService* s = static_cast<sim::SimServices&>(scm()).Find(name)) s->stopDelayMs = 0;
#else
        SnapshotHandle raw = 0;
        if (!os().proc.CreateToolhelp32Snapshot(kTh32csSnapProcess, 0, raw)) return;
        UniqueSnapshot snapshot(&os().proc, raw);
        ProcessEntry e;
        for (bool ok = os().proc.Process32First(raw, e); ok; ok = os().proc.Process32Next(raw, e)) {
            if (AnsiCompareNoCase(e.exeFile.c_str(), (name + ".exe").c_str()) != 0) continue;
            ProcessHandle h = 0;
            if (!os().proc.OpenProcess(kSynchronize | kProcessTerminate, false, e.processId, h)) continue;
            UniqueProcess p(&os().proc, h);
            (void)os().proc.TerminateProcess(h, 1);
            (void)os().proc.WaitForMultipleObjects({h}, true, 5000);
        }
#endif
    }

    // Polls as the removal does, only faster: the state once it is `want` or time is up.
    uint32_t PollFor(ScHandle s, uint32_t want, int polls = 50) {
        ServiceStatus status = Unwritten();
        for (int i = 0; i < polls; ++i) {
            os().sys.Sleep(100);
            EXPECT_TRUE(scm().QueryServiceStatus(s, status)) << os().sys.GetLastError();
            if (status.currentState == want) break;
        }
        return status.currentState;
    }

    // Whether OpenService finds the service, waiting a little for it to go.
    bool GoneWithin(const std::string& name, int polls) {
        for (int i = 0; i < polls; ++i) {
            ScHandle raw = kSentinel;
            if (!scm().OpenService(manager.get(), name, kServiceQueryStatus, raw)) {
                EXPECT_EQ(kErrorServiceDoesNotExist, os().sys.GetLastError());
                EXPECT_EQ(ScHandle{kSentinel}, raw);
                return true;
            }
            scm().CloseServiceHandle(raw);
            os().sys.Sleep(100);
        }
        return false;
    }

    UniqueScHandle manager;
    std::string dir;
    std::vector<std::string> created;
};

TEST_F(ServicesControlContract, ServiceStartsStopsAndGoesOnceDeletedAndClosed) {
    std::string name;
    UniqueScHandle s = Create("", name);
    ASSERT_TRUE(s);
    ServiceStatus status = Unwritten();
    ASSERT_TRUE(scm().QueryServiceStatus(s.get(), status));
    EXPECT_EQ(uint32_t{kServiceStopped}, status.currentState);
    EXPECT_EQ(uint32_t{kServiceWin32OwnProcess}, status.serviceType);
    EXPECT_EQ(uint32_t{kErrorServiceNeverStarted}, status.win32ExitCode);

    ASSERT_TRUE(scm().StartService(s.get())) << os().sys.GetLastError();
    ASSERT_TRUE(scm().QueryServiceStatus(s.get(), status));
    EXPECT_EQ(uint32_t{kServiceRunning}, status.currentState);
    EXPECT_EQ(uint32_t{kServiceAcceptStop}, status.controlsAccepted);

    status = Unwritten();
    ASSERT_TRUE(scm().ControlService(s.get(), kServiceControlStop, status)) << os().sys.GetLastError();
    EXPECT_TRUE(status.currentState == kServiceStopPending || status.currentState == kServiceStopped)
        << status.currentState;
    EXPECT_EQ(uint32_t{kServiceStopped}, PollFor(s.get(), kServiceStopped));
    ASSERT_TRUE(scm().QueryServiceStatus(s.get(), status));
    EXPECT_EQ(0u, status.win32ExitCode);

    ASSERT_TRUE(scm().DeleteService(s.get()));
    EXPECT_FALSE(scm().DeleteService(s.get()));
    EXPECT_EQ(kErrorServiceMarkedForDelete, os().sys.GetLastError());
    ScHandle raw = kSentinel;
    EXPECT_FALSE(scm().CreateService(manager.get(), name, name, kServiceAllAccess, kServiceWin32OwnProcess,
                                     kServiceDemandStart, "C:\\x.exe", raw));
    EXPECT_EQ(kErrorServiceMarkedForDelete, os().sys.GetLastError());
    // While a handle is open the marked service is still there, and opens.
    ASSERT_TRUE(scm().OpenService(manager.get(), name, kServiceQueryStatus, raw));
    scm().CloseServiceHandle(raw);

    s.reset();
    EXPECT_TRUE(GoneWithin(name, 1));
}

TEST_F(ServicesControlContract, StopIsRefusedByStoppedAndUnwillingServices) {
    std::string stoppedName, unwillingName;
    UniqueScHandle stopped = Create("", stoppedName);
    ServiceStatus status = Unwritten();
    EXPECT_FALSE(scm().ControlService(stopped.get(), kServiceControlStop, status));
    EXPECT_EQ(kErrorServiceNotActive, os().sys.GetLastError());
    EXPECT_EQ(uint32_t{kServiceStopped}, status.currentState) << "the status comes with this refusal";

    UniqueScHandle unwilling = Create("nostop", unwillingName);
    ASSERT_TRUE(scm().StartService(unwilling.get())) << os().sys.GetLastError();
    ASSERT_TRUE(scm().QueryServiceStatus(unwilling.get(), status));
    EXPECT_EQ(0u, status.controlsAccepted);
    status = Unwritten();
    EXPECT_FALSE(scm().ControlService(unwilling.get(), kServiceControlStop, status));
    EXPECT_EQ(kErrorInvalidServiceControl, os().sys.GetLastError());
    EXPECT_EQ(kSentinel, status.currentState) << "no status with this one";
}

TEST_F(ServicesControlContract, ServiceThatHangsInStopPendingIsDeletedAndGoesWhenItsProcessEnds) {
    std::string name;
    UniqueScHandle s = Create("slowstop", name);
    ASSERT_TRUE(scm().StartService(s.get())) << os().sys.GetLastError();
    ServiceStatus status = Unwritten();
    ASSERT_TRUE(scm().ControlService(s.get(), kServiceControlStop, status));
    EXPECT_EQ(uint32_t{kServiceStopPending}, status.currentState);
    EXPECT_EQ(uint32_t{kServiceStopPending}, PollFor(s.get(), kServiceStopped, 5));

    status = Unwritten();
    EXPECT_FALSE(scm().ControlService(s.get(), kServiceControlStop, status));
    EXPECT_EQ(kErrorServiceCannotAcceptCtrl, os().sys.GetLastError());
    EXPECT_EQ(uint32_t{kServiceStopPending}, status.currentState);

    ASSERT_TRUE(scm().DeleteService(s.get()));
    s.reset();
    EXPECT_FALSE(GoneWithin(name, 3)) << "a service that has not stopped stays";
    EndProcessOf(name);
    EXPECT_TRUE(GoneWithin(name, 50));
}

TEST_F(ServicesControlContract, DatabaseLockIsTakenAndGiven) {
    ScLock lock = 0;
    ASSERT_TRUE(scm().LockServiceDatabase(manager.get(), lock)) << os().sys.GetLastError();
    EXPECT_NE(ScLock{0}, lock);
    EXPECT_TRUE(scm().UnlockServiceDatabase(lock)) << os().sys.GetLastError();
}

TEST_F(ServicesControlContract, DatabaseLockExcludesASecondLocker) {
    CONTRACT_SKIP_ON_WIN32("Wine's LockServiceDatabase is a stub: every call succeeds, as does every unlock");
    ScLock lock = 0, second = kSentinel;
    ASSERT_TRUE(scm().LockServiceDatabase(manager.get(), lock));
    EXPECT_FALSE(scm().LockServiceDatabase(manager.get(), second));
    EXPECT_EQ(kErrorServiceDatabaseLocked, os().sys.GetLastError());
    EXPECT_EQ(ScLock{kSentinel}, second);
    EXPECT_FALSE(scm().UnlockServiceDatabase(0));
    EXPECT_EQ(kErrorInvalidServiceLock, os().sys.GetLastError());
    EXPECT_TRUE(scm().UnlockServiceDatabase(lock));
    EXPECT_FALSE(scm().UnlockServiceDatabase(lock));
    EXPECT_EQ(kErrorInvalidServiceLock, os().sys.GetLastError());

    ScHandle raw = 0;
    ASSERT_TRUE(scm().OpenSCManager(nullptr, kScManagerConnect, raw));
    UniqueScHandle connectOnly(&scm(), raw);
    EXPECT_FALSE(scm().LockServiceDatabase(connectOnly.get(), second));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
}

TEST_F(ServicesControlContract, BadNamesHandlesAndMissingRightsAreRefused) {
    ScHandle raw = kSentinel;
    EXPECT_FALSE(
        scm().OpenService(manager.get(), backend().UniqueName("SweepNoSuchService"), kServiceAllAccess, raw));
    EXPECT_EQ(kErrorServiceDoesNotExist, os().sys.GetLastError());
    EXPECT_EQ(ScHandle{kSentinel}, raw);

    std::string name;
    UniqueScHandle s = Create("", name);
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    const struct {
        std::string name, binary;
        uint32_t error;
    } refusals[] = {
        {upper, "C:\\x.exe", kErrorServiceExists},
        {"", "C:\\x.exe", kErrorInvalidName},
        {"Sweep\\Bad", "C:\\x.exe", kErrorInvalidName},
        {name + "x", "", kErrorInvalidParameter},
    };
    for (const auto& r : refusals) {
        EXPECT_FALSE(scm().CreateService(manager.get(), r.name, r.name, kServiceAllAccess,
                                         kServiceWin32OwnProcess, kServiceDemandStart, r.binary, raw))
            << r.name;
        EXPECT_EQ(r.error, os().sys.GetLastError()) << r.name;
    }
    EXPECT_EQ(ScHandle{kSentinel}, raw);

    ServiceStatus status = Unwritten();
    EXPECT_FALSE(scm().QueryServiceStatus(0, status));
    EXPECT_EQ(kErrorInvalidHandle, os().sys.GetLastError());
    EXPECT_FALSE(scm().ControlService(manager.get(), kServiceControlStop, status));
    EXPECT_EQ(kErrorInvalidHandle, os().sys.GetLastError());
    EXPECT_FALSE(scm().DeleteService(0));
    EXPECT_EQ(kErrorInvalidHandle, os().sys.GetLastError());
    EXPECT_EQ(kSentinel, status.currentState);

    ASSERT_TRUE(scm().OpenService(manager.get(), name, kServiceQueryStatus, raw));
    UniqueScHandle queryOnly(&scm(), raw);
    ASSERT_TRUE(scm().OpenService(manager.get(), name, kServiceStop, raw));
    UniqueScHandle stopOnly(&scm(), raw);
    EXPECT_FALSE(scm().ControlService(queryOnly.get(), kServiceControlStop, status));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
    EXPECT_FALSE(scm().DeleteService(queryOnly.get()));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
    EXPECT_FALSE(scm().QueryServiceStatus(stopOnly.get(), status));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
    EXPECT_EQ(kSentinel, status.currentState);
}

#ifndef _WIN32
// What only the simulated machine shows: a stop that takes virtual time, the enumeration of
// a stopping service, the deletion of a running service.
class SimServiceControl : public ::testing::Test {
  protected:
    sim::SimMachine m;
    IServiceManager& scm = m.platform().scm;
    ScHandle Open(const std::string& name) {
        ScHandle manager = 0, s = 0;
        EXPECT_TRUE(scm.OpenSCManager(nullptr, kScManagerAllAccess, manager));
        EXPECT_TRUE(scm.OpenService(manager, name, kServiceAllAccess, s));
        scm.CloseServiceHandle(manager);
        return s;
    }
};

TEST_F(SimServiceControl, StopTakesTheArrangedVirtualTime) {
    m.services.Add("kvslow", sim::SimServiceState::Running).stopDelayMs = 4500;
    ScHandle s = Open("kvslow");
    ServiceStatus status;
    ASSERT_TRUE(scm.ControlService(s, kServiceControlStop, status));
    int polls = 0;
    do {
        m.system.Sleep(1000);
        ++polls;
        ASSERT_TRUE(scm.QueryServiceStatus(s, status));
    } while (status.currentState != kServiceStopped && polls < 30);
    EXPECT_EQ(5, polls);
    EXPECT_EQ(1, m.services.Find("kvslow")->controls);
    scm.CloseServiceHandle(s);
}

TEST_F(SimServiceControl, StoppingServiceIsActiveAndADeletedOneGoesOnceStoppedAndClosed) {
    m.services.Add("kvhang", sim::SimServiceState::Running).stopDelayMs = sim::SimService::kNeverStops;
    ScHandle s = Open("kvhang");
    ServiceStatus status;
    ASSERT_TRUE(scm.ControlService(s, kServiceControlStop, status));
    ASSERT_TRUE(scm.DeleteService(s));
    ScHandle manager = 0;
    ASSERT_TRUE(scm.OpenSCManager(nullptr, kScManagerAllAccess, manager));
    std::vector<EnumServiceStatus> active;
    uint32_t needed = 0, returned = 0;
    ASSERT_TRUE(scm.EnumServicesStatus(manager, kServiceWin32, kServiceActive, 4096, active, needed, returned,
                                       nullptr));
    ASSERT_EQ(1u, active.size());
    EXPECT_EQ(uint32_t{kServiceStopPending}, active[0].currentState);
    scm.CloseServiceHandle(manager);

    scm.CloseServiceHandle(s);
    ASSERT_NE(nullptr, m.services.Find("kvhang"));
    m.services.Find("kvhang")->stopDelayMs = 0;
    EXPECT_EQ(nullptr, m.services.Find("kvhang"));
    EXPECT_EQ(std::vector<std::string>{"kvhang"}, m.services.removed);
    EXPECT_EQ(0, m.services.OpenHandles());
}
#endif

}  // namespace
