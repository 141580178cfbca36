#include "platform/sim/sim_system.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/com.h"
#include "platform/filesystem.h"

namespace platform::sim {

namespace {
thread_local uint32_t tlsLastError = 0;

// 2016-01-20 is the virtual clock's day 0.
constexpr int kEpochYear = 2016, kEpochMonth = 1, kEpochDay = 20;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}
}  // namespace

SystemTime SimTimeFromMs(uint64_t ms) {
    SystemTime t;
    uint64_t days = ms / 86400000ULL;
    uint64_t rest = ms % 86400000ULL;
    t.hour = static_cast<uint16_t>(rest / 3600000);
    t.minute = static_cast<uint16_t>(rest / 60000 % 60);
    t.second = static_cast<uint16_t>(rest / 1000 % 60);
    t.milliseconds = static_cast<uint16_t>(rest % 1000);
    int y = kEpochYear, m = kEpochMonth, d = kEpochDay;
    t.dayOfWeek = static_cast<uint16_t>((3 + days) % 7);  // 2016-01-20 was a Wednesday
    while (days > 0) {
        int left = DaysInMonth(y, m) - d;
        if (days <= static_cast<uint64_t>(left)) {
            d += static_cast<int>(days);
            days = 0;
        } else {
            days -= static_cast<uint64_t>(left) + 1;
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint16_t>(m);
    t.day = static_cast<uint16_t>(d);
    return t;
}

bool SimSystem::Fault(const char* call) {
    uint32_t code = faults_.Take(call);
    if (code == 0) return false;
    SetLastError(code);
    return true;
}

uint32_t SimSystem::GetLastError() { return tlsLastError; }
void SimSystem::SetLastError(uint32_t code) { tlsLastError = code; }

int SimSystem::GetSystemMetrics(int index) {
    auto it = metrics.find(index);
    return it == metrics.end() ? 0 : it->second;
}

bool SimSystem::GetVersionEx(OsVersionInfo& out) {
    if (Fault("GetVersionExA")) return false;
    out = version;
    return true;
}

void SimSystem::Sleep(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps.push_back(milliseconds);
    clockMs += milliseconds;
}

void SimSystem::AdvanceClock(uint64_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    clockMs += milliseconds;
}

uint64_t SimSystem::GetTickCount64() { return clockMs; }

std::vector<std::string> SimSystem::CommandLineArguments() { return arguments; }

uint32_t SimSystem::GetModuleFileName(std::string& out) {
    if (uint32_t code = faults_.Take("GetModuleFileNameA")) return code;
    if (modulePath.size() >= kMaxPath) return kErrorInsufficientBuffer;
    out = modulePath;
    return 0;
}

int SimSystem::MessageBox(const std::string& text, const std::string& caption, uint32_t style) {
    messageBoxes.push_back({text, caption, style});
    return kIdOk;
}

void SimSystem::CloseToken(TokenHandle token) {
    std::lock_guard<std::mutex> lock(mutex_);
    threadTokens_.erase(token);
    --openTokens;
}

bool SimSystem::OpenProcessToken(uint32_t, TokenHandle& out) {
    if (Fault("OpenProcessToken")) return false;
    out = nextToken_++;
    ++openTokens;
    return true;
}

bool SimSystem::OpenThreadToken(uint32_t, bool, TokenHandle& out) {
    if (Fault("OpenThreadToken")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!threadTokenGroups) {
        tlsLastError = kErrorNoToken;
        return false;
    }
    out = nextToken_++;
    threadTokens_[out] = *threadTokenGroups;
    ++openTokens;
    return true;
}

bool SimSystem::LookupPrivilegeValue(const char* name, Luid& out) {
    if (Fault("LookupPrivilegeValueA")) return false;
    static const char* const kKnown[] = {
        "SeShutdownPrivilege", "SeDebugPrivilege",    "SeTakeOwnershipPrivilege", "SeBackupPrivilege",
        "SeRestorePrivilege",  "SeSecurityPrivilege", "SeRemoteShutdownPrivilege"};
    bool known = false;
    for (const char* k : kKnown) known = known || std::string(k) == name;
    if (!known) {
        SetLastError(kErrorNoSuchPrivilege);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = privilegeLuids_.find(name);
    if (it == privilegeLuids_.end()) {
        Luid luid{static_cast<uint32_t>(privilegeLuids_.size() + 2), 0};
        it = privilegeLuids_.emplace(name, luid).first;
    }
    out = it->second;
    return true;
}

bool SimSystem::AdjustTokenPrivilege(TokenHandle, const Luid& luid, uint32_t attributes, uint32_t* previous) {
    if (Fault("AdjustTokenPrivileges")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [name, known] : privilegeLuids_) {
        if (known.lowPart != luid.lowPart || known.highPart != luid.highPart) continue;
        if (previous != nullptr)
            *previous = enabledPrivileges.count(name) != 0 ? uint32_t{kSePrivilegeEnabled} : 0u;
        if (name == kSeShutdownName && !tokenHasShutdownPrivilege) {
            tlsLastError = kErrorNotAllAssigned;
            return true;
        }
        if (attributes & kSePrivilegeEnabled)
            enabledPrivileges.insert(name);
        else
            enabledPrivileges.erase(name);
        tlsLastError = 0;
        return true;
    }
    tlsLastError = kErrorNoSuchPrivilege;
    return false;
}

bool SimSystem::GetTokenGroups(TokenHandle token, std::vector<TokenGroup>& out) {
    if (Fault("GetTokenInformation")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    auto thread = threadTokens_.find(token);
    out = thread != threadTokens_.end() ? thread->second : tokenGroups;
    return true;
}

bool SimSystem::ShutdownPrivilegeEnabled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return enabledPrivileges.count(kSeShutdownName) != 0;
}

bool SimSystem::ExitWindowsEx(uint32_t flags, uint32_t reason) {
    ShutdownRecord r;
    r.kind = ShutdownRecord::Kind::ExitWindows;
    r.flags = flags;
    r.reason = reason;
    r.atMs = clockMs;
    if (Fault("ExitWindowsEx")) {
        r.error = tlsLastError;
    } else if (!ShutdownPrivilegeEnabled()) {
        r.error = tlsLastError = kErrorPrivilegeNotHeld;
    }
    shutdowns.push_back(r);
    return r.error == 0;
}

bool SimSystem::InitiateSystemShutdownEx(const char*, const std::string& message, uint32_t timeoutSeconds,
                                         bool forceAppsClosed, bool rebootAfterShutdown, uint32_t reason) {
    ShutdownRecord r;
    r.kind = ShutdownRecord::Kind::InitiateShutdown;
    r.message = message;
    r.timeoutSeconds = timeoutSeconds;
    r.forceAppsClosed = forceAppsClosed;
    r.reboot = rebootAfterShutdown;
    r.reason = reason;
    r.atMs = clockMs;
    if (Fault("InitiateSystemShutdownExA")) {
        r.error = tlsLastError;
    } else if (!ShutdownPrivilegeEnabled()) {
        r.error = tlsLastError = kErrorPrivilegeNotHeld;
    }
    shutdowns.push_back(r);
    return r.error == 0;
}

SystemTime SimSystem::GetSystemTime() { return SimTimeFromMs(clockMs); }

SystemTime SimSystem::GetLocalTime() {
    int64_t bias =
        timeZone.bias + (timeZoneId == kTimeZoneIdDaylight ? timeZone.daylightBias : timeZone.standardBias);
    int64_t local = static_cast<int64_t>(clockMs) - bias * 60000;
    return SimTimeFromMs(local < 0 ? 0 : static_cast<uint64_t>(local));
}

uint32_t SimSystem::GetTimeZoneInformation(TimeZoneInfo& out) {
    if (faults_.Take("GetTimeZoneInformation")) return kTimeZoneIdInvalid;
    out = timeZone;
    return timeZoneId;
}

uint32_t SimSystem::GetCurrentProcessId() { return processId; }

uint32_t SimSystem::GetCurrentThreadId() {
    static std::atomic<uint32_t> next{0x0b2c};
    thread_local uint32_t id = next.fetch_add(4);
    return id;
}

bool SimSystem::ProcessIdToSessionId(uint32_t, uint32_t& out) {
    if (Fault("ProcessIdToSessionId")) return false;
    out = sessionId;
    return true;
}

bool SimSystem::GetProcessIntegrityRid(uint32_t& rid) {
    if (Fault("GetTokenInformation")) return false;
    rid = integrityRid;
    return true;
}

bool SimSystem::GetEnvironmentVariable(const std::u16string& name, std::u16string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Environment names are case-insensitive on Windows.
    auto fold = [](std::u16string s) {
        for (auto& c : s)
            if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        return s;
    };
    for (const auto& [k, v] : environment) {
        if (fold(k) == fold(name)) {
            value = v;
            return true;
        }
    }
    tlsLastError = 203;  // ERROR_ENVVAR_NOT_FOUND
    return false;
}

void SimSystem::OutputDebugString(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    debugOutput.push_back(text);
}

bool SimSystem::WriteConsoleToStdError(const std::u16string& text, uint32_t& written) {
    written = 0;
    if (Fault("WriteConsoleW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hasConsole) {
        tlsLastError = kErrorInvalidHandle;
        return false;
    }
    consoleErrorText += text;
    written = static_cast<uint32_t>(text.size());
    return true;
}

bool SimSystem::AttachParentConsole() {
    if (Fault("AttachConsole")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (consoleAttached) {
        tlsLastError = kErrorAccessDenied;
        return false;
    }
    if (!parentConsole) {
        tlsLastError = kErrorInvalidHandle;
        return false;
    }
    consoleAttached = true;
    if (stdOutputType == kFileTypeUnknown) {
        stdOutputType = kFileTypeChar;
        stdOutputConsole = true;
    }
    return true;
}

uint32_t SimSystem::GetStdOutputType(bool& console) {
    std::lock_guard<std::mutex> lock(mutex_);
    console = stdOutputType == kFileTypeChar && stdOutputConsole;
    return stdOutputType;
}

bool SimSystem::WriteConsoleToStdOutput(const std::u16string& text, uint32_t& written) {
    written = 0;
    if (Fault("WriteConsoleW")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!consoleAttached) {
        tlsLastError = kErrorInvalidHandle;
        return false;
    }
    consoleOutputText += text;
    written = static_cast<uint32_t>(text.size());
    return true;
}

bool SimSystem::WriteStdOutput(const void* bytes, uint32_t count, uint32_t& written) {
    written = 0;
    // Named apart from the file system's WriteFile, so that a test can fail either alone.
    if (Fault("WriteFile(StdOutput)")) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (stdOutputType == kFileTypeUnknown) {
        tlsLastError = kErrorInvalidHandle;
        return false;
    }
    stdOutputBytes.append(static_cast<const char*>(bytes), count);
    written = count;
    return true;
}

namespace {
thread_local int tlsComInitDepth = 0;
// The thread's apartment model while COM is initialised on it: true for a single-threaded
// apartment (CoInitialize, COINIT_APARTMENTTHREADED), false for the multithreaded one.
thread_local bool tlsComApartment = false;

int32_t EnterCom(bool apartment) {
    if (tlsComInitDepth > 0 && tlsComApartment != apartment) return kRpcEChangedMode;
    if (tlsComInitDepth++ > 0) return kSFalse;
    tlsComApartment = apartment;
    return kSOk;
}
}  // namespace

int32_t SimSystem::CoInitialize() {
    if (int32_t hr = faults_.TakeHr("CoInitialize")) return hr;
    return EnterCom(true);
}

int32_t SimSystem::CoInitializeEx(uint32_t flags) {
    if (int32_t hr = faults_.TakeHr("CoInitializeEx")) return hr;
    return EnterCom((flags & kCoinitApartmentThreaded) != 0);
}

void SimSystem::CoUninitialize() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++coUninitializeCalls;
    }
    if (tlsComInitDepth > 0) --tlsComInitDepth;
}

int SimSystem::ComInitDepth() const { return tlsComInitDepth; }

bool SimSystem::HasEntryPoint(const char*, const char* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return name != nullptr && missingEntryPoints.count(name) == 0;
}

bool SimSystem::IsWow64Process(bool& wow64) {
    if (Fault("IsWow64Process")) return false;
    if (!HasEntryPoint("kernel32", "IsWow64Process")) {
        SetLastError(kErrorCallNotImplemented);
        return false;
    }
    wow64 = is64BitWindows;
    return true;
}

int32_t SimSystem::CoCreateGuid(uint8_t (&out)[16]) {
    if (int32_t hr = faults_.TakeHr("CoCreateGuid")) return hr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!nextGuids.empty()) {
        std::vector<uint8_t> next = nextGuids.front();
        nextGuids.erase(nextGuids.begin());
        next.resize(16);
        std::copy(next.begin(), next.end(), out);
        return 0;
    }
    // A 64-bit linear congruential step per half: distinct for every call of a run.
    for (int half = 0; half < 2; ++half) {
        guidState_ = guidState_ * 6364136223846793005ULL + 1442695040888963407ULL;
        for (int i = 0; i < 8; ++i) out[half * 8 + i] = static_cast<uint8_t>(guidState_ >> (8 * i));
    }
    out[7] = static_cast<uint8_t>((out[7] & 0x0F) | 0x40);  // version 4: random
    out[8] = static_cast<uint8_t>((out[8] & 0x3F) | 0x80);  // the standard variant
    return 0;
}

}  // namespace platform::sim
