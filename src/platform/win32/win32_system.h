#pragma once

#include "platform/system.h"

namespace platform::win32 {

class Win32System : public ISystem {
  public:
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
    int32_t CoInitialize() override;
    int32_t CoInitializeEx(uint32_t flags) override;
    void CoUninitialize() override;
    bool HasEntryPoint(const char* module, const char* name) override;
    bool IsWow64Process(bool& wow64) override;
    int32_t CoCreateGuid(uint8_t (&out)[16]) override;
};

}  // namespace platform::win32
