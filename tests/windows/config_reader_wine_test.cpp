// The configuration reader and the string set on the real machine: the file found beside
// this executable and read through the real file calls, and the order and case folding of
// the C runtime's comparison in the active ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "contract/backend.h"
#include "engine/cnuke.h"
#include "engine/tset.h"
#include "expand/path_helpers.h"

namespace {

std::vector<std::string> Items(engine::TSet& set) {
    std::vector<std::string> out;
    const char* s = nullptr;
    for (uint32_t r = set.First(&s); r == 0; r = set.Next(&s)) out.emplace_back(s);
    return out;
}

std::string ConfigBesideExe() {
    char path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.rfind('.')) + ".cfg";
}

TEST(ConfigReaderWine, ReadsTheFileBesideTheExecutable) {
    const std::string cfg = ConfigBesideExe();
    {
        std::ofstream out(cfg, std::ios::binary);
        out << "[SERVICE 1]\r\nremove=GUID,BY_VALUE,\"{ab},c//d/\"\r\n; "
               "comment\r\nREMOVE=guid,by_value,{ef}\r\n"
            << "remove=GUID,BY_VALUE,{" << std::string(400, 'x') << "}\r\n[file 1]\r\n";
    }
    engine::CNuke nuke(contract::GetBackend().os());
    ASSERT_EQ(0u, nuke.InitConfigFile());
    EXPECT_EQ(cfg, nuke.configPath);
    engine::TSet list;
    EXPECT_EQ(1610u, nuke.ReadConfigSection(list, "service", "remove"));
    EXPECT_EQ((std::vector<std::string>{"{AB},C\\D", "{EF}"}), Items(list));
    EXPECT_EQ(359u, nuke.errorText.size());
    // The overlong line lies before the file section too: every read that meets it fails.
    engine::TSet empty;
    EXPECT_EQ(1610u, nuke.ReadConfigSection(empty, "file", "remove"));
    EXPECT_TRUE(empty.IsEmpty());
    ::DeleteFileA(cfg.c_str());
    EXPECT_EQ(2u, nuke.InitConfigFile());
}

TEST(ConfigReaderWine, SetOrderFollowsTheRuntimeComparison) {
    engine::TSet set;
    for (const char* s : {"C:\\AAB", "c:\\a_b", "C:\\A\\B", "C:\\A", "c:\\aab"}) ASSERT_EQ(0u, set.Insert(s));
    EXPECT_EQ((std::vector<std::string>{"C:\\A", "C:\\A\\B", "c:\\a_b", "C:\\AAB"}), Items(set));

    char text[] = "\"c:/Program Files//Kelvaris/\"";
    expand::NormalizePath(text);
    EXPECT_STREQ("C:\\PROGRAM FILES\\KELVARIS", text);
    EXPECT_TRUE(expand::MatchWildcard("kvsshaa", "KV*"));
}

}  // namespace
