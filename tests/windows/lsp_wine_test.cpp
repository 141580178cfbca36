// The network-stack reset on the real machine: Wine's catalogues hold base protocols only,
// so the reset must leave them as they are; on WOW64 it starts the real 64-bit remover
// from this executable's folder and logs its exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "actions/protocol_catalog.h"
#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/win32/win32_machine.h"

namespace {

std::vector<uint32_t> CatalogueIds(platform::IWinsock& wsc) {
    actions::ProtocolCatalog catalog(wsc);
    EXPECT_TRUE(catalog.Enumerate()) << catalog.LastError();
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < catalog.GetCount(); ++i) ids.push_back(catalog.GetEntry(i)->catalogEntryId);
    return ids;
}

std::wstring HereW(const wchar_t* file) {
    wchar_t self[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n < MAX_PATH ? n : 0);
    return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

// The records of a log file, as "<mark> <message>" ("*E CNuke::...: ..."), CNuke's only.
std::vector<std::string> Records(const std::wstring& path) {
    std::vector<std::string> out;
    HANDLE h =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    ::CloseHandle(h);
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) text.push_back(bytes[i + 1] == 0 ? bytes[i] : '?');
    static const std::regex kLine(R"(^.*\] (\*F|\*E|\.W| I| D| V): (CNuke::.*)$)");
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        std::smatch match;
        const std::string line = text.substr(start, at - start);
        if (std::regex_match(line, match, kLine)) out.push_back(match[1].str() + " " + match[2].str());
    }
    return out;
}

class LspWine : public ::testing::Test {
  protected:
    void SetUp() override {
        log_ = L"C:\\ProgramData\\Kelvaris\\Logs\\lspwine\\sweeptool.log";
        ::DeleteFileW(log_.c_str());
    }
    void TearDown() override {
        KvQmrLogging::ResetForTests(nullptr);
        ::DeleteFileW(log_.c_str());
    }

    platform::win32::Win32Machine m_;
    engine::CNuke nuke_{m_.platform()};
    std::wstring log_;
};

TEST_F(LspWine, TheResetLeavesABaseOnlyCatalogueAsItWasAndRunsTheRemoverOnWow64) {
    const std::vector<uint32_t> before = CatalogueIds(m_.winsock);
    ASSERT_FALSE(before.empty());
    const bool wow64 = nuke_.IsWow64();
    const bool remover = ::GetFileAttributesW(HereW(L"instkvps_x64.exe").c_str()) != INVALID_FILE_ATTRIBUTES;
    if (wow64 && !remover) GTEST_SKIP() << "instkvps_x64.exe is not beside the test executable";

    KvQmrLogging::ResetForTests(&m_.platform());
    KvQmrLogging::LogInitA("lspwine", "sweeptool", 6, 0);
    EXPECT_EQ(nuke_.ResetLspStack(), 0u);
    KvQmrLogging::ResetForTests(nullptr);

    EXPECT_EQ(CatalogueIds(m_.winsock), before);
    std::vector<std::string> expected;
    if (wow64) {
        expected = {
            " I CNuke::ResetLspStack: Running in 64bit environment, removing LSP from 64bit stack.",
            " D CNuke::RemoveKVLsp64: Calling UnInstall function from the installation utility.",
            "*E CNuke::RemoveKVLsp64: instkvps_x64 process finished with code: 0",
        };
    }
    expected.push_back(" D CNuke::ResetLspStack: ResetLspStack was successful");
    EXPECT_EQ(Records(log_), expected);
}

}  // namespace
