// The machine-wide log folders are writable by everyone: whatever link a user plants on the
// way to the log, the elevated writer neither follows it nor touches what it leads to.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/app_machine.h"
#include "app/cleaner.h"
#include "guard/held_path.h"
#include "logging/file_access.h"
#include "logging/log_fixture.h"
#include "platform/ansi.h"

namespace KvQmrLogging::testing {
namespace {

constexpr char kBase[] = "C:\\ProgramData\\Kelvaris";
constexpr char kVictim[] = "C:\\Windows\\System32\\victim";
constexpr char kLinkTrace[] = "is a link: no log is written by this process";

// Everything below a folder: path (below it) to contents, folders marked with a trailing "\".
std::map<std::string, std::string> Snapshot(platform::sim::SimFileSystem& files, const std::string& dir,
                                            const std::string& prefix = "") {
    std::map<std::string, std::string> all;
    for (const std::string& name : files.List(dir)) {
        std::string path = dir + "\\" + name;
        if (files.Attributes(path) & platform::kFileAttributeDirectory) {
            all[prefix + name + "\\"] = "";
            auto below = Snapshot(files, path, prefix + name + "\\");
            all.insert(below.begin(), below.end());
        } else {
            all[prefix + name] = files.Contents(path);
        }
    }
    return all;
}

int LinkTraces(const platform::sim::SimSystem& system) {
    int n = 0;
    for (const std::u16string& line : system.debugOutput)
        if (platform::Utf16ToAnsi(line).find(kLinkTrace) != std::string::npos) ++n;
    return n;
}

class LoggingFolderLinksTest : public LoggingLoggerTest {
  protected:
    // Fills the victim folder with what the log's folder would hold at `below` (the part of
    // the log folder below the linked level): a current log that already has its mark, so
    // that a writer that follows the link would append to it, and two old generations,
    // which a rotation would rename and delete.
    void FillVictim(const std::string& below) {
        std::string dir = std::string(kVictim) + below;
        m.files.CreateDirectories(dir);
        m.files.CreateFile(dir + "\\sweeptool.log", std::string("\xFF\xFEs\0y\0s\0", 8));
        m.files.CreateFile(dir + "\\sweeptool.1.log", "config of the system");
        m.files.CreateFile(dir + "\\sweeptool.2.log", "driver");
        m.files.CreateFile(std::string(kVictim) + "\\kernel.dll", "MZ");
    }

    // Logs enough to make every file rotate (one record per file).
    void LogSomeRecords() {
        SetSetting("", "LogMaxSizeKB", 0);
        LogInitA("tool", "sweeptool", 4, 0);
        for (int i = 0; i < 5; ++i) LogWriteA(4, "%s: record %d", "Test::Log", i);
    }

    void ExpectVictimUntouched(const std::map<std::string, std::string>& before) {
        EXPECT_EQ(Snapshot(m.files, kVictim), before);
        EXPECT_TRUE(m.files.PendingOperations().empty());
        EXPECT_EQ(LinkTraces(m.system), 1);
    }
};

// Each folder from the base directory down, and the part of the log's folder that then
// lies in the link's target.
struct Level {
    const char* linked;
    const char* belowInVictim;
};

void PrintTo(const Level& level, std::ostream* os) { *os << "'" << level.linked << "'"; }

class LoggingFolderLevelTest : public LoggingFolderLinksTest, public ::testing::WithParamInterface<Level> {};

TEST_P(LoggingFolderLevelTest, ALinkedFolderOnTheWayStopsTheLogAndLeavesItsTargetAlone) {
    m.files.CreateDirectories("C:\\ProgramData");
    FillVictim(GetParam().belowInVictim);
    std::string link = std::string(kBase) + GetParam().linked;
    m.files.CreateDirectories(link.substr(0, link.find_last_of('\\')));
    ASSERT_TRUE(m.files.CreateLink(link, kVictim, true));
    auto before = Snapshot(m.files, kVictim);

    LogSomeRecords();
    ExpectVictimUntouched(before);
    EXPECT_NE(m.files.Attributes(link) & platform::kFileAttributeReparsePoint, 0u) << "the link stays";
}

INSTANTIATE_TEST_SUITE_P(Folders, LoggingFolderLevelTest,
                         ::testing::Values(Level{"", "\\Logs\\tool"}, Level{"\\Logs", "\\tool"},
                                           Level{"\\Logs\\tool", ""}));

TEST_F(LoggingFolderLinksTest, ALogFileThatIsALinkIsNeitherWrittenNorRotated) {
    m.files.CreateDirectories(kLogDir);
    FillVictim("");
    ASSERT_TRUE(m.files.CreateLink(kLog, std::string(kVictim) + "\\sweeptool.log", false));
    auto before = Snapshot(m.files, kVictim);

    LogSomeRecords();
    ExpectVictimUntouched(before);
    // The link itself is not renamed out of the way either, nor anything made beside it.
    EXPECT_EQ(m.files.List(kLogDir), std::vector<std::string>{"sweeptool.log"});
}

TEST_F(LoggingFolderLinksTest, AFolderSwappedForALinkWhileLoggingStopsTheLogThere) {
    // The log holds its folder against renaming unless a user's handle with delete access stops it.
    m.files.CreateDirectories(kLogDir);
    platform::FileHandle userHandle = 0;
    ASSERT_EQ(0u, m.files.UserOpen("S-1-5-21-7-7-7-1001", kLogDir, platform::kDeleteAccess, guard::kShareAll,
                                   userHandle));
    // Every record rotates the log, so each write holds the folder afresh.
    SetSetting("", "LogMaxSizeKB", 0);
    LogInitA("tool", "sweeptool", 4, 0);
    LogWriteA(4, "%s: first", "Test::Log");
    ASSERT_TRUE(m.files.Exists(kLog));
    // Then a user moves the product folder away and puts a junction in its place.
    std::string moved = std::string(kBase) + "\\Logs\\old";
    ASSERT_TRUE(m.files.MoveFileExA(kLogDir, moved.c_str(), 0)) << m.system.GetLastError();
    ASSERT_TRUE(m.files.CreateLink(kLogDir, kVictim, true));
    FillVictim("");
    auto before = Snapshot(m.files, kVictim);
    for (int i = 0; i < 3; ++i) LogWriteA(4, "%s: record %d", "Test::Log", i);
    ExpectVictimUntouched(before);
}

TEST_F(LoggingFolderLinksTest, ARunWithALinkedLogFolderOtherwiseGoesAsUsual) {
    // The same run twice, once with the log folder linked away: only the log differs.
    auto run = [](platform::sim::SimMachine& machine, bool link) {
        apptest::InstallTool(machine);
        machine.registry.SetString(kShellFolders, "Common AppData", "C:\\ProgramData");
        machine.files.CreateDirectories(std::string(kVictim));
        if (link) {
            machine.files.CreateDirectories(std::string(kBase) + "\\Logs");
            EXPECT_TRUE(machine.files.CreateLink(std::string(kBase) + "\\Logs\\tool", kVictim, true));
        }
        ResetForTests(&machine.platform());
        app::Cleaner c(machine.platform());
        c.autoRestart = 1;
        c.Run();
        uint32_t code = c.ExitCode();
        ResetForTests(nullptr);
        return code;
    };
    platform::sim::SimMachine plain;
    platform::sim::SimMachine linked;
    EXPECT_EQ(run(plain, false), 1641u);
    EXPECT_EQ(run(linked, true), 1641u);
    EXPECT_EQ(linked.system.shutdowns.size(), plain.system.shutdowns.size());
    EXPECT_EQ(linked.system.sleeps, plain.system.sleeps);
    EXPECT_TRUE(plain.files.Exists(kLog));
    EXPECT_TRUE(linked.files.List(kVictim).empty());
    EXPECT_EQ(LinkTraces(linked.system), 1);
    EXPECT_EQ(LinkTraces(plain.system), 0);
    ResetForTests(&m.platform());
}

// A user who made the log's folders swaps the product folder for a junction to the victim
// before any one call of a write that makes the folder or rotates the log. The victim's log
// holds the mark alone: a writer that followed the junction would append to it.
TEST(LoggingFolderSwapTest, AFolderSwappedAtAnyCallOfAWriteChangesNothingOutsideTheLogFolder) {
    const char* user = "S-1-5-21-7-7-7-1001";
    const struct {
        bool folder, userHandle;  // the product folder is there; the user holds it open
        std::string planted;      // made a second name of the victim's file of that name
    } rows[] = {{false, false, ""},
                {true, false, ""},
                {true, true, ""},
                {true, false, "sweeptool.log"},
                {true, false, "sweeptool.1.log"}};
    for (const auto& row : rows) {
        int calls = 0;
        for (int at = 0; at == 0 || at <= calls; ++at) {
            SCOPED_TRACE(::testing::Message() << "row " << &row - rows << " at call " << at);
            platform::sim::SimMachine x;
            x.registry.SetString(kShellFolders, "Common AppData", "C:\\ProgramData");
            x.registry.SetDword(kSettings, "LogMaxSizeKB", 0);
            x.files.CreateDirectories("C:\\ProgramData");
            for (const std::string& dir :
                 {std::string(kBase), std::string(kBase) + "\\Logs", std::string(kLogDir)})
                EXPECT_EQ(0u, dir != kLogDir || row.folder ? x.files.UserCreateDirectory(user, dir) : 0u);
            x.files.CreateFile(std::string(kVictim) + "\\sweeptool.log", "\xFF\xFE");
            x.files.CreateFile(std::string(kVictim) + "\\sweeptool.1.log", "driver");
            if (row.folder && row.planted != "sweeptool.log")
                x.files.UserCreateFile(user, kLog, "no mark\r\n");
            if (!row.planted.empty())
                x.files.UserCreateHardLink(user, std::string(kLogDir) + "\\" + row.planted,
                                           std::string(kVictim) + "\\" + row.planted);
            platform::FileHandle held = 0;
            if (row.userHandle)
                x.files.UserOpen(user, kLogDir, platform::kDeleteAccess, guard::kShareAll, held);
            auto& os = x.platform();
            FileAccessTransient file(os, u"tool", u"sweeptool", std::make_unique<FileLowLevel>(os),
                                     std::make_unique<FileUtilsWin32>(os), false);
            const auto windows = Snapshot(x.files, "C:\\Windows");
            int call = 0;
            x.faults.SetHook([&](const std::string&) {
                if (++call != at) return;
                (void)x.files.UserRename(user, kLogDir, std::string(kBase) + "\\Logs\\old");
                (void)x.files.UserCreateLink(user, kLogDir, kVictim, true);
            });
            file.Write(u"r\r\n", 6);
            x.faults.SetHook(nullptr);
            EXPECT_EQ(Snapshot(x.files, "C:\\Windows"), windows);
            EXPECT_TRUE(x.files.PendingOperations().empty());
            if (at > 0) continue;
            calls = call;
            EXPECT_TRUE(!row.planted.empty() || x.files.Size(kLog) == 8u);
            EXPECT_EQ(LinkTraces(x.system), row.planted.empty() ? 0 : 1);
            EXPECT_TRUE(row.planted.empty() || x.files.Exists(std::string(kLogDir) + "\\" + row.planted));
        }
    }
}

// A log file whose writes throw, to stand for any failure that unwinds out of a write.
class ThrowingFile : public FileLowLevel {
  public:
    using FileLowLevel::FileLowLevel;
    bool Write(const void*, uint32_t) override { throw std::runtime_error("write failed"); }
};

TEST_F(LoggingFolderLinksTest, TheMutexIsReleasedWhenAWriteThrows) {
    auto& os = m.platform();
    FileAccessTransient file(os, u"tool", u"sweeptool", std::make_unique<ThrowingFile>(os),
                             std::make_unique<FileUtilsWin32>(os), false);
    ASSERT_TRUE(file.path());
    std::u16string name = MutexName(*file.path());
    const char16_t record[] = u"x\r\n";
    // The mark of a new file goes through the same write.
    EXPECT_THROW(file.Write(record, sizeof(record) - 2), std::runtime_error);
    EXPECT_EQ(m.sync.OwnerOf(name), 0u);
    EXPECT_THROW(file.Write(record, sizeof(record) - 2), std::runtime_error);
    EXPECT_EQ(m.sync.OwnerOf(name), 0u);
    // Another process gets the mutex at once.
    uint32_t wait = platform::kWaitFailed;
    std::thread other([&] {
        platform::SyncHandle h = 0;
        ASSERT_TRUE(m.sync.OpenMutexW(platform::kSynchronize, false, name, h));
        wait = m.sync.WaitForSingleObject(h, 0);
        m.sync.ReleaseMutex(h);
        m.sync.CloseHandle(h);
    });
    other.join();
    EXPECT_EQ(wait, platform::kWaitObject0);
}

}  // namespace
}  // namespace KvQmrLogging::testing
