#include "msitool/command_line.h"

#include "msitool/wide_text.h"

namespace msitool {
namespace {

// Program name and two arguments; a third is only kept to make the command invalid.
constexpr size_t kMaxSplitArguments = 4;

bool IsHelpSwitch(const std::u16string& argument) {
    static const char16_t* const kHelpSwitches[] = {u"-?", u"--?",   u"/?",     u"-h",   u"--h",
                                                    u"/h", u"-help", u"--help", u"/help"};
    for (const char16_t* s : kHelpSwitches)
        if (EqualsNoCase(argument, s)) return true;
    return false;
}

}  // namespace

CommandLine::CommandLine(const std::u16string& commandText) {
    std::vector<std::u16string> arguments{std::u16string()};
    size_t pos = 0;
    while (arguments.size() < kMaxSplitArguments) {
        pos = commandText.find_first_not_of(u' ', pos);
        if (pos == std::u16string::npos) break;
        size_t end = commandText.find(u' ', pos);
        if (end == std::u16string::npos) end = commandText.size();
        arguments.push_back(commandText.substr(pos, end - pos));
        pos = end;
    }
    Parse(arguments);
}

bool CommandLine::IsValid() const { return valid; }

void CommandLine::Parse(const std::vector<std::u16string>& arguments) {
    argc = static_cast<int32_t>(arguments.size() > INT32_MAX ? INT32_MAX : arguments.size());
    programName = arguments.empty() ? std::u16string() : arguments[0];
    valid = argc == 2 || argc == 3;
    if (!valid) return;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        if (EqualsNoCase(argument, u"/hideoldaddremoves")) {
            hideOldAddRemoves = true;
        } else if (argument.find(u"/u:") != std::u16string::npos) {
            upgradeCode = argument.substr(argument.rfind(u':') + 1);
        } else if (IsHelpSwitch(argument)) {
            help = true;
            return;
        } else if (EqualsNoCase(argument, u"/uninstall")) {
            uninstall = true;
        } else {
            valid = false;
            return;
        }
    }
}

}  // namespace msitool
