// A simulated machine with the common application data folder where Windows keeps it, and
// a fresh process logger bound to it for each test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/log.h"
#include "platform/sim/sim_machine.h"

namespace KvQmrLogging::testing {

constexpr char kShellFolders[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr char kSettings[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging";
constexpr char kLogDir[] = "C:\\ProgramData\\Kelvaris\\Logs\\tool";
constexpr char kLog[] = "C:\\ProgramData\\Kelvaris\\Logs\\tool\\sweeptool.log";

class LoggingLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.registry.SetString(kShellFolders, "Common AppData", "C:\\ProgramData");
        ResetForTests(&m.platform());
    }
    void TearDown() override { ResetForTests(nullptr); }

    void SetSetting(const std::string& subKey, const char* name, uint32_t value) {
        m.registry.SetDword(subKey.empty() ? kSettings : std::string(kSettings) + "\\" + subKey, name, value);
    }

    // The lines of a log file as text (ASCII content only), each with its "\r\n" removed.
    // Fails the test when the file does not start with FF FE or a line is not terminated.
    std::vector<std::string> Lines(const std::string& path = kLog) {
        std::string bytes = m.files.Contents(path);
        std::vector<std::string> lines;
        if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') {
            ADD_FAILURE() << path << " does not start with FF FE";
            return lines;
        }
        if (bytes.size() % 2 != 0) ADD_FAILURE() << path << " has an odd byte count";
        std::string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                       << 8;
            text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        size_t start = 0;
        for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
            lines.push_back(text.substr(start, at - start));
        if (start != text.size()) ADD_FAILURE() << path << " ends in an unterminated line";
        return lines;
    }

    // The message part of a record line, after the timestamp, ids and mark.
    static std::string MessageOf(const std::string& line) {
        size_t at = line.find("] ");
        return at == std::string::npos || line.size() < at + 6 ? std::string() : line.substr(at + 6);
    }

    platform::sim::SimMachine m;
};

}  // namespace KvQmrLogging::testing
