// The logger on the real machine: where the log lands, what its bytes are, and several
// processes writing one log under the named mutex while it rotates.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "contract/backend.h"
#include "logging/log.h"
#include "platform/shell.h"

namespace {

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

bool ReadBytes(const std::wstring& path, std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(h);
    return true;
}

// The lines of a log file (ASCII text), or a failure naming what is wrong with its bytes.
::testing::AssertionResult SplitLog(const std::string& bytes, std::vector<std::string>& lines) {
    lines.clear();
    if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE')
        return ::testing::AssertionFailure() << "no FF FE at the start";
    if (bytes.size() % 2 != 0) return ::testing::AssertionFailure() << "odd byte count " << bytes.size();
    std::string text;
    for (size_t i = 2; i < bytes.size(); i += 2) {
        if (bytes[i + 1] != 0 || static_cast<unsigned char>(bytes[i]) >= 0x80)
            return ::testing::AssertionFailure() << "unexpected unit at byte " << i;
        text.push_back(bytes[i]);
    }
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        std::string line = text.substr(start, at - start);
        if (line.find_first_of("\r\n") != std::string::npos)
            return ::testing::AssertionFailure() << "bare line break in: " << line;
        lines.push_back(line);
    }
    if (start != text.size()) return ::testing::AssertionFailure() << "unterminated last line";
    return ::testing::AssertionSuccess();
}

const std::regex kRecordLine(
    R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[[0-9a-f]{4,8}\.[0-9a-f]{4,8}\] (\*F|\*E|\.W| I| D| V|  ): (.*)$)");

std::wstring LogsFolder() {
    std::string common;
    contract::GetBackend().os().shell.SHGetSpecialFolderPath(platform::kCsidlCommonAppData, common, false);
    return std::wstring(common.begin(), common.end()) + L"\\Kelvaris\\Logs";
}

void RemoveLogs(const std::wstring& directory, const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((directory + L"\\" + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do DeleteFileW((directory + L"\\" + found.cFileName).c_str());
    while (FindNextFileW(find, &found));
    FindClose(find);
}

class LoggingWine : public ::testing::Test {
  protected:
    void TearDown() override { KvQmrLogging::ResetForTests(nullptr); }
};

TEST_F(LoggingWine, LogLandsInTheCommonApplicationDataFolderAsUtf16) {
    std::wstring folder = LogsFolder() + L"\\tool";
    EXPECT_EQ(folder, L"C:\\ProgramData\\Kelvaris\\Logs\\tool");
    RemoveLogs(folder, L"sweeptool*.log");

    KvQmrLogging::ResetForTests(&contract::GetBackend().os());
    SetLastError(1234);
    KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0);
    KvQmrLogging::LogWriteA(4, "%s: check %d", "LoggingWine::Test", 42);
    KvQmrLogging::LogWriteA(5, "%s: filtered", "LoggingWine::Test");
    EXPECT_EQ(GetLastError(), 1234u);
    KvQmrLogging::ResetForTests(nullptr);

    std::string bytes;
    ASSERT_TRUE(ReadBytes(folder + L"\\sweeptool.log", bytes));
    std::vector<std::string> lines;
    ASSERT_TRUE(SplitLog(bytes, lines));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[1], match, kRecordLine)) << lines[1];
    EXPECT_TRUE(std::regex_match(
        match[2].str(),
        std::regex(R"(\*\*\*  LOGGING STARTED  \*\*\* \(UTC[+-]\d+:-?\d\d, session: 0x[0-9a-f]+\))")))
        << lines[1];
    ASSERT_TRUE(std::regex_match(lines[2], match, kRecordLine)) << lines[2];
    EXPECT_EQ(match[1].str(), " I");
    EXPECT_EQ(match[2].str(), "LoggingWine::Test: check 42");
    ASSERT_TRUE(std::regex_match(lines[3], match, kRecordLine)) << lines[3];
    EXPECT_EQ(match[2].str(), "***  LOG AUTO-CLOSED ***");
    RemoveLogs(folder, L"sweeptool*.log");
}

// Four processes write 2,000 numbered records each into one log that rotates every few
// kilobytes. Every kept file must be whole, and per process the kept records must be the
// newest ones without a gap: anything missing was rotated past the kept generations.
TEST_F(LoggingWine, FourProcessesShareOneRotatingLog) {
    constexpr int kProcesses = 4, kRecords = 2000;
    constexpr DWORD kMaxSizeKB = 16, kRotateCount = 19;
    const std::wstring folder = LogsFolder() + L"\\stress";
    RemoveLogs(folder, L"logstress*");

    // A 32-bit process reads HKLM\SOFTWARE through WOW6432Node; so do the writers.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kelvaris\\QMR\\Logging\\stress", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"LogMaxSizeKB", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kMaxSizeKB), 4);
    RegSetValueExW(key, L"LogRotateCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kRotateCount), 4);
    RegCloseKey(key);

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring program(self);
    program = program.substr(0, program.find_last_of(L'\\')) + L"\\programs\\logstress.exe";

    // The writers wait for this event, so that all four write at once.
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"Local\\KvQmrLogStressGo");
    ASSERT_NE(go, nullptr);
    std::vector<PROCESS_INFORMATION> children;
    for (int p = 1; p <= kProcesses; ++p) {
        std::wstring command =
            L"\"" + program + L"\" " + std::to_wstring(p) + L" " + std::to_wstring(kRecords);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &si, &pi))
            << "cannot start " << std::string(program.begin(), program.end()) << ": " << GetLastError();
        children.push_back(pi);
    }
    Sleep(500);  // time for every writer to reach its wait
    DWORD started = GetTickCount();
    SetEvent(go);
    for (auto& pi : children) {
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 600000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    DWORD elapsed = GetTickCount() - started;
    CloseHandle(go);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kelvaris\\QMR\\Logging\\stress");

    // Oldest generation first, so that per process the sequence numbers must rise.
    std::vector<std::wstring> files;
    for (DWORD k = kRotateCount + 1; k-- > 0;) {
        std::wstring name =
            folder + (k == 0 ? L"\\logstress.log" : L"\\logstress." + std::to_wstring(k) + L".log");
        if (GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) files.push_back(name);
    }
    EXPECT_EQ(
        GetFileAttributesW((folder + L"\\logstress." + std::to_wstring(kRotateCount + 1) + L".log").c_str()),
        INVALID_FILE_ATTRIBUTES);

    std::map<int, std::vector<int>> seen;
    const std::regex stress(R"(^LogStress::Run: proc (\d+) seq (\d+)$)");
    size_t records = 0;
    for (const auto& name : files) {
        std::string bytes;
        ASSERT_TRUE(ReadBytes(name, bytes));
        std::vector<std::string> lines;
        ASSERT_TRUE(SplitLog(bytes, lines)) << std::string(name.begin(), name.end());
        for (const auto& line : lines) {
            if (line.empty()) continue;  // the blank line before each start marker
            std::smatch match, inner;
            ASSERT_TRUE(std::regex_match(line, match, kRecordLine)) << line;
            std::string message = match[2].str();
            if (std::regex_match(message, inner, stress)) {
                seen[std::stoi(inner[1].str())].push_back(std::stoi(inner[2].str()));
                ++records;
            } else {
                EXPECT_TRUE(message.rfind("***  LOGGING STARTED  ***", 0) == 0 ||
                            message == "***  LOG AUTO-CLOSED ***")
                    << line;
            }
        }
    }
    for (int p = 1; p <= kProcesses; ++p) {
        const auto& seqs = seen[p];
        ASSERT_FALSE(seqs.empty()) << "process " << p;
        EXPECT_EQ(seqs.back(), kRecords) << "process " << p;
        for (size_t i = 1; i < seqs.size(); ++i) ASSERT_EQ(seqs[i], seqs[i - 1] + 1) << "process " << p;
        std::printf("process %d: records %d..%d kept\n", p, seqs.front(), seqs.back());
    }
    std::printf("%zu files, %zu of %d records kept, %lu ms\n", files.size(), records, kProcesses * kRecords,
                static_cast<unsigned long>(elapsed));
    RemoveLogs(folder, L"logstress*");
}

}  // namespace
