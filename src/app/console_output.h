// Text for whoever started the program from a command prompt. The program is a dialog
// program, so it has no console of its own: it borrows its parent's, or writes to the file or
// pipe its output was sent to.
#pragma once

#include <string>

#include "platform/system.h"
#include "platform/unicode_text.h"

namespace app {

// Where PrintToConsole put the text.
enum class ConsoleTarget {
    Nowhere,     // no parent console and no redirected output: nothing was printed
    Console,     // the parent's console, as UTF-16
    Redirected,  // the file, pipe or device the standard output was sent to, as UTF-8 bytes
};

// Text of the ANSI code page as UTF-8; a byte that cannot be converted becomes "?".
std::string AnsiToUtf8(const std::string& text);
using platform::Utf16ToUtf8;
// Every line end made CR LF (a CR LF already there stays one).
std::string WithCrLf(const std::string& text);

// Prints text of the ANSI code page, its lines ended with CR LF. A failed write ends the
// printing without any other effect.
ConsoleTarget PrintToConsole(platform::ISystem& sys, const std::string& ansiText);

}  // namespace app
