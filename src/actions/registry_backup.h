// Saves registry values and keys, with everything below them, to a file in the registry
// editor's format before the run deletes them, so that an administrator can put them back
// with "reg import <file> /reg:64".
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"

namespace guard {
class ToolFolder;
}  // namespace guard

namespace actions {

// The file is made below "<common application data>\Kelvaris" in this folder, which only
// Administrators and SYSTEM may read or write: the product's keys may hold licence data.
constexpr char kBackupFolderName[] = "Backup";
constexpr char kBackupSddl[] = "D:P(A;OICI;GA;;;BA)(A;OICI;GA;;;SY)";
constexpr char kBackupFileHeader[] = "Windows Registry Editor Version 5.00";

// One value as the registry keeps it, read with the UTF-16 calls so that no character
// is lost to the ANSI code page: string data in UTF-16, with its terminator when it was
// stored with one.
struct SavedValue {
    std::u16string name;  // empty for the default value
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// One key's own values; `name` is the key's full name as the file writes it
// ("HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\X").
struct SavedKey {
    std::u16string name;
    std::vector<SavedValue> values;
};

// The full name under which an import in the 64-bit view reaches the key that `keyPath`
// names below `root`. `redirected`: the key was named in the 32-bit view of 64-bit Windows,
// where SOFTWARE of the machine and the classes keys of COM are kept apart. Empty for a root
// the file format has no name for.
std::string RealKeyName(platform::RegKey root, const std::string& keyPath, bool redirected);

// The sections of `keys`, each its header, its values and a blank line, with CR LF line
// ends. A key or value whose name holds a line break cannot be written in the format: it is
// left out and its full name, in the ANSI code page, added to `left` (when given).
std::u16string FormatSections(const std::vector<SavedKey>& keys, std::vector<std::string>* left = nullptr);

class RegistryBackup {
  public:
    explicit RegistryBackup(platform::Platform& os);
    RegistryBackup(const RegistryBackup&) = delete;
    RegistryBackup& operator=(const RegistryBackup&) = delete;
    virtual ~RegistryBackup();

    // Saves the key `keyPath` below `root` with every value and subkey below it, as the
    // view reads it (`view64`: KEY_WOW64_64KEY, else the process's default view). Result:
    // 0 when saved; 2 when the key is missing, which needs no saving and is not logged; 5
    // (nothing logged) when an access list refuses the reading and `mayRetry`, for a caller
    // that opens the list up and saves again: nothing is written when the key itself
    // refused, what could be read when a key below it did; any other failure
    // is logged once at level 2 and returned; 681 (nothing written, nothing logged) when the
    // key is a registry link, which is never read through, nor is one below it. Never
    // changes the registry.
    uint32_t SaveKey(platform::RegKey root, const std::string& keyPath, bool view64, bool mayRetry = false);
    // The same for one value of that key ("" is the default value), written under its key's header.
    uint32_t SaveValue(platform::RegKey root, const std::string& keyPath, const std::string& name,
                       bool view64, bool mayRetry = false);
    // SaveKey and SaveValue for a caller that holds the key open as itself already (with
    // KEY_READ, for the deletion that follows): read through that handle, the key not opened
    // again. `keyPath` names the key in the file.
    uint32_t SaveOpenKey(platform::RegKey key, platform::RegKey root, const std::string& keyPath, bool view64,
                         bool mayRetry = false);
    uint32_t SaveOpenValue(platform::RegKey key, platform::RegKey root, const std::string& keyPath,
                           const std::string& name, bool view64, bool mayRetry = false);
    // One level-2 record for a save that a caller gave up on (`valueName` null for a whole
    // key): what a deletion took is not in the file.
    void ReportUnsaved(uint32_t error, platform::RegKey root, const std::string& keyPath,
                       const char* valueName, bool view64);

    // Saves one object ahead of a batch of deletions, through `key` (open as itself with
    // KEY_READ): written now without a flush, and found saved by the Save* call of its own
    // deletion, which then writes nothing. A key is saved ahead only while it has no
    // subkeys, since its deletion takes it alone. 0 when saved ahead; else the reading's code
    // (2: not in this view), nothing logged: the deletion's own save tries again and reports.
    uint32_t SaveAhead(platform::RegKey key, platform::RegKey root, const std::string& keyPath,
                       const char* valueName, bool view64);
    // Puts what was saved ahead on the disk, before any of its deletions. A failed flush
    // breaks the backup (see Broken), and nothing more is deleted.
    uint32_t Flush();

    // The file the run's deletions are saved to (empty until the first save made it).
    const std::string& path() const { return path_; }
    // The file could not be made or written: nothing more goes into it, and nothing whose
    // backup it should hold may be deleted.
    bool Broken() const { return broken_; }

  private:
    // The folder and the file, made at the first save: 0 or the Windows error (logged once).
    uint32_t EnsureFile();
    uint32_t CreateFile(guard::ToolFolder& folder);
    uint32_t Append(const std::u16string& text);
    uint32_t Write(const std::vector<SavedKey>& keys, const std::string& object);
    bool Redirected();
    // The object was saved ahead: forgotten now, since its deletion follows.
    bool TakeAhead(platform::RegKey root, const std::string& keyPath, const char* valueName, bool view64);
    static std::string AheadName(platform::RegKey root, const std::string& keyPath, const char* valueName,
                                 bool view64);
    void Broke(uint32_t error, const std::string& object);
    void Report(uint32_t error, const std::string& object);
    // The file's name of the key, each part as the registry spells it (SpelledAsStored).
    std::string FileName(platform::RegKey root, const std::string& keyPath, bool view64);
    std::string SpelledAsStored(platform::RegKey root, const std::string& path, uint32_t view);
    uint32_t SaveRead(uint32_t rc, const std::vector<SavedKey>& keys, const std::string& name, bool mayRetry);

    // The subkeys of one key as the registry spells them, by their upper-case names; read once
    // per key a run saves below, not once per saved key. `readable`: the key could be opened
    // as itself (no link on the way to it).
    struct Spellings {
        bool readable = false;
        std::unordered_map<std::string, std::string> names;
    };
    const Spellings& SpellingsBelow(platform::RegKey root, const std::string& spelled, uint32_t view);
    std::map<std::string, Spellings> spellings_;

    platform::Platform& os_;
    std::string path_;
    platform::UniqueFile file_;
    bool broken_ = false;     // the folder or file could not be made or written: no more tries
    bool ahead_ = false;      // saving ahead: nothing flushed, nothing reported
    bool unflushed_ = false;  // written ahead and not yet flushed
    std::unordered_set<std::string> savedAhead_;
    int wow64_ = -1;  // unknown until first asked
};

}  // namespace actions
