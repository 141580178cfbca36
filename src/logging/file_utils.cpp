#include "logging/file_utils.h"

#include "guard/held_path.h"
#include "logging/log_settings.h"

namespace KvQmrLogging {

std::u16string LeafOf(const std::u16string& path) {
    size_t slash = path.find_last_of(u'\\');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

uint32_t FileUtilsWin32::OpenEntry(platform::FileHandle folder, const std::u16string& path, uint32_t access,
                                   platform::UniqueFile& out) {
    out.reset();
    platform::FileHandle raw = 0;
    // Attributes only take no part in sharing: nobody's handle keeps the log from looking.
    if (uint32_t rc = os_.fs.OpenRelative(folder, LeafOf(path), access | platform::kFileReadAttributes,
                                          guard::kShareAll, platform::kOpenExisting, platform::kOpenAnyObject,
                                          nullptr, raw))
        return rc;
    platform::UniqueFile entry(&os_.fs, raw);
    uint32_t attributes = 0;
    if (!os_.fs.GetFileInformationByHandle(entry.get(), attributes)) {
        uint32_t error = os_.sys.GetLastError();
        return error != platform::kErrorSuccess ? error : platform::kErrorInvalidFunction;
    }
    if (attributes & platform::kFileAttributeReparsePoint) return guard::kErrorStoppedOnSymlink;
    // Another name of the file may lie anywhere on the volume, made by anyone.
    if ((attributes & platform::kFileAttributeDirectory) == 0)
        if (uint32_t rc = guard::CheckSingleName(os_, entry.get())) return rc;
    out = std::move(entry);
    return platform::kErrorSuccess;
}

bool FileUtilsWin32::FileExists(platform::FileHandle folder, const std::u16string& path) {
    platform::FileHandle raw = 0;
    uint32_t rc = os_.fs.OpenRelative(folder, LeafOf(path), platform::kFileReadAttributes, guard::kShareAll,
                                      platform::kOpenExisting, platform::kOpenAnyObject, nullptr, raw);
    if (rc == platform::kErrorFileNotFound || rc == platform::kErrorPathNotFound) return false;
    if (rc != platform::kErrorSuccess) return true;
    platform::UniqueFile entry(&os_.fs, raw);
    uint32_t attributes = 0;
    return !os_.fs.GetFileInformationByHandle(entry.get(), attributes) ||
           (attributes & platform::kFileAttributeDirectory) == 0;
}

uint32_t FileUtilsWin32::FileDelete(platform::FileHandle folder, const std::u16string& path) {
    platform::UniqueFile file;
    uint32_t rc = OpenEntry(folder, path, platform::kDeleteAccess, file);
    if (rc == platform::kErrorSuccess) rc = os_.fs.DeleteByHandle(file.get());
    if (rc == platform::kErrorSuccess) return rc;
    // Another process still has the file open. It stays: a deletion queued for the restart
    // would be carried out by name in a folder everyone may write, where by then the name
    // could lead anywhere.
    DebugTrace(os_.sys,
               u"kv_qmr_log!FileUtilsWin32::FileDelete(): DeleteFile '%s' failed with Win32 error: %lu; the "
               u"file is left\n",
               path.c_str(), static_cast<unsigned long>(rc));
    return rc;
}

uint32_t FileUtilsWin32::FileRename(platform::FileHandle folder, const std::u16string& from,
                                    const std::u16string& to) {
    platform::UniqueFile file;
    uint32_t rc = OpenEntry(folder, from, platform::kDeleteAccess, file);
    if (rc == platform::kErrorSuccess) rc = os_.fs.RenameByHandle(file.get(), folder, LeafOf(to));
    if (rc == platform::kErrorAlreadyExists) {
        // A rename by handle never replaces: the entry in the way goes first, as itself.
        platform::UniqueFile old;
        rc = OpenEntry(folder, to, platform::kDeleteAccess, old);
        if (rc == platform::kErrorSuccess) rc = os_.fs.DeleteByHandle(old.get());
        old.reset();  // the name is free once its last handle is closed
        if (rc == platform::kErrorSuccess) rc = os_.fs.RenameByHandle(file.get(), folder, LeafOf(to));
    }
    if (rc == platform::kErrorSuccess) return rc;
    DebugTrace(
        os_.sys,
        u"kv_qmr_log!FileUtilsWin32::FileRename(): MoveFileEx '%s' -> '%s' failed with Win32 error: %lu\n",
        from.c_str(), to.c_str(), static_cast<unsigned long>(rc));
    return rc;
}

}  // namespace KvQmrLogging
