#pragma once

#include "platform/filesystem.h"

namespace platform::win32 {

class Win32FileSystem : public IFileSystem {
  public:
    void CloseHandle(FileHandle handle) override;
    bool CreateFileW(const std::u16string& path, uint32_t access, uint32_t shareMode, const char* sddl,
                     uint32_t disposition, uint32_t flagsAndAttributes, FileHandle& out) override;
    bool ReadFile(FileHandle handle, void* buffer, uint32_t toRead, uint32_t& read) override;
    bool WriteFile(FileHandle handle, const void* data, uint32_t toWrite, uint32_t& written) override;
    bool SetFilePointerEx(FileHandle handle, int64_t distance, uint32_t origin,
                          uint64_t& newPosition) override;
    bool GetFileSizeEx(FileHandle handle, uint64_t& size) override;
    bool GetFileInformationByHandle(FileHandle handle, uint32_t& attributes) override;
    bool GetFileIdentity(FileHandle handle, std::string& identity) override;
    bool GetFileLinkCount(FileHandle handle, uint32_t& links) override;
    uint32_t GetFileAttributesA(const std::string& path) override;
    uint32_t GetFileAttributesW(const std::u16string& path) override;
    bool SetFileAttributesA(const std::string& path, uint32_t attributes) override;
    bool DeleteFileA(const std::string& path) override;
    bool DeleteFileW(const std::u16string& path) override;
    bool MoveFileExA(const std::string& from, const char* to, uint32_t flags) override;
    bool GetPendingDeletions(std::vector<std::string>& paths) override;
    bool MoveFileExW(const std::u16string& from, const char16_t* to, uint32_t flags) override;
    bool CreateDirectoryA(const std::string& path, const char* sddl) override;
    bool CreateDirectoryW(const std::u16string& path, const char* sddl) override;
    bool RemoveDirectoryA(const std::string& path) override;
    bool FindFirstFileA(const std::string& pattern, FindDataA& data, FindHandle& out) override;
    bool FindNextFileA(FindHandle handle, FindDataA& data) override;
    bool FindFirstFileW(const std::u16string& pattern, FindDataW& data, FindHandle& out) override;
    bool FindNextFileW(FindHandle handle, FindDataW& data) override;
    void FindClose(FindHandle handle) override;
    int Access(const std::string& path, int mode) override;
    uint32_t ReadWholeFile(const std::string& path, std::string& bytes) override;
    uint32_t GetTempPathW(uint32_t bufferChars, std::u16string& out) override;
    bool CopyFileW(const std::u16string& from, const std::u16string& to, bool failIfExists) override;
    uint32_t GetLogicalDriveStrings(uint32_t bufferChars, std::string& out) override;
    uint32_t GetDriveType(const std::string& root) override;
    uint32_t GetVolumeFileSystem(FileHandle file, std::string& name) override;
    uint32_t OpenRelative(FileHandle parent, const std::u16string& name, uint32_t access, uint32_t shareMode,
                          uint32_t disposition, uint32_t kind, const char* sddl, FileHandle& out) override;
    uint32_t RenameByHandle(FileHandle file, FileHandle newParent, const std::u16string& newName) override;
    uint32_t DeleteByHandle(FileHandle file) override;
    uint32_t SetAttributesByHandle(FileHandle file, uint32_t attributes) override;
    bool FlushFileBuffers(FileHandle file) override;
};

}  // namespace platform::win32
