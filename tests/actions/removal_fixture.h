// A simulated 64-bit machine with a verbose log, and an engine on it, for the removal steps.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/sim/sim_machine.h"
#include "platform/unicode_text.h"

namespace removal_testing {

constexpr char kMachineList[] =
    "D:P(A;OICI;0x1200a9;;;S-1-5-32-545)(A;OICI;0x1f01ff;;;S-1-5-32-544)(A;OICI;0x1f01ff;;;S-1-5-18)";

struct Record {
    int level = 0;
    std::string message;  // the text after the mark: "CNuke::RemovePath: ..."
};

class RemovalTest : public ::testing::Test {
  protected:
    static constexpr char kLog[] = "C:\\ProgramData\\Kelvaris\\Logs\\tool\\sweeptool.log";

    void SetUp() override {
        m.registry.SetString(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
            "Common AppData", "C:\\ProgramData");
        KvQmrLogging::ResetForTests(&m.platform());
        KvQmrLogging::LogInitA("tool", "sweeptool", 6, KvQmrLogging::KeepFileOpen);
    }
    void TearDown() override { KvQmrLogging::ResetForTests(nullptr); }

    // Every record written since the log was opened, start marker excluded, in UTF-8.
    std::vector<Record> Records() {
        std::string bytes = m.files.Contents(kLog);
        std::u16string wide(bytes.size() < 2 ? 0 : bytes.size() / 2 - 1, u'\0');  // UTF-16LE after its mark
        if (!wide.empty()) std::memcpy(&wide[0], bytes.data() + 2, wide.size() * 2);
        const std::string text = platform::Utf16ToUtf8(wide);
        std::vector<Record> records;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            std::string line = text.substr(start, end - start);
            size_t at = line.find("] ");
            if (at == std::string::npos || line.size() < at + 6) continue;
            std::string mark = line.substr(at + 2, 2);
            static const char* const kMarks[] = {"*F", "*E", ".W", " I", " D", " V"};
            int level = 0;
            for (int i = 0; i < 6; ++i)
                if (mark == kMarks[i]) level = i + 1;
            std::string message = line.substr(at + 6);
            if (message.rfind("CNuke::", 0) == 0) records.push_back(Record{level, message});
        }
        return records;
    }

    // The messages of the records, each prefixed with its level ("5 CNuke::...").
    std::vector<std::string> Messages() {
        std::vector<std::string> out;
        for (const Record& r : Records()) out.push_back(std::to_string(r.level) + " " + r.message);
        return out;
    }

    bool Logged(int level, const std::string& message) {
        for (const Record& r : Records())
            if (r.level == level && r.message == message) return true;
        return false;
    }

    // `path` and every folder above it as the machine's own: users may read, nothing more.
    void MachineOnly(const std::string& path) {
        for (size_t at = 2; at != std::string::npos; at = path.find('\\', at + 1))
            m.files.SecurityOf(path.substr(0, at == 2 ? 3 : at))->sddl = kMachineList;
        m.files.SecurityOf(path)->sddl = kMachineList;
    }

    void List(engine::TSet& list, std::initializer_list<const char*> entries) {
        for (const char* e : entries) ASSERT_EQ(0u, list.Insert(e)) << e;
    }

    platform::sim::SimMachine m;
    engine::CNuke nuke{m.platform()};
};

}  // namespace removal_testing
