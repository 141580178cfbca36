#include "platform/environment_text.h"

#include "platform/ansi.h"

namespace platform {

std::string ExpandEnvironmentText(ISystem& sys, const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t open = text.find('%', pos);
        size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
        if (close == std::string::npos) {
            out += text.substr(pos);
            break;
        }
        out += text.substr(pos, open - pos);
        std::string name = text.substr(open + 1, close - open - 1);
        std::u16string wide, value;
        if (!name.empty() && AnsiToUtf16(name.c_str(), name.size(), wide) &&
            sys.GetEnvironmentVariable(wide, value)) {
            out += Utf16ToAnsi(value);
            pos = close + 1;
        } else {
            // The closing "%" may open the next reference.
            out += text.substr(open, close - open);
            pos = close;
        }
    }
    return out;
}

}  // namespace platform
