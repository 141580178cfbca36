// The reset of the Winsock catalogues: every layered provider and chain of the tool's own
// catalogue removed in up to five passes, base protocols kept, and on 64-bit Windows the
// 64-bit remover started hidden and waited for up to a minute of virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "actions/protocol_catalog.h"
#include "actions/removal_fixture.h"

namespace {

using platform::Guid;
using platform::IWinsock;
using platform::ProtocolInfo;
using platform::sim::SimProcess;
using platform::sim::SimProgramRun;
using platform::sim::SimProtocolCatalog;
using removal_testing::RemovalTest;

constexpr Guid kLsp{0x0A11CE00, 0x1111, 0x4A4A, {0x80, 1, 2, 3, 4, 5, 6, 7}};
constexpr Guid kOther{0x0B0B0B0B, 0x2222, 0x4B4B, {0x90, 7, 6, 5, 4, 3, 2, 1}};
constexpr char kRemover[] = "C:\\Tools\\instkvps_x64.exe";

const char kSuccess[] = "5 CNuke::ResetLspStack: ResetLspStack was successful";
const char kRunning64[] =
    "4 CNuke::ResetLspStack: Running in 64bit environment, removing LSP from 64bit stack.";
const char kCalling[] = "5 CNuke::RemoveKVLsp64: Calling UnInstall function from the installation utility.";

// A provider with a layered entry and a chain over each of TCP and UDP on IPv4.
void AddProvider(SimProtocolCatalog& c, const Guid& provider) {
    const uint32_t layered = c.AddLayered(provider, u"layer");
    c.AddChain(provider, {layered, c.BaseEntryId(platform::kAfInet, platform::kSockStream)}, u"over TCP");
    c.AddChain(provider, {layered, c.BaseEntryId(platform::kAfInet, platform::kSockDgram)}, u"over UDP");
}

std::vector<uint32_t> Ids(const SimProtocolCatalog& c) {
    std::vector<uint32_t> ids;
    for (const ProtocolInfo& e : c.entries) ids.push_back(e.catalogEntryId);
    return ids;
}

class ResetLspStackTest : public RemovalTest {
  protected:
    void SetUp() override {
        RemovalTest::SetUp();
        base = Ids(m.winsock.catalog32);
    }

    // A remover in the tool's folder that does what the real one does to the 64-bit
    // catalogue, then takes `runsForMs` to end.
    void RealRemover(uint32_t runsForMs = 1500) {
        Remover([this, runsForMs](const std::u16string&) {
            return SimProgramRun{actions::RemoveLayeredProvidersToBase(m.winsock.Catalog64()), runsForMs};
        });
    }
    // A remover in the tool's folder, which only the machine's accounts may change.
    void Remover(platform::sim::SimProgram behaviour) {
        m.processes.AddProgram(kRemover, std::move(behaviour));
        MachineOnly(kRemover);
    }

    std::vector<uint32_t> base;
};

TEST_F(ResetLspStackTest, ABaseOnlyCatalogueTakesOnePassAndNothingIsDeinstalled) {
    m.system.is64BitWindows = false;
    RealRemover();
    EXPECT_EQ(nuke.ResetLspStack(), 0u);
    // One pass: the size, then the entries.
    EXPECT_EQ(m.faults.Calls("WSCEnumProtocols"), 2);
    EXPECT_TRUE(m.winsock.catalog32.deinstallCalls.empty());
    EXPECT_EQ(Ids(m.winsock.catalog32), base);
    // On 32-bit Windows there is no 64-bit catalogue to clean.
    EXPECT_TRUE(m.processes.startedHidden.empty());
    EXPECT_EQ(Messages(), std::vector<std::string>{kSuccess});
}

TEST_F(ResetLspStackTest, EveryLayeredEntryAndChainOfEveryProviderGoesAndBaseEntriesStay) {
    m.system.is64BitWindows = false;
    AddProvider(m.winsock.catalog32, kLsp);
    m.winsock.catalog32.AddLayered(kOther, u"other layer");
    m.winsock.catalog32.AddChain(kOther, {m.winsock.catalog32.entries.back().catalogEntryId, base[2]}, u"v6");

    const actions::LayeredRemoval removal = actions::RemoveLayeredProviders(m.platform().wsc, 5);
    EXPECT_EQ(removal.passes, 2);
    // Each entry is tried, though the first of a provider already takes the others along.
    EXPECT_EQ(removal.deinstallCalls, 5);
    EXPECT_EQ((m.winsock.catalog32.deinstallCalls), (std::vector<Guid>{kLsp, kLsp, kLsp, kOther, kOther}));
    EXPECT_FALSE(removal.layeredLeft);
    EXPECT_FALSE(removal.enumerationFailed);
    EXPECT_EQ(removal.lastError, 0);
    EXPECT_EQ(Ids(m.winsock.catalog32), base);

    // The step itself does the same and always succeeds.
    AddProvider(m.winsock.catalog32, kOther);
    EXPECT_EQ(nuke.ResetLspStack(), 0u);
    EXPECT_EQ(Ids(m.winsock.catalog32), base);
    EXPECT_EQ(Messages(), std::vector<std::string>{kSuccess});
}

TEST_F(ResetLspStackTest, AProviderThatCannotBeDeinstalledCostsExactlyFivePasses) {
    m.system.is64BitWindows = false;
    AddProvider(m.winsock.catalog32, kLsp);
    AddProvider(m.winsock.catalog32, kOther);
    m.winsock.catalog32.undeletable.push_back(kLsp);
    EXPECT_EQ(nuke.ResetLspStack(), 0u);
    EXPECT_EQ(m.faults.Calls("WSCEnumProtocols"), 10);
    // Pass 1: three tries of the locked provider, one that removes the other and two
    // more of it; passes 2 to 5: three tries of the locked one each.
    EXPECT_EQ(m.winsock.catalog32.deinstallCalls.size(), 6u + 4 * 3u);
    EXPECT_EQ(m.winsock.catalog32.LayeredCount(), 3);
    EXPECT_FALSE(m.winsock.catalog32.HasProvider(kOther));
    EXPECT_EQ(Messages(), std::vector<std::string>{kSuccess});

    const actions::LayeredRemoval removal = actions::RemoveLayeredProviders(m.platform().wsc, 5);
    EXPECT_EQ(removal.passes, 5);
    EXPECT_TRUE(removal.layeredLeft);
    EXPECT_EQ(removal.lastError, platform::kWsaNoRecovery);
    // The remover's verdict on such a catalogue is that error.
    EXPECT_EQ(actions::RemoveLayeredProvidersToBase(m.platform().wsc), uint32_t{platform::kWsaNoRecovery});
}

TEST_F(ResetLspStackTest, AnEnumerationThatFailsEndsThePasses) {
    m.system.is64BitWindows = false;
    const struct {
        const char* what;
        int skip;  // WSCEnumProtocols calls that succeed first
        int passes;
        int deinstalls;
    } cases[] = {
        {"the size", 0, 1, 0},
        {"the entries", 1, 1, 0},
        {"the second pass", 2, 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m.winsock.catalog32.ResetToBase();
        AddProvider(m.winsock.catalog32, kLsp);
        m.winsock.catalog32.deinstallCalls.clear();
        m.faults.Fail("WSCEnumProtocols", platform::kWsaeInval, -1, c.skip);
        const actions::LayeredRemoval removal = actions::RemoveLayeredProviders(m.platform().wsc, 5);
        EXPECT_EQ(removal.passes, c.passes);
        EXPECT_EQ(removal.deinstallCalls, c.deinstalls);
        EXPECT_TRUE(removal.enumerationFailed);
        EXPECT_EQ(removal.lastError, platform::kWsaeInval);
        EXPECT_EQ(actions::RemoveLayeredProvidersToBase(m.platform().wsc), uint32_t{platform::kWsaeInval});
        m.faults.ClearAll();
    }
    m.faults.Fail("WSCEnumProtocols", platform::kWsaeInval, -1);
    AddProvider(m.winsock.catalog32, kOther);
    EXPECT_EQ(nuke.ResetLspStack(), 0u);
    EXPECT_TRUE(m.winsock.catalog32.HasProvider(kOther));
    EXPECT_EQ(Messages(), std::vector<std::string>{kSuccess});
}

TEST_F(ResetLspStackTest, ASnapshotIsWhatTheCallReportedAndAnOversizedCatalogueIsRefused) {
    actions::ProtocolCatalog catalog(m.platform().wsc);
    ASSERT_TRUE(catalog.Enumerate());
    ASSERT_EQ(catalog.GetCount(), 6u);
    EXPECT_EQ(catalog.GetEntry(5)->catalogEntryId, base[5]);
    EXPECT_EQ(catalog.GetEntry(6), nullptr);
    catalog.Clear();
    EXPECT_EQ(catalog.GetCount(), 0u);

    for (uint32_t i = 0; i < actions::ProtocolCatalog::kMaxEntries; ++i)
        m.winsock.catalog32.AddLayered(kLsp, u"x");
    EXPECT_FALSE(catalog.Enumerate());
    EXPECT_EQ(catalog.GetCount(), 0u);
    EXPECT_EQ(catalog.LastError(), platform::kWsaeNoBufs);
    // Only the size was asked for.
    EXPECT_EQ(m.faults.Calls("WSCEnumProtocols"), 3);
}

TEST_F(ResetLspStackTest, On64BitWindowsTheRemoverCleansThe64BitCatalogueFirst) {
    AddProvider(m.winsock.catalog64, kLsp);
    m.winsock.catalog64.AddLayered(kOther, u"other");
    AddProvider(m.winsock.catalog32, kLsp);
    RealRemover();
    EXPECT_EQ(nuke.ResetLspStack(), 0u);

    ASSERT_EQ(m.processes.startedHidden.size(), 1u);
    EXPECT_EQ(m.processes.startedHidden[0].commandLine, u"\"C:\\Tools\\instkvps_x64.exe\" uninstall");
    EXPECT_EQ(m.processes.startedHidden[0].imagePath, kRemover);
    EXPECT_EQ(Ids(m.winsock.catalog64), base);
    EXPECT_EQ(Ids(m.winsock.catalog32), base);
    EXPECT_EQ(m.system.clockMs, 1500u);
    EXPECT_EQ(m.processes.OpenProcessHandles(), 0);
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              kRunning64,
                              kCalling,
                              "2 CNuke::RemoveKVLsp64: instkvps_x64 process finished with code: 0",
                              kSuccess,
                          }));
}

TEST_F(ResetLspStackTest, TheRemoversExitCodeIsLoggedWhateverItIs) {
    const struct {
        const char* what;
        uint32_t code;
    } cases[] = {{"a failure of its own", 5}, {"a provider it cannot remove", platform::kWsaNoRecovery}};
    m.winsock.catalog64.undeletable.push_back(kOther);
    AddProvider(m.winsock.catalog64, kOther);
    Remover([](const std::u16string&) { return SimProgramRun{5, 10}; });
    EXPECT_EQ(nuke.RemoveKVLsp64(), 1u);
    RealRemover();
    EXPECT_EQ(nuke.RemoveKVLsp64(), 1u);
    std::vector<std::string> messages = Messages();
    ASSERT_EQ(messages.size(), 4u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(messages[2 * i], kCalling);
        EXPECT_EQ(messages[2 * i + 1], "2 CNuke::RemoveKVLsp64: instkvps_x64 process finished with code: " +
                                           std::to_string(cases[i].code));
    }
}

TEST_F(ResetLspStackTest, AMissingOrRefusedRemoverIsLoggedAndThe32BitCatalogueIsStillReset) {
    // Removers elsewhere on the search, where a standard user may have put them.
    m.system.currentDirectory = "C:\\Users\\u\\Downloads";
    m.system.environment[u"PATH"] = u"C:\\UserTools";
    for (const char* planted : {"C:\\Users\\u\\Downloads\\instkvps_x64.exe",
                                "C:\\UserTools\\instkvps_x64.exe", "C:\\Windows\\system32\\instkvps_x64.exe"})
        m.processes.AddProgram(planted, nullptr);
    for (uint32_t fault : {0u, uint32_t{platform::kErrorAccessDenied}}) {
        SCOPED_TRACE(fault);
        if (fault != 0) {
            RealRemover();
            m.faults.Fail("CreateProcessW", fault);
        }
        AddProvider(m.winsock.catalog32, kLsp);
        const size_t before = Records().size();
        EXPECT_EQ(nuke.ResetLspStack(), 0u);
        EXPECT_EQ(Ids(m.winsock.catalog32), base);
        const std::vector<std::string> all = Messages();
        EXPECT_EQ(
            std::vector<std::string>(all.begin() + before, all.end()),
            (std::vector<std::string>{kRunning64, kCalling,
                                      "3 CNuke::RemoveKVLsp64: Calling instkvps_x64 failed!", kSuccess}));
        EXPECT_TRUE(m.processes.startedHidden.empty());
    }
    m.faults.Fail("CreateProcessW", platform::kErrorFileNotFound);
    EXPECT_EQ(nuke.RemoveKVLsp64(), 0u);
    EXPECT_EQ(nuke.RemoveKVLsp64(), 1u);

    // A remover a standard user could have replaced: its folder is theirs, or it is writable.
    m.files.SecurityOf("C:\\Tools")->ownerSid = "S-1-5-21-7-7-7-1001";
    EXPECT_EQ(nuke.RemoveKVLsp64(), 0u);
    m.files.SecurityOf("C:\\Tools")->ownerSid.clear();
    m.files.SecurityOf(kRemover)->sddl += "(A;;0x2;;;S-1-5-11)";
    EXPECT_EQ(nuke.RemoveKVLsp64(), 0u);
    EXPECT_EQ(m.processes.startedHidden.size(), 1u);
    const std::vector<std::string> all = Messages();
    EXPECT_EQ(2, std::count(
                     all.begin(), all.end(),
                     "2 CNuke::RemoveKVLsp64: 'C:\\Tools\\instkvps_x64.exe' not started: a standard user can "
                     "change it or a folder above it"));
}

TEST_F(ResetLspStackTest, AHangingRemoverIsLeftRunningAfterAMinuteWithoutARecord) {
    Remover([](const std::u16string&) { return SimProgramRun{0, SimProcess::kNeverEnds}; });
    AddProvider(m.winsock.catalog32, kLsp);
    EXPECT_EQ(nuke.ResetLspStack(), 0u);
    EXPECT_EQ(m.system.clockMs, 60000u);
    ASSERT_EQ(m.processes.startedHidden.size(), 1u);
    EXPECT_NE(m.processes.Find(m.processes.startedHidden[0].processId), nullptr);
    EXPECT_FALSE(m.processes.Find(m.processes.startedHidden[0].processId)->terminated);
    EXPECT_EQ(m.processes.OpenProcessHandles(), 0);
    EXPECT_EQ(Ids(m.winsock.catalog32), base);
    EXPECT_EQ(Messages(), (std::vector<std::string>{kRunning64, kCalling, kSuccess}));
}

TEST_F(ResetLspStackTest, AFailedWaitLogsNothingAndAnUnreadableExitCodeIsAWarning) {
    Remover([](const std::u16string&) { return SimProgramRun{0, 100}; });
    m.faults.Fail("WaitForMultipleObjects", platform::kErrorInvalidHandle);
    EXPECT_EQ(nuke.RemoveKVLsp64(), 1u);
    m.faults.Fail("GetExitCodeProcess", platform::kErrorAccessDenied);
    EXPECT_EQ(nuke.RemoveKVLsp64(), 1u);
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              kCalling,
                              kCalling,
                              "3 CNuke::RemoveKVLsp64: instkvps_x64 process finished but result unknown",
                          }));
    EXPECT_EQ(m.processes.OpenProcessHandles(), 0);
}

}  // namespace
