#include "logging/logger.h"

#include <cstdio>
#include <new>
#include <vector>

#include "logging/log_settings.h"
#include "logging/wide_format.h"
#include "platform/ansi.h"

namespace KvQmrLogging {

namespace {

using LastError = platform::LastErrorGuard<platform::ISystem>;

constexpr char16_t kRecordFormat[] = u"%04d-%02d-%02d %02d:%02d:%02d.%03d [%04x.%04x] %s: %s\r\n";
constexpr char16_t kStartMarker[] = u"***  LOGGING STARTED  *** (UTC%+02d:%02d, session: 0x%x)";
constexpr char16_t kStartMarkerUtc[] =
    u"***  LOGGING STARTED  *** (UTC+00:00, local:%+02d:%02d, session: 0x%x)";
constexpr char16_t kEndMarker[] = u"***  LOGGING ENDED  ***";
constexpr char16_t kAutoClosedMarker[] = u"***  LOG AUTO-CLOSED ***";
constexpr char16_t kTooLargeW[] = u"KV_QMR_LOG failure: too large message, format: %s";
constexpr char16_t kTooLargeA[] =
    u"KV_QMR_LOG failure: too large (ANSI) message or unprintable characters, format: %S";
constexpr char16_t kNotConvertible[] =
    u"KV_QMR_LOG failure: unable to convert from ANSI to UNICODE. Format (problem might be in parameters "
    u"too): %S";

// Everything in a record line but the message, at its widest: seven date and time fields of
// up to 5 digits each (the SYSTEMTIME fields are 16 bits), their six separators, two ids of
// up to 8 hex digits, " [", ".", "] ", the mark, ": ", "\r\n" and the terminator.
constexpr size_t kLineOverhead = 7 * 5 + 6 + 2 * 8 + 2 + 1 + 2 + 2 + 2 + 2 + 1;

constexpr uint32_t kNoSession = 0xDEADBEEF;
constexpr int kUnreadableZoneOffset = 3599;  // shows as +59:59

// The smallest buffer of the doubling series that holds `needed` units and a terminator.
size_t BufferFor(size_t needed) {
    size_t size = kFirstMessageBuffer;
    while (size <= needed && size < kLastMessageBuffer) size *= 2;
    return size;
}

}  // namespace

// --- Logger ---

bool Logger::IsEnabled(int level) { return !IsFiltered(level); }

bool Logger::IsFiltered(int level) { return level > threshold_.load(std::memory_order_relaxed); }

const char16_t* Logger::LevelMark(int level) {
    switch (level) {
        case Fatal:
            return u"*F";
        case Error:
            return u"*E";
        case Warning:
            return u".W";
        case Info:
            return u" I";
        case Debug:
            return u" D";
        case Verbose:
            return u" V";
        default:
            return u"  ";
    }
}

int Logger::MarkerLevel(int flags) { return (flags & DebugMarkers) != 0 ? Debug : Info; }

void Logger::WriteA(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VWriteA(level, format, args);
    va_end(args);
}

void Logger::WriteW(int level, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    VWriteW(level, format, args);
    va_end(args);
}

void LogConfig::Clear() {
    product.reset();
    component.clear();
    defaultLevel = 0;
    flags = 0;
    openPending = false;
}

// --- LoggerWin ---

LoggerWin::LoggerWin(platform::Platform& os) : os_(os) {}

LoggerWin::~LoggerWin() {
    LastError keep(os_.sys);
    try {
        WriteW(MarkerLevel(config_.flags), kAutoClosedMarker);
    } catch (...) {
        // Out of memory at exit: the marker is lost, the file is still closed.
    }
    CloseLogFile();
}

std::unique_ptr<FileLowLevel> LoggerWin::CreateLowLevelFile() { return std::make_unique<FileLowLevel>(os_); }

std::unique_ptr<FileUtilsWin32> LoggerWin::CreateFileUtils() { return std::make_unique<FileUtilsWin32>(os_); }

const char16_t* LoggerWin::ProductOrNull() const {
    return config_.product ? config_.product->c_str() : nullptr;
}

void LoggerWin::InitA(const char* product, const char* component, int level, int flags) {
    LastError keep(os_.sys);
    std::u16string wideProduct, wideComponent;
    if (product != nullptr &&
        !platform::AnsiToUtf16(product, std::char_traits<char>::length(product), wideProduct))
        return;
    if (component == nullptr ||
        !platform::AnsiToUtf16(component, std::char_traits<char>::length(component), wideComponent))
        return;
    InitW(product != nullptr ? wideProduct.c_str() : nullptr, wideComponent.c_str(), level, flags);
}

void LoggerWin::InitW(const char16_t* product, const char16_t* component, int level, int flags) {
    LastError keep(os_.sys);
    // Without a component there is no file to name.
    if (component == nullptr) return;
    if (IsLowIntegrityProcess(os_) && (flags & PerUserLocation) == 0) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        // The first initialisation wins.
        if (file_) return;
        if (product != nullptr)
            config_.product = std::u16string(product);
        else
            config_.product.reset();
        config_.component = component;
        config_.defaultLevel = level;
        config_.flags = flags;
        config_.openPending = true;
        if ((flags & DeferOpen) != 0) {
            threshold_ = Verbose;
            debugOutput_ = false;
            return;
        }
    }
    OpenLog();
}

void LoggerWin::OpenLog() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!config_.openPending) return;
        const char16_t* product = ProductOrNull();
        const char16_t* component = config_.component.c_str();
        debugOutput_ = ReadLoggingSetting(os_, u"DebugOutputLogging", product, component, 0) != 0;
        if (!file_) {
            threshold_ = static_cast<int>(ReadLoggingSetting(os_, u"LogLevel", product, component,
                                                             static_cast<uint32_t>(config_.defaultLevel)));
            bool perUser = (config_.flags & PerUserLocation) != 0;
            try {
                if ((config_.flags & KeepFileOpen) != 0)
                    file_ = std::make_unique<FileAccessContinuous>(
                        os_, product, component, CreateLowLevelFile(), CreateFileUtils(), perUser);
                else
                    file_ = std::make_unique<FileAccessTransient>(
                        os_, product, component, CreateLowLevelFile(), CreateFileUtils(), perUser);
            } catch (const std::bad_alloc&) {
                file_.reset();
            }
        }
        config_.openPending = false;
    }
    WriteStartMarker(MarkerLevel(config_.flags));
}

void LoggerWin::WriteStartMarker(int level) {
    uint32_t session = 0;
    if (!os_.sys.ProcessIdToSessionId(os_.sys.GetCurrentProcessId(), session)) session = kNoSession;

    platform::TimeZoneInfo zone;
    uint32_t zoneId = os_.sys.GetTimeZoneInformation(zone);
    // 64 bits: a zone record with absurd biases must not overflow.
    int64_t offset = kUnreadableZoneOffset;
    if (zoneId == platform::kTimeZoneIdDaylight)
        offset = -(static_cast<int64_t>(zone.bias) + zone.daylightBias);
    else if (zoneId != platform::kTimeZoneIdInvalid)
        offset = -(static_cast<int64_t>(zone.bias) + zone.standardBias);

    if (!IsFiltered(level)) {
        // A bare line break sets each opening apart in a file that many runs share.
        static const char16_t kBreak[] = u"\r\n";
        if (debugOutput_) os_.sys.OutputDebugString(kBreak);
        std::lock_guard<std::mutex> hold(lock_);
        if (file_) file_->Write(kBreak, 4);
    }
    WriteW(level, (config_.flags & UtcTimestamps) != 0 ? kStartMarkerUtc : kStartMarker,
           static_cast<int>(offset / 60), static_cast<int>(offset % 60), static_cast<unsigned>(session));
}

void LoggerWin::Close() {
    LastError keep(os_.sys);
    WriteW(MarkerLevel(config_.flags), kEndMarker);
    CloseLogFile();
}

void LoggerWin::CloseLogFile() {
    std::lock_guard<std::mutex> hold(lock_);
    file_.reset();
    config_.Clear();
}

void LoggerWin::VWriteW(int level, const char16_t* format, va_list args) {
    if (IsFiltered(level)) return;
    LastError keep(os_.sys);

    char16_t first[kFirstMessageBuffer];
    int needed = VFormatW(first, kFirstMessageBuffer, format, args);
    if (needed >= 0 && static_cast<size_t>(needed) < kFirstMessageBuffer) {
        WriteRecord(level, first, static_cast<size_t>(needed));
        return;
    }
    if (needed < 0 || static_cast<size_t>(needed) >= kLastMessageBuffer) {
        // The failure record quotes the format; if even that does not fit, it reports
        // itself once more with its own short format, so this recursion ends there.
        WriteW(Error, kTooLargeW, format);
        return;
    }
    std::vector<char16_t> buffer(BufferFor(static_cast<size_t>(needed)));
    needed = VFormatW(buffer.data(), buffer.size(), format, args);
    if (needed < 0 || static_cast<size_t>(needed) >= buffer.size()) {
        WriteW(Error, kTooLargeW, format);
        return;
    }
    WriteRecord(level, buffer.data(), static_cast<size_t>(needed));
}

void LoggerWin::VWriteA(int level, const char* format, va_list args) {
    if (IsFiltered(level)) return;
    LastError keep(os_.sys);

    char first[kFirstMessageBuffer];
    std::vector<char> heap;
    const char* message = nullptr;
    size_t length = 0;
    // Some runtimes report truncation with a negative result instead of the size needed:
    // then every size of the series is tried in turn.
    for (size_t size = kFirstMessageBuffer; size <= kLastMessageBuffer; size *= 2) {
        char* buffer = first;
        if (size > kFirstMessageBuffer) {
            heap.resize(size);
            buffer = heap.data();
        }
        va_list copy;
        va_copy(copy, args);
        int n = format != nullptr ? std::vsnprintf(buffer, size, format, copy) : -1;
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < size) {
            message = buffer;
            length = static_cast<size_t>(n);
            break;
        }
        // Skip the sizes that cannot hold what the formatter asked for.
        while (n >= 0 && size * 2 <= kLastMessageBuffer && static_cast<size_t>(n) >= size * 2) size *= 2;
    }
    if (message == nullptr) {
        WriteW(Error, kTooLargeA, format);
        return;
    }
    std::u16string wide;
    if (!platform::AnsiToUtf16(message, length, wide)) {
        WriteW(Error, kNotConvertible, format);
        return;
    }
    WriteRecord(level, wide.c_str(), wide.size());
}

void LoggerWin::WriteRecord(int level, const char16_t* message, size_t length) {
    int flags = config_.flags;
    platform::SystemTime t = (flags & UtcTimestamps) != 0 ? os_.sys.GetSystemTime() : os_.sys.GetLocalTime();

    std::u16string line(length + kLineOverhead, u'\0');
    int n = FormatW(&line[0], line.size(), kRecordFormat, t.year, t.month, t.day, t.hour, t.minute, t.second,
                    t.milliseconds, static_cast<unsigned>(os_.sys.GetCurrentProcessId()),
                    static_cast<unsigned>(os_.sys.GetCurrentThreadId()), LevelMark(level), message);
    if (n < 0 || static_cast<size_t>(n) >= line.size())
        return;  // cannot happen: the buffer holds the widest line
    line.resize(static_cast<size_t>(n));

    if (config_.openPending) {
        // Deferred open: the start marker goes first, then this record faces the real threshold.
        OpenLog();
        if (IsFiltered(level)) return;
    }
    if (debugOutput_) os_.sys.OutputDebugString(line);
    std::lock_guard<std::mutex> hold(lock_);
    if (file_) file_->Write(line.data(), static_cast<uint32_t>(line.size() * sizeof(char16_t)));
}

}  // namespace KvQmrLogging
