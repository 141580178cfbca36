#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"
// After windows.h: the SDDL header depends on it.
#include <sddl.h>
// CoInitialize; WIN32_LEAN_AND_MEAN leaves it out of windows.h.
#include <objbase.h>

#include <cstdlib>
#include <cstring>

namespace platform::win32 {

namespace {
SystemTime FromWin(const SYSTEMTIME& t) {
    return SystemTime{t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
                      t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
}
}  // namespace

uint32_t Win32System::GetLastError() { return ::GetLastError(); }
void Win32System::SetLastError(uint32_t code) { ::SetLastError(code); }
int Win32System::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

bool Win32System::GetVersionEx(OsVersionInfo& out) {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
    out.majorVersion = info.dwMajorVersion;
    out.minorVersion = info.dwMinorVersion;
    out.buildNumber = info.dwBuildNumber;
    out.platformId = info.dwPlatformId;
    out.csdVersion = info.szCSDVersion;
    out.servicePackMajor = info.wServicePackMajor;
    out.servicePackMinor = info.wServicePackMinor;
    return true;
}

void Win32System::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }
uint64_t Win32System::GetTickCount64() { return ::GetTickCount64(); }

std::vector<std::string> Win32System::CommandLineArguments() {
    std::vector<std::string> args;
    for (int i = 0; i < __argc; ++i) args.emplace_back(__argv[i] ? __argv[i] : "");
    return args;
}

uint32_t Win32System::GetModuleFileName(std::string& out) {
    char buffer[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0) return ::GetLastError();
    // A result that fills the whole buffer is a path cut at its end, which would name some
    // other file; 259 characters and the terminator fit.
    if (n >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
    out.assign(buffer, n);
    return 0;
}

int Win32System::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
    return ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

void Win32System::CloseToken(TokenHandle token) { ::CloseHandle(reinterpret_cast<HANDLE>(token)); }

bool Win32System::OpenProcessToken(uint32_t access, TokenHandle& out) {
    HANDLE h = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), access, &h)) return false;
    out = reinterpret_cast<TokenHandle>(h);
    return true;
}

bool Win32System::LookupPrivilegeValue(const char* name, Luid& out) {
    LUID luid{};
    if (!::LookupPrivilegeValueA(nullptr, name, &luid)) return false;
    out.lowPart = luid.LowPart;
    out.highPart = luid.HighPart;
    return true;
}

bool Win32System::AdjustTokenPrivilege(TokenHandle token, const Luid& luid, uint32_t attributes,
                                       uint32_t* previous) {
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid.LowPart = luid.lowPart;
    tp.Privileges[0].Luid.HighPart = luid.highPart;
    tp.Privileges[0].Attributes = attributes;
    TOKEN_PRIVILEGES before{};
    DWORD size = 0;
    if (::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), FALSE, &tp, previous ? sizeof(before) : 0,
                                previous ? &before : nullptr, previous ? &size : nullptr) == FALSE)
        return false;
    if (previous != nullptr) {
        // Only a privilege whose state changed is listed: one not listed was already as asked,
        // unless the token does not hold it at all.
        const DWORD error = ::GetLastError();
        if (before.PrivilegeCount != 0)
            *previous = before.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED;
        else
            *previous = error == ERROR_NOT_ALL_ASSIGNED ? 0 : (attributes & SE_PRIVILEGE_ENABLED);
        ::SetLastError(error);
    }
    return true;
}

bool Win32System::GetTokenGroups(TokenHandle token, std::vector<TokenGroup>& out) {
    HANDLE h = reinterpret_cast<HANDLE>(token);
    DWORD size = 0;
    ::GetTokenInformation(h, TokenGroups, nullptr, 0, &size);
    if (size == 0) return false;
    std::vector<unsigned char> buffer(size);
    if (!::GetTokenInformation(h, TokenGroups, buffer.data(), size, &size)) return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    out.clear();
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        char* text = nullptr;
        if (!::ConvertSidToStringSidA(groups->Groups[i].Sid, &text)) continue;
        out.push_back(TokenGroup{text, groups->Groups[i].Attributes});
        ::LocalFree(text);
    }
    return true;
}

bool Win32System::ExitWindowsEx(uint32_t flags, uint32_t reason) {
    return ::ExitWindowsEx(flags, reason) != FALSE;
}

bool Win32System::InitiateSystemShutdownEx(const char* machine, const std::string& message,
                                           uint32_t timeoutSeconds, bool forceAppsClosed,
                                           bool rebootAfterShutdown, uint32_t reason) {
    return ::InitiateSystemShutdownExA(const_cast<char*>(machine), const_cast<char*>(message.c_str()),
                                       timeoutSeconds, forceAppsClosed, rebootAfterShutdown, reason) != FALSE;
}

SystemTime Win32System::GetSystemTime() {
    SYSTEMTIME t{};
    ::GetSystemTime(&t);
    return FromWin(t);
}

SystemTime Win32System::GetLocalTime() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return FromWin(t);
}

uint32_t Win32System::GetTimeZoneInformation(TimeZoneInfo& out) {
    TIME_ZONE_INFORMATION tz{};
    DWORD id = ::GetTimeZoneInformation(&tz);
    if (id == TIME_ZONE_ID_INVALID) return kTimeZoneIdInvalid;
    out.bias = tz.Bias;
    out.standardBias = tz.StandardBias;
    out.daylightBias = tz.DaylightBias;
    return id;
}

uint32_t Win32System::GetCurrentProcessId() { return ::GetCurrentProcessId(); }
uint32_t Win32System::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

bool Win32System::ProcessIdToSessionId(uint32_t processId, uint32_t& sessionId) {
    DWORD id = 0;
    if (!::ProcessIdToSessionId(processId, &id)) return false;
    sessionId = id;
    return true;
}

bool Win32System::GetProcessIntegrityRid(uint32_t& rid) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool ok = false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    if (size > 0) {
        std::vector<unsigned char> buffer(size);
        if (::GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
            auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data());
            UCHAR count = *::GetSidSubAuthorityCount(label->Label.Sid);
            if (count > 0) {
                rid = *::GetSidSubAuthority(label->Label.Sid, count - 1u);
                ok = true;
            }
        }
    }
    ::CloseHandle(token);
    return ok;
}

bool Win32System::GetEnvironmentVariable(const std::u16string& name, std::u16string& value) {
    const auto* n = reinterpret_cast<const wchar_t*>(name.c_str());
    DWORD size = ::GetEnvironmentVariableW(n, nullptr, 0);
    if (size == 0) return false;
    std::u16string buffer(size, u'\0');
    DWORD got = ::GetEnvironmentVariableW(n, reinterpret_cast<wchar_t*>(&buffer[0]), size);
    if (got == 0 || got >= size) return false;
    buffer.resize(got);
    value = buffer;
    return true;
}

void Win32System::OutputDebugString(const std::u16string& text) {
    ::OutputDebugStringW(reinterpret_cast<const wchar_t*>(text.c_str()));
}

int32_t Win32System::CoInitialize() { return static_cast<int32_t>(::CoInitialize(nullptr)); }

int32_t Win32System::CoInitializeEx(uint32_t flags) {
    return static_cast<int32_t>(::CoInitializeEx(nullptr, static_cast<DWORD>(flags)));
}

void Win32System::CoUninitialize() { ::CoUninitialize(); }

int32_t Win32System::CoCreateGuid(uint8_t (&out)[16]) {
    static_assert(sizeof(GUID) == sizeof(out), "a GUID is 16 bytes");
    GUID guid;
    const HRESULT result = ::CoCreateGuid(&guid);
    if (SUCCEEDED(result)) std::memcpy(out, &guid, sizeof(out));
    return static_cast<int32_t>(result);
}

namespace {
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

// Resolved once, on first use, as the process's other optional entry points are.
IsWow64ProcessFn IsWow64Entry() {
    static const IsWow64ProcessFn entry = [] {
        HMODULE kernel = ::GetModuleHandleA("kernel32");
        FARPROC proc = kernel != nullptr ? ::GetProcAddress(kernel, "IsWow64Process") : nullptr;
        return reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(proc));
    }();
    return entry;
}
}  // namespace

bool Win32System::HasEntryPoint(const char* module, const char* name) {
    HMODULE h = module != nullptr ? ::GetModuleHandleA(module) : nullptr;
    return h != nullptr && name != nullptr && ::GetProcAddress(h, name) != nullptr;
}

bool Win32System::IsWow64Process(bool& wow64) {
    IsWow64ProcessFn entry = IsWow64Entry();
    if (entry == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    BOOL result = FALSE;
    if (!entry(::GetCurrentProcess(), &result)) return false;
    wow64 = result != FALSE;
    return true;
}

bool Win32System::OpenThreadToken(uint32_t access, bool openAsSelf, TokenHandle& out) {
    HANDLE h = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), access, openAsSelf ? TRUE : FALSE, &h)) return false;
    out = reinterpret_cast<TokenHandle>(h);
    return true;
}

bool Win32System::WriteConsoleToStdError(const std::u16string& text, uint32_t& written) {
    written = 0;
    // No standard error handle at all (a dialog program) fails as WriteConsoleW would.
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD n = 0;
    if (!::WriteConsoleW(error, text.data(), static_cast<DWORD>(text.size()), &n, nullptr)) return false;
    written = n;
    return true;
}

namespace {
bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != FALSE;
}
}  // namespace

bool Win32System::AttachParentConsole() { return ::AttachConsole(ATTACH_PARENT_PROCESS) != FALSE; }

uint32_t Win32System::GetStdOutputType(bool& console) {
    console = false;
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return kFileTypeUnknown;
    DWORD type = ::GetFileType(output);
    console = type == FILE_TYPE_CHAR && IsConsole(output);
    return type;
}

bool Win32System::WriteConsoleToStdOutput(const std::u16string& text, uint32_t& written) {
    written = 0;
    DWORD n = 0;
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsConsole(output)) {
        if (!::WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &n, nullptr)) return false;
        written = n;
        return true;
    }
    // A program that attached to its parent's console after it started may have been left
    // without a standard output handle; the console's own screen buffer still reaches it.
    HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen == INVALID_HANDLE_VALUE) return false;
    BOOL ok = ::WriteConsoleW(screen, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    DWORD error = ::GetLastError();
    ::CloseHandle(screen);
    if (!ok) {
        ::SetLastError(error);
        return false;
    }
    written = n;
    return true;
}

bool Win32System::WriteStdOutput(const void* bytes, uint32_t count, uint32_t& written) {
    written = 0;
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD n = 0;
    if (!::WriteFile(output, bytes, count, &n, nullptr)) return false;
    written = n;
    return true;
}

}  // namespace platform::win32
