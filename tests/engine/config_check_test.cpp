// The configuration check: every problem of a file at once, in line order, with its section
// and line; clean files pass; the file is read as the reader reads it; nothing changes.
#include "engine/config_check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "engine/config_text.h"
#include "platform/sim/sim_ansi.h"
#include "platform/sim/sim_machine.h"

namespace {

using engine::ConfigCheckResult;
using platform::sim::SimMachine;

constexpr char kConfig[] = "C:\\Tools\\sweeptool.cfg";

// Every section present and empty, with `extra` added at the end.
std::string AllSections(const std::string& extra = "") {
    return "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n[registry key 1]\n[file 1]\n" +
           extra;
}

// A file of the repository, read as text; empty when it is not there.
std::string RepositoryFile(const std::string& relative) {
    std::string self = __FILE__;
    std::string root = self.substr(0, self.rfind("tests/engine/"));
    std::ifstream in(root + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ConfigCheckTest : public ::testing::Test {
  protected:
    ConfigCheckTest() { m.system.modulePath = "C:\\Tools\\sweeptool.exe"; }

    ConfigCheckResult Check(const std::string& text) {
        EXPECT_TRUE(m.files.CreateFile(kConfig, text));
        return engine::CheckConfiguration(nuke);
    }

    SimMachine m;
    engine::CNuke nuke{m.platform()};
};

TEST_F(ConfigCheckTest, ReportsEveryProblemWithItsSectionAndLine) {
    const std::string overlong = "remove=FILE_NAME,BY_VALUE,C:\\" + std::string(340, 'x');
    const std::vector<std::string> lines = {
        "; Kelvaris test configuration",                                            // 1
        "remove=SERVICE_NAME,BY_VALUE,early",                                       // 2
        "[msi upgradecode 1]",                                                      // 3
        "remove=GUID,BY_VALUE,{4D1F2C3B-8A7E-4B6C-9D10-2E3F4A5B6C7D}",              // 4
        "remove=GUID,BY_VALUE,{4D1F2C3B-8A7E-4B6C-9D10}",                           // 5
        "ignore=GUID,BY_VALUE,{11111111-2222-3333-4444-555555555555}",              // 6
        "[service 1]",                                                              // 7
        "remove=SERVICE_NAME,BY_VALUE,kvsvc",                                       // 8
        "remove=SERVICE_NAME,BY_VALUE,\"KVSVC\"",                                   // 9
        "remvoe=SERVICE_NAME,BY_VALUE,kvother",                                     // 10
        "remove=GUID,BY_VALUE,{4D1F2C3B-8A7E-4B6C-9D10-2E3F4A5B6C7D}",              // 11
        "[registry value 1]",                                                       // 12
        "remove=REG_VALUE,BY_VALUE,SOFTWARE\\Kelvaris\\Tray",                       // 13
        "remove=REG_VALUE,BY_DATA_MATCH,\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Run\\*\"",  // 14
        "[registry key 1]",                                                         // 15
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kel*\\Agent",        // 16
        "remove=REG_KEY,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris",       // 17
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft",          // 18
        "remove=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Kelvaris",            // 19
        "ignore=REG_KEY,BY_VALUE,HKEY_CURRENT_USER\\Software\\Other\\Keep",         // 20
        "[file 1]",                                                                 // 21
        "remove=FILE_NAME_EXPAND,BY_VALUE,%FOO%\\x",                                // 22
        "ignore=FILE_NAME_EXPAND,BY_VALUE,C:\\x\\%APPDATA%",                        // 23
        "remove=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES%",                         // 24
        "remove=FILE_NAME,BY_VALUE,C:\\Kelvaris",                                   // 25
        "remove=FOO,BY_VALUE,x",                                                    // 26
        "remove=FILE_NAME,BY_WHAT,x",                                               // 27
        "remove=REG_VALUE_EXPAND,BY_VALUE,x",                                       // 28
        "ignore=FILE_NAME,BY_VALUE,C:\\Kelvaris\\Logs",                             // 29
        "ignore=FILE_NAME,BY_VALUE,D:\\Elsewhere\\Logs",                            // 30
        overlong,                                                                   // 31
        "[file 1]",                                                                 // 32
        "remove=FILE_NAME,BY_VALUE,C:\\Never",                                      // 33
        "[files 1]",                                                                // 34
        "stop=PROCESS_NAME,BY_VALUE,kv.exe",                                        // 35
    };
    std::string text;
    for (const std::string& line : lines) text += line + "\n";

    struct Expected {
        uint32_t line;
        const char* section;
        const char* message;
    } expected[] = {
        {0, "[process 1]", "section missing; the run stops with 1610"},
        {2, "", "entry before the first section header"},
        {5, "[msi upgradecode 1]", "malformed upgrade code"},
        {6, "[msi upgradecode 1]", "no remove line of this section names this upgrade code"},
        {9, "[service 1]", "repeats line 8"},
        {10, "[service 1]", "key 'remvoe' is not read in this section"},
        {11, "[service 1]", "a GUID entry does not belong here (this section takes SERVICE_NAME)"},
        {13, "[registry value 1]", "registry path without a root"},
        {14, "[registry value 1]", "needs two quoted fields"},
        {16, "[registry key 1]",
         "wildcard before the last part of the registry key path; the run stops here with 13"},
        {17, "[registry key 1]", "REG_KEY,BY_REFERENCE is not a supported type and kind pair"},
        {18, "[registry key 1]", "names a protected location (operating system software key)"},
        {20, "[registry key 1]", "no remove line of [registry key 1] or [registry value 1] reaches"},
        {22, "[file 1]", "unknown folder macro '%FOO%'; the run stops here with 1610"},
        {23, "[file 1]", "the folder macro '%APPDATA%' must begin the path"},
        {24, "[file 1]", "names a protected location (program files folder)"},
        {26, "[file 1]", "unknown type 'FOO'"},
        {27, "[file 1]", "unknown kind 'BY_WHAT'"},
        {28, "[file 1]", "REG_VALUE_EXPAND,BY_VALUE is not a supported"},
        {30, "[file 1]", "no remove line of this section reaches this path"},
        {31, "[file 1]", "line of 369 characters, longer than 359"},
        {32, "[file 1]", "section repeated (first on line 21)"},
        {34, "[files 1]", "unknown section header"},
    };

    ConfigCheckResult result = Check(text);
    EXPECT_EQ(1610u, result.code);
    EXPECT_EQ(kConfig, result.path);
    ASSERT_EQ(std::size(expected), result.problems.size()) << engine::FormatCheckResult(result);
    for (size_t i = 0; i < result.problems.size(); ++i) {
        const engine::ConfigProblem& p = result.problems[i];
        EXPECT_EQ(expected[i].line, p.line) << p.message;
        EXPECT_EQ(expected[i].section, p.section) << p.line;
        EXPECT_NE(std::string::npos, p.message.find(expected[i].message)) << p.line << ": " << p.message;
        EXPECT_EQ(p.line == 0 ? "" : lines[p.line - 1], p.text);
    }

    std::string report = engine::FormatCheckResult(result);
    EXPECT_NE(std::string::npos,
              report.find("line 22 [file 1]: unknown folder macro '%FOO%'; the run stops here with 1610: "
                          "remove=FILE_NAME_EXPAND,BY_VALUE,%FOO%\\x\n"));
    EXPECT_NE(std::string::npos, report.find("[process 1]: section missing"));
    EXPECT_NE(std::string::npos, report.find(": " + overlong.substr(0, 60) + "...\n"));
    EXPECT_EQ(std::string::npos, report.find(overlong));
    EXPECT_NE(std::string::npos, report.find("line 9 [service 1]: warning: repeats line 8: "));
    EXPECT_NE(std::string::npos, report.find("\nC:\\Tools\\sweeptool.cfg: 9 errors, 14 warnings\n"));
    // Each line alone (below the headers before it) is an error exactly when a real run stops.
    std::vector<std::string> alone = {"[file 1]\nremove=FILE_NAME_EXPAND,BY_VALUE,",
                                      "[file 1]\nremove=FILE_NAME,BY_VALUE,",
                                      "[msi upgradecode 1]\nremove=GUID,BY_VALUE,{4D1F2C3B 8A7E}",
                                      // UTF-8 naming what Windows-1252 cannot spell, and what it can
                                      "[file 1]\nremove=FILE_NAME,BY_VALUE,C:\\Kelvaris\\\xCE\xA9mega",
                                      "[file 1]\nremove=FILE_NAME,BY_VALUE,C:\\Kelvaris\\na\xC3\xAFve.txt"};
    alone.insert(alone.end(), lines.begin(), lines.end());
    std::string headers;
    for (const std::string& line : alone) {
        ConfigCheckResult one = Check(headers + line + "\n" + AllSections());
        engine::CNuke reader(m.platform());
        uint32_t stop = reader.InitializeLists(0, 1);
        if (stop == 0 && reader.ExpandLists() == 0) stop = reader.MsiUninstall();
        EXPECT_EQ(one.code != 0, stop != 0) << line << "\n" << engine::FormatCheckResult(one);
        if (line.back() == ']') headers += line + "\n";
    }
}

TEST_F(ConfigCheckTest, RealisticFilesHaveNoProblems) {
    std::string demo = RepositoryFile("demo/sweeptool.cfg");
    ASSERT_FALSE(demo.empty());
    ConfigCheckResult result = Check(demo);
    EXPECT_EQ(0u, result.code) << engine::FormatCheckResult(result);
    EXPECT_EQ("C:\\Tools\\sweeptool.cfg: read as ASCII\nC:\\Tools\\sweeptool.cfg: no problems\n",
              engine::FormatCheckResult(result));

    // Every type and kind where it belongs, headers with text after them, and ignore lines
    // reached in each way the run reaches them: through a macro's folder in another profile,
    // a value under a removed key, the other registry view, a service pattern.
    result = Check(
        "; Kelvaris Agent: what goes and what stays\r\n"
        "[MSI UPGRADECODE 1] packages\r\n"
        "remove=GUID,BY_VALUE,{4f6c1d2a-8b3e-4c7f-9a15-2e6d8b0c3f71}\r\n"
        "ignore=GUID,BY_VALUE,{4F6C1D2A-8B3E-4C7F-9A15-2E6D8B0C3F71}\r\n"
        "[service 1]\r\n"
        "remove=SERVICE_NAME,BY_VALUE,kvfilter*\r\n"
        "ignore=SERVICE_NAME,BY_VALUE,kvfilterkeep\r\n"
        "[process 1]\r\n"
        "stop=PROCESS_NAME,BY_VALUE,kvui*.exe\r\n"
        "start=FILE_NAME,BY_VALUE,C:\\Tools\\after.exe\r\n"
        "start=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Agent\\AfterRemoval\r\n"
        "[registry value 1]\r\n"
        "remove=REG_VALUE,BY_DATA_MATCH,\"HKEY_LOCAL_"
        "MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\KV*\","
        "\"*KELVARIS*\"\r\n"
        "remove=REG_VALUE,BY_VALUE,HKEY_CLASSES_ROOT\\kvscan.file\\\\\r\n"
        "ignore=REG_VALUE,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kelvaris\\Agent\\LicenseKey\r\n"
        "[registry key 1]\r\n"
        "remove=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Agent\r\n"
        "remove=REG_KEY,BY_DATA_MATCH,\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
        "Uninstall\\*\",\"DisplayName\",\"Kelvaris *\"\r\n"
        "ignore=REG_KEY,BY_VALUE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Agent\\Quarantine\r\n"
        "[file 1]\r\n"
        "remove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Kelvaris\r\n"
        "remove=FILE_NAME_EXPAND,BY_DATA_MATCH,\"%COMMON_APPDATA%\\*\",\"kvagent.id\"\r\n"
        "remove=FILE_NAME,BY_DATA_MATCH,\"C:\\KV*\",\"kvagent.id\",\"*.kvq\"\r\n"
        "remove=FILE_NAME,BY_VALUE,C:\\Program Files\\Kelvaris*\r\n"
        "ignore=FILE_NAME,BY_VALUE,C:\\Users\\Other\\AppData\\Roaming\\Kelvaris\\Keep\r\n"
        "ignore=FILE_NAME_EXPAND,BY_VALUE,%PROGRAM_FILES_64%\\Kelvaris Agent\\Licenses\r\n"
        "ignore=FILE_NAME,BY_VALUE,C:\\KV Setup\\support.zip\r\n"
        "ignore=FILE_NAME,BY_VALUE,kvagent.log\r\n");
    EXPECT_EQ(0u, result.code) << engine::FormatCheckResult(result);
}

TEST_F(ConfigCheckTest, IgnoreLinesAreReportedOnlyWhenClearlyUnreachable) {
    struct Case {
        const char* lines;
        bool reported;
    } cases[] = {
        {"[file 1]\nremove=FILE_NAME,BY_VALUE,C:\\Kv\\Agent\nignore=FILE_NAME,BY_VALUE,C:\\Kv",
         false},  // below
        {"[file 1]\nremove=FILE_NAME,BY_VALUE,C:\\Kv2\nignore=FILE_NAME,BY_VALUE,C:\\Kv",
         false},  // substring
        {"[file 1]\nremove=FILE_NAME,BY_VALUE,C:\\Kv\\*\nignore=FILE_NAME,BY_VALUE,C:\\Kv\\A\\B", false},
        {"[file 1]\nremove=FILE_NAME,BY_VALUE,C:\\Kv\\A\nignore=FILE_NAME,BY_VALUE,C:\\Kv\\B", true},
        {"[file 1]\nremove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kv\\Path\n"
         "ignore=FILE_NAME,BY_VALUE,C:\\Kv\\B",
         false},
        {"[file 1]\nignore=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Kv", true},
        {"[service 1]\nremove=SERVICE_NAME,BY_VALUE,kvsvc\nignore=SERVICE_NAME,BY_VALUE,kvsvc2", true},
        {"[service 1]\nremove=SERVICE_NAME,BY_VALUE,kvsvc2\nignore=SERVICE_NAME,BY_VALUE,kvsvc", false},
        {"[service 1]\nremove=SERVICE_NAME,BY_VALUE,kvsvc\nignore=SERVICE_NAME,BY_VALUE,kv*", false},
        {"[registry value 1]\nremove=REG_VALUE,BY_VALUE,HKEY_CURRENT_USER\\Software\\Kv\\A\n"
         "ignore=REG_VALUE,BY_VALUE,HKEY_CURRENT_USER\\Software\\Kv\\B",
         false},
        {"[registry value 1]\nremove=REG_VALUE,BY_VALUE,HKEY_CURRENT_USER\\Software\\Kv\\A\n"
         "ignore=REG_VALUE,BY_VALUE,HKEY_CURRENT_USER\\Software\\Other\\B",
         true},
        {"[registry key 1]\nremove=REG_KEY,BY_VALUE,HKEY_USERS\\X\\Kv*\n"
         "ignore=REG_KEY,BY_VALUE,HKEY_USERS\\X\\KvAgent\\Keep",
         false},
        {"[registry key 1]\nignore=REG_KEY,BY_VALUE,Kelvaris\\Keep", false},  // a partial text: not judged
    };
    for (const Case& c : cases) {
        // The section under test replaces the empty one of the same name, which comes later.
        std::string text = std::string(c.lines) + "\n" + AllSections();
        ConfigCheckResult result = Check(text);
        bool reported = engine::FormatCheckResult(result).find("keeps nothing") != std::string::npos;
        EXPECT_EQ(c.reported, reported) << c.lines << "\n" << engine::FormatCheckResult(result);
    }
}

TEST_F(ConfigCheckTest, ReadsLinesAsTheReaderDoes) {
    // CR LF and LF give the same problems, quoted without their line ends.
    const std::string body = AllSections("remove=FILE_NAME,BY_VALUE,C:\\Kv\nstop=PROCESS_NAME,BY_VALUE,x\n");
    std::string crlf;
    for (char c : body) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ConfigCheckResult lf = Check(body);
    ConfigCheckResult dos = Check(crlf);
    ASSERT_EQ(1u, lf.problems.size());
    EXPECT_EQ(8u, lf.problems[0].line);
    EXPECT_EQ("stop=PROCESS_NAME,BY_VALUE,x", lf.problems[0].text);
    EXPECT_EQ(engine::FormatCheckResult(lf), engine::FormatCheckResult(dos));

    // 359 characters are allowed, 360 are not, whatever the line holds.
    std::string limit = "; " + std::string(357, '-');
    EXPECT_EQ(0u, Check(AllSections(limit + "\n")).code);
    ConfigCheckResult over = Check(AllSections(limit + "-\n"));
    ASSERT_EQ(1u, over.problems.size());
    EXPECT_EQ(7u, over.problems[0].line);

    // The stream ends at a Ctrl-Z: a section after it is missing.
    ConfigCheckResult eof = Check(
        "[msi upgradecode 1]\n[service 1]\n[process 1]\n[registry value 1]\n"
        "[registry key 1]\n\x1a\n[file 1]\n");
    ASSERT_EQ(2u, eof.problems.size());
    EXPECT_EQ("[file 1]", eof.problems[0].section);
    EXPECT_EQ(6u, eof.problems[1].line);

    // A file saved as Unicode: every line ends, for the reader, at its first zero byte.
    std::string wide;
    for (char c : AllSections()) wide += std::string(1, c) + '\0';
    std::string report = engine::FormatCheckResult(Check(wide));
    EXPECT_NE(std::string::npos, report.find("line 1: warning: the line holds a zero byte")) << report;
    EXPECT_NE(std::string::npos, report.find("[file 1]: section missing")) << report;
}

TEST_F(ConfigCheckTest, AMissingFileIsReportedWithTheReadersCode) {
    ConfigCheckResult result = engine::CheckConfiguration(nuke);
    EXPECT_EQ(2u, result.code);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ("C:\\Tools\\sweeptool.cfg: cannot be read (error 2)\n", engine::FormatCheckResult(result));
}

// Every key with its values, and every file, of the simulated machine.
void Snapshot(SimMachine& m, const std::string& key, std::vector<std::string>& out) {
    for (const std::string& v : m.registry.ValuesUnder(key)) out.push_back(key + "=" + v);
    for (const std::string& k : m.registry.KeysUnder(key)) {
        out.push_back(key + "\\" + k);
        Snapshot(m, key + "\\" + k, out);
    }
}
void SnapshotFiles(SimMachine& m, const std::string& dir, std::vector<std::string>& out) {
    for (const std::string& name : m.files.List(dir)) {
        out.push_back(dir + "\\" + name + ":" + std::to_string(m.files.Attributes(dir + "\\" + name)));
        SnapshotFiles(m, dir + "\\" + name, out);
    }
}

TEST_F(ConfigCheckTest, ChangesNothingOnTheMachine) {
    m.registry.SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Agent", "Path", "C:\\Kelvaris");
    m.registry.SetString("HKEY_CURRENT_USER\\Software\\Kelvaris", "x", "y");
    ASSERT_TRUE(m.files.CreateFile("C:\\Kelvaris\\kv.exe", "x"));
    ASSERT_TRUE(m.files.CreateDirectories("C:\\Users\\Tester\\AppData\\Roaming\\Kelvaris"));
    const std::string config = AllSections(
        "remove=FILE_NAME,BY_VALUE,C:\\Kelvaris\nremove=FILE_NAME_EXPAND,BY_VALUE,%APPDATA%\\Kelvaris\n"
        "remove=REG_VALUE,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\Agent\\Path\n"
        "remove=FILE_NAME,BY_VALUE,C:\\Windows\n");
    ASSERT_TRUE(m.files.CreateFile(kConfig, config));

    std::vector<std::string> before, after;
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS", "HKEY_CLASSES_ROOT"})
        Snapshot(m, root, before);
    SnapshotFiles(m, "C:", before);
    ASSERT_GT(before.size(), 8u);

    EXPECT_EQ(0u, engine::CheckConfiguration(nuke).code);  // a protected location only warns

    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS", "HKEY_CLASSES_ROOT"})
        Snapshot(m, root, after);
    SnapshotFiles(m, "C:", after);
    EXPECT_EQ(before, after);
    EXPECT_TRUE(m.files.PendingDeletes().empty());
    EXPECT_EQ(0, m.registry.OpenHandles());
    EXPECT_EQ(0, m.files.OpenHandles());
}

}  // namespace

// A file that is valid UTF-8 is UTF-8 whatever the code page; any other is the legacy code page's,
// byte for byte where that is the process's own; a line the process cannot spell is marked.
TEST(ConfigTextTest, EachFileIsReadInTheEncodingItWasWrittenIn) {
    const struct {
        uint32_t codePage;
        std::string bytes, encoding, text;
        uint32_t unspellableLine;
    } rows[] = {
        {1252, "remove=x\r\n", "ASCII", "remove=x\r\n", 0},
        {1252, "caf\xE9\r\n", "ANSI code page 1252", "caf\xE9\r\n", 0},
        {1252, "caf\xC3\xA9", "UTF-8", "caf\xE9", 0},
        {1252,
         "\xEF\xBB\xBF"
         "caf\xC3\xA9",
         "UTF-8 with a byte order mark", "caf\xE9", 0},
        {1252, "a\r\n\xCE\xA9mega \xE6\x8A\xA5\r\n", "UTF-8", "a\r\nOmega ?\r\n", 2},
        {65001, "caf\xE9\x80", "ANSI code page 1252", "caf\xC3\xA9\xE2\x82\xAC", 0},
        {65001, "\xEF\xBB\xBF\xCE\xA9mega", "UTF-8 with a byte order mark", "\xCE\xA9mega", 0},
    };
    for (const auto& row : rows) {
        platform::sim::ScopedAnsiCodePage cp(row.codePage);
        engine::ConfigText decoded;
        ASSERT_EQ(0u, engine::DecodeConfigText(row.bytes, decoded)) << row.bytes;
        EXPECT_EQ(row.encoding, engine::DescribeEncoding(decoded)) << row.bytes;
        EXPECT_EQ(row.text, decoded.text) << row.bytes;
        EXPECT_EQ(row.unspellableLine == 0 ? 0u : 1u, decoded.unspellable.size()) << row.bytes;
        if (row.unspellableLine != 0) {
            EXPECT_EQ(1u, decoded.unspellable.count(row.unspellableLine));
        }
    }
}
