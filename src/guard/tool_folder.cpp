#include "guard/tool_folder.h"

#include "platform/ansi.h"

namespace guard {

std::string ToolFolderPath(platform::Platform& os) {
    std::string windows;
    if (!os.shell.GetWindowsDirectory(windows) || windows.empty()) return std::string();
    while (windows.size() > 3 && windows.back() == '\\') windows.pop_back();
    return windows + "\\Logs\\" + kToolFolderName;
}

uint32_t ToolFolder::Open(const char* sub) {
    folder_.reset();
    top_.reset();
    path_.clear();
    const std::string top = ToolFolderPath(os_);
    if (top.empty()) return platform::kErrorPathNotFound;
    // Holds the Windows folder and its Logs folder, made if this Windows lacks it, with the
    // list the Windows folder hands down. Neither is held in a way that a user's handle on
    // it could keep the run out.
    const std::string logs = top.substr(0, top.rfind('\\'));
    uint32_t rc = held_.HoldFolder(logs, true);
    if (rc != 0) return rc;
    if ((rc = Take(held_.Parent(), top, kToolFolderName, top_))) return rc;
    path_ = top;
    if (sub == nullptr) {
        folder_ = std::move(top_);
        return 0;
    }
    if ((rc = Take(top_.get(), top + "\\" + sub, sub, folder_))) {
        path_.clear();
        return rc;
    }
    path_ = top + "\\" + sub;
    return 0;
}

uint32_t ToolFolder::Take(platform::FileHandle parent, const std::string& path, const char* name,
                          platform::UniqueFile& out) {
    bool tookOver = false;
    if (uint32_t rc = MakeAdministratorsFolder(os_, parent, name, false, 0, out, &tookOver)) return rc;
    // A file system that keeps no owners or access lists (Wine's; FAT) tells nobody's files
    // from the tool's: there the folder is open to all whatever the tool does, and its files
    // are taken as they are.
    ownersKept_ = !UserCanChange(os_, out.get(), true);
    if (tookOver && ownersKept_) SetAsideForeign(out.get(), path);
    return 0;
}

// What a standard user could have put in the folder before it was taken over goes into a
// fresh folder of its own, where the tool never reads: a planted record, a lock held open,
// a link named like a backup. What a machine account wrote stays; a link or a file with
// other names is never one of those.
void ToolFolder::SetAsideForeign(platform::FileHandle folder, const std::string& path) {
    std::vector<std::u16string> names;
    platform::FindDataW data;
    platform::FindHandle find = 0;
    // Only names come from the listing: each is opened inside the held folder.
    if (os_.fs.FindFirstFileW(platform::AnsiToUtf16(path + "\\*"), data, find)) {
        platform::UniqueFind closer(&os_.fs, find);
        do {
            if (data.name != u"." && data.name != u"..") names.push_back(data.name);
        } while (os_.fs.FindNextFileW(find, data));
    }
    platform::UniqueFile aside;
    for (const std::u16string& name : names) {
        platform::FileHandle raw = 0;
        if (os_.fs.OpenRelative(folder, name, platform::kDeleteAccess | platform::kReadControl, kShareAll,
                                platform::kOpenExisting, platform::kOpenAnyObject, nullptr, raw) != 0)
            continue;
        platform::UniqueFile object(&os_.fs, raw);
        if (IsTheTools(object.get())) continue;
        std::string made;
        if (!aside && MakeFreshAdministratorsFolder(os_, folder, kSetAsidePrefix, 0, aside, made) == 0)
            setAside_ = path + "\\" + made;
        if (aside) (void)os_.fs.RenameByHandle(object.get(), aside.get(), name);
    }
}

bool ToolFolder::IsTheTools(platform::FileHandle object) {
    uint32_t attributes = 0;
    std::string owner;
    return os_.fs.GetFileInformationByHandle(object, attributes) &&
           (attributes & platform::kFileAttributeReparsePoint) == 0 &&
           (!ownersKept_ ||
            (os_.sec.GetFileSecurityInfo(object, platform::kOwnerSecurityInformation, &owner, nullptr) == 0 &&
             IsMachineAccount(owner))) &&
           ((attributes & platform::kFileAttributeDirectory) != 0 || CheckSingleName(os_, object) == 0);
}

uint32_t ToolFolder::HoldExclusive(const std::string& name, platform::UniqueFile& out) {
    out.reset();
    if (!folder_) return platform::kErrorInvalidHandle;
    platform::FileHandle raw = 0;
    uint32_t rc = os_.fs.OpenRelative(folder_.get(), platform::AnsiToUtf16(name), platform::kGenericRead, 0,
                                      platform::kOpenAlways, platform::kOpenFileOnly, nullptr, raw);
    if (rc == platform::kErrorSharingViolation) {
        // Only the tool's own file held by another run means "another run": a file someone
        // else made (and holds) in a folder that was open to them is not the tool's lock.
        // Asked with access that takes no part in sharing, so it cannot be refused.
        if (os_.fs.OpenRelative(folder_.get(), platform::AnsiToUtf16(name), platform::kReadControl, kShareAll,
                                platform::kOpenExisting, platform::kOpenFileOnly, nullptr, raw) == 0) {
            platform::UniqueFile held(&os_.fs, raw);
            if (!IsTheTools(held.get())) return kErrorNotTheTools;
        }
    }
    if (rc != 0) return rc;
    out.reset(&os_.fs, raw);
    return 0;
}

uint32_t ToolFolder::ReadFile(const std::string& name, size_t limit, std::string& bytes) {
    bytes.clear();
    if (!folder_) return platform::kErrorInvalidHandle;
    platform::FileHandle raw = 0;
    uint32_t rc = os_.fs.OpenRelative(
        folder_.get(), platform::AnsiToUtf16(name), platform::kGenericRead | platform::kReadControl,
        platform::kFileShareRead, platform::kOpenExisting, platform::kOpenFileOnly, nullptr, raw);
    if (rc != 0) return rc;
    platform::UniqueFile file(&os_.fs, raw);
    if (!IsTheTools(file.get())) return kErrorNotTheTools;
    uint64_t size = 0;
    if (!os_.fs.GetFileSizeEx(file.get(), size)) return os_.sys.GetLastError();
    if (size > limit) return platform::kErrorNotEnoughMemory;
    bytes.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t read = 0;
        if (!os_.fs.ReadFile(file.get(), &bytes[done], static_cast<uint32_t>(bytes.size() - done), read))
            return os_.sys.GetLastError();
        if (read == 0) break;
        done += read;
    }
    bytes.resize(done);
    return 0;
}

uint32_t ToolFolder::Rename(const std::string& from, const std::string& to) {
    if (!folder_) return platform::kErrorInvalidHandle;
    platform::FileHandle raw = 0;
    uint32_t rc = os_.fs.OpenRelative(folder_.get(), platform::AnsiToUtf16(from), platform::kDeleteAccess,
                                      platform::kFileShareRead, platform::kOpenExisting,
                                      platform::kOpenFileOnly, nullptr, raw);
    if (rc != 0) return rc;
    platform::UniqueFile file(&os_.fs, raw);
    return os_.fs.RenameByHandle(file.get(), folder_.get(), platform::AnsiToUtf16(to));
}

uint32_t ToolFolder::Delete(const std::string& name) {
    if (!folder_) return platform::kErrorInvalidHandle;
    platform::FileHandle raw = 0;
    uint32_t rc = os_.fs.OpenRelative(folder_.get(), platform::AnsiToUtf16(name), platform::kDeleteAccess,
                                      platform::kFileShareRead | platform::kFileShareDelete,
                                      platform::kOpenExisting, platform::kOpenAnyObject, nullptr, raw);
    if (rc == platform::kErrorFileNotFound) return 0;
    if (rc != 0) return rc;
    platform::UniqueFile file(&os_.fs, raw);
    return os_.fs.DeleteByHandle(file.get());
}

uint32_t ToolFolder::CreateFile(const std::string& name, bool fresh, platform::UniqueFile& out) {
    out.reset();
    if (!folder_) return platform::kErrorInvalidHandle;
    platform::FileHandle raw = 0;
    if (!fresh) {
        // What bears the name goes first, a link as itself: the new file is the tool's own,
        // with the folder's list, and nobody's link or leftover is written through.
        uint32_t rc = os_.fs.OpenRelative(
            folder_.get(), platform::AnsiToUtf16(name), platform::kDeleteAccess,
            platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
            platform::kOpenExisting, platform::kOpenAnyObject, nullptr, raw);
        if (rc == 0) {
            platform::UniqueFile old(&os_.fs, raw);
            if ((rc = os_.fs.DeleteByHandle(old.get())) != 0) return rc;
        } else if (rc != platform::kErrorFileNotFound) {
            return rc;
        }
    }
    uint32_t rc = os_.fs.OpenRelative(folder_.get(), platform::AnsiToUtf16(name), platform::kGenericWrite,
                                      platform::kFileShareRead, platform::kCreateNew, platform::kOpenFileOnly,
                                      nullptr, raw);
    if (rc != 0) return rc;
    out.reset(&os_.fs, raw);
    return 0;
}

uint32_t ToolFolder::Write(const std::string& name, const std::string& bytes) {
    platform::UniqueFile file;
    if (uint32_t rc = CreateFile(name, false, file)) return rc;
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t written = 0;
        if (!os_.fs.WriteFile(file.get(), bytes.data() + done, static_cast<uint32_t>(bytes.size() - done),
                              written))
            return os_.sys.GetLastError();
        if (written == 0) return platform::kErrorCanNotComplete;
        done += written;
    }
    // On the disk before it is closed and given its name: a record that a power cut can leave
    // renamed but empty would steer the next run by nothing.
    if (!os_.fs.FlushFileBuffers(file.get())) return os_.sys.GetLastError();
    return 0;
}

uint32_t WriteToolFile(platform::Platform& os, const std::string& name, const std::string& bytes) {
    ToolFolder folder(os);
    if (uint32_t rc = folder.Open()) return rc;
    return folder.Write(name, bytes);
}

}  // namespace guard
