// Who could have written a registry value. The run is an administrator's; a value that names
// a folder to delete, a package to install or the product whose folders go is an order. It
// is taken as the product's word only from a key no standard user can write, and a value of
// a user's own hive speaks only for that user's own files and keys.
#pragma once

#include <string>

#include "platform/platform.h"

namespace expand {

enum class KeyWriters {
    kMachine,  // only Administrators, SYSTEM and TrustedInstaller can change it
    kOneUser,  // a user's own hive (HKCU, HKU\<SID>): that user can change it
    kAnyone,   // a standard user can change it, or who can could not be read
};

// Judged on the open key itself (opened with READ_CONTROL), which `root` and `keyPath` named:
// its owner and every entry of its access list that applies to it.
KeyWriters WritersOfKey(platform::Platform& os, platform::RegKey root, const char* keyPath,
                        platform::RegKey key);

// The profile folder of the user whose hive `root` and `keyPath` lie in (HKCU: the user the
// tool runs as; HKU\<SID>: the profile the machine lists for that SID), upper case and in
// its long form; empty when it is not known.
std::string HiveProfile(platform::Platform& os, platform::RegKey root, const char* keyPath);

// Whether the file-system path `path` lies inside `folder` (upper case, long form, neither
// with a trailing "\"), once brought to its own long form.
bool IsInsideFolder(platform::Platform& os, const std::string& path, const std::string& folder);

// The level-3 record of a key whose values are not used: "<tag>: values of '<key>' are not
// used: a standard user can change that key".
void LogKeyNotTrusted(const char* tag, const std::string& keyText);

// Whether the values of the open key are the machine's; logs the record above when not. A
// user's own hive is not the machine's here.
bool MachineWroteKey(platform::Platform& os, platform::RegKey root, const char* keyPath, platform::RegKey key,
                     const char* tag);

}  // namespace expand
