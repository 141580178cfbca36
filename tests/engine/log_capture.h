// Captures the records the engine writes on a simulated machine: the logger is bound to
// the machine and told, through its registry settings, to copy every record to the
// debugger output, which the machine keeps.
#pragma once

#include <string>

#include "logging/log.h"
#include "platform/ansi.h"
#include "platform/sim/sim_machine.h"

namespace enginetest {

class LogCapture {
public:
    explicit LogCapture(platform::sim::SimMachine& machine) : machine_(machine) {
        const char* key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvaris\\QMR\\Logging";
        machine.registry.SetDword(key, "DebugOutputLogging", 1);
        machine.registry.SetDword(key, "LogLevel", 6);
        KvQmrLogging::ResetForTests(&machine.platform());
        KvQmrLogging::LogInitA("tool", "sweeptool", 4, 0);
    }
    ~LogCapture() { KvQmrLogging::ResetForTests(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every record so far, one per line, in the ANSI code page.
    std::string Text() const {
        std::string all;
        for (const std::u16string& line : machine_.system.debugOutput) all += platform::Utf16ToAnsi(line);
        return all;
    }
    bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }

private:
    platform::sim::SimMachine& machine_;
};

}  // namespace enginetest
