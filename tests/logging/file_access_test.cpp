#include "logging/file_access.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "logging/log_fixture.h"
#include "logging/log_settings.h"
#include "platform/ansi.h"

namespace KvQmrLogging::testing {
namespace {

class LoggingFileAccessTest : public LoggingLoggerTest {
  protected:
    template <typename Access>
    std::unique_ptr<FileAccessBase> Make(const char16_t* product = u"tool", bool perUser = false) {
        auto& os = m.platform();
        return std::make_unique<Access>(os, product, u"sweeptool", std::make_unique<FileLowLevel>(os),
                                        std::make_unique<FileUtilsWin32>(os), perUser);
    }

    static void WriteText(FileAccessBase& file, const std::string& text) {
        std::u16string wide;
        platform::AnsiToUtf16(text.data(), text.size(), wide);
        wide += u"\r\n";
        file.Write(wide.data(), static_cast<uint32_t>(wide.size() * 2));
    }

    std::string Generation(uint32_t k) {
        std::u16string wide;
        platform::AnsiToUtf16(kLog, sizeof(kLog) - 1, wide);
        return platform::Utf16ToAnsi(RotatedName(wide, k));
    }
};

TEST_F(LoggingFileAccessTest, SettingsLookupFallsThroughThreeKeys) {
    const uint32_t absent = 0xABAD1DEA;  // stands for "no value here"
    const struct {
        uint32_t component, product, root, expected;
    } cases[] = {
        {7, 8, 9, 7},
        {absent, 8, 9, 8},
        {0xFFFFFFFF, 8, 9, 8},
        {0xFFFFFFFF, 0xFFFFFFFF, 9, 9},
        {absent, absent, absent, 42},
        {0, 8, 9, 0},
        {absent, absent, 0xFFFFFFFF, 0xFFFFFFFF},  // only the first two places pass it on
    };
    for (const auto& c : cases) {
        platform::sim::SimMachine fresh;
        auto set = [&](const std::string& key, uint32_t v) {
            if (v != absent) fresh.registry.SetDword(key, "LogLevel", v);
        };
        set(std::string(kSettings) + "\\tool\\sweeptool", c.component);
        set(std::string(kSettings) + "\\tool", c.product);
        set(kSettings, c.root);
        EXPECT_EQ(ReadLoggingSetting(fresh.platform(), u"LogLevel", u"tool", u"sweeptool", 42), c.expected)
            << c.component << " " << c.product << " " << c.root;
    }

    // A null product reads the "misc" keys; whatever the type, the first 4 bytes count.
    m.registry.Set(std::string(kSettings) + "\\misc", "LogLevel", platform::kRegBinary, {5, 0});
    EXPECT_EQ(ReadLoggingSetting(m.platform(), u"LogLevel", nullptr, u"c", 42), 5u);
    // A value too long for 4 bytes cannot be read and counts as absent.
    m.registry.Set(std::string(kSettings) + "\\misc\\c", "LogLevel", platform::kRegBinary,
                   {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(ReadLoggingSetting(m.platform(), u"LogLevel", nullptr, u"c", 42), 5u);
}

TEST_F(LoggingFileAccessTest, SizeAndCountLimits) {
    const struct {
        uint32_t sizeKB, count;
        uint32_t maxSize, rotateCount;
    } cases[] = {
        {100, 2, 102400, 2}, {0, 0, 3, 0},       {1, 99, 1024, 99},
        {1, 100, 1024, 99},  {1, 150, 1024, 99}, {4194304, 1, 3, 1},  // 4 GiB wraps to 0 in 32 bits
    };
    for (const auto& c : cases) {
        SetSetting("tool", "LogMaxSizeKB", c.sizeKB);
        SetSetting("tool", "LogRotateCount", c.count);
        auto file = Make<FileAccessTransient>();
        EXPECT_EQ(file->maxSize(), c.maxSize) << c.sizeKB;
        EXPECT_EQ(file->rotateCount(), c.rotateCount) << c.count;
    }
}

TEST_F(LoggingFileAccessTest, LocationSecurityAndMutex) {
    auto file = Make<FileAccessTransient>();
    ASSERT_TRUE(file->path());
    EXPECT_EQ(platform::Utf16ToAnsi(*file->path()), kLog);
    WriteText(*file, "one");

    // The base folder keeps default security; the folders below it and the file get the log's.
    EXPECT_EQ(m.files.SecurityOf("C:\\ProgramData\\Kelvaris")->sddl, "");
    EXPECT_EQ(m.files.SecurityOf("C:\\ProgramData\\Kelvaris\\Logs")->sddl, kLogFolderSddl);
    EXPECT_EQ(m.files.SecurityOf(kLogDir)->sddl, kLogFolderSddl);
    EXPECT_EQ(m.files.SecurityOf(kLog)->sddl, kLogFolderSddl);
    const char16_t* mutex = u"Global\\KvQmrLogging_C:_ProgramData_Kelvaris_Logs_tool_sweeptool.log";
    EXPECT_TRUE(m.sync.Exists(mutex));
    EXPECT_EQ(m.sync.SddlOf(mutex), kLogMutexSddl);

    // A null product logs under "misc".
    EXPECT_EQ(platform::Utf16ToAnsi(*Make<FileAccessTransient>(nullptr)->path()),
              "C:\\ProgramData\\Kelvaris\\Logs\\misc\\sweeptool.log");

    // A path the ANSI code page cannot carry would be held as another one: no log.
    WriteText(*Make<FileAccessTransient>(u"t\u4E2Dol"), "lost");
    EXPECT_FALSE(m.files.Exists("C:\\ProgramData\\Kelvaris\\Logs\\t?ol"));

    // Without the shell folder value, the environment's ProgramData.
    platform::sim::SimMachine bare;
    bare.system.environment[u"ProgramData"] = u"D:\\Data";
    FileAccessTransient fromEnvironment(bare.platform(), u"tool", u"sweeptool",
                                        std::make_unique<FileLowLevel>(bare.platform()),
                                        std::make_unique<FileUtilsWin32>(bare.platform()), false);
    EXPECT_EQ(platform::Utf16ToAnsi(*fromEnvironment.path()),
              "D:\\Data\\Kelvaris\\Logs\\tool\\sweeptool.log");
}

TEST_F(LoggingFileAccessTest, NoRootFolderMeansNoFileAndATracePerRecord) {
    platform::sim::SimMachine bare;
    FileAccessTransient file(bare.platform(), u"tool", u"sweeptool",
                             std::make_unique<FileLowLevel>(bare.platform()),
                             std::make_unique<FileUtilsWin32>(bare.platform()), false);
    EXPECT_FALSE(file.path());
    EXPECT_FALSE(file.hasMutex());
    WriteText(file, "lost");
    WriteText(file, "lost");
    ASSERT_EQ(bare.system.debugOutput.size(), 2u);
    EXPECT_EQ(bare.system.debugOutput[0],
              u"kv_qmr_log!FileAccessTransient::Write(): Failed to acquire file mutex, error=4294967295\n");
    EXPECT_THAT(bare.files.List("C:\\"), ::testing::ElementsAre("Windows"));  // nothing of the log
}

TEST_F(LoggingFileAccessTest, RotationKeepsTheConfiguredGenerations) {
    const struct { uint32_t setting, kept; } cases[] = {{0, 0}, {2, 2}, {150, 99}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        platform::sim::SimMachine fresh;
        fresh.registry.SetString(kShellFolders, "Common AppData", "C:\\ProgramData");
        fresh.registry.SetDword(kSettings, "LogMaxSizeKB", 0);
        fresh.registry.SetDword(kSettings, "LogRotateCount", c.setting);
        auto& os = fresh.platform();
        {
            FileAccessTransient file(os, u"tool", u"sweeptool", std::make_unique<FileLowLevel>(os),
                                     std::make_unique<FileUtilsWin32>(os), false);
            const int records = 105;
            for (int i = 0; i < records; ++i) WriteText(file, "r" + std::to_string(i));
        }
        // With a 3-byte maximum, each file holds one record: generation k holds the k-th last.
        for (uint32_t k = 0; k <= c.kept; ++k) {
            std::string name = Generation(k);
            std::string bytes = fresh.files.Contents(name);
            std::string want = "r" + std::to_string(104 - static_cast<int>(k)) + "\r\n";
            std::string got;
            for (size_t i = 2; i + 1 < bytes.size(); i += 2) got.push_back(bytes[i]);
            EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << name;
            EXPECT_EQ(got, want) << name;
        }
        EXPECT_FALSE(fresh.files.Exists(Generation(c.kept + 1)));
        for (const auto& entry : fresh.files.List(kLogDir))
            EXPECT_EQ(entry.find("__delete_"), std::string::npos);
    }
}

TEST_F(LoggingFileAccessTest, ContinuousRotationWithOnlyTheCurrentFile) {
    SetSetting("", "LogMaxSizeKB", 0);
    auto file = Make<FileAccessContinuous>();
    WriteText(*file, "first");
    WriteText(*file, "second");
    EXPECT_EQ(Lines(Generation(1)), std::vector<std::string>{"first"});
    EXPECT_EQ(Lines(), std::vector<std::string>{"second"});
    EXPECT_FALSE(m.files.Exists(Generation(2)));
}

TEST_F(LoggingFileAccessTest, FileWithoutByteOrderMarkIsRotatedAwayAtTheFirstWrite) {
    m.files.CreateFile(kLog, "plain text\r\n");
    auto file = Make<FileAccessTransient>();
    WriteText(*file, "new");
    EXPECT_EQ(m.files.Contents(Generation(1)), "plain text\r\n");
    EXPECT_EQ(Lines(), std::vector<std::string>{"new"});
}

// The log's folder is everyone's: a generation that a user holds open is left where it is,
// never queued for the restart, which would delete by name through whatever the user then
// puts at the folder's name.
TEST_F(LoggingFileAccessTest, AGenerationAUserHoldsOpenIsLeftAndNothingIsQueued) {
    m.files.CreateFile(Generation(2), "old");
    platform::FileHandle held = 0;
    ASSERT_EQ(0u, m.files.UserOpen("S-1-5-21-7-7-7-1001", Generation(2), platform::kGenericRead,
                                   platform::kFileShareRead, held));
    m.files.CreateFile(kLog, "no byte-order mark\r\n");
    auto file = Make<FileAccessTransient>();
    WriteText(*file, "new");
    EXPECT_TRUE(m.files.PendingOperations().empty());
    EXPECT_EQ(Lines(), std::vector<std::string>{"new"});
    EXPECT_FALSE(m.system.debugOutput.empty());
}

TEST_F(LoggingFileAccessTest, DeleteNames) {
    auto file = Make<FileAccessTransient>();
    std::u16string log = *file->path();
    char16_t name[400];
    ASSERT_TRUE(file->MakeDeleteName(name, 400, log));
    EXPECT_EQ(std::u16string(name), log + u"__delete_1");

    for (int n = 1; n <= 3; ++n) m.files.CreateFile(std::string(kLog) + "__delete_" + std::to_string(n), "x");
    ASSERT_TRUE(file->MakeDeleteName(name, 400, log));
    EXPECT_EQ(std::u16string(name), log + u"__delete_4");

    // No room for the name: an empty result, never a cut one.
    EXPECT_FALSE(file->MakeDeleteName(name, log.size() + 10, log));
    EXPECT_EQ(name[0], u'\0');

    // All 99 taken: the 99th is reused, and the log still goes away.
    for (int n = 4; n <= 99; ++n)
        m.files.CreateFile(std::string(kLog) + "__delete_" + std::to_string(n), "x");
    ASSERT_TRUE(file->MakeDeleteName(name, 400, log));
    EXPECT_EQ(std::u16string(name), log + u"__delete_99");
    m.files.CreateFile(kLog, "\xFF\xFEold");
    EXPECT_TRUE(file->DeleteLogFile(log));
    EXPECT_FALSE(m.files.Exists(kLog));
    EXPECT_TRUE(m.files.Exists(std::string(kLog) + "__delete_98"));
    EXPECT_FALSE(m.files.Exists(std::string(kLog) + "__delete_99"));
}

TEST_F(LoggingFileAccessTest, AWriterThatFindsTheLogRotatedByAnotherReopensIt) {
    SetSetting("", "LogMaxSizeKB", 1);
    SetSetting("", "LogRotateCount", 5);
    // Two sinks on one machine stand for two processes sharing the file and the mutex.
    auto a = Make<FileAccessTransient>();
    auto b = Make<FileAccessTransient>();
    std::string big = "a1" + std::string(600, '.');
    WriteText(*a, big);   // a's handle stays on this file, now over the maximum
    WriteText(*b, "b1");  // b rotates: a's file becomes generation 1
    WriteText(*a, "a2");  // a's handle is on an oversized old file; the fresh one needs no rotation
    EXPECT_EQ(Lines(), (std::vector<std::string>{"b1", "a2"}));
    EXPECT_EQ(Lines(Generation(1)), std::vector<std::string>{big});
    EXPECT_FALSE(m.files.Exists(Generation(2)));
}

TEST_F(LoggingFileAccessTest, MutexHeldAbandonedOrWithFewerRights) {
    const char16_t* name = u"Global\\KvQmrLogging_C:_ProgramData_Kelvaris_Logs_tool_sweeptool.log";

    m.sync.AddForeignMutex(name, /*owned=*/true, /*accessDenied=*/true);
    auto file = Make<FileAccessTransient>();
    EXPECT_TRUE(file->hasMutex());  // opened for SYNCHRONIZE after the create was refused
    WriteText(*file, "dropped");
    EXPECT_FALSE(m.files.Exists(kLog));
    ASSERT_FALSE(m.system.debugOutput.empty());
    EXPECT_EQ(m.system.debugOutput.back(),
              u"kv_qmr_log!FileAccessTransient::Write(): Failed to acquire file mutex, error=258\n");

    // Its owner dies: the mutex is taken over and the write goes ahead.
    m.sync.AbandonOwned();
    WriteText(*file, "written");
    EXPECT_EQ(Lines(), std::vector<std::string>{"written"});
    EXPECT_EQ(m.sync.OwnerOf(name), 0u);  // released after the write
}

TEST_F(LoggingFileAccessTest, MutexThatCannotBeOpenedIsTraced) {
    m.faults.Fail("CreateMutexW", platform::kErrorInvalidParameter);
    auto file = Make<FileAccessTransient>();
    EXPECT_FALSE(file->hasMutex());
    ASSERT_FALSE(m.system.debugOutput.empty());
    EXPECT_EQ(m.system.debugOutput[0],
              u"Failed to open mutex 'Global\\KvQmrLogging_C:_ProgramData_Kelvaris_Logs_tool_sweeptool.log': "
              u"Win32 error: 87");
}

TEST_F(LoggingFileAccessTest, RenameFailureDuringRotationIsTracedAndRotationGoesOn) {
    SetSetting("", "LogMaxSizeKB", 0);
    auto file = Make<FileAccessContinuous>();
    WriteText(*file, "first");
    m.faults.Fail("NtSetInformationFile", platform::kErrorSharingViolation);
    WriteText(*file, "second");
    ASSERT_FALSE(m.system.debugOutput.empty());
    EXPECT_NE(m.system.debugOutput.back().find(u"failed with Win32 error: 32\n"), std::u16string::npos);
    // The old file could not move away, so the record lands after it in the same file.
    EXPECT_EQ(Lines(), (std::vector<std::string>{"first", "second"}));
}

}  // namespace
}  // namespace KvQmrLogging::testing
