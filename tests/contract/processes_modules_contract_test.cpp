// The process list and the module names of other processes, on the sim and on the real
// machine. The real runs start a copy of programs\kvsleeper.exe.
#include <gtest/gtest.h>

#include <algorithm>
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
constexpr uint32_t kModuleRights = kProcessQueryInformation | kProcessVmRead;
constexpr uint32_t kStopRights = kSynchronize | kProcessTerminate;

[[maybe_unused]] std::u16string W(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

bool SameText(const std::string& a, const std::string& b) {
    return AnsiCompareNoCase(a.c_str(), b.c_str()) == 0;
}

class ProcessesModulesContract : public ::testing::Test {
  protected:
    void TearDown() override {
        if (child != 0) {
            ProcessHandle raw = 0;
            if (os().proc.OpenProcess(kStopRights, false, child, raw)) {
                UniqueProcess p(&os().proc, raw);
                (void)os().proc.TerminateProcess(p.get(), 1);
                (void)os().proc.WaitForMultipleObjects({p.get()}, true, 5000);
            }
        }
        // A program's file stays in use for a moment after its process has gone.
        for (int attempt = 0; !dir.empty() && attempt < 50; ++attempt) {
            for (const std::string& f : files) (void)os().fs.DeleteFileA(f);
            if (os().fs.RemoveDirectoryA(dir)) break;
            os().sys.Sleep(100);
        }
    }

    contract::Backend& backend() { return contract::GetBackend(); }
    Platform& os() { return backend().os(); }

    std::vector<uint32_t> ListAll() {
        std::vector<uint32_t> ids;
        uint32_t bytes = kSentinel;
        EXPECT_TRUE(os().proc.EnumProcesses(4096 * 4, ids, bytes)) << os().sys.GetLastError();
        EXPECT_EQ(ids.size() * 4, bytes);
        return ids;
    }

    // The first module's path of a process, as the detector reads it.
    std::string ImageOf(uint32_t id, uint32_t chars = 2048) {
        ProcessHandle raw = 0;
        EXPECT_TRUE(os().proc.OpenProcess(kModuleRights, false, id, raw))
            << id << ": " << os().sys.GetLastError();
        UniqueProcess process(&os().proc, raw);
        ModuleHandle module = 0;
        EXPECT_TRUE(os().proc.EnumProcessModulesFirst(process.get(), module)) << os().sys.GetLastError();
        EXPECT_NE(ModuleHandle{0}, module);
        std::string path = "untouched";
        EXPECT_TRUE(os().proc.GetModuleFileNameEx(process.get(), module, chars, path))
            << os().sys.GetLastError();
        return path;
    }

    // Starts a long-running program from a scratch folder: a copy of kvsleeper.exe on the
    // real machine, an entry with that image on the sim.
    uint32_t StartSleeper(std::string& path) {
        dir = "C:\\" + backend().UniqueName("SweepModules");
        EXPECT_TRUE(os().fs.CreateDirectoryA(dir, nullptr)) << os().sys.GetLastError();
        path = dir + "\\kvshclient_probe.exe";
        files = {path, path + ".started"};
        uint32_t id = kSentinel;
#ifndef _WIN32
        auto& sim = static_cast<sim::SimProcesses&>(os().proc);
        sim::SimProcess& p = sim.Add("kvshclient_probe.exe");
        p.imagePath = path;
        id = p.processId;
#else
        std::string module;
        EXPECT_EQ(0u, os().sys.GetModuleFileName(module));
        const std::string source = module.substr(0, module.find_last_of('\\')) + "\\programs\\kvsleeper.exe";
        EXPECT_TRUE(os().fs.CopyFileW(W(source), W(path), false))
            << source << ": " << os().sys.GetLastError();
        EXPECT_TRUE(os().proc.CreateProcess(path, id)) << path << ": " << os().sys.GetLastError();
        // Its modules are readable once its loader has run.
        for (int attempt = 0;
             attempt < 50 && os().fs.GetFileAttributesA(path + ".started") == kInvalidFileAttributes;
             ++attempt)
            os().sys.Sleep(100);
#endif
        child = id != kSentinel ? id : 0;
        return id;
    }

    std::string dir;
    std::vector<std::string> files;
    uint32_t child = 0;
};

TEST_F(ProcessesModulesContract, TheListHoldsThisProcessAndFillsOnlyWhatFits) {
    const uint32_t self = os().sys.GetCurrentProcessId();
    std::vector<uint32_t> all = ListAll();
    EXPECT_NE(all.end(), std::find(all.begin(), all.end(), self));
    ASSERT_GE(all.size(), 2u);

    // One id of room: one id and 4 bytes, which tells the caller the list may go on.
    // A buffer that is not a whole number of ids is used up to its last whole id.
    for (uint32_t bytes : {4u, 7u}) {
        std::vector<uint32_t> ids{kSentinel, kSentinel};
        uint32_t returned = kSentinel;
        ASSERT_TRUE(os().proc.EnumProcesses(bytes, ids, returned)) << bytes;
        EXPECT_EQ(4u, returned) << bytes;
        EXPECT_EQ(1u, ids.size()) << bytes;
    }
    std::vector<uint32_t> none{kSentinel};
    uint32_t returned = kSentinel;
    ASSERT_TRUE(os().proc.EnumProcesses(0, none, returned));
    EXPECT_EQ(0u, returned);
    EXPECT_TRUE(none.empty());
}

TEST_F(ProcessesModulesContract, TheFirstModuleOfThisProcessIsItsExecutable) {
    std::string exe;
    ASSERT_EQ(0u, os().sys.GetModuleFileName(exe));
    const uint32_t self = os().sys.GetCurrentProcessId();
    EXPECT_PRED2(SameText, exe, ImageOf(self));

    // Too small a buffer gets the start of the path, cut to leave room for the terminator.
    EXPECT_PRED2(SameText, exe.substr(0, 9), ImageOf(self, 10));
    EXPECT_PRED2(SameText, exe.substr(0, 0), ImageOf(self, 1));
}

TEST_F(ProcessesModulesContract, AnotherProcessNamesItsProgram) {
    std::string path;
    const uint32_t id = StartSleeper(path);
    ASSERT_NE(kSentinel, id);
    const std::string image = ImageOf(id);
    EXPECT_PRED2(SameText, path, image);
    EXPECT_NE(std::string::npos, image.find("kvshclient"));
}

TEST_F(ProcessesModulesContract, ModulesNeedTheRightsToReadTheProcess) {
    const uint32_t self = os().sys.GetCurrentProcessId();
    ProcessHandle raw = 0;
    ASSERT_TRUE(os().proc.OpenProcess(kSynchronize, false, self, raw)) << os().sys.GetLastError();
    UniqueProcess weak(&os().proc, raw);
    ModuleHandle module = kSentinel;
    EXPECT_FALSE(os().proc.EnumProcessModulesFirst(weak.get(), module));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
    EXPECT_EQ(ModuleHandle{kSentinel}, module);
}

#ifndef _WIN32
// The processes whose modules cannot be read, and the faults of the sim.
TEST(SimProcessModules, KernelProcessesAndEndedOnesHaveNoModules) {
    sim::SimMachine m;
    IProcesses& proc = m.platform().proc;
    const uint32_t quiet = m.processes.Add("quiet.exe").processId;  // no image recorded
    ProcessHandle raw = 0;
    ASSERT_TRUE(proc.OpenProcess(kProcessAllAccess, false, quiet, raw));
    UniqueProcess process(&proc, raw);
    ModuleHandle module = kSentinel;
    EXPECT_FALSE(proc.EnumProcessModulesFirst(process.get(), module));
    EXPECT_EQ(kErrorPartialCopy, m.system.GetLastError());

    sim::SimProcess& gone = m.processes.Add("gone.exe");
    gone.imagePath = "C:\\gone.exe";
    const uint32_t goneId = gone.processId;
    ASSERT_TRUE(proc.OpenProcess(kProcessAllAccess, false, goneId, raw));
    UniqueProcess ended(&proc, raw);
    m.processes.table.pop_back();
    std::string path = "untouched";
    EXPECT_FALSE(proc.GetModuleFileNameEx(ended.get(), 0, 260, path));
    EXPECT_EQ(kErrorPartialCopy, m.system.GetLastError());
    EXPECT_EQ("untouched", path);

    m.faults.Fail("EnumProcesses", kErrorNotEnoughMemory);
    std::vector<uint32_t> ids;
    uint32_t bytes = kSentinel;
    EXPECT_FALSE(proc.EnumProcesses(4096, ids, bytes));
    EXPECT_EQ(kErrorNotEnoughMemory, m.system.GetLastError());
}
#endif

}  // namespace
