// The removal engine: its seventeen lists, the configuration it reads them from, and the
// removal steps of the run sequence. Each step returns a Windows error code, 0 for success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/tset.h"
#include "platform/platform.h"

namespace platform {
class KeyParents;
}  // namespace platform
namespace actions {
class FileStaging;
class RegistryBackup;
struct StageResult;
}  // namespace actions
namespace guard {
class HeldPath;
}  // namespace guard
namespace detect {
class CDetector;
}
namespace expand {
class ProtectedLocations;
}

namespace engine {

// Indices into the type and kind names of the configuration format (the entry grammar is
// "TYPE,KIND,data"); AddConfigEntry takes them.
enum ConfigType : uint32_t {
    kTypeRegValue = 0,
    kTypeRegKey = 1,
    kTypeRegValueExpand = 2,
    kTypeRegKeyExpand = 3,
    kTypeFileName = 4,
    kTypeFileNameExpand = 5,
    kTypeServiceName = 6,
    kTypeProcessName = 7,
    kTypeGuid = 8,
};
enum ConfigKind : uint32_t {
    kKindByReference = 0,
    kKindByValue = 1,
    kKindByDataMatch = 2,
};

// The longest configuration line, line end excluded; a longer line is a bad line.
constexpr size_t kMaxConfigLine = 359;

// What the removal steps did to single objects, for the run report. "Listed" is what a step
// worked through (the count its log record gives), "failed" what it could not remove.
struct RunCounts {
    uint32_t productsUninstalled = 0;  // related products of the upgrade codes that the uninstall took off
    uint32_t processesEnded = 0;
    uint32_t servicesDeleted = 0;
    uint32_t servicesFailed = 0;
    uint32_t filesListed = 0;
    uint32_t filesQueued = 0;
    uint32_t filesFailed = 0;
    uint32_t valuesListed = 0;
    uint32_t valuesDeleted = 0;
    uint32_t valuesFailed = 0;
    uint32_t keysListed = 0;
    uint32_t keysDeleted = 0;
    uint32_t keysFailed = 0;
};

// An object that a remove entry reached and the expansion kept, with the reason in words
// ("ignored", "holds an ignored object", "protected location", "a link", "unreadable",
// "only in the 32-bit view; <its WOW6432Node path> would reach it").
struct KeptObject {
    std::string object;
    std::string reason;
};

class CNuke {
  public:
    explicit CNuke(platform::Platform& os);
    CNuke(const CNuke&) = delete;
    CNuke& operator=(const CNuke&) = delete;
    virtual ~CNuke();

    // --- the run sequence's steps ---
    [[nodiscard]] uint32_t InitializeLists(uint32_t removeAllOption, uint32_t forceMsiOption);
    [[nodiscard]] uint32_t ExpandLists();
    [[nodiscard]] uint32_t MsiUninstall();
    [[nodiscard]] uint32_t StopNTProcesses();
    [[nodiscard]] uint32_t StopNTServices();
    [[nodiscard]] uint32_t ResetLspStack();
    [[nodiscard]] uint32_t CleanupFiles();
    [[nodiscard]] uint32_t CleanupRegValues();
    [[nodiscard]] uint32_t CleanupRegKeys();
    [[nodiscard]] uint32_t StartNTProcesses();

    void SetDetector(detect::CDetector* d) { detector = d; }
    // The machine the engine works on (the preview reads it).
    platform::Platform& Os() { return os_; }
    // The folders and keys this run never removes whole (expand/protected_locations.h).
    expand::ProtectedLocations& Protected();
    // An object a walk or pattern met under a name the ANSI code page cannot spell: never acted
    // on, and recorded and counted failed (in `failed`) once in the run however many walks and
    // entries meet it (expand/handlers_files.cpp). `what` is "File", "Registry key", ...;
    // `name` is the full name as Windows keeps it.
    void RefuseUnspellable(const char* tag, const char* what, const std::u16string& name,
                           uint32_t RunCounts::*failed = &RunCounts::filesFailed);

    // --- the configuration file (engine/config_file.cpp) ---
    // Finds <executable path without extension>.cfg and tests that it can be read:
    // 0, 2 when it cannot be read, 87 when the path has no place for an extension, or
    // the error of the module path query.
    [[nodiscard]] uint32_t InitConfigFile();
    // Reads every "<key>=" line of the first "[<section> 1]" section into `list`: 0, 1610
    // for a missing section or a bad line (errorText then holds that line), or the
    // failing handler's code.
    [[nodiscard]] uint32_t ReadConfigSection(TSet& list, const char* section, const char* key);
    // One entry, "TYPE,KIND,data" (data may hold commas): 0, 1610 or the handler's code.
    [[nodiscard]] uint32_t ParseConfigEntry(TSet& list, const char* text);
    // Normalises a copy of `data` and hands it to the handler of (type, kind); 1610 for a
    // pair without one.
    [[nodiscard]] uint32_t AddConfigEntry(TSet& list, uint32_t typeIndex, uint32_t kindIndex,
                                          const char* data);
    void SetErrorText(const char* text);

    // --- registry path helpers (expand/path_helpers.cpp) ---
    // Canonical name of HKCR, HKCU, HKLM or HKU into a 64-byte buffer; any other root
    // leaves the buffer as it was and logs a warning.
    void ParseRegKeyPrefix(platform::RegKey root, char* out);
    void ParseRegKeyPrefixCString(platform::RegKey root, std::string& out);

    // --- configuration entry handlers (expand/) ---
    // Each adds zero or more object texts to `list`; `data` is normalised and may be
    // modified. A non-zero result stops the section being read.
    [[nodiscard]] uint32_t ListRegValueData(TSet& list, char* data);
    [[nodiscard]] uint32_t ExpandRegValue(TSet& list, char* data);
    [[nodiscard]] uint32_t MatchRegValueData(TSet& list, char* data);
    [[nodiscard]] uint32_t ExpandRegKey(TSet& list, char* data);
    [[nodiscard]] uint32_t MatchRegKeyValueData(TSet& list, char* data);
    [[nodiscard]] uint32_t ExpandFileName(TSet& list, char* data);
    [[nodiscard]] uint32_t MatchFileDirectory(TSet& list, char* data);
    [[nodiscard]] uint32_t ExpandFileMacro(TSet& list, char* data);
    [[nodiscard]] uint32_t MatchFileMacroDirectory(TSet& list, char* data);
    [[nodiscard]] uint32_t ExpandServiceName(TSet& list, char* data);
    [[nodiscard]] uint32_t ExpandProcessName(TSet& list, char* data);
    // Helpers of the handlers (expand/).
    [[nodiscard]] uint32_t ExpandFilePattern(TSet& list, char* path);
    [[nodiscard]] uint32_t MatchDirectoryContents(TSet& list, char* data);
    [[nodiscard]] uint32_t EnumerateServices(platform::ScHandle manager, TSet& out);
    // The 64-bit program-files folder from the 64-bit registry view: 0, 87 for a null
    // buffer or zero size, 2 when it cannot be read.
    [[nodiscard]] uint32_t Get64ProgramFilesPath(char* out, uint32_t size);

    // --- list initialisation (engine/list_init.cpp) ---
    // Each initialiser reads one section key into its list and returns the reader's code;
    // what it adds beyond the configuration never changes that code.
    [[nodiscard]] uint32_t InitIgnoreServiceList();
    [[nodiscard]] uint32_t InitRemoveServiceList();
    [[nodiscard]] uint32_t InitStopProcessList();
    [[nodiscard]] uint32_t InitStartProcessList();
    [[nodiscard]] uint32_t InitIgnoreRegValueList();
    [[nodiscard]] uint32_t InitRemoveRegValueList();
    [[nodiscard]] uint32_t InitIgnoreRegKeyList();
    [[nodiscard]] uint32_t InitRemoveRegKeyList();
    [[nodiscard]] uint32_t InitIgnoreFileList();
    [[nodiscard]] uint32_t InitRemoveFileList();
    [[nodiscard]] uint32_t InitIgnoreMsiUpgradeCodeList();
    [[nodiscard]] uint32_t InitRemoveMsiUpgradeCodeList();
    // Sets startMenuMask from the detected product name, and writes or reads the
    // removal-retry marker as the name calls for.
    void InitISPCustomizationOverride();
    // Adds to `list` a copy of every entry holding "KELVARIS" with that text replaced by
    // `mask`; nothing when the mask is empty.
    void ApplyISPCustomization(TSet& list, const std::string& mask);
    // Installer-database gatherings; their codes never stop list initialisation.
    [[nodiscard]] uint32_t GatherS1518ComponentQtAssemblies();
    void ProductBasedMSIRemoval();

    // --- installer-database gathering (expand/installer_gathering.cpp) ---
    // Adds to `target` the key (exactName: a value named `match`; dataContains: a value
    // whose data holds `match`) or, with both flags clear, each value whose name holds
    // `match`. 0, the open or query error, or the first failing insert.
    uint32_t EnumerateRegKeyAndMatchValue(platform::RegKey root, const char* keyPath, const char* match,
                                          TSet& target, bool exactName, bool dataContains);
    // The same for every subkey of keyPath (exact-name mode, or data-contains with dataMode):
    // 0, the open or query error, or the last subkey's result.
    uint32_t EnumerateRegKeyEnumerateSubKeysAndMatchValue(platform::RegKey root, const char* keyPath,
                                                          const char* match, TSet& target, bool dataMode);
    uint32_t GatherCurrentVersionInstallerUpgradeCodeKeys(const char* packedProductCode);
    uint32_t GatherClassesInstallerUpgradeCodeKeys(const char* packedProductCode);
    uint32_t GatherS1518ComponentKeys(const char* packedProductCode);
    uint32_t GatherClassesInstallerFeaturesKey(const char* packedProductCode);
    uint32_t GatherClassesInstallerProductsKey(const char* packedProductCode);
    uint32_t GatherInstallerFolderValues();
    uint32_t GatherMUICaches();
    // A product registered for the local system account whose publisher, read, is not the
    // maker's: what a maker-name or shared-component match finds of it is never listed.
    bool IsOtherPublishersProduct(const char* packedProductCode);
    // Deletes the upgrade-code registrations of one braced upgrade code, then checks with
    // the installer that no related product is left.
    void RemoveUpgradeCodeDirectlyFromRegistry(const char* upgradeCode);
    // True when the installer knows no related product of the upgrade code any more.
    bool VerifyRelatedProductsRemoved(const char* upgradeCode);

    // --- installer uninstall (actions/msi_uninstall.cpp) ---
    // The built-in upgrade codes, each handed to the installer tool; results only logged.
    void HCMSIUninstall();
    // The installer tool's entry as the uninstall step calls it (command text, skip the
    // administrator check). Tests put a fake here; by default the tool in this process.
    std::function<uint32_t(const std::u16string&, bool)> msiTool;
    // Calls msiTool with the command for one upgrade code, and counts the related products
    // that it took off. Only an exception of the tool itself reaches the caller.
    uint32_t UninstallThroughTool(const char* code, const std::u16string& command);

    // --- the removal-retry marker (actions/retry_marker.cpp) ---
    void MarkRegistryForPossibleRemovalRetry();
    void ReadRegistryForRemovalRetry();

    // --- the working lists (expand/working_lists.cpp) ---
    [[nodiscard]] uint32_t PopulateRemoveServiceList();
    [[nodiscard]] uint32_t PopulateRemoveRegList();
    [[nodiscard]] uint32_t PopulateRemoveMsiUpgradeCodeList();
    [[nodiscard]] uint32_t PopulateRemoveFileList();
    // Removes from `list` every object that holds an entry of `ignore` (case ignored);
    // each removed text is also put into `excluded` when one is given. Returns 0.
    uint32_t ExcludeIgnoreList(TSet& list, TSet& ignore, TSet* excluded = nullptr);
    // Lists an existing key with its whole subtree (64-bit view) into regKeyList and its
    // values into regValueList: 0 or the Windows error that kept the key out.
    [[nodiscard]] uint32_t AddRegKeyTree(const char* keyText);
    // Lists an existing path with everything below it into fileList, without entering
    // links or protected folders; a directory is opened up only when it cannot be listed
    // otherwise: 0 or the error that kept it out.
    [[nodiscard]] uint32_t AddFileTree(const char* path);

    // --- file removal (actions/file_removal.cpp) ---
    // Queues one file or directory for deletion at the next restart, clearing its
    // read-only attribute first and opening up its access list once if Windows refuses:
    // true when it is queued.
    bool RemovePath(const char* path);
    // One try of RemovePath: staged when the object left its folder (or, an emptied directory,
    // was deleted) and goes at restart, else why not; `link` gets where a link was met.
    actions::StageResult StagePath(actions::FileStaging& staging, const char* path, std::string& link);
    // The last resort for an object in use, or one its volume has no staging for (`why`
    // the try that did not stage it): its own name queued, if that is safe.
    bool QueueInPlace(actions::FileStaging& staging, const char* path, const actions::StageResult& why);
    // A run that was ended before the end of its sequence may have taken the evidence that
    // listed an object; the lists it was working through are kept in the tool's folder until
    // the sequence has gone through, and the next run takes them up again.
    void TakeUpUnfinishedRun();
    void RecordUnfinishedRun();
    void ForgetUnfinishedRun();
    // The line a kept list carries that names what made it; another run's line differs.
    std::string ResumeBinding() const;
    // The staging folders runs made and have not seen through ("<path> <identity>"), and the
    // record of one more, written before anything is moved into it.
    std::vector<std::string> StagingFoldersMade();
    void RecordStagingFolder(const std::string& made);
    // Replaces the access list of a file or directory, through a handle that does not
    // follow links, by one that gives Administrators and SYSTEM full control, inherited
    // below it: 1 when it was set, else 0 (also for a link). A caller going through many
    // objects of one tree passes `held`, so that the folders they share are opened once.
    uint32_t DropFileAcl(const char* path, guard::HeldPath* held = nullptr);

    // --- registry removal (actions/registry_removal.cpp) ---
    // Deletes one value in the default view, then in the 64-bit view when it was not
    // found there under WOW64: true when it was deleted.
    bool DeleteRegistryValue(platform::RegKey root, const char* keyPath, const char* valueName,
                             const char* displayText);
    // Deletes a key with its subtree ("HKEY_LOCAL_MACHINE\SOFTWARE\X"), in the default
    // view, then (only its own key) in the 64-bit view when it was not found under WOW64:
    // true when it was deleted, or already missing on 32-bit Windows.
    bool DeleteRegistryKey(const char* entry);
    [[nodiscard]] uint32_t DeleteRegistryKey64bit(const char* entry);
    // Saves the step's entries [begin, begin + a batch) to the backup ahead of their
    // deletions, in the view each deletion will find them in, and flushes once for them all.
    void SaveAhead(const std::vector<const char*>& entries, size_t begin, bool keys);
    [[nodiscard]] uint32_t DeleteRegistryValue64bit(platform::RegKey root, const char* keyPath,
                                                    const char* valueName);
    // The 32-bit process runs on 64-bit Windows.
    bool IsWow64();
    // Runs the 64-bit provider remover hidden and waits up to a minute for it: 0 when it
    // could not be started, else 1 (the caller ignores it).
    uint32_t RemoveKVLsp64();

    // --- shared removal records (actions/removal_log.cpp) ---
    // One warning worded by the error code: "<operation> '<object>' reported ...".
    void LogErrorCode(uint32_t error, const char* operation, const char* object);
    // The whole list between two marker records, in the set's order.
    void LogListContent(TSet& list);

    // --- the seventeen lists, in this order ---
    TSet msiUpgradeCodeList;
    TSet removeMsiUpgradeCodeList;
    TSet ignoreMsiUpgradeCodeList;
    TSet fileList;
    TSet regValueList;
    TSet regKeyList;
    TSet serviceList;
    TSet removeFileList;
    TSet ignoreFileList;
    TSet removeRegKeyList;
    TSet ignoreRegKeyList;
    TSet removeRegValueList;
    TSet ignoreRegValueList;
    TSet startProcessList;
    TSet stopProcessList;
    TSet removeServiceList;
    TSet ignoreServiceList;

    // --- further members ---
    std::string errorText = "<error not initialized>";
    std::string configPath;  // empty until InitConfigFile has found it
    // The configuration's bytes as the lists were read from them: what a kept list is bound to.
    std::string configBytes;
    uint32_t removeAll = 0;
    std::string startMenuMask;
    uint32_t retryMarked = 0;
    uint32_t retryKeyFound = 0;
    uint32_t forceMsi = 1;
    detect::CDetector* detector = nullptr;

    // --- what the run did, and how it may act ---
    RunCounts counts;
    // A preview decides everything a run would and changes nothing on the machine: no access
    // list is rewritten (what cannot be read is kept as "unreadable"), no marker is written,
    // and the log is not opened.
    bool previewOnly = false;
    // What the expansion kept although a remove entry reached it, in the order it was met.
    std::vector<KeptObject> kept;
    // Where the registry deletions are saved before they happen; created at the first one.
    // The registry step makes it and knows its type; the engine only keeps it for the run
    // (shared, so that its deleter comes from where it was made).
    std::shared_ptr<actions::RegistryBackup> registryBackup;

  protected:
    platform::Platform& os_;

  private:
    std::unique_ptr<expand::ProtectedLocations> protected_;
    std::set<std::string> unspellable_;           // RefuseUnspellable's names met so far, upper case
    actions::FileStaging* staging_ = nullptr;     // the file step's, while it runs
    std::string machineOnlyDacl_;                 // DropFileAcl's list, built at its first use
    int wow64_ = -1;                              // IsWow64's answer, unknown until first asked
    platform::KeyParents* keyParents_ = nullptr;  // the registry steps', while they run
};

// The Security Center step of the run sequence (it gives no code and cannot stop it).
void RemoveSecurityCenterEntries(platform::Platform& os);

}  // namespace engine
