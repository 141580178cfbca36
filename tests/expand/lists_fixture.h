// A simulated machine with the engine, the detector and a log that keeps every level, for
// the tests of list initialisation and the working lists.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "detect/detector.h"
#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/sim/sim_machine.h"

namespace lists_test {

constexpr char kConfigPath[] = "C:\\Tools\\sweeptool.cfg";
constexpr char kLogPath[] = "C:\\ProgramData\\Kelvaris\\Logs\\tool\\sweeptool.log";

// A configuration with every section, each holding `body` lines of its own.
struct Sections {
    std::string msi, service, process, regValue, regKey, file;
    std::string Text() const {
        return "[msi upgradecode 1]\n" + msi + "[service 1]\n" + service + "[process 1]\n" + process +
               "[registry value 1]\n" + regValue + "[registry key 1]\n" + regKey + "[file 1]\n" + file;
    }
};

inline std::vector<std::string> Items(engine::TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) out.emplace_back(s);
    return out;
}

// A text as the log file holds it (UTF-16LE), for searching the raw file.
inline std::string Wide(const std::string& text) {
    std::string w;
    for (char ch : text) {
        w.push_back(ch);
        w.push_back('\0');
    }
    return w;
}

// True when the log of `machine` holds `fragment`.
inline bool LogHas(const platform::sim::SimMachine& machine, const std::string& fragment) {
    return machine.files.Contents(kLogPath).find(Wide(fragment)) != std::string::npos;
}

// True when the log holds the version record with `version` and a compilation date and
// time in the compiler's forms ("Jan 20 2016 11:51:25").
inline bool LogHasVersionRecord(const platform::sim::SimMachine& machine, const std::string& version) {
    std::string bytes = machine.files.Contents(kLogPath);
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 2) text.push_back(bytes[i]);
    static const std::regex kDateTime(
        ", compilation time: [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\r?\n");
    std::string record = "Binary version: " + version;
    for (size_t at = text.find(record); at != std::string::npos; at = text.find(record, at + 1)) {
        std::string rest = text.substr(at + record.size(), 64);
        if (std::regex_search(rest, kDateTime, std::regex_constants::match_continuous)) return true;
    }
    return false;
}

// Points the process's logger at `machine` with every level kept.
inline void BindLog(platform::sim::SimMachine& machine) {
    KvQmrLogging::ResetForTests(&machine.platform());
    machine.system.environment[u"ProgramData"] = u"C:\\ProgramData";
    machine.registry.SetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging", "LogLevel", 6);
}

// Binds the logger to a machine for one scope; declared after the machine, it unbinds
// before the machine goes away, however the scope ends.
class ScopedLog {
  public:
    explicit ScopedLog(platform::sim::SimMachine& machine) { BindLog(machine); }
    ~ScopedLog() { KvQmrLogging::ResetForTests(nullptr); }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;
};

class ListsFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        BindLog(m);
        nuke.SetDetector(&detector);
    }
    void TearDown() override { KvQmrLogging::ResetForTests(nullptr); }

    // Opens the log as list initialisation does, for tests that start later in the run.
    void OpenLog() { KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0); }

    void WriteConfig(const std::string& text) { ASSERT_TRUE(m.files.CreateFile(kConfigPath, text)); }

    // The messages of the log, one per record, without the timestamp and level columns.
    std::vector<std::string> LogLines() const {
        std::string bytes = m.files.Contents(kLogPath);
        std::string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                       << 8;
            text.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
        }
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
            std::string line = text.substr(start, nl - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            start = nl + 1;
        }
        return lines;
    }
    // How many records hold `fragment`.
    int Logged(const std::string& fragment) const {
        auto lines = LogLines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(fragment) != std::string::npos;
        }));
    }
    // The index of the first record holding `fragment`, -1 when there is none.
    int LoggedAt(const std::string& fragment) const {
        auto lines = LogLines();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(fragment) != std::string::npos) return static_cast<int>(i);
        return -1;
    }

    platform::sim::SimMachine m;
    detect::CDetector detector{m.platform()};
    engine::CNuke nuke{m.platform()};
};

}  // namespace lists_test
