// Registry entries: values and keys by name, wildcard or data, the value whose content is
// the object, and the folders read from the registry, on the simulated machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/log_capture.h"
#include "expand/folder_macros.h"
#include "expand/handlers_test_util.h"

namespace {

using namespace platform;
using engine::CNuke;
using handlers_test::HandlerTest;
using platform::sim::View;
using Strings = std::vector<std::string>;

constexpr char kKv[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris";

class RegistryHandlers : public ::testing::Test, public HandlerTest {
  protected:
    void SetUp() override {
        // The 32-bit view (WOW6432Node) and the 64-bit view hold different things.
        machine.registry.SetString(kKv, "InstallDir", "C:\\Program Files (x86)\\Kelvaris", View::K32);
        machine.registry.SetString(kKv, "kvUpdate", "C:\\KV\\update.exe", View::K32);
        machine.registry.SetString(kKv, "kvScan", "C:\\Other\\scan.exe", View::K32);
        machine.registry.SetDword(kKv, "kvCount", 3, View::K32);
        machine.registry.SetString(kKv, "kv64Only", "C:\\KV\\x.exe", View::K64);
        machine.registry.CreatePath(std::string(kKv) + "\\Agent32", View::K32);
        machine.registry.SetString(std::string(kKv) + "\\Agent", "Path", "C:\\KV\\agent.exe", View::K64);
        machine.registry.SetString(std::string(kKv) + "\\Antivirus", "Path", "C:\\Other\\av.exe", View::K64);
        machine.registry.SetDword(std::string(kKv) + "\\Antispam", "Path", 1, View::K64);
        machine.registry.CreatePath(std::string(kKv) + "\\Tools", View::K64);
    }
};

TEST_F(RegistryHandlers, ValueByReferenceListsTheStringItHolds) {
    EXPECT_EQ(Handle(&CNuke::ListRegValueData, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\INSTALLDIR"), 0u);
    EXPECT_EQ(Listed(), Strings{"C:\\Program Files (x86)\\Kelvaris"});  // as stored, not upper-cased

    struct Case {
        const char* data;
        uint32_t code;
    } cases[] = {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\MISSING", 0},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\INSTALLDIR", 0},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVCOUNT", kErrorInvalidData},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\K*\\INSTALLDIR", kErrorInvalidData},
        {"", kErrorInvalidData},
    };
    for (const Case& c : cases) {
        HandlerTest t;
        t.machine.registry.SetDword(kKv, "kvCount", 3, View::K32);
        EXPECT_EQ(t.Handle(&CNuke::ListRegValueData, c.data), c.code) << c.data;
        EXPECT_TRUE(t.Listed().empty()) << c.data;
    }
}

// What a value holds is an order to an administrator's run: it is followed only from a key no
// standard user can write, and a user's own hive names only that user's files and keys.
TEST_F(RegistryHandlers, ValueByReferenceIsFollowedOnlyWhereNoOtherUserCouldHaveWrittenIt) {
    enginetest::LogCapture log(machine);
    machine.system.environment[u"USERPROFILE"] = u"C:\\Users\\Tester";
    machine.registry.SetString(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-9",
        "ProfileImagePath", "C:\\Users\\Alice", View::K64);
    machine.registry.SecurityOf(kKv)->sddl += "(A;;0x2;;;S-1-5-32-545)";
    const char* const hkcu = "HKEY_CURRENT_USER\\Software\\Kv";
    const char* const hku = "HKEY_USERS\\S-1-5-21-9\\Software\\Kv";
    struct Case {
        const char *key, *data;
        engine::TSet CNuke::*list;
        bool listed;
    } cases[] = {
        {kKv, "C:\\Windows\\System32\\drivers", &CNuke::fileList, false},
        {hkcu, "C:\\Users\\Tester\\AppData\\Kv", &CNuke::fileList, true},
        {hkcu, "C:\\Windows", &CNuke::fileList, false},
        {hkcu, "C:\\Users\\Tester\\..\\Alice", &CNuke::fileList, false},
        {hkcu, "HKEY_CURRENT_USER\\Software\\Kv\\Old", &CNuke::removeRegKeyList, true},
        {hkcu, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Victim", &CNuke::removeRegKeyList, false},
        {hkcu, "kvagent", &CNuke::serviceList, false},
        {hku, "C:\\Users\\Alice\\Kv", &CNuke::fileList, true},
        {hku, "C:\\Users\\Tester\\Kv", &CNuke::fileList, false},  // another user's profile
        {hku, "HKEY_USERS\\S-1-5-21-8\\Software\\Kv", &CNuke::removeRegKeyList, false},
    };
    for (const Case& c : cases) {
        machine.registry.SetString(c.key, "Target", c.data);
        engine::TSet& list = nuke.*c.list;
        for (const char* item = nullptr; list.First(&item) == 0;) list.RemoveCurrent(&item);
        handlers_test::Data d((std::string(c.key) + "\\Target").c_str());
        const size_t before = log.Text().size();
        EXPECT_EQ(nuke.ListRegValueData(list, d.get()), 0u) << c.data;
        EXPECT_EQ(handlers_test::Items(list).size(), c.listed ? 1u : 0u) << c.data;
        EXPECT_EQ(log.Text().find(".W: CNuke::ListRegValueData:", before) != std::string::npos, !c.listed)
            << c.data;
    }
}

TEST_F(RegistryHandlers, ValueByReferenceReportsAFailedRead) {
    // The link check and the size query succeed.
    machine.faults.Fail("RegQueryValueExA", kErrorAccessDenied, 1, 2);
    EXPECT_EQ(Handle(&CNuke::ListRegValueData, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\INSTALLDIR"),
              kErrorAccessDenied);
    EXPECT_TRUE(Listed().empty());
}

TEST_F(RegistryHandlers, ValueWildcardEnumeratesTheDefaultView) {
    EXPECT_EQ(Handle(&CNuke::ExpandRegValue, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KV*"), 0u);
    EXPECT_EQ(Listed(), (Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVCOUNT",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVSCAN",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVUPDATE"}));
    EXPECT_EQ(machine.registry.OpenHandles(), 0);
}

TEST_F(RegistryHandlers, KeyWildcardEnumeratesThe64BitView) {
    EXPECT_EQ(Handle(&CNuke::ExpandRegKey, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\A*"), 0u);
    EXPECT_EQ(Listed(), (Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\AGENT",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\ANTISPAM",
                                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\ANTIVIRUS"}));
}

TEST_F(RegistryHandlers, WildcardsOutsideTheLastComponentOrUnreachableKeys) {
    struct Case {
        uint32_t (CNuke::*handler)(engine::TSet&, char*);
        const char* data;
        uint32_t code;
        Strings expected;
    } cases[] = {
        {&CNuke::ExpandRegKey, "HKEY_LOCAL_MACHINE\\SOFTWARE\\K*\\X", kErrorInvalidData, {}},
        {&CNuke::ExpandRegValue, "HKEY_LOCAL_MACHINE\\SOFTWARE\\K?\\X", kErrorInvalidData, {}},
        // A key that cannot be opened: the pattern itself is listed.
        {&CNuke::ExpandRegValue,
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\KV*",
         0,
         {"HKEY_LOCAL_MACHINE\\SOFTWARE\\NOKEY\\KV*"}},
        // Without a wildcard the text is listed whether or not it exists.
        {&CNuke::ExpandRegKey,
         "HKEY_CURRENT_USER\\SOFTWARE\\NOKEY",
         0,
         {"HKEY_CURRENT_USER\\SOFTWARE\\NOKEY"}},
        {&CNuke::ExpandRegKey, "SOFTWARE\\K*", 0, {"SOFTWARE\\K*"}},
    };
    for (const Case& c : cases) {
        HandlerTest t;
        EXPECT_EQ(t.Handle(c.handler, c.data), c.code) << c.data;
        EXPECT_EQ(t.Listed(), c.expected) << c.data;
    }
}

TEST_F(RegistryHandlers, ValueDataMatchStopsAtTheFirstValueThatIsNotAString) {
    EXPECT_EQ(
        Handle(&CNuke::MatchRegValueData, "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVS*\",\"C:\\KV\\*\""),
        0u);
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(
        Handle(&CNuke::MatchRegValueData, "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVU*\",\"C:\\KV\\*\""),
        0u);
    EXPECT_EQ(Listed(), Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVUPDATE"});
    // KVCOUNT is a DWORD and comes first in the candidates.
    EXPECT_EQ(Handle(&CNuke::MatchRegValueData, "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KV*\",\"*\""),
              kErrorInvalidData);
    EXPECT_EQ(Handle(&CNuke::MatchRegValueData, "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KV*"),
              kErrorInvalidData);
    EXPECT_EQ(Handle(&CNuke::MatchRegValueData, "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\K*\\X\",\"*\""),
              kErrorInvalidData);
}

TEST_F(RegistryHandlers, KeyDataMatchReadsThe64BitViewAndSkipsValuesThatAreNotStrings) {
    EXPECT_EQ(Handle(&CNuke::MatchRegKeyValueData,
                     "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\*\",\"PATH\",\"C:\\KV\\*\""),
              0u);
    EXPECT_EQ(Listed(), Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\AGENT"});

    struct Case {
        const char* data;
        uint32_t code;
    } bad[] = {
        {"\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\*\",\"PATH\"", kErrorInvalidData},
        {"\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\*\",\"PA*\",\"C:\\KV\\*\"", kErrorInvalidData},
        {"\"HKEY_LOCAL_MACHINE\\SOFTWARE\\K*\\X\",\"PATH\",\"*\"", kErrorInvalidData},
    };
    for (const Case& c : bad) EXPECT_EQ(Handle(&CNuke::MatchRegKeyValueData, c.data), c.code) << c.data;
    EXPECT_EQ(machine.registry.OpenHandles(), 0);
}

TEST(RegistryHandlerBounds, NamesThatWouldOverflowTheRegistryTextAreNotListedButTheRestAre) {
    HandlerTest t;
    const std::string key = "HKEY_CURRENT_USER\\SOFTWARE\\Kelvaris";
    t.machine.registry.SetString(key, "KV" + std::string(240, 'L'), "x");
    t.machine.registry.SetString(key, "KVZ", "x");
    t.machine.registry.CreatePath(key + "\\KV" + std::string(240, 'K'), View::K64);
    t.machine.registry.CreatePath(key + "\\KVZ", View::K64);
    EXPECT_EQ(t.Handle(&CNuke::ExpandRegValue, "HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\KV*"), 0u);
    EXPECT_EQ(t.Handle(&CNuke::ExpandRegKey, "HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\KV*"), 0u);
    EXPECT_EQ(t.Listed(), Strings{"HKEY_CURRENT_USER\\SOFTWARE\\KELVARIS\\KVZ"});
}

TEST(ProgramFiles64, ReadsThe64BitViewAndRefusesWhatItCannotHold) {
    HandlerTest t;
    char buffer[260];
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(buffer, 0), kErrorInvalidParameter);
    const char* key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    t.machine.registry.SetString(key, "ProgramFilesDir", "C:\\Program Files (x86)", View::K32);
    t.machine.registry.SetString(key, "ProgramFilesDir", "C:\\Program Files", View::K64);
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(buffer, sizeof(buffer)), 0u);
    EXPECT_STREQ(buffer, "C:\\Program Files");

    char small[8];
    std::memset(small, 'x', sizeof(small));
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(small, sizeof(small)), kErrorFileNotFound);
    EXPECT_STREQ(small, "");

    // Stored without a terminator and exactly as long as the buffer: not a string that fits.
    const std::string exact = "C:\\PF\\X";  // 7 bytes
    t.machine.registry.Set(key, "ProgramFilesDir", kRegSz, std::vector<uint8_t>(exact.begin(), exact.end()),
                           View::K64);
    char seven[7];
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(seven, sizeof(seven)), kErrorFileNotFound);
    EXPECT_EQ(t.nuke.Get64ProgramFilesPath(small, sizeof(small)), 0u);
    EXPECT_STREQ(small, "C:\\PF\\X");
}

TEST(GooglePluginDir, ReadFromTheUsersKeyOrLeftEmpty) {
    HandlerTest t;
    std::string dir = "stale";
    expand::get_google_plugin_dir(t.machine.platform(), dir);
    EXPECT_EQ(dir, "");
    const char* key = "HKEY_CURRENT_USER\\SOFTWARE\\Google\\Google Desktop";
    t.machine.registry.CreatePath(key, View::K64);
    expand::get_google_plugin_dir(t.machine.platform(), dir);
    EXPECT_EQ(dir, "");
    t.machine.system.environment[u"USERPROFILE"] = u"C:\\Users\\Tester";
    t.machine.registry.SetString(key, "plugin_dir", "C:\\Users\\Tester\\Gadgets", View::K64);
    expand::get_google_plugin_dir(t.machine.platform(), dir);
    EXPECT_EQ(dir, "C:\\Users\\Tester\\Gadgets");
    // The user's own key names a folder of that user's only.
    for (const char* outside : {"C:\\Gadgets", "C:\\Users\\Tester\\..\\Other", "C:\\Users\\Tester2",
                                "C:\\Users\\Tester2\\Gadgets"}) {
        t.machine.registry.SetString(key, "plugin_dir", outside, View::K64);
        expand::get_google_plugin_dir(t.machine.platform(), dir);
        EXPECT_EQ(dir, "") << outside;
    }
    t.machine.registry.SetString(key, "plugin_dir", "C:\\" + std::string(300, 'G'), View::K64);
    expand::get_google_plugin_dir(t.machine.platform(), dir);
    EXPECT_EQ(dir, "");
}

}  // namespace

namespace {

// A value name with a backslash in a key data match names a value in a subkey of each
// candidate; an empty string is a string, which "*" matches, while a missing value is not.
TEST_F(RegistryHandlers, DataMatchReadsSubkeyValueNamesAndComparesEmptyStrings) {
    const std::string kv = kKv;
    machine.registry.SetString(kv + "\\Agent2\\Settings", "Path", "C:\\KV\\a.exe", View::K64);
    machine.registry.SetString(kv + "\\Agent3\\Settings", "Path", "C:\\Other\\a.exe", View::K64);
    EXPECT_EQ(Handle(&CNuke::MatchRegKeyValueData,
                     "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\AGENT*\",\"SETTINGS\\PATH\",\"C:\\KV\\*\""),
              0u);
    EXPECT_EQ(Listed(), Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\AGENT2"});

    HandlerTest t;
    t.machine.registry.SetString(kv + "\\Blank", "Path", "", View::K64);               // terminator only
    t.machine.registry.Set(kv + "\\Bare", "Path", kRegSz, {}, View::K64);              // no bytes at all
    t.machine.registry.CreatePath(kv + "\\BNone", View::K64);                          // no such value
    t.machine.registry.SetString(kv + "\\BFull", "Path", "C:\\KV\\x.exe", View::K64);  // not empty
    EXPECT_EQ(t.Handle(&CNuke::MatchRegKeyValueData,
                       "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\B*\",\"PATH\",\"*\""),
              0u);
    EXPECT_EQ(t.Listed(), (Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\BARE",
                                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\BFULL",
                                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\BLANK"}));

    HandlerTest v;
    v.machine.registry.SetString(kv, "kvBlank", "", View::K32);
    v.machine.registry.SetString(kv, "kvBusy", "C:\\KV\\b.exe", View::K32);
    EXPECT_EQ(v.Handle(&CNuke::MatchRegValueData, "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVB*\",\"*\""),
              0u);
    EXPECT_EQ(v.Listed(), (Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVBLANK",
                                   "HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVBUSY"}));
    // An empty string is not what a non-empty pattern asks for.
    HandlerTest w;
    w.machine.registry.SetString(kv, "kvBlank", "", View::K32);
    EXPECT_EQ(w.Handle(&CNuke::MatchRegValueData, "\"HKEY_LOCAL_MACHINE\\SOFTWARE\\KELVARIS\\KVB*\",\"C:*\""),
              0u);
    EXPECT_TRUE(w.Listed().empty());
}

// Keys of the protected table are refused where the remove list is filled, and only there:
// ignoring one is harmless.
TEST(RegistryHandlerProtection, ProtectedKeysStayOutOfTheRemoveListButNotTheIgnoreList) {
    HandlerTest t;
    t.machine.registry.CreatePath("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Kelvaris", View::K64);
    std::string data = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT";
    EXPECT_EQ(t.nuke.ExpandRegKey(t.nuke.removeRegKeyList, &data[0]), 0u);
    EXPECT_TRUE(t.nuke.removeRegKeyList.IsEmpty());
    data = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT";
    EXPECT_EQ(t.nuke.ExpandRegKey(t.nuke.ignoreRegKeyList, &data[0]), 0u);
    EXPECT_EQ(handlers_test::Items(t.nuke.ignoreRegKeyList),
              Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT"});
    data = "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\K*";
    EXPECT_EQ(t.nuke.ExpandRegKey(t.nuke.removeRegKeyList, &data[0]), 0u);
    EXPECT_EQ(handlers_test::Items(t.nuke.removeRegKeyList),
              Strings{"HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\KELVARIS"});
}

}  // namespace
