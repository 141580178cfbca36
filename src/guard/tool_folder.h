// The folder of the tool's own files: the run report, the plan and the registry backups.
// It lies below the Windows folder's Logs, which standard users cannot write, and is made
// (or taken over) for Administrators and SYSTEM only: what it holds stays what the tool
// wrote, so a backup an administrator is told to import is the tool's. Everything in it is
// made through the folder's held handle, never by a name someone could redirect.
#pragma once

#include <cstdint>
#include <string>

#include "guard/held_path.h"
#include "platform/platform.h"

namespace guard {

constexpr char kToolFolderName[] = "SweepTool";
constexpr char kSetAsidePrefix[] = "SetAside.";
// ERROR_INVALID_OWNER: a file the run would rely on that the tool did not write.
constexpr uint32_t kErrorNotTheTools = 1307;

// "<Windows>\Logs\SweepTool", without making anything; empty when the Windows folder is unknown.
std::string ToolFolderPath(platform::Platform& os);

class ToolFolder {
  public:
    explicit ToolFolder(platform::Platform& os) : os_(os), held_(os) {}
    ToolFolder(const ToolFolder&) = delete;
    ToolFolder& operator=(const ToolFolder&) = delete;

    // Holds the folder (and, with `sub`, the folder of that name in it), each made or taken
    // over for Administrators. 0, or the Windows error that stopped it (681 for a link).
    uint32_t Open(const char* sub = nullptr);
    // The held folder's path; empty until Open succeeded.
    const std::string& path() const { return path_; }
    // Makes the file `name` in the held folder, for writing: a new one only with `fresh`
    // (183 when the name is taken), otherwise one that replaces whatever bears the name, a
    // link included (the link goes, never what it points to).
    uint32_t CreateFile(const std::string& name, bool fresh, platform::UniqueFile& out);
    // Holds the file `name` in the held folder, made if missing, open with no sharing: any
    // other try to open it fails with 32 (ERROR_SHARING_VIOLATION) until `out` is closed,
    // which Windows does when the process ends, however it ends. kErrorNotTheTools when the
    // file that refuses is not the tool's own.
    uint32_t HoldExclusive(const std::string& name, platform::UniqueFile& out);
    // The whole file `name` of the held folder, at most `limit` bytes (8, not enough
    // memory, beyond it). 2 when there is no such file; kErrorNotTheTools for one that a
    // machine account does not own or that has other names: whoever made it is not the tool.
    uint32_t ReadFile(const std::string& name, size_t limit, std::string& bytes);
    // Writes `bytes` to the file `name` of the held folder, replacing it. 0 or the error.
    uint32_t Write(const std::string& name, const std::string& bytes);
    // Gives the file `from` the name `to` (which must be free), or deletes the file `name`
    // (0 when it is not there), in the held folder.
    uint32_t Rename(const std::string& from, const std::string& to);
    uint32_t Delete(const std::string& name);

    // Where what a standard user could have put in the folder before it was taken over went
    // ("<folder>\SetAside.<hex>"); empty when nothing was set aside by this object.
    const std::string& setAside() const { return setAside_; }

  private:
    uint32_t Take(platform::FileHandle parent, const std::string& path, const char* name,
                  platform::UniqueFile& out);
    void SetAsideForeign(platform::FileHandle folder, const std::string& path);
    bool IsTheTools(platform::FileHandle object);
    platform::Platform& os_;
    HeldPath held_;
    std::string setAside_;
    bool ownersKept_ = true;       // the folder's owner and list read back as the tool set them
    platform::UniqueFile top_;     // the tool's folder
    platform::UniqueFile folder_;  // the folder files are made in: top_'s or `sub`'s
    std::string path_;
};

// Writes `bytes` to the file `name` in the tool's folder, replacing it. 0 or the error.
uint32_t WriteToolFile(platform::Platform& os, const std::string& name, const std::string& bytes);

}  // namespace guard
