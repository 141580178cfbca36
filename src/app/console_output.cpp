#include "app/console_output.h"

#include "platform/ansi.h"
#include "platform/common.h"
#include "platform/unicode_text.h"

namespace app {

namespace {

// Older consoles refuse a single very large WriteConsoleW; pieces of this size always pass.
constexpr size_t kConsoleChunk = 8192;

bool WriteAllBytes(platform::ISystem& sys, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t written = 0;
        if (!sys.WriteStdOutput(bytes.data() + done, static_cast<uint32_t>(bytes.size() - done), written) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

bool WriteAllToConsole(platform::ISystem& sys, const std::u16string& text) {
    for (size_t done = 0; done < text.size();) {
        size_t piece = text.size() - done < kConsoleChunk ? text.size() - done : kConsoleChunk;
        uint32_t written = 0;
        if (!sys.WriteConsoleToStdOutput(text.substr(done, piece), written) || written == 0) return false;
        done += written < piece ? written : piece;
    }
    return true;
}

}  // namespace

std::string AnsiToUtf8(const std::string& text) {
    std::u16string wide;
    if (platform::AnsiToUtf16(text.data(), text.size(), wide)) return platform::Utf16ToUtf8(wide);
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return out;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

ConsoleTarget PrintToConsole(platform::ISystem& sys, const std::string& ansiText) {
    std::string text = WithCrLf(ansiText);
    bool console = false;
    uint32_t type = sys.GetStdOutputType(console);
    // Output sent to a file, a pipe or a device such as NUL goes there as bytes: WriteConsoleW
    // works on consoles only.
    if (type != platform::kFileTypeUnknown && !console) {
        (void)WriteAllBytes(sys, AnsiToUtf8(text));
        return ConsoleTarget::Redirected;
    }
    // 5: the process has a console already (one attached earlier).
    if (!sys.AttachParentConsole() && sys.GetLastError() != platform::kErrorAccessDenied)
        return ConsoleTarget::Nowhere;
    std::u16string wide;
    if (!platform::AnsiToUtf16(text.data(), text.size(), wide)) {
        for (char c : text)
            wide.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?');
    }
    (void)WriteAllToConsole(sys, wide);
    return ConsoleTarget::Console;
}

}  // namespace app
