// Files and directories (kernel32): handles, find, attributes, delete, rename, delayed deletion at restart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/common.h"

namespace platform {

// A file handle of this seam; 0 is "no handle" (the backend never hands out INVALID_HANDLE_VALUE).
using FileHandle = uintptr_t;
// A FindFirstFile listing; 0 is "no listing".
using FindHandle = uintptr_t;

enum : uint32_t {
    // Access rights.
    kGenericRead = 0x80000000,
    kGenericWrite = 0x40000000,
    kGenericAll = 0x10000000,
    kDeleteAccess = 0x00010000,  // DELETE
    kFileReadAttributes = 0x00000080,
    kFileWriteAttributes = 0x00000100,
    kFileListDirectory = 0x00000001,  // FILE_READ_DATA on a directory
    kFileTraverse = 0x00000020,       // FILE_EXECUTE on a directory

    // Share modes.
    kFileShareRead = 0x1,
    kFileShareWrite = 0x2,
    kFileShareDelete = 0x4,

    // Creation dispositions.
    kCreateNew = 1,
    kCreateAlways = 2,
    kOpenExisting = 3,
    kOpenAlways = 4,
    kTruncateExisting = 5,

    // Attributes.
    kFileAttributeReadonly = 0x1,
    kFileAttributeHidden = 0x2,
    kFileAttributeSystem = 0x4,
    kFileAttributeDirectory = 0x10,
    kFileAttributeArchive = 0x20,
    kFileAttributeNormal = 0x80,
    kFileAttributeReparsePoint = 0x400,  // a junction, symbolic link or mount point
    kInvalidFileAttributes = 0xFFFFFFFF,

    // CreateFile flags. A directory opens only with backup semantics; a link opens as
    // itself, not as what it points to, only with kFileFlagOpenReparsePoint.
    kFileFlagBackupSemantics = 0x02000000,
    kFileFlagOpenReparsePoint = 0x00200000,

    // SetFilePointerEx origins.
    kFileBegin = 0,
    kFileCurrent = 1,
    kFileEnd = 2,

    // MoveFileEx flags.
    kMovefileReplaceExisting = 0x1,
    kMovefileDelayUntilReboot = 0x4,

    // What OpenRelative must find or make.
    kOpenAnyObject = 0,
    kOpenDirectoryOnly = 1,  // FILE_DIRECTORY_FILE
    kOpenFileOnly = 2,       // FILE_NON_DIRECTORY_FILE

    // _access modes.
    kAccessExists = 0,
    kAccessWrite = 2,
    kAccessRead = 4,

    // GetDriveType results.
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamdisk = 6,
};

constexpr uint32_t kMaxPath = 260;  // MAX_PATH, terminator included

// The fields of WIN32_FIND_DATAA the product reads.
struct FindDataA {
    uint32_t attributes = 0;
    uint64_t size = 0;
    std::string name;  // cFileName
};

// The same for WIN32_FIND_DATAW.
struct FindDataW {
    uint32_t attributes = 0;
    uint64_t size = 0;
    std::u16string name;
};

// Every call is shaped after the kernel32 call of the same name. A bool result is the
// BOOL of the real call: false means the thread's last error (ISystem::GetLastError)
// says why. `sddl` stands for a SECURITY_ATTRIBUTES built from that SDDL text, or null
// for default security.
class IFileSystem {
  public:
    IFileSystem() = default;
    IFileSystem(const IFileSystem&) = delete;
    IFileSystem& operator=(const IFileSystem&) = delete;
    virtual ~IFileSystem() = default;

    // CloseHandle of a file handle.
    virtual void CloseHandle(FileHandle handle) = 0;
    // CreateFileW. On success the last error is 183 (ERROR_ALREADY_EXISTS) when OPEN_ALWAYS
    // or CREATE_ALWAYS found an existing file, else 0, as the real call leaves it.
    virtual bool CreateFileW(const std::u16string& path, uint32_t access, uint32_t shareMode,
                             const char* sddl, uint32_t disposition, uint32_t flagsAndAttributes,
                             FileHandle& out) = 0;
    virtual bool ReadFile(FileHandle handle, void* buffer, uint32_t toRead, uint32_t& read) = 0;
    virtual bool WriteFile(FileHandle handle, const void* data, uint32_t toWrite, uint32_t& written) = 0;
    // SetFilePointerEx; `newPosition` is the position after the move.
    virtual bool SetFilePointerEx(FileHandle handle, int64_t distance, uint32_t origin,
                                  uint64_t& newPosition) = 0;
    virtual bool GetFileSizeEx(FileHandle handle, uint64_t& size) = 0;
    // GetFileInformationByHandle, of which only dwFileAttributes is read: the attributes of
    // the object the handle holds, not of whatever now bears its name.
    virtual bool GetFileInformationByHandle(FileHandle handle, uint32_t& attributes) = 0;
    // The same call's nNumberOfLinks: how many names (hard links) the object has.
    virtual bool GetFileLinkCount(FileHandle handle, uint32_t& links) = 0;
    // The same call's volume serial number and file index, as "VVVVVVVV-IIIIIIIIIIIIIIII":
    // what tells the object from every other of the machine for as long as it exists.
    virtual bool GetFileIdentity(FileHandle handle, std::string& identity) = 0;

    // GetFileAttributesA/W: kInvalidFileAttributes on failure.
    virtual uint32_t GetFileAttributesA(const std::string& path) = 0;
    virtual uint32_t GetFileAttributesW(const std::u16string& path) = 0;
    virtual bool SetFileAttributesA(const std::string& path, uint32_t attributes) = 0;

    virtual bool DeleteFileA(const std::string& path) = 0;
    virtual bool DeleteFileW(const std::u16string& path) = 0;
    // MoveFileExA/W. A null `to` with kMovefileDelayUntilReboot queues the deletion of `from`
    // (a file or a directory) for the next restart.
    virtual bool MoveFileExA(const std::string& from, const char* to, uint32_t flags) = 0;
    virtual bool MoveFileExW(const std::u16string& from, const char16_t* to, uint32_t flags) = 0;
    // The paths the restart queue (PendingFileRenameOperations) holds for deletion, as MoveFileEx
    // was given them; false with the last error when the queue cannot be read.
    virtual bool GetPendingDeletions(std::vector<std::string>& paths) = 0;

    virtual bool CreateDirectoryA(const std::string& path, const char* sddl) = 0;
    virtual bool CreateDirectoryW(const std::u16string& path, const char* sddl) = 0;
    virtual bool RemoveDirectoryA(const std::string& path) = 0;

    // FindFirstFileA/W with a pattern whose last component may hold "*" and "?". A listing
    // of a directory ("dir\*") includes its "." and ".." entries.
    virtual bool FindFirstFileA(const std::string& pattern, FindDataA& data, FindHandle& out) = 0;
    virtual bool FindNextFileA(FindHandle handle, FindDataA& data) = 0;
    virtual bool FindFirstFileW(const std::u16string& pattern, FindDataW& data, FindHandle& out) = 0;
    virtual bool FindNextFileW(FindHandle handle, FindDataW& data) = 0;
    virtual void FindClose(FindHandle handle) = 0;

    // As the C runtime's _access: 0 when the file or directory allows `mode` (kAccess*), else -1.
    virtual int Access(const std::string& path, int mode) = 0;
    // The whole content of a file, opened for reading while others may read, write and delete
    // it. 0, or the Windows error of the open or read.
    virtual uint32_t ReadWholeFile(const std::string& path, std::string& bytes) = 0;

    // GetTempPathW into a buffer of `bufferChars` characters: the length of the path
    // (ending in "\\") without terminator; when it does not fit, the size needed and
    // `out` untouched; 0 with the last error on failure.
    virtual uint32_t GetTempPathW(uint32_t bufferChars, std::u16string& out) = 0;
    // CopyFileW; with `failIfExists` an existing target gives 80 (ERROR_FILE_EXISTS).
    virtual bool CopyFileW(const std::u16string& from, const std::u16string& to, bool failIfExists) = 0;

    // GetLogicalDriveStringsA into a buffer of `bufferChars` characters: the length written
    // without the final NUL ("C:\\", NUL, "D:\\", NUL, ...; `out` holds exactly those
    // characters), the length needed when the buffer is too small (`out` untouched), 0 with
    // the last error on failure.
    virtual uint32_t GetLogicalDriveStrings(uint32_t bufferChars, std::string& out) = 0;
    // GetDriveTypeA of a root such as "C:\\": one of the kDrive values.
    virtual uint32_t GetDriveType(const std::string& root) = 0;
    // GetVolumeInformationByHandleW's file system name ("NTFS", "ReFS", "FAT32", "exFAT") of the
    // volume that holds the object `file` holds. 0, or the Windows error.
    virtual uint32_t GetVolumeFileSystem(FileHandle file, std::string& name) = 0;

    // --- Changes through held handles (ntdll's NtCreateFile with a root directory and
    // NtSetInformationFile). Each returns a Windows error code (RtlNtStatusToDosError), 0 on
    // success; none follows a link at the name it is given, and none looks at what the
    // held directory's own name leads to now.

    // Opens `name`, one component (no separator, not "." or "..", no ":"; else 123,
    // ERROR_INVALID_NAME), inside the directory `parent` holds. With `parent` 0, `name` is a
    // drive's root ("C:\\") and nothing else. A link at `name` is opened as itself
    // (FILE_OPEN_REPARSE_POINT). `disposition` is CreateFileW's (kCreateNew, kOpenExisting,
    // kOpenAlways, kCreateAlways); `kind` a kOpen* value, and kOpenDirectoryOnly with
    // kCreateNew makes a directory. `sddl` is the new object's security (null: inherited).
    // Asking for kFileListDirectory or kFileTraverse on a directory, without
    // kFileShareDelete, keeps anyone from renaming or deleting it until the handle closes.
    virtual uint32_t OpenRelative(FileHandle parent, const std::u16string& name, uint32_t access,
                                  uint32_t shareMode, uint32_t disposition, uint32_t kind, const char* sddl,
                                  FileHandle& out) = 0;
    // FileRenameInformation: moves the object `file` holds (opened with DELETE) to `newName`
    // (one component) inside the directory `newParent` holds, on the same volume (17
    // otherwise). An existing `newName` is never replaced (183). Handles open on the object
    // stay open on it.
    virtual uint32_t RenameByHandle(FileHandle file, FileHandle newParent, const std::u16string& newName) = 0;
    // FileDispositionInformation: the object `file` holds (opened with DELETE) is deleted
    // when its last handle closes. 145 for a directory with entries, 5 for a read-only file.
    virtual uint32_t DeleteByHandle(FileHandle file) = 0;
    // FileBasicInformation with only the attributes set (kFileAttributeNormal for none);
    // the handle needs kFileWriteAttributes.
    virtual uint32_t SetAttributesByHandle(FileHandle file, uint32_t attributes) = 0;

    // FlushFileBuffers: what was written through `file` (opened for writing) is on the disk
    // when it returns true; false with the last error.
    virtual bool FlushFileBuffers(FileHandle file) = 0;
};

using UniqueFile = UniqueIn<IFileSystem, FileHandle, &IFileSystem::CloseHandle>;
using UniqueFind = UniqueIn<IFileSystem, FindHandle, &IFileSystem::FindClose>;

}  // namespace platform
