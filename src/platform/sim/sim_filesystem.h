// The simulated file system: drives holding a tree of directories and files with
// case-insensitive, case-preserving names, attributes, contents, open handles with share
// modes, a per-object security description and the restart queue of MoveFileEx. Names are
// Unicode, as Windows keeps them: the "W" calls take and give them as they are, the "A" calls
// through the ANSI code page, which may not spell them (platform/ansi.h).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/filesystem.h"
#include "platform/sim/faults.h"
#include "platform/sim/sim_system.h"

namespace platform::sim {

// What the security area reads and replaces on a file or directory. `deniedAccess` holds
// access rights (kDeleteAccess, kGenericRead, kGenericWrite; kGenericAll denies everything)
// that the object's access list refuses this process until it is rewritten.
struct SimFileSecurity {
    std::string ownerSid;
    std::string sddl;  // as given at creation, or as the security area last set it
    uint32_t deniedAccess = 0;
    // The entries it inherits, once a change of its folders' lists has written them here:
    // a propagating call writes what the folder it went through passes on, a call that
    // changes one folder only keeps what its children had. Until then (`inheritedFixed`
    // false) they follow the folders above as they are; an object with several names
    // follows the first folder in name order.
    bool inheritedFixed = false;
    std::string inheritedSddl;
};

// One entry of a directory, as the security area walks a tree.
struct SimFileChild {
    SimFileSecurity* security = nullptr;
    bool directory = false;
    bool link = false;  // a junction or symbolic link: its own record, nothing behind it
};

// One MoveFileEx request with kMovefileDelayUntilReboot, in the order it was made.
struct SimPendingOperation {
    std::string from;
    std::string to;  // empty: delete `from`
    uint32_t flags = 0;
};

class SimFileSystem : public IFileSystem {
  public:
    SimFileSystem(Faults& faults, SimSystem& system);
    ~SimFileSystem() override;

    // --- state a test arranges and inspects; paths are full ("C:\dir\file"), case ignored,
    // in the ANSI code page as an "A" call takes them, and so are the names given back ---
    // Adds an empty drive ("D") of that GetDriveType kind and file system; C: exists from the
    // start, fixed and NTFS.
    void AddDrive(char letter, uint32_t driveType = kDriveFixed, const std::string& fileSystem = "NTFS");
    // Creates or replaces a file, creating missing parent directories.
    bool CreateFile(const std::string& path, const std::string& contents = {},
                    uint32_t attributes = kFileAttributeArchive);
    // Creates a directory and any missing parents.
    bool CreateDirectories(const std::string& path);
    bool Exists(const std::string& path) const;
    std::string Contents(const std::string& path) const;
    // The bytes a file holds, which are on the disk as soon as WriteFile returns.
    uint64_t Size(const std::string& path) const;
    // Deletes a file or an empty directory whatever its attributes, access list or open
    // handles; false when it is missing or a directory with entries.
    bool Remove(const std::string& path);
    // The folder GetTempPathW answers, without the trailing backslash: TMP, else TEMP of
    // the environment, else `tempDirectory`.
    std::string TempDirectory() const;
    // The current user's temporary folder, as Windows sets TEMP at logon.
    std::string tempDirectory = "C:\\Users\\Tester\\AppData\\Local\\Temp";
    // The attributes GetFileAttributes would report, kInvalidFileAttributes when absent.
    uint32_t Attributes(const std::string& path) const;
    // Null when the object does not exist. The pointer stays valid while the object does.
    // A link at the end of `path` is followed, as the named security calls follow it.
    SimFileSecurity* SecurityOf(const std::string& path);
    // The record of the object an open handle holds; null for no such handle.
    SimFileSecurity* SecurityOfHandle(FileHandle handle);
    // The records of the directories above the object whose record is `security`, nearest
    // first, the drive's root last, and whether that object is a directory. Empty for a
    // drive root or a record of no object.
    std::vector<const SimFileSecurity*> AncestorsOf(const SimFileSecurity* security, bool& isDirectory) const;
    // The entries of the directory whose record is `security`, every name of a file with
    // several; empty for a file or a record of no object.
    std::vector<SimFileChild> ChildrenOf(const SimFileSecurity* security);
    // Called as a file gets a second name, with its record and the records of the folders
    // above the name it had (nearest first), under the file system's lock: a second name
    // changes no list, so the file keeps what it inherited there.
    std::function<void(SimFileSecurity& file, const std::vector<const SimFileSecurity*>& folders)>
        onSecondName;
    // Plants a reparse point at `path` (missing parents are created): a junction to the
    // directory `target` with `directory`, else a symbolic link to the file `target`. As on
    // Windows, a name that passes through it reaches the target, while the link itself is
    // what GetFileAttributes, FindFirstFile, MoveFileEx and a restart's deletion see.
    // False when `path` already exists.
    bool CreateLink(const std::string& path, const std::string& target, bool directory);
    // Gives an existing object an 8.3 name, which FindFirstFile patterns match as well.
    bool SetShortName(const std::string& path, const std::string& shortName);
    // The names of the entries of a directory, as stored, in the order a listing gives them.
    std::vector<std::string> List(const std::string& directory) const;
    std::vector<SimPendingOperation> PendingOperations() const;
    // The paths queued for deletion at restart, in queue order.
    std::vector<std::string> PendingDeletes() const;
    int OpenHandles() const;
    int OpenFindHandles() const;
    // --- a standard user acting on the machine, for tests of what an elevated run leaves
    // such a user to aim at. The user `sid` may rename or delete what it owns or what lies in
    // a folder it owns, and create entries in folders it owns and in `openToUsers`; what it
    // creates is its own. Names pass through links as every name does. Each returns 0 or
    // what the user would get: 5 without the right, 32 while a handle opened without
    // FILE_SHARE_DELETE (and with some data access) holds the object, 183 for a taken name,
    // 3 for a missing folder.
    std::vector<std::string> openToUsers{"C:\\", "C:\\ProgramData"};
    uint32_t UserRename(const std::string& sid, const std::string& from, const std::string& to);
    // A file or an empty folder.
    uint32_t UserDelete(const std::string& sid, const std::string& path);
    uint32_t UserCreateDirectory(const std::string& sid, const std::string& path);
    uint32_t UserCreateFile(const std::string& sid, const std::string& path,
                            const std::string& contents = {});
    uint32_t UserCreateLink(const std::string& sid, const std::string& path, const std::string& target,
                            bool directory);
    // A second name for the file `target` (followed through links), which must end in the
    // same name: the file stays its owner's, and every name reaches the one object.
    uint32_t UserCreateHardLink(const std::string& sid, const std::string& path, const std::string& target);
    // Holds an object open as a program of the user's would (the user may open anything
    // its access list does not deny). The handle lives until CloseHandle or a restart.
    uint32_t UserOpen(const std::string& sid, const std::string& path, uint32_t access, uint32_t share,
                      FileHandle& out);

    // A restart: every handle is gone, then the queued operations run in order as the
    // boot-time session manager runs them: a directory is removed only when empty, a
    // read-only file stays, a rename replaces its target only with kMovefileReplaceExisting.
    void SimulateRestart();

    // --- IFileSystem ---
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
    // Writes are on the simulated disk as soon as they are made; the call is counted and may be
    // failed, and asks for a handle open for writing, as Windows does.
    bool FlushFileBuffers(FileHandle file) override;

    struct Node;

  private:
    struct Lookup;
    struct OpenFile;
    struct Listing;

    bool Fail(const char* call);
    bool Refuse(uint32_t code);
    static std::shared_ptr<Node> Child(const Node& dir, const std::string& name);
    std::u16string TempDirectoryW() const;
    // Links inside the path are passed through; one at its end only with `followLast`.
    Lookup Resolve(const std::string& path, bool followLast = false, int depth = 0) const;
    uint32_t ShareConflict(const Node* node, uint32_t access, uint32_t share) const;
    bool HasOpenHandles(const Node* node) const;
    std::shared_ptr<Node> MakeDirectories(const std::string& path);
    // A new handle on `node`; the caller holds the lock.
    FileHandle AddHandle(const std::shared_ptr<Node>& node, uint32_t access, uint32_t share);
    bool OpenFileLocked(const std::string& path, uint32_t access, uint32_t share, const char* sddl,
                        uint32_t disposition, uint32_t flags, FileHandle& out);
    uint32_t DeleteLocked(const std::string& path);
    uint32_t MoveLocked(const std::string& from, const std::string* to, uint32_t flags);
    uint32_t CreateDirectoryLocked(const std::string& path, const char* sddl);
    uint32_t FindFirstLocked(const std::string& pattern, FindDataA& data, FindHandle& out);
    // The listing's next entry, its name as the file system keeps it.
    uint32_t FindNextLocked(FindHandle handle, FindDataA& data);
    uint32_t CopyLocked(const std::string& from, const std::string& to, bool failIfExists);
    // The folder holding `node` and the drive it is on; false when it is in no tree.
    bool Locate(const Node* node, std::shared_ptr<Node>& parent, char& drive) const;
    // The folder of the name the handle was opened by (a file with several names is moved or
    // deleted by that one), else Locate's answer.
    bool LocateOpened(const OpenFile& f, std::shared_ptr<Node>& parent, char& drive) const;
    // Takes a delete-pending object's name away once no handle holds it.
    void FinishDeleteLocked(const std::shared_ptr<Node>& node);
    bool UserOwns(const std::string& sid, const Node* node) const;
    bool UserMayCreateIn(const std::string& sid, const Lookup& at) const;
    // Resolves `path` for the user to rename or delete: 0 when it may, else its error.
    uint32_t UserMayTake(const std::string& sid, const std::string& path, Lookup& out) const;
    // Whether `inner` is `outer` or lies below it.
    bool Within(const std::shared_ptr<Node>& inner, const Node* outer) const;
    // The records of `dir` and the folders above it, nearest first; the caller holds the lock.
    std::vector<const SimFileSecurity*> FolderChainLocked(const Node* dir) const;
    // A directory, a file with `contents`, or with a `linkTarget` a link, owned by `sid`.
    uint32_t UserMakeLocked(const std::string& sid, const std::string& path, bool directory,
                            const std::string& linkTarget, const std::string* contents = nullptr);

    Faults& faults_;
    SimSystem& system_;
    mutable std::mutex mutex_;
    std::map<char, std::shared_ptr<Node>> drives_;
    std::map<char, uint32_t> driveTypes_;      // GetDriveType of each drive, by upper-case letter
    std::map<char, std::string> fileSystems_;  // the file system name of each drive, the same way
    std::map<FileHandle, std::unique_ptr<OpenFile>> files_;
    // The folder whose name for a delete-pending object goes when its last handle closes.
    std::map<const Node*, std::weak_ptr<Node>> pendingFolder_;
    std::map<FindHandle, std::unique_ptr<Listing>> listings_;
    std::vector<SimPendingOperation> pending_;
    FileHandle nextHandle_ = 0x1000;
};

}  // namespace platform::sim
