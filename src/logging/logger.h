// The process's logger: levels, the record line, the start and end markers, and the file
// sink it drives. Reached through GetLogger and the Log* entry points (logging/log.h).
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "logging/file_access.h"
#include "logging/file_low_level.h"
#include "logging/file_utils.h"
#include "platform/platform.h"

#if defined(__GNUC__) && !defined(__clang__) && defined(__MINGW32__)
#define KV_QMR_LOG_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define KV_QMR_LOG_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KV_QMR_LOG_PRINTF(fmt, args)
#endif

namespace KvQmrLogging {

// Lower is more severe; a record passes when its level is at most the threshold.
enum LogLevel : int {
    Fatal = 1,
    Error = 2,
    Warning = 3,
    Info = 4,
    Debug = 5,
    Verbose = 6,
};

// Initialisation flags, kept for the life of the open log.
enum LogFlags : int {
    KeepFileOpen = 0x01,     // one writer: the file stays open and no cross-process lock is taken
    DebugMarkers = 0x02,     // start and end markers at level 5 instead of 4
    DeferOpen = 0x04,        // the first record opens the file
    PerUserLocation = 0x08,  // the user's local application data; also lets a low-integrity process log
    UtcTimestamps = 0x10,    // UTC timestamps and the UTC form of the start marker
};

// Message buffers start at this many units and double while the message does not fit.
constexpr size_t kFirstMessageBuffer = 2048;
constexpr size_t kLastMessageBuffer = 131072;

class Logger {
  public:
    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;
    virtual ~Logger() = default;

    virtual void InitA(const char* product, const char* component, int level, int flags) = 0;
    virtual void InitW(const char16_t* product, const char16_t* component, int level, int flags) = 0;
    virtual void Close() = 0;
    virtual void VWriteW(int level, const char16_t* format, va_list args) = 0;
    virtual void VWriteA(int level, const char* format, va_list args) = 0;
    virtual bool IsEnabled(int level);
    virtual bool IsFiltered(int level);
    // A two-character mark; two blanks for a level outside 1..6.
    virtual const char16_t* LevelMark(int level);
    virtual int MarkerLevel(int flags);
    virtual void WriteA(int level, const char* format, ...) KV_QMR_LOG_PRINTF(3, 4);
    virtual void WriteW(int level, const char16_t* format, ...);

    int threshold() const { return threshold_.load(std::memory_order_relaxed); }

  protected:
    // 0 until the log is initialised, so that every record of level 1 to 6 is dropped.
    std::atomic<int> threshold_{0};
};

// What the log was initialised with; cleared when the log file is closed.
struct LogConfig {
    std::optional<std::u16string> product;  // none stands for "misc"
    std::u16string component;
    int defaultLevel = 0;
    std::atomic<int> flags{0};
    // Read once without the lock on every record, and again under it before opening.
    std::atomic<bool> openPending{false};

    void Clear();
};

class LoggerWin : public Logger {
  public:
    explicit LoggerWin(platform::Platform& os);
    // Writes the auto-closed marker and closes the log.
    ~LoggerWin() override;

    void InitA(const char* product, const char* component, int level, int flags) override;
    void InitW(const char16_t* product, const char16_t* component, int level, int flags) override;
    void Close() override;
    void VWriteW(int level, const char16_t* format, va_list args) override;
    void VWriteA(int level, const char* format, va_list args) override;

    virtual std::unique_ptr<FileLowLevel> CreateLowLevelFile();
    virtual std::unique_ptr<FileUtilsWin32> CreateFileUtils();

    platform::Platform& os() { return os_; }

  private:
    void OpenLog();
    void WriteStartMarker(int level);
    // Formats the record line around `message` (terminated, `length` units) and writes it.
    void WriteRecord(int level, const char16_t* message, size_t length);
    void CloseLogFile();
    const char16_t* ProductOrNull() const;

    platform::Platform& os_;
    std::unique_ptr<FileAccessBase> file_;
    std::atomic<bool> debugOutput_{false};
    std::mutex lock_;
    LogConfig config_;
};

}  // namespace KvQmrLogging
