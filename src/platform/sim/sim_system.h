// The simulated operating system: boot mode, version, a virtual clock, the token, shutdown.
// Tests set the public state directly and read what the product did from the records.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/faults.h"
#include "platform/system.h"

namespace platform::sim {

struct ShutdownRecord {
    enum class Kind { ExitWindows, InitiateShutdown } kind = Kind::ExitWindows;
    uint32_t flags = 0;  // ExitWindowsEx
    uint32_t reason = 0;
    std::string message;  // InitiateSystemShutdownEx
    uint32_t timeoutSeconds = 0;
    bool forceAppsClosed = false;
    bool reboot = false;
    uint64_t atMs = 0;   // virtual clock when it was asked for
    uint32_t error = 0;  // why Windows refused it; 0 when the shutdown was started
};

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    uint32_t style = 0;
};

class SimSystem : public ISystem {
  public:
    explicit SimSystem(Faults& faults) : faults_(faults) {}

    // --- state a test sets ---
    std::map<int, int> metrics;  // GetSystemMetrics; absent means 0
    OsVersionInfo version{6, 1, 7601, kVerPlatformWin32Nt, "Service Pack 1", 1, 0};
    std::vector<std::string> arguments{"C:\\Tools\\sweeptool.exe"};
    // GetModuleFileNameA fills a MAX_PATH buffer: a path of 260 characters or more is cut
    // and the call fails with 122, as it does on Windows since Vista.
    std::string modulePath = "C:\\Tools\\sweeptool.exe";
    // The process's current directory: where CreateProcess looks for a relative program name.
    std::string currentDirectory = "C:\\Tools";
    bool is64BitWindows = true;
    // Whether the token holds SeShutdownPrivilege at all. Held is not enabled: ExitWindowsEx
    // and a local InitiateSystemShutdownEx fail with 1314 until the process enables it.
    bool tokenHasShutdownPrivilege = true;
    // An elevated administrator by default.
    std::vector<TokenGroup> tokenGroups{{"S-1-1-0", kSeGroupEnabled}, {kAdministratorsSid, kSeGroupEnabled}};
    uint32_t integrityRid = 0x3000;  // high (an elevated administrator)
    // The groups of the calling thread's impersonation token; none by default, so that
    // OpenThreadToken fails with 1008 as it does for a thread that impersonates nobody.
    std::optional<std::vector<TokenGroup>> threadTokenGroups;
    // Whether the process has a console behind its standard error handle (a dialog
    // program normally has none, and WriteConsoleW then fails with 6).
    bool hasConsole = false;
    // Whether the process that started this one has a console to attach to.
    bool parentConsole = false;
    // GetFileType of the standard output handle (kFileTypeUnknown: there is none), and
    // whether it is a console. Attaching to a console hands one over when there was none.
    uint32_t stdOutputType = kFileTypeUnknown;
    bool stdOutputConsole = false;
    uint32_t sessionId = 1;
    uint32_t processId = 0x0a1c;
    uint32_t timeZoneId = kTimeZoneIdStandard;
    TimeZoneInfo timeZone{};
    // The virtual clock: milliseconds since 2016-01-20 00:00:00 UTC.
    uint64_t clockMs = 0;
    std::map<std::u16string, std::u16string> environment;

    // --- what the product did ---
    std::vector<ShutdownRecord> shutdowns;
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<std::u16string> debugOutput;
    std::u16string consoleErrorText;   // all that WriteConsoleW wrote to standard error
    bool consoleAttached = false;      // AttachConsole succeeded
    std::u16string consoleOutputText;  // all that WriteConsoleW wrote to the attached console
    std::string stdOutputBytes;        // all that WriteFile wrote to the standard output handle
    std::set<std::string> enabledPrivileges;
    std::vector<uint32_t> sleeps;
    int openTokens = 0;  // tokens opened and not yet closed

    uint32_t GetLastError() override;
    void SetLastError(uint32_t code) override;
    int GetSystemMetrics(int index) override;
    bool GetVersionEx(OsVersionInfo& out) override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t GetTickCount64() override;
    std::vector<std::string> CommandLineArguments() override;
    uint32_t GetModuleFileName(std::string& out) override;
    int MessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
    void CloseToken(TokenHandle token) override;
    bool OpenProcessToken(uint32_t access, TokenHandle& out) override;
    bool OpenThreadToken(uint32_t access, bool openAsSelf, TokenHandle& out) override;
    bool WriteConsoleToStdError(const std::u16string& text, uint32_t& written) override;
    bool AttachParentConsole() override;
    uint32_t GetStdOutputType(bool& console) override;
    bool WriteConsoleToStdOutput(const std::u16string& text, uint32_t& written) override;
    bool WriteStdOutput(const void* bytes, uint32_t count, uint32_t& written) override;
    bool LookupPrivilegeValue(const char* name, Luid& out) override;
    bool AdjustTokenPrivilege(TokenHandle token, const Luid& luid, uint32_t attributes,
                              uint32_t* previous = nullptr) override;
    bool GetTokenGroups(TokenHandle token, std::vector<TokenGroup>& out) override;
    bool ExitWindowsEx(uint32_t flags, uint32_t reason) override;
    bool InitiateSystemShutdownEx(const char* machine, const std::string& message, uint32_t timeoutSeconds,
                                  bool forceAppsClosed, bool rebootAfterShutdown, uint32_t reason) override;
    SystemTime GetSystemTime() override;
    SystemTime GetLocalTime() override;
    uint32_t GetTimeZoneInformation(TimeZoneInfo& out) override;
    uint32_t GetCurrentProcessId() override;
    uint32_t GetCurrentThreadId() override;
    bool ProcessIdToSessionId(uint32_t processId, uint32_t& sessionId) override;
    bool GetProcessIntegrityRid(uint32_t& rid) override;
    bool GetEnvironmentVariable(const std::u16string& name, std::u16string& value) override;
    void OutputDebugString(const std::u16string& text) override;
    // A fault planned for "CoInitialize" is returned as the HRESULT (e.g. 0x80004005).
    int32_t CoInitialize() override;
    // A fault planned for "CoInitializeEx" is returned as the HRESULT.
    int32_t CoInitializeEx(uint32_t flags) override;
    void CoUninitialize() override;
    // COM initialisations of the calling thread not yet balanced by CoUninitialize.
    int ComInitDepth() const;
    int coUninitializeCalls = 0;

    // Entry points (by function name, "RegDeleteKeyExA") this Windows lacks: an old 32-bit one.
    std::set<std::string> missingEntryPoints;
    bool HasEntryPoint(const char* module, const char* name) override;
    // Answers is64BitWindows.
    bool IsWow64Process(bool& wow64) override;
    // The GUIDs a test queued first, then ones from a fixed-seed generator: runs repeat.
    int32_t CoCreateGuid(uint8_t (&out)[16]) override;
    std::vector<std::vector<uint8_t>> nextGuids;

    // Fails with `code` (and sets the last error) when a fault is planned for `call`.
    bool Fault(const char* call);
    // Moves the virtual clock on for a wait that is not a Sleep (nothing is recorded).
    void AdvanceClock(uint64_t milliseconds);

  private:
    bool ShutdownPrivilegeEnabled();

    Faults& faults_;
    std::mutex mutex_;
    std::map<std::string, Luid> privilegeLuids_;
    // Open thread tokens and the groups each was opened with.
    std::map<TokenHandle, std::vector<TokenGroup>> threadTokens_;
    TokenHandle nextToken_ = 0x100;
    uint64_t guidState_ = 0x5EED;
};

// Converts a count of milliseconds since 2016-01-20 00:00 to a calendar time.
SystemTime SimTimeFromMs(uint64_t ms);

}  // namespace platform::sim
