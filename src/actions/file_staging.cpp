#include "actions/file_staging.h"

#include <cctype>
#include <cstdio>

#include "platform/ansi.h"

namespace actions {

uint32_t FileStaging::FolderFor(char drive, platform::FileHandle& folder, std::string& path,
                                bool& firstTime) {
    firstTime = false;
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
    auto known = folders_.find(drive);
    if (known == folders_.end()) {
        Folder made;
        const std::string root = std::string(1, drive) + ":\\";
        platform::FileHandle raw = 0;
        made.error = os_.fs.OpenRelative(0, platform::AnsiToUtf16(root), kHeldFolderAccess, kHeldFolderShare,
                                         platform::kOpenExisting, platform::kOpenDirectoryOnly, nullptr, raw);
        platform::UniqueFile rootHandle(&os_.fs, raw);
        std::string name;
        if (made.error == 0)
            made.error = MakeFreshAdministratorsFolder(os_, rootHandle.get(), kStagingFolderPrefix, 0,
                                                       made.handle, name);
        if (made.error == 0) made.path = root + name;
        firstTime = true;
        known = folders_.emplace(drive, std::move(made)).first;
    }
    if (known->second.error != 0) return known->second.error;
    folder = known->second.handle.get();
    path = known->second.path;
    return 0;
}

// Never a name that begins with a digit: "\0" separates the entries of a REG_MULTI_SZ as
// reg.exe prints it, and support engineers read PendingFileRenameOperations that way.
std::string FileStaging::NextName() {
    char name[16];
    std::snprintf(name, sizeof(name), "S%08X", ++next_);
    return name;
}

std::vector<std::string> FileStaging::Finish(std::vector<std::string>* failed) {
    held.Release();
    std::vector<std::string> queued;
    for (auto& [drive, folder] : folders_) {
        if (!folder.handle) continue;
        if (os_.fs.MoveFileExA(folder.path, nullptr, platform::kMovefileDelayUntilReboot))
            queued.push_back(folder.path);
        else if (failed != nullptr)
            failed->push_back(folder.path);
        folder.handle.reset();
    }
    folders_.clear();
    return queued;
}

}  // namespace actions
