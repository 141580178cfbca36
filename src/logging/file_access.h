// The policy of one log file: where it lives, when it rotates, and how writers share it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "guard/held_path.h"
#include "logging/file_low_level.h"
#include "logging/file_utils.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace KvQmrLogging {

// Access lists of what the machine-wide log creates: anonymous logon denied everything,
// everyone allowed everything, inherited by files and folders. The mutex also denies
// everyone the right to take it over by changing its owner.
constexpr char kLogFolderSddl[] = "D:(D;OICI;GA;;;AN)(A;OICI;GA;;;WD)";
constexpr char kLogMutexSddl[] = "D:(D;OICI;GA;;;AN)(D;OICI;WO;;;WD)(A;OICI;GA;;;WD)";

constexpr uint32_t kDefaultMaxSizeKB = 100;
constexpr uint32_t kDefaultRotateCount = 2;
constexpr uint32_t kMaxRotateCount = 99;
constexpr uint32_t kMinMaxSize = 3;  // a mark and part of a record: every file holds one record
constexpr uint32_t kMutexWaitMs = 500;
constexpr int kDeleteNameCount = 99;

// base\Logs\product\component.log
std::u16string BuildLogPath(const std::u16string& base, const std::u16string& product,
                            const std::u16string& component);
// The name of old generation k: "." and k inserted before the last "." (k = 0: the path).
std::u16string RotatedName(const std::u16string& path, uint32_t generation);
// "Global\KvQmrLogging_" and the path with its backslashes made underscores.
std::u16string MutexName(const std::u16string& path);

class FileAccessBase {
  public:
    // A null product stands for "misc". Takes ownership of the file and the utilities.
    FileAccessBase(platform::Platform& os, const char16_t* product, const char16_t* component,
                   std::unique_ptr<FileLowLevel> file, std::unique_ptr<FileUtils> utils, bool perUser);
    FileAccessBase(const FileAccessBase&) = delete;
    FileAccessBase& operator=(const FileAccessBase&) = delete;
    virtual ~FileAccessBase();

    // Appends one record of `count` bytes.
    virtual void Write(const void* bytes, uint32_t count) = 0;
    virtual void Rotate();
    virtual bool EnsureOpen();
    virtual bool NeedsRotation();
    // Deletes a file of the log's folder (`path` names it there) through its own handle.
    virtual bool DeleteLogFile(const std::u16string& path) = 0;
    // The first "path__delete_N" (N = 1..99) that names no file of the log's folder, or
    // N = 99 when all do. Leaves `out` empty (and returns false) when the name does not fit
    // in `length` units with its terminator.
    virtual bool MakeDeleteName(char16_t* out, size_t length, const std::u16string& path);
    // Holds the log's folder afresh from the volume's root, making the folders that are
    // missing: the base directory and those above it with the security they inherit, those
    // below it with the log's. False when the folder cannot be held or a link was met
    // (which refuses the log).
    virtual bool CreateLogDirectory();

    // A link was found on the way to the log (a folder from the volume's root down, the
    // file, or an old generation; a file with more than one name counts): nothing is
    // created, rotated, renamed, deleted or written for the rest of this object's life.
    bool linkRefused() const { return linkRefused_; }

    // For inspection.
    const std::optional<std::u16string>& path() const { return path_; }
    uint32_t maxSize() const { return maxSize_; }
    uint32_t rotateCount() const { return rotateCount_; }
    bool hasMutex() const { return static_cast<bool>(mutex_); }
    const char* sddl() const { return sddl_; }

  protected:
    platform::Platform& os_;
    platform::UniqueSync mutex_;
    std::optional<std::u16string> path_;  // none when the location was not resolved
    uint32_t maxSize_ = 0;
    uint32_t rotateCount_ = 0;
    std::unique_ptr<FileLowLevel> file_;
    std::unique_ptr<FileUtils> utils_;
    const char* sddl_ = nullptr;  // for new folders and files; null for a per-user log
    bool perUser_ = false;
    bool linkRefused_ = false;
    // Every file of the log is reached through these handles, never by its full name.
    guard::HeldPath held_;
    std::string ansiPath_;    // the path as the held chain takes it; empty when it has no such name
    size_t keepDefault_ = 0;  // the parts of the path, from the root, up to the base directory

    // Holds the log's folder afresh and opens the log file in it, unless a link stands on the
    // way or in the file's place (which refuses the log).
    bool OpenFile();
    // Opens the log file inside the folder held now.
    bool OpenInHeldFolder();
    // Holds the log's folder afresh, making it when it is missing.
    bool HoldLogFolder();
    // The held folder, held first when nothing is; 0 when it cannot be.
    platform::FileHandle Folder();
    // Whether a file action succeeded; a link or another name met on the way refuses the log.
    bool Settled(uint32_t rc, const std::u16string& path);
    // Gives up the log for good, with one line to the debugger saying which link did it.
    void RefuseLink(const std::u16string& link);

  private:
    void OpenMutex(const std::u16string& name);
};

// For a log that one process writes: the file stays open and no lock is taken.
class FileAccessContinuous : public FileAccessBase {
  public:
    using FileAccessBase::FileAccessBase;
    ~FileAccessContinuous() override;

    void Write(const void* bytes, uint32_t count) override;
    bool DeleteLogFile(const std::u16string& path) override;
};

// For a log that several processes share: every write holds the named mutex and first
// re-reads the end of the file.
class FileAccessTransient : public FileAccessBase {
  public:
    using FileAccessBase::FileAccessBase;
    ~FileAccessTransient() override;

    void Write(const void* bytes, uint32_t count) override;
    // Renames the file out of the way first, which frees the log's name at once even while
    // another process still holds the old file open.
    bool DeleteLogFile(const std::u16string& path) override;
};

}  // namespace KvQmrLogging
