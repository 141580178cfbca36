// The folder macros of FILE_NAME_EXPAND entries, in the order in which they are looked
// for: the first macro of this table that occurs anywhere in an entry is the entry's macro.
#pragma once

#include <cstddef>

namespace expand {

enum class MacroFolder {
    kShell,           // SHGetSpecialFolderPathA of `csidl`
    kSystem,          // CSIDL_SYSTEM for BY_VALUE entries, GetSystemDirectoryA for BY_DATA_MATCH
    kWindows,         // GetWindowsDirectoryA
    kProgramFiles64,  // CNuke::Get64ProgramFilesPath
    kGoogleGadgets,   // get_google_plugin_dir, BY_VALUE entries only
};

struct FolderMacro {
    const char* name;
    MacroFolder folder;
    int csidl;  // for kShell (and kSystem's BY_VALUE form)
};

extern const FolderMacro kFolderMacros[];
extern const size_t kFolderMacroCount;

// The first macro of the table that occurs anywhere in `text` (upper case, as normalised
// entries are); null when none does.
const FolderMacro* FindFolderMacro(const char* text);

}  // namespace expand

#include <string>

#include "platform/platform.h"

namespace expand {

// The desktop-search plug-in folder of the current user ("plugin_dir" under
// HKCU\SOFTWARE\Google\Google Desktop, 64-bit view); `out` stays empty when it cannot be read.
void get_google_plugin_dir(platform::Platform& os, std::string& out);

// The folder of `macro` on this machine as the entry handlers resolve it (for BY_VALUE or
// BY_DATA_MATCH entries), creating nothing and logging no failure: false, with `folder`
// empty, when the macro names no folder here.
bool ResolveFolderMacroQuietly(platform::Platform& os, const FolderMacro& macro, bool byValue,
                               std::string& folder);

}  // namespace expand
