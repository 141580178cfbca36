#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "logging/log.h"
#include "logging/log_fixture.h"

namespace KvQmrLogging::testing {
namespace {

using platform::kTimeZoneIdDaylight;
using platform::kTimeZoneIdStandard;
using platform::kTimeZoneIdUnknown;

std::string Hex4(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof(text), "%04x", v);
    return text;
}

TEST_F(LoggingLoggerTest, RecordLineFormat) {
    m.system.clockMs = ((11 * 60 + 51) * 60 + 25) * 1000ull + 125;
    LogInitA("tool", "sweeptool", 5, 0);
    LogWriteA(5, "%s: MoveFileEx for '%s' was successful", "CNuke::RemovePath", "C:\\x");

    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "");  // the blank line that sets each opening apart
    std::string ids = "[0a1c." + Hex4(m.system.GetCurrentThreadId()) + "]";
    EXPECT_EQ(lines[1],
              "2016-01-20 11:51:25.125 " + ids + "  I: ***  LOGGING STARTED  *** (UTC+0:00, session: 0x1)");
    EXPECT_EQ(lines[2], "2016-01-20 11:51:25.125 " + ids +
                            "  D: CNuke::RemovePath: MoveFileEx for 'C:\\x' was successful");
}

TEST_F(LoggingLoggerTest, LevelMarks) {
    SetSetting("", "LogLevel", 7);
    LogInitA("tool", "sweeptool", 4, 0);
    const struct {
        int level;
        const char* mark;
    } marks[] = {{1, "*F"}, {2, "*E"}, {3, ".W"}, {4, " I"}, {5, " D"},
                 {6, " V"}, {7, "  "}, {0, "  "}, {-1, "  "}};
    for (const auto& c : marks) {
        LogWriteA(c.level, "level %d", c.level);
        std::string last = Lines().back();
        size_t at = last.find("] ");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(last.substr(at + 2), std::string(c.mark) + ": level " + std::to_string(c.level));
    }
}

TEST_F(LoggingLoggerTest, LevelFilterFollowsTheLogLevelSetting) {
    const struct {
        uint32_t setting;
        size_t lines;  // blank line and start marker when the level reaches 4, then one line per level passed
    } cases[] = {{0, 0}, {3, 3}, {6, 2 + 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        m.files.DeleteFileA(kLog);
        ResetForTests(&m.platform());
        SetSetting("", "LogLevel", c.setting);
        LogInitA("tool", "sweeptool", 4, 0);
        for (int level = 1; level <= 6; ++level) LogWriteA(level, "record %d", level);
        if (c.lines == 0) {
            EXPECT_FALSE(m.files.Exists(kLog));
            continue;
        }
        auto lines = Lines();
        ASSERT_EQ(lines.size(), c.lines);
        EXPECT_EQ(MessageOf(lines.back()), "record " + std::to_string(c.setting));
    }
}

TEST_F(LoggingLoggerTest, RecordsBeforeInitialisationAreDroppedAndCreateNoFile) {
    LogWriteA(1, "%s: too early", "CDetector::Check");
    EXPECT_FALSE(LogIsEnabled(1));
    EXPECT_FALSE(m.files.Exists("C:\\ProgramData\\Kelvaris"));

    LogInitA("tool", "sweeptool", 4, 0);
    for (const auto& line : Lines()) EXPECT_EQ(line.find("too early"), std::string::npos);
}

TEST_F(LoggingLoggerTest, FirstInitialisationWins) {
    LogInitA("tool", "sweeptool", 4, 0);
    LogInitA("other", "component", 6, UtcTimestamps | DebugMarkers);
    LogWriteA(5, "debug");
    LogWriteA(4, "info");
    EXPECT_FALSE(m.files.Exists("C:\\ProgramData\\Kelvaris\\Logs\\other"));
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(MessageOf(lines[2]), "info");
}

TEST_F(LoggingLoggerTest, DeferredOpenWritesTheMarkerBeforeTheFirstRecord) {
    LogInitA("tool", "sweeptool", 4, DeferOpen);
    EXPECT_FALSE(m.files.Exists(kLog));
    EXPECT_TRUE(LogIsEnabled(6));  // every level passes until the log is open

    // The first record opens the log; at the real threshold (4) it is then discarded.
    LogWriteA(5, "first, filtered");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[1]).rfind("***  LOGGING STARTED  ***", 0), 0u);
    EXPECT_FALSE(LogIsEnabled(5));

    LogWriteA(3, "second, kept");
    lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(MessageOf(lines[2]), "second, kept");
}

TEST_F(LoggingLoggerTest, StartMarkerOffsetAndSession) {
    const struct {
        uint32_t zoneId;
        int32_t bias, standardBias, daylightBias;
        bool zoneFails, sessionFails;
        int flags;
        const char* expected;
    } cases[] = {
        {kTimeZoneIdStandard, -120, 0, -60, false, false, 0, "(UTC+2:00, session: 0x1)"},
        {kTimeZoneIdUnknown, 0, 0, 0, false, false, 0, "(UTC+0:00, session: 0x1)"},
        {kTimeZoneIdStandard, -330, 0, 0, false, false, 0, "(UTC+5:30, session: 0x1)"},
        {kTimeZoneIdStandard, 210, 0, -60, false, false, 0, "(UTC-3:-30, session: 0x1)"},
        {kTimeZoneIdDaylight, -60, 0, -60, false, false, 0, "(UTC+2:00, session: 0x1)"},
        {kTimeZoneIdStandard, 0, 0, 0, true, false, 0, "(UTC+59:59, session: 0x1)"},
        {kTimeZoneIdStandard, INT32_MIN, 0, 0, false, false, 0, "(UTC+35791394:08, session: 0x1)"},
        {kTimeZoneIdStandard, 0, 0, 0, false, true, 0, "(UTC+0:00, session: 0xdeadbeef)"},
        {kTimeZoneIdStandard, -120, 0, 0, false, false, UtcTimestamps,
         "(UTC+00:00, local:+2:00, session: 0x1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        m.files.DeleteFileA(kLog);
        ResetForTests(&m.platform());
        m.system.timeZoneId = c.zoneId;
        m.system.timeZone = {c.bias, c.standardBias, c.daylightBias};
        if (c.zoneFails) m.faults.Fail("GetTimeZoneInformation", 1);
        if (c.sessionFails) m.faults.Fail("ProcessIdToSessionId", platform::kErrorAccessDenied);
        LogInitA("tool", "sweeptool", 4, c.flags);
        auto lines = Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(MessageOf(lines[1]), std::string("***  LOGGING STARTED  *** ") + c.expected);
    }
}

TEST_F(LoggingLoggerTest, TimestampsInUtcOrLocalTime) {
    m.system.clockMs = 23 * 3600 * 1000ull;  // 23:00 UTC, 01:00 the next day at UTC+2
    m.system.timeZone = {-120, 0, 0};
    LogInitA("tool", "sweeptool", 4, 0);
    LogWriteA(4, "local");
    EXPECT_EQ(Lines().back().substr(0, 23), "2016-01-21 01:00:00.000");

    LogClose();
    LogInitA("tool", "sweeptool", 4, UtcTimestamps);
    LogWriteA(4, "utc");
    EXPECT_EQ(Lines().back().substr(0, 23), "2016-01-20 23:00:00.000");
}

TEST_F(LoggingLoggerTest, MessageSizeLimits) {
    LogInitA("tool", "sweeptool", 4, 0);
    const char* tooLargeA =
        "KV_QMR_LOG failure: too large (ANSI) message or unprintable characters, format: [%s]";
    const struct {
        size_t length;
        bool fits;
    } cases[] = {{2047, true}, {2048, true}, {131071, true}, {131072, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length - 2, 'a');
        LogWriteA(4, "[%s]", text.c_str());
        std::string message = MessageOf(Lines().back());
        if (c.fits) {
            EXPECT_EQ(message, "[" + text + "]");
        } else {
            EXPECT_EQ(message, tooLargeA);
            std::string last = Lines().back();
            EXPECT_EQ(last.substr(last.find("] ") + 2, 2), "*E");
        }
    }

    std::u16string wide(131072, u'w');
    LogWriteW(4, u"%s", wide.c_str());
    EXPECT_EQ(MessageOf(Lines().back()), "KV_QMR_LOG failure: too large message, format: %s");
    wide.resize(131071);
    LogWriteW(4, u"%s", wide.c_str());
    EXPECT_EQ(MessageOf(Lines().back()), std::string(131071, 'w'));
}

TEST_F(LoggingLoggerTest, EveryEntryPointKeepsTheLastError) {
    using Machine = platform::sim::SimMachine;
    const struct {
        const char* what;
        bool initFirst;
        void (*run)(Machine&);
    } cases[] = {
        {"write before init", false, [](Machine&) { LogWriteA(1, "x"); }},
        {"init", false, [](Machine&) { LogInitA("tool", "sweeptool", 4, 0); }},
        {"init wide, log cannot be created", false,
         [](Machine& m) {
             m.faults.Fail("CreateFileW", platform::kErrorAccessDenied, -1);
             LogInitW(u"tool", u"sweeptool", 4, 0);
         }},
        {"mutex held elsewhere", false,
         [](Machine& m) {
             m.sync.AddForeignMutex(u"Global\\KvQmrLogging_C:_ProgramData_Kelvaris_Logs_tool_sweeptool.log",
                                    true, false);
             LogInitA("tool", "sweeptool", 4, 0);
         }},
        {"deferred open by a record", false,
         [](Machine&) {
             LogInitA("tool", "sweeptool", 4, DeferOpen);
             LogWriteA(4, "x");
         }},
        {"filtered write", true, [](Machine&) { LogWriteA(6, "x"); }},
        {"written record", true, [](Machine&) { LogWriteA(2, "%s: %d", "A::B", 5); }},
        {"wide record", true, [](Machine&) { LogWriteW(2, u"%s", u"w"); }},
        {"failure record", true, [](Machine&) { LogWriteA(2, "%s", std::string(200000, 'x').c_str()); }},
        {"is enabled", true, [](Machine&) { (void)LogIsEnabled(3); }},
        {"close", true, [](Machine&) { LogClose(); }},
        {"auto-close", true, [](Machine& m) { ResetForTests(&m.platform()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m.files.DeleteFileA(kLog);
        ResetForTests(&m.platform());
        if (c.initFirst) LogInitA("tool", "sweeptool", 4, 0);
        m.system.SetLastError(0x4D2);
        c.run(m);
        EXPECT_EQ(m.system.GetLastError(), 0x4D2u);
        m.faults.ClearAll();
    }
}

TEST_F(LoggingLoggerTest, CloseEndsTheFileAndAReinitialisationReopensIt) {
    SetSetting("", "DebugOutputLogging", 1);
    LogInitA("tool", "sweeptool", 4, 0);
    LogClose();
    LogWriteA(4, "after close");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(MessageOf(lines[2]), "***  LOGGING ENDED  ***");
    // After closing, records still pass the old threshold but reach only the debugger output.
    ASSERT_FALSE(m.system.debugOutput.empty());
    EXPECT_NE(m.system.debugOutput.back().find(u"after close"), std::u16string::npos);

    LogInitA("tool", "sweeptool", 4, 0);
    LogWriteA(4, "again");
    ResetForTests(nullptr);  // the end of the process
    lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(MessageOf(lines[5]), "again");
    EXPECT_EQ(MessageOf(lines[6]), "***  LOG AUTO-CLOSED ***");
}

TEST_F(LoggingLoggerTest, LowIntegrityProcessLogsOnlyToItsOwnProfile) {
    m.system.integrityRid = 0x1000;
    LogInitA("tool", "sweeptool", 4, 0);
    LogWriteA(1, "fatal");
    EXPECT_FALSE(m.files.Exists("C:\\ProgramData\\Kelvaris"));

    m.registry.SetString(
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        "{A520A1A4-1780-4FF6-BD18-167343C5AF16}", "C:\\Users\\u\\AppData\\LocalLow");
    LogInitA("tool", "sweeptool", 4, PerUserLocation);
    LogWriteA(1, "fatal");
    const char* log = "C:\\Users\\u\\AppData\\LocalLow\\Kelvaris\\Logs\\tool\\sweeptool.log";
    EXPECT_EQ(MessageOf(Lines(log).back()), "fatal");
    // A per-user log keeps default security throughout.
    EXPECT_EQ(m.files.SecurityOf(log)->sddl, "");
    EXPECT_EQ(m.files.SecurityOf("C:\\Users\\u\\AppData\\LocalLow\\Kelvaris\\Logs")->sddl, "");
}

TEST_F(LoggingLoggerTest, OneInstanceAndWholeLinesUnderManyThreads) {
    std::vector<Logger*> seen(8, nullptr);
    {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = GetLogger(); });
        for (auto& t : threads) t.join();
    }
    for (Logger* logger : seen) EXPECT_EQ(logger, seen[0]);
    ASSERT_NE(seen[0], nullptr);

    SetSetting("", "LogMaxSizeKB", 1024);
    LogInitA("tool", "sweeptool", 4, 0);
    constexpr int kThreads = 4, kRecords = 200;
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kRecords; ++i)
                    LogWriteA(4, "%s: thread %d record %d", "Stress::Run", t, i);
            });
        for (auto& t : threads) t.join();
    }
    std::set<std::string> messages;
    for (const auto& line : Lines()) {
        std::string message = MessageOf(line);
        if (message.rfind("Stress::Run: ", 0) == 0) {
            EXPECT_TRUE(messages.insert(message).second) << message;
        }
    }
    EXPECT_EQ(messages.size(), static_cast<size_t>(kThreads * kRecords));
}

TEST_F(LoggingLoggerTest, NoPlatformNoLogger) {
    ResetForTests(nullptr);
    EXPECT_EQ(GetLogger(), nullptr);
    LogInitA("tool", "sweeptool", 4, 0);
    LogWriteA(1, "nothing");
    LogClose();
    EXPECT_FALSE(LogIsEnabled(1));
}

}  // namespace
}  // namespace KvQmrLogging::testing
