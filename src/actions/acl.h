// Opening up the access lists of registry keys to the user the tool runs as, so that a
// deletion refused with ERROR_ACCESS_DENIED can be tried once more; rewriting the access
// lists of files and directories without ever passing through a link. Nothing here logs:
// callers ignore the result and simply make their one retry, or log the link record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "guard/held_path.h"
#include "platform/platform.h"

namespace actions {

using guard::HeldPath;

// Security object names of registry keys are at most this long, terminator included.
constexpr size_t kObjectNameBuffer = 8192;

// The SID of an account name (LookupAccountNameA). 87 for a null output or account; any
// other failure leaves `sid` empty and returns the Windows error.
[[nodiscard]] uint32_t GetAccountSid(platform::Platform& os, std::string* sid, const char* account);

// "MACHINE\<keyPath>" (also CLASSES_ROOT, CURRENT_USER, USERS) into `out`: 0, 2 for any
// other root, 87 for a null buffer, 122 when the name does not fit `outSize`.
[[nodiscard]] uint32_t FormatRegKeyObjectName(platform::RegKey root, const char* keyPath, char* out,
                                              size_t outSize);

// A DACL that gives `sid` the access `mask`: for the object itself (`addThisObject`) and
// inherited by everything below it (`addInheritable`). Without `replace` the entries of
// `oldDacl` (null or empty: none) are kept in their order, except the account's own
// allowed and denied entries, and the new ones go where Windows expects explicit allowed
// entries: after the explicit denied ones. 87 for a null output or SID or when neither
// add flag is set; 1336 (ERROR_INVALID_ACL) for an old DACL that cannot be read.
[[nodiscard]] uint32_t BuildAccountDacl(std::string* newDacl, const std::string* oldDacl, const char* sid,
                                        uint32_t mask, bool replace, bool addThisObject, bool addInheritable);

// Grants the current user full control of a key, named in the process's default view,
// taking ownership of it first when the access list may not be rewritten. The grant is not
// inheritable and the list is set on the key alone: no key below it changes. The key is
// opened part by part as itself, never through a registry link: 681 when a link lies on
// the way or is the key (nothing changed). 0, 1 when the user name cannot be read, 2 for a
// root other than HKCR, HKCU, HKLM and HKU, or the first Windows error met.
uint32_t DropRegKeyAcl(platform::Platform& os, platform::RegKey root, const char* keyPath);

// The same for a key of the 64-bit view (`keyPath` below `root`, which may also be an open
// key), reached through a key opened with KEY_WOW64_64KEY, since names address the
// default view only.
uint32_t DropRegKeyAcl64bit(platform::Platform& os, platform::RegKey root, const char* keyPath);

// The one record (level 3) of a link met by a file operation: the operation's tag, then the
// link's path.
constexpr char kLinkNotFollowedRecord[] = "%s: '%s' is a link, not followed";

// Opens the object `path` names itself, file or directory, never what a link at its end
// points to, and checks on the handle that it is no link. 0 with `out` open; 681 for a link
// (nothing kept open); else the error of the open or of reading the attributes.
[[nodiscard]] uint32_t OpenWithoutFollowing(platform::Platform& os, const char* path, uint32_t access,
                                            platform::UniqueFile& out);

// Where `path` passes through or ends in a link: the path up to and including the first
// link, or empty when there is none. Every directory on the way is read by its attributes
// (which never follow a link); the object itself through a handle that does not follow
// one, or by its attributes when it cannot be opened.
std::string FindLinkOnPath(platform::Platform& os, const char* path);

}  // namespace actions
