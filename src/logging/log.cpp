#include "logging/log.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace KvQmrLogging {

namespace {

enum : int { kNone = 0, kCreating = 1, kReady = 2 };

std::atomic<int> state{kNone};
std::atomic<platform::Platform*> boundPlatform{nullptr};
LoggerWin* instance = nullptr;
std::atomic<bool> exitHandlerRegistered{false};

void DestroyInstance() {
    // Only one thread runs this: at exit, or while (re)binding with no other thread logging.
    if (state.load() != kReady) return;
    LoggerWin* old = instance;
    instance = nullptr;
    state = kNone;
    delete old;
}

}  // namespace

void SetPlatform(platform::Platform* os) {
    if (boundPlatform.load() == os && os != nullptr) return;
    DestroyInstance();
    boundPlatform = os;
}

void ResetForTests(platform::Platform* os) {
    DestroyInstance();
    boundPlatform = os;
}

Logger* GetLogger() {
    if (state.load(std::memory_order_acquire) == kReady) return instance;
    platform::Platform* os = boundPlatform.load();
    if (os == nullptr) return nullptr;
    int expected = kNone;
    if (state.compare_exchange_strong(expected, kCreating)) {
        instance = new (std::nothrow) LoggerWin(*os);
        if (instance == nullptr) {
            state = kNone;
            return nullptr;
        }
        // The instance lives until process exit, when it writes its auto-closed marker.
        if (!exitHandlerRegistered.exchange(true)) std::atexit(DestroyInstance);
        expected = kCreating;
        state.compare_exchange_strong(expected, kReady, std::memory_order_release);
        return instance;
    }
    while (state.load(std::memory_order_acquire) != kReady) {
        if (state.load() == kNone) return nullptr;  // the creator ran out of memory
        std::this_thread::yield();
    }
    return instance;
}

// The entry points never let an exception out to a caller that has none of its own.
void LogInitW(const char16_t* product, const char16_t* component, int level, int flags) {
    try {
        if (Logger* logger = GetLogger()) logger->InitW(product, component, level, flags);
    } catch (...) {
    }
}

void LogInitA(const char* product, const char* component, int level, int flags) {
    try {
        if (Logger* logger = GetLogger()) logger->InitA(product, component, level, flags);
    } catch (...) {
    }
}

void LogClose() {
    try {
        if (Logger* logger = GetLogger()) logger->Close();
    } catch (...) {
    }
}

void LogWriteW(int level, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        if (Logger* logger = GetLogger()) logger->VWriteW(level, format, args);
    } catch (...) {
    }
    va_end(args);
}

void LogWriteA(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        if (Logger* logger = GetLogger()) logger->VWriteA(level, format, args);
    } catch (...) {
    }
    va_end(args);
}

bool LogIsEnabled(int level) {
    Logger* logger = GetLogger();
    return logger != nullptr && logger->IsEnabled(level);
}

}  // namespace KvQmrLogging
