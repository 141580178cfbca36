// File utilities of the log sink: what it does to the entries of the log's folder. Each call
// acts inside `folder`, a held handle of the folder that the full `path` names, on the entry
// that bears the path's last part: opened as itself, never through a link, and changed
// through its own handle, so that no name is checked and then used again.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace KvQmrLogging {

class FileUtils {
  public:
    FileUtils() = default;
    FileUtils(const FileUtils&) = delete;
    FileUtils& operator=(const FileUtils&) = delete;
    virtual ~FileUtils() = default;

    // 0 with `out` holding the entry, opened for `access` (and its attributes) and shared for
    // reading, writing and deleting; 681 for a link and 1142 for a file with other names,
    // `out` left empty; else the error of the open.
    virtual uint32_t OpenEntry(platform::FileHandle folder, const std::u16string& path, uint32_t access,
                               platform::UniqueFile& out) = 0;
    // An entry of that name exists and is not a directory; one that cannot be opened counts.
    virtual bool FileExists(platform::FileHandle folder, const std::u16string& path) = 0;
    // Deletes now: 0, or the error. A file that another process keeps open stays.
    virtual uint32_t FileDelete(platform::FileHandle folder, const std::u16string& path) = 0;
    // Moves within the folder, replacing an entry named `to` that is neither a link nor a
    // file with other names: 0, or the error.
    virtual uint32_t FileRename(platform::FileHandle folder, const std::u16string& from,
                                const std::u16string& to) = 0;
};

class FileUtilsWin32 : public FileUtils {
  public:
    explicit FileUtilsWin32(platform::Platform& os) : os_(os) {}

    uint32_t OpenEntry(platform::FileHandle folder, const std::u16string& path, uint32_t access,
                       platform::UniqueFile& out) override;
    bool FileExists(platform::FileHandle folder, const std::u16string& path) override;
    uint32_t FileDelete(platform::FileHandle folder, const std::u16string& path) override;
    uint32_t FileRename(platform::FileHandle folder, const std::u16string& from,
                        const std::u16string& to) override;

  private:
    platform::Platform& os_;
};

// The part of a path after its last backslash; the whole path without one.
std::u16string LeafOf(const std::u16string& path);

}  // namespace KvQmrLogging
