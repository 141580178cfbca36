// Starting a program hidden from a command line, as the network-stack reset starts its
// 64-bit remover: CreateProcessW's own program search, a handle to wait on, the exit code.
// The real runs use cmd.exe and copies of programs\kvsleeper.exe.
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
constexpr ProcessHandle kHandleSentinel = 0xdeadbeef;

std::u16string W(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

bool SameText(const std::string& a, const std::string& b) {
    return AnsiCompareNoCase(a.c_str(), b.c_str()) == 0;
}

class ProcessesHiddenContract : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string module;
        ASSERT_EQ(0u, os().sys.GetModuleFileName(module));
        exeDir = module.substr(0, module.find_last_of('\\'));
#ifndef _WIN32
        // What every Windows installation carries; the sim's knows "/c exit N".
        std::string system;
        ASSERT_TRUE(os().shell.GetSystemDirectory(system));
        Sim().AddProgram(system + "\\cmd.exe", [](const std::u16string& line) {
            const std::string text = Utf16ToAnsi(line);
            const size_t at = text.find("/c exit ");
            const uint32_t code = at == std::string::npos ? 0 : std::stoul(text.substr(at + 8));
            return sim::SimProgramRun{code, 40};
        });
#endif
    }

    void TearDown() override {
        for (UniqueProcess* p : {&first, &second}) {
            if (!*p) continue;
            (void)os().proc.TerminateProcess(p->get(), 1);
            (void)os().proc.WaitForMultipleObjects({p->get()}, true, 5000);
            p->reset();
        }
        // A program's file stays in use for a moment after its process has gone.
        for (int attempt = 0; attempt < 50; ++attempt) {
            bool clean = true;
            for (const std::string& f : files) clean = (os().fs.DeleteFileA(f) || Missing(f)) && clean;
            for (const std::string& d : dirs) clean = (os().fs.RemoveDirectoryA(d) || Missing(d)) && clean;
            if (clean) break;
            os().sys.Sleep(100);
        }
    }

    contract::Backend& backend() { return contract::GetBackend(); }
    Platform& os() { return backend().os(); }
    bool Missing(const std::string& path) {
        return os().fs.GetFileAttributesA(path) == kInvalidFileAttributes;
    }
#ifndef _WIN32
    sim::SimProcesses& Sim() { return static_cast<sim::SimProcesses&>(os().proc); }
#endif

    // A long-running program at `path`: a copy of kvsleeper.exe on the real machine, a
    // program that never ends on the sim.
    void Program(const std::string& path) {
        files.push_back(path);
        files.push_back(path + ".started");
#ifndef _WIN32
        Sim().AddProgram(path, nullptr);
#else
        const std::string source = exeDir + "\\programs\\kvsleeper.exe";
        ASSERT_TRUE(os().fs.CopyFileW(W(source), W(path), false))
            << source << ": " << os().sys.GetLastError();
#endif
    }

    UniqueProcess Start(const std::string& commandLine, uint32_t* id = nullptr,
                        const std::string& application = std::string()) {
        ProcessHandle raw = kHandleSentinel;
        uint32_t processId = kSentinel;
        EXPECT_TRUE(os().proc.CreateProcessHidden(W(application), W(commandLine), raw, processId))
            << commandLine << ": " << os().sys.GetLastError();
        if (raw == kHandleSentinel) return UniqueProcess();
        EXPECT_NE(kSentinel, processId);
        if (id != nullptr) *id = processId;
        return UniqueProcess(&os().proc, raw);
    }

    std::string ImageName(uint32_t id) {
        SnapshotHandle raw = 0;
        EXPECT_TRUE(os().proc.CreateToolhelp32Snapshot(kTh32csSnapProcess, 0, raw));
        UniqueSnapshot snapshot(&os().proc, raw);
        ProcessEntry e;
        for (bool ok = os().proc.Process32First(raw, e); ok; ok = os().proc.Process32Next(raw, e))
            if (e.processId == id) return e.exeFile;
        return std::string();
    }

    std::string exeDir;
    std::vector<std::string> files;
    std::vector<std::string> dirs;
    UniqueProcess first, second;
};

TEST_F(ProcessesHiddenContract, AProgramOnTheSystemPathEndsWithItsExitCode) {
    first = Start("cmd.exe /c exit 7");
    ASSERT_TRUE(first);
    EXPECT_EQ(uint32_t{kWaitObject0}, os().proc.WaitForMultipleObjects({first.get()}, true, 60000));
    uint32_t code = kSentinel;
    ASSERT_TRUE(os().proc.GetExitCodeProcess(first.get(), code)) << os().sys.GetLastError();
    EXPECT_EQ(7u, code);
}

TEST_F(ProcessesHiddenContract, TheExecutableFolderIsSearchedAndAQuotedNameMayHoldBlanks) {
    const std::string bare = backend().UniqueName("sweephid");
    Program(exeDir + "\\" + bare + ".exe");
    uint32_t id = kSentinel;
    // No extension: ".exe" is added.
    first = Start(bare + " uninstall", &id);
    ASSERT_TRUE(first);
    EXPECT_TRUE(SameText(bare + ".exe", ImageName(id))) << ImageName(id);
    uint32_t code = kSentinel;
    ASSERT_TRUE(os().proc.GetExitCodeProcess(first.get(), code));
    EXPECT_EQ(uint32_t{kStillActive}, code);

    const std::string dir = "C:\\" + backend().UniqueName("Sweep hidden");
    ASSERT_TRUE(os().fs.CreateDirectoryA(dir, nullptr)) << os().sys.GetLastError();
    dirs.push_back(dir);
    Program(dir + "\\kv tray.exe");
    second = Start("\"" + dir + "\\kv tray.exe\" /quiet", &id);
    ASSERT_TRUE(second);
    EXPECT_TRUE(SameText("kv tray.exe", ImageName(id))) << ImageName(id);
    EXPECT_EQ(uint32_t{kWaitTimeout},
              os().proc.WaitForMultipleObjects({first.get(), second.get()}, false, 100));
}

TEST_F(ProcessesHiddenContract, AMissingProgramFailsWithFileNotFound) {
    for (const std::string& line : {std::string("sweep-no-such-program.exe uninstall"),
                                    "\"C:\\" + backend().UniqueName("SweepNoDir") + "\\x.exe\""}) {
        ProcessHandle raw = kHandleSentinel;
        uint32_t id = kSentinel;
        EXPECT_FALSE(os().proc.CreateProcessHidden(u"", W(line), raw, id)) << line;
        const uint32_t error = os().sys.GetLastError();
        // Wine, and the sim with it, answers 2 for a folder that does not exist too;
        // Windows may answer 3 there.
        EXPECT_TRUE(error == kErrorFileNotFound || (line[0] == '"' && error == kErrorPathNotFound))
            << line << ": " << error;
        EXPECT_EQ(kHandleSentinel, raw);
        EXPECT_EQ(kSentinel, id);
    }
}

TEST_F(ProcessesHiddenContract, AnApplicationNameIsStartedAsWrittenAndNeverSearchedFor) {
    // The command line's first word names a program the search would find.
    const std::string bare = backend().UniqueName("sweepapp"),
                      dir = "C:\\" + backend().UniqueName("Sweep app");
    Program(exeDir + "\\" + bare + ".exe");
    ASSERT_TRUE(os().fs.CreateDirectoryA(dir, nullptr)) << os().sys.GetLastError();
    dirs.push_back(dir);
    ProcessHandle raw = kHandleSentinel;
    uint32_t id = kSentinel;
    EXPECT_FALSE(os().proc.CreateProcessHidden(W(dir + "\\" + bare + ".exe"), W(bare + " x"), raw, id));
    EXPECT_EQ(uint32_t{kErrorFileNotFound}, os().sys.GetLastError());
    EXPECT_EQ(kHandleSentinel, raw);
    Program(dir + "\\other.exe");
    first = Start(bare + " x", &id, dir + "\\other.exe");
    EXPECT_TRUE(SameText("other.exe", ImageName(id))) << ImageName(id);
}

#ifndef _WIN32
// What only the sim arranges: a program in several places of the search, and a behaviour
// that takes virtual time and gives an exit code.
class SimHiddenStartTest : public ::testing::Test {
  protected:
    sim::SimMachine m;
    IProcesses& proc = m.platform().proc;
};

TEST_F(SimHiddenStartTest, TheExecutableFolderComesBeforeTheCurrentAndSystemFolders) {
    m.system.currentDirectory = "C:\\Work";
    m.processes.AddProgram("C:\\Windows\\system32\\helper.exe", nullptr);
    m.processes.AddProgram("C:\\Work\\helper.exe", nullptr);
    m.processes.AddProgram("C:\\Tools\\Helper.EXE", [](const std::u16string&) {
        return sim::SimProgramRun{3, 250};
    });
    ProcessHandle h = 0;
    uint32_t id = 0;
    ASSERT_TRUE(proc.CreateProcessHidden(u"", u"HELPER.exe now", h, id));
    UniqueProcess p(&proc, h);
    ASSERT_EQ(1u, m.processes.startedHidden.size());
    // The folder the search found it in, the name as it was asked for.
    EXPECT_EQ("C:\\Tools\\HELPER.exe", m.processes.startedHidden[0].imagePath);
    EXPECT_EQ(u"HELPER.exe now", m.processes.startedHidden[0].commandLine);
    ASSERT_NE(nullptr, m.processes.Find(id));
    EXPECT_EQ("C:\\Tools\\HELPER.exe", m.processes.Find(id)->imagePath);
    EXPECT_EQ(m.system.processId, m.processes.Find(id)->parentProcessId);

    EXPECT_EQ(uint32_t{kWaitObject0}, proc.WaitForMultipleObjects({h}, true, 60000));
    EXPECT_EQ(250u, m.system.clockMs);
    uint32_t code = 0;
    ASSERT_TRUE(proc.GetExitCodeProcess(h, code));
    EXPECT_EQ(3u, code);
}

TEST_F(SimHiddenStartTest, AnUnquotedNameWithBlanksIsTriedAtEachBlankInTurn) {
    m.processes.AddProgram("C:\\Program Files\\Kv\\run.exe", nullptr);
    ProcessHandle h = 0;
    uint32_t id = 0;
    ASSERT_TRUE(proc.CreateProcessHidden(u"", u"C:\\Program Files\\Kv\\run.exe -x", h, id));
    UniqueProcess p(&proc, h);
    EXPECT_EQ("C:\\Program Files\\Kv\\run.exe", m.processes.startedHidden.at(0).imagePath);
    // The shorter name wins when it names a program.
    m.processes.AddProgram("C:\\Program.exe", nullptr);
    ASSERT_TRUE(proc.CreateProcessHidden(u"", u"C:\\Program Files\\Kv\\run.exe -x", h, id));
    UniqueProcess q(&proc, h);
    EXPECT_EQ("C:\\Program.exe", m.processes.startedHidden.at(1).imagePath);
}

#endif

}  // namespace
