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
// Holders nest: each leaves the privilege as it found it, so an outer one keeps it enabled.
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
    bool switchOff_ = false;  // enabled here, not by a holder that still lives
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

// The folders above one object, held: a chain is held whole from the volume's root or not at
// all. Each folder is judged as it is opened. One that no standard user can change, below
// folders none can, is held with access that takes no part in sharing, so that no user's
// handle can keep the run out of it; its access list already keeps users from renaming it.
// One a standard user can change, and every folder below it, is held without delete sharing,
// so that nobody can rename it while it is held; where a user's handle keeps that from being
// done, it is held as the others are, and it stays what it is: a folder a user can change.
class HeldPath {
  public:
    explicit HeldPath(platform::Platform& os) : os_(os) {}
    HeldPath(const HeldPath&) = delete;
    HeldPath& operator=(const HeldPath&) = delete;

    // Holds the drive's root and every folder above `path` ("C:\A\B\X": C:\, A, B), keeping
    // those of the path held before that this one shares. 0; 681 (a link) with `link` set to
    // the path up to the first link met; 123 for a path that is not a full path below a
    // drive's root or that has "." or ".." parts; else the error of the first open that failed.
    // On every error nothing is held.
    uint32_t HoldParentsOf(const std::string& path, std::string* link = nullptr);
    // Holds `path` itself as a folder the same way, every folder of it included; with
    // `create`, missing folders below the first `keepDefault` parts of the path are made
    // (inside the one above, never through a link) with the security `sddl`, and those above
    // with the security they inherit.
    uint32_t HoldFolder(const std::string& path, bool create = false, const char* sddl = nullptr,
                        size_t keepDefault = 0);
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
    // Whether a standard user could change what a name below the held folders leads to: a
    // held folder is one such a user can change, or nothing is held.
    bool UserCanChangeFolders() const { return held_.empty() || userFrom_ < held_.size(); }
    // After an error for a missing folder: whether it was missing inside a folder a standard
    // user can change, who may have renamed it away.
    bool MissingUnderUserFolder() const { return missingUnderUser_; }
    void Release();

  private:
    uint32_t Hold(const std::vector<std::string>& folders, std::string* link, bool create, const char* sddl,
                  size_t keepDefault);
    platform::Platform& os_;
    std::vector<std::string> names_;  // "C:\", then each folder's name
    std::vector<platform::UniqueFile> held_;
    static constexpr size_t kNoUserFolder = static_cast<size_t>(-1);
    size_t userFrom_ = kNoUserFolder;  // the first held folder a standard user can change
    std::string leaf_;
    bool missingUnderUser_ = false;
};

// The access a folder that a standard user can change is held with: enough to take part in
// sharing, so that the missing FILE_SHARE_DELETE keeps others from renaming it; nothing that
// changes it. READ_CONTROL lets the caller judge who else could change the folder.
constexpr uint32_t kHeldFolderAccess =
    platform::kFileTraverse | platform::kFileReadAttributes | platform::kReadControl;
constexpr uint32_t kHeldFolderShare = platform::kFileShareRead | platform::kFileShareWrite;
// The access every other folder is held with: none of it takes part in sharing, so nobody's
// handle, whatever it shares, keeps the run from opening the folder.
constexpr uint32_t kLightFolderAccess = platform::kFileReadAttributes | platform::kReadControl;
constexpr uint32_t kShareAll =
    platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete;

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

// Whether a standard user could change the object `path` names or what its name leads to: a
// folder above it or the object itself (written, renamed, relisted), a link on the way, or a
// path that cannot be held whole. For a program the run starts or trusts to be the product's.
bool StandardUserCanChange(platform::Platform& os, const std::string& path);

// Makes `name` inside the held folder `parent` a folder only Administrators and SYSTEM may
// use, owned by Administrators, and keeps it open (held as above, with `access` added) in
// `out`. With `fresh`, only a folder made now will do (183 when the name is taken);
// otherwise one that exists is taken over: owner and list replaced through its handle. 0,
// 681 for a link at the name, or the first error.
// `tookOver` (may be null) tells that the folder existed with an owner or list that let a
// standard user change it.
uint32_t MakeAdministratorsFolder(platform::Platform& os, platform::FileHandle parent,
                                  const std::string& name, bool fresh, uint32_t access,
                                  platform::UniqueFile& out, bool* tookOver = nullptr);

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
