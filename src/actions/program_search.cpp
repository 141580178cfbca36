#include "actions/program_search.h"

#include <cctype>

#include "guard/held_path.h"

namespace actions {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFullPath(const std::string& name) {
    if (name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
        IsSeparator(name[2]))
        return true;
    return name.size() >= 3 && IsSeparator(name[0]) && IsSeparator(name[1]) && !IsSeparator(name[2]);
}

// Where the name leads, before any judgement of who could have put it there.
uint32_t LocateProgram(platform::Platform& os, const std::string& entry, std::string& program) {
    if (IsFullPath(entry)) {
        if (os.fs.GetFileAttributesA(entry) == platform::kInvalidFileAttributes) {
            const uint32_t error = os.sys.GetLastError();
            return error != 0 ? error : platform::kErrorFileNotFound;
        }
        program = entry;
        return 0;
    }
    if (entry.empty() || entry.find_first_of("\\/:") != std::string::npos)
        return platform::kErrorFileNotFound;
    // The Windows folder as System32's parent: on a terminal server GetWindowsDirectory may
    // give a program a private one in the user's profile.
    std::string windows;
    if (!os.shell.GetSystemDirectory(windows)) return platform::kErrorFileNotFound;
    while (!windows.empty() && IsSeparator(windows.back())) windows.pop_back();
    const size_t cut = windows.find_last_of("\\/");
    windows.resize(cut == std::string::npos ? 0 : cut);
    if (!IsFullPath(windows + "\\")) return platform::kErrorFileNotFound;
    for (std::string dir : {windows, windows.substr(0, 3)}) {
        if (!IsSeparator(dir.back())) dir += '\\';
        const std::string candidate = dir + entry;
        if (candidate.size() >= platform::kMaxPath) continue;
        const uint32_t attributes = os.fs.GetFileAttributesA(candidate);
        if (attributes == platform::kInvalidFileAttributes ||
            (attributes & platform::kFileAttributeDirectory))
            continue;
        program = candidate;
        return 0;
    }
    return platform::kErrorFileNotFound;
}

}  // namespace

uint32_t FindProgramToStart(platform::Platform& os, const std::string& entry, std::string& program) {
    if (entry.size() >= platform::kMaxPath) return platform::kErrorFilenameExcedRange;
    std::string found;
    if (uint32_t code = LocateProgram(os, entry, found)) return code;
    program = found;
    // The run is elevated: a program someone else could have written would run with its rights.
    return guard::StandardUserCanChange(os, found) ? kErrorProgramUserCanChange : 0;
}

}  // namespace actions
