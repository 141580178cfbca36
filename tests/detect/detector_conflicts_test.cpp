// Which products of the maker stop the removal, and what the detector finds on the way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detector.h"
#include "detect/detector_fixture.h"

namespace {

using namespace detecttest;
using platform::sim::SimServiceState;
using platform::sim::View;

class Conflicts : public DetectorTest {
  protected:
    // A fresh detector's verdict after the run sequence's first two calls.
    uint32_t Verdict() {
        detect::CDetector d(m.platform());
        (void)d.DetectRunningProducts();
        return d.CheckConflictingProducts();
    }
    void Key(const char* path, View view = View::K32) { ASSERT_TRUE(m.registry.CreatePath(path, view)); }
    // A process whose image lies where only the machine's accounts may change it.
    void Running(const std::string& exe, const std::string& image) {
        m.processes.Add(exe).imagePath = image;
        m.files.CreateFile(image, "MZ");
        MachineOnly(image);
    }
};

TEST_F(Conflicts, EncryptionAndVpnCountOnlyWithBothTheirServiceAndTheirKey) {
    EXPECT_EQ(0u, Verdict());
    m.services.Add("kvcrypt1", SimServiceState::Running);
    m.services.Add("kvipsec");
    EXPECT_EQ(0u, Verdict());

    // The keys the 64-bit view holds are not the product's: it reads the 32-bit one.
    Key(kDiskSealer, View::K64);
    Key(kTunnelPlus, View::K64);
    EXPECT_EQ(0u, Verdict());

    Key(kDiskSealer);
    EXPECT_EQ(1u, Verdict());
    ASSERT_EQ(0u, m.registry.SHDeleteKey(platform::kHkeyLocalMachine,
                                         "SOFTWARE\\Tessel Works\\Kelvaris\\DiskSealer"));
    EXPECT_EQ(0u, Verdict());
    Key(kTunnelPlus);
    EXPECT_EQ(1u, Verdict());
}

TEST_F(Conflicts, ServiceNamesMatchByCaseSensitiveSubstring) {
    Key(kDiskSealer);
    Key(kTunnelPlus);
    m.services.Add("KVCRYPT1");
    m.services.Add("KvIpSec");
    EXPECT_EQ(0u, Verdict());
    m.services.Add("kvipsec_helper").type = platform::kServiceKernelDriver;
    EXPECT_EQ(1u, Verdict());
}

TEST_F(Conflicts, ShellClientKeyAloneBlocks) {
    Key(kShellClient);
    detect::CDetector d(m.platform());
    (void)d.DetectRunningProducts();
    EXPECT_TRUE(d.services.empty());
    EXPECT_TRUE(d.shellClientProcess.empty());
    EXPECT_EQ(1u, d.CheckConflictingProducts());
    EXPECT_EQ(1u, d.removalBlocked);
    m.registry.SecurityOf(kShellClient, View::K32)->deniedAccess = platform::kKeyRead;  // there all the same
    EXPECT_EQ(1u, Verdict());
}

TEST_F(Conflicts, AShellClientProcessBlocksAndTheLastOneFoundIsKept) {
    Running("notepad.exe", "C:\\Windows\\notepad.exe");
    // A look-alike in a folder a standard user can change is passed over.
    m.files.CreateFile("C:\\Users\\Bob\\kvsshaa.exe", "MZ");
    m.processes.Add("kvsshaa.exe").imagePath = "C:\\Users\\Bob\\kvsshaa.exe";
    EXPECT_EQ(0u, Verdict());
    Running("agent.exe", "C:\\Program Files\\Kelvaris\\kvshclient\\agent.exe");
    Running("kvsshaa.exe", "C:\\Program Files\\Kelvaris\\kvsshaa.exe");
    Running("late.exe", "C:\\Program Files\\Kelvaris\\Late\\kvsshaa64.exe");
    detect::CDetector d(m.platform());
    (void)d.DetectRunningProducts();
    EXPECT_EQ(1, d.isNtPlatform);
    EXPECT_EQ("C:\\Program Files\\Kelvaris\\Late\\kvsshaa64.exe", d.shellClientProcess);
    d.LogPassedOverProcesses();
    EXPECT_EQ(Records().back(),
              "3 CDetector::CheckConflictingProducts: Running process 'C:\\Users\\Bob\\kvsshaa.exe' is "
              "not counted as Kelvaris Shell Client: a standard user can change it or a folder above it");
    EXPECT_EQ(1u, d.CheckConflictingProducts());
    EXPECT_EQ(0, m.processes.OpenProcessHandles());
}

TEST_F(Conflicts, ProcessesThatCannotBeReadAreSkippedNotFatal) {
    // One refuses to open, one has no readable modules, one spells the name in capitals
    // (the match is case-sensitive); the last one still counts.
    Running("guard.exe", "C:\\Kelvaris\\kvshclient.exe");
    m.processes.table.back().denyOpen = true;
    m.processes.Add("kvshclient.exe");
    Running("KVSHCLIENT.EXE", "C:\\KELVARIS\\KVSHCLIENT.EXE");
    EXPECT_EQ(0u, Verdict());
    Running("shell.exe", "C:\\Kelvaris\\kvshclient.exe");
    EXPECT_EQ(1u, Verdict());
}

TEST_F(Conflicts, ALongProcessListIsReadToTheEnd) {
    // More than the first 512 ids: the list is read again with room for more.
    for (int i = 0; i < 1100; ++i) m.processes.Add("filler.exe");
    Running("kvsshaa.exe", "C:\\Kelvaris\\kvsshaa.exe");
    detect::CDetector d(m.platform());
    EXPECT_EQ(1u, d.ScanServicesAndProcesses());
    EXPECT_EQ("C:\\Kelvaris\\kvsshaa.exe", d.shellClientProcess);
    EXPECT_EQ(3, m.faults.Calls("EnumProcesses"));
}

TEST_F(Conflicts, EnumerationFailuresLeaveOnlyTheKeyRule) {
    m.services.Add("kvcrypt1");
    Key(kDiskSealer);
    Running("kvsshaa.exe", "C:\\Kelvaris\\kvsshaa.exe");
    struct Case {
        const char* call;
        bool servicesRead;
    } cases[] = {{"OpenSCManagerA", false}, {"EnumServicesStatusA", false}, {"EnumProcesses", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        m.faults.Fail(c.call, platform::kErrorAccessDenied);
        detect::CDetector d(m.platform());
        EXPECT_EQ(uint32_t{platform::kErrorAccessDenied}, d.ScanServicesAndProcesses());
        EXPECT_EQ(c.servicesRead, !d.services.empty());
        EXPECT_TRUE(d.shellClientProcess.empty());
        d.isNtPlatform = 1;
        EXPECT_EQ(c.servicesRead ? 1u : 0u, d.CheckConflictingProducts());
    }
    // With the shell client's key the check still blocks, however little was gathered.
    Key(kShellClient);
    m.faults.Fail("OpenSCManagerA", platform::kErrorAccessDenied);
    EXPECT_EQ(1u, Verdict());
}

TEST_F(Conflicts, TheManagerHandleLivesAsLongAsTheDetector) {
    {
        detect::CDetector d(m.platform());
        (void)d.DetectRunningProducts();
        EXPECT_TRUE(static_cast<bool>(d.scManager));
        EXPECT_EQ(1, m.services.OpenHandles());
    }
    EXPECT_EQ(0, m.services.OpenHandles());
}

class Windows9x : public Conflicts {
  protected:
    void SetUp() override {
        Conflicts::SetUp();
        m.system.version = {4, 10, 2222, platform::kVerPlatformWin32Windows, "A", 0, 0};
    }
};

TEST_F(Windows9x, RunningProcessesNameTheProductsOneLineEach) {
    m.services.Add("kvcrypt1");
    Key(kDiskSealer);
    // The snapshot's first entry is the kernel's own and is not looked at.
    m.processes.table.insert(m.processes.table.begin(), platform::sim::SimProcess{});
    m.processes.table.front().exeFile = "KVSSHAA.EXE";
    detect::CDetector d(m.platform());
    (void)d.DetectRunningProducts();
    EXPECT_EQ(0, d.isNtPlatform);
    EXPECT_EQ("", d.detectedProducts);
    EXPECT_EQ(0u, d.CheckConflictingProducts());  // services and keys are not NT's rules here
    EXPECT_EQ(0, m.services.OpenHandles());

    for (const char* image : {"C:\\WINDOWS\\KVSSHAA.EXE", "C:\\KV\\DSLP.EXE", "C:\\KV\\kvipsec.exe",
                              "C:\\KV\\KVSSHAA.EXE", "C:\\KV\\kvsshaa.exe"})
        Running(image, image);       // named by their full paths here
    m.processes.Add("KVSSHAA.EXE");  // no full path: it cannot be judged and does not count
    (void)d.DetectRunningProducts();
    EXPECT_EQ("Kelvaris Shell Client\nKelvaris Disk Sealer\nKelvaris Tunnel+\nKelvaris Shell Client\n",
              d.detectedProducts);
    EXPECT_EQ(1u, d.CheckConflictingProducts());
}

TEST_F(Windows9x, NoSnapshotFindsNothing) {
    m.processes.Add("DSLP.EXE");
    for (const char* call : {"CreateToolhelp32Snapshot", "Process32First"}) {
        m.faults.Fail(call, platform::kErrorNotEnoughMemory);
        detect::CDetector d(m.platform());
        d.detectedProducts = "stale\n";
        EXPECT_EQ(0u, d.ScanProcessSnapshot()) << call;
        EXPECT_EQ("", d.detectedProducts) << call;
    }
    EXPECT_EQ(0, m.processes.OpenSnapshots());
}

TEST_F(Conflicts, AnUnknownPlatformAnswersMinusOneAndWrongOs) {
    m.system.version.platformId = platform::kVerPlatformWin32s;
    m.services.Add("kvcrypt1");
    detect::CDetector d(m.platform());
    EXPECT_EQ(detect::kUnsupportedPlatform, d.DetectRunningProducts());
    EXPECT_EQ(1151u, m.system.GetLastError());
    EXPECT_TRUE(d.services.empty());
    EXPECT_EQ(0, m.faults.Calls("OpenSCManagerA"));
}

TEST_F(Conflicts, NtAnswersTheLastErrorTheScanLeft) {
    m.faults.Fail("OpenSCManagerA", platform::kErrorAccessDenied);
    detect::CDetector d(m.platform());
    EXPECT_EQ(uint32_t{platform::kErrorAccessDenied}, d.DetectRunningProducts());
}

// --- the administrator check ---

TEST_F(DetectorTest, AdministratorMeansTheGroupEnabledInTheTokenOrNoNtSecurity) {
    using platform::kAdministratorsSid;
    struct Case {
        std::vector<platform::TokenGroup> groups;
        uint32_t expected;
    } cases[] = {
        {{{"S-1-1-0", platform::kSeGroupEnabled}, {kAdministratorsSid, platform::kSeGroupEnabled | 0x3}}, 1},
        {{{kAdministratorsSid, platform::kSeGroupUseForDenyOnly}}, 0},
        {{{"S-1-5-32-545", platform::kSeGroupEnabled}}, 0},
        {{{"S-1-5-32-5440", platform::kSeGroupEnabled}}, 0},
        {{}, 0},
    };
    for (const Case& c : cases) {
        m.system.tokenGroups = c.groups;
        EXPECT_EQ(c.expected, detect::IsAdministrator(m.platform())) << c.groups.size();
        m.system.version.platformId = platform::kVerPlatformWin32Windows;
        EXPECT_EQ(1u, detect::IsAdministrator(m.platform()));
        m.system.version.platformId = platform::kVerPlatformWin32Nt;
    }
    EXPECT_EQ(0, m.system.openTokens);
    m.system.tokenGroups = {{kAdministratorsSid, platform::kSeGroupEnabled}};
    for (const char* call : {"OpenProcessToken", "GetTokenInformation"}) {
        m.faults.Fail(call, platform::kErrorAccessDenied);
        EXPECT_EQ(0u, detect::IsAdministrator(m.platform())) << call;
    }
    EXPECT_EQ(0, m.system.openTokens);
}

}  // namespace
