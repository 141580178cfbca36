// Opening, terminating, waiting for and starting processes, and the program search, on the
// sim and on the real machine. The real runs start copies of programs\kvsleeper.exe.
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
constexpr uint32_t kFullAccess = kSynchronize | kProcessTerminate | kProcessQueryLimitedInformation;

std::u16string W(const std::string& s) {
    std::u16string out;
    AnsiToUtf16(s.data(), s.size(), out);
    return out;
}

bool SameText(const std::string& a, const std::string& b) {
    return AnsiCompareNoCase(a.c_str(), b.c_str()) == 0;
}

class ProcessesControlContract : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = "C:\\" + backend().UniqueName("SweepProc");
        ASSERT_TRUE(os().fs.CreateDirectoryA(dir, nullptr)) << os().sys.GetLastError();
    }

    void TearDown() override {
        for (uint32_t id : started) {
            ProcessHandle raw = 0;
            if (!os().proc.OpenProcess(kFullAccess, false, id, raw)) continue;
            UniqueProcess p(&os().proc, raw);
            (void)os().proc.TerminateProcess(p.get(), 1);
            (void)os().proc.WaitForMultipleObjects({p.get()}, true, 5000);
        }
        // A program's file stays in use for a moment after its process has gone.
        for (int attempt = 0; attempt < 50; ++attempt) {
            bool clean = true;
            for (const std::string& f : files) clean = (os().fs.DeleteFileA(f) || Missing(f)) && clean;
            if (clean && os().fs.RemoveDirectoryA(dir)) break;
            os().sys.Sleep(100);
        }
    }

    contract::Backend& backend() { return contract::GetBackend(); }
    Platform& os() { return backend().os(); }
    bool Missing(const std::string& path) {
        return os().fs.GetFileAttributesA(path) == kInvalidFileAttributes;
    }

    // A long-running program in the scratch folder under `name`: a copy of kvsleeper.exe
    // on the real machine, an empty stand-in on the sim.
    std::string Program(const std::string& name) {
        const std::string path = dir + "\\" + name;
        files.push_back(path);
        files.push_back(path + ".started");
        if (backend().IsSim()) {
            SimOnlyFile(path);
        } else {
            std::string module;
            EXPECT_EQ(0u, os().sys.GetModuleFileName(module));
            const std::string source =
                module.substr(0, module.find_last_of('\\')) + "\\programs\\kvsleeper.exe";
            EXPECT_TRUE(os().fs.CopyFileW(W(source), W(path), false))
                << source << ": " << os().sys.GetLastError();
        }
        return path;
    }

    // A file the real machine already has, made for the sim with its missing folders.
    void SimOnlyFile(const std::string& path) {
#ifndef _WIN32
        static_cast<sim::SimFileSystem&>(os().fs).CreateFile(path);
#else
        (void)path;
#endif
    }

    void Put(const std::string& path, const std::string& bytes) {
        FileHandle h = 0;
        ASSERT_TRUE(
            os().fs.CreateFileW(W(path), kGenericWrite, 0, nullptr, kCreateAlways, kFileAttributeNormal, h));
        UniqueFile file(&os().fs, h);
        uint32_t written = 0;
        ASSERT_TRUE(os().fs.WriteFile(h, bytes.data(), static_cast<uint32_t>(bytes.size()), written));
    }

    uint32_t Start(const std::string& path) {
        uint32_t id = kSentinel;
        EXPECT_TRUE(os().proc.CreateProcess(path, id)) << path << ": " << os().sys.GetLastError();
        EXPECT_NE(kSentinel, id);
        if (id != kSentinel) started.push_back(id);
        return id;
    }

    UniqueProcess Open(uint32_t id, uint32_t access = kFullAccess) {
        ProcessHandle raw = 0;
        EXPECT_TRUE(os().proc.OpenProcess(access, false, id, raw)) << id << ": " << os().sys.GetLastError();
        return UniqueProcess(&os().proc, raw);
    }

    // The snapshot's image names by process id, for the ids asked about.
    std::vector<std::string> Listed(const std::vector<uint32_t>& ids) {
        std::vector<std::string> names(ids.size());
        SnapshotHandle raw = 0;
        EXPECT_TRUE(os().proc.CreateToolhelp32Snapshot(kTh32csSnapProcess, 0, raw));
        UniqueSnapshot snapshot(&os().proc, raw);
        ProcessEntry e;
        for (bool ok = os().proc.Process32First(raw, e); ok; ok = os().proc.Process32Next(raw, e))
            for (size_t i = 0; i < ids.size(); ++i)
                if (e.processId == ids[i]) names[i] = e.exeFile;
        return names;
    }

    uint32_t CountLines(const std::string& path) {
        std::string bytes;
        if (os().fs.ReadWholeFile(path, bytes) != 0) return 0;
        uint32_t lines = 0;
        for (char c : bytes) lines += c == '\n';
        return lines;
    }

    std::string dir;
    std::vector<std::string> files;
    std::vector<uint32_t> started;
};

TEST_F(ProcessesControlContract, TwoInstancesAreListedKilledWaitedForAndGone) {
    const std::string path = Program("kvtray.exe");
    const std::vector<uint32_t> ids = {Start(path), Start(path)};
    ASSERT_NE(ids[0], ids[1]);
    const std::vector<std::string> names = Listed(ids);
    EXPECT_TRUE(SameText("kvtray.exe", names[0])) << names[0];
    EXPECT_TRUE(SameText("kvtray.exe", names[1])) << names[1];
    if (!backend().IsSim()) {
        // Each instance leaves a line beside its file once it runs.
        for (int i = 0; i < 100 && CountLines(path + ".started") < 2; ++i) os().sys.Sleep(50);
        EXPECT_EQ(2u, CountLines(path + ".started"));
    }

    UniqueProcess a = Open(ids[0]), b = Open(ids[1]);
    uint32_t code = kSentinel;
    ASSERT_TRUE(os().proc.GetExitCodeProcess(a.get(), code));
    EXPECT_EQ(uint32_t{kStillActive}, code);
    EXPECT_EQ(uint32_t{kWaitTimeout}, os().proc.WaitForMultipleObjects({a.get(), b.get()}, true, 0));

    ASSERT_TRUE(os().proc.TerminateProcess(a.get(), 0xFFFFFFFF));
    ASSERT_TRUE(os().proc.TerminateProcess(b.get(), 0xFFFFFFFF));
    // A second order to end changes nothing: the first exit code stays.
    EXPECT_TRUE(os().proc.TerminateProcess(b.get(), 5));
    EXPECT_EQ(uint32_t{kWaitObject0}, os().proc.WaitForMultipleObjects({a.get(), b.get()}, true, 10000));
    for (const UniqueProcess* p : {&a, &b}) {
        code = kSentinel;
        ASSERT_TRUE(os().proc.GetExitCodeProcess(p->get(), code));
        EXPECT_EQ(0xFFFFFFFFu, code);
    }
    // While a handle is open the ended process can still be opened.
    UniqueProcess again = Open(ids[0], kSynchronize);
    EXPECT_EQ(uint32_t{kWaitObject0}, os().proc.WaitForMultipleObjects({again.get()}, false, 0));

    again.reset();
    a.reset();
    b.reset();
    // Once the last handle is closed the id names no process (Wine takes a moment).
    ProcessHandle gone = kSentinel;
    bool opened = true;
    for (int i = 0; i < 50 && opened; ++i) {
        opened = os().proc.OpenProcess(kSynchronize, false, ids[0], gone);
        if (opened) {
            os().proc.CloseProcessHandle(gone);
            gone = kSentinel;
            os().sys.Sleep(100);
        }
    }
    EXPECT_FALSE(opened);
    EXPECT_EQ(kErrorInvalidParameter, os().sys.GetLastError());
    EXPECT_EQ(ProcessHandle{kSentinel}, gone);
    EXPECT_EQ(std::vector<std::string>(2), Listed(ids));
}

TEST_F(ProcessesControlContract, WaitForAnyAnswersTheFirstSignalledHandle) {
    const std::string path = Program("kvwait.exe");
    UniqueProcess a = Open(Start(path)), b = Open(Start(path));
    EXPECT_EQ(uint32_t{kWaitTimeout}, os().proc.WaitForMultipleObjects({a.get(), b.get()}, false, 200));
    ASSERT_TRUE(os().proc.TerminateProcess(b.get(), 1));
    EXPECT_EQ(kWaitObject0 + 1, os().proc.WaitForMultipleObjects({a.get(), b.get()}, false, 5000));
    EXPECT_EQ(uint32_t{kWaitTimeout}, os().proc.WaitForMultipleObjects({a.get(), b.get()}, true, 200));
    ASSERT_TRUE(os().proc.TerminateProcess(a.get(), 1));
    EXPECT_EQ(uint32_t{kWaitObject0}, os().proc.WaitForMultipleObjects({a.get(), b.get()}, false, 5000));
    EXPECT_EQ(uint32_t{kWaitObject0}, os().proc.WaitForMultipleObjects({a.get(), b.get()}, true, 5000));
}

TEST_F(ProcessesControlContract, CallsRefuseBadCountsIdsAndMissingRights) {
    UniqueProcess self = Open(os().sys.GetCurrentProcessId(), kSynchronize);
    EXPECT_EQ(uint32_t{kWaitFailed}, os().proc.WaitForMultipleObjects({}, true, 0));
    EXPECT_EQ(kErrorInvalidParameter, os().sys.GetLastError());
    const std::vector<ProcessHandle> tooMany(kMaximumWaitObjects + 1, self.get());
    EXPECT_EQ(uint32_t{kWaitFailed}, os().proc.WaitForMultipleObjects(tooMany, false, 0));
    EXPECT_EQ(kErrorInvalidParameter, os().sys.GetLastError());

    for (uint32_t id : {0u, 0x7FFFFFF0u}) {
        ProcessHandle raw = kSentinel;
        EXPECT_FALSE(os().proc.OpenProcess(kSynchronize, false, id, raw)) << id;
        EXPECT_EQ(kErrorInvalidParameter, os().sys.GetLastError()) << id;
        EXPECT_EQ(ProcessHandle{kSentinel}, raw);
    }

    const uint32_t id = Start(Program("kvrights.exe"));
    UniqueProcess waitOnly = Open(id, kSynchronize), killOnly = Open(id, kProcessTerminate);
    uint32_t code = kSentinel;
    EXPECT_FALSE(os().proc.GetExitCodeProcess(waitOnly.get(), code));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
    EXPECT_EQ(kSentinel, code);
    EXPECT_FALSE(os().proc.TerminateProcess(waitOnly.get(), 1));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
    EXPECT_EQ(uint32_t{kWaitFailed}, os().proc.WaitForMultipleObjects({killOnly.get()}, true, 0));
    EXPECT_EQ(kErrorAccessDenied, os().sys.GetLastError());
}

TEST_F(ProcessesControlContract, CreateProcessUsesNoSearchPath) {
    const std::string text = dir + "\\notes.txt";
    files.push_back(text);
    Put(text, "not a program\r\n");
    const struct {
        std::string name;
        uint32_t error;
    } cases[] = {
        {dir + "\\missing.exe", kErrorFileNotFound},
        {dir + "\\no folder\\missing.exe", kErrorPathNotFound},
        {text, kErrorBadExeFormat},
        // A bare name is looked for in the current directory only.
        {"cmd.exe", kErrorFileNotFound},
        // Windows refuses a folder with 5; Wine answers 6.
        {dir, backend().IsSim() ? uint32_t{kErrorAccessDenied} : uint32_t{kErrorInvalidHandle}},
    };
    for (const auto& c : cases) {
        uint32_t id = kSentinel;
        EXPECT_FALSE(os().proc.CreateProcess(c.name, id)) << c.name;
        EXPECT_EQ(c.error, os().sys.GetLastError()) << c.name;
        EXPECT_EQ(kSentinel, id) << c.name;
    }
}

TEST_F(ProcessesControlContract, PathFindOnPathSearchesTheGivenFoldersThenTheSystemPath) {
    std::string system, windows;
    ASSERT_TRUE(os().shell.GetSystemDirectory(system));
    ASSERT_TRUE(os().shell.GetWindowsDirectory(windows));
    // What every Windows installation carries.
    SimOnlyFile(system + "\\cmd.exe");
    SimOnlyFile(windows + "\\notepad.exe");
    Program("cmd.exe");

    std::string path = "cmd.exe";
    ASSERT_TRUE(os().proc.PathFindOnPath(path, {dir, windows}));
    EXPECT_EQ(dir + "\\cmd.exe", path);
    path = "cmd.exe";
    ASSERT_TRUE(os().proc.PathFindOnPath(path, {}));
    EXPECT_TRUE(SameText(system + "\\cmd.exe", path)) << path;
    // The folders given end at the first empty one.
    path = "cmd.exe";
    ASSERT_TRUE(os().proc.PathFindOnPath(path, {"", dir}));
    EXPECT_TRUE(SameText(system + "\\cmd.exe", path)) << path;
    // Exactly as the removal's follow-up step asks; the folder is combined as written.
    path = "notepad.exe";
    ASSERT_TRUE(os().proc.PathFindOnPath(path, {"C:\\windows", "C:\\"}));
    EXPECT_EQ("C:\\windows\\notepad.exe", path);
    path = "notepad.exe";
    ASSERT_TRUE(os().proc.PathFindOnPath(path, {}));
    EXPECT_TRUE(SameText(system + "\\notepad.exe", path) || SameText(windows + "\\notepad.exe", path))
        << path;

    // Not found, or not a bare name: the name is left as it was.
    for (const std::string& name :
         {std::string("sweep-no-such-program.exe"), dir + "\\cmd.exe", std::string("system32\\cmd.exe")}) {
        path = name;
        EXPECT_FALSE(os().proc.PathFindOnPath(path, {dir}));
        EXPECT_EQ(name, path);
    }
    path = std::string(300, 'a');
    EXPECT_FALSE(os().proc.PathFindOnPath(path, {}));
    EXPECT_EQ(kErrorFilenameExcedRange, os().sys.GetLastError());
    EXPECT_EQ(std::string(300, 'a'), path);
}

#ifndef _WIN32
// Arrangements only the simulated machine can make: processes that end late or never,
// refuse to be opened, or end by themselves, and the PATH search.
class SimProcessTable : public ::testing::Test {
  protected:
    sim::SimMachine m;
    IProcesses& proc = m.platform().proc;
    ProcessHandle Open(uint32_t id) {
        ProcessHandle h = 0;
        EXPECT_TRUE(proc.OpenProcess(kFullAccess, false, id, h));
        return h;
    }
};

TEST_F(SimProcessTable, TerminationTakesTheArrangedVirtualTimeAndWaitsMoveTheClock) {
    sim::SimProcess& slow = m.processes.Add("slow.exe");
    slow.terminateDelayMs = 3000;
    const uint32_t slowId = slow.processId;
    m.processes.Add("stuck.exe").terminateDelayMs = sim::SimProcess::kNeverEnds;
    const uint32_t stuckId = m.processes.table.back().processId;
    ProcessHandle a = Open(slowId), b = Open(stuckId);
    ASSERT_TRUE(proc.TerminateProcess(a, 0xFFFFFFFF));
    ASSERT_TRUE(proc.TerminateProcess(b, 0xFFFFFFFF));
    EXPECT_NE(nullptr, m.processes.Find(slowId));

    EXPECT_EQ(uint32_t{kWaitTimeout}, proc.WaitForMultipleObjects({a, b}, true, 10000));
    EXPECT_EQ(10000u, m.system.clockMs);
    EXPECT_EQ(nullptr, m.processes.Find(slowId));
    ASSERT_EQ(1u, m.processes.exited.size());
    EXPECT_EQ(3000u, m.processes.exited[0].atMs);
    EXPECT_EQ(0xFFFFFFFFu, m.processes.exited[0].exitCode);
    EXPECT_TRUE(m.processes.exited[0].terminated);
    EXPECT_EQ(kWaitObject0 + 1, proc.WaitForMultipleObjects({b, a}, false, 0));
    EXPECT_EQ(uint32_t{kWaitFailed}, proc.WaitForMultipleObjects({b}, true, kInfinite));
    EXPECT_EQ(kErrorCanNotComplete, m.system.GetLastError());

    proc.CloseProcessHandle(a);
    proc.CloseProcessHandle(b);
    EXPECT_EQ(0, m.processes.OpenProcessHandles());
}

TEST_F(SimProcessTable, AProcessThatEndsByItselfSignalsAtItsTime) {
    sim::SimProcess& p = m.processes.Add("job.exe");
    p.endsAtMs = 2500;
    p.exitCode = 3;
    ProcessHandle h = Open(p.processId);
    EXPECT_EQ(uint32_t{kWaitObject0}, proc.WaitForMultipleObjects({h}, true, 10000));
    EXPECT_EQ(2500u, m.system.clockMs);
    uint32_t code = 0;
    ASSERT_TRUE(proc.GetExitCodeProcess(h, code));
    EXPECT_EQ(3u, code);
    EXPECT_FALSE(m.processes.exited.at(0).terminated);
    proc.CloseProcessHandle(h);
}

TEST_F(SimProcessTable, ProtectedProcessesRefuseToOpen) {
    const uint32_t guarded = m.processes.Add("guard.exe").processId;
    m.processes.Find(guarded)->denyOpen = true;
    for (uint32_t id : {guarded, 4u}) {  // 4: the system process
        ProcessHandle h = kSentinel;
        EXPECT_FALSE(proc.OpenProcess(kFullAccess, false, id, h)) << id;
        EXPECT_EQ(kErrorAccessDenied, m.system.GetLastError()) << id;
        EXPECT_EQ(ProcessHandle{kSentinel}, h);
    }
    EXPECT_EQ(0, m.processes.OpenProcessHandles());
}

TEST_F(SimProcessTable, StartedProgramsJoinTheTableFromTheCurrentDirectoryOrAFullPath) {
    m.files.CreateFile("C:\\Tools\\follow.exe", "MZ");
    m.files.AddDrive('D');
    m.files.CreateFile("D:\\x\\other.exe");
    uint32_t first = 0, second = 0;
    ASSERT_TRUE(proc.CreateProcess("follow.exe", first));
    ASSERT_TRUE(proc.CreateProcess("D:\\x\\other.exe", second));
    EXPECT_EQ((std::vector<std::string>{"follow.exe", "D:\\x\\other.exe"}), m.processes.started);
    ASSERT_NE(nullptr, m.processes.Find(second));
    EXPECT_EQ("other.exe", m.processes.Find(second)->exeFile);
    EXPECT_EQ(m.system.processId, m.processes.Find(first)->parentProcessId);
}

TEST_F(SimProcessTable, PathSearchEndsWithThePathVariableAndSkipsWhatWouldNotFit) {
    m.files.CreateFile("C:\\Tools\\bin\\tool.exe");
    m.system.environment[u"Path"] = u";C:\\Missing;C:\\Tools\\bin";
    std::string path = "tool.exe";
    ASSERT_TRUE(proc.PathFindOnPath(path, {std::string(255, 'd')}));
    EXPECT_EQ("C:\\Tools\\bin\\tool.exe", path);
    m.system.environment.clear();
    path = "tool.exe";
    EXPECT_FALSE(proc.PathFindOnPath(path, {}));
    EXPECT_EQ(kErrorFileNotFound, m.system.GetLastError());
}
#endif

}  // namespace
