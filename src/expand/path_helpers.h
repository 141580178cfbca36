// The text forms every configured object travels in: normalised paths, registry path
// text ("HKEY_LOCAL_MACHINE\SOFTWARE\X\VALUE"), quoted multi-field entries, wildcards.
// All functions are stateless and work on narrow (ANSI) text; "in place" means they
// write into the caller's buffer and their string outputs point into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"

namespace expand {

// Paths are built in MAX_PATH buffers; registry texts in buffers of 264 bytes.
constexpr size_t kMaxPathBuffer = 260;
constexpr size_t kRegTextBuffer = 264;

// The registry view each expansion and gathering operation uses, as the flag to add to
// its access mask. None of them tests for WOW64: each has one fixed view. (Deletion is
// different: default view first, then the 64-bit view when WOW64 is detected.)
// REG_VALUE entries (read a value, enumerate a key's values): the default view, which is
// the 32-bit one under WOW64.
constexpr uint32_t kViewRegValueEntries = 0;
// REG_KEY entries (enumerate subkeys, read the compared value).
constexpr uint32_t kViewRegKeyEntries = platform::kKeyWow64_64Key;
// Expanding a key to be removed into its subkeys and values.
constexpr uint32_t kViewKeyExpansion = platform::kKeyWow64_64Key;
// Folder look-ups of the %PROGRAM_FILES_64% and %GOOGLE_GADGETS% macros.
constexpr uint32_t kViewFolderMacros = platform::kKeyWow64_64Key;
// The installer database: enumeration and the product scan.
constexpr uint32_t kViewInstallerDatabase = platform::kKeyWow64_64Key;

// Strips surrounding double quotes and one trailing "\" or "/", writes every run of "\"
// and "/" as one "\", and upper-cases the text in the ANSI code page. The result is
// never longer than the input. An empty text, or one made only of quotes, becomes empty.
// Left unchanged when no working copy can be allocated.
void NormalizePath(char* text);

// Writes into `out` the non-null, non-empty parts joined with one "\" (none where the
// text so far ends with a separator or the part begins with one); `out` may itself be
// one of the parts. Returns false, and leaves `out` empty, when the result would not fit
// in `outSize` bytes (terminator included): a cut path would name some other object.
[[nodiscard]] bool JoinPath(char* out, size_t outSize, std::initializer_list<const char*> parts);

// The predefined key of a root name ("HKEY_LOCAL_MACHINE" and the six others, case
// ignored), or 0 for any other text.
platform::RegKey RootKeyOfName(const char* name);

// Normalises `text` and splits it into root, key path and last component, in place.
// rootKey is 0 and rootName null when no known root begins the text; keyPath is null when
// nothing follows the root; lastComponent is null when the key path has no "\" or ends
// with one. Returns 13 (ERROR_INVALID_DATA) for an empty or null text, and then writes no
// output.
[[nodiscard]] uint32_t ParseRegistryPath(char* text, platform::RegKey& rootKey, char*& rootName,
                                         char*& keyPath, char*& lastComponent);

// Splits "A","B","C" in place at each quote-comma-quote; the outer quotes are optional.
// Each field pointer in turn receives the next field; once the text is used up, the
// remaining pointers are left as they were (callers preset them to null).
void SplitQuotedFields(char* text, std::initializer_list<char**> fields);

// True when the text is not null and holds "*" or "?".
bool HasWildcards(const char* text);

// "*" and "?" matched in one forward pass without backtracking, case ignored: the first
// occurrence of the literal run after a star is taken, so *A does not match AXA, and "?"
// may match nothing at the end of the text, so A?C matches AC.
bool MatchWildcard(const char* text, const char* pattern);

// The name of HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_USERS as
// registry texts write it; null for any other root.
const char* CanonicalRootName(platform::RegKey root);

// The first occurrence of `name` as a whole "\"-separated component of `path` ("\NAME\" or
// "\NAME" at the end); npos when there is none (or `name` is empty). A user name found inside
// some other component (a user "S" in "C:\USERS") would send the per-user rules into the
// wrong folder and past the user's own profile.
size_t FindPathComponent(const std::string& path, const std::string& name);

// Whether the key (or, with `isValue`, the value) a registry text names exists, in the view
// `view` selects (0 for the default view, or kKeyWow64_64Key). Value names write "\" as
// "---"; a text ending in "\" names the default value. A key that exists but refuses to be
// opened counts as present when `deniedKeyIsPresent`.
bool RegistryEntryExists(platform::IRegistry& reg, const char* text, bool isValue, uint32_t view,
                         bool deniedKeyIsPresent);

// A string value (REG_SZ or REG_EXPAND_SZ, expanded) in the 64-bit view; empty when missing.
std::string RegistryString(platform::Platform& os, platform::RegKey root, const char* keyPath, const char* name);

// The parts of "X:\A\B" after the drive: {"A", "B"} (a trailing "\" adds no part).
std::vector<std::string> PathComponents(const std::string& path);

// A part that Windows reads as some other name than it shows ("A." or "A " for "A", a
// stream of a folder such as "A::$INDEX_ALLOCATION"), or a pattern.
bool IsAmbiguousComponent(const std::string& part);

// `path` ("X:\...") with every part that holds a "~" and names something that exists
// replaced, from the drive down, by the long name the file system gives it, upper case:
// the 8.3 spelling of a folder ("C:\PROGRA~1") is another name of that same folder, which
// a table of folders must meet in its long form. Parts with a pattern or a stream are
// left as written.
std::string LongFormPath(platform::Platform& os, const std::string& path);

}  // namespace expand
