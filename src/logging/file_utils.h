// File utilities of the log sink: existence tests, delete, rename, directory creation.
#pragma once

#include <string>

#include "platform/platform.h"

namespace KvQmrLogging {

class FileUtils {
  public:
    FileUtils() = default;
    FileUtils(const FileUtils&) = delete;
    FileUtils& operator=(const FileUtils&) = delete;
    virtual ~FileUtils() = default;

    // An entry of that name exists and is not a directory.
    virtual bool FileExists(const std::u16string& path) = 0;
    // Deletes now, or else at the next restart; true if either worked.
    virtual bool FileDelete(const std::u16string& path) = 0;
    // Moves, replacing an existing target.
    virtual bool FileRename(const std::u16string& from, const std::u16string& to) = 0;
    // Creates the directory and every missing parent; `sddl` (or null for default security)
    // applies to each directory this call creates.
    virtual bool CreateDirectoryTree(const std::u16string& path, const char* sddl) = 0;
    virtual bool DirectoryExists(const std::u16string& path) = 0;
};

class FileUtilsWin32 : public FileUtils {
  public:
    explicit FileUtilsWin32(platform::Platform& os) : os_(os) {}

    bool FileExists(const std::u16string& path) override;
    bool FileDelete(const std::u16string& path) override;
    bool FileRename(const std::u16string& from, const std::u16string& to) override;
    bool CreateDirectoryTree(const std::u16string& path, const char* sddl) override;
    bool DirectoryExists(const std::u16string& path) override;

  private:
    platform::Platform& os_;
};

}  // namespace KvQmrLogging
