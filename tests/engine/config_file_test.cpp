#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "engine/log_capture.h"
#include "platform/sim/sim_machine.h"

namespace {

using engine::CNuke;
using engine::TSet;

std::vector<std::string> Items(TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) out.emplace_back(s);
    return out;
}

class ConfigFileTest : public ::testing::Test {
  protected:
    static constexpr const char* kConfig = "C:\\Tools\\sweeptool.cfg";

    ConfigFileTest() { machine.system.modulePath = "C:\\Tools\\sweeptool.exe"; }

    // Writes the configuration file and finds it, as list initialisation does.
    void WriteConfig(const std::string& text) {
        ASSERT_TRUE(machine.files.CreateFile(kConfig, text));
        ASSERT_EQ(0u, nuke.InitConfigFile());
    }

    uint32_t Read(const char* section, const char* key) { return nuke.ReadConfigSection(list, section, key); }

    platform::sim::SimMachine machine;
    CNuke nuke{machine.platform()};
    TSet list;
};

TEST_F(ConfigFileTest, InitConfigFileReplacesTheExtensionOfTheModulePath) {
    struct Case {
        const char* module;
        const char* config;
    } cases[] = {
        {"C:\\Tools\\remover.exe", "C:\\Tools\\remover.cfg"},
        {"C:\\Tools\\remover", "C:\\Tools\\remover.cfg"},
        {"C:\\Tools.d\\remover", "C:\\Tools.d\\remover.cfg"},    // a dot in a folder is no extension
        {"C:\\Tools\\re.mover.exe", "C:\\Tools\\re.mover.cfg"},  // only the last dot counts
        {"C:\\My Tools\\remover.exe", "C:\\My Tools\\remover.cfg"},
        {"C:\\Tools\\remover.e xe", "C:\\Tools\\remover.e xe.cfg"},  // an extension holds no blank
    };
    for (const Case& c : cases) {
        CNuke fresh(machine.platform());
        machine.system.modulePath = c.module;
        ASSERT_TRUE(machine.files.CreateFile(c.config, "x"));
        EXPECT_EQ(0u, fresh.InitConfigFile()) << c.module;
        EXPECT_EQ(c.config, fresh.configPath) << c.module;
    }
}

TEST_F(ConfigFileTest, InitConfigFileFailures) {
    // Missing file: 2, with the path kept for the log.
    EXPECT_EQ(2u, nuke.InitConfigFile());
    EXPECT_EQ(kConfig, nuke.configPath);

    CNuke failing(machine.platform());
    machine.faults.Fail("GetModuleFileNameA", 122);
    EXPECT_EQ(122u, failing.InitConfigFile());
    EXPECT_EQ("", failing.configPath);

    // Appending ".cfg" must not make a path longer than the file calls take.
    CNuke longPath(machine.platform());
    machine.system.modulePath = "C:\\" + std::string(254, 'd');
    EXPECT_EQ(206u, longPath.InitConfigFile());
    EXPECT_EQ("", longPath.configPath);
    machine.system.modulePath = "C:\\" + std::string(252, 'd');
    EXPECT_EQ(2u, longPath.InitConfigFile());
    EXPECT_EQ(259u, longPath.configPath.size());
}

TEST_F(ConfigFileTest, HeaderIsCaseInsensitiveAndMustStartTheLine) {
    WriteConfig("[SERVICE 1] trailing text is allowed\nremove=GUID,BY_VALUE,{a}\n");
    EXPECT_EQ(0u, Read("service", "remove"));
    EXPECT_EQ((std::vector<std::string>{"{A}"}), Items(list));

    TSet other;
    WriteConfig(" [service 1]\nremove=GUID,BY_VALUE,{a}\n");
    EXPECT_EQ(1610u, nuke.ReadConfigSection(other, "service", "remove"));
    EXPECT_TRUE(other.IsEmpty());
    EXPECT_EQ("<error not initialized>", nuke.errorText);

    WriteConfig("[service 2]\nremove=GUID,BY_VALUE,{a}\n[service]\nremove=GUID,BY_VALUE,{b}\n");
    EXPECT_EQ(1610u, nuke.ReadConfigSection(other, "service", "remove"));
}

TEST_F(ConfigFileTest, OnlyLinesStartingWithTheKeyAreEntries) {
    WriteConfig(
        "[service 1]\n"
        "REMOVE=GUID,BY_VALUE,{upper}\n"
        " remove=GUID,BY_VALUE,{blank}\n"
        "removeX=GUID,BY_VALUE,{other key}\n"
        "ignore=GUID,BY_VALUE,{ignored}\n"
        "; remove=GUID,BY_VALUE,{comment}\n"
        "\n"
        "remove=guid,by_value,{lower}\n");
    EXPECT_EQ(0u, Read("service", "remove"));
    EXPECT_EQ((std::vector<std::string>{"{LOWER}", "{UPPER}"}), Items(list));
}

TEST_F(ConfigFileTest, DataIsTheRestOfTheLineCommasIncluded) {
    WriteConfig(
        "[file 1]\r\n"
        "remove=GUID,BY_VALUE,\"c:/a,b//c,d/\"\r\n"
        "remove=FILE_NAME,BY_VALUE,C:\\NO SUCH DIR\\X,Y.TXT\r\n");
    EXPECT_EQ(0u, Read("file", "remove"));
    // Normalised, and without the CR of the CR LF line end.
    EXPECT_EQ((std::vector<std::string>{"C:\\A,B\\C,D", "C:\\NO SUCH DIR\\X,Y.TXT"}), Items(list));
}

TEST_F(ConfigFileTest, SectionEndsAtTheNextBracketAndOnlyTheFirstCounts) {
    WriteConfig(
        "[service 1]\n"
        "remove=GUID,BY_VALUE,{one}\n"
        "[process 1]\n"
        "remove=GUID,BY_VALUE,{two}\n"
        "[service 1]\n"
        "remove=GUID,BY_VALUE,{three}\n");
    EXPECT_EQ(0u, Read("service", "remove"));
    EXPECT_EQ((std::vector<std::string>{"{ONE}"}), Items(list));

    // Every read starts from the top of the file again.
    TSet process;
    EXPECT_EQ(0u, nuke.ReadConfigSection(process, "process", "remove"));
    EXPECT_EQ((std::vector<std::string>{"{TWO}"}), Items(process));
}

TEST_F(ConfigFileTest, SectionWithoutEntriesAndMissingSection) {
    WriteConfig("[service 1]\nignore=GUID,BY_VALUE,{a}\n[file 1]");
    EXPECT_EQ(0u, Read("service", "remove"));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(0u, Read("file", "remove"));  // a header on the last line, without a line end
    EXPECT_EQ(1610u, Read("process", "stop"));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ("<error not initialized>", nuke.errorText);

    WriteConfig("");
    EXPECT_EQ(1610u, Read("service", "remove"));
}

TEST_F(ConfigFileTest, RefusedPairsStopTheSectionAndQuoteTheLine) {
    const char* refused[] = {
        "REG_KEY,BY_REFERENCE,HKEY_LOCAL_MACHINE\\SOFTWARE\\X",
        "REG_VALUE_EXPAND,BY_VALUE,X",
        "REG_VALUE_EXPAND,BY_REFERENCE,X",
        "REG_VALUE_EXPAND,BY_DATA_MATCH,X",
        "REG_KEY_EXPAND,BY_VALUE,X",
        "REG_KEY_EXPAND,BY_REFERENCE,X",
        "REG_KEY_EXPAND,BY_DATA_MATCH,X",
        "FILE_NAME,BY_REFERENCE,X",
        "FILE_NAME_EXPAND,BY_REFERENCE,X",
        "SERVICE_NAME,BY_REFERENCE,X",
        "SERVICE_NAME,BY_DATA_MATCH,X",
        "PROCESS_NAME,BY_REFERENCE,X",
        "PROCESS_NAME,BY_DATA_MATCH,X",
        "GUID,BY_REFERENCE,X",
        "GUID,BY_DATA_MATCH,X",
        // Names must be followed directly by a comma.
        "GUIDX,BY_VALUE,X",
        "GUID ,BY_VALUE,X",
        "GUID, BY_VALUE,X",
        "GUID,BY_VALUE",
        "UNKNOWN,BY_VALUE,X",
        "",
    };
    for (const char* entry : refused) {
        CNuke fresh(machine.platform());
        TSet target;
        std::string bad = std::string("remove=") + entry;
        ASSERT_TRUE(machine.files.CreateFile(kConfig, "[service 1]\r\nremove=GUID,BY_VALUE,{before}\r\n" +
                                                          bad + "\r\nremove=GUID,BY_VALUE,{after}\r\n"));
        ASSERT_EQ(0u, fresh.InitConfigFile());
        EXPECT_EQ(1610u, fresh.ReadConfigSection(target, "service", "remove")) << entry;
        EXPECT_EQ((std::vector<std::string>{"{BEFORE}"}), Items(target)) << entry;
        EXPECT_EQ(bad, fresh.errorText) << entry;  // the whole line, key included, no line end
    }
}

TEST_F(ConfigFileTest, AddConfigEntryRefusesIndicesOutsideTheTables) {
    EXPECT_EQ(1610u, nuke.AddConfigEntry(list, 9, engine::kKindByValue, "X"));
    EXPECT_EQ(1610u, nuke.AddConfigEntry(list, engine::kTypeGuid, 3, "X"));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(0u, nuke.AddConfigEntry(list, engine::kTypeGuid, engine::kKindByValue, "\"{abc}\""));
    EXPECT_EQ((std::vector<std::string>{"{ABC}"}), Items(list));
}

TEST_F(ConfigFileTest, HandlerFailureStopsTheSection) {
    // A file macro entry without a macro is malformed; the handler says so.
    WriteConfig(
        "[file 1]\n"
        "remove=SERVICE_NAME,BY_VALUE,first\n"
        "remove=FILE_NAME_EXPAND,BY_VALUE,C:\\NO MACRO\n"
        "remove=SERVICE_NAME,BY_VALUE,second\n");
    EXPECT_EQ(1610u, Read("file", "remove"));
    EXPECT_EQ((std::vector<std::string>{"FIRST"}), Items(list));
    EXPECT_EQ("remove=FILE_NAME_EXPAND,BY_VALUE,C:\\NO MACRO", nuke.errorText);

    // A failing system call is passed up as its own code.
    TSet processes;
    WriteConfig("[process 1]\nstop=PROCESS_NAME,BY_VALUE,X.EXE\n");
    machine.faults.Fail("CreateToolhelp32Snapshot", 5);
    EXPECT_EQ(5u, nuke.ReadConfigSection(processes, "process", "stop"));
    EXPECT_EQ("stop=PROCESS_NAME,BY_VALUE,X.EXE", nuke.errorText);

    // UTF-8 naming what Windows-1252 cannot spell: never read as its best-fit alias "C:\OMEGA";
    // in a comment it does no harm.
    TSet files;
    WriteConfig("[file 1]\n; \xE6\x8A\xA5\nremove=FILE_NAME,BY_VALUE,C:\\\xCE\xA9mega\n");
    enginetest::LogCapture log(machine);
    EXPECT_EQ(1610u, nuke.ReadConfigSection(files, "file", "remove"));
    EXPECT_TRUE(files.IsEmpty());
    EXPECT_TRUE(log.Has("E: CNuke::ReadConfigSection: line 3 of the configuration names what the ANSI code page "
                        "1252 cannot spell: 'remove=FILE_NAME,BY_VALUE,C:\\Omega'"))
        << log.Text();
}

TEST_F(ConfigFileTest, OverlongLineIsRefusedNotSplit) {
    std::string ok = "remove=GUID,BY_VALUE,{" + std::string(359 - 23, 'a') + "}";
    ASSERT_EQ(359u, ok.size());
    std::string tooLong = "remove=GUID,BY_VALUE,{" + std::string(360 - 23, 'b') + "}";
    ASSERT_EQ(360u, tooLong.size());

    WriteConfig("[service 1]\r\n" + ok + "\r\n" + tooLong + "\r\nremove=GUID,BY_VALUE,{after}\r\n");
    {
        enginetest::LogCapture log(machine);
        EXPECT_EQ(1610u, Read("service", "remove"));
        EXPECT_TRUE(
            log.Has("CNuke::ReadConfigSection: line longer than 359 characters in section '[service 1]': '" +
                    tooLong.substr(0, 359) + "'"))
            << log.Text();
    }
    ASSERT_EQ(1u, list.Count());  // the 359-character line counts, nothing of the long one
    EXPECT_EQ(tooLong.substr(0, 359), nuke.errorText);

    // Even where no entry is wanted, a long line is not read as two lines.
    TSet other;
    WriteConfig(std::string(1000, ';') + "\n[service 1]\nremove=GUID,BY_VALUE,{a}\n");
    EXPECT_EQ(1610u, nuke.ReadConfigSection(other, "service", "remove"));
    EXPECT_TRUE(other.IsEmpty());
    EXPECT_EQ(std::string(359, ';'), nuke.errorText);
}

TEST_F(ConfigFileTest, TextModeLineEnds) {
    // LF, CR LF and a Ctrl-Z, which ends a text-mode stream.
    WriteConfig(
        "[service 1]\nremove=GUID,BY_VALUE,{lf}\r\nremove=GUID,BY_VALUE,{crlf}\r\n\x1a"
        "remove=GUID,BY_VALUE,{after eof}\n");
    EXPECT_EQ(0u, Read("service", "remove"));
    EXPECT_EQ((std::vector<std::string>{"{CRLF}", "{LF}"}), Items(list));

    // The failing line is quoted on one line, whatever stray CRs it ended with.
    WriteConfig("[service 1]\nremove=BAD,BY_VALUE,x\r\r\n");
    EXPECT_EQ(1610u, Read("service", "remove"));
    EXPECT_EQ("remove=BAD,BY_VALUE,x", nuke.errorText);
}

TEST_F(ConfigFileTest, UnreadableFileGivesTheOpenError) {
    WriteConfig("[service 1]\nremove=GUID,BY_VALUE,{a}\n");
    machine.faults.Fail("CreateFileA", 32);
    EXPECT_EQ(32u, Read("service", "remove"));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ("<error not initialized>", nuke.errorText);
}

}  // namespace
