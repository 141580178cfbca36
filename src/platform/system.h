// The operating system itself: version, boot mode, time, the process and its token,
// shutdown, the message box. Shaped after the Win32 calls of the same names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common.h"

namespace platform {

enum : int { kSmCleanBoot = 67 };  // SM_CLEANBOOT

enum : uint32_t {
    kVerPlatformWin32s = 0,
    kVerPlatformWin32Windows = 1,
    kVerPlatformWin32Nt = 2,
};

// OSVERSIONINFOEXA, the fields the product reads.
struct OsVersionInfo {
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;
    std::string csdVersion;
    uint16_t servicePackMajor = 0;
    uint16_t servicePackMinor = 0;
};

// SYSTEMTIME.
struct SystemTime {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

enum : uint32_t {
    kTimeZoneIdUnknown = 0,
    kTimeZoneIdStandard = 1,
    kTimeZoneIdDaylight = 2,
    kTimeZoneIdInvalid = 0xFFFFFFFF,
};

// TIME_ZONE_INFORMATION, the bias fields (minutes; UTC = local time + bias).
struct TimeZoneInfo {
    int32_t bias = 0;
    int32_t standardBias = 0;
    int32_t daylightBias = 0;
};

enum : uint32_t {
    kMbOk = 0x0,
    kMbIconError = 0x10,
    kIdOk = 1,
};

enum : uint32_t {
    kEwxLogoff = 0,
    kEwxShutdown = 1,
    kEwxReboot = 2,
    kEwxForce = 4,
};

enum : uint32_t {
    kTokenAdjustPrivileges = 0x20,
    kTokenQuery = 0x8,
    kSePrivilegeEnabled = 2,
};

// Shutdown reason for a planned restart after application maintenance.
constexpr uint32_t kShutdownReasonPlannedAppMaintenance = 0x80040001;
constexpr char kSeShutdownName[] = "SeShutdownPrivilege";

struct Luid {
    uint32_t lowPart = 0;
    int32_t highPart = 0;
};

using TokenHandle = uintptr_t;

enum : uint32_t {
    kSeGroupEnabled = 0x4,
    kSeGroupUseForDenyOnly = 0x10,
};

// One entry of a token's groups (TOKEN_GROUPS), the SID in its string form ("S-1-5-32-544").
struct TokenGroup {
    std::string sid;
    uint32_t attributes = 0;
};

constexpr char kAdministratorsSid[] = "S-1-5-32-544";

// GetFileType.
enum : uint32_t {
    kFileTypeUnknown = 0,
    kFileTypeDisk = 1,
    kFileTypeChar = 2,
    kFileTypePipe = 3,
};

class ISystem {
  public:
    ISystem() = default;
    ISystem(const ISystem&) = delete;
    ISystem& operator=(const ISystem&) = delete;
    virtual ~ISystem() = default;

    // The calling thread's last-error value (GetLastError / SetLastError).
    virtual uint32_t GetLastError() = 0;
    virtual void SetLastError(uint32_t code) = 0;

    virtual int GetSystemMetrics(int index) = 0;
    // GetVersionExA; false (with the last error set) when the call fails.
    virtual bool GetVersionEx(OsVersionInfo& out) = 0;

    // Sleep. The simulated machine advances a virtual clock instead of waiting.
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint64_t GetTickCount64() = 0;

    // The process's arguments as the C runtime splits them, the program path first.
    virtual std::vector<std::string> CommandLineArguments() = 0;
    // GetModuleFileNameA of the process's own module; the Windows error on failure.
    virtual uint32_t GetModuleFileName(std::string& out) = 0;

    // MessageBoxA with no owner window; the button pressed.
    virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t style) = 0;

    // Process token and privileges.
    virtual void CloseToken(TokenHandle token) = 0;
    virtual bool OpenProcessToken(uint32_t access, TokenHandle& out) = 0;
    // OpenThreadToken of the calling thread; false with 1008 (ERROR_NO_TOKEN) when the
    // thread does not impersonate anybody.
    virtual bool OpenThreadToken(uint32_t access, bool openAsSelf, TokenHandle& out) = 0;
    virtual bool LookupPrivilegeValue(const char* name, Luid& out) = 0;
    // One privilege with the given attributes. Like the Win32 call, this can succeed and still
    // set ERROR_NOT_ALL_ASSIGNED. `previous`, when given, receives the attributes the privilege
    // had before the call (kSePrivilegeEnabled or 0), so that a holder can put them back.
    virtual bool AdjustTokenPrivilege(TokenHandle token, const Luid& luid, uint32_t attributes,
                                      uint32_t* previous = nullptr) = 0;

    // GetTokenInformation(TokenGroups).
    virtual bool GetTokenGroups(TokenHandle token, std::vector<TokenGroup>& out) = 0;

    // Shutdown.
    virtual bool ExitWindowsEx(uint32_t flags, uint32_t reason) = 0;
    virtual bool InitiateSystemShutdownEx(const char* machine, const std::string& message,
                                          uint32_t timeoutSeconds, bool forceAppsClosed,
                                          bool rebootAfterShutdown, uint32_t reason) = 0;

    // Time.
    virtual SystemTime GetSystemTime() = 0;
    virtual SystemTime GetLocalTime() = 0;
    // GetTimeZoneInformation: one of the kTimeZoneId values; kTimeZoneIdInvalid when it cannot be read.
    virtual uint32_t GetTimeZoneInformation(TimeZoneInfo& out) = 0;

    // The current process and thread.
    virtual uint32_t GetCurrentProcessId() = 0;
    virtual uint32_t GetCurrentThreadId() = 0;
    virtual bool ProcessIdToSessionId(uint32_t processId, uint32_t& sessionId) = 0;
    // The last sub-authority of the token's integrity-level SID; false when the token cannot be read.
    virtual bool GetProcessIntegrityRid(uint32_t& rid) = 0;

    // Environment (GetEnvironmentVariableW); false when the variable is not set.
    virtual bool GetEnvironmentVariable(const std::u16string& name, std::u16string& value) = 0;

    // OutputDebugStringW.
    virtual void OutputDebugString(const std::u16string& text) = 0;
    // WriteConsoleW to GetStdHandle(STD_ERROR_HANDLE): false with the last error when the
    // process has no console there (a GUI process normally has none).
    virtual bool WriteConsoleToStdError(const std::u16string& text, uint32_t& written) = 0;

    // AttachConsole(ATTACH_PARENT_PROCESS): false with the last error, 6 (ERROR_INVALID_HANDLE)
    // when the parent has no console, 5 (ERROR_ACCESS_DENIED) when this process has one already.
    virtual bool AttachParentConsole() = 0;
    // GetFileType of GetStdHandle(STD_OUTPUT_HANDLE); kFileTypeUnknown when there is no such
    // handle. `console` tells whether GetConsoleMode accepts the handle: a console, not some
    // other character device such as NUL.
    virtual uint32_t GetStdOutputType(bool& console) = 0;
    // WriteConsoleW to the standard output console, or, when the standard output is no
    // console, to the screen buffer of the console this process is attached to (CONOUT$):
    // false with the last error when the process has no console.
    virtual bool WriteConsoleToStdOutput(const std::u16string& text, uint32_t& written) = 0;
    // WriteFile of the bytes, unchanged, to GetStdHandle(STD_OUTPUT_HANDLE): false with the
    // last error (6 when there is no such handle).
    virtual bool WriteStdOutput(const void* bytes, uint32_t count, uint32_t& written) = 0;

    // CoInitialize(NULL) on the calling thread: the HRESULT (S_OK 0, S_FALSE 1 when this
    // thread had already initialised COM, negative on failure). Each success, S_FALSE
    // included, is balanced by one CoUninitialize.
    virtual int32_t CoInitialize() = 0;
    // CoInitializeEx(NULL, flags) (kCoinit values of platform/com.h): S_OK, S_FALSE when
    // this thread had already initialised COM in the same model, RPC_E_CHANGED_MODE
    // (0x80010106, not a success) when in the other one.
    virtual int32_t CoInitializeEx(uint32_t flags) = 0;
    virtual void CoUninitialize() = 0;

    // Whether GetProcAddress(GetModuleHandleA(module), name) finds the entry point: the
    // calls older Windows lacks (IsWow64Process in "kernel32", RegDeleteKeyExA in
    // "AdvAPI32.dll") are looked up once per process rather than imported.
    virtual bool HasEntryPoint(const char* module, const char* name) = 0;
    // IsWow64Process(GetCurrentProcess()): false (with the last error) when the call fails,
    // 120 (ERROR_CALL_NOT_IMPLEMENTED) when the entry point is missing.
    virtual bool IsWow64Process(bool& wow64) = 0;
    // CoCreateGuid: 16 bytes of a new GUID (122 of its bits random); the HRESULT.
    virtual int32_t CoCreateGuid(uint8_t (&out)[16]) = 0;
};

using UniqueToken = UniqueIn<ISystem, TokenHandle, &ISystem::CloseToken>;

}  // namespace platform
