// A simulated 64-bit machine with a verbose log, for the detector: the registry places it
// reads, in the 32-bit view the product sees, and its records with their levels.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detector.h"
#include "logging/log.h"
#include "platform/sim/sim_machine.h"

namespace detecttest {

constexpr char kAgent[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Aurel Agent";
constexpr char kVendor[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessel Works\\Kelvaris";
constexpr char kPlx[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessel Works\\Kelvaris\\PLX";
constexpr char kDiskSealer[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessel Works\\Kelvaris\\DiskSealer";
constexpr char kTunnelPlus[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessel Works\\Kelvaris\\TunnelPlus";
constexpr char kShellClient[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris Corporation\\Kelvaris Shell Client";

constexpr char kMachineList[] =
    "D:P(A;OICI;0x1200a9;;;S-1-5-32-545)(A;OICI;0x1f01ff;;;S-1-5-32-544)(A;OICI;0x1f01ff;;;S-1-5-18)";

class DetectorTest : public ::testing::Test {
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

    // The detector's records so far, each as "level tag: message".
    std::vector<std::string> Records() {
        std::string bytes = m.files.Contents(kLog);
        std::string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                                       << 8;
            text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        static const char* const kMarks[] = {"*F", "*E", ".W", " I", " D", " V"};
        std::vector<std::string> records;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            std::string line = text.substr(start, end - start);
            size_t at = line.find("] ");
            if (at == std::string::npos || line.size() < at + 6) continue;
            std::string message = line.substr(at + 6);
            if (message.rfind("CDetector::", 0) != 0) continue;
            int level = 0;
            for (int i = 0; i < 6; ++i)
                if (line.compare(at + 2, 2, kMarks[i]) == 0) level = i + 1;
            records.push_back(std::to_string(level) + " " + message);
        }
        return records;
    }

    // `path` and every folder above it as the machine's own: users may read, nothing more.
    void MachineOnly(const std::string& path) {
        for (size_t at = 2; at != std::string::npos; at = path.find('\\', at + 1))
            m.files.SecurityOf(path.substr(0, at == 2 ? 3 : at))->sddl = kMachineList;
        m.files.SecurityOf(path)->sddl = kMachineList;
    }

    void Env(const char16_t* name, const std::u16string& value) { m.system.environment[name] = value; }
    // The folders of a 64-bit Windows as a 32-bit program's environment gives them.
    void StandardEnvironment() {
        Env(u"WINDIR", u"C:\\Windows");
        Env(u"ProgramFiles", u"C:\\Program Files (x86)");
        Env(u"ProgramFiles(x86)", u"C:\\Program Files (x86)");
        Env(u"ProgramW6432", u"C:\\Program Files");
        Env(u"CommonProgramFiles", u"C:\\Program Files (x86)\\Common Files");
        Env(u"CommonProgramFiles(x86)", u"C:\\Program Files (x86)\\Common Files");
        Env(u"CommonProgramW6432", u"C:\\Program Files\\Common Files");
        Env(u"ProgramData", u"C:\\ProgramData");
        Env(u"ALLUSERSPROFILE", u"C:\\ProgramData");
    }

    platform::sim::SimMachine m;
};

}  // namespace detecttest
