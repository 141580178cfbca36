#include "expand/path_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/cnuke.h"
#include "engine/log_capture.h"
#include "platform/sim/sim_ansi.h"
#include "platform/sim/sim_machine.h"

namespace {

using expand::JoinPath;
using expand::MatchWildcard;
using expand::NormalizePath;
using expand::ParseRegistryPath;
using expand::SplitQuotedFields;

std::string Normalized(std::string text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    NormalizePath(buffer.data());
    return buffer.data();
}

TEST(NormalizePath, Table) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"\"c:/Program Files//Kelvaris/\"", "C:\\PROGRAM FILES\\KELVARIS"},
        // Only one trailing separator goes before runs collapse.
        {"C:\\A\\\\", "C:\\A\\"},
        {"C:\\A\\/", "C:\\A\\"},
        {"\\\\server//share\\\\x", "\\SERVER\\SHARE\\X"},
        {"\"\"quoted\"\"", "QUOTED"},
        {"a\"b", "A\"B"},  // inner quotes stay
        {"", ""},
        {"\"\"\"", ""},
        {"/", ""},
        {"\"\\\"", ""},
        {"caf\xE9\\\xFF", "CAF\xC9\\\x9F"},  // Windows-1252 letters change case too
        {"{7a1b2c3d-aaaa-bbbb-cccc-0123456789ab}", "{7A1B2C3D-AAAA-BBBB-CCCC-0123456789AB}"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.out, Normalized(c.in)) << "input: " << c.in;

    // In UTF-8 every script's letters change case, each in place: a letter whose upper case is
    // longer or shorter (dotless i, long s, the ff ligature) stays, as do ill-formed bytes.
    platform::sim::ScopedAnsiCodePage utf8(platform::kCodePageUtf8);
    const Case utf8Cases[] = {
        {"c:\\\xCF\x89mega\\\xD0\xB4\xD0\xBC/\xE6\x8A\xA5\xC3\xAF",
         "C:\\\xCE\xA9MEGA\\\xD0\x94\xD0\x9C\\\xE6\x8A\xA5\xC3\x8F"},
        {"\xC4\xB1\xC5\xBF\xEF\xAC\x80x", "\xC4\xB1\xC5\xBF\xEF\xAC\x80X"},
        {"a\xFF\xCE", "A\xFF\xCE"},
    };
    for (const Case& c : utf8Cases) EXPECT_EQ(c.out, Normalized(c.in)) << "input: " << c.in;
}

TEST(JoinPath, Table) {
    struct Case {
        const char* parts[4];
        const char* out;
    } cases[] = {
        {{"C:\\A", "B"}, "C:\\A\\B"},
        {{"C:\\A\\", "B"}, "C:\\A\\B"},
        {{"C:\\A", "\\B"}, "C:\\A\\B"},
        {{"C:\\A/", "B"}, "C:\\A/B"},
        {{nullptr, "", "A", "B"}, "A\\B"},  // missing and empty parts are skipped
        {{}, ""},
    };
    for (const Case& c : cases) {
        char out[expand::kMaxPathBuffer];
        std::memset(out, 'x', sizeof(out));
        EXPECT_TRUE(JoinPath(out, sizeof(out), {c.parts[0], c.parts[1], c.parts[2], c.parts[3]})) << c.out;
        EXPECT_STREQ(c.out, out);
    }
}

TEST(JoinPath, RefusesWhatWouldNotFitAndLeavesNothingBehind) {
    char out[9];
    EXPECT_TRUE(JoinPath(out, sizeof(out), {"ABCD", "EFG"}));  // 8 characters and the terminator
    EXPECT_STREQ("ABCD\\EFG", out);
    EXPECT_FALSE(JoinPath(out, sizeof(out), {"ABCD", "EFGH"}));
    EXPECT_STREQ("", out);
    EXPECT_FALSE(JoinPath(out, sizeof(out), {"ABCDEFGHI"}));
    EXPECT_STREQ("", out);

    // A 260-character path does not fit MAX_PATH; one character less does.
    std::string dir(250, 'D');
    char path[expand::kMaxPathBuffer];
    EXPECT_TRUE(JoinPath(path, sizeof(path), {dir.c_str(), "12345678"}));
    EXPECT_EQ(259u, std::strlen(path));
    EXPECT_FALSE(JoinPath(path, sizeof(path), {dir.c_str(), "123456789"}));
    EXPECT_FALSE(JoinPath(nullptr, 10, {"A"}));

    // The buffer may be one of its own parts.
    char key[expand::kRegTextBuffer] = "SOFTWARE\\X";
    EXPECT_TRUE(JoinPath(key, sizeof(key), {"HKEY_LOCAL_MACHINE", key, "Y"}));
    EXPECT_STREQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Y", key);
}

struct ParseCase {
    const char* in;
    platform::RegKey root;
    const char* rootName;
    const char* keyPath;
    const char* last;
};

std::string Show(const char* s) { return s == nullptr ? "(null)" : std::string("'") + s + "'"; }

TEST(ParseRegistryPath, Table) {
    const ParseCase cases[] = {
        {"hkey_local_machine\\software\\x\\y", platform::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE",
         "SOFTWARE\\X", "Y"},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE", platform::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "SOFTWARE",
         nullptr},
        {"SOFTWARE\\X", 0, nullptr, "SOFTWARE", "X"},
        {"hkey_users\\.default\\x", platform::kHkeyUsers, "HKEY_USERS", ".DEFAULT", "X"},
        {"HKEY_CLASSES_ROOT\\CLSID\\{1}", platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT", "CLSID", "{1}"},
        {"HKEY_CURRENT_CONFIG\\A\\B", platform::kHkeyCurrentConfig, "HKEY_CURRENT_CONFIG", "A", "B"},
        {"HKEY_CURRENT_USER\\A\\B", platform::kHkeyCurrentUser, "HKEY_CURRENT_USER", "A", "B"},
        {"HKEY_DYN_DATA\\A\\B", platform::kHkeyDynData, "HKEY_DYN_DATA", "A", "B"},
        {"HKEY_PERFORMANCE_DATA\\A\\B", platform::kHkeyPerformanceData, "HKEY_PERFORMANCE_DATA", "A", "B"},
        // Quotes and doubled separators go before the split.
        {"\"HKEY_LOCAL_MACHINE\\\\SOFTWARE//K\\V\"", platform::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE",
         "SOFTWARE\\K", "V"},
        // A root name alone has lost its backslash to the normalisation: no root.
        {"HKEY_LOCAL_MACHINE\\", 0, nullptr, "HKEY_LOCAL_MACHINE", nullptr},
        {"HKEY_LOCAL_MACHINEX\\A", 0, nullptr, "HKEY_LOCAL_MACHINEX", "A"},
        // A value text ending in a backslash names the default value: no last component.
        {"HKEY_CURRENT_USER\\A\\B\\\\", platform::kHkeyCurrentUser, "HKEY_CURRENT_USER", "A\\B", nullptr},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\A---B", platform::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE", "SOFTWARE",
         "A---B"},
        {"\"\"", 0, nullptr, nullptr, nullptr},
    };
    for (const ParseCase& c : cases) {
        std::vector<char> text(c.in, c.in + std::strlen(c.in) + 1);
        platform::RegKey root = 0xdeadbeef;
        auto* sentinel = reinterpret_cast<char*>(0xdeadbeef);
        char* rootName = sentinel;
        char* keyPath = sentinel;
        char* last = sentinel;
        ASSERT_EQ(0u, ParseRegistryPath(text.data(), root, rootName, keyPath, last)) << c.in;
        EXPECT_EQ(c.root, root) << c.in;
        EXPECT_EQ(Show(c.rootName), Show(rootName)) << c.in;
        EXPECT_EQ(Show(c.keyPath), Show(keyPath)) << c.in;
        EXPECT_EQ(Show(c.last), Show(last)) << c.in;
    }
}

TEST(ParseRegistryPath, EmptyTextIsInvalidDataAndWritesNothing) {
    char empty[] = "";
    platform::RegKey root = 0xdeadbeef;
    auto* sentinel = reinterpret_cast<char*>(0xdeadbeef);
    char* rootName = sentinel;
    char* keyPath = sentinel;
    char* last = sentinel;
    EXPECT_EQ(13u, ParseRegistryPath(empty, root, rootName, keyPath, last));
    EXPECT_EQ(13u, ParseRegistryPath(nullptr, root, rootName, keyPath, last));
    EXPECT_EQ(0xdeadbeefu, root);
    EXPECT_EQ(sentinel, rootName);
    EXPECT_EQ(sentinel, keyPath);
    EXPECT_EQ(sentinel, last);
}

TEST(SplitQuotedFields, Table) {
    struct Case {
        const char* in;
        std::vector<const char*> fields;  // of three outputs; null: left as it was
    } cases[] = {
        {"\"C:\\DIR\",\"A.EXE\",\"B.DLL\"", {"C:\\DIR", "A.EXE", "B.DLL"}},
        {"C:\\DIR\",\"A.EXE\",\"B.DLL", {"C:\\DIR", "A.EXE", "B.DLL"}},  // outer quotes optional
        {"\"C:\\DIR,A.EXE\"", {"C:\\DIR,A.EXE", nullptr, nullptr}},      // a plain comma does not split
        {"\"A\",\"B\",\"C\",\"D\"", {"A", "B", "C"}},                    // extra fields are not read
        {"\"A\",\"\",\"C\"", {"A", "", "C"}},
        {"", {"", nullptr, nullptr}},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.in, c.in + std::strlen(c.in) + 1);
        char* f[3] = {nullptr, nullptr, nullptr};
        SplitQuotedFields(text.data(), {&f[0], &f[1], &f[2]});
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Show(c.fields[i]), Show(f[i])) << c.in << " field " << i;
    }
}

TEST(MatchWildcard, Table) {
    struct Case {
        const char* text;
        const char* pattern;
        bool match;
    } cases[] = {
        {"A.EXE", "*.EXE", true},
        {"A.EXE.BAK", "*.EXE", false},
        {"KVSSHAA", "KV*", true},
        {"kvsshaa", "KV*", true},
        {"KVSSHAA", "kv*", true},
        {"AB", "A*", true},
        {"A", "A*", false},    // the unreached star still counts in the length check
        {"AXA", "*A", false},  // no backtracking: the first A after the star is taken
        {"ABC", "A?C", true},
        {"AC", "A?C", true},
        {"", "*", true},
        {"ANYTHING", "*", true},
        {"", "", true},
        {"A", "", false},
        {"", "A", false},
        {"README", "*.*", false},
        {"AXBYC", "A*B*C", true},
        {"AB", "*B", true},
        {"ABX", "*B", false},
        {"C:\\PROGRAM FILES\\KELVARIS\\BIN", "*KELVARIS*", true},
        {"C:\\PROGRAM FILES\\OTHER", "*KELVARIS*", false},
        {"ABD", "A?C", false},
        {"\xE9T\xC9", "\xC9*", true},  // Windows-1252 letters compare without case
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.match, MatchWildcard(c.text, c.pattern))
            << "'" << c.text << "' against '" << c.pattern << "'";
    // In UTF-8 "?" is one character of any length, and letters of every script fold.
    platform::sim::ScopedAnsiCodePage utf8(platform::kCodePageUtf8);
    const Case utf8Cases[] = {
        {"A\xCE\xA9"
         "C",
         "A?C", true},
        {"A\xE6\x8A\xA5"
         "C",
         "A?C", true},
        {"\xCE\xA9MEGA", "\xCF\x89m*", true},
        {"OMEGA", "\xCE\xA9MEGA", false},
    };
    for (const Case& c : utf8Cases)
        EXPECT_EQ(c.match, MatchWildcard(c.text, c.pattern))
            << "'" << c.text << "' against '" << c.pattern << "'";
    EXPECT_FALSE(MatchWildcard(nullptr, "*"));
    EXPECT_FALSE(MatchWildcard("A", nullptr));
}

TEST(ParseRegKeyPrefix, CanonicalNamesForTheFourRootsOnly) {
    platform::sim::SimMachine machine;
    enginetest::LogCapture log(machine);
    engine::CNuke nuke(machine.platform());
    const std::pair<platform::RegKey, const char*> named[] = {
        {platform::kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
        {platform::kHkeyCurrentUser, "HKEY_CURRENT_USER"},
        {platform::kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
        {platform::kHkeyUsers, "HKEY_USERS"},
    };
    for (const auto& [root, name] : named) {
        char buffer[64] = "unchanged";
        nuke.ParseRegKeyPrefix(root, buffer);
        EXPECT_STREQ(name, buffer);
        std::string s = "unchanged";
        nuke.ParseRegKeyPrefixCString(root, s);
        EXPECT_EQ(name, s);
    }
    for (platform::RegKey root : {platform::kHkeyCurrentConfig, platform::kHkeyPerformanceData,
                                  platform::kHkeyDynData, platform::RegKey{0}, platform::RegKey{0x1234}}) {
        char buffer[64] = "";
        nuke.ParseRegKeyPrefix(root, buffer);
        EXPECT_STREQ("", buffer);
        std::string s = "unchanged";
        nuke.ParseRegKeyPrefixCString(root, s);
        EXPECT_EQ("unchanged", s);
    }
    EXPECT_FALSE(log.Has("HKEY_CLASSES_ROOT"));
    EXPECT_TRUE(
        log.Has("CNuke::ParseRegKeyPrefix: Warning: ParseRegKeyPrefix received invalid hrootKey parameter"));
    EXPECT_TRUE(
        log.Has("CNuke::ParseRegKeyPrefixCString: Warning: ParseRegKeyPrefixCString received invalid "
                "hrootKey parameter"));
}

}  // namespace
