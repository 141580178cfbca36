#include "logging/file_utils.h"

#include "logging/log_settings.h"

namespace KvQmrLogging {

bool FileUtilsWin32::FileExists(const std::u16string& path) {
    platform::FindDataW data;
    platform::FindHandle handle = 0;
    if (!os_.fs.FindFirstFileW(path, data, handle)) return false;
    platform::UniqueFind find(&os_.fs, handle);
    return (data.attributes & platform::kFileAttributeDirectory) == 0;
}

bool FileUtilsWin32::FileDelete(const std::u16string& path) {
    if (os_.fs.DeleteFileW(path)) return true;
    // Another process still has the file open. It stays: a deletion queued for the restart
    // would be carried out by name in a folder everyone may write, where by then the name
    // could lead anywhere.
    DebugTrace(os_.sys,
               u"kv_qmr_log!FileUtilsWin32::FileDelete(): DeleteFile '%s' failed with Win32 error: %lu; the "
               u"file is left\n",
               path.c_str(), static_cast<unsigned long>(os_.sys.GetLastError()));
    return false;
}

bool FileUtilsWin32::FileRename(const std::u16string& from, const std::u16string& to) {
    if (os_.fs.MoveFileExW(from, to.c_str(), platform::kMovefileReplaceExisting)) return true;
    DebugTrace(
        os_.sys,
        u"kv_qmr_log!FileUtilsWin32::FileRename(): MoveFileEx '%s' -> '%s' failed with Win32 error: %lu\n",
        from.c_str(), to.c_str(), static_cast<unsigned long>(os_.sys.GetLastError()));
    return false;
}

bool FileUtilsWin32::CreateDirectoryTree(const std::u16string& path, const char* sddl) {
    if (DirectoryExists(path)) return true;
    size_t slash = path.find_last_of(u'\\');
    if (slash != std::u16string::npos && !CreateDirectoryTree(path.substr(0, slash), sddl)) return false;
    if (os_.fs.CreateDirectoryW(path, sddl)) return true;
    // Another process that starts logging at the same moment may have created it first.
    return os_.sys.GetLastError() == platform::kErrorAlreadyExists && DirectoryExists(path);
}

bool FileUtilsWin32::DirectoryExists(const std::u16string& path) {
    uint32_t attributes = os_.fs.GetFileAttributesW(path);
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kFileAttributeDirectory) != 0;
}

}  // namespace KvQmrLogging
