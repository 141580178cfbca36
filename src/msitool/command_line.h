// The installer tool's command language: "/uninstall", "/hideoldaddremoves", "/u:" with an
// upgrade code, and the help switches.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace msitool {

class CommandLine {
  public:
    CommandLine() = default;
    // Splits `commandText` at blanks into the arguments after an empty program name, then
    // parses them. More than two arguments make the command invalid.
    explicit CommandLine(const std::u16string& commandText);
    virtual ~CommandLine() = default;

    virtual bool IsValid() const;

    // `arguments` holds the program name first, as a C runtime's argv does.
    void Parse(const std::vector<std::u16string>& arguments);

    int32_t argc = 0;
    std::u16string programName;
    bool hideOldAddRemoves = false;
    bool uninstall = false;
    bool help = false;
    std::u16string upgradeCode;
    bool valid = false;
};

}  // namespace msitool
