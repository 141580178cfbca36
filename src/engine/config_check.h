// The configuration check (--check): every problem of the file beside the executable at once,
// each with its section, line number and line. It changes nothing on the machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

class CNuke;

struct ConfigProblem {
    std::string section;  // the header as written ("[file 1]"); empty for the whole file
    uint32_t line = 0;    // counted from 1; 0 for a problem of the whole file
    std::string text;     // the line as it stands, without its line end
    std::string message;  // what is wrong, in words
};

struct ConfigCheckResult {
    uint32_t code = 0;     // 0 clean, 1610 with problems, else the error that kept the file unread
    std::string path;      // the file checked
    std::vector<ConfigProblem> problems;  // in line order
};

// Reads the file that engine.InitConfigFile finds and checks every line.
ConfigCheckResult CheckConfiguration(CNuke& engine);

// The result as text, one problem per line, ending with a one-line verdict.
std::string FormatCheckResult(const ConfigCheckResult& result);

}  // namespace engine
