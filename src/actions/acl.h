// Opening up the access lists of registry keys to the user the tool runs as, so that a
// deletion refused with ERROR_ACCESS_DENIED can be tried once more. Nothing here logs:
// callers ignore the result and simply make their one retry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace actions {

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
// taking ownership of it first when the access list may not be rewritten. 0, 1 when the
// user name cannot be read, 2 for a root other than HKCR, HKCU, HKLM and HKU, or the first
// Windows error met.
uint32_t DropRegKeyAcl(platform::Platform& os, platform::RegKey root, const char* keyPath);

// The same for a key of the 64-bit view (`keyPath` below `root`, which may also be an open
// key), reached through a key opened with KEY_WOW64_64KEY, since names address the
// default view only.
uint32_t DropRegKeyAcl64bit(platform::Platform& os, platform::RegKey root, const char* keyPath);

}  // namespace actions
