// Changes to files and folders that land on what was checked, whatever a standard user
// renames, replaces or links meanwhile. A name is resolved once, from the volume's root,
// folder by folder, each folder opened inside the one above it and held without delete
// sharing: while it is held nobody can rename, delete or replace it, so the object opened
// inside the last one is the object the path named, and every change is made through
// that object's own handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace guard {

// Keeps SeTakeOwnershipPrivilege enabled while it lives: an administrator holds it, but
// disabled, and without it an object whose access list refuses WRITE_OWNER cannot be taken.
class TakeOwnershipPrivilege {
  public:
    explicit TakeOwnershipPrivilege(platform::ISystem& sys);
    ~TakeOwnershipPrivilege();
    TakeOwnershipPrivilege(const TakeOwnershipPrivilege&) = delete;
    TakeOwnershipPrivilege& operator=(const TakeOwnershipPrivilege&) = delete;

  private:
    platform::ISystem& sys_;
    platform::UniqueToken token_;
    platform::Luid luid_;
    bool enabled_ = false;
};

// ERROR_STOPPED_ON_SYMLINK: the object met where a file or directory was expected is a
// link (junction, symbolic link, mount point).
constexpr uint32_t kErrorStoppedOnSymlink = 681;

// ERROR_TOO_MANY_LINKS, given for a file with more than one name (hard links): its access
// list and owner belong to every name, and a standard user may have made the other one.
constexpr uint32_t kErrorHardLinked = 1142;

// Whether the file `file` holds has one name only: 0, kErrorHardLinked, or the error of
// asking.
uint32_t CheckSingleName(platform::Platform& os, platform::FileHandle file);

// The folders above one object, held.
class HeldPath {
  public:
    explicit HeldPath(platform::Platform& os) : os_(os) {}
    HeldPath(const HeldPath&) = delete;
    HeldPath& operator=(const HeldPath&) = delete;

    // Holds the drive's root and every folder above `path` ("C:\A\B\X": C:\, A, B), keeping
    // those of the path held before that this one shares. 0; 681 (a link) with `link` set to
    // the path up to the first link met; 123 for a path that is not a full path below a
    // drive's root or that has "." or ".." parts; else the error of the first open that failed.
    uint32_t HoldParentsOf(const std::string& path, std::string* link = nullptr);
    // Opens the object itself inside its held folder, never following a link at its name,
    // and checks on the handle that it is no link (681). `attributes` (may be null) gets its
    // attributes. Shared for reading, writing and deleting: others' handles stay as they are.
    uint32_t Open(uint32_t access, platform::UniqueFile& out, uint32_t* attributes = nullptr);
    // The innermost held folder, or 0.
    platform::FileHandle Parent() const { return held_.empty() ? 0 : held_.back().get(); }
    const std::string& Leaf() const { return leaf_; }
    // The held folders from the root down, as written in the last path given.
    const std::vector<std::string>& Folders() const { return names_; }
    platform::FileHandle FolderHandle(size_t i) const { return held_[i].get(); }
    void Release();

  private:
    platform::Platform& os_;
    std::vector<std::string> names_;  // "C:\", then each folder's name
    std::vector<platform::UniqueFile> held_;
    std::string leaf_;
};

// The access a held folder is opened with: enough to take part in sharing, so that the
// missing FILE_SHARE_DELETE keeps others from renaming it; nothing that changes it.
// READ_CONTROL lets the caller judge who else could change the folder.
constexpr uint32_t kHeldFolderAccess =
    platform::kFileTraverse | platform::kFileReadAttributes | platform::kReadControl;
constexpr uint32_t kHeldFolderShare = platform::kFileShareRead | platform::kFileShareWrite;

// The accounts a standard user cannot act as.
bool IsMachineAccount(const std::string& sid);

// Whether the owner or an entry of the access list (DACL text) that applies to the object
// itself lets someone who is not Administrators, SYSTEM or TrustedInstaller use one of
// `rights` (GENERIC_ALL always counts); true for no list or one that cannot be read.
bool GrantsStandardUser(const std::string& owner, const std::string& dacl, uint32_t rights);

// Whether a standard user could change what the name of an object leads to: own it, delete
// or rename it (DELETE, a folder's FILE_DELETE_CHILD), rewrite its access list or owner, or
// (the object itself, `isTarget`) write it. Reads the owner and access list on `object`,
// which needs READ_CONTROL. True also when they cannot be read.
bool UserCanChange(platform::Platform& os, platform::FileHandle object, bool isTarget);

// Whether the object `path` names (never a link) is owned by Administrators, SYSTEM or
// TrustedInstaller; false also when that cannot be read.
bool OwnedByMachineAccount(platform::Platform& os, const std::string& path);

// Makes `name` inside the held folder `parent` a folder only Administrators and SYSTEM may
// use, owned by Administrators, and keeps it open (held as above, with `access` added) in
// `out`. With `fresh`, only a folder made now will do (183 when the name is taken);
// otherwise one that exists is taken over: owner and list replaced through its handle. 0,
// 681 for a link at the name, or the first error.
uint32_t MakeAdministratorsFolder(platform::Platform& os, platform::FileHandle parent,
                                  const std::string& name, bool fresh, uint32_t access,
                                  platform::UniqueFile& out);

// The same, fresh, named `prefix` and the 32 hex digits of a new GUID, so that nobody can
// make it first or guess where its contents will be; a name that is taken is tried again
// with another GUID, a few times. 0 with `name` set, or the error (the HRESULT of a failed
// CoCreateGuid).
uint32_t MakeFreshAdministratorsFolder(platform::Platform& os, platform::FileHandle parent,
                                       const std::string& prefix, uint32_t access, platform::UniqueFile& out,
                                       std::string& name);

// The list such a folder gets, inherited by all it holds.
constexpr char kAdministratorsOnlySddl[] = "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

// Replaces the access list of a file or directory by `dacl`, protected from inheritance,
// through a handle opened inside its held folders (HeldPath), never through a link. When the
// list may not be rewritten, Administrators are made the owner first. 0, 681 for a link
// (nothing changed), 87 for a null path or list, or the first Windows error. A caller that
// rewrites many objects of one tree passes its own `held`, which keeps the folders the
// paths share open from one object to the next instead of opening them again for each.
uint32_t SetFileDaclWithoutFollowing(platform::Platform& os, const char* path, const char* dacl,
                                     HeldPath* held = nullptr);

// The same, Administrators made the owner first in any case: an object someone else made
// stays theirs to reopen (an owner may always rewrite the list) until its owner changes.
uint32_t SetFileOwnerAndDaclWithoutFollowing(platform::Platform& os, const char* path, const char* dacl,
                                             HeldPath* held = nullptr);

}  // namespace guard
