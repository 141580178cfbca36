#include "actions/program_search.h"

#include <cctype>

namespace actions {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFullPath(const std::string& name) {
    if (name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
        IsSeparator(name[2]))
        return true;
    return name.size() >= 3 && IsSeparator(name[0]) && IsSeparator(name[1]) && !IsSeparator(name[2]);
}

}  // namespace

uint32_t FindProgramToStart(platform::Platform& os, const std::string& entry, std::string& program) {
    if (entry.size() >= platform::kMaxPath) return platform::kErrorFilenameExcedRange;
    if (IsFullPath(entry)) {
        program = entry;
        return 0;
    }
    if (entry.empty() || entry.find_first_of("\\/:") != std::string::npos) return platform::kErrorFileNotFound;
    std::string windows;
    if (!os.shell.GetWindowsDirectory(windows) || !IsFullPath(windows)) return platform::kErrorFileNotFound;
    for (std::string dir : {windows, windows.substr(0, 3)}) {
        if (!IsSeparator(dir.back())) dir += '\\';
        const std::string candidate = dir + entry;
        if (candidate.size() >= platform::kMaxPath) continue;
        const uint32_t attributes = os.fs.GetFileAttributesA(candidate);
        if (attributes == platform::kInvalidFileAttributes || (attributes & platform::kFileAttributeDirectory))
            continue;
        program = candidate;
        return 0;
    }
    return platform::kErrorFileNotFound;
}

}  // namespace actions
