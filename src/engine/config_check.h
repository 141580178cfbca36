// The configuration check (--check): every problem of the file beside the executable at once,
// each with its section, line number and line. It changes nothing on the machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

class CNuke;

// An error stops a real run (the reader refuses the line, or the run fails on what it names);
// a warning is a line the run takes, but not the way it seems to say.
enum class Severity { kError, kWarning };

struct ConfigProblem {
    Severity severity = Severity::kError;
    std::string section;  // the header as written ("[file 1]"); empty for the whole file
    uint32_t line = 0;    // counted from 1; 0 for a problem of the whole file
    std::string text;     // the line as it stands, without its line end
    std::string message;  // what is wrong, in words
};

struct ConfigCheckResult {
    uint32_t code =
        0;  // 0 without errors (warnings allowed), 1610 with errors, else the error that kept the file unread
    std::string path;      // the file checked
    std::string encoding;  // what it was read as ("UTF-8", "ANSI code page 1252"); empty if unread
    std::vector<ConfigProblem> problems;  // in line order
    size_t Count(Severity severity) const;
};

// Reads the file that engine.InitConfigFile finds and checks every line.
ConfigCheckResult CheckConfiguration(CNuke& engine);

// The result as text, one problem per line (warnings marked as such), ending with a one-line
// verdict that counts errors and warnings.
std::string FormatCheckResult(const ConfigCheckResult& result);

}  // namespace engine
