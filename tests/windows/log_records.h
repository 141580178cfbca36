// The records a Windows-side test reads back from a real log file.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace wintest {

// The records of a UTF-16 log file as "<mark> <message>" ("*E CNuke::...: ..."), only those
// whose writer tag matches `writers` (a regular expression such as "CNuke|CWinFirewall").
inline std::vector<std::string> LogRecords(const std::wstring& path, const std::string& writers) {
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
    const std::regex line(R"(^.*\] (\*F|\*E|\.W| I| D| V): ((?:)" + writers + R"()::.*)$)");
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
        std::smatch match;
        const std::string one = text.substr(start, at - start);
        if (std::regex_match(one, match, line)) out.push_back(match[1].str() + " " + match[2].str());
    }
    return out;
}

}  // namespace wintest
