#include "actions/file_staging.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "expand/handlers_internal.h"
#include "platform/ansi.h"

namespace actions {

namespace {

constexpr char kLeftoverTag[] = "FileStaging::QueueLeftovers";

bool KeepsAccessLists(const std::string& fileSystem) {
    return platform::AnsiCompareNoCase(fileSystem.c_str(), "NTFS") == 0 ||
           platform::AnsiCompareNoCase(fileSystem.c_str(), "ReFS") == 0;
}

}  // namespace

const FileStaging::Volume& FileStaging::FolderFor(char drive, platform::FileHandle& folder, std::string& path,
                                                  bool& firstTime) {
    using Unstaged = Volume::Unstaged;
    firstTime = false;
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
    auto known = folders_.find(drive);
    if (known == folders_.end()) {
        Folder made;
        Volume& v = made.volume;
        const std::string root = std::string(1, drive) + ":\\";
        v.driveType = os_.fs.GetDriveType(root);
        platform::FileHandle raw = 0;
        v.error =
            os_.fs.OpenRelative(0, platform::AnsiToUtf16(root), guard::kLightFolderAccess, guard::kShareAll,
                                platform::kOpenExisting, platform::kOpenDirectoryOnly, nullptr, raw);
        platform::UniqueFile rootHandle(&os_.fs, raw);
        if (v.error == 0) v.error = os_.fs.GetVolumeFileSystem(rootHandle.get(), v.fileSystem);
        std::string name;
        if (v.error != 0)
            v.unstaged = Unstaged::kNoFolder;
        else if (v.driveType != platform::kDriveFixed)
            v.unstaged = Unstaged::kNotFixed;
        else if (!KeepsAccessLists(v.fileSystem))
            v.unstaged = Unstaged::kNoAccessLists;
        else if ((v.error = guard::MakeFreshAdministratorsFolder(os_, rootHandle.get(), kStagingFolderPrefix,
                                                                 0, made.handle, name)) != 0)
            v.unstaged = Unstaged::kNoFolder;
        else
            made.path = v.top = root + name;
        std::string identity;
        if (v.unstaged == Unstaged::kNo && onMade_ && os_.fs.GetFileIdentity(made.handle.get(), identity))
            onMade_(made.path + " " + identity);
        firstTime = true;
        known = folders_.emplace(drive, std::move(made)).first;
    }
    Folder& f = known->second;
    if (f.volume.unstaged != Volume::Unstaged::kNo) return f.volume;
    if (!f.batch || f.inBatch >= kPerBatch) {
        // Inside a folder only Administrators reach, under a name that is the next in turn.
        char name[16];
        std::snprintf(name, sizeof(name), "B%07X", static_cast<unsigned>(f.batches.size() + 1));
        platform::UniqueFile made;
        if (guard::MakeAdministratorsFolder(os_, f.handle.get(), name, true, 0, made) == 0) {
            f.batch = std::move(made);
            f.batches.push_back(f.path + "\\" + name);
            f.inBatch = 0;
        }
    }
    // Without a batch folder the objects go on into the last one, or the staging folder itself.
    ++f.inBatch;
    folder = f.batch ? f.batch.get() : f.handle.get();
    path = f.batch ? f.batches.back() : f.path;
    return f.volume;
}

// Never a name that begins with a digit: "\0" separates the entries of a REG_MULTI_SZ as
// reg.exe prints it, and support engineers read PendingFileRenameOperations that way.
std::string FileStaging::NextName() {
    char name[16];
    std::snprintf(name, sizeof(name), "S%08X", ++next_);
    return name;
}

namespace {

bool IsStagingName(const std::string& name) {
    const size_t prefix = sizeof(kStagingFolderPrefix) - 1;
    if (name.size() != prefix + 32 || name.compare(0, prefix, kStagingFolderPrefix) != 0) return false;
    for (size_t i = prefix; i < name.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

// Queues what `folder` holds, depth first, then nothing else; counts what was queued and
// keeps the first error.
void QueueContents(platform::Platform& os, const std::string& folder, FileStaging::Leftover& out) {
    platform::FindDataW data;
    platform::FindHandle find = 0;
    if (!os.fs.FindFirstFileW(platform::AnsiToUtf16(folder + "\\*"), data, find)) return;
    platform::UniqueFind closer(&os.fs, find);
    do {
        if (data.name == u"." || data.name == u"..") continue;
        // Queued by its narrow spelling, a name the ANSI code page cannot spell would queue
        // another object or none: it stays, and so does the folder holding it.
        if (!platform::SurvivesAnsi(data.name)) {
            const bool directory = (data.attributes & platform::kFileAttributeDirectory) != 0;
            expand::detail::LogUnspellable(kLeftoverTag, directory ? "Folder" : "File",
                                           platform::AnsiToUtf16(folder) + u"\\" + data.name);
            if (out.error == 0) out.error = platform::kErrorInvalidName;
            continue;
        }
        const std::string path = folder + "\\" + platform::Utf16ToAnsi(data.name);
        const bool directory = (data.attributes & platform::kFileAttributeDirectory) != 0 &&
                               (data.attributes & platform::kFileAttributeReparsePoint) == 0;
        if (directory) QueueContents(os, path, out);
        if (os.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot))
            ++out.queued;
        else if (out.error == 0)
            out.error = os.sys.GetLastError();
    } while (os.fs.FindNextFileW(find, data));
}

}  // namespace

std::vector<FileStaging::Leftover> FileStaging::QueueLeftovers(const std::vector<std::string>& made) {
    std::vector<Leftover> found;
    std::string drives;
    if (os_.fs.GetLogicalDriveStrings(1024, drives) == 0) return found;
    // Unread, the queue names nothing: each folder is then queued again, which does no harm.
    std::vector<std::string> pending;
    if (!os_.fs.GetPendingDeletions(pending)) pending.clear();
    const auto inQueue = [&](const std::string& path) {
        return std::any_of(pending.begin(), pending.end(), [&](const std::string& queued) {
            return platform::AnsiCompareNoCase(queued.c_str(), path.c_str()) == 0;
        });
    };
    for (size_t at = 0; at < drives.size() && drives[at] != '\0'; at = drives.find('\0', at) + 1) {
        const std::string root = drives.substr(at, 3);  // "C:\\"
        if (root.size() != 3 || os_.fs.GetDriveType(root) != platform::kDriveFixed) continue;
        platform::FileHandle raw = 0;
        if (os_.fs.OpenRelative(0, platform::AnsiToUtf16(root), guard::kLightFolderAccess, guard::kShareAll,
                                platform::kOpenExisting, platform::kOpenDirectoryOnly, nullptr, raw) != 0)
            continue;
        platform::UniqueFile rootHandle(&os_.fs, raw);
        std::vector<std::string> names;
        platform::FindDataW data;
        platform::FindHandle find = 0;
        if (os_.fs.FindFirstFileW(platform::AnsiToUtf16(root + kStagingFolderPrefix + "*"), data, find)) {
            platform::UniqueFind closer(&os_.fs, find);
            // A staging folder's name is ASCII: one whose narrow spelling only looks like it
            // (full-width letters spelt in their best fit) is another's folder.
            do {
                const std::string name = platform::Utf16ToAnsi(data.name);
                if (platform::SurvivesAnsi(data.name) && IsStagingName(name)) names.push_back(name);
            } while (os_.fs.FindNextFileW(find, data));
        }
        for (const std::string& name : names) {
            Leftover left;
            left.path = root + name;
            if (inQueue(left.path)) {
                left.finished = true;
                found.push_back(left);
                continue;
            }
            // Held without letting anyone rename or delete it until its names are queued;
            // a link of that name is opened as itself and is never ours.
            raw = 0;
            uint32_t rc = os_.fs.OpenRelative(rootHandle.get(), platform::AnsiToUtf16(name),
                                              guard::kHeldFolderAccess | platform::kReadControl,
                                              guard::kHeldFolderShare, platform::kOpenExisting,
                                              platform::kOpenDirectoryOnly, nullptr, raw);
            platform::UniqueFile folder(&os_.fs, raw);
            uint32_t attributes = 0;
            std::string identity;
            const auto madeByARun = [&] {
                return os_.fs.GetFileIdentity(folder.get(), identity) &&
                       std::find(made.begin(), made.end(), left.path + " " + identity) != made.end();
            };
            if (rc != 0 || !os_.fs.GetFileInformationByHandle(folder.get(), attributes) ||
                (attributes & platform::kFileAttributeReparsePoint) != 0 ||
                (guard::UserCanChange(os_, folder.get(), true) && !madeByARun())) {
                left.notOurs = true;
                found.push_back(left);
                continue;
            }
            QueueContents(os_, left.path, left);
            if (os_.fs.MoveFileExA(left.path, nullptr, platform::kMovefileDelayUntilReboot))
                ++left.queued;
            else if (left.error == 0)
                left.error = os_.sys.GetLastError();
            found.push_back(left);
        }
    }
    return found;
}

std::vector<std::string> FileStaging::Finish(std::vector<std::string>* failed) {
    held_.Release();
    std::vector<std::string> queued;
    for (auto& [drive, folder] : folders_) {
        if (!folder.handle) continue;
        folder.batch.reset();
        folder.batches.push_back(folder.path);
        for (const std::string& path : folder.batches) {
            if (os_.fs.MoveFileExA(path, nullptr, platform::kMovefileDelayUntilReboot))
                queued.push_back(path);
            else if (failed != nullptr)
                failed->push_back(path);
        }
        folder.handle.reset();
    }
    folders_.clear();
    return queued;
}

}  // namespace actions
