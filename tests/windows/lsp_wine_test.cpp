// The network-stack reset on the real machine: Wine's catalogues hold base protocols only,
// so the reset must leave them as they are; on WOW64 it looks for the real 64-bit remover in
// this executable's folder, which under Wine is a user's, and logs that it did not start it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "actions/protocol_catalog.h"
#include "engine/cnuke.h"
#include "logging/log.h"
#include "platform/win32/win32_machine.h"
#include "windows/log_records.h"

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

std::vector<std::string> Records(const std::wstring& path) { return wintest::LogRecords(path, "CNuke"); }

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

TEST_F(LspWine, TheResetLeavesABaseOnlyCatalogueAsItWasAndStartsNoRemoverAUserCouldReplace) {
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
        // Wine keeps no owners: every file is its user's, so the remover beside this executable
        // is one a standard user could have replaced, and it is not started.
        const std::wstring wide = HereW(L"instkvps_x64.exe");
        const std::string remover(wide.begin(), wide.end());  // the build folder's path is ASCII
        expected = {
            " I CNuke::ResetLspStack: Running in 64bit environment, removing LSP from 64bit stack.",
            " D CNuke::RemoveKVLsp64: Calling UnInstall function from the installation utility.",
            "*E CNuke::RemoveKVLsp64: '" + remover +
                "' not started: a standard user can change it or a folder above it",
            ".W CNuke::RemoveKVLsp64: Calling instkvps_x64 failed!",
        };
    }
    expected.push_back(" D CNuke::ResetLspStack: ResetLspStack was successful");
    EXPECT_EQ(Records(log_), expected);
}

}  // namespace
